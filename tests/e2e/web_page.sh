#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The published page as a reader sees it, then the phone page beside it at
# 390 px and at desktop width, checked against current.json.
# The published page: the demo station (without windows)
# publishes every second into its www folder, a local web server serves it,
# and headless Chromium loads it. A small checking page holds the published
# page in a frame and writes what the browser made of it (table rows, the
# message, the chart picture's size) into its own DOM, which Chromium dumps.
# A screenshot of the page is kept in <build>/artefacts/web_page/.
set -u
. "$(dirname "$0")/lib.sh"
e2e_begin "$@"
art=$build/artefacts/web_page
pid="" spid=""
on_exit '[ -n "$pid" ] && kill "$pid" 2>/dev/null; [ -n "$spid" ] && kill "$spid" 2>/dev/null; wait 2>/dev/null'
fail() {
  echo "FAIL: $*"
  cp "$www/WX118WG.htm" "$art/" 2>/dev/null
  echo "--- program stderr"; tail -20 "$tmp/err" 2>/dev/null
  echo "--- server"; tail -5 "$tmp/server" 2>/dev/null
  echo "--- browser"; tail -20 "$tmp/chrome.err" 2>/dev/null
  echo "--- checked"; cat "$tmp/result" 2>/dev/null || cat "$tmp/dom" 2>/dev/null
  exit 1
}

demo=$tmp/demo
www=$demo/www
mkdir -p "$art" || fail "cannot create $art"
rm -f "$art"/*
for tool in chromium python3 identify; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh installs it)"
done
[ -x "$bin" ] || fail "no program at $bin"
private_runtime "$tmp"

# The demo keeps a secondary file that exists: page and picture every second,
# and a page message with a little markup.
message='Rain gauge cleaned <b id="wxmsg">today</b>, readings from 9:00'
mkdir -p "$demo/root/c/WX118" "$www"
printf '%s\r\n' "abWX118ini2 web page check" "[swg]" "wgp=$www" "wgh=WX118WG.htm" "hsi=1" \
  "[enis]" "wgi=WX118WG.jpg" "iri=1" "[HTMLMsg]" "Msg=$message" "Persists=0" \
  "[Units]" "Temperature=F" "p5f=0.2794" "p8o=800" "p8f=50" "[PhonePage]" "Index=1" "Name=Check <station>" \
  >"$demo/root/c/WX118/WX118ini2.txt"

"$bin" --headless --demo "$demo" --speed 20 >"$tmp/out" 2>"$tmp/err" &
pid=$!
# The page is full once all eight rows hold readings.
full() { [ -s "$www/WX118WG.jpg" ] && ! grep -q 'Not Read Yet' "$www/WX118WG.htm" 2>/dev/null && grep -q -- '--at--' "$www/WX118WG.htm"; }
wait_for 40 full || { kill -0 "$pid" 2>/dev/null || fail "the program ended early"; fail "no full page within 40 s"; }
identify "$www/WX118WG.jpg" | grep -q ' JPEG 780x237 ' || fail "the picture is not a 780 x 237 JPEG: $(identify "$www/WX118WG.jpg" 2>&1)"

cat >"$www/check.htm" <<'EOF'
<html><head><title>check</title></head><body>
<pre id="result"></pre>
<iframe id="f" src="WX118WG.htm" width="1000" height="800"></iframe>
<script>
// The frame's page, its images included, has loaded before this page's load
// event; the results go into this page's DOM for --dump-dom.
window.addEventListener('load', function () {
  var out = [];
  try {
    var d = document.getElementById('f').contentDocument;
    out.push('TITLE|' + d.title);
    var pre = d.querySelector('pre');
    (pre ? pre.textContent : '').split('\n').forEach(function (r) {
      if (r.indexOf('--at--') >= 0) out.push('ROW|' + r.replace(/\r/g, ''));
    });
    d.querySelectorAll('img').forEach(function (i) {
      out.push('IMG|' + i.getAttribute('src') + '|' + i.complete + '|' + i.naturalWidth + 'x' + i.naturalHeight);
    });
    var b = d.getElementById('wxmsg');
    out.push('BOLD|' + (b ? b.tagName + ':' + b.textContent : 'none'));
    out.push('TEXT|' + d.body.innerText.replace(/\s+/g, ' '));
  } catch (e) {
    out.push('ERROR|' + e);
  }
  document.getElementById('result').textContent = out.join('\n') + '\nDONE\n';
});
</script>
</body></html>
EOF

# The web server on a port of its own choosing; it says which on its first line.
python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$www" >"$tmp/server" 2>&1 &
spid=$!
wait_for 20 grep -q 'port [0-9]' "$tmp/server" || fail "the web server did not start"
port=$(sed -n 's/.* port \([0-9]*\).*/\1/p' "$tmp/server" | head -1)
base=http://127.0.0.1:$port

browse() {
  timeout 60 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --disable-dev-shm-usage --user-data-dir="$tmp/chrome-$1" "${@:2}" 2>>"$tmp/chrome.err"
}
browse dom --virtual-time-budget=5000 --dump-dom "$base/check.htm" >"$tmp/dom" ||
  fail "Chromium did not dump the checking page"
grep -q '^DONE$' "$tmp/dom" || fail "the checking script did not run"
# The result block, one "KIND|value" line each (markup in it comes escaped).
sed -n '/<pre id="result">/,/^DONE$/p' "$tmp/dom" | sed 's/^<pre id="result">//' >"$tmp/result"
grep -q '^ERROR|' "$tmp/result" && fail "the checking script failed"
browse shot --hide-scrollbars --window-size=1000,900 --screenshot="$art/page.png" "$base/WX118WG.htm" >/dev/null ||
  fail "Chromium did not take the screenshot"
[ -s "$art/page.png" ] || fail "no screenshot"
cp "$www/WX118WG.htm" "$www/WX118WG.jpg" "$tmp/result" "$art/"

grep -q '^TITLE|WebGlance from WX118' "$tmp/result" || fail "page title"
# The chart picture loaded at its full size.
grep -qx 'IMG|WX118WG.jpg|true|780x237' "$tmp/result" || fail "the chart picture did not load at 780 x 237"
# The message, its markup rendered, not shown as text.
grep -qx 'BOLD|B:today' "$tmp/result" || fail "the page message's markup did not render"
grep -q '^TEXT|.*Rain gauge cleaned today, readings from 9:00' "$tmp/result" || fail "the page message is missing"
grep -q '^TEXT|.*&lt;b\|^TEXT|.*<b' "$tmp/result" && fail "the page message shows its markup as text"

# Eight rows, oldest first: "  52.7 F    70.7 F  --at--  08-Dec-2026, 14:05:07   000006".
rows=$(grep -c '^ROW|' "$tmp/result")
[ "$rows" -eq 8 ] || fail "$rows table rows, not 8"
cell='[ -][ 0-9-][ 0-9-][0-9-]\.[0-9]'
grep '^ROW|' "$tmp/result" | sed 's/^ROW|//' | while IFS= read -r row; do
  echo "$row" | grep -qx "$cell F  $cell F  --at--  [0-3][0-9]-[A-Z][a-z][a-z]-20[0-9][0-9], [0-2][0-9]:[0-5][0-9]:[0-5][0-9]   [0-9]\{6,\}" ||
    { echo "bad row: '$row'"; exit 1; }
  # The demo's T0 swings 2..12 C and T1 20.4..21.6 C: in Fahrenheit 35.6..53.6 and 68.7..70.9.
  echo "$row" | awk '{ t0 = $1 + 0; t1 = $3 + 0; exit !(t0 >= 35.5 && t0 <= 53.7 && t1 >= 68.6 && t1 <= 71.0) }' ||
    { echo "implausible temperatures: '$row'"; exit 1; }
done || fail "table rows"
# Oldest first: the row times never go back.
grep '^ROW|' "$tmp/result" | sed 's/.*--at--  \([0-9]*\)-\([A-Za-z]*\)-\([0-9]*\), \([0-9:]*\).*/\1 \2 \3 \4/' |
  while read -r when; do date -d "$when" +%s || echo bad; done >"$tmp/times"
sort -n -c "$tmp/times" 2>/dev/null || fail "table rows are not oldest first: $(tr '\n' ' ' <"$tmp/times")"
grep -q 'index.html\|current.json' "$www/WX118WG.htm" && fail "the page mentions the new files"

# The phone page. The program is stopped so the files hold still; then
# current.json is changed by hand (T0 up 1.5 degrees): the page must show the
# changed values after its own refresh, without being loaded again.
kill "$pid"; wait "$pid"; pid=""
[ -s "$www/index.html" ] && [ -s "$www/current.json" ] || fail "no index.html or current.json"
grep -q 'name="viewport"' "$www/index.html" || fail "index.html has no viewport"
grep -q 'https\?://' "$www/index.html" && fail "index.html loads something from outside its folder"
cp "$www/index.html" "$www/current.json" "$art/"
python3 - "$www/current.json" <<'PY' || fail "current.json"
import json, sys
d = json.load(open(sys.argv[1], encoding="utf-8"))
assert d["station"] == "Check <station>" and d["message"].startswith("Rain gauge") and d["page"] == "WX118WG.htm", d
ch = {c["channel"]: c for c in d["channels"]}
for name in ("T0", "T1", "rain", "pressure", "humidity", "wind_direction"):
    assert name in ch and ch[name]["raw"] is not None and ch[name]["time"][10] == "T", (name, ch.get(name))
t0 = ch["T0"]
assert t0["unit"] == "°F" and abs(t0["value"] - (t0["raw"] * 9 / 5 + 32)) < 1e-6, t0
assert ch["rain"]["unit"] == "mm" and abs(ch["rain"]["value"] - ch["rain"]["raw"] * 0.2794) < 1e-6, ch["rain"]
assert abs(ch["pressure"]["value"] - (800 + 50 * ch["pressure"]["raw"] / 100)) < 1e-6, ch["pressure"]
assert "value" not in ch["humidity"] and ch["humidity"]["raw_unit"] == "V/100", ch["humidity"]
t0["raw"] += 1.5
t0["value"] = t0["raw"] * 9 / 5 + 32
json.dump(d, open(sys.argv[1], "w", encoding="utf-8"), ensure_ascii=False)
PY
cat >"$www/phone.htm" <<'HTM'
<html><head><title>phone check</title></head><body>
<pre id="result"></pre>
<script>
// index.html in a frame of the given width (the frame is its viewport). After
// its refresh interval the values shown must be those of current.json now.
var width = Number(location.hash.substr(1)) || 390;
var f = document.createElement('iframe');
f.width = width; f.height = 900; f.src = 'index.html';
document.body.append(f);
var out = [];
f.addEventListener('load', function () {
  f.contentWindow.notReloaded = true;
  setTimeout(check, 7000);
});
function shown(c) {
  if (c.raw === null) return '\u2014';  // not read yet
  if (c.channel === 'wind_direction') return c.direction === null ? '\u2014' : c.direction;
  var v = c.value !== undefined ? c.value : c.raw, u = c.value !== undefined ? c.unit : c.raw_unit;
  return String(Math.round(v * 10) / 10) + ' ' + u;
}
function check() {
  fetch('current.json', {cache: 'no-store'}).then(function (r) { return r.json(); }).then(function (d) {
    var doc = f.contentDocument;
    out.push('RELOADED|' + (f.contentWindow.notReloaded !== true));
    out.push('OVERFLOW|' + (doc.documentElement.scrollWidth > width));
    var cards = doc.querySelectorAll('#values .card');
    // The weather first, as a person reads it: the temperature in the page's
    // unit with the day's high and low, the wind with its compass point or calm.
    var w = {};
    doc.querySelectorAll('#weather .card').forEach(function (c) {
      w[c.dataset.weather] = c.querySelector('.value').textContent + '|' + (c.querySelector('.detail') || {}).textContent;
    });
    out.push('WEATHER|' + Object.keys(w).sort().join(','));
    if (!/^-?[0-9.]+ \u00b0F\|High .* at \d\d:\d\d, Low .* at \d\d:\d\d$/.test(w.temperature || ''))
      out.push('WRONG|temperature|' + w.temperature);
    if (!/^\d+ mph ([NESW]{1,3}|calm)\|/.test(w.wind || '')) out.push('WRONG|wind|' + w.wind);
    out.push('CARDS|' + cards.length + '|' + d.channels.length);
    var top = cards.length ? cards[0].offsetTop : -1, perRow = 0;
    cards.forEach(function (card) {
      if (card.offsetTop === top) ++perRow;
      var c = d.channels.filter(function (x) { return x.channel === card.dataset.channel; })[0];
      var text = card.querySelector('.value').textContent;
      if (!c || text !== shown(c)) out.push('WRONG|' + card.dataset.channel + '|' + text + '|' + (c ? shown(c) : 'none'));
      var size = parseFloat(getComputedStyle(card.querySelector('.value')).fontSize);
      if (size < 16) out.push('SMALL|' + card.dataset.channel + '|' + size);
    });
    out.push('PERROW|' + perRow);
    var img = doc.getElementById('chart');
    out.push('IMG|' + img.complete + '|' + img.naturalWidth + 'x' + img.naturalHeight + '|' + (img.getBoundingClientRect().right <= width));
    out.push('LINK|' + doc.getElementById('classic').getAttribute('href'));
    out.push('BOLD|' + (doc.getElementById('wxmsg') ? doc.getElementById('wxmsg').textContent : 'none'));
    out.push('TITLE|' + doc.getElementById('station').textContent);
  }).catch(function (e) { out.push('ERROR|' + e); }).then(function () {
    document.getElementById('result').textContent = out.join('\n') + '\nDONE\n';
  });
}
</script>
</body></html>
HTM
for width in 390 1280; do
  browse "phone$width" --virtual-time-budget=15000 --dump-dom "$base/phone.htm#$width" >"$tmp/phone$width.dom" ||
    fail "Chromium did not dump the phone check at $width"
  r=$tmp/phone$width
  sed -n '/<pre id="result">/,/^DONE$/p' "$r.dom" | sed 's/^<pre id="result">//; s/&lt;/</g; s/&gt;/>/g; s/&amp;/\&/g' >"$r"
  cp "$r" "$art/phone-result-$width"
  grep -q '^DONE$' "$r" || fail "the phone check did not finish at $width"
  grep '^ERROR|\|^WRONG|\|^SMALL|' "$r" && fail "phone page at $width: $(grep '^ERROR|\|^WRONG|\|^SMALL|' "$r")"
  grep -qx 'RELOADED|false' "$r" || fail "the phone page reloaded instead of refreshing ($width)"
  grep -qx 'OVERFLOW|false' "$r" || fail "the phone page is wider than $width px"
  grep -q '^CARDS|\([1-9][0-9]*\)|\1$' "$r" || fail "one card per channel ($width): $(grep CARDS "$r")"
  grep -qx 'WEATHER|humidity,pressure,rain,temperature,wind' "$r" || fail "the weather cards ($width): $(grep WEATHER "$r")"
  grep -qx 'IMG|true|780x237|true' "$r" || fail "the chart on the phone page ($width): $(grep IMG "$r")"
  grep -qx 'LINK|WX118WG.htm' "$r" || fail "no link to the page ($width)"
  grep -qx 'BOLD|today' "$r" || fail "the message on the phone page ($width)"
  grep -qx 'TITLE|Check <station>' "$r" || fail "the station name ($width)"
  browse "shot$width" --hide-scrollbars --window-size=$width,900 \
    --screenshot="$art/phone-$width.png" "$base/index.html" >/dev/null || fail "no screenshot at $width"
done
grep -qx 'PERROW|[12]' "$tmp/phone390" || fail "more than two values side by side at 390 px"
grep -qx 'PERROW|\([4-9]\|[1-9][0-9]\)' "$tmp/phone1280" || fail "fewer than four values side by side at 1280 px"
echo "PASS (screenshots in $art)"
