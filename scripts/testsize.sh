#!/usr/bin/env bash
# Prints the size of the tests against the library: non-blank lines of the
# C++ files under tests/ and under qt5/ that git tracks, and their ratio
# (the owner asked for about 0.25 to 0.33; 0.40 is the ceiling).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
count() { git ls-files -- "$1" | grep -E '\.(cpp|h)$' | xargs -r cat | grep -cv '^\s*$'; }
library=$(count qt5)
tests=$(count tests)
awk -v l="$library" -v t="$tests" \
    'BEGIN { printf "library %d lines, tests %d lines, ratio %.2f (ceiling 0.40)\n", l, t, t / l }'
