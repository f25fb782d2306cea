# Tests and fuzzers of SMTP authentication, POP before SMTP and TLS.
tarn_add_test(NAME auth_sasl_test SOURCES tests/auth_sasl_test.cpp LIBS zeph_core)
tarn_add_fuzzer(NAME sasl_challenge_fuzz SOURCES fuzz/sasl_challenge_fuzz.cpp LIBS zeph_core
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/sasl_challenge)
tarn_add_test(NAME auth_pop_test SOURCES tests/auth_pop_test.cpp LIBS zeph_core engine_fake_smtp tarn::testsupport)
tarn_add_fuzzer(NAME pop_line_fuzz SOURCES fuzz/pop_line_fuzz.cpp LIBS zeph_core
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/pop_line)
# The aiosmtpd recorder and a private CA, for every test that needs a real SMTP server.
add_library(engine_test_servers STATIC tests/test_servers.cpp)
add_library(tarn::engine_test_servers ALIAS engine_test_servers)
target_include_directories(engine_test_servers PUBLIC tests)
target_link_libraries(engine_test_servers PUBLIC tarn::testsupport PRIVATE tarn::warnings)
target_compile_definitions(engine_test_servers PRIVATE
  TARN_SOURCE_DIR="${CMAKE_SOURCE_DIR}" TARN_TEST_PYTHON="${TARN_TEST_PYTHON}")
tarn_add_test(NAME auth_smtp_test SOURCES tests/auth_smtp_test.cpp
  LIBS Zeph zeph_core engine_fake_smtp tarn::engine_test_servers)
