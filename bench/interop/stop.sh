#!/bin/bash
# Stops the servers that setup.sh started, each by its own pid file or stop command, and unmounts
# the roots' /proc and /dev (so a root can be removed without touching the host's /dev).
#
# usage: stop.sh [--keep-mounts]      (INTEROP_DIR overrides /srv/interop)
set -uo pipefail

TOP=${INTEROP_DIR:-/srv/interop}
keep_mounts=${1:-}

inroot() {
    local root=$TOP/$1
    shift
    [ -x "$root/usr/bin/env" ] || return 0
    chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin "$@"
}

stop_pid() { # PIDFILE: TERM the process it names, wait until it is gone
    local file=$1 pid
    [ -s "$file" ] || return 0
    pid=$(cat "$file")
    if kill -TERM "$pid" 2>/dev/null; then
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        echo "stopped $(basename "$file" .pid) ($pid)"
    fi
    rm -f "$file"
}

# Dovecot: both masters.
for instance in clear tls; do
    if [ -s "$TOP/dovecot/run/interop-$instance/master.pid" ]; then
        inroot dovecot dovecot -c "/etc/dovecot/interop-$instance.conf" stop 2>/dev/null &&
            echo "stopped dovecot-$instance"
        for _ in $(seq 50); do [ -e "$TOP/dovecot/run/interop-$instance/master.pid" ] || break; sleep 0.1; done
    fi
done

# Courier: its listeners, then the authentication daemon.
for name in pop3d-clear pop3d-stls pop3d-ssl; do
    if [ -s "$TOP/courier/run/courier/$name.pid" ]; then
        inroot courier /usr/sbin/courierlogger -pid="/run/courier/$name.pid" -stop && echo "stopped courier $name"
    fi
done
if [ -s "$TOP/courier/run/courier/authdaemon/pid" ]; then
    inroot courier /usr/sbin/authdaemond stop && echo "stopped courier authdaemond"
fi

stop_pid "$TOP/cyrus/run/cyrus-master.pid"
stop_pid "$TOP/mailutils/run/pop3d.pid"
# socat for popa3d and Solid (a connection still open ends with its own server process).
stop_pid "$TOP/run/popa3d.pid"
stop_pid "$TOP/run/solid.pid"

if [ "$keep_mounts" != --keep-mounts ]; then
    for root in "$TOP"/*/; do
        for m in proc dev; do
            mountpoint -q "$root$m" && umount "$root$m"
        done
    done
fi
exit 0
