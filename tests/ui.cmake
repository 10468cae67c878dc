add_tavelo_test(tst_mainwindow SOURCES tst_mainwindow.cpp support/WindowHarness.h support/FakeSocket.h LIBS tavelo_ui)
add_tavelo_scaled_run(tst_mainwindow narrowWindowIsWidened picturesFollowADarkPalette)
add_tavelo_test(tst_listcommands SOURCES tst_listcommands.cpp support/WindowHarness.h support/FakeSocket.h
    support/FakeMailbox.h LIBS tavelo_ui)
add_tavelo_test(tst_timers SOURCES tst_timers.cpp support/WindowHarness.h support/FakeSocket.h
    support/FakeMailbox.h LIBS tavelo_ui)
add_tavelo_test(tst_window_dovecot SOURCES tst_window_dovecot.cpp support/WindowHarness.h support/FakeSocket.h
    LIBS tavelo_ui tavelo_dovecot_fixture FIXTURES dovecot)
add_dependencies(tst_window_dovecot tavelo) # a real copy of the program is ended by SIGTERM
add_tavelo_test(tst_faults SOURCES tst_faults.cpp support/WindowHarness.h support/FakeSocket.h support/ScriptedServer.h
    LIBS tavelo_ui)
add_tavelo_test(tst_notifications SOURCES tst_notifications.cpp support/WindowHarness.h support/FakeSocket.h
    support/FakeMailbox.h LIBS tavelo_ui)
# The programs as processes: the command line without a display, one running copy per data folder.
add_tavelo_test(tst_app SOURCES tst_app.cpp)
add_dependencies(tst_app tavelo tavelo-scan)
