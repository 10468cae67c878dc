#!/usr/bin/env python3
"""A private Dovecot POP3 server for the tests, on 127.0.0.1 and free ports.

usage: fixture.py start <dir> | stop <dir>

start stops an earlier instance of <dir>, generates the mailboxes, starts the test authorization
server (tests/support/oauth_server.py, whose token introspection Dovecot asks for the users who log
in with OAuth2), writes a Dovecot configuration and a self-signed certificate into <dir>, starts
Dovecot, waits until plain POP3 and POP3 over TLS answer, checks every mailbox against its manifest
and writes <dir>/info.ini (INI, QSettings-readable).
stop ends that Dovecot and the authorization server, waits for them and removes the runtime directory.

What uid 65534 (or, not run as root, the current user) must reach lives in a short private
directory under /tmp (<dir>/runtime names it): Dovecot's base_dir (its unix sockets need short
paths), state_dir, the passwd file and every user's home with its Maildir. <dir> keeps the
configuration, certificate, log, pristine mailboxes and manifests.
"""
import base64
import contextlib
import grp
import json
import os
import poplib
import pwd
import secrets
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
OAUTH_SERVER = os.path.join(os.path.dirname(HERE), "oauth_server.py")
HOST = "127.0.0.1"
# user -> (mailbox, password, scratch); scratch mailboxes are the ones tests may change.
USERS = {"ana": ("test", "ana-clave-1", False), "vacio": ("empty", "vacio-clave-1", False),
         "demo": ("demo", "demo-clave-1", False)}
USERS.update({"scratch%d" % i: ("test", "scratch%d-clave" % i, True) for i in range(1, 9)})
# A mailbox that one session at a time may open: a second one is refused with [IN-USE].
USERS["bloqueo"] = ("test", "bloqueo-clave", True)
# Users who log in only with an access token of the authorization server (SASL XOAUTH2 or
# OAUTHBEARER): their password is random and written nowhere.
TOKEN_USERS = {"oauth"}
USERS.update({user: ("test", None, False) for user in TOKEN_USERS})
EXTRA_FIELDS = {"bloqueo": "userdb_pop3_lock_session=yes"}
# Users whose sessions the server logs line by line, both ways, in <home>/rawlog (one .in and one
# .out file per session, written as the lines pass): a test sees what a client sent while it runs.
RAWLOG_USERS = {"scratch7"}
# Mailboxes checked message by message (Message-ID order) when the server starts.
CHECK_ORDER = {"ana", "demo"}


def fail(message):
    sys.exit("fixture: " + message)


def read(path):
    try:
        with open(path) as f:
            return f.read().strip()
    except OSError:
        return ""


def is_dovecot(pid, config):
    """The process pid is still the Dovecot master started with this configuration."""
    cmdline = read("/proc/%d/cmdline" % pid).split("\0")
    return bool(cmdline) and os.path.basename(cmdline[0]).startswith("dovecot") and config in cmdline


def stop(d):
    runtime = read(os.path.join(d, "runtime"))
    config = os.path.join(d, "dovecot.conf")
    # The copy in <dir> still finds the master when something cleaned /tmp under it.
    pid_text = read(os.path.join(runtime, "run", "master.pid")) if runtime else ""
    pid_text = pid_text or read(os.path.join(d, "master.pid"))
    if pid_text.isdigit() and is_dovecot(int(pid_text), config):
        pid = int(pid_text)
        # SIGTERM: the master ends its sessions and children; one stuck for 20 s gets SIGKILL.
        for sig, wait in ((signal.SIGTERM, 20), (signal.SIGKILL, 10)):
            with contextlib.suppress(ProcessLookupError):
                os.kill(pid, sig)
            deadline = time.time() + wait
            while is_dovecot(pid, config) and time.time() < deadline:
                time.sleep(0.05)
            if not is_dovecot(pid, config):
                break
    stop_oauth(d)
    if runtime.startswith("/tmp/tvd-") and os.path.isdir(runtime):
        shutil.rmtree(runtime, ignore_errors=True)
    for name in ("runtime", "master.pid", "info.ini", "oauth.pid"):
        if os.path.exists(os.path.join(d, name)):
            os.remove(os.path.join(d, name))


def is_keeper(pid, d):
    """The process pid is still the keeper of the authorization server of <dir>."""
    cmdline = read("/proc/%d/cmdline" % pid).split("\0")
    return "keep-oauth" in cmdline and d in cmdline


def stop_oauth(d):
    pid_text = read(os.path.join(d, "oauth.pid"))
    if not (pid_text.isdigit() and is_keeper(int(pid_text), d)):
        return
    pid = int(pid_text)
    with contextlib.suppress(ProcessLookupError):
        os.kill(pid, signal.SIGTERM)
    deadline = time.time() + 20
    while is_keeper(pid, d) and time.time() < deadline:
        time.sleep(0.05)


def keep_oauth(d):
    """Runs the authorization server until SIGTERM. It ends with the process that started it, and
    fixture.py start does not stay: this keeper does, detached, as Dovecot does."""
    args = [sys.executable, OAUTH_SERVER]
    for user in sorted(TOKEN_USERS):
        args += ["--user", user]
    server = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
    # The keeper ends when the server has.
    for sig in (signal.SIGTERM, signal.SIGINT):
        signal.signal(sig, lambda *_: server.terminate())
    port = server.stdout.readline().strip().decode()
    print(port or "0", flush=True)
    # The starter reads one line: the pipe closes now, and nothing of CTest's stays open here.
    os.dup2(os.open(os.devnull, os.O_WRONLY), 1)
    server.wait()


def start_oauth(d):
    """Starts the keeper of the authorization server; returns the server's port."""
    with open(os.path.join(d, "oauth.log"), "w") as log:
        keeper = subprocess.Popen([sys.executable, os.path.abspath(__file__), "keep-oauth", d],
                                  stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=log,
                                  start_new_session=True)
    with open(os.path.join(d, "oauth.pid"), "w") as f:
        f.write("%d\n" % keeper.pid)
    line = keeper.stdout.readline().strip()
    keeper.stdout.close()
    if not line.isdigit() or int(line) == 0:
        fail("the authorization server did not start:\n" + read(os.path.join(d, "oauth.log")))
    return int(line)


def issue_token(oauth_port, user):
    """A fresh access token for user, issued by the authorization server without the browser."""
    request = urllib.request.Request("http://%s:%d/control/issue" % (HOST, oauth_port),
                                     urllib.parse.urlencode({"user": user}).encode())
    opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
    with opener.open(request, timeout=10) as answer:
        return json.load(answer)["access_token"]


def identities():
    """(internal user, internal group, login user, mail uid, mail gid)."""
    if os.geteuid() == 0:
        for user in ("dovecot", "dovenull"):
            try:
                pwd.getpwnam(user)
            except KeyError:
                fail("user %r is missing: install dovecot-core" % user)
        return "dovecot", "dovecot", "dovenull", 65534, 65534
    me = pwd.getpwuid(os.getuid()).pw_name
    return me, grp.getgrgid(os.getgid()).gr_name, me, os.getuid(), os.getgid()


def generate(d):
    """Pristine mailboxes <dir>/mail/<mailbox> and their manifests <dir>/mail/<mailbox>.json."""
    mail = os.path.join(d, "mail")
    shutil.rmtree(mail, ignore_errors=True)
    for profile in ("test", "demo"):
        subprocess.run([sys.executable, os.path.join(HERE, "genmail.py"), "--profile", profile,
                        "--out", os.path.join(mail, profile), "--manifest", os.path.join(mail, profile + ".json")],
                       check=True)
    for sub in ("cur", "new", "tmp"):
        os.makedirs(os.path.join(mail, "empty", sub))
    with open(os.path.join(mail, "empty.json"), "w") as f:
        f.write('{"format": 1, "profile": "empty", "seed": 0, "count": 0, "messages": []}\n')


def install_homes(d, runtime, uid, gid):
    for user, (mailbox, _, _) in USERS.items():
        home = os.path.join(runtime, "home", user)
        shutil.copytree(os.path.join(d, "mail", mailbox), os.path.join(home, "Maildir"))  # keeps mtimes
        if user in RAWLOG_USERS:
            os.makedirs(os.path.join(home, "rawlog"))
        for root, _, files in os.walk(home):
            os.chown(root, uid, gid)
            os.chmod(root, 0o700)
            for name in files:
                os.chown(os.path.join(root, name), uid, gid)
                os.chmod(os.path.join(root, name), 0o600)


def certificate(d):
    cert, key = os.path.join(d, "cert.pem"), os.path.join(d, "key.pem")
    if not (os.path.exists(cert) and os.path.exists(key)):
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3650",
                        "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1",
                        "-keyout", key, "-out", cert], check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
    return cert, key


def free_ports(n):
    socks = [socket.socket() for _ in range(n)]
    try:
        for s in socks:
            s.bind((HOST, 0))
        return [s.getsockname()[1] for s in socks]
    finally:
        for s in socks:
            s.close()


def instance_name(runtime):
    return "tavelo-" + os.path.basename(runtime)


def oauth2_args(oauth_port):
    """The oauth2 passdb's settings: every token is checked with the authorization server."""
    return """introspection_mode = post
introspection_url = http://{host}:{port}/introspect
force_introspection = yes
username_attribute = email
active_attribute = active
active_value = true
""".format(host=HOST, port=oauth_port)


def config_text(d, runtime, ids, cert, key, pop3, pop3s):
    internal, group, login, _, _ = ids
    return """# Written by tests/support/dovecot/fixture.py: a private POP3 server for the tests.
protocols = pop3
listen = {host}
base_dir = {runtime}/run
state_dir = {runtime}/state
instance_name = {instance}
log_path = {d}/dovecot.log
default_internal_user = {internal}
default_internal_group = {group}
default_login_user = {login}
first_valid_uid = 1
mail_location = maildir:~/Maildir
disable_plaintext_auth = no
auth_mechanisms = plain xoauth2 oauthbearer
# A session's process is titled "<title>/pop3 [user ip]": resetting a mailbox waits until it is gone.
verbose_proctitle = yes
# A wrong password is answered at once: tests of refused logins need not wait.
auth_failure_delay = 0
# Several test programs may hold sessions of the same user at once.
mail_max_userip_connections = 100
ssl = yes
ssl_cert = <{cert}
ssl_key = <{key}
# Passwords (USER and PASS, PLAIN) for everyone; access tokens (XOAUTH2, OAUTHBEARER), checked with
# the authorization server, for everyone too, though only the token users are ever issued one.
passdb {{
  driver = passwd-file
  args = scheme=PLAIN {runtime}/passwd
  mechanisms = plain
}}
passdb {{
  driver = oauth2
  args = {runtime}/oauth2.conf
  mechanisms = xoauth2 oauthbearer
}}
userdb {{
  driver = passwd-file
  args = {runtime}/passwd
}}
service pop3-login {{
  chroot =
  inet_listener pop3 {{
    port = {pop3}
  }}
  inet_listener pop3s {{
    port = {pop3s}
    ssl = yes
  }}
}}
service anvil {{
  chroot =
}}
""".format(host=HOST, runtime=runtime, instance=instance_name(runtime), d=d,
           internal=internal, group=group, login=login, cert=cert, key=key, pop3=pop3, pop3s=pop3s)


def greeting(port, tls, deadline):
    """The first line the server sends on port, retried until deadline."""
    while True:
        try:
            with socket.create_connection((HOST, port), timeout=5) as raw:
                if tls:
                    ctx = ssl.create_default_context()
                    ctx.check_hostname = False
                    ctx.verify_mode = ssl.CERT_NONE
                    with ctx.wrap_socket(raw) as s:
                        return s.makefile("rb").readline()
                return raw.makefile("rb").readline()
        except OSError:
            if time.time() > deadline:
                raise
            time.sleep(0.05)


def launch(d, runtime, ids, cert, key):
    """Starts Dovecot on free ports (retrying when another program takes one first)."""
    config = os.path.join(d, "dovecot.conf")
    dovecot = shutil.which("dovecot") or "/usr/sbin/dovecot"
    for _ in range(10):
        pop3, pop3s = free_ports(2)
        with open(config, "w") as f:
            f.write(config_text(d, runtime, ids, cert, key, pop3, pop3s))
        with open(os.path.join(d, "dovecot.log"), "w"), open(os.path.join(d, "start.log"), "w") as out:
            # Dovecot becomes a daemon: it must not keep the caller's (CTest's) output pipes open.
            rc = subprocess.call([dovecot, "-c", config], stdin=subprocess.DEVNULL, stdout=out, stderr=out)
        if rc != 0:
            text = read(os.path.join(d, "start.log")) + read(os.path.join(d, "dovecot.log"))
            if "Address already in use" in text:
                continue
            fail("dovecot did not start (exit %d):\n%s" % (rc, text))
        deadline = time.time() + 30
        for port, tls in ((pop3, False), (pop3s, True)):
            line = greeting(port, tls, deadline)
            if not line.startswith(b"+OK"):
                fail("port %d greets with %r" % (port, line))
        return pop3, pop3s
    fail("no free port pair found")


def check(pop3, oauth_port, d):
    """Every mailbox as Dovecot serves it equals its manifest: count, LIST sizes and order. Token users
    log in with a token the authorization server issues now."""
    for user, (mailbox, password, _) in USERS.items():
        with open(os.path.join(d, "mail", mailbox + ".json"), encoding="utf-8") as f:
            manifest = json.load(f)["messages"]
        p = poplib.POP3(HOST, pop3, timeout=10)
        try:
            if user in TOKEN_USERS:
                response = "user=%s\x01auth=Bearer %s\x01\x01" % (user, issue_token(oauth_port, user))
                # poplib has no AUTH: its command helper, which takes any "+" for success.
                answer = p._shortcmd("AUTH XOAUTH2 " + base64.b64encode(response.encode()).decode())
                if not answer.startswith(b"+OK"):
                    fail("%s: AUTH XOAUTH2 answered %r (see %s)" % (user, answer, os.path.join(d, "dovecot.log")))
            else:
                p.user(user)
                p.pass_(password)
            sizes = [int(line.split()[1]) for line in p.list()[1]]
            if sizes != [m["bytes"] for m in manifest]:
                fail("%s: LIST sizes %s differ from the manifest" % (user, sizes))
            if user in CHECK_ORDER:
                for m in manifest:
                    head = p.top(m["num"], 0)[1]
                    ids = [h.split(b":", 1)[1].strip() for h in head if h.lower().startswith(b"message-id:")]
                    if ids != [m["messageId"].encode()]:
                        fail("%s: message %d is %s, the manifest says %s" % (user, m["num"], ids, m["messageId"]))
        finally:
            p.quit()


def ini_string(text):
    return '"%s"' % text.replace("\\", "\\\\").replace('"', '\\"')


def write_info(d, runtime, ids, cert, pop3, pop3s, oauth_port):
    pid = read(os.path.join(runtime, "run", "master.pid"))
    lines = ["[server]", "host=" + HOST, "pop3Port=%d" % pop3, "pop3sPort=%d" % pop3s, "oauthPort=%d" % oauth_port,
             "cert=" + ini_string(cert), "log=" + ini_string(os.path.join(d, "dovecot.log")),
             "runtimeDir=" + ini_string(runtime), "masterPid=" + pid,
             "processTitle=" + ini_string("dovecot-" + instance_name(runtime)),
             "mailUid=%d" % ids[3], "mailGid=%d" % ids[4], "users=" + ", ".join(USERS), ""]
    for user, (mailbox, password, scratch) in USERS.items():
        home = os.path.join(runtime, "home", user)
        lines += ["[%s]" % user, "password=" + ini_string(password or ""), "home=" + ini_string(home),
                  "maildir=" + ini_string(os.path.join(home, "Maildir")), "mailbox=" + mailbox,
                  "pristine=" + ini_string(os.path.join(d, "mail", mailbox)),
                  "manifest=" + ini_string(os.path.join(d, "mail", mailbox + ".json")),
                  "scratch=%d" % scratch]
        if user in RAWLOG_USERS:
            lines.append("rawlog=" + ini_string(os.path.join(home, "rawlog")))
        lines.append("")
    tmp = os.path.join(d, "info.ini.tmp")
    with open(tmp, "w", encoding="utf-8") as f:
        f.write("\n".join(lines))
    os.replace(tmp, os.path.join(d, "info.ini"))


def start(d):
    stop(d)
    os.makedirs(d, exist_ok=True)
    ids = identities()
    generate(d)
    cert, key = certificate(d)
    runtime = tempfile.mkdtemp(prefix="tvd-", dir="/tmp")
    with open(os.path.join(d, "runtime"), "w") as f:
        f.write(runtime + "\n")
    os.chmod(runtime, 0o755)  # mkdtemp makes it 0700: the mail user must pass through
    os.makedirs(os.path.join(runtime, "state"))
    install_homes(d, runtime, ids[3], ids[4])
    with open(os.path.join(runtime, "passwd"), "w") as f:
        for user, (_, password, _) in USERS.items():
            password = password or secrets.token_urlsafe(24)
            home = os.path.join(runtime, "home", user)
            extra = [EXTRA_FIELDS[user]] if user in EXTRA_FIELDS else []
            if user in RAWLOG_USERS:
                extra.append("userdb_rawlog_dir=" + os.path.join(home, "rawlog"))
            f.write("%s:{PLAIN}%s:%d:%d::%s::%s\n" % (user, password, ids[3], ids[4], home, " ".join(extra)))
    os.chmod(os.path.join(runtime, "passwd"), 0o644)
    try:
        oauth_port = start_oauth(d)
        with open(os.path.join(runtime, "oauth2.conf"), "w") as f:
            f.write(oauth2_args(oauth_port))
        os.chmod(os.path.join(runtime, "oauth2.conf"), 0o644)
        pop3, pop3s = launch(d, runtime, ids, cert, key)
        check(pop3, oauth_port, d)
    except BaseException:
        stop(d)
        raise
    shutil.copyfile(os.path.join(runtime, "run", "master.pid"), os.path.join(d, "master.pid"))
    write_info(d, runtime, ids, cert, pop3, pop3s, oauth_port)
    print("fixture: dovecot on %s, pop3 %d, pop3s %d, authorization server %d; %s"
          % (HOST, pop3, pop3s, oauth_port, os.path.join(d, "info.ini")))


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("start", "stop", "keep-oauth"):
        fail("usage: fixture.py start|stop <dir>")
    d = os.path.abspath(sys.argv[2])
    {"start": start, "stop": stop, "keep-oauth": keep_oauth}[sys.argv[1]](d)


if __name__ == "__main__":
    main()
