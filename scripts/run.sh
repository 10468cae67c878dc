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
# Only what the demo runs: the program and the tool that scrambles the demo password.
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --parallel --target tavelo tavelo-scramble

demo="$build/demo"
server="$demo/server"
fixture="$here/tests/support/dovecot/fixture.sh"
rm -rf "$demo/app" "$demo/config"
mkdir -p "$demo/app" "$demo/config/Quenmar" "$server"
# The demo server stops however this script ends: a closed window, Ctrl+C, a logout's SIGTERM.
app_pid=""
stop_all() {
    if [ -n "$app_pid" ]; then
        kill -TERM "$app_pid" 2>/dev/null || true
        wait "$app_pid" 2>/dev/null || true
    fi
    bash "$fixture" stop "$server" >/dev/null 2>&1 || true
}
trap stop_all EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
echo "Starting the demo POP3 server..."
bash "$fixture" start "$server" >/dev/null
port="$(sed -n 's/^pop3Port=//p' "$server/info.ini")"

# The program finds its files next to its own path: a copy in the demo directory.
cp "$build/bin/tavelo" "$demo/app/tavelo"
scrambled="$(printf '%s\n' 'demo-clave-1' | "$build/bin/tavelo-scramble")"
printf 'SERV:127.0.0.1\r\nPORT:%s\r\nUSER:demo\r\nPASS:%s\r\n-----\r\n' "$port" "$scrambled" >"$demo/app/Cuentas.dat"
# The demo server's own self-signed certificate is trusted already, so the demo opens straight on
# the mailbox instead of asking about it (the key is "host:port", ':' written %3A in the file).
cert="$(sed -n 's/^cert=//p' "$server/info.ini" | sed 's/^"\(.*\)"$/\1/')"
fingerprint="$(openssl x509 -in "$cert" -noout -fingerprint -sha256 | sed 's/^.*=//; s/://g' | tr 'A-F' 'a-f')"
printf '[General]\nConectarTodosAlArrancar=1\n\n[CertificadosConfiados]\n127.0.0.1%%3A%s=%s\n' "$port" "$fingerprint" \
    >"$demo/config/Quenmar/Tavelo.ini"

echo "Tavelo runs on the demo mailbox (user demo on 127.0.0.1:$port); close its window to end the demo."
XDG_CONFIG_HOME="$demo/config" "$demo/app/tavelo" &
app_pid=$!
wait "$app_pid" || true
app_pid=""
