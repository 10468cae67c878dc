# The accounts, filters and quick connection dialogs, each on a real main window.
add_tavelo_test(tst_dialog_cuentas SOURCES tst_dialogs_accounts.cpp support/WindowHarness.h support/WindowDialogs.h support/FakeSocket.h LIBS tavelo_ui)
add_tavelo_test(tst_dialog_filtros SOURCES tst_dialogs_filters.cpp support/WindowHarness.h support/WindowDialogs.h support/FakeSocket.h LIBS tavelo_ui)
add_tavelo_test(tst_dialog_conexion SOURCES tst_dialogs_quickconnect.cpp support/WindowHarness.h support/WindowDialogs.h support/FakeSocket.h LIBS tavelo_ui)
