# Tests, fuzzers of the Japanese conversion and the MIME composition.
tarn_add_test(NAME compose_test
  SOURCES tests/jis_convert_test.cpp tests/compose_message_test.cpp
  LIBS zeph_core tarn::testsupport)
tarn_add_test(NAME compose_interop_test
  SOURCES tests/compose_interop_test.cpp tests/compose_interop.cpp
  LIBS zeph_core tarn::testsupport)
