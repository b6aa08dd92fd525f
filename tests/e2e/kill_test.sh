#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The real program killed with SIGKILL while it writes, a hundred times on the
# same folder. After every kill the data log holds whole records only (at
# most a torn last line, which the next start reports and keeps on a line of
# its own), the published page and picture are whole, and the archive opens,
# passes SQLite's integrity check and has lost none of its records. Every fifth round
# the log's last line is cut short by hand as a power loss would leave it.
set -u
. "$(dirname "$0")/lib.sh"
e2e_begin "$@"
rounds=${WX118_KILL_ROUNDS:-100}
pid=
on_exit '[ -n "$pid" ] && kill -9 $pid 2>/dev/null'
# Keep this test's single-instance lock and socket to itself.
private_runtime "$tmp"
dir=$tmp/demo
log=$dir/root/c/WX18DtLg.txt
errlog=$dir/root/c/WX18ErLg.txt
archive=$dir/root/c/wx118-archive.sqlite
www=$dir/www
fail() { echo "FAIL (round $round): $*"; echo "--- stderr"; tail -20 "$tmp/err" 2>/dev/null; exit 1; }

command -v python3 >/dev/null || { echo "SKIP: no python3"; exit 0; }
# The interpreter itself, not a version-manager wrapper: it runs every round.
py=$(python3 -c 'import sys; print(sys.executable)')
have_identify=0
command -v identify >/dev/null && have_identify=1

# check.py LOG ERRLOG WWW STATE: whole records, torn tails, page and picture.
cat >"$tmp/check.py" <<'EOF'
import json, os, sys
log, errlog, www, state_path = sys.argv[1:5]
state = json.load(open(state_path)) if os.path.exists(state_path) else {"torn": [], "report": None}
lengths = {"t0": 15, "t1": 15, "t2": 15, "t3": 15, "t4": 15, "rf": 19, "ws": 19, "lt": 19,
           "b1": 19, "b2": 19, "bp": 14, "hm": 14, "wd": 44}
months = "abcdefghijkl"
hours = "abcdefghijklmnopqrstuvwx"
def bad(msg):
    print(msg); sys.exit(1)
def stamp_ok(s):
    return (len(s) == 8 and s[:2].isdigit() and s[2] in months and s[3:5].isdigit()
            and s[5] in hours and s[6:8].isdigit())
def whole(line):
    if "\r" in line or "\n" in line: return False
    tag = line[:2]
    if line.startswith("cm Data Log File for WX118"): return line == "cm Data Log File for WX118"
    if line.startswith("cm created:"): return stamp_ok(line[-8:])
    if len(line) < 10 or not stamp_ok(line[2:10]): return False
    if tag in ("cm", "ss", "wo"): return True
    if tag not in lengths or len(line) != lengths[tag]: return False
    if tag == "wd": return all(c in "0123456789ABCDEF" for c in line[10:])
    if tag[0] == "t": return line[10] in "+-" and line[11:].isdigit()
    return line[10:].isdigit()
data = open(log, "rb").read().decode("latin-1")
if not data.startswith("cm Data Log File for WX118\r\ncm created:"): bad("log header lost")
pieces = data.split("\n")
tail = pieces.pop()  # text after the last line end: empty or a torn line
torn = set(state["torn"])
count = 0
for i, p in enumerate(pieces):
    if not p.endswith("\r"): bad("line %d has no CR LF: %r" % (i + 1, p))
    line = p[:-1]
    if whole(line): count += 1; continue
    # A torn line of an earlier round, kept on its own line.
    if line in torn or (line.endswith("\r") and line[:-1] in torn): continue
    bad("line %d is not a whole record: %r" % (i + 1, line))
if tail:
    if "\n" in tail: bad("torn tail spans lines")
    state["torn"].append(tail.rstrip("\r"))
# A torn line of the previous round is reported by this round's start.
if state["report"]:
    if state["report"] not in open(errlog, "rb").read().decode("latin-1"):
        bad("the torn line %r was not reported" % state["report"])
    state["report"] = None
if tail.rstrip("\r"):
    state["report"] = tail.rstrip("\r")[:40]
json.dump(state, open(state_path, "w"))
page = os.path.join(www, "WX118WG.htm")
if os.path.exists(page):
    html = open(page, "rb").read()
    if not (html.startswith(b"<html>\r\n") and html.endswith(b"</body>\r\n</html>\r\n")): bad("page not whole")
jpg = os.path.join(www, "WX118WG.jpg")
if os.path.exists(jpg):
    b = open(jpg, "rb").read()
    if not (b.startswith(b"\xff\xd8") and b.endswith(b"\xff\xd9")): bad("picture not whole")
left = [f for f in os.listdir(www) if f.startswith(".WX118WG.")] if os.path.isdir(www) else []
print("%d %d" % (count, len(left)))
EOF

total_kills=0
max_left=0
start_all=$(date +%s)
for round in $(seq 1 "$rounds"); do
  before=0
  [ -f "$log" ] && before=$(stat -c %s "$log")
  "$bin" --headless --demo "$dir" --speed 1000 >"$tmp/out" 2>"$tmp/err" &
  pid=$!
  # Wait for the first line this run writes, then kill at a random moment.
  for _ in $(seq 1 500); do
    [ -f "$log" ] && [ "$(stat -c %s "$log")" -gt "$before" ] && break
    kill -0 $pid 2>/dev/null || fail "the program ended by itself: $(cat "$tmp/err")"
    sleep 0.01
  done
  [ "$(stat -c %s "$log" 2>/dev/null || echo 0)" -gt "$before" ] || fail "nothing written within 5 s"
  sleep "0.$(printf "%03d" $((RANDOM % 200)))"
  kill -0 $pid 2>/dev/null || fail "the program ended by itself: $(cat "$tmp/err")"
  kill -9 $pid
  wait $pid 2>/dev/null
  pid=
  total_kills=$((total_kills + 1))
  # A power loss: the last record loses its end.
  if [ $((round % 5)) -eq 0 ] && [ "$round" -lt "$rounds" ]; then
    truncate -s -$((3 + RANDOM % 8)) "$log"
  fi
  res=$("$py" -I -S "$tmp/check.py" "$log" "$errlog" "$www" "$tmp/state.json") || fail "$res"
  if [ $have_identify -eq 1 ] && [ -f "$www/WX118WG.jpg" ]; then
    identify -regard-warnings "$www/WX118WG.jpg" >/dev/null 2>&1 || fail "picture does not decode"
  fi
  if command -v sqlite3 >/dev/null && [ -f "$archive" ]; then
    a=$(sqlite3 "$archive" "PRAGMA integrity_check; SELECT count(*) FROM archive;" 2>&1) ||
      fail "the archive does not open: $a"
    [ "$(echo "$a" | head -1)" = ok ] || fail "the archive is damaged: $a"
    a=$(echo "$a" | tail -1)
    [ "$a" -ge "${archived:-0}" ] || fail "the archive lost records: $a after ${archived:-0}"
    archived=$a
  fi
  for page in "$www"/history*.html; do
    [ -f "$page" ] || continue
    tail -c 8 "$page" | grep -q '</html>' || fail "$page is not whole"
  done
  left=${res#* }
  [ "$left" -gt "$max_left" ] && max_left=$left
  records=${res% *}
done
# Temporary files of a killed write are cleared by the next run's first write:
# at most the one of the last kill may remain.
[ "$max_left" -le 2 ] || fail "$max_left temporary files piled up in the page folder"
echo "PASS: $total_kills kills, $records whole records, ${archived:-no} archive records, $(( $(date +%s) - start_all )) s"
