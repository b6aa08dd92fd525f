#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The Debian package: built with cpack from this build tree, checked with
# lintian (no errors; the warnings it may give are listed below, each with
# its reason), unpacked into a scratch root with dpkg -x, the system unit's
# confinement rated, and the installed program's headless demo started from
# there, confined as the unit confines it, and with its windows module.
#
# lintian (bookworm) reports neither errors nor warnings for this package.
# A warning that a later lintian adds is printed but does not fail the
# check (its tag set changes between releases); an error fails it.
set -u
. "$(dirname "$0")/lib.sh"
e2e_begin "$@"
pid=
on_exit '[ -n "$pid" ] && kill -9 $pid 2>/dev/null'
private_runtime "$tmp"
fail() { echo "FAIL: $*"; exit 1; }
for tool in cpack lintian dpkg-deb fakeroot logrotate systemd-analyze unshare setpriv; do
  command -v $tool >/dev/null || fail "$tool is missing (scripts/install-deps.sh installs it)"
done

# A package without a maintainer is refused, naming where to give one; the
# build's cache holds none unless its configure was given one.
maintainer=$(sed -n 's/^WX118_MAINTAINER:STRING=//p' "$build/CMakeCache.txt")
if [ -z "$maintainer" ]; then
  (cd "$tmp" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/refused" >"$tmp/refused.log" 2>&1) &&
    fail "cpack made a package without a maintainer"
  grep -q 'DWX118_MAINTAINER=' "$tmp/refused.log" || { cat "$tmp/refused.log"; fail "the refusal names no setting"; }
  ls "$tmp"/refused/*.deb >/dev/null 2>&1 && fail "a .deb without a maintainer"
  maintainer="WX118 package test <package-test@wx118.invalid>"
fi
(cd "$tmp" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/pkg" -D CPACK_PACKAGE_CONTACT="$maintainer" \
   >"$tmp/cpack.log" 2>&1) || { cat "$tmp/cpack.log"; fail "cpack"; }
deb=$(ls "$tmp"/pkg/*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || fail "no .deb"

dpkg-deb -f "$deb" Section | grep -qx science || fail "section"
[ "$(dpkg-deb -f "$deb" Maintainer)" = "$maintainer" ] || fail "Maintainer: $(dpkg-deb -f "$deb" Maintainer)"
[ "$(dpkg-deb -f "$deb" Description | wc -l)" -gt 5 ] || fail "no long description"
dpkg-deb -c "$deb" >"$tmp/contents"
for f in usr/bin/wx118 usr/bin/wx118-simbus usr/share/man/man1/wx118.1.gz usr/share/man/man1/wx118-simbus.1.gz \
         usr/share/man/man5/wx118ini2.5.gz usr/share/doc/wx118/copyright usr/share/doc/wx118/changelog.gz \
         usr/share/doc/wx118/README.md usr/share/wx118/WX118.hlp \
         usr/lib/wx118/modules/wx118-windows.so usr/lib/wx118/modules/wx118-mqtt.so \
         usr/lib/wx118/modules/wx118-upload.so usr/lib/wx118/modules/wx118-owserver.so; do
  grep -q " \./$f\$" "$tmp/contents" || fail "$f is not in the package"
done
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles | grep -qx /etc/logrotate.d/wx118 ||
  fail "the logrotate file is not a conffile"

root=$tmp/root
dpkg -x "$deb" "$root"
zcat "$root/usr/share/doc/wx118/changelog.gz" | grep -qF -- " -- $maintainer  " || fail "the changelog's maintainer"
grep -q '^License: GPL-2+$' "$root/usr/share/doc/wx118/copyright" || fail "copyright: no GPL-2+ licence"
# Every file the README names (docs/..., contrib/...) is in the installed
# tree: documents where the README's relative links find them in the doc
# folder, the rest where their programs read them.
doc=$root/usr/share/doc/wx118
for f in $(grep -o '\b\(docs\|contrib\)/[A-Za-z0-9_.@/-]*[A-Za-z0-9]' "$src/README.md" | sort -u); do
  case $f in
    contrib/wx118.logrotate) at=$root/etc/logrotate.d/wx118 ;;
    contrib/wx118.service) at=$root/usr/lib/systemd/user/wx118.service ;;
    contrib/wx118@.service) at=$root/usr/lib/systemd/system/wx118@.service ;;
    contrib/wx118.desktop) at=$root/usr/share/applications/wx118.desktop ;;
    contrib/wx118.svg) at=$root/usr/share/icons/hicolor/scalable/apps/wx118.svg ;;
    contrib/package/copyright) at=$doc/copyright ;;
    docs/man/*) at=$root/usr/share/man/man${f##*.}/${f##*/}.gz ;;
    *) at=$doc/$f ;;
  esac
  [ -e "$at" ] || fail "the README names $f, but ${at#$root} is not installed"
done
# logrotate accepts the installed file as it is.
logrotate -d -s "$tmp/lr.state" "$root/etc/logrotate.d/wx118" >"$tmp/lr.log" 2>&1 ||
  { cat "$tmp/lr.log"; fail "logrotate refuses the installed configuration"; }

lintian --allow-root --tag-display-limit 0 "$deb" >"$tmp/lintian" 2>&1
cat "$tmp/lintian"
if grep -q '^E:' "$tmp/lintian"; then fail "lintian errors"; fi
# Tags about the licence, the maintainer, the man pages or the conffiles are
# faults of ours whatever the release.
if grep -E '^W: .*(copyright|maintainer|manpage|conffile|changelog)' "$tmp/lintian"; then fail "lintian warnings"; fi
"$root/usr/bin/wx118" --version | grep -q '^wx118 ' || fail "--version"

# The system unit's confinement as systemd rates it. No systemd runs units
# here, so it is judged from the unit file alone (--offline).
systemd-analyze security --offline=true --threshold=30 "$root/usr/lib/systemd/system/wx118@.service" \
  >"$tmp/security" 2>&1 || { cat "$tmp/security"; fail "wx118@.service is rated above 3.0"; }
tail -1 "$tmp/security"

# The installed demo runs as the unit confines it, as far as that can be
# done without systemd: the system and the installed files read-only, only
# this test's folder (data, page and runtime folders) writable, no new
# privileges and no capabilities.
confined() {
  exec unshare -m --propagation private bash -c 'mount --bind "$1" "$1" && mount --bind "$2" "$2" &&
    mount -o remount,bind,ro "$2" && mount -o remount,bind,ro / && shift 2 &&
    exec setpriv --no-new-privs --inh-caps=-all --bounding-set=-all "$@"' confined "$tmp" "$root" "$@"
}
unshare -m true 2>/dev/null || { echo "no mount namespace here: the demo runs unconfined"; confined() { exec "$@"; }; }
confined "$root/usr/bin/wx118" --headless --demo "$tmp/demo" --speed 60 >"$tmp/out" 2>"$tmp/err" &
pid=$!
for _ in $(seq 1 300); do
  [ -s "$tmp/demo/www/WX118WG.htm" ] && grep -q '^t1' "$tmp/demo/root/c/WX18DtLg.txt" 2>/dev/null && break
  sleep 0.1
done
[ -s "$tmp/demo/www/WX118WG.htm" ] || { cat "$tmp/err"; fail "the installed demo published no page"; }
kill -TERM $pid
wait $pid; rc=$?
pid=
[ "$rc" -eq 0 ] || { cat "$tmp/err"; fail "the installed demo ended with status $rc"; }

# The installed program finds its windows module (on Qt's offscreen screen).
QT_QPA_PLATFORM=offscreen "$root/usr/bin/wx118" --demo "$tmp/demo" --speed 60 >"$tmp/out" 2>"$tmp/err" &
pid=$!
wait_for 10 grep -qs wx118-windows.so /proc/$pid/maps || { cat "$tmp/err"; fail "no windows module loaded"; }
kill -TERM $pid
wait $pid; rc=$?
pid=
[ "$rc" -eq 0 ] || { cat "$tmp/err"; fail "the installed program with windows ended with status $rc"; }
# The libraries behind the other modules are still the package's dependencies,
# and the installed program finds those modules too.
for lib in libmosquitto libcurl libownet; do
  dpkg-deb -f "$deb" Depends | grep -q "$lib" || fail "$lib is not a dependency"
done
"$root/usr/bin/wx118" scan --owserver 127.0.0.1:9 >/dev/null 2>"$tmp/scan.err"
grep -q "does not answer" "$tmp/scan.err" || fail "the installed scan: $(cat "$tmp/scan.err")"
echo PASS
