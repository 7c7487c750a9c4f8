# Run by cpack (CPACK_PRE_BUILD_SCRIPTS, see cmake/reproducible.cmake) once a
# package's files are staged, before the package is made of them: signs the
# Windows executable when a key is given (cmake/sign.cmake), then dates every
# staged file and folder from the commit, so that the .deb, the zip and the
# MSI hold the same bytes whoever builds them, wherever and whenever.
include(${CMAKE_CURRENT_LIST_DIR}/sign.cmake)

if(CPACK_GENERATOR STREQUAL "External")
    set(staged "${CPACK_TEMPORARY_DIRECTORY}")
else()
    set(staged "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
endif()

if(EXISTS "${staged}/photomap.exe")
    photomap_signing_wanted(sign)
    if(sign)
        photomap_sign("${staged}/photomap.exe" photomap)
    elseif(CPACK_GENERATOR STREQUAL "External")
        message(STATUS "Not signed: photomap.exe and the MSI (no PHOTOMAP_SIGN_CERT and PHOTOMAP_SIGN_KEY given)")
    else()
        message(STATUS "Not signed: photomap.exe (no PHOTOMAP_SIGN_CERT and PHOTOMAP_SIGN_KEY given)")
    endif()
endif()

# cmake/source-date-epoch.cmake set the time when the install step began.
if("$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
    return()
endif()
file(GLOB_RECURSE entries LIST_DIRECTORIES true "${staged}/*")
execute_process(COMMAND touch -h -d "@$ENV{SOURCE_DATE_EPOCH}" "${staged}" ${entries}
                COMMAND_ERROR_IS_FATAL ANY)
