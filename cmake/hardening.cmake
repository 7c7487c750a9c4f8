# Debian's hardening flags, as dpkg-buildflags gives them to a package build
# (PIE, -fstack-protector-strong, _FORTIFY_SOURCE, -z relro -z now, and what
# else "hardening=+all" means on this release, such as -fcf-protection on
# Debian 13): photomap parses untrusted files. Asked for in the source tree,
# so that -ffile-prefix-map names it ".". On for the host and release
# presets, so that every host test runs the hardened program and its
# confined reader; off for the sanitizer and fuzzing builds, where
# _FORTIFY_SOURCE's checked functions would hide calls from the sanitizers'
# interceptors. Included from CMakeLists.txt on Linux.
option(PHOTOMAP_HARDENING "Build with dpkg-buildflags' hardening flags" OFF)
if(WIN32 OR NOT PHOTOMAP_HARDENING)
    return()
endif()
find_program(PHOTOMAP_DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)
foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                            ${PHOTOMAP_DPKG_BUILDFLAGS} --get ${kind}
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE
                    COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(flags UNIX_COMMAND "${flags}")
    # The build type chooses optimisation and debug information.
    list(FILTER flags EXCLUDE REGEX "^-O[0-9sg]?$|^-g$")
    if(kind STREQUAL "LDFLAGS")
        add_link_options(${flags})
    else()
        add_compile_options(${flags})
    endif()
    message(STATUS "Hardening ${kind}: ${flags}")
endforeach()
# dpkg-buildflags leaves PIE to GCC's default; ask for it whatever the default.
include(CheckPIESupported)
check_pie_supported()
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
