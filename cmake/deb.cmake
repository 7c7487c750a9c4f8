# The Debian package: lintian-clean, with the documentation Debian policy
# asks for. Included from CMakeLists.txt on Linux, before CPack.
set(PHOTOMAP_MAINTAINER "photomap maintainers <maintainers@photomap.dev>")
set(CPACK_PACKAGE_CONTACT "${PHOTOMAP_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${PHOTOMAP_MAINTAINER}")
# Three packages, as Debian packs file manager extensions: photomap with the
# program and the entries that Dolphin, Nemo and Thunar read without a
# library; photomap-nautilus and photomap-caja with the Python extensions,
# depending on their loaders, so that only a GNOME or MATE user's install
# brings in GNOME's or MATE's libraries. Their control fields are written in
# data/debian/control; cmake/deb-checks.cmake hands them to CPack.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_PHOTOMAP_CONTROL ${PROJECT_SOURCE_DIR}/data/debian/control)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CPACK_PHOTOMAP_CONTROL})
file(STRINGS ${CPACK_PHOTOMAP_CONTROL} photomap_packages REGEX "^Package: ")
list(TRANSFORM photomap_packages REPLACE "^Package: (photomap-)?" "")
set(CPACK_COMPONENTS_ALL ${photomap_packages})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
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
install(FILES ${photomap_doc}/photomap.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT photomap)
# Every package carries its own copyright and changelog.
foreach(component IN LISTS CPACK_COMPONENTS_ALL)
    set(package photomap-${component})
    if(component STREQUAL "photomap")
        set(package photomap)
    endif()
    install(FILES ${photomap_doc}/changelog.gz data/debian/copyright
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()
