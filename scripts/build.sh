#!/usr/bin/env bash
# Configures and builds into build/ (or $BUILD_DIR), warnings as errors.
# Extra arguments go to cmake; BUILD_TYPE sets the build type (default
# RelWithDebInfo); BUILD_TARGETS (space-separated) limits the build to those
# targets.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" -DSTATION_WERROR=ON "$@"
targets=()
for t in ${BUILD_TARGETS:-}; do
  targets+=(--target "$t")
done
cmake --build "$build" -j "$(nproc)" "${targets[@]}"
