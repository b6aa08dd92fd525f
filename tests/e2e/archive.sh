#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The archive as an owner meets it. A time-lapse demo (no windows) fills
# weeks of it; its history pages are opened in headless Chromium at 390 and
# 1280 px (screenshots kept in <build>/artefacts/archive/): charts with axes
# and labels, nothing wider than the window, nothing fetched from elsewhere.
# The summaries are checked against the data log (rain per day from the rain
# counter's records; highs and lows that hold every logged temperature), and
# `wx118 summary` prints what the page folder holds. The archive rebuilt
# from the same log, cut into a logrotate set with compressed parts and given
# in any order, agrees with the live one, and a second rebuild gives the
# same database.
set -u
. "$(dirname "$0")/lib.sh"
e2e_begin "$@"
art=$build/artefacts/archive
days=${WX118_ARCHIVE_DAYS:-14}
pid="" spid=""
on_exit '[ -n "$pid" ] && kill "$pid" 2>/dev/null; [ -n "$spid" ] && kill "$spid" 2>/dev/null; wait 2>/dev/null'
fail() {
  echo "FAIL: $*"
  echo "--- program stderr"; tail -20 "$tmp/err" 2>/dev/null
  echo "--- browser"; tail -10 "$tmp/chrome.err" 2>/dev/null
  exit 1
}
for tool in chromium python3 sqlite3; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh installs it)"
done
[ -x "$bin" ] || fail "no program at $bin"
mkdir -p "$art" && rm -f "$art"/* || fail "cannot create $art"
private_runtime "$tmp"
demo=$tmp/demo
root=$demo/root
www=$demo/www
db=$root/c/wx118-archive.sqlite
log=$root/c/WX18DtLg.txt

# --- the time-lapse run: as fast as the machine goes, until $days are archived
"$bin" --headless --demo "$demo" --speed 100000 >"$tmp/out" 2>"$tmp/err" &
pid=$!
span() { sqlite3 "$db" "SELECT coalesce(max(time) - min(time), 0) FROM archive" 2>/dev/null || echo 0; }
filled() { [ "$(span)" -ge $((days * 86400)) ]; }
polls_per_second=1 wait_for 240 filled || { kill -0 "$pid" 2>/dev/null || fail "the demo ended early"; fail "only $(( $(span) / 3600 )) hours archived in 240 s"; }
kill "$pid"; wait "$pid"; pid=""
grep -q 'Archive' "$root/c/WX18ErLg.txt" && fail "the archive reported a problem: $(grep Archive "$root/c/WX18ErLg.txt")"
echo "archived $(( $(span) / 86400 )) days, $(sqlite3 "$db" 'SELECT count(*) FROM archive') records"
for f in history.html history-week.html history-month.html history-year.html; do
  [ -s "$www/$f" ] || fail "no $f"
done
cp "$www"/history*.html "$www"/NOAA-*.txt "$art/"

# --- the summaries against the data log
months=$(sqlite3 "$db" "SELECT DISTINCT substr(day, 1, 4) || '-' || substr(day, 5, 2) FROM day_summary ORDER BY 1")
[ -n "$months" ] || fail "no day rows"
for m in $months; do
  "$bin" summary --month "$m" --root "$root" >"$tmp/summary" || fail "wx118 summary --month $m"
  cmp -s "$tmp/summary" "$www/NOAA-$m.txt" || fail "wx118 summary --month $m differs from NOAA-$m.txt"
  "$bin" summary --year "${m%-*}" --root "$root" | cmp -s - "$www/NOAA-${m%-*}.txt" || fail "the year's summary differs"
done
python3 - "$log" "$www" "$root/c/WX118/WX118ini2.txt" $months <<'PY' || fail "summaries and data log disagree"
import re, sys, collections
log, www, ini2 = sys.argv[1:4]
months = sys.argv[4:]
# The rain gauge's mm per count: [Units] p5f, else the 0.01 in bucket.
mm = 0.254
units = False
for line in open(ini2, encoding="latin-1"):
    line = line.strip()
    if line.startswith("["): units = line.lower() == "[units]"
    elif units and line.lower().startswith("p5f="): mm = float(line[4:])
def day_of(stamp):
    return "20%s%02d%s" % (stamp[0:2], "abcdefghijkl".index(stamp[2]) + 1, stamp[3:5])
rain = collections.defaultdict(float)
high, low = {}, {}
last = None
for line in open(log, encoding="latin-1"):
    line = line.rstrip("\r\n")
    if len(line) < 11 or line[2:4].isalpha(): continue
    tag, stamp, value = line[:2], line[2:10], line[10:]
    try: day = day_of(stamp)
    except ValueError: continue
    if tag == "rf" and len(line) == 19:
        c = int(value)
        if last is not None and 0 < c - last < 1000: rain[day] += (c - last) * mm
        last = c
    if tag == "t0" and len(line) == 15:
        t = int(value) / 100
        high[day] = max(high.get(day, t), t); low[day] = min(low.get(day, t), t)
bad = []
checked = 0
for m in months:
    y, mo = m.split("-")
    rows = [l for l in open("%s/NOAA-%s.txt" % (www, m)) if re.match(r"^\d\d ", l)]
    for r in rows:
        f = r.split()
        day = y + mo + f[0]
        # The last day is cut off when the run stopped: its unfinished
        # interval is not archived.
        if day == max(rain.keys() | high.keys()): continue
        if f[8] != "--" and abs(float(f[8]) - rain[day]) > 0.06: bad.append("rain %s: %s, log %.2f" % (day, f[8], rain[day]))
        if day in high and float(f[2]) < high[day] - 0.05: bad.append("high %s: %s below logged %.2f" % (day, f[2], high[day]))
        if day in low and float(f[4]) > low[day] + 0.05: bad.append("low %s: %s above logged %.2f" % (day, f[4], low[day]))
        checked += 1
if checked < 5 or bad:
    print("%d days checked; %s" % (checked, "; ".join(bad[:10]))); sys.exit(1)
print("%d days agree with the log, %.1f mm of rain" % (checked, sum(rain.values())))
PY

# --- the pages in a browser, at a phone's width and a desktop's
python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$www" >"$tmp/server" 2>&1 &
spid=$!
wait_for 20 grep -q 'port [0-9]' "$tmp/server" || fail "the web server did not start"
base=http://127.0.0.1:$(sed -n 's/.* port \([0-9]*\).*/\1/p' "$tmp/server" | head -1)
cat >"$www/check.htm" <<'HTM'
<html><body><pre id="result"></pre><script>
// The page in a frame of the given width; what the browser made of it goes
// into this page's DOM for --dump-dom.
var q = location.hash.substr(1).split(','), width = Number(q[1]);
var f = document.createElement('iframe');
f.width = width; f.height = 900; f.src = q[0];
document.body.append(f);
f.addEventListener('load', function () {
  var out = [], d = f.contentDocument, w = f.contentWindow;
  out.push('OVERFLOW|' + (d.documentElement.scrollWidth > width));
  var svgs = d.querySelectorAll('svg');
  out.push('CHARTS|' + svgs.length);
  svgs.forEach(function (s, i) {
    var box = s.getBoundingClientRect(), texts = s.querySelectorAll('text');
    var small = 0;
    texts.forEach(function (t) { if (t.getBoundingClientRect().height < 8) ++small; });
    out.push('CHART|' + i + '|' + Math.round(box.width) + '|' + (box.right <= width) + '|' + texts.length +
             '|' + s.querySelectorAll('path,circle,rect').length + '|' + small + '|' + texts[0].textContent);
  });
  w.performance.getEntriesByType('resource').forEach(function (e) {
    if (e.name.indexOf(location.origin) !== 0) out.push('FOREIGN|' + e.name);
  });
  out.push('TABLES|' + d.querySelectorAll('table').length);
  document.getElementById('result').textContent = out.join('\n') + '\nDONE\n';
});
</script></body></html>
HTM
browse() {
  timeout 60 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --disable-dev-shm-usage --user-data-dir="$tmp/chrome-$1" "${@:2}" 2>>"$tmp/chrome.err"
}
for page in history history-week history-month history-year; do
  for width in 390 1280; do
    r=$tmp/$page-$width
    browse "$page$width" --virtual-time-budget=5000 --dump-dom "$base/check.htm#$page.html,$width" >"$r.dom" ||
      fail "Chromium did not check $page at $width"
    sed -n '/<pre id="result">/,/^DONE$/p' "$r.dom" | sed 's/^.*<pre id="result">//; s/&amp;/\&/g' >"$r"
    grep -q '^DONE$' "$r" || fail "the check of $page did not finish at $width"
    grep -qx 'OVERFLOW|false' "$r" || fail "$page scrolls sideways at $width px"
    grep -q '^FOREIGN|' "$r" && fail "$page fetches from elsewhere: $(grep FOREIGN "$r")"
    [ "$(sed -n 's/^CHARTS|//p' "$r")" -ge 6 ] || fail "$page has fewer than six charts"
    # Every chart fits, has its title and axis labels, and no label under
    # 8 px high; the temperature, humidity and pressure have their lines.
    awk -F'|' -v w="$width" '/^CHART\|/ { if ($4 != "true" || $5 < 8 || $7 > 0 || ($2 < 3 && $6 < 1)) { print; bad = 1 } }
      END { exit bad }' "$r" || fail "a chart of $page at $width: $(grep '^CHART' "$r" | head -3)"
    browse "shot$page$width" --hide-scrollbars --window-size=$width,2000 \
      --screenshot="$art/$page-$width.png" "$base/$page.html" >/dev/null || fail "no screenshot of $page at $width"
    cp "$r" "$art/$page-$width.result"
  done
done
# Side by side on a desktop, one under the other on a phone.
[ "$(awk -F'|' '/^CHART\|/ { print $3; exit }' "$tmp/history-1280")" -lt 700 ] || fail "the charts do not sit side by side at 1280 px"
[ "$(awk -F'|' '/^CHART\|/ { print $3; exit }' "$tmp/history-390")" -gt 300 ] || fail "the charts are too narrow at 390 px"

# --- the rebuild from a rotated, partly compressed log set
set_dir=$tmp/rotated
mkdir -p "$set_dir"
lines=$(wc -l <"$log")
head -n $((lines / 3)) "$log" | gzip -9 >"$set_dir/WX18DtLg.txt.2.gz"
sed -n "$((lines / 3 + 1)),$((2 * lines / 3))p" "$log" >"$set_dir/WX18DtLg.txt.1"
tail -n +$((2 * lines / 3 + 1)) "$log" >"$set_dir/WX18DtLg.txt"
for n in 1 2; do
  "$bin" archive rebuild --root "$root" --archive "$tmp/rebuilt.sqlite" \
    "$set_dir/WX18DtLg.txt" "$set_dir/WX18DtLg.txt.2.gz" "$set_dir/WX18DtLg.txt.1" >"$tmp/rebuild$n" 2>&1 ||
    fail "rebuild $n: $(cat "$tmp/rebuild$n")"
  sqlite3 "$tmp/rebuilt.sqlite" .dump >"$tmp/dump$n"
done
cp "$tmp/rebuild1" "$art/rebuild.txt"
# Oldest first whatever the order given, each file with what it held.
grep '^read ' "$tmp/rebuild1" | sed 's/^read \([^:]*\):.*/\1/' | xargs -n1 basename | tr '\n' ' ' |
  grep -qx 'WX18DtLg.txt.2.gz WX18DtLg.txt.1 WX18DtLg.txt ' || fail "not read oldest first: $(cat "$tmp/rebuild1")"
cmp -s "$tmp/dump1" "$tmp/dump2" || fail "a second rebuild gave another archive"
python3 - "$db" "$tmp/rebuilt.sqlite" <<'PY' || fail "the rebuilt archive disagrees with the live one"
import sqlite3, sys
live, rebuilt = (sqlite3.connect(p) for p in sys.argv[1:3])
q = "SELECT day, quantity, min, max, sum FROM day_summary"
a = {(r[0], r[1]): r[2:] for r in live.execute(q)}
b = {(r[0], r[1]): r[2:] for r in rebuilt.execute(q)}
days = sorted({k[0] for k in a})
# The first and the last day are partial in the live run (it started and
# stopped in their middle) in the same way: all of them are compared.
bad = []
for day in days:
    for qn in ("rain",):
        x, y = a.get((day, qn)), b.get((day, qn))
        if x and (not y or abs(x[2] - y[2]) > 0.3): bad.append("%s %s: live %s, rebuilt %s" % (day, qn, x, y))
    x, y = a.get((day, "out_temp")), b.get((day, "out_temp"))
    # The log holds a share of the readings: the rebuilt extremes lie
    # within the live ones.
    if x and y and (y[0] < x[0] - 0.01 or y[1] > x[1] + 0.01): bad.append("%s temperature: live %s, rebuilt %s" % (day, x, y))
    if x and not y: bad.append("%s: no temperature rebuilt" % day)
if bad or len(days) < 5:
    print("; ".join(bad[:10]) or "too few days"); sys.exit(1)
print("%d days agree" % len(days))
PY
echo "PASS (screenshots in $art)"
