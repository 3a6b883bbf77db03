#!/usr/bin/env bash
# Installs what is missing, builds and installs the library into a local
# prefix, builds the demo host "kiosk" against the installed package and runs
# it. Extra arguments go to the demo (e.g. a list of demo names).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${ORVEL_BUILD_DIR:-$root/build-demo}
prefix="$build/prefix"
log="$build/build.log"

"$root/scripts/install-deps.sh"
mkdir -p "$build"
echo "demo: building and installing the library (log: $log)" >&2
{
    cmake -S "$root" -B "$build/lib" -G Ninja -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=Release
    cmake --build "$build/lib" --parallel "$(nproc)"
    cmake --install "$build/lib" --prefix "$prefix"
    cmake -S "$root/examples/kiosk" -B "$build/kiosk" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
        -DCMAKE_BUILD_TYPE=Release
    cmake --build "$build/kiosk" --parallel "$(nproc)"
} >"$log" 2>&1 || { tail -n 40 "$log" >&2; exit 1; }
exec "$build/kiosk/kiosk" "$@"
