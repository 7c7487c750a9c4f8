# The same commit gives the same bytes, wherever and whenever it is built:
# the executables here; the packages through the install step's first
# rule (cmake/source-date-epoch.cmake) and cmake/package-prepare.cmake,
# which cpack runs on every package's staged files. Included from CMakeLists.txt
# before any target.

if(WIN32)
    # No build time in the PE header of the build tree's photomap.exe (the
    # field stays 0, and the header checksum over it follows); the strip
    # that stages it for the packages writes SOURCE_DATE_EPOCH there.
    add_link_options(-Wl,--no-insert-timestamp)
endif()

# Folders in the packages get the same mode whatever the builder's umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The install step, and so every package, begins with the commit's time,
# also where cpack installs one component at a time.
install(CODE "set(PHOTOMAP_SOURCE_DIR \"${PROJECT_SOURCE_DIR}\")
include(\"${CMAKE_CURRENT_LIST_DIR}/source-date-epoch.cmake\")" ALL_COMPONENTS)
list(APPEND CPACK_PRE_BUILD_SCRIPTS "${CMAKE_CURRENT_LIST_DIR}/package-prepare.cmake")
