#!/usr/bin/env bash
# Builds the libFuzzer targets (Clang, ASan+UBSan) and runs them, niced.
#
#   scripts/fuzz.sh <target> [seconds] [libFuzzer options...]   one target (default 600 s)
#   scripts/fuzz.sh --all [seconds] [libFuzzer options...]       every target in turn
#   scripts/fuzz.sh --list                                       the targets
#
# Targets are fuzz/<target>.cpp. The committed seeds (fuzz/corpus/<target>) are
# read, never written: new inputs go to build-fuzz/corpus/<target>. A crash,
# leak, timeout or sanitizer report stops the run with a non-zero status and
# leaves the input in build-fuzz/findings/<target>/; replay it with
#   build-fuzz/bin/fuzz_<target> <file>
# Each run ends with a line "fuzz: <target>: <runs> runs, cov <n>, ft <n>, corpus <n>".
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${ORVEL_FUZZ_BUILD_DIR:-$root/build-fuzz}

targets() {
    local f
    for f in "$root"/fuzz/*.cpp; do
        f=$(basename "$f" .cpp)
        [[ "$f" == replay_main ]] || echo "$f"
    done
}

usage() {
    sed -n '2,14p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2
    exit 2
}

[[ $# -ge 1 ]] || usage
case "$1" in
    --list) targets; exit 0 ;;
    --all) mode=all; shift; seconds=${1:-600}; shift $(( $# > 0 ? 1 : 0 )) ;;
    -*) usage ;;
    *) mode=one; target=$1; shift; seconds=${1:-600}; shift $(( $# > 0 ? 1 : 0 )) ;;
esac
[[ "$seconds" =~ ^[1-9][0-9]*$ ]] || usage

"$root/scripts/install-deps.sh"

log="$build/build.log"
mkdir -p "$build"
configure=(cmake -S "$root" -B "$build" -G Ninja -DORVEL_FUZZ=ON -DBUILD_TESTING=OFF
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14)
if [[ $mode == all ]]; then
    build_targets=()
    for t in $(targets); do build_targets+=("fuzz_$t"); done
else
    [[ -f "$root/fuzz/$target.cpp" ]] || { echo "fuzz: no target $target (see --list)" >&2; exit 2; }
    build_targets=("fuzz_$target")
fi
echo "fuzz: building ${build_targets[*]} (log: $log)" >&2
{ "${configure[@]}" && cmake --build "$build" --parallel "$(nproc)" --target "${build_targets[@]}"; } \
    >"$log" 2>&1 || { tail -n 40 "$log" >&2; exit 1; }

symbolizer=/usr/lib/llvm-14/bin/llvm-symbolizer
[[ -x $symbolizer ]] && export ASAN_SYMBOLIZER_PATH=$symbolizer
supp="$root/cmake/sanitizers"
asan_options=${ASAN_OPTIONS:-detect_leaks=1:detect_stack_use_after_return=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$supp/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1:suppressions=$supp/ubsan.supp}
export LC_ALL=C.UTF-8

run_one() {
    local t=$1 secs=$2; shift 2
    local work="$build/corpus/$t" findings="$build/findings/$t" out="$build/logs/$t.log"
    mkdir -p "$work" "$findings" "$build/logs"
    local stamp="$build/logs/$t.started"
    touch "$stamp"
    local args=(-max_total_time="$secs" -timeout=25 -rss_limit_mb=2048 -print_final_stats=1
        -artifact_prefix="$findings/")
    [[ -f "$root/fuzz/$t.dict" ]] && args+=(-dict="$root/fuzz/$t.dict")
    echo "fuzz: $t for ${secs} s (log: $out)" >&2
    local rc=0
    ASAN_OPTIONS=$asan_options nice -n 10 "$build/bin/fuzz_$t" "${args[@]}" "$@" "$work" "$root/fuzz/corpus/$t" >"$out" 2>&1 || rc=$?
    local runs cov ft corpus
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$out" | tail -n 1)
    cov=$(grep -o 'cov: [0-9]*' "$out" | tail -n 1 | cut -d' ' -f2)
    ft=$(grep -o 'ft: [0-9]*' "$out" | tail -n 1 | cut -d' ' -f2)
    corpus=$(find "$work" -type f | wc -l)
    echo "fuzz: $t: ${runs:-?} runs, cov ${cov:-?}, ft ${ft:-?}, corpus $corpus"
    if [[ $rc -ne 0 ]]; then
        echo "fuzz: $t FAILED (status $rc); input in $findings/" >&2
        grep -E 'ERROR|runtime error|fuzz property|SUMMARY|Test unit written' "$out" | head -n 20 >&2 || true
        # The input itself, so that a finding on a machine that is gone can be replayed.
        local f
        for f in $(find "$findings" -type f -newer "$stamp" | head -n 3); do
            echo "fuzz: $(basename "$f") ($(stat -c %s "$f") bytes, base64):" >&2
            head -c 65536 "$f" | base64 -w 100 >&2
        done
    fi
    return $rc
}

if [[ $mode == one ]]; then
    run_one "$target" "$seconds" "$@"
else
    failed=0
    for t in $(targets); do
        run_one "$t" "$seconds" "$@" || failed=1
    done
    exit $failed
fi
