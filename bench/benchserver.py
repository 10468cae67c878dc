#!/usr/bin/env python3
"""The benchmark's Dovecot: POP3 on 127.0.0.1 and a free port, serving the cached mailboxes.

usage: benchserver.py serve STATE CACHE SIZES [--tls] | stop STATE

"serve" runs Dovecot until Ctrl-C; bench/run.py imports start() and stop_child() instead.
"stop" ends an instance left behind by a process that was killed.

One user a mailbox: "m<n>" with password "bench-<n>", home CACHE/m<n> (mail in its Maildir,
served in place: no copy). STATE (a directory) receives the configuration, the log and
server.json ({"host", "port", "users": {name: password}}); Dovecot's runtime files live in a short
directory under /tmp (its unix sockets need short paths). Run as root, Dovecot reads the mail as
uid 65534 (genbench.py --owner 65534:65534); as another user, as that user.

Settings differ from the test fixture's only where a benchmark needs it: no flag updates (POP3
never renames a message file, so the cache stays as generated), and no TLS unless asked for. With
tls=True (--tls) the server offers STLS on its port and, run as root, POP3 over TLS from the first
byte on 127.0.0.95:995 (the port clients know as TLS; an address of its own, so that another server
on this computer's 995 is no obstacle), with a throwaway self-signed certificate written into STATE;
server.json then also holds "tls_host", "tls_port" (0 when not root) and "sha256", the certificate's
fingerprint for the clients to trust. A clear-text server and a TLS one may run side by side (two
STATE directories) on the same mailboxes: they only read them.
"""
import contextlib
import json
import os
import pwd
import grp
import hashlib
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

HOST = "127.0.0.1"
# Implicit TLS: the port a client takes for POP3 over TLS, on an address of its own (all of
# 127.0.0.0/8 is this computer).
TLS_HOST = "127.0.0.95"
TLS_PORT = 995


def read(path):
    try:
        with open(path) as f:
            return f.read().strip()
    except OSError:
        return ""


def mail_owner():
    """(uid, gid) Dovecot reads the mail as."""
    return (65534, 65534) if os.geteuid() == 0 else (os.getuid(), os.getgid())


def identities():
    if os.geteuid() == 0:
        return "dovecot", "dovecot", "dovenull"
    me = pwd.getpwuid(os.getuid()).pw_name
    return me, grp.getgrgid(os.getgid()).gr_name, me


def is_master(pid, config):
    cmdline = read("/proc/%d/cmdline" % pid).split("\0")
    return bool(cmdline) and os.path.basename(cmdline[0]).startswith("dovecot") and config in cmdline


def stop(state):
    state = os.path.abspath(state)
    config = os.path.join(state, "dovecot.conf")
    runtime = read(os.path.join(state, "runtime"))
    pid_text = read(os.path.join(runtime, "run", "master.pid")) if runtime else ""
    if pid_text.isdigit() and is_master(int(pid_text), config):
        pid = int(pid_text)
        for sig, wait in ((signal.SIGTERM, 20), (signal.SIGKILL, 10)):
            with contextlib.suppress(ProcessLookupError):
                os.kill(pid, sig)
            deadline = time.time() + wait
            while is_master(pid, config) and time.time() < deadline:
                time.sleep(0.05)
            if not is_master(pid, config):
                break
    if runtime.startswith("/tmp/tvb-") and os.path.isdir(runtime):
        shutil.rmtree(runtime, ignore_errors=True)
    for name in ("runtime", "server.json"):
        with contextlib.suppress(FileNotFoundError):
            os.remove(os.path.join(state, name))


def free_port():
    with socket.socket() as s:
        s.bind((HOST, 0))
        return s.getsockname()[1]


def certificate(state):
    """(cert path, key path, SHA-256 hex) of a fresh self-signed certificate in state."""
    cert, key = os.path.join(state, "cert.pem"), os.path.join(state, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30", "-subj",
                    "/CN=localhost", "-addext", "subjectAltName=DNS:localhost,IP:%s,IP:%s" % (HOST, TLS_HOST),
                    "-keyout", key, "-out", cert], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.chmod(key, 0o600)
    der = subprocess.run(["openssl", "x509", "-in", cert, "-outform", "DER"], check=True,
                         capture_output=True).stdout
    return cert, key, hashlib.sha256(der).hexdigest()


def tls_text(cert, key, implicit):
    text = "ssl = yes\nssl_cert = <%s\nssl_key = <%s\n" % (cert, key)
    listener = """  inet_listener pop3s {{
    address = {host}
    port = {port}
    ssl = yes
  }}
""".format(host=TLS_HOST, port=TLS_PORT) if implicit else ""
    return text, listener


def config_text(state, runtime, port, tls=None):
    internal, group, login = identities()
    ssl, listener = tls or ("ssl = no\n", "")
    return """# Written by bench/benchserver.py: the header-scan benchmark's POP3 server.
protocols = pop3
listen = {host}
base_dir = {runtime}/run
state_dir = {runtime}/state
instance_name = tavelo-bench-{tag}
log_path = {state}/dovecot.log
default_internal_user = {internal}
default_internal_group = {group}
default_login_user = {login}
first_valid_uid = 1
mail_location = maildir:~/Maildir
disable_plaintext_auth = no
auth_mechanisms = plain
auth_failure_delay = 0
mail_max_userip_connections = 100
{ssl}pop3_no_flag_updates = yes
passdb {{
  driver = passwd-file
  args = scheme=PLAIN {runtime}/passwd
}}
userdb {{
  driver = passwd-file
  args = {runtime}/passwd
}}
service pop3-login {{
  chroot =
  inet_listener pop3 {{
    port = {port}
  }}
{listener}}}
service anvil {{
  chroot =
}}
""".format(host=HOST, runtime=runtime, tag=os.path.basename(runtime), state=state, internal=internal,
           group=group, login=login, port=port, ssl=ssl,
           listener=listener)


def greets(port, deadline):
    while True:
        try:
            with socket.create_connection((HOST, port), timeout=5) as s:
                return s.makefile("rb").readline().startswith(b"+OK")
        except OSError:
            if time.time() > deadline:
                return False
            time.sleep(0.05)


def start(state, cache, sizes, tls=False):
    """Starts Dovecot in the foreground as a child of this process (so that it is reaped when it
    ends); returns ({"host", "port", "users"}, the process), with "tls_host", "tls_port" and
    "sha256" when tls."""
    state, cache = os.path.abspath(state), os.path.abspath(cache)
    stop(state)
    os.makedirs(state, exist_ok=True)
    uid, gid = mail_owner()
    runtime = tempfile.mkdtemp(prefix="tvb-", dir="/tmp")
    with open(os.path.join(state, "runtime"), "w") as f:
        f.write(runtime + "\n")
    os.chmod(runtime, 0o755)
    os.makedirs(os.path.join(runtime, "state"))
    users = {"m%d" % n: "bench-%d" % n for n in sizes}
    with open(os.path.join(runtime, "passwd"), "w") as f:
        for n in sizes:
            f.write("m%d:{PLAIN}bench-%d:%d:%d::%s\n" % (n, n, uid, gid, os.path.join(cache, "m%d" % n)))
    os.chmod(os.path.join(runtime, "passwd"), 0o644)
    config = os.path.join(state, "dovecot.conf")
    implicit = tls and os.geteuid() == 0  # a port below 1024
    tls_settings = None
    if tls:
        cert, key, sha256 = certificate(state)
        tls_settings = tls_text(cert, key, implicit)
    dovecot = shutil.which("dovecot") or "/usr/sbin/dovecot"
    try:
        for _ in range(10):
            port = free_port()
            with open(config, "w") as f:
                f.write(config_text(state, runtime, port, tls_settings))
            with open(os.path.join(state, "start.log"), "w") as out:
                proc = subprocess.Popen([dovecot, "-F", "-c", config], stdin=subprocess.DEVNULL, stdout=out,
                                        stderr=out)
            deadline = time.time() + 30
            while proc.poll() is None and not greets(port, time.time() + 0.2) and time.time() < deadline:
                pass
            if proc.poll() is not None:
                text = read(os.path.join(state, "start.log")) + read(os.path.join(state, "dovecot.log"))
                if "Address already in use" in text:
                    continue
                raise RuntimeError("dovecot did not start (exit %d):\n%s" % (proc.returncode, text))
            if time.time() >= deadline:
                proc.kill()
                proc.wait()
                raise RuntimeError("dovecot does not greet on port %d" % port)
            info = {"host": HOST, "port": port, "users": users}
            if tls:
                info.update(tls_host=TLS_HOST, tls_port=TLS_PORT if implicit else 0, sha256=sha256)
            with open(os.path.join(state, "server.json"), "w") as f:
                json.dump(info, f)
            return info, proc
        raise RuntimeError("no free port found")
    except BaseException:
        stop(state)
        raise


def stop_child(state, proc):
    """Ends the Dovecot start() returned, waits for it and removes its runtime directory."""
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(20)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
    stop(state)


def main():
    if len(sys.argv) in (5, 6) and sys.argv[1] == "serve" and sys.argv[5:] in ([], ["--tls"]):
        info, proc = start(sys.argv[2], sys.argv[3], [int(s) for s in sys.argv[4].split(",")], tls=len(sys.argv) == 6)
        print("benchserver: dovecot on %s port %d%s; Ctrl-C stops it" % (
            info["host"], info["port"], ", TLS on %s:%d, certificate %s" % (
                info["tls_host"], info["tls_port"], info["sha256"]) if "sha256" in info else ""), flush=True)
        try:
            proc.wait()
        except KeyboardInterrupt:
            pass
        finally:
            stop_child(sys.argv[2], proc)
    elif len(sys.argv) == 3 and sys.argv[1] == "stop":
        stop(sys.argv[2])
    else:
        sys.exit(__doc__.split("\n\n")[1])


if __name__ == "__main__":
    main()
