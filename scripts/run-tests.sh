#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs what is needed, builds everything and runs the whole test suite,
# then the same suite under AddressSanitizer and UndefinedBehaviorSanitizer
# (build-asan/) and every fuzz target for 30 seconds (build-fuzz/).
# WX118_SKIP_ASAN=1 or WX118_SKIP_FUZZ=1 leaves a stage out;
# WX118_FUZZ_SECONDS sets the time per fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
# The first stage is the ci preset (build/, warnings as errors).
cmake --preset ci >/dev/null
cmake --build build --parallel "$(nproc)"
ctest --test-dir build --output-on-failure --parallel "$(nproc)" --timeout 600

if [ "${WX118_SKIP_ASAN:-0}" != 1 ]; then
  cmake --preset asan >/dev/null
  cmake --build --preset asan --parallel "$(nproc)"
  ctest --preset asan --parallel "$(nproc)"
fi
if [ "${WX118_SKIP_FUZZ:-0}" != 1 ]; then
  ./scripts/run-fuzz.sh "${WX118_FUZZ_SECONDS:-30}"
fi
