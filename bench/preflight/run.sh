#!/usr/bin/env bash
# The pre-flight of 100,000 recipients (script off and on) against the
# personalisation alone, and against a budget of 3 seconds.
#   bash bench/preflight/run.sh [BUILD_DIR] [RECIPIENTS]   (default the checkout's build, 100000)
set -euo pipefail
build=${1:-$(cd "$(dirname "$0")/../.." && pwd)/build}
exe="$build/bin/preflight_bench"
[ -x "$exe" ] || { echo "preflight_bench not built in $build (-DTARN_BENCH=ON)" >&2; exit 1; }
"$exe" "${2:-100000}"
