#!/usr/bin/env bash
# Runs scripts/install-deps.sh with stand-ins for the package tools, once on a
# machine that already has a service policy file and once on one without: both
# runs must succeed, an existing policy must stay, a policy the script made
# must be gone afterwards.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir "$work/bin"
# One package reported missing, so the install path runs.
printf '#!/bin/sh\nexit 1\n' >"$work/bin/dpkg-query"
printf '#!/bin/sh\nexit 0\n' >"$work/bin/apt-get"
printf '#!/bin/sh\nexit 0\n' >"$work/bin/systemctl"
printf '#!/bin/sh\nexec "$@"\n' >"$work/bin/sudo"
chmod +x "$work/bin"/*

run() { PATH="$work/bin:$PATH" ORVEL_POLICY_RC="$work/policy-rc.d" "$root/scripts/install-deps.sh" 2>/dev/null; }

printf 'existing\n' >"$work/policy-rc.d"
run || { echo "install-deps.sh failed with an existing policy file" >&2; exit 1; }
[[ $(cat "$work/policy-rc.d") == existing ]] || { echo "existing policy file changed" >&2; exit 1; }

rm "$work/policy-rc.d"
run || { echo "install-deps.sh failed without a policy file" >&2; exit 1; }
[[ ! -e "$work/policy-rc.d" ]] || { echo "policy file left behind" >&2; exit 1; }
echo "install-deps.sh: both kinds of machine pass"
