#!/usr/bin/env bash
# A dry run of a large send: `tarn send --dry-run DIR` of a COUNT-recipient book
# (default 100000: merge fields and a script branch, the inputs of
# bench/send_run) into the built-in capture server, which keeps every message
# as an .eml file; against the same send, same book and same command, to
# Postfix's smtp-sink on loopback, which keeps nothing. Each is timed as a whole
# process from outside, REPEAT times interleaved (default 1: a round of 100,000
# takes minutes); the best of each counts. The kernel time of each run is
# printed too: that is where flushing every message to disk showed.
#   bench/dry_run/run.sh [BUILD_DIR]          COUNT, REPEAT in the environment
set -euo pipefail
. "$(dirname "$0")/../lib.sh"
. "$(dirname "$0")/../smtp_sink.sh"
count=${COUNT:-100000}
repeat=${REPEAT:-1}
need tarn send_run_inputs
start_sink port

# One timed `tarn send` of a fresh copy of the inputs; extra arguments go to it.
# Sets seconds and sys, and checks that every message was accepted.
timed_send() {
  rm -rf "$work/run" && mkdir "$work/run"
  "$bin/send_run_inputs" "$work/run" "$count" "$port" >/dev/null
  timed "$work/tarn.out" /usr/bin/time -f %S -o "$work/sys" env TARN_REGISTRY="$work/run/registry" \
    TARN_HOME="$work/run" "$bin/tarn" send "$work/run/book.tn2" --yes "$@" 2>"$work/tarn.err" ||
    { tail -5 "$work/tarn.err" >&2; exit 1; }
  sys=$(tail -1 "$work/sys")
  iconv -f CP932 -t UTF-8 "$work/run/send.log" | grep -a -q "OK:$count" ||
    { echo "tarn did not send every message" >&2; tail -5 "$work/tarn.err" >&2; exit 1; }
}

best_dry=0
best_sink=0
for round in $(seq "$repeat"); do
  # A dry run keeps no send journal; the send it is compared with keeps none either.
  timed_send --no-journal
  echo "to smtp-sink #$round: messages=$count seconds=$seconds sys=$sys"
  best_sink=$( ((round == 1)) && echo "$seconds" || smaller "$best_sink" "$seconds")
  timed_send --dry-run "$work/run/mail"
  stored=$(find "$work/run/mail" -name '*.eml' | wc -l)
  [ "$stored" = "$count" ] || { echo "the dry run stored $stored of $count messages" >&2; exit 1; }
  echo "dry run     #$round: messages=$count stored=$stored seconds=$seconds sys=$sys"
  best_dry=$( ((round == 1)) && echo "$seconds" || smaller "$best_dry" "$seconds")
done

echo "best seconds for $count messages: dry run $best_dry, to smtp-sink $best_sink"
# Under a minute for 100,000 messages (scaled for another COUNT), and not much
# dearer than a real send although every message is also written to disk.
ratio dry_run_vs_one_minute "$best_dry" "$(awk -v n="$count" 'BEGIN { print 60 * n / 100000 }')" "<=1.0"
ratio dry_run_vs_smtp_sink "$best_dry" "$best_sink" "<=1.5"
