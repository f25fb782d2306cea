#!/usr/bin/env bash
# The row source of a database send: `tarn dbsend` of the 100,000-row recipient
# CSV against `tarn send` of the same recipients as an address book: rows 1 to
# 99,999, as many as an address book holds (the rows
# read by the database send's own reader and written as a book, so that both
# sides merge the same values into the same message), both to Postfix's
# smtp-sink on loopback, in the same run. Each side runs REPEAT times,
# interleaved, timed as a whole process from outside; the best of each counts.
# Neither side keeps a send journal (--no-journal): its per-message sync is
# the same on both sides and is measured by bench/journal.
# The ratio is taken on processor time (user + system), which the neighbours of
# a shared machine disturb less than the wall clock; both are printed.
#   bench/dbsend/run.sh [BUILD_DIR]    REPEAT (3) in the environment
set -euo pipefail
. "$(dirname "$0")/../lib.sh"
. "$(dirname "$0")/../smtp_sink.sh"
repeat=${REPEAT:-3}
need tarn dbsend_bench_inputs
start_sink port -4

count=$("$bin/dbsend_bench_inputs" "$work" "$port" "$testdata/big" recipients_100k.csv)
rows=(send dbsend)
command_for() {  # ROW: sets cmd
  case $1 in
    send) cmd=("$bin/tarn" send "$work/book.tn2" --yes --no-journal) ;;
    dbsend) cmd=("$bin/tarn" dbsend --type 4 --source "$testdata/big/recipients_100k.csv"
                 --map 会社名=会社名 --map 部署名=部署名 --map 役職=役職 --map 姓=姓 --map 名=名
                 --map E-Mail=E-Mail --map Freefield1=Freefield1 --map Freefield2=Freefield2
                 --honorific 様 --from-row 1 --to-row "$count" --yes --no-journal) ;;
  esac
}

declare -A best_wall best_cpu
for row in "${rows[@]}"; do best_wall[$row]=1e9 best_cpu[$row]=1e9; done
for round in $(seq "$repeat"); do
  for row in "${rows[@]}"; do
    command_for "$row"
    rm -f "$work/send.log"
    timed "$work/$row.out" env TARN_REGISTRY="$work/registry" TARN_HOME="$work" "${cmd[@]}" 2>"$work/$row.err"
    iconv -f CP932 -t UTF-8 "$work/send.log" | grep -a -q "OK:$count件 NG:0件" ||
      { echo "$row did not send every message" >&2; tail -5 "$work/$row.err" >&2; exit 1; }
    printf '%-7s #%d: messages=%d seconds=%s cpu_seconds=%s rate=%s peak_rss_kb=%s\n' "$row" "$round" \
      "$count" "$seconds" "$cpu_seconds" "$(per_second "$count" "$seconds")" "$peak_kb"
    best_wall[$row]=$(smaller "${best_wall[$row]}" "$seconds")
    best_cpu[$row]=$(smaller "${best_cpu[$row]}" "$cpu_seconds")
  done
done
for row in "${rows[@]}"; do
  printf 'best %-7s wall %8s s   cpu %8s s\n' "$row" "${best_wall[$row]}" "${best_cpu[$row]}"
done
ratio dbsend_wall_vs_send "${best_wall[dbsend]}" "${best_wall[send]}" "<1.05"
ratio dbsend_cpu_vs_send "${best_cpu[dbsend]}" "${best_cpu[send]}" "<1.05"
