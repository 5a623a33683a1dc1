#!/usr/bin/env bash
# Builds a Release of the station (without tests and benchmarks) into
# build-package/ (or $BUILD_DIR) and makes the Debian package there with CPack;
# its dependencies come from the binaries (dpkg-shlibdeps). Prints the
# package's name, its dependencies and its files.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh" package
build="${BUILD_DIR:-$root/build-package}"
BUILD_DIR="$build" BUILD_TYPE=Release "$root/scripts/build.sh" -DSTATION_TESTS=OFF -DSTATION_BENCH=OFF -DCMAKE_INSTALL_PREFIX=/usr "$@"
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB)
deb="$(ls "$build"/*.deb)"
echo "package: $deb"
dpkg-deb --field "$deb" Package Version Depends Recommends
dpkg-deb --contents "$deb"
