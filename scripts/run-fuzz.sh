#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the libFuzzer targets (clang, ASan + UBSan) in build-fuzz/ and runs
# each for SECONDS (default 30) on a copy of its seed corpus. Fails when a
# target finds a crash, a hang, a sanitizer report or a broken invariant; the
# input that did it is left in build-fuzz/findings/<target>/.
#   scripts/run-fuzz.sh [SECONDS] [TARGET...]
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true
build=build-fuzz
jobs=${WX118_JOBS:-$(nproc)}

cmake --preset fuzz >/dev/null || exit 1
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for d in tests/fuzz/corpus/*/; do targets+=("$(basename "$d")"); done
fi
mkdir -p "$build/work"
if ! cmake --build "$build" --parallel "$jobs" --target "${targets[@]/#/fuzz_}" >"$build/work/build.log" 2>&1; then
  tail -40 "$build/work/build.log"
  exit 1
fi

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
summary=()
for t in "${targets[@]}"; do
  work=$build/work/$t
  findings=$build/findings/$t
  rm -rf "$work"
  mkdir -p "$work/corpus" "$findings"
  cp tests/fuzz/corpus/"$t"/* "$work/corpus/"
  cp tests/fuzz/regressions/"$t"/* "$work/corpus/" 2>/dev/null || true
  log=$build/work/$t.log
  maxlen=8192
  [ "$t" = replay ] && maxlen=2048  # every line is checked pixel by pixel
  echo "== fuzz_$t for ${seconds}s"
  "$build/fuzz_$t" "$work/corpus" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 \
    -max_len=$maxlen -artifact_prefix="$findings/" -print_final_stats=1 >"$log" 2>&1
  rc=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  if [ $rc -ne 0 ] || grep -qE '^(==[0-9]+==ERROR|SUMMARY: (Address|Undefined|Leak)Sanitizer|\*\*\* invariant broken)' "$log"; then
    status=1
    summary+=("$t: FAILED (exit $rc), see $log and $findings/")
    grep -E 'ERROR|SUMMARY|invariant broken|runtime error' "$log" | head -5
  else
    summary+=("$t: ok, ${execs:-?} runs, ${rate:-?}/s")
  fi
done
printf '%s\n' "${summary[@]}"
exit $status
