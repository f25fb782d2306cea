#!/usr/bin/env bash
# Engine throughput: one session of COUNT messages with a SIZE-byte body to
# Postfix's smtp-sink on loopback, every client against the same sink, which
# offers PIPELINING:
#   engine-lockstep  the exports with pipelining turned off (every command
#                    waits for its reply), driven as the send driver drives them
#   engine-pipelined the exports with pipelining on: one message per job, its
#                    envelope in one write and its content in the next
#   engine-queued    the engine's C++ class with the next message queued, so
#                    that its commands follow this one's content (one round
#                    trip per message)
#   pool-1, pool-4   the send run's pool of sessions (sendcore/driver), with
#                    one and with four sessions side by side
#   smtp-source      Postfix's load generator (-l SIZE, one session). It has
#                    no pipelining of its own, so it has a single row.
# All are timed as whole processes, REPEAT times interleaved; the best of each
# is compared. COUNT, SIZE and REPEAT in the environment change the defaults
# 5000, 1500, 3.
#   bench/engine_throughput/run.sh [BUILD_DIR]   (default the build folder of the checkout)
set -euo pipefail
. "$(dirname "$0")/../lib.sh"
. "$(dirname "$0")/../smtp_sink.sh"
count=${COUNT:-5000}
size=${SIZE:-1500}
repeat=${REPEAT:-3}
source=/usr/sbin/smtp-source
need engine_throughput engine_queued engine_pool "$source"
# -4 only so that the sink keeps its PIPELINING (start_sink turns it off by default).
start_sink port -4

rows=(engine-lockstep engine-pipelined engine-queued pool-1 pool-4 smtp-source)
command_for() {  # ROW: sets cmd
  case $1 in
    engine-lockstep) cmd=("$bin/engine_throughput" 127.0.0.1 "$port" "$count" "$size" --lock-step) ;;
    engine-pipelined) cmd=("$bin/engine_throughput" 127.0.0.1 "$port" "$count" "$size") ;;
    engine-queued) cmd=("$bin/engine_queued" 127.0.0.1 "$port" "$count" "$size") ;;
    pool-1) cmd=("$bin/engine_pool" 127.0.0.1 "$port" "$count" "$size" 1) ;;
    pool-4) cmd=("$bin/engine_pool" 127.0.0.1 "$port" "$count" "$size" 4) ;;
    smtp-source) cmd=("$source" -d -s 1 -m "$count" -l "$size" -f sender@example.jp -t user@example.jp
      127.0.0.1:"$port") ;;
  esac
}

declare -A best
for row in "${rows[@]}"; do best[$row]=0; done
for round in $(seq "$repeat"); do
  for row in "${rows[@]}"; do
    command_for "$row"
    timed "$work/$row.out" "${cmd[@]}"
    rate=$(per_second "$count" "$seconds")
    printf '%-16s #%d: messages=%d seconds=%s rate=%s cpu_ms_per_message=%s %s\n' "$row" "$round" \
      "$count" "$seconds" "$rate" "$(awk -v c="$cpu_seconds" -v n="$count" 'BEGIN { printf "%.3f", c * 1000 / n }')" \
      "$(cat "$work/$row.out")"
    best[$row]=$(larger "${best[$row]}" "$rate")
  done
done
for row in "${rows[@]}"; do printf 'best rate (messages/s) %-16s %s\n' "$row" "${best[$row]}"; done
ratio engine_lockstep_vs_smtp_source "${best[engine-lockstep]}" "${best[smtp-source]}" ">=0.5"
ratio engine_pipelined_vs_smtp_source "${best[engine-pipelined]}" "${best[smtp-source]}" ">=1.5"
ratio engine_queued_vs_smtp_source "${best[engine-queued]}" "${best[smtp-source]}" ">=1.5"
ratio pool_4_sessions_vs_smtp_source "${best[pool-4]}" "${best[smtp-source]}" ">=3"
