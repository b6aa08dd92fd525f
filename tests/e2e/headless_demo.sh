#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The real program without windows on the demo station, sped up: it logs,
# publishes with no widget library loaded and no thread left over, refuses a
# second copy (also one started with another runtime folder), loses no record
# across two rotations by the real logrotate, replays the current log at the
# next start, and quits in order on SIGTERM.
set -u
. "$(dirname "$0")/lib.sh"
e2e_begin "$@"
pid=
on_exit 'kill $pid 2>/dev/null'
# Keep this test's single-instance lock and socket to itself.
private_runtime "$tmp"
fail() { echo "FAIL: $*"; echo "--- stdout"; cat "$tmp/out" 2>/dev/null; echo "--- stderr"; cat "$tmp/err" 2>/dev/null; exit 1; }

"$bin" --headless --demo "$tmp/demo" --speed 60 >"$tmp/out" 2>"$tmp/err" &
pid=$!
log=$tmp/demo/root/c/WX18DtLg.txt
wait_for 30 grep -qs '^t1' "$log" || fail "no T1 record within 30 s"

# Without windows: no widget library in the process, and a published picture
# leaves no helper thread behind (the toolkit's pooled ones linger 30 s).
# Beside the main thread only the archive's writer, started once and asleep
# between records; any other thread is one too many.
wait_for 30 test -s "$tmp/demo/www/WX118WG.jpg" || fail "no picture within 30 s"
# Nor the toolkit's imaging library and what it brings (X, OpenGL, fonts,
# shaping), a platform plugin, font files or a font configuration cache: the
# chart is plain pixels and its stamp comes from glyphs rendered at build time.
maps=$(grep -oE '(libQt6(Widgets|Gui)|libX11|libGL|libEGL|libfreetype|libfontconfig|libharfbuzz|libqoffscreen)[^/]*$|[^/]*\.(ttf|otf|pfb)$|[^/]*\.cache-[0-9]+$' /proc/$pid/maps | sort -u | tr '\n' ' ')
[ -z "$maps" ] || fail "a GUI library, plugin or font is mapped: $maps"
# Nor the libraries of MQTT, the uploads, owserver and the network module,
# which the demo does not use.
maps=$(grep -oE 'lib(mosquitto|curl|ownet|ssl|crypto|Qt6Network)[^/]*$' /proc/$pid/maps | sort -u | tr '\n' ' ')
[ -z "$maps" ] || fail "unused libraries are mapped: $maps"
others=$(for t in /proc/$pid/task/*; do [ "${t##*/}" = "$pid" ] || cat "$t/comm"; done | sort | tr '\n' ' ')
[ "$others" = "wx118-archive " ] || fail "threads after a publish besides the main one: '$others'"

# A second copy exits 0 at once, touches nothing and says who runs.
before=$(stat -c %s "$log")
start=$(date +%s%N)
"$bin" --headless --demo "$tmp/demo2" >/dev/null 2>"$tmp/err2"; rc=$?
ms=$(( ($(date +%s%N) - start) / 1000000 ))
[ "$rc" -eq 0 ] || fail "second copy exited $rc"
[ "$ms" -lt 2000 ] || fail "second copy took $ms ms"
[ ! -e "$tmp/demo2" ] || fail "second copy created its demo folder"
grep -q "a copy is already running (process $pid)" "$tmp/err2" || fail "second copy: $(cat "$tmp/err2")"
# Started elsewhere (cron, a boot unit: another runtime folder) on the same
# data: the data folder's lock keeps it off the files.
XDG_RUNTIME_DIR=$tmp/run2 "$bin" --headless --demo "$tmp/demo" >/dev/null 2>"$tmp/err3"; rc=$?
[ "$rc" -eq 0 ] || fail "copy from another environment exited $rc"
grep -q "a copy is already running on the data folder $tmp/demo/root/c (process $pid)" "$tmp/err3" ||
  fail "copy from another environment: $(cat "$tmp/err3")"
[ "$(grep -c '^ss' "$log")" -eq 1 ] || fail "a second set of start records"

# The real logrotate, twice, while the monitor runs: every record lands in
# the current file or a rotated one, none is lost.
sed -e "s|/home/\*/.local/share/wx118/c/|$tmp/demo/root/c/|g" -e 's/monthly/daily/' \
  "$src/contrib/wx118.logrotate" >"$tmp/logrotate.conf"
for n in 1 2; do
  logrotate -f -s "$tmp/logrotate.state" "$tmp/logrotate.conf" || fail "logrotate failed"
  for _ in $(seq 1 100); do
    [ -f "$log" ] && [ "$(grep -c '^t1' "$log")" -ge 2 ] && break
    sleep 0.2
  done
  [ -f "$log" ] || fail "no new data log after rotation $n"
done
head -1 "$log" | grep -q '^cm Data Log File for WX118' || fail "rotated log without header"
[ -f "$log.2.gz" ] && [ -f "$log.1" ] || fail "logrotate did not rotate: $(ls "$tmp/demo/root/c")"
# Records in order across the files, each file begun with its header, and
# not one reported as dropped (that is what a lost record looks like).
all=$( (zcat "$log.2.gz"; cat "$log.1" "$log") | tr -d '\r')
echo "$all" | grep '^t1' | cut -c3-10 | sort -c || fail "T1 records out of order across the files"
[ "$(echo "$all" | grep -c '^cm Data Log File for WX118')" -eq 3 ] || fail "headers across the files"
[ "$(grep -c 'was gone (moved away by log rotation?)' "$tmp/out")" -eq 2 ] || fail "rotations not noted"
grep -Eq 'not open|unable to reopen|not written' "$tmp/out" && fail "records dropped during rotation"

sleep 2
kill -TERM $pid
wait $pid; rc=$?
[ "$rc" -eq 0 ] || fail "exit status $rc after SIGTERM"

# The next start replays the current file: no "new log" message, no second header.
"$bin" --headless --demo "$tmp/demo" --speed 60 >"$tmp/out4" 2>"$tmp/err4" &
pid=$!
for _ in $(seq 1 50); do [ "$(grep -c '^ss' "$log")" -ge 1 ] && break; sleep 0.2; done
sleep 1
kill -TERM $pid; wait $pid
grep -q 'Unable to find old data log' "$tmp/err4" && fail "restart did not find the current log"
[ "$(grep -c '^cm Data Log File' "$log")" -eq 1 ] || fail "header count in the current log"
grep -q '^ss' "$log" || fail "restart wrote no start record into the current log"

grep -q '^ss.\{8\}- - System started, WX118 version: 1 Sept 10' "$log" || fail "start record"
grep -q '^wo.\{8\}- - Wind Dir Offset:9. Using lookup table:a\.' "$log" || fail "wind record"
for tag in t0 t1 ws rf lt b1; do echo "$all" | grep -q "^$tag" || fail "no $tag record"; done
# Every line is a whole record ended by CR LF.
for f in "$log" "$log.1"; do
  if grep -c $'[^\r]$' "$f" | grep -qv '^0$'; then fail "a line without CR LF in $f"; fi
done
[ -s "$tmp/demo/www/WX118WG.htm" ] || fail "no page"
[ -s "$tmp/demo/www/WX118WG.jpg" ] || fail "no picture"
grep -q 'WX118WG.jpg' "$tmp/demo/www/WX118WG.htm" || fail "page lacks the picture"
[ -f "$tmp/demo/root/c/WX18ErLg.txt" ] || fail "no error log"
echo PASS
