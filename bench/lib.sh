# Sourced by every bench/*/run.sh (after `set -euo pipefail`, with its
# arguments): the build folder, the sample files, a work folder, one way of
# timing every side, and the closing "NAME ratio=X goal=Y" lines.
#
# Sets: build ($1, default the checkout's build/), bin, testdata, work.
export LC_ALL=C
bench_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$bench_root/build}
bin=$build/bin
testdata=${TARN_TESTDATA:-$bench_root/testdata}
bench_name=$(basename "$(cd "$(dirname "$0")" && pwd)")
work=$(mktemp -d)
bench_exit=()
# at_exit COMMAND: run when the script ends (servers stopped before the work
# folder goes).
at_exit() { bench_exit=("$1" "${bench_exit[@]}"); }
trap 'for c in "${bench_exit[@]}"; do eval "$c" || true; done; rm -rf "$work"' EXIT

# need PROGRAM...: each built program (a name in $bin) or installed one (an
# absolute path) must be there.
need() {
  local p
  for p; do
    [[ $p == /* ]] || p=$bin/$p
    [ -x "$p" ] || { echo "bench/$bench_name: $p is missing" >&2; exit 1; }
  done
}
need /usr/bin/time

# timed OUT COMMAND...: runs COMMAND as a whole process, its standard output
# into OUT, and sets `seconds` (wall clock, read from outside the process),
# `cpu_seconds` (its user and system time, which neighbours on a shared machine
# disturb less) and `peak_kb` (its peak resident memory). Every side of a
# comparison is timed so.
timed() {
  local out=$1 t0 t1 usage
  shift
  t0=$EPOCHREALTIME
  /usr/bin/time -f '%M %U %S' -o "$work/.usage" "$@" >"$out"
  t1=$EPOCHREALTIME
  seconds=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
  usage=$(tail -1 "$work/.usage")
  peak_kb=${usage%% *}
  cpu_seconds=$(awk '{ printf "%.2f", $2 + $3 }' <<<"$usage")
}

# per_second COUNT SECONDS
per_second() { awk -v n="$1" -v s="$2" 'BEGIN { printf "%.1f", n / s }'; }
# larger A B, smaller A B
larger() { awk -v a="$1" -v b="$2" 'BEGIN { print (b > a ? b : a) }'; }
smaller() { awk -v a="$1" -v b="$2" 'BEGIN { print (b < a ? b : a) }'; }

# ratio NAME A B GOAL: one closing line "NAME ratio=A/B goal=GOAL", where GOAL
# is the bound the ratio must meet (">=0.5", "<1.5").
ratio() {
  awk -v n="$1" -v a="$2" -v b="$3" -v g="$4" \
    'BEGIN { printf "%s ratio=" (a / b < 0.1 ? "%.3f" : "%.2f") " goal=%s\n", n, a / b, g }'
}
# figure NAME A B: "NAME A/B=X", a ratio shown for information (no goal).
figure() {
  awk -v n="$1" -v a="$2" -v b="$3" 'BEGIN { printf "%s A/B=%.2f (for information)\n", n, a / b }'
}
