#!/usr/bin/env bash
# Installs what is missing, builds, and starts Tavelo.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${TAVELO_BUILD_DIR:-$here/build}"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "Tavelo is a desktop program and no display was found (DISPLAY and WAYLAND_DISPLAY are unset): run this command from a terminal of your desktop session, or under Xvfb with 'xvfb-run scripts/run.sh'." >&2
    exit 1
fi
"$here/scripts/deps.sh"
"$here/scripts/build.sh"
exec "$build/bin/tavelo"
