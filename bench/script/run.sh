#!/usr/bin/env bash
# Script + merge cost per recipient: a 40-line script (If/Else, a Do While loop,
# merge variables) compiled once, then run and merged for 100,000 recipients;
# set against the engine's time per message, measured in the same run as
# bench/engine_throughput measures it (COUNT messages of 1,500 bytes to
# smtp-sink, the whole process timed, best of three).
#   bash bench/script/run.sh [BUILD_DIR]   (default the build folder of the checkout; builds nothing)
set -euo pipefail
. "$(dirname "$0")/../lib.sh"
. "$(dirname "$0")/../smtp_sink.sh"
count=${COUNT:-5000}
need bench_script engine_throughput
"$bin/bench_script" 100000 | tee "$work/script.out"
script_us=$(sed -n 's/^script + merge: *\([0-9.]*\) us per recipient.*/\1/p' "$work/script.out")
[ -n "$script_us" ] || { echo "bench_script printed no time per recipient" >&2; exit 1; }

start_sink port
best_rate=0
for round in 1 2 3; do
  timed "$work/engine.out" "$bin/engine_throughput" 127.0.0.1 "$port" "$count" 1500
  best_rate=$(larger "$best_rate" "$(per_second "$count" "$seconds")")
done
engine_us=$(awk -v r="$best_rate" 'BEGIN { printf "%.1f", 1e6 / r }')
echo "engine: $engine_us us per message (best of 3, $best_rate messages/s)"
ratio script_merge_vs_engine_message "$script_us" "$engine_us" "<0.05"
