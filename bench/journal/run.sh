#!/usr/bin/env bash
# What the send journal costs: `tarn send --yes` of a book to Postfix's
# smtp-sink, with the journal (the default: a record written and fdatasync'd
# on this machine's disk before every message) and with --no-journal. Same
# book, same sink, same timing from outside the process; the sides run REPEAT
# times, interleaved, and the best of each counts.
#
# Two pairs of rows:
#  - loopback: COUNT recipients straight to a lock-step sink on loopback, where
#    a whole transaction takes well under a millisecond and so nothing can hide
#    a disk sync: the worst case, shown for information.
#  - rtt<D>ms: RELAY_COUNT recipients through bench/delay_relay.py, which holds
#    every chunk D/2 ms in each direction (a server D ms away, as on a local
#    network), to a sink that offers PIPELINING, as real servers do: the fewest
#    round trips a message can take, so the least time to hide the sync in.
#   bench/journal/run.sh [BUILD_DIR]
#   COUNT (2000), RELAY_COUNT (300), RTT_MS (5) and REPEAT (3) in the environment
set -euo pipefail
. "$(dirname "$0")/../lib.sh"
. "$(dirname "$0")/../smtp_sink.sh"
. "$(dirname "$0")/../relay.sh"
count=${COUNT:-2000}
relay_count=${RELAY_COUNT:-300}
rtt_ms=${RTT_MS:-5}
repeat=${REPEAT:-3}
need tarn send_run_inputs /usr/bin/python3
# The journal sits beside the book: the work folder must be on a real disk.
df -T "$work" | tail -1 | awk '{ print "work folder on " $2 " (" $1 ")" }'
uptime

start_sink port
# -4 only so that the sink keeps its PIPELINING (start_sink turns it off by default).
start_sink relayed_port -4
start_relay relay_port "$relayed_port" "$rtt_ms"

# send_case NAME COUNT PORT: a book of COUNT recipients for PORT in $work/NAME.
send_case() {
  mkdir -p "$work/$1"
  "$bin/send_run_inputs" "$work/$1" "$2" "$3"
}
send_case loopback "$count" "$port"
send_case "rtt${rtt_ms}ms" "$relay_count" "$relay_port"

cases=(loopback "rtt${rtt_ms}ms")
rows=(journal no-journal)
declare -A best n
n[loopback]=$count
n[rtt${rtt_ms}ms]=$relay_count
for c in "${cases[@]}"; do
  for row in "${rows[@]}"; do best[$c/$row]=0; done
done
for round in $(seq "$repeat"); do
  for c in "${cases[@]}"; do
    dir=$work/$c
    for row in "${rows[@]}"; do
      extra=()
      [ "$row" = no-journal ] && extra=(--no-journal)
      rm -f "$dir/send.log"
      timed "$dir/$row.out" env TARN_REGISTRY="$dir/registry" TARN_HOME="$dir" \
        "$bin/tarn" send "$dir/book.tn2" --yes "${extra[@]}" 2>"$dir/$row.err"
      iconv -f CP932 -t UTF-8 "$dir/send.log" | grep -a -q "OK:${n[$c]}" ||
        { echo "$c $row did not send every message" >&2; tail -5 "$dir/$row.err" >&2; exit 1; }
      [ ! -e "$dir/book.tn2.journal" ] || { echo "$c $row left a journal behind" >&2; exit 1; }
      rate=$(per_second "${n[$c]}" "$seconds")
      relay=
      [ "$c" = loopback ] || relay=" relay: $(relay_figures)"
      printf '%-8s %-11s #%d: messages=%d seconds=%s rate=%s cpu_seconds=%s%s\n' \
        "$c" "$row" "$round" "${n[$c]}" "$seconds" "$rate" "$cpu_seconds" "$relay"
      best[$c/$row]=$(larger "${best[$c/$row]}" "$rate")
    done
  done
done

uptime
for c in "${cases[@]}"; do
  for row in "${rows[@]}"; do
    printf 'best rate (messages/s) %-8s %-11s %8s\n' "$c" "$row" "${best[$c/$row]}"
  done
done
ratio journal_vs_no_journal_loopback "${best[loopback/journal]}" "${best[loopback/no-journal]}" ">=0.9"
ratio "journal_vs_no_journal_rtt${rtt_ms}ms" "${best[rtt${rtt_ms}ms/journal]}" "${best[rtt${rtt_ms}ms/no-journal]}" ">=0.9"
