#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs what is needed, builds the monitor and starts it on the simulated
# demo station (in ./wx118-demo; a second run continues the same log). On a
# machine without a display (over ssh, a server) the demo runs without
# windows, and the program says where its page and logs are.
# WX118_BUILD_DIR: use the program already built in that tree instead.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
build=${WX118_BUILD_DIR:-build}
if [ -z "${WX118_BUILD_DIR:-}" ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build --parallel "$(nproc)" --target wx118
fi
headless() {
  echo "run-demo: no display found; the demo runs without windows (Ctrl+C ends it)." >&2
  exec "$build/wx118" --demo "$@" --headless
}
case " $* " in *" --headless "*) exec "$build/wx118" --demo "$@" ;; esac
[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] || headless "$@"
# Status 4: a display is named but does not answer.
rc=0
"$build/wx118" --demo "$@" || rc=$?
[ "$rc" -eq 4 ] && headless "$@"
exit "$rc"
