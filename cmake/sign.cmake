# Authenticode signatures for photomap.exe and the MSI, made with osslsigncode
# when cpack runs with a code-signing key in its environment:
#   PHOTOMAP_SIGN_CERT           the certificate (PEM; intermediates after it)
#   PHOTOMAP_SIGN_KEY            its private key (PEM)
#   PHOTOMAP_SIGN_PASS_FILE      optional: a file holding the key's password
#   PHOTOMAP_SIGN_TIMESTAMP_URL  optional: an RFC 3161 time-stamp server, so
#                                the signature outlives the certificate
# The key is read from the environment of cpack, not from the CMake cache,
# so it is never written into a build folder.

# Sets OUT to TRUE when a certificate and key are given, FALSE when neither
# is; one without the other is a mistake, not a reason to ship unsigned.
function(photomap_signing_wanted out)
    if(DEFINED ENV{PHOTOMAP_SIGN_CERT} AND DEFINED ENV{PHOTOMAP_SIGN_KEY})
        foreach(file IN ITEMS "$ENV{PHOTOMAP_SIGN_CERT}" "$ENV{PHOTOMAP_SIGN_KEY}")
            if(NOT EXISTS "${file}")
                message(FATAL_ERROR "signing: ${file} does not exist")
            endif()
        endforeach()
        set(${out} TRUE PARENT_SCOPE)
    elseif(DEFINED ENV{PHOTOMAP_SIGN_CERT} OR DEFINED ENV{PHOTOMAP_SIGN_KEY})
        message(FATAL_ERROR "signing needs both PHOTOMAP_SIGN_CERT and PHOTOMAP_SIGN_KEY")
    else()
        set(${out} FALSE PARENT_SCOPE)
    endif()
endfunction()

# Signs FILE in place (SHA-256), naming it DESCRIPTION in the signature.
function(photomap_sign file description)
    find_program(OSSLSIGNCODE osslsigncode)
    if(NOT OSSLSIGNCODE)
        message(FATAL_ERROR "signing: osslsigncode is missing (scripts/setup-wine.sh installs it)")
    endif()
    set(options -certs "$ENV{PHOTOMAP_SIGN_CERT}" -key "$ENV{PHOTOMAP_SIGN_KEY}"
        -h sha256 -n "${description}")
    if(DEFINED ENV{PHOTOMAP_SIGN_PASS_FILE})
        list(APPEND options -readpass "$ENV{PHOTOMAP_SIGN_PASS_FILE}")
    endif()
    if(NOT "$ENV{PHOTOMAP_SIGN_TIMESTAMP_URL}" STREQUAL "")
        list(APPEND options -ts "$ENV{PHOTOMAP_SIGN_TIMESTAMP_URL}")
    endif()
    # osslsigncode writes a new file; the signed one replaces the original
    # only once it is complete, written into it so that it keeps its mode.
    file(REMOVE "${file}.signed")
    execute_process(COMMAND "${OSSLSIGNCODE}" sign ${options} -in "${file}" -out "${file}.signed"
                    RESULT_VARIABLE failed OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(failed)
        file(REMOVE "${file}.signed")
        message(FATAL_ERROR "signing ${file} failed:\n${output}")
    endif()
    execute_process(COMMAND "${CMAKE_COMMAND}" -E cat "${file}.signed" OUTPUT_FILE "${file}"
                    COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE "${file}.signed")
    message(STATUS "signed ${file} with $ENV{PHOTOMAP_SIGN_CERT}")
endfunction()
