#!/usr/bin/env python3
"""Re-check benchmark: a large mailbox that received one message, re-checked, against a fresh header pass.

usage: recheck.py --build DIR [--size 50000] [--rounds 5] [--cache DIR] [--out DIR]

Each round is one run of the real main window (tavelo-window-bench --recheck-after, offscreen, its
default settings, the dialogue log on): a fresh header pass of the mailbox m<size> from the cache of
run.py, then one message delivered into its Maildir/new (maildrop.py; not timed), then the tab's
re-check (what the window's timer starts once an idle mailbox has waited its interval: with UIDL at
the server, TOP only for the message whose unique id is new). For each it takes the wall time (the
pass from the connection to its end, the re-check from its start to the idle state again) and what
it added to the tab's dialogue log (lines and bytes, each line with its CR LF). The message is
removed after every round (the cache is served in place and stays as generated). After each
window run, the floor: a bare client (this script) delivers again and times the same commands
(UIDL in the open session, QUIT, a fresh login, UIDL, STAT, LIST, TOP n 20 for the new message,
QUIT), what the server alone needs, and floor.py's header pass (run.py's floor): their ratio is
the best any client could do against this server.

Both halves of a pair run in the same process one after the other, so a pair sees the same load;
the report gives every pair, the medians and the ratios re-check / fresh pass (the median of the
rounds' ratios). Targets: the re-check takes at most a tenth of the fresh pass's time and adds at
most a tenth of its log. Results in --out (default <build>/recheck-results): table.txt and
samples.csv.
"""
import argparse
import os
import re
import shlex
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import benchserver  # noqa: E402
import maildrop  # noqa: E402
import run  # noqa: E402  (the speed benchmark's directories, environment and results files)

FRESH = re.compile(r"^fresh: (\d+) messages, (\d+) rows, (\d+) log paragraphs, (\d+) log bytes, ([\d.]+) s$", re.M)
RECHECK = re.compile(r"^recheck: (\d+) messages \((\d+) new\), (\d+) rows, (\d+) log paragraphs added, "
                     r"(\d+) log bytes added, ([\d.]+) s$", re.M)


def log(text):
    print(text, flush=True)


class Pop3:
    """A bare POP3 client: the floor, what the server alone needs for the commands of a re-check."""

    def __init__(self, port, user, password):
        self.s = socket.create_connection(("127.0.0.1", port), timeout=120)
        self.f = self.s.makefile("rb")
        self.line()
        self.command(b"USER " + user.encode())
        self.command(b"PASS " + password.encode())

    def line(self):
        reply = self.f.readline()
        if not reply.startswith(b"+OK"):
            raise RuntimeError("floor: %r" % reply)
        return reply

    def command(self, text, multiline=False):
        self.s.sendall(text + b"\r\n")
        first = self.line()
        lines = []
        while multiline:
            line = self.f.readline()
            if line in (b".\r\n", b""):
                break
            lines.append(line)
        return first, lines

    def quit(self):
        self.command(b"QUIT")
        self.s.close()


def floor_round(port, n, maildir, record):
    """Seconds the server needs for a re-check's commands after one delivery: UIDL in the open
    session, QUIT, a fresh login, UIDL, STAT, LIST and TOP n 20 for the new message, QUIT."""
    user, password = "m%d" % n, "bench-%d" % n
    old = Pop3(port, user, password)
    old.command(b"LIST", True)
    try:
        maildrop.deliver(maildir, record)
        start = time.perf_counter()
        old.command(b"UIDL", True)
        old.quit()
        new = Pop3(port, user, password)
        _, uids = new.command(b"UIDL", True)
        new.command(b"STAT")
        new.command(b"LIST", True)
        new.command(b"TOP %d 20" % len(uids), True)
        new.quit()
        return time.perf_counter() - start
    finally:
        maildrop.remove_recorded(record)


def floor_pass(port, n):
    """Seconds floor.py takes for a whole header pass (every command pipelined, replies counted)."""
    start = time.perf_counter()
    subprocess.run([sys.executable, os.path.join(HERE, "floor.py"), "127.0.0.1", str(port), "m%d" % n],
                   env=dict(os.environ, TAVELO_PASSWORD="bench-%d" % n), stdout=subprocess.DEVNULL,
                   stdin=subprocess.DEVNULL, check=True)
    return time.perf_counter() - start


def one_round(args, port, n, record, work, rnd):
    """(fresh dict, recheck dict) or raises RuntimeError with what went wrong."""
    user, password = "m%d" % n, "bench-%d" % n
    maildir = os.path.join(args.cache, user, "Maildir")
    deliver = " ".join(shlex.quote(a) for a in (sys.executable, os.path.join(HERE, "maildrop.py"), "deliver",
                                                   maildir, record))
    env = run.program_env(work, password)
    cmd = [os.path.join(args.build, "bin", "tavelo-window-bench"), "--host", "127.0.0.1", "--port", str(port),
           "--user", user, "--recheck-after", deliver]
    try:
        proc = subprocess.run(cmd, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, timeout=120 + n * 0.02 * 2)
        err = proc.stderr.decode("utf-8", "replace")
    except subprocess.TimeoutExpired as e:
        raise RuntimeError("round %d: timeout\n%s" % (rnd, (e.stderr or b"").decode("utf-8", "replace")[-2000:]))
    finally:
        maildrop.remove_recorded(record)
    f, r = FRESH.search(err), RECHECK.search(err)
    if proc.returncode != 0 or not f or not r:
        raise RuntimeError("round %d: exit %d\n%s" % (rnd, proc.returncode, err[-2000:]))
    fresh = {"messages": int(f.group(1)), "rows": int(f.group(2)), "paragraphs": int(f.group(3)),
             "bytes": int(f.group(4)), "seconds": float(f.group(5))}
    recheck = {"messages": int(r.group(1)), "new": int(r.group(2)), "rows": int(r.group(3)),
               "paragraphs": int(r.group(4)), "bytes": int(r.group(5)), "seconds": float(r.group(6))}
    if fresh["messages"] != n or recheck["messages"] != n + 1 or recheck["new"] != 1:
        raise RuntimeError("round %d: unexpected counts: %s / %s" % (rnd, fresh, recheck))
    return fresh, recheck


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build", required=True, help="the build directory (its bin/ holds tavelo-window-bench)")
    ap.add_argument("--size", type=int, default=50000, help="messages in the mailbox (50000)")
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--cache", help="mailbox cache (default <build>/bench-cache, as run.py)")
    ap.add_argument("--out", help="results directory (default <build>/recheck-results)")
    args = ap.parse_args()
    run.settle_dirs(args, "recheck-results")
    if not os.access(os.path.join(args.build, "bin", "tavelo-window-bench"), os.X_OK):
        sys.exit("recheck.py: %s/bin/tavelo-window-bench is missing: build it first" % args.build)
    os.makedirs(args.out, exist_ok=True)
    n = args.size
    owner = "%d:%d" % benchserver.mail_owner()
    subprocess.run([sys.executable, os.path.join(HERE, "genbench.py"), "--cache", args.cache, "--sizes", str(n),
                    "--owner", owner], check=True)

    signal.signal(signal.SIGTERM, lambda *_: sys.exit("recheck.py: stopped"))
    work = tempfile.mkdtemp(prefix="tavelo-recheck-")
    os.chmod(work, 0o700)
    state = os.path.join(args.out, "server")
    record = os.path.join(work, "delivered")
    server = None
    pairs = []
    failures = []
    try:
        info, server = benchserver.start(state, args.cache, [n])
        port = info["port"]
        log("dovecot on 127.0.0.1:%d; mailbox m%d" % (port, n))
        # Warm-up, not measured: Dovecot indexes the mailbox on first use, the files come into the
        # page cache.
        subprocess.run([sys.executable, os.path.join(HERE, "floor.py"), "127.0.0.1", str(port), "m%d" % n],
                       env=dict(os.environ, TAVELO_PASSWORD="bench-%d" % n), stdout=subprocess.DEVNULL,
                       stdin=subprocess.DEVNULL, check=False)
        for rnd in range(1, args.rounds + 1):
            load = os.getloadavg()[0]
            try:
                fresh, recheck = one_round(args, port, n, record, work, rnd)
            except RuntimeError as e:
                failures.append(str(e))
                log("  round %d FAILED: %s" % (rnd, str(e).splitlines()[0]))
                continue
            floor = floor_round(port, n, os.path.join(args.cache, "m%d" % n, "Maildir"), record)
            recheck["floor"] = floor
            fresh["floor"] = floor_pass(port, n)
            pairs.append((fresh, recheck, load))
            log("  round %d  fresh %8.3f s %9d lines %11d bytes   re-check %7.3f s %7d lines %9d bytes   "
                "ratios %.4f time, %.4f lines, %.4f bytes   floors %.3f / %.3f s  (load %.1f)" % (
                    rnd, fresh["seconds"], fresh["paragraphs"], fresh["bytes"], recheck["seconds"],
                    recheck["paragraphs"], recheck["bytes"], recheck["seconds"] / fresh["seconds"],
                    recheck["paragraphs"] / fresh["paragraphs"], recheck["bytes"] / fresh["bytes"], floor,
                    fresh["floor"], load))
    finally:
        maildrop.remove_recorded(record)
        if server is not None:
            benchserver.stop_child(state, server)
        shutil.rmtree(work, ignore_errors=True)

    lines = ["Re-check benchmark, %s: m%d (%s messages) plus one delivered" % (
        time.strftime("%Y-%m-%d %H:%M"), n, "{:,}".format(n)),
        "  the main window (offscreen, default settings, dialogue log on); %d of %d rounds; %d cores, "
        "load %s" % (len(pairs), args.rounds, os.cpu_count() or 0,
                     "%.1f-%.1f" % (min(p[2] for p in pairs), max(p[2] for p in pairs)) if pairs else "-")]
    if pairs:
        med = statistics.median
        fs, rs = [p[0] for p in pairs], [p[1] for p in pairs]
        t = med(r["seconds"] / f["seconds"] for f, r in zip(fs, rs))
        lp = med(r["paragraphs"] / f["paragraphs"] for f, r in zip(fs, rs))
        lb = med(r["bytes"] / f["bytes"] for f, r in zip(fs, rs))
        lines += [
            "  %-10s %12s %16s %18s" % ("", "median s", "log lines", "log bytes"),
            "  %-10s %12.3f %16s %18s" % ("fresh pass", med(f["seconds"] for f in fs),
                                          "{:,}".format(int(med(f["paragraphs"] for f in fs))),
                                          "{:,}".format(int(med(f["bytes"] for f in fs)))),
            "  %-10s %12.3f %16s %18s" % ("re-check", med(r["seconds"] for r in rs),
                                          "{:,}".format(int(med(r["paragraphs"] for r in rs))),
                                          "{:,}".format(int(med(r["bytes"] for r in rs)))),
            "  floors (the server alone, a bare client): re-check %.3f s, header pass %.3f s (floor.py), ratio "
            "%.4f" % (med(r["floor"] for r in rs), med(f["floor"] for f in fs),
                      med(r["floor"] / f["floor"] for f, r in zip(fs, rs))),
            "  ratios re-check / fresh pass (median of the rounds): time %.4f, log lines %.4f, log bytes %.4f" % (
                t, lp, lb),
            "  [%s] re-check at most a tenth of the fresh pass's time: %.4f" % ("hold" if t <= 0.1 else "MISS", t),
            "  [%s] re-check adds at most a tenth of the fresh pass's log: lines %.4f, bytes %.4f" % (
                "hold" if lp <= 0.1 and lb <= 0.1 else "MISS", lp, lb)]
    for failure in failures:
        lines.append("  failed: " + failure.splitlines()[0])
    text = "\n".join(lines) + "\n"
    log("")
    log(text)
    run.write_results(args.out, text,
                      ["round", "load1", "fresh_s", "fresh_lines", "fresh_bytes", "recheck_s", "recheck_lines",
                       "recheck_bytes", "floor_recheck_s", "floor_pass_s"],
                      ([i, "%.2f" % load, "%.4f" % fr["seconds"], fr["paragraphs"], fr["bytes"], "%.4f" % rc["seconds"],
                        rc["paragraphs"], rc["bytes"], "%.4f" % rc["floor"], "%.4f" % fr["floor"]]
                       for i, (fr, rc, load) in enumerate(pairs, 1)))
    sys.exit(0 if pairs and not failures else 1)


if __name__ == "__main__":
    main()
