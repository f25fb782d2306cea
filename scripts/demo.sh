#!/usr/bin/env bash
# The demonstration send: installs what is needed, builds `tarn`, then sends the
# sample address book and message to the built-in capture server on a free
# loopback port, with a temporary settings registry (nothing outside the
# temporary folder is touched).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target tarn Zeph TarnRas TarnMxvrfy
exec build/bin/tarn demo "$@"
