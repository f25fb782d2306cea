#!/usr/bin/env bash
# Composing a message with a 100 KB Japanese body and a 1 MB attachment, N
# times then 3N times: the engine's writer and Python's email package, each
# writing the whole message with CRLF line ends into a sink that counts the
# bytes and keeps nothing, timed the same way inside each process.
#   bash bench/compose/run.sh [BUILD-DIR] [N]    (default the build folder of the checkout, 40)
set -euo pipefail
. "$(dirname "$0")/../lib.sh"
here=$(cd "$(dirname "$0")" && pwd)
n=${2:-40}
need compose_bench /usr/bin/python3
"$bin/compose_bench" "$work" "$n" >"$work/engine.out"
/usr/bin/python3 "$here/python_compose.py" "$work" "$n" >"$work/python.out"
grep -h -v -e '^RATE' -e '^PEAKS' "$work/engine.out" "$work/python.out"
read -r _ peak_n peak_4n < <(grep '^PEAKS' "$work/engine.out")
ratio compose_engine_vs_python "$(sed -n 's/^RATE //p' "$work/engine.out")" \
  "$(sed -n 's/^RATE //p' "$work/python.out")" ">=10"
ratio compose_engine_peak_4n_vs_n "$peak_4n" "$peak_n" "<1.05"
