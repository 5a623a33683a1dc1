#!/usr/bin/env bash
# The one command that installs what is missing, builds and runs every test.
# Extra arguments go to cmake (e.g. -DSTATION_SANITIZE=address with BUILD_DIR=build-asan).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh" dev
"$root/scripts/build.sh" -DSTATION_TESTS=ON -DSTATION_BENCH=ON "$@"
cd "${BUILD_DIR:-$root/build}"
ctest --output-on-failure --no-tests=error -j "$(nproc)"
