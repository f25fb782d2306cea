#!/usr/bin/env bash
# The whole test run: install what is needed, build from scratch, run every test
# (real servers are started by the tests themselves on loopback), then the
# sanitizer build, a short fuzz run of every parser, and the release build.
# Warnings are errors in every build here (TARN_WERROR).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

# ctest in FOLDER with ARGS (output kept in FOLDER/ctest.log); a skipped test
# fails the run as a failed one does.
run_ctest() {
  local folder=$1
  shift
  (cd "$folder" && ctest --output-on-failure --no-tests=error -j"$jobs" "$@") | tee "$folder/ctest.log"
  if grep -q "tests did not run" "$folder/ctest.log"; then
    echo "tests were skipped in $folder: a test never skips" >&2
    return 1
  fi
}

bash scripts/setup.sh

echo "== build (release with debug info)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARN_WERROR=ON >/dev/null
cmake --build build -j"$jobs"

echo "== tests"
run_ctest build --timeout 300

echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer, and fuzz smoke runs"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARN_WERROR=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DTARN_SANITIZE=ON -DTARN_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
# Every test, and every program a test starts (a Qt window as `tarn options`), reads
# the suppressions of system libraries' leaks we cannot free.
export LSAN_OPTIONS=suppressions=$PWD/cmake/lsan_suppressions.txt
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run_ctest build-asan --timeout 600 -LE nosanitize

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARN_WERROR=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DTARN_FUZZ=ON -DTARN_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$jobs" --target fuzzers
run_ctest build-fuzz -L fuzz

# A person building a release with the system compiler (GCC) gets what CI built.
echo "== release build (GCC, the release preset)"
cmake --preset release -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ >/dev/null
cmake --build build-release -j"$jobs"
