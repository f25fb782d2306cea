#!/usr/bin/env bash
# Engine throughput: one session of COUNT messages of about SIZE bytes to
# Postfix's smtp-sink on loopback, from our engine and from Postfix's
# smtp-source (one session, no pipelining), and the ratio of the two rates.
# COUNT, SIZE and REPEAT in the environment change the defaults 5000, 1500, 3.
#   bench/engine_throughput/run.sh [BUILD_DIR]   (default the build folder of the checkout)
set -euo pipefail
build=${1:-$(cd "$(dirname "$0")/../.." && pwd)/build}
count=${COUNT:-5000}
size=${SIZE:-1500}
repeat=${REPEAT:-3}
bin=$build/bin/engine_throughput
source=/usr/sbin/smtp-source
[ -x "$bin" ] || { echo "missing $bin (build target engine_throughput)" >&2; exit 1; }
[ -x "$source" ] || { echo "smtp-source missing (Debian package postfix)" >&2; exit 1; }

. "$(dirname "$0")/../smtp_sink.sh"

# The machine may be shared: run both REPEAT times, interleaved, and compare
# the best run of each.
best_ours=0
best_theirs=0
for round in $(seq "$repeat"); do
  ours=$("$bin" 127.0.0.1 "$port" "$count" "$size")
  echo "engine      #$round: $ours"
  best_ours=$(awk -v a="$best_ours" -v b="${ours##*rate=}" 'BEGIN { print (b > a ? b : a) }')

  t0=$(date +%s.%N)
  "$source" -d -s 1 -m "$count" -l "$size" -f sender@example.jp -t user@example.jp 127.0.0.1:"$port"
  t1=$(date +%s.%N)
  theirs=$(awk -v n="$count" -v a="$t0" -v b="$t1" 'BEGIN { printf "%.1f", n / (b - a) }')
  echo "smtp-source #$round: messages=$count seconds=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }') rate=$theirs"
  best_theirs=$(awk -v a="$best_theirs" -v b="$theirs" 'BEGIN { print (b > a ? b : a) }')
done
echo "best rate (messages/s): engine $best_ours, smtp-source $best_theirs"
awk -v o="$best_ours" -v t="$best_theirs" 'BEGIN { printf "ratio (engine/smtp-source): %.2f\n", o / t }'
