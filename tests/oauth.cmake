# The OAuth2 client against the tests' authorization server (support/oauth_server.py, started by the test).
add_tavelo_test(tst_oauth SOURCES tst_oauth.cpp LIBS tavelo_oauth)
