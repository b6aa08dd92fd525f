#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Without a display the windowed program says so in one line and how to run
# without windows (status 4, no core dump, nothing written); run-demo.sh then
# runs the headless demo and says where its page and logs are.
set -u
. "$(dirname "$0")/lib.sh"
e2e_begin "$@"
pid=
on_exit '[ -n "$pid" ] && kill -9 $pid 2>/dev/null'
private_runtime "$tmp"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
fail() { echo "FAIL: $*"; echo "--- stderr"; cat "$tmp/err" 2>/dev/null; exit 1; }

for display in "" ":79"; do
  for args in "" "--demo $tmp/demo"; do
    DISPLAY=$display "$bin" $args >"$tmp/out" 2>"$tmp/err"; rc=$?
    [ "$rc" -eq 4 ] || fail "DISPLAY='$display' wx118 $args: exit status $rc"
    [ "$(wc -l <"$tmp/err")" -eq 1 ] || fail "not one line"
    grep -q '^wx118: no display found (.*); to run without windows use: wx118 .*--headless$' "$tmp/err" ||
      fail "the line does not say how"
    [ ! -e "$tmp/demo" ] || fail "the demo folder was written"
  done
done

WX118_BUILD_DIR=$build DISPLAY= "$src/scripts/run-demo.sh" "$tmp/demo" --speed 60 >"$tmp/out" 2>"$tmp/err" &
pid=$!
for _ in $(seq 1 300); do
  [ -s "$tmp/demo/www/WX118WG.htm" ] && break
  kill -0 $pid 2>/dev/null || break
  sleep 0.1
done
[ -s "$tmp/demo/www/WX118WG.htm" ] || fail "no page from the headless demo"
grep -q "^wx118: demo in $tmp/demo: page $tmp/demo/www/WX118WG.htm, data log $tmp/demo/root/c/WX18DtLg.txt, error log $tmp/demo/root/c/WX18ErLg.txt$" "$tmp/err" ||
  fail "where the page and logs are is not said"
kill -TERM $pid
wait $pid; rc=$?
[ "$rc" -eq 0 ] || fail "exit status $rc after SIGTERM"
echo PASS
