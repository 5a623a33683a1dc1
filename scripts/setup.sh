#!/usr/bin/env bash
# Installs the Debian packages that are missing, in two lists:
#   setup.sh run       what building and running the station and the simulator need
#   setup.sh package   the same plus what making the Debian package needs
#   setup.sh           all of it plus what developing needs: the tests, the
#                      benchmarks and their peers, the pictures
# Safe to run again: it does nothing when all are there.
set -euo pipefail

run_packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite libgl-dev
  libturbojpeg0-dev libmosquitto-dev
  fonts-arphic-ukai fonts-wqy-microhei fonts-dejavu-core
  qt6-translations-l10n
)
# dpkg-shlibdeps finds the package's dependencies in its binaries.
package_packages=(dpkg-dev)
# Qt Charts' CMake package needs Qt's OpenGL module (libqt6opengl6-dev);
# without it plot_bench is not built. The install test validates the desktop
# entry and reads the database it created. The publishing tests start their
# own Mosquitto broker (its package's service is not used) and make a TLS
# certificate with openssl. The install test checks the headless service's
# unit with systemd-analyze (package systemd; nothing is started).
dev_packages=(
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth x11-apps imagemagick
  sqlite3 desktop-file-utils locales
  mosquitto openssl systemd
  libqcustomplot-dev libqcustomplot2.1-qt6 qt6-charts-dev libqt6opengl6-dev
)

case "${1:-dev}" in
  run) packages=("${run_packages[@]}") ;;
  package) packages=("${run_packages[@]}" "${package_packages[@]}") ;;
  dev) packages=("${run_packages[@]}" "${package_packages[@]}" "${dev_packages[@]}") ;;
  *) echo "usage: setup.sh [run|package|dev]" >&2; exit 2 ;;
esac

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
