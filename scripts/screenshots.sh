#!/usr/bin/env bash
# Builds and runs the screenshot tool under Xvfb: the station against the
# simulated bus, every page saved to docs/screenshots/ (or the folder given).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
BUILD_TARGETS="station_shots" "$root/scripts/build.sh" >/dev/null
out="${1:-$root/docs/screenshots}"
xvfb-run -a -s "-screen 0 1280x900x24" "${BUILD_DIR:-$root/build}/tools/station_shots/station_shots" "$out" "${2:-60}"
