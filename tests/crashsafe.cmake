# Crash safety of the stored files: a writer process saving them in a loop is killed at random moments.
add_executable(crashsafe_writer crashsafe_writer.cpp crashsafe_contents.h)
target_link_libraries(crashsafe_writer PRIVATE tavelo_store)
set_target_properties(crashsafe_writer PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
add_tavelo_test(tst_crashsafe SOURCES tst_crashsafe.cpp crashsafe_contents.h LIBS tavelo_store)
target_compile_definitions(tst_crashsafe PRIVATE TAVELO_CRASHSAFE_WRITER="$<TARGET_FILE:crashsafe_writer>")
add_dependencies(tst_crashsafe crashsafe_writer)
