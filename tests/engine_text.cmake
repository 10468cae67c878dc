# Header-value decoding, the accent fold, and the sound and time helpers.
add_tavelo_test(tst_iso SOURCES tst_iso.cpp LIBS tavelo_engine)
add_tavelo_test(tst_utils SOURCES tst_utils.cpp LIBS tavelo_engine)
