#!/usr/bin/env bash
# Installs what is missing, builds and runs the tests. Without a mode it runs
# everything CI runs, in this order:
#   1. the normal suite (build/),
#   2. the suite under AddressSanitizer + UndefinedBehaviorSanitizer (build-asan/),
#   3. the suite under ThreadSanitizer (build-tsan/),
#   4. every fuzz target for a short time (build-fuzz/, 30 s each) from a
#      fixed seed, so that a run is repeatable: new ground is for
#      scripts/fuzz.sh, whose runs are seeded at random.
#
#   scripts/test.sh [ctest arguments]          everything (ctest arguments go to 1-3)
#   scripts/test.sh --quick [ctest arguments]  the normal suite only, e.g. --quick -R zip
#   scripts/test.sh --asan | --tsan [ctest arguments]
#   scripts/test.sh --fuzz [seconds]           the fuzz targets only
#
# ORVEL_BUILD_DIR moves the normal build, ORVEL_CMAKE_ARGS adds configure
# arguments, ORVEL_TEST_JOBS sets CTest's parallelism, ORVEL_FUZZ_SECONDS the
# time per fuzz target, ORVEL_FUZZ_SEED the fuzzers' seed.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

mode=all
case "${1:-}" in
    --quick) mode=normal; shift ;;
    --asan) mode=asan; shift ;;
    --tsan) mode=tsan; shift ;;
    --fuzz) mode=fuzz; shift ;;
    --all) shift ;;
esac

"$root/scripts/install-deps.sh"
"$root/scripts/testsize.sh" >&2

# One suite: configure, build, run CTest.
suite() {
    local name=$1 build=$2
    shift 2
    local started=$SECONDS
    echo "test.sh: $name suite in $build" >&2
    cmake -S "$root" -B "$build" -G Ninja -DBUILD_TESTING=ON ${ORVEL_CMAKE_ARGS:-} "${configure[@]}"
    cmake --build "$build" --parallel "$(nproc)"
    # The API reference: an undocumented public member fails the normal suite.
    if [[ ${#configure[@]} -eq 0 ]]; then
        cmake --build "$build" --target docs
    fi
    ctest --test-dir "$build" --output-on-failure --parallel "${ORVEL_TEST_JOBS:-$(nproc)}" "$@"
    echo "test.sh: $name suite passed in $((SECONDS - started)) s" >&2
}

fuzz() {
    local started=$SECONDS
    "$root/scripts/fuzz.sh" --all "${1:-${ORVEL_FUZZ_SECONDS:-30}}" -seed="${ORVEL_FUZZ_SEED:-1206}"
    echo "test.sh: fuzz targets passed in $((SECONDS - started)) s" >&2
}

started=$SECONDS
case $mode in
    normal)
        configure=()
        suite normal "${ORVEL_BUILD_DIR:-$root/build}" "$@" ;;
    asan)
        configure=(-DORVEL_SANITIZE=address)
        suite ASan+UBSan "$root/build-asan" "$@" ;;
    tsan)
        configure=(-DORVEL_SANITIZE=thread)
        suite TSan "$root/build-tsan" "$@" ;;
    fuzz)
        fuzz "${1:-}" ;;
    all)
        configure=()
        suite normal "${ORVEL_BUILD_DIR:-$root/build}" "$@"
        configure=(-DORVEL_SANITIZE=address)
        suite ASan+UBSan "$root/build-asan" "$@"
        configure=(-DORVEL_SANITIZE=thread)
        suite TSan "$root/build-tsan" "$@"
        fuzz
        echo "test.sh: everything passed in $((SECONDS - started)) s" >&2 ;;
esac
