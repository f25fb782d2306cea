#!/usr/bin/env bash
# Reads all rows of the 100,000-row recipient CSV and of a 100,000-row SQLite
# table (through unixODBC and the SQLite driver) as text, and Python's csv module
# (cp932) reading the same CSV. Builds nothing: $1 is a build folder in which
# db_read_bench was built (default the build folder of the checkout).
#
# Rates are given per second of wall time and per second of CPU time; on a
# machine shared with other work the CPU figures are the ones to compare.
set -euo pipefail
build=${1:-$(cd "$(dirname "$0")/../.." && pwd)/build}
here=$(cd "$(dirname "$0")" && pwd)
bench=$build/bin/db_read_bench
data=${TARN_TESTDATA:-$here/../../../shared/testdata}/big
runs=3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

best() { sort -g | tail -1; }
field() { awk -v k="$1" '$1 == k { print $2 }'; }

for _ in $(seq $runs); do "$bench" csv "$data" recipients_100k.csv; done >"$work/csv.txt"
"$bench" sqlite "$work/bench.db" 100000 >/dev/null  # creates the table
for _ in $(seq $runs); do "$bench" sqlite "$work/bench.db" 100000; done >"$work/odbc.txt"
for _ in $(seq $runs); do
  /usr/bin/python3 - "$data/recipients_100k.csv" <<'PY'
import csv, sys, time
wall, cpu = time.perf_counter(), time.process_time()
rows = 0
with open(sys.argv[1], encoding="cp932", newline="") as f:
    reader = csv.reader(f)
    next(reader)
    for row in reader:
        rows += 1
print("python_rows_per_s", round(rows / (time.perf_counter() - wall)))
print("python_rows_per_cpu_s", round(rows / (time.process_time() - cpu)))
PY
done >"$work/python.txt"

csv_wall=$(field csv_rows_per_s <"$work/csv.txt" | best)
csv_cpu=$(field csv_rows_per_cpu_s <"$work/csv.txt" | best)
odbc_wall=$(field odbc_sqlite_rows_per_s <"$work/odbc.txt" | best)
odbc_cpu=$(field odbc_sqlite_rows_per_cpu_s <"$work/odbc.txt" | best)
py_wall=$(field python_rows_per_s <"$work/python.txt" | best)
py_cpu=$(field python_rows_per_cpu_s <"$work/python.txt" | best)

echo "best of $runs                                     rows/s (wall)   rows/s (CPU)"
printf "csv, tarn (100000 rows, every value as text)     %12s   %12s\n" "$csv_wall" "$csv_cpu"
printf "odbc sqlite, tarn (100000 rows, values as text)  %12s   %12s\n" "$odbc_wall" "$odbc_cpu"
printf "python csv module (cp932, same csv)              %12s   %12s\n" "$py_wall" "$py_cpu"
awk -v cw="$csv_wall" -v pw="$py_wall" -v cc="$csv_cpu" -v pc="$py_cpu" \
  'BEGIN { printf "csv / python (goal 3x)                           %11.1fx   %11.1fx\n", cw / pw, cc / pc }'
