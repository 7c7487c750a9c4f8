# photomap's Windows installer: photomap-VERSION-x86.msi, built with wixl
# (Debian's msitools) from packaging/photomap.wxs.
#
# Included by CMakeLists.txt for the Windows build, it adds the package
# preset's External generator (this file again, as cpack's project config
# file and package script) and the wixl the Wine tests use. Run as a script, it builds one MSI:
#   cmake -DPHOTOMAP_EXE=... -DPHOTOMAP_MSI_VERSION=1.0.1 \
#         -DPHOTOMAP_MSI=.../photomap-1.0.1-x86.msi -P cmake/msi.cmake

# Where Explorer looks for the "Show on map" verb (HKLM\Software\Classes\
# SystemFileAssociations\NAME\shell\photomap). "image" covers every extension
# whose PerceivedType is image: JPEG, TIFF and PNG on every Windows since XP,
# HEIF and raw files where a codec pack says so. The extensions below get
# their own key because on a stock Windows they are not "image".
set(PHOTOMAP_VERB_ASSOCIATIONS image
    .heic .heif
    .arw .cr2 .cr3 .crw .dng .mrw .nef .nrw .orf .pef .raf .rw2 .sr2 .srw)

# Same upgrade code for every version; the product code follows from the
# version, so rebuilding a version gives the same package.
set(PHOTOMAP_UPGRADE_CODE 2235cc88-f83f-4069-9208-7f9ca665ddda)

# Writes the verb's registry values for every association into WXI.
function(photomap_write_verb_keys wxi)
    set(command "&quot;[INSTALLDIR]photomap.exe&quot; &quot;%1&quot;")
    set(text "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Include>\n")
    foreach(association IN LISTS PHOTOMAP_VERB_ASSOCIATIONS)
        set(key "Software\\Classes\\SystemFileAssociations\\${association}\\shell\\photomap")
        set(key_path "")
        if(association STREQUAL "image")
            set(key_path " KeyPath=\"yes\"")
        endif()
        string(APPEND text
            "<RegistryValue Root=\"HKLM\" Key=\"${key}\" Type=\"string\" Value=\"Show on map\"${key_path}/>\n"
            "<RegistryValue Root=\"HKLM\" Key=\"${key}\" Name=\"MultiSelectModel\" Type=\"string\" Value=\"Single\"/>\n"
            "<RegistryValue Root=\"HKLM\" Key=\"${key}\\command\" Type=\"string\" Value=\"${command}\"/>\n")
    endforeach()
    string(APPEND text "</Include>\n")
    file(WRITE "${wxi}" "${text}")
endfunction()

# Builds the MSI for VERSION at MSI from EXE, in a scratch folder beside it.
function(photomap_build_msi exe version msi)
    find_program(WIXL wixl REQUIRED)
    get_filename_component(exe "${exe}" ABSOLUTE)
    get_filename_component(msi "${msi}" ABSOLUTE)
    get_filename_component(out_dir "${msi}" DIRECTORY)
    set(work "${out_dir}/msi-${version}.work")
    file(REMOVE_RECURSE "${work}")
    file(MAKE_DIRECTORY "${work}")
    file(COPY_FILE "${exe}" "${work}/photomap.exe")
    photomap_write_verb_keys("${work}/verb-keys.wxi")
    string(UUID product_code NAMESPACE ${PHOTOMAP_UPGRADE_CODE} NAME "photomap ${version}" TYPE SHA1)
    # The package code names these very bytes: another executable (a signed
    # one, another build) is another package, a rebuild is the same one.
    file(SHA256 "${exe}" exe_hash)
    string(UUID package_code NAMESPACE ${PHOTOMAP_UPGRADE_CODE}
           NAME "photomap ${version} ${exe_hash}" TYPE SHA1)
    set(dated "")
    if(NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
        # The cabinet keeps each file's time (in TZ's local time); the
        # summary wixl's own time and a random package code, which
        # scripts/msi-summary.py replaces.
        execute_process(COMMAND touch -d "@$ENV{SOURCE_DATE_EPOCH}" "${work}/photomap.exe"
                                "${work}/verb-keys.wxi" COMMAND_ERROR_IS_FATAL ANY)
        set(dated TZ=UTC0)
        find_program(PYTHON3 python3 REQUIRED)
    endif()
    execute_process(
        COMMAND "${CMAKE_COMMAND}" -E env ${dated}
                "${WIXL}" --arch x86 -D Version=${version} -D ProductCode=${product_code}
                -D ExeSource=photomap.exe -o "${msi}" "${CMAKE_CURRENT_LIST_DIR}/../packaging/photomap.wxs"
        WORKING_DIRECTORY "${work}" RESULT_VARIABLE failed)
    file(REMOVE_RECURSE "${work}")
    if(failed)
        message(FATAL_ERROR "wixl could not build ${msi}")
    endif()
    if(dated)
        execute_process(COMMAND "${PYTHON3}" "${CMAKE_CURRENT_LIST_DIR}/../scripts/msi-summary.py"
                                "${msi}" "$ENV{SOURCE_DATE_EPOCH}" "{${package_code}}"
                        COMMAND_ERROR_IS_FATAL ANY)
    endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
    photomap_build_msi("${PHOTOMAP_EXE}" "${PHOTOMAP_MSI_VERSION}" "${PHOTOMAP_MSI}")
elseif(CPACK_GENERATOR STREQUAL "External" AND NOT CPACK_TEMPORARY_DIRECTORY)
    # cpack's project config file, read before it packs: the External
    # generator writes, for other tools, a JSON file that names this
    # machine's build folder, and copies it to where the packages go. It is
    # written into the build folder instead; the MSI goes where the
    # packages go, put there by the package script below.
    set(CPACK_PHOTOMAP_PACKAGES "${CPACK_PACKAGE_DIRECTORY}")
    set(CPACK_PACKAGE_DIRECTORY "${CPACK_PHOTOMAP_BINARY_DIR}/external")
elseif(CPACK_GENERATOR STREQUAL "External")
    # CPack's package script: the staged photomap.exe, as the zip holds it.
    set(msi "${CPACK_PHOTOMAP_PACKAGES}/photomap-${CPACK_PACKAGE_VERSION}-x86.msi")
    photomap_build_msi("${CPACK_TEMPORARY_DIRECTORY}/photomap.exe" "${CPACK_PACKAGE_VERSION}" "${msi}")
    # Signed like the photomap.exe inside it (cmake/package-prepare.cmake).
    include(${CMAKE_CURRENT_LIST_DIR}/sign.cmake)
    photomap_signing_wanted(sign)
    if(sign)
        photomap_sign("${msi}" "photomap ${CPACK_PACKAGE_VERSION} installer")
    endif()
    message(STATUS "Package: ${msi}")
else()
    set(CPACK_EXTERNAL_PACKAGE_SCRIPT "${CMAKE_CURRENT_LIST_FILE}")
    set(CPACK_PROJECT_CONFIG_FILE "${CMAKE_CURRENT_LIST_FILE}")
    set(CPACK_PHOTOMAP_BINARY_DIR "${PROJECT_BINARY_DIR}")
    set(CPACK_EXTERNAL_ENABLE_STAGING ON)
endif()
