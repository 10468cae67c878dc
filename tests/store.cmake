# Stored data: the password scrambler, the accounts file, the filter lists, the settings.
add_tavelo_test(tst_passwordscrambling SOURCES tst_passwordscrambling.cpp LIBS tavelo_store)
add_tavelo_test(tst_accountsfile SOURCES tst_accountsfile.cpp LIBS tavelo_store)
add_tavelo_test(tst_filters SOURCES tst_filters.cpp LIBS tavelo_store)
add_tavelo_test(tst_settings SOURCES tst_settings.cpp LIBS tavelo_store)
add_tavelo_test(tst_accountaccess SOURCES tst_accountaccess.cpp LIBS tavelo_store)
add_tavelo_test(tst_recyclebin SOURCES tst_recyclebin.cpp LIBS tavelo_store)
