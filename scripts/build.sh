#!/usr/bin/env bash
# Configures and builds into build/ (or $BUILD_DIR). Extra arguments go to cmake;
# BUILD_TARGETS (space-separated) limits the build to those targets.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" "$@"
targets=()
for t in ${BUILD_TARGETS:-}; do
  targets+=(--target "$t")
done
cmake --build "$build" -j "$(nproc)" "${targets[@]}"
