#!/usr/bin/env bash
# Installs, with apt-get, what the benchmark needs beyond the build and test dependencies
# (scripts/deps.sh): mpop (a contender), GNU time (peak memory) and matplotlib (the chart).
set -euo pipefail

"$(dirname "$0")/../scripts/deps.sh" mpop time python3-matplotlib
