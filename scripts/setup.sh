#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the benchmarks and the demo
# need, when any is missing. Safe to run again: it does nothing when all are there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite libgl-dev
  libturbojpeg0-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth x11-apps imagemagick
  fonts-arphic-ukai fonts-wqy-microhei fonts-dejavu-core
  sqlite3 locales
  libqcustomplot-dev libqcustomplot2.1-qt6 qt6-charts-dev
  libqt6opengl6-dev qt6-translations-l10n
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
