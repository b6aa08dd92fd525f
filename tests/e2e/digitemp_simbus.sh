#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# An independent serial 1-Wire master (digitemp's DS9097U driver) against the
# simulated adapter on a pty: it must detect the DS2480B, search the line,
# and read the temperatures the station file sets, to the chips' resolution.
set -u
. "$(dirname "$0")/lib.sh"
e2e_begin "$@"
sb=
on_exit '[ -n "$sb" ] && kill $sb 2>/dev/null; wait 2>/dev/null'
fail() { echo "FAIL: $*"; for f in "$tmp"/*.out "$tmp"/simbus.err; do [ -f "$f" ] && { echo "--- $f"; tail -40 "$f"; }; done; exit 1; }
command -v digitemp_DS9097U >/dev/null || fail "digitemp_DS9097U is not installed (scripts/install-deps.sh)"

cat >"$tmp/station.txt" <<'EOF'
adapter 5 1
chip OUT  DS18S20 auto
chip ROOM DS18B20 auto
chip RAIN DS2423  auto
value OUT  temp 23.7
value ROOM temp -10.125
value RAIN a 77
EOF
start_simbus --trace "$tmp/station.txt"

cd "$tmp" || fail "no temp dir"
timeout 60 digitemp_DS9097U -i -q -s "$pty" -c "$tmp/digitemp.conf" >"$tmp/init.out" 2>&1 \
  || fail "digitemp -i failed"
grep -q '^SENSORS 3' "$tmp/digitemp.conf" || fail "digitemp did not find the 3 chips"
grep -q '^ROM 0 0x10 ' "$tmp/digitemp.conf" || fail "no DS18S20 in the search result"
grep -q '^ROM 1 0x28 ' "$tmp/digitemp.conf" || fail "no DS18B20 in the search result"

timeout 60 digitemp_DS9097U -a -q -c "$tmp/digitemp.conf" -o "%R %.4C" >"$tmp/read.out" 2>&1 \
  || fail "digitemp -a failed"
# value within the chip's resolution: DS18S20 0.5 C, DS18B20 1/16 C.
check() {
  local family=$1 want=$2 tol=$3
  local got
  got=$(awk -v f="$family" 'substr($1,1,2)==f {print $2; exit}' "$tmp/read.out")
  [ -n "$got" ] || fail "no reading for family $family"
  awk -v g="$got" -v w="$want" -v t="$tol" 'BEGIN { d = g - w; if (d < 0) d = -d; exit !(d <= t) }' \
    || fail "family $family read $got C, station says $want C (tolerance $tol)"
}
check 10 23.7 0.5
check 28 -10.125 0.0625
# Counter read through the same driver (it reads counter A and B of a DS2423).
grep -q 'Sensor 2 #0 77$' "$tmp/read.out" || fail "DS2423 counter A (77) not read"

# A second run on the same port: the adapter is detected again after the close.
timeout 60 digitemp_DS9097U -a -q -c "$tmp/digitemp.conf" -o "%R %.4C" >"$tmp/read2.out" 2>&1 \
  || fail "second digitemp -a failed"
# (counter lines carry the time; compare the temperature lines)
[ "$(grep -v Sensor "$tmp/read.out")" = "$(grep -v Sensor "$tmp/read2.out")" ] \
  || fail "second run read different temperatures"
kill -TERM $sb
wait $sb; rc=$?
sb=
[ "$rc" -eq 0 ] || fail "wx118-simbus exited $rc on SIGTERM"
echo PASS
