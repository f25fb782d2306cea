#!/usr/bin/env bash
# A whole personalised send: `tarn send --yes` of a COUNT-recipient book with
# merge fields and a script branch to Postfix's smtp-sink on loopback. In the
# same run, against the same sink: the engine alone sending the very messages
# `tarn send` sends (already personalised by send_run_inputs), a Python
# smtplib mail merge of the same recipients, and Postfix's smtp-source (one
# session, then four side by side) with messages of about the same size. The
# sink offers PIPELINING: `tarn send` and the engine run once with it (the
# default) and once with it turned off (Option\NoPipelining,
# engine_throughput --lock-step); `tarn send` runs with one session and with
# four (Option\SmtpSessions). smtp-source has no pipelining of its own.
#
# `tarn send` keeps a journal by default: a disk sync per message before its
# end of data, which the engine alone and smtp-source do not do. The rows with
# -no-journal (tarn send --no-journal) do the same work as the engine alone,
# so the comparison with the engine uses them; the journal's rows show what
# the sync costs (bench/journal measures it on its own).
#
# Loopback answers in microseconds, so there the machine's two cores are the
# limit, shared by client and sink. A server on a network answers in
# milliseconds, which is where pipelining and sessions pay: the rtt rows send
# RELAY_COUNT recipients through bench/delay_relay.py holding every chunk
# RTT_MS/2 ms each way in front of the same kind of sink.
#
# Every side runs REPEAT times, interleaved, timed as a whole process from
# outside; the best of each counts.
#   bench/send_run/run.sh [BUILD_DIR]
#   COUNT (10000), RELAY_COUNT (500), RTT_MS (10) and REPEAT (3) in the environment
set -euo pipefail
. "$(dirname "$0")/../lib.sh"
. "$(dirname "$0")/../smtp_sink.sh"
. "$(dirname "$0")/../relay.sh"
here=$(cd "$(dirname "$0")" && pwd)
count=${COUNT:-10000}
relay_count=${RELAY_COUNT:-500}
rtt_ms=${RTT_MS:-10}
repeat=${REPEAT:-3}
source=/usr/sbin/smtp-source
need tarn send_run_inputs engine_throughput /usr/bin/python3 "$source"
# -4 only so that the sink keeps its PIPELINING (start_sink turns it off by default).
start_sink port -4
start_sink relayed_port -4
start_relay relay_port "$relayed_port" "$rtt_ms"
rtt=rtt${rtt_ms}ms
mkdir -p "$work/$rtt"

# One row per side: its label in `rows`, its command in command_for and the
# check that it sent every message in sent_all. $dir and $n are the case's
# folder and recipient count; $size the length smtp-source gives its messages.
rows=(tarn-lockstep engine-lockstep tarn-send tarn-no-journal tarn-4-sessions tarn-4-no-journal
  engine python smtp-source smtp-source-4)
rtt_rows=(tarn-send tarn-4-sessions smtp-source)
command_for() {  # ROW: sets cmd
  local target=$port
  [ "$dir" = "$work" ] || target=$relay_port
  case $1 in
    tarn-lockstep) cmd=(env TARN_REGISTRY="$dir/registry-lockstep" TARN_HOME="$dir" "$bin/tarn" send "$dir/book.tn2" --yes --no-journal) ;;
    engine-lockstep) cmd=("$bin/engine_throughput" 127.0.0.1 "$target" --messages "$dir/messages.bin" --lock-step) ;;
    tarn-send) cmd=(env TARN_REGISTRY="$dir/registry" TARN_HOME="$dir" "$bin/tarn" send "$dir/book.tn2" --yes) ;;
    tarn-no-journal) cmd=(env TARN_REGISTRY="$dir/registry" TARN_HOME="$dir" "$bin/tarn" send "$dir/book.tn2" --yes --no-journal) ;;
    tarn-4-sessions) cmd=(env TARN_REGISTRY="$dir/registry-4" TARN_HOME="$dir" "$bin/tarn" send "$dir/book.tn2" --yes) ;;
    tarn-4-no-journal) cmd=(env TARN_REGISTRY="$dir/registry-4" TARN_HOME="$dir" "$bin/tarn" send "$dir/book.tn2" --yes --no-journal) ;;
    engine) cmd=("$bin/engine_throughput" 127.0.0.1 "$target" --messages "$dir/messages.bin") ;;
    python) cmd=(/usr/bin/python3 "$here/python_merge.py" "$dir" "$target") ;;
    smtp-source) cmd=("$source" -d -s 1 -m "$n" -l "$size" -f sender@example.jp -t user@example.jp 127.0.0.1:"$target") ;;
    smtp-source-4) cmd=("$source" -d -s 4 -m "$n" -l "$size" -f sender@example.jp -t user@example.jp 127.0.0.1:"$target") ;;
  esac
}
sent_all() {  # ROW OUTPUT-FILE
  case $1 in
    tarn-*) iconv -f CP932 -t UTF-8 "$dir/send.log" | grep -a -q "OK:$n" ;;
    smtp-source*) true ;;  # it stops with an error of its own on a failure
    *) grep -q "^messages=$n\b" "$2" ;;
  esac
}
# make_case DIR COUNT PORT: the book, the messages and the three registries.
make_case() {
  "$bin/send_run_inputs" "$1" "$2" "$3"  # a fresh book and send log each round
  cp "$1/registry" "$1/registry-lockstep"
  TARN_REGISTRY="$1/registry-lockstep" "$bin/tarn" config set 'Option\NoPipelining' 1 --dword >/dev/null
  cp "$1/registry" "$1/registry-4"
  TARN_REGISTRY="$1/registry-4" "$bin/tarn" config set 'Option\SmtpSessions' 4 --dword >/dev/null
}

declare -A best
for row in "${rows[@]}"; do best[$row]=0; done
for row in "${rtt_rows[@]}"; do best[$rtt/$row]=0; done
for round in $(seq "$repeat"); do
  for c in loopback "$rtt"; do
    if [ "$c" = loopback ]; then
      dir=$work n=$count case_rows=("${rows[@]}")
      make_case "$dir" "$n" "$port"
    else
      dir=$work/$rtt n=$relay_count case_rows=("${rtt_rows[@]}")
      make_case "$dir" "$n" "$relay_port"
    fi
    # The personalised messages' average length plus their headers' (about 400 bytes).
    size=$(( $(stat -c %s "$dir/messages.bin") / n + 400 ))
    for row in "${case_rows[@]}"; do
      command_for "$row"
      rm -f "$dir/send.log"
      [ "$c" = loopback ] || relay_figures >/dev/null
      timed "$dir/$row.out" "${cmd[@]}" 2>"$dir/$row.err"
      sent_all "$row" "$dir/$row.out" || { echo "$c $row did not send every message" >&2; tail -5 "$dir/$row.err" >&2; exit 1; }
      rate=$(per_second "$n" "$seconds")
      key=$row relay=
      [ "$c" = loopback ] || { key=$rtt/$row; relay=" relay: $(relay_figures)"; }
      printf '%-8s %-15s #%d: messages=%d seconds=%s rate=%s peak_rss_kb=%s%s\n' "$c" "$row" "$round" "$n" "$seconds" "$rate" "$peak_kb" "$relay"
      best[$key]=$(larger "${best[$key]}" "$rate")
    done
  done
done
for row in "${rows[@]}"; do
  printf 'best rate (messages/s) loopback %-15s %8s\n' "$row" "${best[$row]}"
done
for row in "${rtt_rows[@]}"; do
  printf 'best rate (messages/s) %-8s %-15s %8s\n' "$rtt" "$row" "${best[$rtt/$row]}"
done
ratio send_run_tarn_vs_engine "${best[tarn-no-journal]}" "${best[engine]}" ">=0.9"
ratio send_run_tarn_vs_engine_lockstep "${best[tarn-lockstep]}" "${best[engine-lockstep]}" ">=0.9"
ratio send_run_tarn_pipelined_vs_lockstep "${best[tarn-no-journal]}" "${best[tarn-lockstep]}" ">=1.0"
ratio send_run_tarn_vs_python "${best[tarn-send]}" "${best[python]}" ">=1.5"
ratio send_run_tarn_4_sessions_vs_smtp_source "${best[tarn-4-sessions]}" "${best[smtp-source]}" ">=3"
figure send_run_tarn_journal_vs_no_journal "${best[tarn-send]}" "${best[tarn-no-journal]}"
figure send_run_tarn_vs_smtp_source "${best[tarn-send]}" "${best[smtp-source]}"
figure send_run_tarn_4_no_journal_vs_smtp_source "${best[tarn-4-no-journal]}" "${best[smtp-source]}"
figure send_run_tarn_4_sessions_vs_smtp_source_4 "${best[tarn-4-sessions]}" "${best[smtp-source-4]}"
ratio "send_run_${rtt}_tarn_4_sessions_vs_smtp_source" "${best[$rtt/tarn-4-sessions]}" "${best[$rtt/smtp-source]}" ">=3"
ratio "send_run_${rtt}_tarn_4_sessions_vs_1" "${best[$rtt/tarn-4-sessions]}" "${best[$rtt/tarn-send]}" ">=3"
