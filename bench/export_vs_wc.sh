#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Export speed beside `wc -l` on the same data log, in one run, pair by pair:
#   bench/export_vs_wc.sh BUILD_DIR [MEGABYTES=200] [RUNS=5] [FORMAT=csv]
# Prints min/median/max of wall and CPU (user+sys) MB/s for both, the ratio
# export/wc of each pair, and the export's peak memory.
set -euo pipefail
build=${1:?build dir}
mb=${2:-200}
runs=${3:-5}
format=${4:-csv}
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
for _ in $(seq "$runs"); do
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
