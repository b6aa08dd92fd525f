#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The uploads against the networks' protocols played on 127.0.0.1 (lib.sh's
# upload_endpoint and aprs_is): the time-lapse demo sends every network well-
# formed uploads at their intervals, the temperature is the station's, CWOP's
# reports pass direwolf's decode_aprs, no secret reaches a log; a refused
# login and a refusing password are said once; a server that never answers
# costs the cycle nothing.
set -u
. "$(dirname "$0")/lib.sh"
e2e_begin "$@"
pids=()
on_exit 'for p in "${pids[@]}"; do kill -9 $p 2>/dev/null; wait $p 2>/dev/null; done'
for tool in python3 decode_aprs; do
  command -v $tool >/dev/null || { echo "FAIL: $tool is missing (scripts/install-deps.sh installs it)"; exit 1; }
done
fail() {
  echo "FAIL: $*"
  for f in "$tmp"/*.err "$tmp"/*/root/c/WX18ErLg.txt "$tmp"/*.log; do [ -f "$f" ] && { echo "--- $f"; tail -5 "$f"; }; done
  exit 1
}
speed=40
# monitor NAME: the headless time-lapse demo in $tmp/NAME with its own lock; sets $mon_pid.
monitor() {
  mkdir -p "$tmp/$1.run" "$tmp/$1.t"; chmod 700 "$tmp/$1.run"
  XDG_RUNTIME_DIR=$tmp/$1.run TMPDIR=$tmp/$1.t "$bin" --headless --demo "$tmp/$1" --speed $speed \
    >"$tmp/$1.out" 2>"$tmp/$1.err" &
  mon_pid=$!; pids+=($mon_pid)
}
make_demo() { monitor "$1"; wait_for 20 test -s "$tmp/$1/root/c/WX18DtLg.txt" || fail "demo $1 not created"; kill -TERM $mon_pid; wait $mon_pid; }
ini() { echo "$tmp/$1/root/c/WX118/WX118ini2.txt"; }
errlog() { cat "$tmp/$1/root/c/WX18ErLg.txt"; }
# Everything the program wrote: no secret may appear in it.
said() { cat "$tmp/$1/root/c/WX18ErLg.txt" "$tmp/$1.out" "$tmp/$1.err" "$tmp/$1"/root/c/*.txt 2>/dev/null; }
records() { grep -c '' "$tmp/$1/root/c/WX18DtLg.txt"; }
# at_least N PATTERN FILE: FILE has N lines matching PATTERN.
at_least() { [ "$(grep -c -- "$2" "$3" 2>/dev/null)" -ge "$1" ] 2>/dev/null; }
# section NAME [Key=value...]: an upload section with a private password file.
section() {
  local demo=$1 name=$2; shift 2
  printf '[%s]\r\n' "$name" >>"$(ini $demo)"
  if [ "$name" != CWOP ]; then  # CWOP logs in with pass -1
    printf '%s-pw\n' "$(echo "$name" | tr A-Z a-z)" >"$tmp/$demo/$name.pw"; chmod 600 "$tmp/$demo/$name.pw"
    printf 'PasswordFile=%s\r\n' "$tmp/$demo/$name.pw" >>"$(ini $demo)"
  fi
  printf '%s\r\n' "$@" >>"$(ini $demo)"
}
# CWOP's position, before the demo's own in its [Station] section.
station() { sed -i 's/^\[Station\]\r*$/&\nLatitude=49.0583333\r\nLongitude=-72.0291667\r/' "$(ini $1)"; }

for d in a b c; do make_demo $d & done; wait

# ---- A: every network, to endpoints that work.
hp=$(free_port); upload_endpoint $hp "$tmp/a-http.log"; pids+=($upload_pid)
ap=$(free_port); aprs_is $ap "$tmp/a-aprs.log"; pids+=($aprs_pid)
station a
section a WUnderground StationId=ITEST1 Interval=60 "Url=http://127.0.0.1:$hp/wu"
section a PWSweather StationId=PTEST1 Interval=120 "Url=http://127.0.0.1:$hp/pws"
section a WOW StationId=123456 Interval=60 "Url=http://127.0.0.1:$hp/wow"
section a Windy StationId=wtest Interval=300 "Url=http://127.0.0.1:$hp/windy"
section a AWEKAS StationId=atest Interval=300 "Url=http://127.0.0.1:$hp/awekas"
section a CWOP Callsign=cw0001 Interval=60 "Server=127.0.0.1:$ap"
chmod 644 "$tmp/a/AWEKAS.pw"   # others can read it: a warning, and it is still used
monitor a; a=$mon_pid
# 40 s at 40 times: about 27 minutes of the station.
wait_for 60 at_least 20 '"/wu"' "$tmp/a-http.log" || fail "too few uploads to /wu"
kill -TERM $a; wait $a
python3 - "$tmp/a-http.log" "$tmp/a/root/c/WX18DtLg.txt" <<'PY' || fail "the HTTP uploads are not right"
import json, sys, time, calendar
from collections import defaultdict
reqs = [json.loads(l) for l in open(sys.argv[1])]
bad = [r for r in reqs if r["bad"]]
if bad: sys.exit("malformed: %s" % bad[0])
by = defaultdict(list)
for r in reqs: by[r["path"]].append(r["q"])
# Each network's interval in the station's time, from the dates it was sent.
def utc(q): return calendar.timegm(time.strptime(q.get("dateutc") or q["time"], "%Y-%m-%dT%H:%M:%SZ" if "time" in q else "%Y-%m-%d %H:%M:%S"))
for path, every in (("/wu", 60), ("/pws", 120), ("/wow", 60), ("/windy", 300)):
    t = [utc(q) for q in by[path]]
    gaps = [b - a for a, b in zip(t, t[1:])]
    # A cycle at 40 times the speed covers seconds of the station's time.
    if len(gaps) < 2 or any(abs(g - every) > 5 for g in gaps) or abs(sum(gaps) / len(gaps) - every) > 1:
        sys.exit("%s gaps %s, not %d s" % (path, gaps, every))
    print(path, len(t), "uploads, gaps", min(gaps), "..", max(gaps), "s")
if len(by["/awekas"]) < 2: sys.exit("AWEKAS: %d uploads" % len(by["/awekas"]))
# The temperature is the station's: the T0 records within 5 minutes (stamps
# are local time to the minute; the log holds a record every few minutes).
t0 = []
for line in open(sys.argv[2], encoding="latin-1"):
    if line.startswith("t0") and len(line) >= 15:
        s = line[2:10]
        t = time.mktime((2000 + int(s[0:2]), ord(s[2]) - 96, int(s[3:5]), ord(s[5]) - 97, int(s[6:8]), 0, 0, 0, -1))
        t0.append((t, int(line[10:15]) / 100))
checked = 0
for q in by["/wu"]:
    near = [c * 9 / 5 + 32 for t, c in t0 if abs(t - utc(q)) <= 300]
    if not near or "tempf" not in q: continue
    if not min(near) - 0.3 <= float(q["tempf"]) <= max(near) + 0.3: sys.exit("tempf %s, the log says %s" % (q["tempf"], near))
    if "dewptf" in q and float(q["dewptf"]) > float(q["tempf"]) + 0.1: sys.exit("dew point above the temperature")
    checked += 1
if checked < 5: sys.exit("only %d uploads could be checked against the log" % checked)
print(checked, "temperatures match the data log")
PY
grep -q '^login user CW0001 pass -1 vers WX118 [0-9.]*$' "$tmp/a-aprs.log" || fail "no well-formed CWOP login"
errlog a | grep -q "\[CWOP\] Interval=60 is shorter than CWOP accepts; 300 seconds is used" || fail "CWOP's minimum not said"
grep -v '^login user CW0001 pass -1 vers WX118 [0-9.]*$' "$tmp/a-aprs.log" | grep -v '^packet ' && fail "an odd line at the APRS-IS server"
sed -n 's/^packet //p' "$tmp/a-aprs.log" >"$tmp/packets"
[ "$(grep -c '' "$tmp/packets")" -ge 2 ] || fail "fewer than 2 CWOP reports"
decode_aprs <"$tmp/packets" 2>&1 | sed 's/\x1b\[[0-9;]*[mJ]//g' >"$tmp/decoded"
grep -E "Didn't find|Invalid|rror" "$tmp/decoded" && fail "decode_aprs found a fault"
[ "$(grep -c '^Weather Report' "$tmp/decoded")" -eq "$(grep -c '' "$tmp/packets")" ] || fail "not every report decoded as weather"
[ "$(grep -c '^N 49 03.5000, W 072 01.7500$' "$tmp/decoded")" -eq "$(grep -c '' "$tmp/packets")" ] || fail "wrong position"
grep -q 'temperature [0-9-]*, .*humidity [0-9]*, barometer [0-9.]*, "WX118"$' "$tmp/decoded" || fail "a report without temperature, humidity and pressure"
for pw in wunderground-pw pwsweather-pw wow-pw windy-pw awekas-pw; do
  said a | grep -q -- "$pw" && fail "the secret $pw in a log line"
done
errlog a | grep -q "AWEKAS.pw: other users of this computer can read the file" || fail "no warning for a readable password file"
errlog a | grep -q "Upload to" && fail "an upload failed: $(errlog a | grep 'Upload to' | head -1)"
echo "ok   [every network]"

# ---- B: a refused login and a refusing password, each said once.
ap=$(free_port); aprs_is $ap "$tmp/b-aprs.log" refuse; pids+=($aprs_pid)
hp=$(free_port); upload_endpoint $hp "$tmp/b-http.log" refuse; pids+=($upload_pid)
station b
section b CWOP Callsign=CW0002 Interval=300 "Server=127.0.0.1:$ap"
section b WUnderground StationId=ITEST2 Interval=60 "Url=http://127.0.0.1:$hp/wu"
monitor b; b=$mon_pid
wait_for 40 at_least 3 '^login' "$tmp/b-aprs.log" || fail "CWOP did not try again after the refusal"
kill -TERM $b; wait $b
n=$(errlog b | grep -c "Upload to CWOP failed: 127.0.0.1:$ap refused the login of CW0002 (\"# logresp CW0002 invalid, server T2TEST\")")
[ "$n" -eq 1 ] || fail "the refused login said $n times, not once"
n=$(errlog b | grep -c 'Upload to Weather Underground failed: it answered "INVALIDPASSWORDID|Password or key and/or id are incorrect"')
[ "$n" -eq 1 ] || fail "the refused password said $n times, not once"
echo "ok   [refusals said once]"

# ---- C: a server that never answers, beside a run without uploads (B's demo again).
hp=$(free_port); upload_endpoint $hp "$tmp/c-http.log" hang; pids+=($upload_pid)
section c WUnderground StationId=ITEST3 Interval=60 "Url=http://127.0.0.1:$hp/wu"
sed -i '/^\[CWOP\]/,$d' "$(ini b)"  # B without uploads
monitor c; c=$mon_pid
monitor b; b=$mon_pid
wait_for 20 test -s "$tmp/c-http.log" || fail "no upload reached the hanging server"
c0=$(records c); b0=$(records b)
sleep 18
c1=$(records c); b1=$(records b)
kill -TERM $c $b; wait $c $b
echo "records while the server hung: with the upload $((c1 - c0)), without $((b1 - b0))"
[ $((b1 - b0)) -ge 10 ] || fail "the run without uploads hardly cycled"
[ $((c1 - c0)) -ge $(( (b1 - b0) * 8 / 10 )) ] || fail "the hanging server slowed the cycle"
errlog c | grep -q 'Upload to Weather Underground failed: .*[Tt]imed out' || fail "no time-out said"
echo "ok   [a hanging server]"
echo PASS
