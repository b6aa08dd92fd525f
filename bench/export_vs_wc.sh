#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Export speed beside `wc -l` on the same data log, in one run, pair by pair:
#   bench/export_vs_wc.sh BUILD_DIR [MEGABYTES=200] [RUNS=5] [FORMAT=csv] [OTHER_WX118]
# Prints min/median/max of wall and CPU (user+sys) MB/s for both, the ratio
# export/wc of each pair, and the export's peak memory. With OTHER_WX118 (an
# earlier build, say) its export runs in turn with them and its figures and
# the speed ratio to it follow.
set -euo pipefail
build=${1:?build dir}
mb=${2:-200}
runs=${3:-5}
format=${4:-csv}
other=${5:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
log=$work/WX18DtLg.txt
"$build/wx118-loggen" "$log" $((mb * 1000000)) >/dev/null
bytes=$(stat -c %s "$log")
cat "$log" >/dev/null  # both read from the page cache

# wall and CPU seconds and peak kB of one command, output to /dev/null
measure() { /usr/bin/time -f '%e %U %S %M' -o "$work/t" "$@" >/dev/null 2>"$work/err"; cat "$work/t"; }
rate() { awk -v b="$bytes" -v s="$1" 'BEGIN { printf "%.0f", (s > 0 ? b / s / 1e6 : 0) }'; }
stats() { sort -n | awk '{ v[NR] = $1 } END { printf "min %s  median %s  max %s", v[1], v[int((NR + 1) / 2)], v[NR] }'; }

: >"$work/rows"
: >"$work/other"
for _ in $(seq "$runs"); do
  if [ -n "$other" ]; then
    read -r ow ou os _ < <(measure "$other" export "$log" --format "$format")
    awk -v w="$ow" -v c="$(awk -v a="$ou" -v b="$os" 'BEGIN{print a+b}')" -v b="$bytes" 'BEGIN {
      if (w <= 0) w = 0.01; if (c <= 0) c = 0.01; printf "%.0f %.0f %.6f %.6f\n", b/w/1e6, b/c/1e6, w, c }' >>"$work/other"
  fi
  read -r ew eu es em < <(measure "$build/wx118" export "$log" --format "$format")
  read -r ww wu ws _ < <(measure wc -l "$log")
  awk -v ew="$ew" -v ec="$(awk -v a="$eu" -v b="$es" 'BEGIN{print a+b}')" -v ww="$ww" \
      -v wc="$(awk -v a="$wu" -v b="$ws" 'BEGIN{print a+b}')" -v b="$bytes" -v em="$em" 'BEGIN {
    m = 1e6; if (ew <= 0) ew = 0.01; if (ww <= 0) ww = 0.01; if (ec <= 0) ec = 0.01; if (wc <= 0) wc = 0.01
    printf "%.0f %.0f %.0f %.0f %.4f %.4f %d\n", b/ew/m, b/ec/m, b/ww/m, b/wc/m, ww/ew, wc/ec, em }' >>"$work/rows"
done
echo "data log: $bytes bytes, $runs runs, format $format"
echo "export wall MB/s:      $(cut -d' ' -f1 "$work/rows" | stats)"
echo "export CPU MB/s:       $(cut -d' ' -f2 "$work/rows" | stats)"
echo "wc -l wall MB/s:       $(cut -d' ' -f3 "$work/rows" | stats)"
echo "wc -l CPU MB/s:        $(cut -d' ' -f4 "$work/rows" | stats)"
echo "export/wc speed, wall: $(cut -d' ' -f5 "$work/rows" | stats)"
echo "export/wc speed, CPU:  $(cut -d' ' -f6 "$work/rows" | stats)"
echo "export peak kB:        $(cut -d' ' -f7 "$work/rows" | stats)"
if [ -n "$other" ]; then
  echo "other export wall MB/s: $(cut -d' ' -f1 "$work/other" | stats)  ($other)"
  echo "other export CPU MB/s:  $(cut -d' ' -f2 "$work/other" | stats)"
  # pair by pair: this export's speed over the other's
  paste -d' ' "$work/rows" "$work/other" | awk '{ printf "%.4f %.4f\n", $1 / $8, $2 / $9 }' >"$work/ratio"
  echo "export/other, wall:     $(cut -d' ' -f1 "$work/ratio" | stats)"
  echo "export/other, CPU:      $(cut -d' ' -f2 "$work/ratio" | stats)"
fi
