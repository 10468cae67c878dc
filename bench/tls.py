#!/usr/bin/env python3
"""TLS against clear text: the header pass over STLS and over POP3 on port 995, side by side with the
same pass in clear text on the same mailboxes, for tavelo-scan, the window and the floor.

usage: tls.py --build DIR [--base DIR] [--sizes 10000,50000] [--rounds 5] [--only scan,window,floor]
              [--links clear,stls,995] [--out DIR] [--cache DIR]

Started by bench/tls.sh, which installs what is missing and builds first. Two private Dovecots
serve the cached mailboxes (genbench.py) at once: one in clear text only, one with TLS (STLS on its
port, and, run as root, TLS from the first byte on 127.0.0.95:995), with a throwaway self-signed
certificate that the programs are told to trust by its fingerprint (--trust-certificate). For every
size, each round runs every program over every link in an order that rotates from round to round,
so that what else the machine does falls on all of them alike:

  scan     tavelo-scan --lines 20 (pipelined, its default)
  window   tavelo-window-bench (the main window, offscreen, dialogue log on, default settings)
  floor    floor.py: every command pipelined in one stream, replies only counted (--stls, --tls)

--base DIR adds the same programs built from another tree (DIR/bin), run in the same rounds, so that
a change is measured against what it changes under the same load. Each run is a child process: wall
time from start to exit, and the CPU time (user + system) of the program itself (GNU time).

Prints and writes into --out (default <build>/bench-results-tls): table.txt (median seconds with
the spread and the median CPU seconds per size, program, build and link, and the ratios STLS /
clear and 995 / clear of the medians), samples.csv (every run) and logs/ (the output of failed
runs).
"""
import argparse
import csv
import os
import shutil
import signal
import statistics
import subprocess
import sys

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import benchserver  # noqa: E402
import run  # noqa: E402  (the speed benchmark's GNU time wrapper, directories and environment)

PROGRAMS = ["scan", "window", "floor"]
LINKS = ["clear", "stls", "995"]
LINES = 20


def log(text):
    print(text, flush=True)


def timed(cmd, env, out_path, err_path, timeout):
    """(wall seconds, CPU seconds, exit status or None when killed) of a child process."""
    wall, _, cpu, rc = run.measured(cmd, env, out_path, err_path, timeout)
    return wall, cpu, rc


class Bench(run.Scratch):
    def __init__(self, args, clear, tls):
        super().__init__(args.out, "tavelo-bench-tls-")
        self.args, self.clear, self.tls = args, clear, tls

    def endpoint(self, link):
        if link == "clear":
            return self.clear["host"], self.clear["port"]
        if link == "stls":
            return self.tls["host"], self.tls["port"]
        return self.tls["tls_host"], self.tls["tls_port"]

    def command(self, program, bindir, link, user):
        host, port = self.endpoint(link)
        trust = [] if link == "clear" else ["--trust-certificate", self.tls["sha256"]]
        if program == "scan":
            return [os.path.join(bindir, "tavelo-scan"), "--host", host, "--port", str(port), "--user", user,
                    "--lines", str(LINES)] + trust
        if program == "window":
            return [os.path.join(bindir, "tavelo-window-bench"), "--host", host, "--port", str(port), "--user",
                    user] + trust
        return [sys.executable, os.path.join(HERE, "floor.py"), host, str(port), user] + (
            [] if link == "clear" else ["--stls" if link == "stls" else "--tls"])

    @staticmethod
    def check(program, n, rc, out, err):
        if rc is None:
            return "timeout"
        if rc != 0:
            lines = err.decode("utf-8", "replace").strip().splitlines()
            return "exit %d: %s" % (rc, lines[-1] if lines else "")
        if program == "scan":
            lines = out.count(b"\n")
            return "" if lines == n else "%d lines of %d" % (lines, n)
        if program == "window":
            return "" if (b"window: %d messages, %d rows" % (n, n)) in err else "incomplete"
        replies = int(out.split()[0]) if out.split() else 0
        return "" if replies == n + 1 else "%d replies of %d" % (replies, n + 1)

    def run(self, program, build, bindir, link, n, rnd):
        user, password = "m%d" % n, "bench-%d" % n
        stem = os.path.join(self.logs, "%d-%s-%s-%s-%d" % (n, program, build, link, rnd))
        out_path, err_path = stem + ".out", stem + ".err"
        wall, cpu, rc = timed(self.command(program, bindir, link, user), self.env(password), out_path, err_path,
                              120 + n * 0.02)
        with open(out_path, "rb") as f:
            out = f.read()
        with open(err_path, "rb") as f:
            err = f.read()
        problem = self.check(program, n, rc, out, err)
        if not problem:
            os.remove(out_path)
            os.remove(err_path)
        log("  N=%-6d round %d  %-6s %-6s %-5s %8.3f s  cpu %6.3f s%s" % (
            n, rnd, program, build, link, wall, cpu, "" if not problem else "  FAILED: " + problem))
        return {"n": n, "round": rnd, "program": program, "build": build, "link": link, "wall": wall, "cpu": cpu,
                "ok": not problem, "note": problem, "load1": os.getloadavg()[0]}


def report(args, runs, builds, links, meta):
    lines = ["TLS against clear text: header pass (TOP n %d), %s" % (LINES, meta["date"]),
             "  tree %s; %s" % (meta["git"], meta["cpu"]),
             "  builds: " + "; ".join("%s = %s" % (b, d) for b, d in builds),
             "  links: clear = plain POP3; stls = STLS on the same kind of port; 995 = TLS from the first byte",
             "  seconds: median wall time of the rounds [min-max]; cpu: median CPU seconds of the program itself",
             ""]
    loads = sorted(r["load1"] for r in runs)
    if loads:
        lines.insert(5, "  machine load (1-minute average after each run): median %.1f, %.1f-%.1f on %d cores" % (
            statistics.median(loads), loads[0], loads[-1], os.cpu_count() or 0))
    medians = {}
    for n in sorted({r["n"] for r in runs}):
        lines.append("N = {:,}".format(n))
        lines.append("  %-7s %-7s %-6s %6s %10s %19s %8s %9s" % ("program", "build", "link", "rounds", "median s",
                                                                  "[min-max]", "cpu s", "/ clear"))
        for program in [p for p in PROGRAMS if any(r["program"] == p for r in runs)]:
            for build in [b for b, _ in builds] if program != "floor" else ["-"]:
                for link in links:
                    rs = [r for r in runs if (r["n"], r["program"], r["build"], r["link"]) == (n, program, build, link)]
                    good = [r for r in rs if r["ok"]]
                    if not rs:
                        continue
                    if not good:
                        lines.append("  %-7s %-7s %-6s %3d/%-2d failed: %s" % (program, build, link, 0, len(rs),
                                                                            rs[0]["note"][:60]))
                        continue
                    walls = [r["wall"] for r in good]
                    med = statistics.median(walls)
                    medians[(n, program, build, link)] = med
                    clear = medians.get((n, program, build, "clear"))
                    lines.append("  %-7s %-7s %-6s %3d/%-2d %10.3f %19s %8.3f %9s" % (
                        program, build, link, len(good), len(rs), med, "[%.3f-%.3f]" % (min(walls), max(walls)),
                        statistics.median(r["cpu"] for r in good),
                        "%.2fx" % (med / clear) if clear and link != "clear" else ""))
        lines.append("")
    lines.append("ratios of the medians, TLS / clear text")
    for n in sorted({r["n"] for r in runs}):
        for program in PROGRAMS:
            for build in [b for b, _ in builds] if program != "floor" else ["-"]:
                clear = medians.get((n, program, build, "clear"))
                parts = ["%s %.2fx" % (link, medians[(n, program, build, link)] / clear) for link in links
                         if link != "clear" and clear and (n, program, build, link) in medians]
                if parts:
                    lines.append("  N={:<7,} {:<7} {:<7} ".format(n, program, build) + "   ".join(parts))
    text = "\n".join(lines) + "\n"
    with open(os.path.join(args.out, "table.txt"), "w") as f:
        f.write(text)
    with open(os.path.join(args.out, "samples.csv"), "w", newline="") as f:
        w = csv.DictWriter(f, fieldnames=["n", "round", "program", "build", "link", "wall", "cpu", "ok", "note",
                                          "load1"])
        w.writeheader()
        for r in runs:
            w.writerow(dict(r, wall="%.4f" % r["wall"], cpu="%.3f" % r["cpu"], ok=int(r["ok"]),
                            load1="%.2f" % r["load1"]))
    return text


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build", required=True, help="the build directory (its bin/ holds the programs)")
    ap.add_argument("--base", help="another build directory to measure in the same rounds (\"before\")")
    ap.add_argument("--sizes", default="10000,50000")
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--only", help="programs to run (comma-separated: %s)" % ",".join(PROGRAMS))
    ap.add_argument("--links", default=",".join(LINKS), help="links (comma-separated: %s)" % ",".join(LINKS))
    ap.add_argument("--out", help="results directory (default <build>/bench-results-tls)")
    ap.add_argument("--cache", help="mailbox cache (default <build>/bench-cache, shared with run.py)")
    args = ap.parse_args()
    run.settle_dirs(args, "bench-results-tls")
    sizes = sorted(int(s) for s in args.sizes.split(",") if s)
    programs = args.only.split(",") if args.only else PROGRAMS
    links = args.links.split(",")
    if set(programs) - set(PROGRAMS) or set(links) - set(LINKS) or "clear" not in links:
        sys.exit("tls.py: programs are %s; links are %s, clear among them" % (", ".join(PROGRAMS), ", ".join(LINKS)))
    builds = [("after" if args.base else "this", os.path.join(args.build, "bin"))]
    if args.base:
        builds.append(("before", os.path.join(os.path.abspath(args.base), "bin")))
    for _, bindir in builds:
        for prog in ("tavelo-scan", "tavelo-window-bench"):
            if not os.access(os.path.join(bindir, prog), os.X_OK):
                sys.exit("tls.py: %s/%s is missing: build it first (bench/tls.sh does)" % (bindir, prog))
    if os.path.isdir(args.out):
        shutil.rmtree(args.out)
    os.makedirs(args.out)
    owner = "%d:%d" % benchserver.mail_owner()
    subprocess.run([sys.executable, os.path.join(HERE, "genbench.py"), "--cache", args.cache, "--sizes",
                    ",".join(map(str, sizes)), "--owner", owner], check=True)
    meta = run.describe(args)  # date, tree and processor (its other facts go unused)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("tls.py: stopped"))
    states = [os.path.join(args.out, "server-clear"), os.path.join(args.out, "server-tls")]
    servers = []
    runs = []
    bench = None
    try:
        clear, proc = benchserver.start(states[0], args.cache, sizes)
        servers.append((states[0], proc))
        tls, proc = benchserver.start(states[1], args.cache, sizes, tls=True)
        servers.append((states[1], proc))
        if "995" in links and not tls["tls_port"]:
            log("tls.py: port 995 needs root: the 995 link is left out")
            links.remove("995")
        log("dovecot: clear text on %s:%d; STLS on %s:%d%s" % (
            clear["host"], clear["port"], tls["host"], tls["port"],
            "; TLS on %s:%d" % (tls["tls_host"], tls["tls_port"]) if tls["tls_port"] else ""))
        bench = Bench(args, clear, tls)
        # Warm-up, not measured: Dovecot indexes each mailbox on first use, the files come into the
        # page cache.
        for n in sizes:
            for link in links:
                bench.run("scan", builds[0][0], builds[0][1], link, n, 0)
        combos = [(p, b, d, l) for p in programs for b, d in (builds if p != "floor" else [("-", "")])
                  for l in links]
        for n in sizes:
            for rnd in range(1, args.rounds + 1):
                k = (rnd - 1) % len(combos)
                for program, build, bindir, link in combos[k:] + combos[:k]:
                    runs.append(bench.run(program, build, bindir, link, n, rnd))
    finally:
        for state, proc in servers:
            benchserver.stop_child(state, proc)
        if bench:
            shutil.rmtree(bench.work, ignore_errors=True)
    text = report(args, runs, builds, links, meta)
    log("")
    log(text)
    log("written: %s/{table.txt,samples.csv}" % args.out)


if __name__ == "__main__":
    main()
