#!/usr/bin/env bash
# Saves and loads a 99,999-record address book and compares with Python's csv
# module reading the same records; each side times itself inside its process.
# Builds nothing: $1 is a build folder in which tn2_bench was built (default the
# build folder of the checkout).
set -euo pipefail
. "$(dirname "$0")/../lib.sh"
here=$(cd "$(dirname "$0")" && pwd)
need tn2_bench /usr/bin/python3
bench=$bin/tn2_bench
csv=$testdata/big/recipients_100k.csv
runs=3

best() { sort -n | head -1; }
field() { awk -v k="$1" '$1 == k { print $2 }'; }

save_ms=$(for _ in $(seq $runs); do "$bench" save "$csv" "$work/book.tn2" | field save_ms; done | best)
"$bench" save "$csv" "$work/book.tn2" >"$work/save.txt"
size=$(stat -c %s "$work/book.tn2")
for _ in $(seq $runs); do "$bench" load "$work/book.tn2"; done >"$work/load.txt"
load_ms=$(field load_ms <"$work/load.txt" | best)
peak_kb=$(field load_peak_rss_kb <"$work/load.txt" | best)
start_kb=$(field load_start_rss_kb <"$work/load.txt" | best)
python_ms=$(/usr/bin/python3 "$here/python_csv.py" "$csv" $runs | field python_csv_ms)

echo "records                 99999 (5 groups x 10000 members)"
echo "file size               $size bytes"
echo "python csv read (best)  $python_ms ms"
echo "save (best of $runs)       $save_ms ms"
echo "load (best of $runs)       $load_ms ms"
echo "load peak RSS           $peak_kb KiB (process start $start_kb KiB)"
awk -v p="$peak_kb" -v s="$size" -v b="$start_kb" 'BEGIN {
  printf "peak / file size        %.2f (growth over start %.2f)\n", p * 1024 / s, (p - b) * 1024 / s }'
echo "save peak RSS            $(field save_peak_rss_kb <"$work/save.txt") KiB (before saving, with the book built: $(field save_start_rss_kb <"$work/save.txt") KiB)"
ratio addressbook_load_vs_python_read "$python_ms" "$load_ms" ">=1"
ratio addressbook_save_vs_python_read "$python_ms" "$save_ms" ">=1"
ratio addressbook_load_peak_vs_file_size "$((peak_kb * 1024))" "$size" "<3"
