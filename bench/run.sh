#!/usr/bin/env bash
# Builds the benchmarks and prints every benchmark's figures.
#   bash bench/run.sh [NAME...]     (default: all of bench/*/run.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
# The yardsticks: Postfix's smtp-source/smtp-sink (no mail system is configured or
# started) and GNU adns's adnshost.
if ! command -v smtp-sink >/dev/null && [ ! -x /usr/sbin/smtp-sink ]; then
  echo "postfix postfix/main_mailer_type select No configuration" | debconf-set-selections
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends postfix adns-tools
fi
command -v adnshost >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -q adns-tools
build=build-bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARN_BENCH=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  for d in bench/*/; do [ -f "$d/run.sh" ] && names+=("$(basename "$d")"); done
fi
for n in "${names[@]}"; do
  echo "=== bench/$n"
  bash "bench/$n/run.sh" "$PWD/$build"
done
