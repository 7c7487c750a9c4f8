# "Show on map" in the right-click menus of the Linux file managers, each
# through its own mechanism for actions: menu items that make photomap the
# handler of no type, so that installing it never changes a default.
# Included from CMakeLists.txt on Linux.

# The types of every format photomap reads, as shared-mime-info names them
# (file managers go by these, from the name and the content). JPEG 2000 as
# its JP2 and JPX boxes; SRW and JPEG XR have a type only in newer
# shared-mime-info (JPEG XR from 2.3, Debian 13), BPG in none.
set(PHOTOMAP_PICTURE_TYPES
    image/jpeg image/png image/tiff image/webp image/gif
    image/heif image/heic image/avif image/jp2 image/jpx image/jxl image/jxr
    image/x-canon-cr2 image/x-canon-cr3 image/x-canon-crw image/x-nikon-nef
    image/x-nikon-nrw image/x-sony-arw image/x-sony-sr2 image/x-olympus-orf
    image/x-panasonic-rw2 image/x-fuji-raf image/x-pentax-pef
    image/x-samsung-srw image/x-minolta-mrw image/x-adobe-dng)
list(JOIN PHOTOMAP_PICTURE_TYPES ";" PHOTOMAP_PICTURE_TYPES)

set(templates ${PROJECT_SOURCE_DIR}/data/file-managers)
set(made ${PROJECT_BINARY_DIR}/file-managers)
# One extension for the two file managers whose Python loaders share an API.
# Each in a package of its own (cmake/deb.cmake), which brings in its loader.
foreach(manager "Nautilus;4.0;GNOME Files (Nautilus);nautilus-python;nautilus"
                "Caja;2.0;Caja;caja-python;caja")
    list(GET manager 0 NAMESPACE)
    list(GET manager 1 NAMESPACE_VERSION)
    list(GET manager 2 FILE_MANAGER)
    list(GET manager 3 LOADER)
    list(GET manager 4 component)
    configure_file(${templates}/photomap-menu.py.in ${made}/${LOADER}/photomap.py @ONLY)
    install(FILES ${made}/${LOADER}/photomap.py
            DESTINATION ${CMAKE_INSTALL_DATADIR}/${LOADER}/extensions COMPONENT ${component})
endforeach()
configure_file(${templates}/photomap.nemo_action.in ${made}/photomap.nemo_action @ONLY)
configure_file(${templates}/photomap-servicemenu.desktop.in ${made}/kio/photomap.desktop @ONLY)
configure_file(${templates}/photomap-sendto.desktop.in ${made}/Thunar/photomap.desktop @ONLY)
install(FILES ${made}/photomap.nemo_action DESTINATION ${CMAKE_INSTALL_DATADIR}/nemo/actions)
install(FILES ${made}/kio/photomap.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/kio/servicemenus)
install(FILES ${made}/Thunar/photomap.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/Thunar/sendto)
