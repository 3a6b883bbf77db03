#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests, the benchmarks and the
# demo need. Idempotent: apt-get runs only when something is missing. Package
# lists live in scripts/packages.d/*.txt (one package per line, # comments).
# Services that some packages start on install (mosquitto, nginx, rabbitmq) stay
# stopped: tests and the demo run their own instances on free loopback ports.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

wanted=()
for list in "$here"/packages.d/*.txt; do
    while read -r pkg _; do
        [[ -z "$pkg" || "$pkg" == \#* ]] && continue
        wanted+=("$pkg")
    done < "$list"
done

missing=()
for pkg in "${wanted[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$pkg")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "install-deps: installing ${missing[*]}" >&2
sudo=""
[[ $(id -u) -eq 0 ]] || sudo="sudo"

# Keep package-installed services from starting on their default ports. An
# existing policy (most Debian container images ship one) is left as it is.
policy=${ORVEL_POLICY_RC:-/usr/sbin/policy-rc.d}
made_policy=0
if [[ ! -e "$policy" ]]; then
    printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
    $sudo chmod +x "$policy"
    made_policy=1
fi
# The trap's status would become the script's: it must not fail when there
# was nothing to remove.
cleanup() { if [[ $made_policy -eq 1 ]]; then $sudo rm -f "$policy"; fi; }
trap cleanup EXIT

export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

# Some services start anyway (no init policy honoured): stop what we can.
for svc in mosquitto nginx rabbitmq-server; do
    if command -v systemctl >/dev/null 2>&1; then
        $sudo systemctl stop "$svc" >/dev/null 2>&1 || true
        $sudo systemctl disable "$svc" >/dev/null 2>&1 || true
    fi
done
exit 0
