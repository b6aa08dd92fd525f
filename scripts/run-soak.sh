#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The long soak: a simulated month (or the number of days given) of the whole
# station with faults, restarts, clock jumps and the tick wrap, on the fake
# clock. CI runs a week of it as part of test_app.
#   scripts/run-soak.sh [DAYS] [BUILD_DIR]
set -eu
days=${1:-30}
here=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-$here/build}
[ -d "$build" ] || cmake -S "$here" -B "$build" -G Ninja
cmake --build "$build" --target test_app
start=$(date +%s%N)
WX118_SOAK_DAYS=$days QT_QPA_PLATFORM=offscreen "$build/tests/test_app" --gtest_filter='SoakTest.*'
echo "soak of $days simulated days took $(( ($(date +%s%N) - start) / 1000000 )) ms of wall time"
