# Header-value decoding, the accent fold, and the sound and time helpers.
add_tavelo_test(tst_encodedwords SOURCES tst_encodedwords.cpp LIBS tavelo_message)
add_tavelo_test(tst_utils SOURCES tst_utils.cpp LIBS tavelo_base)
# Reglas.dat: its parser, the decision on a header with the filter lists, the hints, the time bound.
add_tavelo_test(tst_rules SOURCES tst_rules.cpp LIBS tavelo_rules)
# The text pane's preview: transfer encodings, charsets, MIME structure, HTML to text, cut bodies.
add_tavelo_test(tst_preview SOURCES tst_preview.cpp LIBS tavelo_message)
