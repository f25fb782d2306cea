#!/usr/bin/env bash
# A dry run of a large send: `tarn send --dry-run DIR` of a COUNT-recipient book
# (default 100000: merge fields and a script branch, the inputs of
# bench/send_run) into the built-in capture server, which keeps every message
# as an .eml file; against the same send, same book and same command, to
# Postfix's smtp-sink on loopback, which keeps nothing. Each is timed as a whole
# process from outside (wall, user and kernel time), REPEAT times interleaved
# (default 1: a round of 100,000 takes minutes); the best of each counts.
#   bench/dry_run/run.sh [BUILD_DIR]          COUNT, REPEAT in the environment
set -euo pipefail
build=${1:-$(cd "$(dirname "$0")/../.." && pwd)/build}
count=${COUNT:-100000}
repeat=${REPEAT:-1}
for b in tarn send_run_inputs; do
  [ -x "$build/bin/$b" ] || { echo "missing $build/bin/$b" >&2; exit 1; }
done
. "$(dirname "$0")/../smtp_sink.sh"

# One timed `tarn send` of a fresh copy of the inputs; extra arguments go to it.
# Prints "seconds user sys" and checks that every message was accepted.
timed_send() {
  rm -rf "$work/run" && mkdir "$work/run"
  "$build/bin/send_run_inputs" "$work/run" "$count" "$port"
  /usr/bin/time -f "%e %U %S" -o "$work/time" env TARN_REGISTRY="$work/run/registry" \
    TARN_HOME="$work/run" "$build/bin/tarn" send "$work/run/book.tn2" --yes "$@" \
    >"$work/tarn.out" 2>"$work/tarn.err" || { tail -5 "$work/tarn.err" >&2; exit 1; }
  grep -a -q "OK:$count" <(iconv -f CP932 -t UTF-8 "$work/run/send.log") ||
    { echo "tarn did not send every message" >&2; tail -5 "$work/tarn.err" >&2; exit 1; }
  cat "$work/time"
}

best_dry=0
best_sink=0
for round in $(seq "$repeat"); do
  read -r sink_s sink_user sink_sys < <(timed_send)
  echo "to smtp-sink #$round: messages=$count seconds=$sink_s user=$sink_user sys=$sink_sys"
  read -r dry_s dry_user dry_sys < <(timed_send --dry-run "$work/run/mail")
  stored=$(find "$work/run/mail" -name '*.eml' | wc -l)
  [ "$stored" = "$count" ] || { echo "the dry run stored $stored of $count messages" >&2; exit 1; }
  echo "dry run     #$round: messages=$count stored=$stored seconds=$dry_s user=$dry_user sys=$dry_sys"
  best_sink=$(awk -v a="$best_sink" -v b="$sink_s" 'BEGIN { print (a == 0 || b < a ? b : a) }')
  best_dry=$(awk -v a="$best_dry" -v b="$dry_s" 'BEGIN { print (a == 0 || b < a ? b : a) }')
done

echo "best seconds for $count messages: dry run $best_dry, to smtp-sink $best_sink"
# Under a minute for 100,000 messages (scaled for another COUNT), and not much
# dearer than a real send although every message is also written to disk.
awk -v d="$best_dry" -v s="$best_sink" -v n="$count" 'BEGIN {
  printf "dry_run_vs_one_minute ratio=%.2f goal=<=1.0\n", d / (60 * n / 100000)
  printf "dry_run_vs_smtp_sink ratio=%.2f goal=<=1.5\n", d / s }'
