# Run by cpack: a .deb built without dpkg-shlibdeps would lack libexiv2 in Depends.
if(CPACK_GENERATOR STREQUAL "DEB")
    find_program(PHOTOMAP_SHLIBDEPS dpkg-shlibdeps)
    if(NOT PHOTOMAP_SHLIBDEPS)
        message(FATAL_ERROR "dpkg-shlibdeps is missing (install dpkg-dev): "
                            "the package's Depends would lack the libraries photomap needs")
    endif()
endif()
