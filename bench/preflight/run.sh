#!/usr/bin/env bash
# The pre-flight of 100,000 recipients (script off and on) against the
# personalisation alone over the same recipients, and against a budget of
# 3 seconds.
#   bash bench/preflight/run.sh [BUILD_DIR] [RECIPIENTS]   (default the checkout's build, 100000)
set -euo pipefail
. "$(dirname "$0")/../lib.sh"
need preflight_bench
"$bin/preflight_bench" "${2:-100000}"
