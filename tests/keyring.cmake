# The secret store: with GNOME Keyring on a session bus of the test's own, on such a bus with no keyring,
# and with no bus at all (the last two: the file fall-back). One source, built twice.
add_tavelo_test(tst_secretstore_keyring SOURCES tst_secretstore.cpp support/PrivateSessionBus.h LIBS tavelo_keyring)
add_tavelo_test(tst_secretstore_file SOURCES tst_secretstore.cpp support/PrivateSessionBus.h LIBS tavelo_keyring)
target_compile_definitions(tst_secretstore_file PRIVATE SECRETS_IN_FILE)
add_test(NAME tst_secretstore_nobus COMMAND tst_secretstore_file)
set_tests_properties(tst_secretstore_nobus PROPERTIES ENVIRONMENT "TAVELO_TEST_NO_BUS=1" TIMEOUT 600)
