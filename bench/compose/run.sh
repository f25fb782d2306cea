#!/usr/bin/env bash
# Composing and sizing a message with a 100 KB Japanese body and a 1 MB
# attachment: the engine's writer against Python's email package.
#   bash bench/compose/run.sh [BUILD-DIR] [N]    (default the build folder of the checkout, 40)
set -euo pipefail
build=${1:-$(cd "$(dirname "$0")/../.." && pwd)/build}
n=${2:-40}
here=$(cd "$(dirname "$0")" && pwd)
[ -x "$build/bin/compose_bench" ] || { echo "bench/compose: $build/bin/compose_bench is not built" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
engine=$("$build/bin/compose_bench" "$work" "$n")
python=$(/usr/bin/python3 "$here/python_compose.py" "$work" "$n")
grep -v '^RATE' <<<"$engine"
grep -v '^RATE' <<<"$python"
awk -v e="$(sed -n 's/^RATE //p' <<<"$engine")" -v p="$(sed -n 's/^RATE //p' <<<"$python")" \
  'BEGIN { printf "engine / python: %.1fx\n", e / p }'
