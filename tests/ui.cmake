add_tavelo_test(tst_mainwindow SOURCES tst_mainwindow.cpp support/WindowHarness.h support/FakeSocket.h LIBS tavelo_ui)
add_tavelo_test(tst_listcommands SOURCES tst_listcommands.cpp support/WindowHarness.h support/FakeSocket.h
    support/FakeMailbox.h LIBS tavelo_ui)
add_tavelo_test(tst_timers SOURCES tst_timers.cpp support/WindowHarness.h support/FakeSocket.h
    support/FakeMailbox.h LIBS tavelo_ui)
add_tavelo_test(tst_window_dovecot SOURCES tst_window_dovecot.cpp support/WindowHarness.h support/FakeSocket.h
    LIBS tavelo_ui tavelo_dovecot_fixture FIXTURES dovecot)
add_tavelo_test(tst_faults SOURCES tst_faults.cpp support/WindowHarness.h support/FakeSocket.h support/ScriptedServer.h
    LIBS tavelo_ui)
