#!/usr/bin/env bash
# Installs what is missing, builds, and starts Tavelo on a demo mailbox: a private POP3 server
# (Dovecot on 127.0.0.1) with about 30 sample messages, and a copy of the program in a demo
# directory with its own accounts file and settings, so your own files are never touched.
# Closing the window stops the demo server. To use your own accounts, start build/bin/tavelo.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${TAVELO_BUILD_DIR:-$here/build}"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "Tavelo needs a desktop and no display was found (DISPLAY and WAYLAND_DISPLAY are unset): run scripts/run.sh from a terminal of your desktop session, or under Xvfb with 'xvfb-run -a scripts/run.sh'." >&2
    exit 1
fi

"$here/scripts/deps.sh"
"$here/scripts/build.sh"

demo="$build/demo"
server="$demo/server"
fixture="$here/tests/support/dovecot/fixture.sh"
rm -rf "$demo/app" "$demo/config"
mkdir -p "$demo/app" "$demo/config/Quenmar" "$server"
trap 'bash "$fixture" stop "$server" >/dev/null 2>&1 || true' EXIT
echo "Starting the demo POP3 server..."
bash "$fixture" start "$server" >/dev/null
port="$(sed -n 's/^pop3Port=//p' "$server/info.ini")"

# The program finds its files next to its own path: a copy in the demo directory.
cp "$build/bin/tavelo" "$demo/app/tavelo"
scrambled="$(printf '%s\n' 'demo-clave-1' | "$build/bin/tavelo-scramble")"
printf 'SERV:127.0.0.1\r\nPORT:%s\r\nUSER:demo\r\nPASS:%s\r\n-----\r\n' "$port" "$scrambled" >"$demo/app/Cuentas.dat"
printf '[General]\nConectarTodosAlArrancar=1\n' >"$demo/config/Quenmar/Tavelo.ini"

echo "Tavelo runs on the demo mailbox (user demo on 127.0.0.1:$port); close its window to end the demo."
XDG_CONFIG_HOME="$demo/config" "$demo/app/tavelo"
