# Run by cmake --install. A desktop entry in a data directory that is searched
# before the system's (/usr/local/share before /usr/share) would become the
# default application for every type it names, since GLib and xdg-mime take
# the first directory's entries first. Where that is so, this pins the
# applications that the later directories already offer for photomap's types
# as the defaults, in photomap's own mimeapps.list beside its entry, so that
# installing photomap keeps them. A staged install (DESTDIR: the .deb) and an
# install into /usr put the entry beside the system's applications: nothing
# to pin there.
if(NOT "$ENV{DESTDIR}" STREQUAL "")
    return()
endif()
get_filename_component(own_share "${CMAKE_INSTALL_PREFIX}/share" ABSOLUTE)
set(data_dirs "$ENV{XDG_DATA_DIRS}")
if(data_dirs STREQUAL "")
    set(data_dirs "/usr/local/share:/usr/share")
endif()
string(REPLACE ":" ";" data_dirs "${data_dirs}")

# The directories searched after ours; none when ours is not searched at all
# or comes last.
set(later_dirs "")
set(seen_own FALSE)
foreach(dir IN LISTS data_dirs)
    get_filename_component(dir "${dir}" ABSOLUTE)
    if(dir STREQUAL own_share)
        set(seen_own TRUE)
    elseif(seen_own)
        list(APPEND later_dirs "${dir}")
    endif()
endforeach()

set(applications "${own_share}/applications")
file(STRINGS "${applications}/photomap.desktop" mime_line REGEX "^MimeType=")
# file(STRINGS) keeps a line's semicolons escaped; as a list they separate.
string(REGEX REPLACE "^MimeType=" "" types "${mime_line}")
string(REPLACE "\\;" ";" types "${types}")
set(pins "")
foreach(type IN LISTS types)
    if(type STREQUAL "")
        continue()
    endif()
    set(offered "")
    foreach(dir IN LISTS later_dirs)
        if(EXISTS "${dir}/applications/mimeinfo.cache")
            file(STRINGS "${dir}/applications/mimeinfo.cache" line REGEX "^${type}=")
            string(REGEX REPLACE "^[^=]*=" "" line "${line}")
            string(REPLACE "\\;" ";" line "${line}")
            list(APPEND offered ${line})
        endif()
    endforeach()
    list(REMOVE_ITEM offered "photomap.desktop" "")
    list(REMOVE_DUPLICATES offered)
    if(offered)
        list(JOIN offered ";" offered)
        string(APPEND pins "${type}=${offered};\n")
    endif()
endforeach()

set(list_file "${applications}/mimeapps.list")
set(marker "# Written by photomap's cmake --install")
set(ours TRUE)
if(EXISTS "${list_file}")
    file(STRINGS "${list_file}" first LIMIT_COUNT 1)
    if(NOT first STREQUAL marker)
        set(ours FALSE)
    endif()
endif()
if(pins STREQUAL "")
    if(ours)
        file(REMOVE "${list_file}")
    endif()
elseif(NOT ours)
    message(WARNING "${list_file} is not photomap's; left as it is. "
                    "photomap may now be the default for: ${types}")
else()
    message(STATUS "Keeping the defaults of ${later_dirs}: ${list_file}")
    file(WRITE "${list_file}" "${marker}\n[Default Applications]\n${pins}")
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${list_file}")
endif()
