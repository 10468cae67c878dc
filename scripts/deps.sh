#!/usr/bin/env bash
# Installs, with apt-get, whatever of Tavelo's build and test dependencies this Debian 12 machine lacks,
# and of the packages named as arguments (the benchmark's and the fuzzer's extras).
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev qt6-svg-dev libqt6opengl6-dev qt6-translations-l10n liblz4-dev
    qtkeychain-qt6-dev
    # The rules' expressions: PCRE2 itself, for a time bound on each match.
    libpcre2-dev
    # The desktop files, the manual pages and the Debian package, and the tools that check them.
    desktop-file-utils appstream groff-base dpkg-dev file
    dovecot-pop3d openssl ca-certificates python3
    fonts-dejavu-core xvfb xauth dbus-daemon
    # The secret store's test runs a real Secret Service and looks into it with libsecret's tool.
    gnome-keyring libsecret-tools
    "$@"
)

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
    # The package starts the system's own Dovecot on ports 110 and 995; Tavelo's tests and demo run
    # their own instances on free loopback ports and do not need it.
    if [ -f /run/dovecot/master.pid ]; then
        $sudo service dovecot stop >/dev/null 2>&1 || $sudo kill "$(cat /run/dovecot/master.pid)" 2>/dev/null || true
    fi
fi
