#!/usr/bin/env bash
# Reads all rows of the 100,000-row recipient CSV (Shift_JIS) and of a
# 100,000-row SQLite table (through unixODBC and the SQLite driver) as text,
# and Python's csv module reading the same CSV. Python decodes CP932 to
# Unicode text; our reader keeps Shift_JIS text (as the core does), so it is
# also run decoding every value to UTF-8, and that run is the one compared.
# Each side times itself the same way (wall and CPU time around opening and
# reading); the best of three runs counts, and the ratio is taken on CPU time,
# which neighbours on a shared machine disturb least. Builds nothing.
#   bash bench/db_read/run.sh [BUILD-DIR]   (default the build folder of the checkout)
set -euo pipefail
. "$(dirname "$0")/../lib.sh"
need db_read_bench /usr/bin/python3
data=$testdata/big
runs=3

best() { sort -g | tail -1; }
field() { awk -v k="$1" '$1 == k { print $2 }'; }

"$bin/db_read_bench" sqlite "$work/bench.db" 100000 >/dev/null  # creates the table
for _ in $(seq $runs); do
  "$bin/db_read_bench" csv "$data" recipients_100k.csv >>"$work/csv.txt"
  "$bin/db_read_bench" csv-utf8 "$data" recipients_100k.csv >>"$work/csv_utf8.txt"
  "$bin/db_read_bench" sqlite "$work/bench.db" 100000 >>"$work/odbc.txt"
  /usr/bin/python3 - "$data/recipients_100k.csv" >>"$work/python.txt" <<'PY'
import csv, sys, time
wall, cpu = time.perf_counter(), time.process_time()
rows = 0
with open(sys.argv[1], encoding="cp932", newline="") as f:
    reader = csv.reader(f)
    next(reader)
    for row in reader:
        rows += 1
print("python_rows", rows)
print("python_rows_per_s", round(rows / (time.perf_counter() - wall)))
print("python_rows_per_cpu_s", round(rows / (time.process_time() - cpu)))
PY
done
for side in csv csv_utf8 odbc_sqlite python; do
  file=$work/${side%_sqlite}.txt
  for rows in $(field "${side}_rows" <"$file"); do
    [ "$rows" = 100000 ] || { echo "$side read $rows rows, not 100000" >&2; exit 1; }
  done
done

row() {  # LABEL FILE KEY
  printf "%-58s %12s   %12s\n" "$1" "$(field "$3_rows_per_s" <"$2" | best)" "$(field "$3_rows_per_cpu_s" <"$2" | best)"
}
printf "%-58s %12s   %12s\n" "best of $runs, 100000 rows" "rows/s (wall)" "rows/s (CPU)"
row "csv, tarn: values as Shift_JIS text (no decoding)" "$work/csv.txt" csv
row "csv, tarn: values decoded from CP932 to UTF-8" "$work/csv_utf8.txt" csv_utf8
row "odbc sqlite, tarn: values as text" "$work/odbc.txt" odbc_sqlite
row "python csv module: decoded from CP932 to str" "$work/python.txt" python
ratio db_read_csv_vs_python "$(field csv_utf8_rows_per_cpu_s <"$work/csv_utf8.txt" | best)" \
  "$(field python_rows_per_cpu_s <"$work/python.txt" | best)" ">=3"
