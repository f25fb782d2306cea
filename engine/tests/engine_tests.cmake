# Tests, fuzzer and helpers of the SMTP session and the job lifecycle.
add_library(engine_fake_smtp STATIC tests/fake_smtp.cpp)
target_include_directories(engine_fake_smtp PUBLIC tests)
target_link_libraries(engine_fake_smtp PUBLIC Threads::Threads PRIVATE tarn::warnings)

tarn_add_test(NAME engine_parse_test SOURCES tests/engine_parse_test.cpp LIBS zeph_core)
tarn_add_test(NAME engine_session_test SOURCES tests/engine_session_test.cpp
  LIBS zeph_core engine_fake_smtp tarn::testsupport)
tarn_add_test(NAME engine_pipelining_test SOURCES tests/engine_pipelining_test.cpp
  LIBS zeph_core engine_fake_smtp tarn::test_servers)
tarn_add_test(NAME engine_recorder_test SOURCES tests/engine_recorder_test.cpp
  LIBS tarn::engine tarn::testsupport)
tarn_add_fuzzer(NAME reply_fuzz SOURCES fuzz/reply_fuzz.cpp LIBS zeph_core
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/reply)
