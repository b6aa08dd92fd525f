#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The windowed program under LeakSanitizer: start the demo on a virtual X
# screen, let it run, quit it with SIGTERM (the Quit path), and fail on any
# sanitizer error and on any leak whose allocation stack passes through this
# program's own code. Args: build dir, source dir (an ASan build).
set -u
build=$1
src=$2
bin=$build/wx118
tmp=$(mktemp -d)
pid=
xpid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  [ -n "$xpid" ] && kill "$xpid" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  for f in "$tmp"/asan.*; do [ -f "$f" ] && { echo "--- $f"; cat "$f"; }; done
  echo "--- stderr"; cat "$tmp/err" 2>/dev/null
  exit 1
}
grep -q 'fsanitize=address' "$build/CMakeCache.txt" || { echo "not an ASan build: nothing to check"; exit 0; }

export XDG_RUNTIME_DIR=$tmp/run TMPDIR=$tmp/t
mkdir -p "$XDG_RUNTIME_DIR" "$TMPDIR"; chmod 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
if command -v Xvfb >/dev/null; then
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.err" &
  xpid=$!
  for _ in $(seq 1 100); do grep -q '[0-9]' "$tmp/display" 2>/dev/null && break; sleep 0.1; done
  grep -q '[0-9]' "$tmp/display" || fail "Xvfb did not start: $(cat "$tmp/xvfb.err")"
  export DISPLAY=:$(tr -dc 0-9 <"$tmp/display") QT_QPA_PLATFORM=xcb
else
  export QT_QPA_PLATFORM=offscreen
fi

sym=$(command -v llvm-symbolizer || ls /usr/bin/llvm-symbolizer-* 2>/dev/null | head -1)
[ -n "$sym" ] && export ASAN_SYMBOLIZER_PATH=$sym
export ASAN_OPTIONS="detect_leaks=1:exitcode=23:log_path=$tmp/asan:fast_unwind_on_malloc=0"
export LSAN_OPTIONS="suppressions=$src/tests/lsan/suppressions.txt:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$tmp/asan"

log=$tmp/demo/root/c/WX18DtLg.txt
lines() { grep -c . "$log" 2>/dev/null || echo 0; }
# Runs the demo until the data log has grown, then quits it with SIGTERM.
run() {
  local before rc
  before=$(lines)
  "$bin" "$@" --demo "$tmp/demo" --speed 60 >>"$tmp/out" 2>>"$tmp/err" &
  pid=$!
  for _ in $(seq 1 300); do
    [ "$(lines)" -gt $((before + 10)) ] && grep -q '^t1' "$log" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
  done
  [ "$(lines)" -gt $((before + 10)) ] || fail "the data log did not grow within 60 s ($*)"
  sleep 3
  kill -TERM "$pid"
  wait "$pid"; rc=$?
  pid=
  # 23 is LeakSanitizer's exit status; which leaks count is decided below.
  [ "$rc" -eq 0 ] || [ "$rc" -eq 23 ] || fail "exit status $rc after SIGTERM ($*)"
}
# The first run makes the demo (a first run's message box would wait for a
# click); the windowed run then continues its log.
run --headless
run

reports=$(ls "$tmp"/asan.* 2>/dev/null)
[ -z "$reports" ] && { echo PASS; exit 0; }
if grep -l -E 'ERROR: AddressSanitizer|runtime error:' $reports >/dev/null; then fail "sanitizer error"; fi
# One leak record per paragraph; ours when a frame is in this program's sources.
ours=$(awk -v src="$src/src/" '
  /^(Direct|Indirect) leak/ { if (block != "" && mine) print block; block = $0; mine = 0; next }
  block != "" && /^ *#[0-9]/ { block = block "\n" $0; if (index($0, src) || $0 ~ / in wx::/) mine = 1; next }
  /^$/ { if (block != "" && mine) print block; block = ""; mine = 0 }
  END { if (block != "" && mine) print block }' $reports)
if [ -n "$ours" ]; then
  echo "$ours"
  fail "leaks in the program's own code"
fi
echo "PASS (leaks only inside the toolkit or the system libraries)"
grep -h -E '^(Direct|Indirect) leak|^SUMMARY' $reports | sort | uniq -c | head -20
