#!/usr/bin/env bash
# A whole personalised send: `tarn send --yes` of a COUNT-recipient book with
# merge fields and a script branch to Postfix's smtp-sink on loopback; in the
# same run the engine alone (bench/engine_throughput) and a Python smtplib
# mail merge of the same messages against the same sink.
#   bench/send_run/run.sh [BUILD_DIR]        COUNT (default 10000) in the environment
set -euo pipefail
build=${1:-$(cd "$(dirname "$0")/../.." && pwd)/build}
count=${COUNT:-10000}
here=$(cd "$(dirname "$0")" && pwd)
for b in tarn send_run_inputs engine_throughput; do
  [ -x "$build/bin/$b" ] || { echo "missing $build/bin/$b" >&2; exit 1; }
done
. "$(dirname "$0")/../smtp_sink.sh"

# The whole run through the command, as an operator or a scheduler starts it,
# and the engine alone, REPEAT times interleaved (default 3); the best of each.
repeat=${REPEAT:-3}
tarn_rate=0
engine_rate=0
for round in $(seq "$repeat"); do
  "$build/bin/send_run_inputs" "$work" "$count" "$port"
  /usr/bin/time -f "%e %M" -o "$work/time" env TARN_REGISTRY="$work/registry" TARN_HOME="$work" \
    "$build/bin/tarn" send "$work/book.tn2" --yes >"$work/tarn.out" 2>"$work/tarn.err"
  read -r tarn_seconds tarn_kb <"$work/time"
  grep -a -q "OK:$count" <(iconv -f CP932 -t UTF-8 "$work/send.log") || { echo "tarn did not send every message" >&2; tail -5 "$work/tarn.err" >&2; exit 1; }
  rate=$(awk -v n="$count" -v s="$tarn_seconds" 'BEGIN { printf "%.1f", n / s }')
  echo "tarn send   #$round: messages=$count seconds=$tarn_seconds rate=$rate peak_rss_kb=$tarn_kb"
  tarn_rate=$(awk -v a="$tarn_rate" -v b="$rate" 'BEGIN { print (b > a ? b : a) }')
  engine=$("$build/bin/engine_throughput" 127.0.0.1 "$port" "$count" 2000)
  echo "engine only #$round: $engine"
  engine_rate=$(awk -v a="$engine_rate" -v b="${engine##*rate=}" 'BEGIN { print (b > a ? b : a) }')
done

/usr/bin/time -f "%e %M" -o "$work/ptime" /usr/bin/python3 "$here/python_merge.py" "$work" "$port" >"$work/py.out"
read -r _ py_kb <"$work/ptime"
py_rate=$(sed -n 's/.*rate=//p' "$work/py.out")
echo "python:      $(cat "$work/py.out") peak_rss_kb=$py_kb"
echo "best rate (messages/s): tarn send $tarn_rate, engine only $engine_rate, python $py_rate"
awk -v t="$tarn_rate" -v e="$engine_rate" -v p="$py_rate" 'BEGIN {
  printf "tarn send / engine only: %.2f (goal >= 0.85)\n", t / e
  printf "tarn send / python:      %.2f (goal >= 1.5)\n", t / p }'
