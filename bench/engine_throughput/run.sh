#!/usr/bin/env bash
# Engine throughput: one session of COUNT messages with a SIZE-byte body to
# Postfix's smtp-sink on loopback, from our engine (engine_throughput) and from
# Postfix's smtp-source (-l SIZE, one session, the same sink without
# PIPELINING). Both are timed as whole processes, REPEAT times interleaved; the
# best of each is compared.
# COUNT, SIZE and REPEAT in the environment change the defaults 5000, 1500, 3.
#   bench/engine_throughput/run.sh [BUILD_DIR]   (default the build folder of the checkout)
set -euo pipefail
. "$(dirname "$0")/../lib.sh"
. "$(dirname "$0")/../smtp_sink.sh"
count=${COUNT:-5000}
size=${SIZE:-1500}
repeat=${REPEAT:-3}
source=/usr/sbin/smtp-source
need engine_throughput "$source"
start_sink port

# One row per client: its label in `rows` and its command in command_for;
# later rows (other sinks, other session counts) are added the same way.
rows=(engine smtp-source)
command_for() {  # ROW: sets cmd
  case $1 in
    engine) cmd=("$bin/engine_throughput" 127.0.0.1 "$port" "$count" "$size") ;;
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
    printf '%-12s #%d: messages=%d seconds=%s rate=%s cpu_ms_per_message=%s %s\n' "$row" "$round" \
      "$count" "$seconds" "$rate" "$(awk -v c="$cpu_seconds" -v n="$count" 'BEGIN { printf "%.3f", c * 1000 / n }')" \
      "$(cat "$work/$row.out")"
    best[$row]=$(larger "${best[$row]}" "$rate")
  done
done
for row in "${rows[@]}"; do printf 'best rate (messages/s) %-12s %s\n' "$row" "${best[$row]}"; done
ratio engine_vs_smtp_source "${best[engine]}" "${best[smtp-source]}" ">=0.5"
