#!/usr/bin/env bash
# Builds the benchmarks and runs them; each prints its figures and ends with
# lines "NAME ratio=X goal=Y", which are gathered at the end with a verdict.
#   bash bench/run.sh [NAME...]     (default: every bench/*/run.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
# The yardsticks: Postfix's smtp-source and smtp-sink (installed with "No
# configuration", so no mail system is set up or started), GNU adns's
# adnshost, and GNU time for the peak memory of whole processes.
missing=()
for p in postfix adns-tools time; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "postfix postfix/main_mailer_type select No configuration" | debconf-set-selections
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
# The release build (the one scripts/test.sh also builds last).
build=build-release
cmake --preset release >/dev/null
cmake --build "$build" -j"$(nproc)"
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  for d in bench/*/; do [ -f "$d/run.sh" ] && names+=("$(basename "$d")"); done
fi
logs=$build/bench-logs
mkdir -p "$logs"
for n in "${names[@]}"; do
  echo "=== bench/$n"
  bash "bench/$n/run.sh" "$PWD/$build" | tee "$logs/$n.log"
done
echo "=== ratios (goal: the bound the ratio must meet)"
for n in "${names[@]}"; do grep -E '^[A-Za-z0-9_.-]+ ratio=[0-9.]+ goal=' "$logs/$n.log"; done |
awk '{
  v = substr($2, 7) + 0; goal = substr($3, 6)
  if (goal ~ /^>=/) ok = v >= substr(goal, 3) + 0
  else if (goal ~ /^<=/) ok = v <= substr(goal, 3) + 0
  else if (goal ~ /^</) ok = v < substr(goal, 2) + 0
  else ok = v > substr(goal, 2) + 0
  printf "%s %s\n", $0, ok ? "(held)" : "(MISSED)" }'
