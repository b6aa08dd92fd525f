#!/usr/bin/env bash
# Installs what is needed, builds the monitor and starts it on the simulated
# demo station (in ./wx118-demo; a second run continues the same log).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --parallel "$(nproc)" --target wx118
exec ./build/wx118 --demo "$@"
