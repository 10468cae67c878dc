add_tavelo_test(tst_mainwindow SOURCES tst_mainwindow.cpp support/WindowHarness.h support/FakeSocket.h LIBS tavelo_ui)
