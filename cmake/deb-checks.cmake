# Run by cpack: a .deb built without dpkg-shlibdeps would lack libexiv2 in Depends.
if(CPACK_GENERATOR STREQUAL "DEB")
    find_program(PHOTOMAP_SHLIBDEPS dpkg-shlibdeps)
    if(NOT PHOTOMAP_SHLIBDEPS)
        message(FATAL_ERROR "dpkg-shlibdeps is missing (install dpkg-dev): "
                            "the package's Depends would lack the libraries photomap needs")
    endif()
endif()

# The packages' control fields, from data/debian/control: read here, when
# cpack runs, and handed to CPack as they are written there. Set in
# CMakeLists.txt, a text with quotes would pass through CPackConfig.cmake,
# which writes it back unescaped, and come out of it cut up as a list.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
    return()
endif()
file(READ "${CPACK_PHOTOMAP_CONTROL}" control)
if(control MATCHES ";")
    message(FATAL_ERROR "${CPACK_PHOTOMAP_CONTROL}: a semicolon would split its text as a CMake list")
endif()
set(PROJECT_VERSION "${CPACK_PACKAGE_VERSION}")
string(CONFIGURE "${control}" control @ONLY)
string(REGEX REPLACE "\n\n+" ";" stanzas "${control}")
# Each Description holds its own synopsis; CPack would put the project's
# summary in front of every one.
unset(CPACK_PACKAGE_DESCRIPTION_SUMMARY)
# CPack's name for each control field; Architecture "any" is the build's.
set(photomap_deb_fields
    "Package=PACKAGE_NAME" "Architecture=PACKAGE_ARCHITECTURE" "Section=PACKAGE_SECTION"
    "Priority=PACKAGE_PRIORITY" "Depends=PACKAGE_DEPENDS" "Recommends=PACKAGE_RECOMMENDS"
    "Suggests=PACKAGE_SUGGESTS" "Enhances=PACKAGE_ENHANCES" "Description=DESCRIPTION")
foreach(stanza IN LISTS stanzas)
    string(REGEX MATCH "^Package: (photomap-)?([^\n]*)" _ "${stanza}")
    string(TOUPPER "${CMAKE_MATCH_2}" component)
    # Each field with its continuation lines (which begin with a space).
    string(REGEX MATCHALL "(^|\n)[A-Za-z-]+: [^\n]*(\n [^\n]*)*" fields "${stanza}")
    foreach(field IN LISTS fields)
        string(REGEX MATCH "^\n?([A-Za-z-]+): (.*)$" _ "${field}")
        set(name "${CMAKE_MATCH_1}")
        set(value "${CMAKE_MATCH_2}")
        set(known ${photomap_deb_fields})
        list(FILTER known INCLUDE REGEX "^${name}=")
        if(NOT known)
            message(FATAL_ERROR "${CPACK_PHOTOMAP_CONTROL}: no CPack variable for the field ${name}")
        endif()
        string(REGEX REPLACE "^[^=]*=" "" variable "${known}")
        if(name STREQUAL "Description")
            # CPack indents the lines after the synopsis and marks empty
            # ones with " .": it is given them as plain text.
            string(REGEX REPLACE "\n \\.(\n|$)" "\n\\1" value "${value}")
            string(REPLACE "\n " "\n" value "${value}")
        endif()
        if(NOT (name STREQUAL "Architecture" AND value STREQUAL "any"))
            set(CPACK_DEBIAN_${component}_${variable} "${value}")
        endif()
    endforeach()
    set(CPACK_DEBIAN_${component}_FILE_NAME DEB-DEFAULT)
endforeach()
