add_tavelo_test(tst_pop3_session SOURCES tst_pop3_session.cpp support/FakeSocket.h support/SessionRecorder.h
    LIBS tavelo_pop3)
add_tavelo_test(tst_pop3_replies SOURCES tst_pop3_replies.cpp LIBS tavelo_pop3)

add_tavelo_test(tst_pop3_dovecot SOURCES tst_pop3_dovecot.cpp support/SessionRecorder.h
    LIBS tavelo_pop3 tavelo_dovecot_fixture FIXTURES dovecot)
add_dependencies(tst_pop3_dovecot tavelo-scan)

