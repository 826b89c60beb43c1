# Run at install time with `darq_program` set: copies the program's debug symbols to
# <prefix>/lib/debug/.build-id/xx/yyyy.debug, where gdb finds them by the build ID that the
# stripped, installed program still carries.
execute_process(COMMAND readelf --notes "${darq_program}" OUTPUT_VARIABLE notes
                COMMAND_ERROR_IS_FATAL ANY)
if(NOT notes MATCHES "Build ID: ([0-9a-f][0-9a-f])([0-9a-f]+)")
    message(FATAL_ERROR "${darq_program} carries no build ID")
endif()
set(debug_dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/lib/debug/.build-id/${CMAKE_MATCH_1}")
set(debug_file "${debug_dir}/${CMAKE_MATCH_2}.debug")
message(STATUS "Installing: ${debug_file}")
file(MAKE_DIRECTORY "${debug_dir}")
execute_process(COMMAND objcopy --only-keep-debug --compress-debug-sections "${darq_program}"
                        "${debug_file}" COMMAND_ERROR_IS_FATAL ANY)
file(CHMOD "${debug_file}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
