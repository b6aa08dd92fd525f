#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# owserver (OWFS's DS9097U driver) against the simulated adapter on a pty:
# owdir and owread list and read the station as the station file sets it;
# wx118 --owserver logs the same records, with the same values, as a run on
# the direct simulated backend of the same station, for the values where an
# OWFS read and the monitor's decoding part ways; no simulated fault turns
# into a logged reading through owserver; wx118 scan lists the bus and
# writes a primary file that starts a working monitor.
set -u
. "$(dirname "$0")/lib.sh"
e2e_begin "$@"
pids=()
on_exit 'for p in "${pids[@]}"; do kill $p 2>/dev/null; done; wait 2>/dev/null'
fail() {
  echo "FAIL: $*"
  for f in "$tmp"/*/root/c/WX18DtLg.txt "$tmp"/*/root/c/WX18ErLg.txt "$tmp"/*/err "$tmp"/*.out "$tmp"/*.err; do
    [ -f "$f" ] && { echo "--- $f"; tail -${TAIL:-30} "$f"; }
  done
  exit 1
}
for t in owserver owdir owread python3; do
  command -v $t >/dev/null || fail "$t is not installed (scripts/install-deps.sh)"
done
cd "$tmp" || fail "no temp dir"

# station NAME: NAME.txt (station file) and NAME.ini (primary file, adapter
# type 5 on port 1) for one chip per channel, from the lines "channel kind
# program[; program] [z]" on standard input ("z": the counter of page 15;
# "fault ..." lines go to the station as they are).
station() {
  python3 -c '
import sys
def crc8(data):
    crc = 0
    for b in data:
        for _ in range(8):
            mix = (crc ^ b) & 1
            crc >>= 1
            if mix: crc ^= 0x8C
            b >>= 1
    return crc
fam = {"DS18S20": 0x10, "DS18B20": 0x28, "DS2438": 0x26, "DS2423": 0x1D, "DS2450": 0x20}
name = sys.argv[1]
st, ini, faults = ["adapter 5 1"], [], []
ini = ["abWX118ini", "WX118 primary configuration file", "(free text)", "-", "-", "-", "-",
       "h 1   port digit", "i 5   adapter type (5 = DS9097U)", "-"]
lines = {}
for line in sys.stdin:
    w = line.split()
    if not w: continue
    if w[0] == "fault": faults.append(line.strip()); continue
    lines[int(w[0])] = (w[1], " ".join(w[2:]))
for ch in range(13):
    if ch not in lines:
        ini.append("%s d0000000000000000 --" % "klmnopqrstuvw"[ch]); continue
    kind, prog = lines[ch]
    page15 = prog.endswith(" z")
    if page15: prog = prog[:-2]
    rom = [fam[kind], 0x21 + ch, 0x43, 0x65, 0x87, ch, 0]
    rom.append(crc8(rom))
    idt = "".join("%02X" % b for b in reversed(rom))
    st.append("chip C%d %s %s" % (ch, kind, idt))
    for p in prog.split(";"):
        if p.strip(): st.append("value C%d %s" % (ch, p.strip()))
    c21, c22 = ("j", "a") if ch == 10 else ("-", "z" if page15 else "a")
    ini.append("%s e%s %s%s  channel %d" % ("klmnopqrstuvw"[ch], idt, c21, c22, ch))
st += [f.replace("fault ", "fault C", 1) for f in faults]
open(name + ".txt", "w").write("\n".join(st) + "\n")
open(name + ".ini", "wb").write(("\r\n".join(ini) + "\r\n").encode())
' "$1" || fail "cannot write the station $1"
}

# serve NAME: wx118-simbus on NAME.txt and owserver on it; port in ows_port.
serve() {
  start_simbus "$tmp/$1.txt"
  pids+=($sb)
  ows_port=$(free_port)
  owserver -d "$pty" -p "127.0.0.1:$ows_port" --foreground --error_level=1 >"$tmp/$1-owserver.out" 2>&1 &
  pids+=($!)
  local ows=$!
  for _ in $(seq 1 100); do
    listing=$(timeout 10 owdir -s "127.0.0.1:$ows_port" / 2>/dev/null) && [ -n "$listing" ] && return 0
    kill -0 $ows 2>/dev/null || fail "owserver ended early"
    sleep 0.2
  done
  fail "owserver on $pty does not answer"
}

# start RUN PRIMARY-FILE OPTION...: wx118 --headless in $tmp/RUN with its own lock.
start() {
  local run=$1 ini=$2
  shift 2
  mkdir -p "$tmp/$run/run/t"
  chmod 700 "$tmp/$run/run"
  cp "$ini" "$tmp/$run/WX118ini.txt"
  (cd "$tmp/$run" && XDG_RUNTIME_DIR=$tmp/$run/run TMPDIR=$tmp/$run/run/t \
     exec "$build/wx118" --headless --root root "$@" >out 2>err) &
  pids+=($!)
  eval "pid_$run=$!"
}
log_of() { echo "$tmp/$1/root/c/WX18DtLg.txt"; }
# logged RUN TAG...: every tag has a record in RUN's data log.
logged() {
  local log run=$1 t
  log=$(log_of "$run")
  shift
  [ -f "$log" ] || return 1
  for t in "$@"; do grep -q "^$t" "$log" || return 1; done
}
stop() {
  local p
  for run in "$@"; do
    p=$(eval echo \$pid_$run)
    kill -TERM "$p"
    wait "$p" || fail "the $run run exited $? after SIGTERM"
  done
}
# values RUN TAG: the value fields of TAG's records, one a line.
values() { grep "^$2" "$(log_of "$1")" | cut -c11- | tr -d '\r'; }

# --- the station where an OWFS read and the monitor's decoding part ways ---
# Rain steps up by one every 3 s and the humidity and T1 change every 4 s,
# all quicker than owserver's 15 s cache; the wind counter has bit 31 set; the
# lightning counter and on/off 2 are on page 15; on/off 1 is above 10^9.
{
  echo "0 DS18S20 temp 21.3"
  echo "1 DS18B20 temp steps $(awk 'BEGIN { for (i = 0; i < 120; i++) printf "%d=%s ", 4 * i, (i % 2 ? "-3.25" : "5.0625") }')"
  echo "2 DS2438 temp 14.5; vad 0"
  echo "3 DS18B20 temp 9.125"
  echo "4 DS18S20 temp -7.5"
  echo "5 DS2423 a steps $(awk 'BEGIN { for (i = 0; i < 160; i++) printf "%d=%d ", 3 * i, 1200 + i }')"
  echo "6 DS2423 a 2147829326"
  echo "7 DS2423 b 17 z"
  echo "8 DS2438 vad 4.56; temp 19"
  echo "9 DS2438 vad steps $(awk 'BEGIN { for (i = 0; i < 120; i++) printf "%d=%s ", 4 * i, (i % 2 ? "3.1" : "3.25") }'); temp 19"
  echo "10 DS2450 vane a 6"
  echo "11 DS2423 a 1234567890"
  echo "12 DS2423 b 7 z"
} | station good
serve good
for id in 10.214365870000 28.224365870100 1D.264365870500 26.294365870800 20.2B4365870A00; do
  echo "$listing" | grep -qix "/$id" || fail "owdir does not list $id (got: $(echo $listing))"
done
# owread VALUE-PATH WANT TOLERANCE
expect() {
  local got
  got=$(timeout 20 owread -s "127.0.0.1:$ows_port" "$1" 2>&1 | tr -d ' ')
  awk -v g="$got" -v w="$2" -v t="$3" 'BEGIN { if (g !~ /^-?[0-9.]+$/) exit 1; d = g - w; if (d < 0) d = -d; exit !(d <= t) }' \
    || fail "$1 read '$got', station says $2 (tolerance $3)"
}
expect /28.244365870300/temperature 9.125 0.0625
expect /10.254365870400/temperature -7.5 0.5
expect /1D.284365870700/counter.B 17 0
expect /26.294365870800/VAD 4.56 0.01
# Vane index 6 of table a is code 0002: input D high (5.0 V), the others 0 V.
expect /20.2B4365870A00/volt.D 5.0 0.02
expect /20.2B4365870A00/volt.A 0 0.02

# wx118 scan on the same bus: every chip, and a primary file.
"$bin" scan --owserver "127.0.0.1:$ows_port" --write-primary "$tmp/scanned.ini" >"$tmp/scan.out" 2>"$tmp/scan.err" \
  || fail "wx118 scan exited $?"
[ "$(grep -c '^[0-9A-F]\{16\} ' "$tmp/scan.out")" -eq 13 ] || fail "wx118 scan does not list 13 chips"
"$bin" scan --owserver "127.0.0.1:$ows_port" --write-primary "$tmp/scanned.ini" >/dev/null 2>"$tmp/scan2.err" \
  && fail "wx118 scan overwrote an existing primary file"

start owserver good.ini --owserver "127.0.0.1:$ows_port"
start direct good.ini --simulate "$tmp/good.txt"
tags="t0 t1 t2 t3 t4 rf ws lt b1 b2 bp hm"
for _ in $(seq 1 600); do
  logged owserver $tags && logged direct $tags && break
  kill -0 $pid_owserver 2>/dev/null || fail "the owserver run ended early"
  kill -0 $pid_direct 2>/dev/null || fail "the direct run ended early"
  sleep 0.25
done
logged owserver $tags && logged direct $tags || fail "a run did not log every channel within 150 s"
sleep 20  # more steps of the quick channels
stop owserver direct

# Constant channels: the same first value (stamps differ).
first() {
  awk '{ t = substr($0, 1, 2); if (t ~ /^(t0|t2|t3|t4|ws|lt|b1|b2|bp)$/ && !(t in seen)) { seen[t] = 1; print t, substr($0, 11) } }' \
    "$(log_of "$1")" | tr -d '\r' | sort
}
first owserver >o.first
first direct >d.first
diff d.first o.first >first.diff || fail "owserver and direct runs differ (< direct, > owserver):
$(cat first.diff)"
for want in 't0 +2150' 'ws 000345678' 'lt 000000017' 'b1 234567890' 'b2 000000007' 'bp 0455'; do
  grep -qx "$want" o.first || fail "'$want' is not what the owserver run logged first"
done
# Stepped channels: only the program's values (3.1 V is held as 3.0999999
# and logged 0309, as the direct run logs it), and every rise of the rain
# counter seen (a cached read would log about half of them).
values owserver t1 | grep -vxE '[+-](0506|0325)' && fail "T1 logged a value the station never had"
values owserver hm | grep -vxE '0309|0325' && fail "humidity logged a value the station never had"
rf_o=$(values owserver rf | sort -u | wc -l)
rf_d=$(values direct rf | sort -u | wc -l)
[ "$rf_o" -ge 4 ] && [ "$rf_o" -ge $((rf_d - 1)) ] || fail "rain: $rf_o counts through owserver, $rf_d direct"
for run in owserver direct; do
  n=$(grep -vc 'Error log' "$tmp/$run/root/c/WX18ErLg.txt")
  [ "$n" -eq 0 ] || fail "the $run run logged errors"
done

# The scanned primary file starts a monitor that logs the station.
start scanned "$tmp/scanned.ini" --owserver "127.0.0.1:$ows_port"
wait_for 60 logged scanned t0 rf ws || fail "the monitor on the scanned primary file logged nothing"
stop scanned

# --- every fault of the simulator, through owserver ---
# Through owserver an absent chip, one that stops answering and a stuck
# conversion give no records; bit errors give failed reads, never a wrong
# value. The secondary file names owserver here.
{
  echo "0 DS18S20 temp 21.5"
  echo "1 DS18B20 temp 12.5"
  echo "3 DS18B20 temp 9.125"
  echo "5 DS2423 a 1200"
  echo "6 DS2423 a 345678"
  echo "8 DS2438 vad 4.5; temp 19"
  echo "10 DS2450 vane a 6"
  echo "fault 0 absent"
  echo "fault 1 bit-errors 0.02 3"
  echo "fault 3 stop-after 1"
  echo "fault 5 bit-errors 0.02 5"
  echo "fault 8 stuck-conversion"
  echo "fault 10 stuck-conversion"
} | station faulty
serve faulty
mkdir -p "$tmp/faulty/root/c/WX118"
printf 'abWX118ini2\r\n[Bus]\r\nOwserver=127.0.0.1:%s\r\n' "$ows_port" >"$tmp/faulty/root/c/WX118/WX118ini2.txt"
start faulty faulty.ini
wait_for 120 logged faulty ws t1 rf || fail "the faulty station's sound channels were not logged"
sleep 30
stop faulty
grep -q '^t0\|^t3\|^bp' "$(log_of faulty)" && fail "a reading of an absent, silent or stuck chip was logged"
values faulty t1 | grep -vx '+1250' && fail "T1 with bit errors logged a wrong value"
values faulty rf | grep -vx '000001200' && fail "rain with bit errors logged a wrong count"
errlog=$tmp/faulty/root/c/WX18ErLg.txt
grep -q 'During rsTTureR, with index 0 PGMErr: 40 and Dallas error -301 (owserver .* does not find 10\.' "$errlog" \
  || fail "the absent T0 was not reported as absent"
grep -q 'Problem with DMLGetCount 120 and Dallas error -302' "$errlog" || fail "no failed count read reported"
grep -q 'During LookAtWindDir,PGMErr: 120 ' "$errlog" || fail "the stuck vane conversion was not reported"
grep -q 'During LookAtBaro, PGMErr: 70 and Dallas error 0 (the conversion had not finished' "$errlog" \
  || fail "the stuck DS2438 conversion was not reported"
echo PASS
