#!/usr/bin/env bash
# Installs, with apt-get, what the benchmark needs beyond the build and test dependencies
# (scripts/deps.sh): mpop (a contender), GNU time (peak memory) and matplotlib (the chart).
set -euo pipefail

"$(dirname "$0")/../scripts/deps.sh"

packages=(mpop time python3-matplotlib)
missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
