#!/usr/bin/env bash
# The real program without windows on the demo station, sped up: it logs,
# publishes, refuses a second copy, and quits in order on SIGTERM.
set -u
build=$1
bin=$build/wx118
tmp=$(mktemp -d)
trap 'kill $pid 2>/dev/null; rm -rf "$tmp"' EXIT
# Keep this test's single-instance lock and socket to itself.
export XDG_RUNTIME_DIR=$tmp/run TMPDIR=$tmp/t
mkdir -p "$XDG_RUNTIME_DIR" "$TMPDIR"; chmod 700 "$XDG_RUNTIME_DIR"
fail() { echo "FAIL: $*"; echo "--- stdout"; cat "$tmp/out" 2>/dev/null; echo "--- stderr"; cat "$tmp/err" 2>/dev/null; exit 1; }

"$bin" --headless --demo "$tmp/demo" --speed 60 >"$tmp/out" 2>"$tmp/err" &
pid=$!
log=$tmp/demo/root/c/WX18DtLg.txt
for _ in $(seq 1 150); do
  [ -f "$log" ] && grep -q '^t1' "$log" && break
  sleep 0.2
done
grep -q '^t1' "$log" || fail "no T1 record within 30 s"

# A second copy exits 0 at once and touches nothing.
before=$(stat -c %s "$log")
start=$(date +%s%N)
"$bin" --headless --demo "$tmp/demo2" >/dev/null 2>&1; rc=$?
ms=$(( ($(date +%s%N) - start) / 1000000 ))
[ "$rc" -eq 0 ] || fail "second copy exited $rc"
[ "$ms" -lt 2000 ] || fail "second copy took $ms ms"
[ ! -e "$tmp/demo2" ] || fail "second copy created its demo folder"

sleep 2
kill -TERM $pid
wait $pid; rc=$?
[ "$rc" -eq 0 ] || fail "exit status $rc after SIGTERM"

head -1 "$log" | grep -q '^cm Data Log File for WX118' || fail "log header"
grep -q '^ss.\{8\}- - System started, WX118 version: 1 Sept 10' "$log" || fail "start record"
grep -q '^wo.\{8\}- - Wind Dir Offset:9. Using lookup table:a\.' "$log" || fail "wind record"
for tag in t0 t1 ws rf lt b1; do grep -q "^$tag" "$log" || fail "no $tag record"; done
# Every line is a whole record ended by CR LF.
if grep -c $'[^\r]$' "$log" | grep -qv '^0$'; then fail "a line without CR LF"; fi
[ -s "$tmp/demo/www/WX118WG.htm" ] || fail "no page"
[ -s "$tmp/demo/www/WX118WG.jpg" ] || fail "no picture"
grep -q 'WX118WG.jpg' "$tmp/demo/www/WX118WG.htm" || fail "page lacks the picture"
[ -f "$tmp/demo/root/c/WX18ErLg.txt" ] || fail "no error log"
echo PASS
