#!/usr/bin/env bash
# A whole personalised send: `tarn send --yes` of a COUNT-recipient book with
# merge fields and a script branch to Postfix's smtp-sink on loopback. In the
# same run, against the same sink: the engine alone sending the very messages
# `tarn send` sends (already personalised by send_run_inputs), and a Python
# smtplib mail merge of the same recipients. The sink offers PIPELINING:
# `tarn send` and the engine run once with it (the default) and once with it
# turned off (Option\NoPipelining, engine_throughput --lock-step). Every side
# runs REPEAT times, interleaved, timed as a whole process from outside; the
# best of each counts.
#   bench/send_run/run.sh [BUILD_DIR]    COUNT (10000) and REPEAT (3) in the environment
set -euo pipefail
. "$(dirname "$0")/../lib.sh"
. "$(dirname "$0")/../smtp_sink.sh"
here=$(cd "$(dirname "$0")" && pwd)
count=${COUNT:-10000}
repeat=${REPEAT:-3}
need tarn send_run_inputs engine_throughput /usr/bin/python3
# -4 only so that the sink keeps its PIPELINING (start_sink turns it off by default).
start_sink port -4

# One row per side: its label in `rows`, its command in command_for and the
# check that it sent every message in sent_all; later rows are added the same way.
rows=(tarn-lockstep engine-lockstep tarn-send engine python)
command_for() {  # ROW: sets cmd
  case $1 in
    tarn-lockstep) cmd=(env TARN_REGISTRY="$work/registry-lockstep" TARN_HOME="$work" "$bin/tarn" send "$work/book.tn2" --yes) ;;
    engine-lockstep) cmd=("$bin/engine_throughput" 127.0.0.1 "$port" --messages "$work/messages.bin" --lock-step) ;;
    tarn-send) cmd=(env TARN_REGISTRY="$work/registry" TARN_HOME="$work" "$bin/tarn" send "$work/book.tn2" --yes) ;;
    engine) cmd=("$bin/engine_throughput" 127.0.0.1 "$port" --messages "$work/messages.bin") ;;
    python) cmd=(/usr/bin/python3 "$here/python_merge.py" "$work" "$port") ;;
  esac
}
sent_all() {  # ROW OUTPUT-FILE
  case $1 in
    tarn-*) iconv -f CP932 -t UTF-8 "$work/send.log" | grep -a -q "OK:$count" ;;
    *) grep -q "^messages=$count\b" "$2" ;;
  esac
}

declare -A best peak
for row in "${rows[@]}"; do best[$row]=0 peak[$row]=0; done
for round in $(seq "$repeat"); do
  "$bin/send_run_inputs" "$work" "$count" "$port"  # a fresh book and send log each round
  cp "$work/registry" "$work/registry-lockstep"
  TARN_REGISTRY="$work/registry-lockstep" "$bin/tarn" config set 'Option\NoPipelining' 1 --dword >/dev/null
  for row in "${rows[@]}"; do
    command_for "$row"
    timed "$work/$row.out" "${cmd[@]}" 2>"$work/$row.err"
    sent_all "$row" "$work/$row.out" || { echo "$row did not send every message" >&2; tail -5 "$work/$row.err" >&2; exit 1; }
    rate=$(per_second "$count" "$seconds")
    printf '%-15s #%d: messages=%d seconds=%s rate=%s peak_rss_kb=%s\n' "$row" "$round" "$count" "$seconds" "$rate" "$peak_kb"
    best[$row]=$(larger "${best[$row]}" "$rate")
    peak[$row]=$(larger "${peak[$row]}" "$peak_kb")
  done
done
for row in "${rows[@]}"; do
  printf 'best rate (messages/s) %-15s %8s   peak RSS %s KiB\n' "$row" "${best[$row]}" "${peak[$row]}"
done
ratio send_run_tarn_vs_engine "${best[tarn-send]}" "${best[engine]}" ">=0.9"
ratio send_run_tarn_vs_engine_lockstep "${best[tarn-lockstep]}" "${best[engine-lockstep]}" ">=0.9"
ratio send_run_tarn_pipelined_vs_lockstep "${best[tarn-send]}" "${best[tarn-lockstep]}" ">=1.0"
ratio send_run_tarn_vs_python "${best[tarn-send]}" "${best[python]}" ">=1.5"
