# The recipients window, the about box and the settings dialog, each on a real main window.
add_tavelo_test(tst_recipients SOURCES tst_recipients.cpp support/WindowHarness.h support/FakeSocket.h LIBS tavelo_ui)
add_tavelo_test(tst_about SOURCES tst_about.cpp support/WindowHarness.h support/FakeSocket.h LIBS tavelo_ui)
add_tavelo_test(tst_config SOURCES tst_config.cpp support/WindowHarness.h support/FakeSocket.h LIBS tavelo_ui)
add_tavelo_scaled_run(tst_config textsFitTheirControls)
# Every dialog and the main window at three fonts and two palettes; again on a 1600 x 1000 screen at a
# scale of 2 (800 x 500 to the program).
add_tavelo_test(tst_fit SOURCES tst_fit.cpp support/WindowHarness.h support/WindowDialogs.h support/FakeSocket.h
    LIBS tavelo_ui)
add_tavelo_scaled_run(tst_fit)
set_property(TEST tst_fit_scale2 APPEND PROPERTY ENVIRONMENT
    "QT_QPA_PLATFORM=offscreen:configfile=${CMAKE_SOURCE_DIR}/tests/support/offscreen-1600x1000.json")
