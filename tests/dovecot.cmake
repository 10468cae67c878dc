# The real POP3 server (a private Dovecot on 127.0.0.1) shared by the tests registered with
# FIXTURES dovecot: started once before the first of them, stopped after the last.
set(TAVELO_DOVECOT_DIR ${CMAKE_BINARY_DIR}/tests/dovecot)
set(dovecot_fixture ${CMAKE_CURRENT_SOURCE_DIR}/support/dovecot/fixture.sh)

add_test(NAME dovecot_start COMMAND bash ${dovecot_fixture} start ${TAVELO_DOVECOT_DIR})
set_tests_properties(dovecot_start PROPERTIES FIXTURES_SETUP dovecot TIMEOUT 120)
add_test(NAME dovecot_stop COMMAND bash ${dovecot_fixture} stop ${TAVELO_DOVECOT_DIR})
set_tests_properties(dovecot_stop PROPERTIES FIXTURES_CLEANUP dovecot TIMEOUT 60)

# What a test needs to use the server: DovecotFixture.h (users, ports, manifests, scratch mailboxes).
add_library(tavelo_dovecot_fixture STATIC support/DovecotFixture.h support/DovecotFixture.cpp)
target_include_directories(tavelo_dovecot_fixture PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/support)
target_link_libraries(tavelo_dovecot_fixture PUBLIC Qt6::Core)
# Where a test run by hand (outside CTest) looks for the server.
target_compile_definitions(tavelo_dovecot_fixture PRIVATE TAVELO_DOVECOT_DEFAULT_DIR="${TAVELO_DOVECOT_DIR}")

add_tavelo_test(tst_dovecot_fixture SOURCES tst_dovecot_fixture.cpp
    LIBS tavelo_dovecot_fixture Qt6::Network FIXTURES dovecot)
