#!/usr/bin/env bash
# Installs what is missing, builds and installs the library into a local
# prefix, builds the demo host "kiosk" against the installed package and runs
# it. Extra arguments go to the demo.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${ORVEL_BUILD_DIR:-$root/build-demo}
prefix="$build/prefix"

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build/lib" -G Ninja -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=Release
cmake --build "$build/lib" --parallel "$(nproc)"
cmake --install "$build/lib" --prefix "$prefix" >/dev/null
cmake -S "$root/examples/kiosk" -B "$build/kiosk" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_BUILD_TYPE=Release
cmake --build "$build/kiosk" --parallel "$(nproc)"
exec "$build/kiosk/kiosk" "$@"
