# Tests, fuzzers of the Japanese conversion and the MIME composition.
tarn_add_test(NAME compose_test
  SOURCES tests/jis_convert_test.cpp tests/compose_message_test.cpp
  LIBS zeph_core tarn::testsupport)
tarn_add_test(NAME compose_interop_test
  SOURCES tests/compose_interop_test.cpp tests/compose_interop.cpp
  LIBS zeph_core tarn::testsupport)
tarn_add_fuzzer(NAME jis_convert_fuzz SOURCES fuzz/jis_convert_fuzz.cpp LIBS zeph_core
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/jis_convert)
tarn_add_fuzzer(NAME compose_headers_fuzz SOURCES fuzz/compose_headers_fuzz.cpp LIBS zeph_core
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/compose_headers)
tarn_add_test(NAME compose_send_test
  SOURCES tests/compose_send_test.cpp tests/compose_interop.cpp
  LIBS Zeph zeph_core tarn::testsupport)
tarn_add_fuzzer(NAME media_types_fuzz SOURCES fuzz/media_types_fuzz.cpp LIBS zeph_core
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/media_types)
tarn_add_test(NAME readers_interop_test
  SOURCES tests/readers_interop_test.cpp tests/compose_interop.cpp
  LIBS zeph_core tarn::test_servers
  TIMEOUT 300)
