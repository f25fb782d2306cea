#!/usr/bin/env bash
# The whole test run: install what is needed, build from scratch, run every test
# (real servers are started by the tests themselves on loopback), then the
# sanitizer build and a short fuzz run of every parser.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

bash scripts/setup.sh

echo "== build (release with debug info)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"

echo "== tests"
(cd build && ctest --output-on-failure -j"$jobs" --timeout 300)

echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer, and fuzz smoke runs"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DTARN_SANITIZE=ON -DTARN_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-asan && ctest --output-on-failure -j"$jobs" --timeout 600 -LE nosanitize)

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DTARN_FUZZ=ON -DTARN_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$jobs" --target fuzzers
(cd build-fuzz && ctest --output-on-failure -j"$jobs" -L fuzz)
