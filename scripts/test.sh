#!/usr/bin/env bash
# Installs what is missing, builds the library with its tests and benchmarks,
# and runs every test. Extra arguments go to ctest (e.g. -R zip).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${ORVEL_BUILD_DIR:-$root/build}

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DBUILD_TESTING=ON ${ORVEL_CMAKE_ARGS:-}
cmake --build "$build" --parallel "$(nproc)"
ctest --test-dir "$build" --output-on-failure --parallel "${ORVEL_TEST_JOBS:-$(nproc)}" "$@"
