#!/usr/bin/env bash
# The published page as a reader sees it: the demo station (without windows)
# publishes every second into its www folder, a local web server serves it,
# and headless Chromium loads it. A small checking page holds the published
# page in a frame and writes what the browser made of it (table rows, the
# message, the chart picture's size) into its own DOM, which Chromium dumps.
# A screenshot of the page is kept in <build>/artefacts/web_page/.
set -u
build=$1
bin=$build/wx118
art=$build/artefacts/web_page
tmp=$(mktemp -d)
pid="" spid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  [ -n "$spid" ] && kill "$spid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  cp "$www/WX118WG.htm" "$art/" 2>/dev/null
  echo "--- program stderr"; tail -20 "$tmp/err" 2>/dev/null
  echo "--- server"; tail -5 "$tmp/server" 2>/dev/null
  echo "--- browser"; tail -20 "$tmp/chrome.err" 2>/dev/null
  echo "--- checked"; cat "$tmp/result" 2>/dev/null || cat "$tmp/dom" 2>/dev/null
  exit 1
}
waitfor() {
  local limit=$(( $1 * 5 )); shift
  for _ in $(seq 1 "$limit"); do "$@" && return 0; sleep 0.2; done
  "$@"
}

demo=$tmp/demo
www=$demo/www
mkdir -p "$art" || fail "cannot create $art"
rm -f "$art"/*
for tool in chromium python3 identify; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh installs it)"
done
[ -x "$bin" ] || fail "no program at $bin"
export XDG_RUNTIME_DIR=$tmp/run TMPDIR=$tmp/t
mkdir -p "$XDG_RUNTIME_DIR" "$TMPDIR"; chmod 700 "$XDG_RUNTIME_DIR"

# The demo keeps a secondary file that exists: page and picture every second,
# and a page message with a little markup.
message='Rain gauge cleaned <b id="wxmsg">today</b>, readings from 9:00'
mkdir -p "$demo/root/c/WX118" "$www"
printf '%s\r\n' "abWX118ini2 web page check" "[swg]" "wgp=$www" "wgh=WX118WG.htm" "hsi=1" \
  "[enis]" "wgi=WX118WG.jpg" "iri=1" "[HTMLMsg]" "Msg=$message" "Persists=0" \
  >"$demo/root/c/WX118/WX118ini2.txt"

"$bin" --headless --demo "$demo" --speed 20 >"$tmp/out" 2>"$tmp/err" &
pid=$!
# The page is full once all eight rows hold readings.
full() { [ -s "$www/WX118WG.jpg" ] && ! grep -q 'Not Read Yet' "$www/WX118WG.htm" 2>/dev/null && grep -q -- '--at--' "$www/WX118WG.htm"; }
waitfor 40 full || { kill -0 "$pid" 2>/dev/null || fail "the program ended early"; fail "no full page within 40 s"; }
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
waitfor 20 grep -q 'port [0-9]' "$tmp/server" || fail "the web server did not start"
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
echo "PASS (screenshot in $art)"
