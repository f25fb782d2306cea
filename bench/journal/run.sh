#!/usr/bin/env bash
# What the send journal costs: `tarn send --yes` of a COUNT-recipient book to
# Postfix's smtp-sink on loopback, with the journal (the default: a record
# written and fdatasync'd on this machine's disk before every message) and
# with --no-journal. Same book, same sink, same timing from outside the
# process; the sides run REPEAT times, interleaved, and the best of each counts.
#   bench/journal/run.sh [BUILD_DIR]    COUNT (2000) and REPEAT (3) in the environment
set -euo pipefail
. "$(dirname "$0")/../lib.sh"
. "$(dirname "$0")/../smtp_sink.sh"
count=${COUNT:-2000}
repeat=${REPEAT:-3}
need tarn send_run_inputs
start_sink port
# The journal sits beside the book: the work folder must be on a real disk.
df -T "$work" | tail -1 | awk '{ print "work folder on " $2 " (" $1 ")" }'

rows=(journal no-journal)
declare -A best
for row in "${rows[@]}"; do best[$row]=0; done
"$bin/send_run_inputs" "$work" "$count" "$port"
for round in $(seq "$repeat"); do
  for row in "${rows[@]}"; do
    extra=()
    [ "$row" = no-journal ] && extra=(--no-journal)
    rm -f "$work/send.log"
    timed "$work/$row.out" env TARN_REGISTRY="$work/registry" TARN_HOME="$work" \
      "$bin/tarn" send "$work/book.tn2" --yes "${extra[@]}" 2>"$work/$row.err"
    iconv -f CP932 -t UTF-8 "$work/send.log" | grep -a -q "OK:$count" ||
      { echo "$row did not send every message" >&2; tail -5 "$work/$row.err" >&2; exit 1; }
    [ ! -e "$work/book.tn2.journal" ] || { echo "$row left a journal behind" >&2; exit 1; }
    rate=$(per_second "$count" "$seconds")
    printf '%-11s #%d: messages=%d seconds=%s rate=%s cpu_seconds=%s\n' "$row" "$round" "$count" "$seconds" "$rate" "$cpu_seconds"
    best[$row]=$(larger "${best[$row]}" "$rate")
  done
done
for row in "${rows[@]}"; do
  printf 'best rate (messages/s) %-11s %8s\n' "$row" "${best[$row]}"
done
ratio journal_vs_no_journal "${best[journal]}" "${best[no-journal]}" ">=0.9"
