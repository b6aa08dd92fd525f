#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The whole monitor through the serial adapter: wx118 --serial-device on the
# pty of wx118-simbus logs the same records, with the same values, as a run
# on the direct simulated backend of the same station. Real time (the serial
# adapter refuses --speed): about a minute, until every channel is logged.
set -u
. "$(dirname "$0")/lib.sh"
e2e_begin "$@"
pids=()
on_exit 'for p in "${pids[@]}"; do kill $p 2>/dev/null; done; wait 2>/dev/null'
fail() {
  echo "FAIL: $*"
  for f in "$tmp"/*/root/c/WX18DtLg.txt "$tmp"/*/root/c/WX18ErLg.txt "$tmp"/*/err "$tmp"/simbus.err; do
    [ -f "$f" ] && { echo "--- $f"; tail -30 "$f"; }
  done
  exit 1
}
command -v python3 >/dev/null || fail "python3 is needed to write the station"

# One chip per channel, every value constant; the primary file names the
# same ROM codes (CRC computed here) for adapter type 5 on port 1.
cd "$tmp" || fail "no temp dir"
python3 - <<'EOF' || fail "cannot write the station"
def crc8(data):
    crc = 0
    for b in data:
        for _ in range(8):
            mix = (crc ^ b) & 1
            crc >>= 1
            if mix:
                crc ^= 0x8C
            b >>= 1
    return crc
fam = ["10", "28", "26", "28", "10", "1D", "1D", "1D", "26", "26", "20", "1D", "1D"]
kind = {"10": "DS18S20", "28": "DS18B20", "26": "DS2438", "1D": "DS2423", "20": "DS2450"}
prog = {0: "temp 21.5", 1: "temp -3.25", 2: "temp 14.5; vad 0", 3: "temp 9.125", 4: "temp 0.5",
        5: "a 1200", 6: "a 345678", 7: "a 17", 8: "vad 4.5; temp 19", 9: "vad 3.1; temp 19",
        10: "vane a 6", 11: "a 42", 12: "a 7"}
ids = []
for ch, f in enumerate(fam):
    rom = [int(f, 16), 0x21 + ch, 0x43, 0x65, 0x87, ch, 0]
    rom.append(crc8(rom))
    ids.append("".join("%02X" % b for b in reversed(rom)))
text = ("abWX118ini\r\nWX118 primary configuration file\r\n(free text)\r\n-\r\n-\r\n-\r\n-\r\n"
        "h 1   port digit\r\ni 5   adapter type (5 = DS9097U)\r\n-\r\n")
for ch in range(13):
    c21, c22 = "-", "-"
    if ch == 10:
        c21, c22 = "j", "a"
    if ch in (5, 6, 7, 11, 12):
        c22 = "a"
    text += "%s e%s %s%s  channel %d\r\n" % ("klmnopqrstuvw"[ch], ids[ch], c21, c22, ch)
for run in ("direct", "serial"):
    import os
    os.makedirs(run + "/run/t")
    os.chmod(run + "/run", 0o700)
    open(run + "/WX118ini.txt", "wb").write(text.encode())
with open("station.txt", "w") as o:
    o.write("adapter 5 1\n")
    for ch in range(13):
        o.write("chip C%d %s %s\n" % (ch, kind[fam[ch]], ids[ch]))
    for ch in range(13):
        for p in prog[ch].split(";"):
            o.write("value C%d %s\n" % (ch, p.strip()))
EOF

start_simbus "$tmp/station.txt"
pids+=($sb)

# Each run keeps its single-instance lock to itself.
start() {
  local run=$1
  shift
  (cd "$tmp/$run" && XDG_RUNTIME_DIR=$tmp/$run/run TMPDIR=$tmp/$run/run/t \
     exec "$build/wx118" --headless --root root "$@" >out 2>err) &
  pids+=($!)
  eval "pid_$run=$!"
}
start serial --serial-device "$pty"
start direct --simulate "$tmp/station.txt"

tags="t0 t1 t2 t3 t4 rf ws lt b1 b2 bp hm"
complete() {
  local log=$tmp/$1/root/c/WX18DtLg.txt t
  [ -f "$log" ] || return 1
  for t in $tags; do grep -q "^$t" "$log" || return 1; done
}
for _ in $(seq 1 600); do
  complete serial && complete direct && break
  kill -0 $pid_serial 2>/dev/null || fail "the serial run ended early"
  kill -0 $pid_direct 2>/dev/null || fail "the direct run ended early"
  sleep 0.25
done
for run in serial direct; do
  complete $run || fail "the $run run did not log every channel within 150 s"
done
kill -TERM $pid_serial $pid_direct
wait $pid_serial; rc_s=$?
wait $pid_direct; rc_d=$?
[ "$rc_s" -eq 0 ] || fail "serial run exited $rc_s after SIGTERM"
[ "$rc_d" -eq 0 ] || fail "direct run exited $rc_d after SIGTERM"
# Without a secondary file the start names where the page goes, and it is there.
grep -qF "no secondary file $tmp/direct/root/c/WX118/WX118ini2.txt: the page is written to $tmp/direct/root/c/WX118WG.htm" \
  "$tmp/direct/err" || { cat "$tmp/direct/err"; fail "the start did not name the page's default place"; }
[ -s "$tmp/direct/root/c/WX118WG.htm" ] || fail "no page where the start said"

# Same record tags, and the same first value of every channel (stamps differ).
fields() { # tag + value field of the first record of each tag
  awk '{ t = substr($0, 1, 2); if (t != "cm" && !(t in seen)) { seen[t] = 1; print t, substr($0, 11) } }' \
    "$tmp/$1/root/c/WX18DtLg.txt" | tr -d '\r' | sort
}
fields serial >"$tmp/serial.fields"
fields direct >"$tmp/direct.fields"
# Wind records come with a chart column step; one run may just have had it.
grep -v '^wd' "$tmp/serial.fields" >"$tmp/s"
grep -v '^wd' "$tmp/direct.fields" >"$tmp/d"
diff "$tmp/d" "$tmp/s" >"$tmp/diff" || fail "serial and direct runs differ (< direct, > serial):
$(cat "$tmp/diff")"
grep -q '^t0 +2150$' "$tmp/s" || fail "T0 is not 21.50 C through the serial adapter"
grep -q '^ws 000345678$' "$tmp/s" || fail "wind counter not 345678 through the serial adapter"
# No device errors on the way: the error logs hold their header only.
for run in serial direct; do
  n=$(grep -vc 'Error log' "$tmp/$run/root/c/WX18ErLg.txt")
  [ "$n" -eq 0 ] || fail "the $run run logged errors"
done
echo PASS
