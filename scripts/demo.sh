#!/usr/bin/env bash
# Installs what is missing, builds, and starts the station in run/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
STATION_TESTS=OFF "$root/scripts/build.sh" -DSTATION_TESTS=OFF -DSTATION_BENCH=OFF
build="${BUILD_DIR:-$root/build}"
mkdir -p "$root/run"
cd "$root/run"
exec "$build/src/app/ai_station" "$@"
