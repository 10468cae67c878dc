#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. Extra arguments go to cmake.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${TAVELO_BUILD_DIR:-$here/build}"
"$here/scripts/deps.sh"
"$here/scripts/build.sh" "$@"
cd "$build"
ctest --output-on-failure --parallel "$(nproc)"
