#!/bin/bash
# Builds, configures and starts six real POP3 servers on 127.0.0.1, each from its own Debian 12
# root and each serving the same mailbox (mailbox.py) to one user, so compare.py can check what
# tavelo-scan shows against them. Safe to run again: roots that exist are kept, configuration and
# mailbox are written anew, and servers that run are restarted.
#
# usage: setup.sh            (as root; INTEROP_DIR overrides /srv/interop)
#
# Every server has a clear-text port that offers no STLS, so a scan there stays in clear; the
# servers with TLS also have a port that offers STLS and one that speaks TLS from the first byte.
# tavelo-scan takes only port 995 for TLS from the first byte, so Courier gets 995 as well.
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
TOP=${INTEROP_DIR:-/srv/interop}
POP_USER=ana
POP_PASSWORD=secreto
# The same Debian mirror the machine uses (the packages' archive is the only network here).
MIRROR=${MIRROR:-$(sed -n 's/^URIs: *\(http[^ ]*\/debian\)$/\1/p' /etc/apt/sources.list.d/debian.sources 2>/dev/null |
    head -1)}
MIRROR=${MIRROR:-http://deb.debian.org/debian}

# Each server's packages, then its ports: clear text (no STLS offered), STLS offered, TLS from the
# first byte ("-" where the server has none).
declare -A PACKAGES=(
    [dovecot]="dovecot-pop3d"
    [courier]="courier-pop"
    [cyrus]="cyrus-pop3d sasl2-bin"
    [popa3d]="popa3d"
    [mailutils]="mailutils-pop3d"
    [solid]="solid-pop3d"
)
SERVERS="dovecot courier cyrus popa3d mailutils solid"
declare -A CLEAR=([dovecot]=11101 [courier]=11102 [cyrus]=11103 [popa3d]=11104 [mailutils]=11105 [solid]=11106)
declare -A STLS=([dovecot]=11201 [courier]=11202 [cyrus]=11203 [popa3d]=- [mailutils]=11205 [solid]=-)
declare -A TLS=([dovecot]=11991 [courier]="995,11992" [cyrus]=11993 [popa3d]=- [mailutils]=11995 [solid]=-)

say() { printf '== %s\n' "$*" >&2; }

# A command inside a server's root, with a clean environment (nothing of the host's PATH or locale).
inroot() {
    local root=$TOP/$1
    shift
    chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 HOME=/root "$@"
}

# Servers need /proc and /dev (random numbers, /dev/null). stop.sh unmounts them again.
mount_root() {
    local root=$TOP/$1
    mountpoint -q "$root/proc" || mount -t proc proc "$root/proc"
    mountpoint -q "$root/dev" || mount --bind /dev "$root/dev"
}

wait_port() { # PORT: until something listens there (servers daemonise before they bind)
    for _ in $(seq 50); do
        (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
        sleep 0.2
    done
    echo "nothing listens on 127.0.0.1:$1" >&2
    return 1
}

# --- roots -------------------------------------------------------------------------------------

make_base() {
    [ -d "$TOP/base" ] && return
    say "debootstrap bookworm (minbase) from $MIRROR"
    rm -rf "$TOP/base.tmp"
    debootstrap --variant=minbase bookworm "$TOP/base.tmp" "$MIRROR" >"$TOP/debootstrap.log"
    local security=${MIRROR%/debian}/debian-security
    printf 'deb %s bookworm main\ndeb %s bookworm-updates main\ndeb %s bookworm-security main\n' \
        "$MIRROR" "$MIRROR" "$security" >"$TOP/base.tmp/etc/apt/sources.list"
    # Packages must not start their system services: we start each server our own way.
    printf '#!/bin/sh\nexit 101\n' >"$TOP/base.tmp/usr/sbin/policy-rc.d"
    chmod 755 "$TOP/base.tmp/usr/sbin/policy-rc.d"
    cp /etc/resolv.conf "$TOP/base.tmp/etc/resolv.conf"
    mv "$TOP/base.tmp" "$TOP/base"
}

make_root() { # NAME: a copy of the base with the server's packages and the mail user
    local name=$1 root=$TOP/$1
    [ -f "$root/.interop-installed" ] && { mount_root "$name"; return; }
    say "$name: root and packages (${PACKAGES[$name]})"
    [ -d "$root" ] || cp -a "$TOP/base" "$root"
    mount_root "$name"
    inroot "$name" apt-get update -qq
    # shellcheck disable=SC2086
    inroot "$name" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        ${PACKAGES[$name]} >"$TOP/$name-install.log" 2>&1
    inroot "$name" sh -c "id $POP_USER >/dev/null 2>&1 || useradd -m -s /bin/sh $POP_USER"
    # Cyrus keeps its mailboxes in its own databases: keep them as installed, to start afresh.
    if [ "$name" = cyrus ]; then
        tar -C "$root" -cf "$TOP/cyrus-pristine.tar" var/lib/cyrus var/spool/cyrus
    fi
    touch "$root/.interop-installed"
}

make_certificate() {
    [ -f "$TOP/tls/cert.pem" ] && return
    mkdir -p "$TOP/tls"
    openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=127.0.0.1" \
        -addext "subjectAltName=IP:127.0.0.1,DNS:localhost" \
        -keyout "$TOP/tls/key.pem" -out "$TOP/tls/cert.pem" 2>/dev/null
}

fingerprint() {
    openssl x509 -in "$TOP/tls/cert.pem" -noout -fingerprint -sha256 | sed 's/.*=//; s/://g'
}

# The user's password inside a root (PAM and shadow: Courier, popa3d, Mailutils, Solid).
set_password() { echo "$POP_USER:$POP_PASSWORD" | inroot "$1" chpasswd; }

load_maildir() { # NAME: the mailbox as ~/Maildir of the user, owned by the user
    rm -rf "$TOP/$1/home/$POP_USER/Maildir"
    cp -a "$TOP/mail/Maildir" "$TOP/$1/home/$POP_USER/Maildir"
    inroot "$1" chown -R "$POP_USER:" "/home/$POP_USER/Maildir"
}

load_mbox() { # NAME: the mailbox as /var/mail/USER
    cp "$TOP/mail/mbox" "$TOP/$1/var/mail/$POP_USER"
    inroot "$1" sh -c "chown $POP_USER:mail /var/mail/$POP_USER && chmod 660 /var/mail/$POP_USER"
}

# --- the servers -------------------------------------------------------------------------------

# Dovecot: two masters over one Maildir, since STLS is offered on every clear listener once
# ssl = yes; the one without TLS serves the clear port. Settings as in /work/shared/design.md.
dovecot_conf() { # INSTANCE SSL LISTENERS
    cat <<EOF
protocols = pop3
listen = 127.0.0.1
base_dir = /run/interop-$1
state_dir = /var/lib/interop-$1
log_path = /var/log/dovecot-$1.log
default_internal_user = dovecot
default_internal_group = dovecot
default_login_user = dovenull
first_valid_uid = 1
disable_plaintext_auth = no
auth_mechanisms = plain login
passdb {
  driver = passwd-file
  args = /etc/dovecot/interop.passwd
}
userdb {
  driver = passwd-file
  args = /etc/dovecot/interop.passwd
}
mail_location = maildir:~/Maildir
ssl = $2
ssl_cert = </etc/dovecot/interop-cert.pem
ssl_key = </etc/dovecot/interop-key.pem
service pop3-login {
  chroot =
$3
}
service anvil {
  chroot =
}
EOF
}

start_dovecot() {
    local root=$TOP/dovecot
    cp "$TOP/tls/cert.pem" "$root/etc/dovecot/interop-cert.pem"
    cp "$TOP/tls/key.pem" "$root/etc/dovecot/interop-key.pem"
    chmod 600 "$root/etc/dovecot/interop-key.pem"
    local uid gid
    uid=$(inroot dovecot id -u "$POP_USER")
    gid=$(inroot dovecot id -g "$POP_USER")
    echo "$POP_USER:{PLAIN}$POP_PASSWORD:$uid:$gid::/home/$POP_USER" >"$root/etc/dovecot/interop.passwd"
    dovecot_conf clear no "  inet_listener pop3 {
    port = ${CLEAR[dovecot]}
  }
  inet_listener pop3s {
    port = 0
  }" >"$root/etc/dovecot/interop-clear.conf"
    dovecot_conf tls yes "  inet_listener pop3 {
    port = ${STLS[dovecot]}
  }
  inet_listener pop3s {
    port = ${TLS[dovecot]}
    ssl = yes
  }" >"$root/etc/dovecot/interop-tls.conf"
    load_maildir dovecot
    # Never read dovecot's output through a pipe (its children keep it open): a file takes it.
    local instance log=$root/var/log/dovecot-start.log
    for instance in clear tls; do
        inroot dovecot dovecot -c "/etc/dovecot/interop-$instance.conf" </dev/null >"$log" 2>&1 ||
            { cat "$log" >&2; return 1; }
    done
}

# Courier: authdaemond (PAM) and three couriertcpd listeners started as its own scripts do, but
# each with its own port and its own answer to "offer STLS?".
courier_listener() { # NAME PORTS STARTTLS [TLS WRAPPER...]
    local name=$1 ports=$2 starttls=$3
    shift 3
    # POP3_TLS=1 tells the login process the connection is encrypted already (as pop3d-ssl does).
    local tls=""
    if [ $# -gt 0 ]; then tls="POP3_TLS=1"; fi
    inroot courier /bin/sh -c "set -a; . /etc/courier/pop3d; . /etc/courier/pop3d-ssl
        POP3_STARTTLS=$starttls $tls
        exec /usr/sbin/courierlogger -pid=/run/courier/$name.pid -start -name=$name \
            /usr/sbin/couriertcpd -address=127.0.0.1 -maxprocs=40 -maxperip=20 -nodnslookup -noidentlookup \
            $ports $* /usr/lib/courier/courier/courierpop3login /usr/lib/courier/courier/courierpop3d Maildir"
}

start_courier() {
    local root=$TOP/courier
    set_password courier
    # couriertls reads key and certificate from one file.
    cat "$TOP/tls/key.pem" "$TOP/tls/cert.pem" >"$root/etc/courier/pop3d.pem"
    # shellcheck disable=SC2016  # $f belongs to the shell inside the root
    inroot courier sh -c 'chown root:courier /etc/courier/pop3d.pem && chmod 640 /etc/courier/pop3d.pem
        mkdir -p /run/courier/authdaemon
        chown root:courier /run/courier && chmod 775 /run/courier
        chown courier:courier /run/courier/authdaemon && chmod 750 /run/courier/authdaemon
        # The TLS session cache must exist and belong to courier, or STLS fails after its +OK.
        f=/var/lib/courier/couriersslimapcache; rm -f $f; touch $f; chown courier:courier $f; chmod 600 $f'
    load_maildir courier
    inroot courier /usr/sbin/authdaemond start
    courier_listener pop3d-clear "${CLEAR[courier]}" NO
    courier_listener pop3d-stls "${STLS[courier]}" YES
    courier_listener pop3d-ssl "${TLS[courier]}" NO /usr/bin/couriertls -server -tcpd -user=courier
}

# Cyrus: one master with three pop3d services; the clear one reads a configuration without the
# certificate, so it offers no STLS. The user logs in through SASL's own password database.
cyrus_conf() { # WITH_TLS
    cat <<'EOF'
configdirectory: /var/lib/cyrus
proc_path: /run/cyrus/proc
mboxname_lockpath: /run/cyrus/lock
defaultpartition: default
partition-default: /var/spool/cyrus/mail
hashimapspool: true
allowplaintext: yes
sasl_pwcheck_method: auxprop
sasl_auxprop_plugin: sasldb
sasl_mech_list: PLAIN LOGIN
lmtpsocket: /run/cyrus/socket/lmtp
idlesocket: /run/cyrus/socket/idle
notifysocket: /run/cyrus/socket/notify
syslog_prefix: cyrus
# The user's INBOX is made by the first delivery.
autocreate_quota: 0
autocreate_post: 1
# Debian's default (1 minute between two logins of a user) would refuse every scan but the first.
popminpoll: 0
# Otherwise lmtpd turns every 8-bit byte of a header into "X" (RFC 6532 headers included).
munge8bit: 0
EOF
    if [ "$1" = yes ]; then
        printf 'tls_server_cert: /etc/cyrus/interop-cert.pem\ntls_server_key: /etc/cyrus/interop-key.pem\n'
    fi
}

start_cyrus() {
    local root=$TOP/cyrus
    cyrus_conf yes >"$root/etc/imapd.conf"
    cyrus_conf no >"$root/etc/imapd-clear.conf"
    cat >"$root/etc/cyrus.conf" <<EOF
START {
	recover		cmd="/usr/sbin/cyrus ctl_cyrusdb -r"
}
SERVICES {
	pop3clear	cmd="pop3d -C /etc/imapd-clear.conf" listen="127.0.0.1:${CLEAR[cyrus]}" prefork=0 maxchild=20
	pop3		cmd="pop3d" listen="127.0.0.1:${STLS[cyrus]}" prefork=0 maxchild=20
	pop3s		cmd="pop3d -s" listen="127.0.0.1:${TLS[cyrus]}" prefork=0 maxchild=20
	lmtpunix	cmd="lmtpd" listen="/run/cyrus/socket/lmtp" prefork=0 maxchild=4
}
EVENTS {
	checkpoint	cmd="/usr/sbin/cyrus ctl_cyrusdb -c" period=30
}
EOF
    mkdir -p "$root/etc/cyrus"
    cp "$TOP/tls/cert.pem" "$root/etc/cyrus/interop-cert.pem"
    cp "$TOP/tls/key.pem" "$root/etc/cyrus/interop-key.pem"
    inroot cyrus sh -c "chown cyrus:mail /etc/cyrus/interop-*.pem && chmod 600 /etc/cyrus/interop-key.pem
        echo '$POP_PASSWORD' | saslpasswd2 -p -c $POP_USER
        for d in /run/cyrus /run/cyrus/proc /run/cyrus/lock /run/cyrus/socket; do
            mkdir -p \$d && chown cyrus:mail \$d && chmod 750 \$d
        done"
    # The mailbox is delivered afresh into the databases as installed.
    rm -rf "$root/var/lib/cyrus" "$root/var/spool/cyrus"
    tar -C "$root" -xf "$TOP/cyrus-pristine.tar"
    rm -f "$root/run/cyrus-master.pid"
    inroot cyrus cyrmaster -d -p /run/cyrus-master.pid
    wait_port "${CLEAR[cyrus]}"
    for _ in $(seq 50); do [ -S "$root/run/cyrus/socket/lmtp" ] && break; sleep 0.2; done
    local f refused=""
    for f in "$TOP"/mail/Maildir/new/*; do
        # lmtpd refuses a message whose header has a line that is not a field ("From " line).
        inroot cyrus /usr/sbin/cyrus deliver "$POP_USER" <"$f" >/dev/null 2>&1 || refused+=" $(basename "$f")"
    done
    [ -z "$refused" ] || say "cyrus: lmtpd refused:$refused"
}

# popa3d and Solid POP3 are inetd servers: socat accepts and hands each connection to a new
# server process in the root (nofork: the server gets the TCP socket itself, as from inetd).
start_inetd() { # NAME COMMAND
    local name=$1 command=$2
    mkdir -p "$TOP/run"
    setsid socat "TCP-LISTEN:${CLEAR[$name]},bind=127.0.0.1,reuseaddr,fork" \
        "EXEC:chroot $TOP/$name $command,nofork" </dev/null >>"$TOP/run/$name.log" 2>&1 &
    echo $! >"$TOP/run/$name.pid"
}

start_popa3d() {
    set_password popa3d
    load_mbox popa3d
    start_inetd popa3d /usr/sbin/popa3d
}

start_solid() {
    set_password solid
    load_mbox solid
    start_inetd solid /usr/sbin/solid-pop3d
}

# Mailutils: its own daemon, one server block per port and its TLS mode.
start_mailutils() {
    local root=$TOP/mailutils
    set_password mailutils
    mkdir -p "$root/etc/interop-tls"
    cp "$TOP/tls/cert.pem" "$TOP/tls/key.pem" "$root/etc/interop-tls/"
    chmod 600 "$root/etc/interop-tls/key.pem"
    cat >"$root/etc/mailutils.conf" <<EOF
program pop3d {
  mode daemon;
  pidfile /run/pop3d.pid;
  logging { syslog false; };
  mailbox { mailbox-pattern "maildir:///home/\${user}/Maildir"; };
  tls { ssl-certificate-file /etc/interop-tls/cert.pem; ssl-key-file /etc/interop-tls/key.pem; };
  server 127.0.0.1:${CLEAR[mailutils]} { tls-mode false; };
  server 127.0.0.1:${STLS[mailutils]} { tls-mode stls; };
  server 127.0.0.1:${TLS[mailutils]} { tls-mode connection; };
};
EOF
    printf '@include common-auth\n@include common-account\n' >"$root/etc/pam.d/pop3d"
    # Its Maildir locks live there; without the folder every login ends in "[IN-USE]".
    # (Inside the root: /var/lock is an absolute link to /run/lock.)
    inroot mailutils sh -c 'mkdir -p /run/lock/subsys/mail && chmod 1777 /run/lock/subsys/mail'
    load_maildir mailutils
    inroot mailutils pop3d
}

# --- main --------------------------------------------------------------------------------------

[ "$(id -u)" = 0 ] || { echo "setup.sh: run as root (debootstrap, chroot, mount)" >&2; exit 1; }
for tool in debootstrap socat openssl; do
    command -v "$tool" >/dev/null || { say "installing $tool"; apt-get install -y -qq "$tool" >/dev/null; }
done
mkdir -p "$TOP"
"$HERE/stop.sh" --keep-mounts >/dev/null

make_base
for name in $SERVERS; do make_root "$name"; done
make_certificate
python3 "$HERE/mailbox.py" "$TOP/mail" >/dev/null

for name in $SERVERS; do
    say "$name: start"
    "start_$name"
done
FP=$(fingerprint)
table="server	clear	stls	tls	sha256"
for name in $SERVERS; do
    for port in ${CLEAR[$name]} ${STLS[$name]} ${TLS[$name]//,/ }; do [ "$port" = - ] || wait_port "$port"; done
    tls_fp=-
    [ "${STLS[$name]}${TLS[$name]}" = -- ] || tls_fp=$FP
    table+=$'\n'"$name	${CLEAR[$name]}	${STLS[$name]}	${TLS[$name]}	$tls_fp"
done
# compare.py reads the ports from here.
echo "$table" >"$TOP/servers.tsv"
echo "User $POP_USER, password $POP_PASSWORD, host 127.0.0.1; clear = no STLS offered, tls = TLS from the first byte."
column -t -s $'\t' "$TOP/servers.tsv"
