#!/usr/bin/env bash
# Script + merge cost per recipient: a 40-line script (If/Else, a Do While loop,
# merge variables) compiled once, then run and merged for 100,000 recipients.
#   bash bench/script/run.sh [BUILD_DIR]   (default the build folder of the checkout; builds nothing)
set -euo pipefail
build=${1:-$(cd "$(dirname "$0")/../.." && pwd)/build}
exe="$build/bin/bench_script"
if [ ! -x "$exe" ]; then
  echo "bench_script not built in $build (cmake --build $build --target bench_script)" >&2
  exit 1
fi
"$exe" 100000
