#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The archive as an owner meets it. A time-lapse demo (no windows) fills
# weeks of it; its history pages are opened in headless Chromium at 390 and
# 1280 px (screenshots kept in <build>/artefacts/archive/): charts with axes
# and labels, nothing wider than the window, nothing fetched from elsewhere.
# The summaries are checked against `wx118 export --derived` on the same data
# log (rain per day and month, the days' highs and lows with their times), and
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
"$bin" export --derived --format jsonl --root "$root" >"$tmp/derived" 2>"$tmp/derived.err" || fail "wx118 export --derived"
python3 - "$tmp/derived" "$www" $months <<'PY' || fail "summaries and wx118 export --derived disagree"
import json, re, sys, collections
derived, www = sys.argv[1:3]
months = sys.argv[3:]
# The export's day rows: rain of the day, the outdoor temperature's low and
# high with their times, from the same data log.
dv = collections.defaultdict(dict)
for line in open(derived, encoding="utf-8"):
    r = json.loads(line)
    if r.get("tag") == "dv":
        dv[r["time"][:10].replace("-", "")][r["channel"]] = (r["value"], r["time"][11:16])
minutes = lambda hhmm: int(hhmm[:2]) * 60 + int(hhmm[3:])
last = max(dv)  # cut off when the run stopped: its unfinished interval is not archived
bad, checked = [], 0
for m in months:
    y, mo = m.split("-")
    text = open("%s/NOAA-%s.txt" % (www, m)).read()
    rain = 0.0
    for r in re.findall(r"^\d\d .*$", text, re.M):
        f = r.split()
        day = y + mo + f[0]
        d = dv.get(day, {})
        num = lambda x: None if x == "--" else float(x)
        if day == last:
            rain += num(f[8]) or 0
            continue
        rain += d.get("rain_day", (0, ""))[0]
        checked += 1
        if abs((num(f[8]) or 0) - d.get("rain_day", (0, ""))[0]) > 0.051: bad.append("rain %s: %s, export %s" % (day, f[8], d.get("rain_day")))
        # Equal values, reached within minutes (at this speed the clock moves
        # minutes between a reading and its log line); no reading that day:
        # none in either.
        for col, key in ((2, "T0_high"), (4, "T0_low")):
            v, t = d.get(key, (None, "--"))
            x = num(f[col])
            if (x is None) != (v is None) or (v is not None and (abs(x - v) > 0.051 or abs(minutes(f[col + 1]) - minutes(t)) > 5)):
                bad.append("%s %s: %s at %s, export %s at %s" % (key, day, f[col], f[col + 1], v, t))
    total = re.findall(r"^-+\n +\S+ +\S+ +\S+ +\S+ +\S+ +\S+ +\S+ +(\S+)", text, re.M)
    if not total or abs(float(total[0]) - rain) > 0.1: bad.append("rain of %s: %s, export %.2f" % (m, total, rain))
if checked < 5 or bad:
    print("%d days checked; %s" % (checked, "; ".join(bad[:10]))); sys.exit(1)
print("%d days agree with wx118 export --derived, %.1f mm of rain" % (checked, sum(d.get("rain_day", (0,))[0] for d in dv.values())))
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
    if x and x[0] is not None and (not y or y[0] is None): bad.append("%s: no temperature rebuilt" % day)
    elif x and x[0] is not None and (y[0] < x[0] - 0.01 or y[1] > x[1] + 0.01): bad.append("%s temperature: live %s, rebuilt %s" % (day, x, y))
if bad or len(days) < 5:
    print("; ".join(bad[:10]) or "too few days"); sys.exit(1)
print("%d days agree" % len(days))
PY
echo "PASS (screenshots in $art)"
