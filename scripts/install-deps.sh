#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs every Debian package needed to build, test and run WX118.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
PKGS=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libjpeg62-turbo-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  xvfb xauth xdotool imagemagick x11-utils
  chromium python3
  digitemp owserver ow-shell
  # The default font, from which the build renders the chart stamp's glyphs.
  fonts-dejavu-core fonts-liberation2
  libmosquitto-dev mosquitto mosquitto-clients
  logrotate openbox lintian dpkg-dev fakeroot systemd
  ccache
  libownet-dev libsqlite3-dev sqlite3 libcurl4-openssl-dev zlib1g-dev direwolf
)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
