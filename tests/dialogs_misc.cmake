# The recipients window, the about box and the settings dialog, each on a real main window.
add_tavelo_test(tst_recipients SOURCES tst_recipients.cpp support/WindowHarness.h support/FakeSocket.h LIBS tavelo_ui)
add_tavelo_test(tst_about SOURCES tst_about.cpp support/WindowHarness.h support/FakeSocket.h LIBS tavelo_ui)
add_tavelo_test(tst_config SOURCES tst_config.cpp support/WindowHarness.h support/FakeSocket.h LIBS tavelo_ui)
add_tavelo_scaled_run(tst_config textsFitTheirControls)
