# Tests and fuzzers of SMTP authentication, POP before SMTP and TLS.
tarn_add_test(NAME auth_sasl_test SOURCES tests/auth_sasl_test.cpp LIBS zeph_core)
tarn_add_fuzzer(NAME sasl_challenge_fuzz SOURCES fuzz/sasl_challenge_fuzz.cpp LIBS zeph_core
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/sasl_challenge)
tarn_add_test(NAME auth_pop_test SOURCES tests/auth_pop_test.cpp LIBS zeph_core engine_fake_smtp tarn::testsupport)
tarn_add_fuzzer(NAME pop_line_fuzz SOURCES fuzz/pop_line_fuzz.cpp LIBS zeph_core
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/pop_line)
tarn_add_test(NAME auth_smtp_test SOURCES tests/auth_smtp_test.cpp
  LIBS Zeph zeph_core engine_fake_smtp tarn::test_servers)
