# tarn_add_test(NAME name SOURCES ... LIBS ... [INCLUDES dir...] [DEFINITIONS def...]
#               [DEPENDS target...] [LABELS ...] [TIMEOUT s])
# One GoogleTest executable registered as one ctest test per test case. DEPENDS
# names the programs the tests run (`tarn`, a library they load), which may be
# defined in a folder added later.
include(GoogleTest)
function(tarn_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;INCLUDES;DEFINITIONS;DEPENDS;LABELS" ${ARGN})
  if(TARN_FUZZ)
    return() # the fuzz build only builds and runs fuzzers
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main tarn::warnings)
  target_include_directories(${T_NAME} PRIVATE ${T_INCLUDES})
  target_compile_definitions(${T_NAME} PRIVATE
    TARN_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    TARN_TESTDATA="${TARN_TESTDATA}"
    TARN_TEST_PYTHON="${TARN_TEST_PYTHON}"
    TARN_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
    ${T_DEFINITIONS})
  if(T_DEPENDS)
    add_dependencies(${T_NAME} ${T_DEPENDS})
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
endfunction()

add_custom_target(fuzzers)

# tarn_add_fuzzer(NAME name SOURCES ... LIBS ... CORPUS dir)
# With TARN_FUZZ the target is a libFuzzer binary and a short fuzz run is a test.
# Otherwise the same entry point is linked with a replay driver, and replaying the
# committed corpus is an ordinary test of every build.
function(tarn_add_fuzzer)
  cmake_parse_arguments(F "" "NAME;CORPUS" "SOURCES;LIBS" ${ARGN})
  add_executable(${F_NAME} ${F_SOURCES})
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBS} tarn::warnings)
  add_dependencies(fuzzers ${F_NAME})
  if(TARN_FUZZ)
    target_compile_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
    target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
    set(work ${CMAKE_BINARY_DIR}/fuzz-work/${F_NAME})
    file(MAKE_DIRECTORY ${work})
    add_test(NAME fuzz.${F_NAME}
      COMMAND ${F_NAME} -max_total_time=20 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 ${work} ${F_CORPUS})
    set_tests_properties(fuzz.${F_NAME} PROPERTIES LABELS fuzz TIMEOUT 120)
  else()
    target_sources(${F_NAME} PRIVATE ${CMAKE_SOURCE_DIR}/common/fuzz/replay_main.cpp)
    add_test(NAME replay.${F_NAME} COMMAND ${F_NAME} ${F_CORPUS})
    set_tests_properties(replay.${F_NAME} PROPERTIES LABELS replay TIMEOUT 120)
  endif()
endfunction()

# tarn_add_qt_test(NAME name SOURCES ... LIBS ... [INCLUDES dir...] [DEPENDS target...]
#                  [XVFB] [TIMEOUT s])
# One Qt Test executable, one ctest test. It runs on the offscreen platform; with
# XVFB it runs once under a virtual X server on the real xcb platform instead.
# Screenshots a test saves go to TARN_SCREENSHOT_DIR (the build's screenshots/).
function(tarn_add_qt_test)
  cmake_parse_arguments(T "XVFB" "NAME;TIMEOUT" "SOURCES;LIBS;INCLUDES;DEPENDS;LABELS" ${ARGN})
  if(TARN_FUZZ)
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  set_target_properties(${T_NAME} PROPERTIES AUTOMOC ON)
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} Qt6::Test Qt6::Widgets tarn::warnings)
  target_include_directories(${T_NAME} PRIVATE ${T_INCLUDES})
  if(T_DEPENDS)
    add_dependencies(${T_NAME} ${T_DEPENDS})
  endif()
  target_compile_definitions(${T_NAME} PRIVATE
    TARN_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    TARN_TESTDATA="${TARN_TESTDATA}"
    TARN_TEST_PYTHON="${TARN_TEST_PYTHON}"
    TARN_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set(shots ${CMAKE_BINARY_DIR}/screenshots)
  if(T_XVFB)
    add_test(NAME ${T_NAME} COMMAND xvfb-run -a -s "-screen 0 1600x1000x24" $<TARGET_FILE:${T_NAME}>)
    set(platform xcb)
  else()
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    set(platform offscreen)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "qt;${T_LABELS}"
    ENVIRONMENT "QT_QPA_PLATFORM=${platform};TARN_SCREENSHOT_DIR=${shots};LANG=C.UTF-8;LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/cmake/lsan_suppressions.txt")
endfunction()
