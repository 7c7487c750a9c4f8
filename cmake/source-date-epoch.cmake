# Run first by the install script (see cmake/reproducible.cmake), and so by
# cpack before it stages a package: sets SOURCE_DATE_EPOCH, unless the
# builder gave one (as Debian's tools do), to the time of the commit in
# PHOTOMAP_SOURCE_DIR. The tools started from here on read it from the
# environment: strip dates the PE header with it, CPack's .deb writer its
# members, cmake/package-prepare.cmake the staged files, cmake/msi.cmake the
# installer.
if("$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
    execute_process(COMMAND git -C "${PHOTOMAP_SOURCE_DIR}" log -1 --format=%ct
                    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE failed ERROR_QUIET)
    if(failed OR NOT epoch MATCHES "^[0-9]+$")
        message(STATUS "Not reproducible: no SOURCE_DATE_EPOCH given and no git commit "
                       "in ${PHOTOMAP_SOURCE_DIR} to take it from")
        return()
    endif()
    set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
endif()
# Archive formats that keep local time (zip, cabinet) keep the same one
# whatever the builder's time zone.
set(ENV{TZ} UTC0)
