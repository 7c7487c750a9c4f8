# The Debian package: lintian-clean, with the documentation Debian policy
# asks for. Included from CMakeLists.txt on Linux, before CPack.
set(PHOTOMAP_MAINTAINER "photomap maintainers <maintainers@photomap.dev>")
set(CPACK_PACKAGE_CONTACT "${PHOTOMAP_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${PHOTOMAP_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION "photomap reads the GPS position that a camera or phone stored in a
photograph (EXIF, or else XMP, of JPEG, TIFF, PNG, WebP, HEIF, AVIF, JPEG 2000
and camera raw files) and opens the web browser at that place on a map.
Right-click a picture in GNOME Files, Dolphin, Nemo, Thunar or Caja for
\"Show on map\"; installing it changes no default application.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS xdg-utils)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS zenity)
# The file managers' menu items (cmake/file-managers.cmake): GNOME Files' and
# Caja's load through their Python extension packages.
set(CPACK_DEBIAN_PACKAGE_ENHANCES "nautilus, dolphin, nemo, thunar, caja")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-nautilus, python3-caja")
# Without dpkg-shlibdeps CPack would quietly leave libexiv2 out of Depends.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/deb-checks.cmake)

# Debian wants the man page and changelog compressed with gzip -9n.
set(photomap_doc ${CMAKE_BINARY_DIR}/debian-doc)
file(MAKE_DIRECTORY ${photomap_doc})
foreach(pair "data/photomap.1;photomap.1.gz" "data/debian/changelog;changelog.gz")
    list(GET pair 0 source)
    list(GET pair 1 target)
    execute_process(COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/${source}
                    OUTPUT_FILE ${photomap_doc}/${target} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/data/photomap.1 ${PROJECT_SOURCE_DIR}/data/debian/changelog)
install(FILES ${photomap_doc}/photomap.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${photomap_doc}/changelog.gz data/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
