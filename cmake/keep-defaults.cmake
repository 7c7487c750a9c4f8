# Run by cmake --install. photomap's desktop entry names no type, so it takes
# part in no default and nothing needs pinning. An earlier photomap, whose
# entry named JPEG, PNG, TIFF and WebP, wrote a mimeapps.list beside it under
# a prefix searched before the system's; that list froze the defaults of the
# day of install, outranked the desktops' own lists (gnome-mimeapps.list) and
# kept any viewer installed later from becoming a default. It is taken away;
# a mimeapps.list that is not photomap's is left alone.
get_filename_component(own_share "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/share" ABSOLUTE)
set(list_file "${own_share}/applications/mimeapps.list")
if(EXISTS "${list_file}")
    file(STRINGS "${list_file}" first LIMIT_COUNT 1)
    if(first STREQUAL "# Written by photomap's cmake --install")
        message(STATUS "Removing the defaults an earlier photomap pinned: ${list_file}")
        file(REMOVE "${list_file}")
    endif()
endif()
