#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The documents against the program: every command block of the README that
# is marked to run is run, in order, in one scratch folder with the built
# wx118 first on PATH; every command and option the program's own help lists
# is in the man page and the README; every man page formats without a
# warning, as man-db and lintian format it.
#
# README markers, on the line before a fenced block:
#   <!-- runs -->                 each line must end with status 0
#   <!-- runs until stopped -->   each line must still run after 5 s and end
#                                 with status 0 on SIGTERM
set -u
. "$(dirname "$0")/lib.sh"
e2e_begin "$@"
fail() { echo "FAIL: $*"; exit 1; }
[ -n "$src" ] || fail "usage: documents.sh BUILD SOURCE"
command -v man >/dev/null || fail "man is missing (scripts/install-deps.sh installs it)"
private_runtime "$tmp"
pid=
on_exit '[ -n "$pid" ] && kill -9 $pid 2>/dev/null'

# The README's marked blocks, as "mode<TAB>command" lines.
awk '
  /^<!-- runs -->$/ { mode = "runs"; next }
  /^<!-- runs until stopped -->$/ { mode = "stops"; next }
  /^```/ { if (inside) { inside = 0; mode = "" } else if (mode != "") inside = 1; next }
  inside && NF && $1 != "#" { print mode "\t" $0 }
' "$src/README.md" >"$tmp/commands"
[ "$(grep -c '^runs' "$tmp/commands")" -ge 3 ] || fail "the README marks fewer than 3 commands to run"
grep -q '^stops' "$tmp/commands" || fail "the README marks no demo to run"

work=$tmp/work
mkdir -p "$work" "$tmp/bin"
ln -s "$build/wx118" "$tmp/bin/wx118"
ln -s "$build/wx118-simbus" "$tmp/bin/wx118-simbus"
export PATH=$tmp/bin:$PATH XDG_DATA_HOME=$tmp/data XDG_CONFIG_HOME=$tmp/config HOME=$tmp/home
mkdir -p "$HOME"
n=0
while IFS=$'\t' read -r mode cmd; do
  n=$((n + 1))
  if [ "$mode" = runs ]; then
    (cd "$work" && bash -e -o pipefail -c "$cmd") >"$tmp/out.$n" 2>&1 ||
      { cat "$tmp/out.$n"; fail "README command failed: $cmd"; }
  else
    (cd "$work" && exec bash -c "exec $cmd") >"$tmp/out.$n" 2>&1 &
    pid=$!
    sleep 5
    kill -0 $pid 2>/dev/null || { cat "$tmp/out.$n"; fail "README command ended at once: $cmd"; }
    kill -TERM $pid
    wait $pid; rc=$?
    pid=
    [ $rc -eq 0 ] || { cat "$tmp/out.$n"; fail "README command ended with status $rc on SIGTERM: $cmd"; }
  fi
done <"$tmp/commands"

# Every command and option of the program's help (and of each command's
# own), in wx118(1) and the README.
"$build/wx118" --help >"$tmp/help"
commands=$(grep -o '^ *\(usage: \)\?wx118 [a-z][a-z]*' "$tmp/help" | awk '{ print $NF }' | sort -u)
[ -n "$commands" ] || fail "wx118 --help names no command"
for cmd in $commands; do "$build/wx118" "$cmd" --help >>"$tmp/help" || fail "wx118 $cmd --help"; done
man1=$src/docs/man/wx118.1
for cmd in $commands; do
  grep -q "^\.B wx118 $cmd\$" "$man1" || fail "wx118(1) has no synopsis of wx118 $cmd"
  grep -q "wx118 $cmd" "$src/README.md" || fail "the README does not mention wx118 $cmd"
done
for opt in $(grep -o -- '--[a-z][a-z0-9-]*' "$tmp/help" | sort -u); do
  grep -qF -- "$(printf '%s' "$opt" | sed 's/-/\\-/g')" "$man1" || fail "wx118(1) does not mention $opt"
  grep -qF -- "$opt" "$src/README.md" || fail "the README does not mention $opt"
done

# Every man page, formatted as man-db and lintian do: no warning.
for page in "$src"/docs/man/*.[1-9]; do
  w=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
  [ -z "$w" ] || fail "man --warnings ${page##*/}: $w"
done
echo PASS
