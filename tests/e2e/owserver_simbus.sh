#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# A second independent serial 1-Wire master (owserver's DS9097U driver, read
# through owdir/owread) against the simulated adapter on a pty: it must list
# every chip of the station and read temperatures, a DS2423 counter, DS2438
# voltage and DS2450 inputs as the station file sets them.
set -u
. "$(dirname "$0")/lib.sh"
e2e_begin "$@"
sb= ows=
on_exit '[ -n "$ows" ] && kill $ows 2>/dev/null; [ -n "$sb" ] && kill $sb 2>/dev/null; wait 2>/dev/null'
fail() { echo "FAIL: $*"; for f in "$tmp"/owserver.out "$tmp"/simbus.err; do [ -f "$f" ] && { echo "--- $f"; tail -${TAIL:-40} "$f"; }; done; exit 1; }
for t in owserver owdir owread python3; do
  command -v $t >/dev/null || fail "$t is not installed (scripts/install-deps.sh)"
done

cat >"$tmp/station.txt" <<'EOF'
adapter 5 1
chip OUT  DS18S20 00000000AB1210
chip ROOM DS18B20 00000000CD3428
chip RAIN DS2423  0000000056781D
chip BARO DS2438  00000000012326
chip WD   DS2450  00000000456720
value OUT  temp -7.5
value ROOM temp 19.4375
value RAIN a 4321
value RAIN b 12
value BARO vad 4.37
value BARO temp 18.25
value WD   vane a 4
EOF
start_simbus --trace "$tmp/station.txt"

port=$(free_port)
owserver -d "$pty" -p "127.0.0.1:$port" --foreground --error_level=1 >"$tmp/owserver.out" 2>&1 &
ows=$!
listing=
for _ in $(seq 1 100); do
  listing=$(timeout 10 owdir -s "127.0.0.1:$port" / 2>/dev/null) && [ -n "$listing" ] && break
  kill -0 $ows 2>/dev/null || fail "owserver ended early"
  sleep 0.2
done
echo "$listing" >"$tmp/listing"
for id in 10.12AB00000000 28.34CD00000000 1D.785600000000 26.230100000000 20.674500000000; do
  grep -qix "/$id" "$tmp/listing" || fail "owdir does not list $id (got: $(tr '\n' ' ' <"$tmp/listing"))"
done

# owread VALUE-PATH WANT TOLERANCE
expect() {
  local got
  got=$(timeout 20 owread -s "127.0.0.1:$port" "$1" 2>&1 | tr -d ' ')
  awk -v g="$got" -v w="$2" -v t="$3" 'BEGIN { if (g !~ /^-?[0-9.]+$/) exit 1; d = g - w; if (d < 0) d = -d; exit !(d <= t) }' \
    || fail "$1 read '$got', station says $2 (tolerance $3)"
}
expect /28.34CD00000000/temperature 19.4375 0.0625
expect /10.12AB00000000/temperature -7.5 0.5
expect /1D.785600000000/counter.A 4321 0
expect /1D.785600000000/counter.B 12 0
expect /26.230100000000/VAD 4.37 0.01
expect /26.230100000000/temperature 18.25 0.03125
# Vane index 4 of table a puts input C high (5.0 V) and the others at 0 V.
expect /20.674500000000/volt.C 5.0 0.02
expect /20.674500000000/volt.A 0 0.02

kill -TERM $ows; wait $ows 2>/dev/null; ows=
kill -TERM $sb
wait $sb; rc=$?
sb=
[ "$rc" -eq 0 ] || fail "wx118-simbus exited $rc on SIGTERM"
echo PASS
