#!/usr/bin/env python3
"""Header-scan benchmark: tavelo-scan and the main window against the tools a user would pick instead.

usage: run.py --build DIR [--quick] [--sizes 1000,10000,50000] [--delay-sizes 1000,10000]
              [--rounds 5] [--rounds-large 3] [--rounds-delay 3] [--rounds-delay-large 1]
              [--only NAME,...] [--out DIR] [--cache DIR]

Started by bench/run.sh, which installs what is missing and builds first. For every mailbox size N
(generated once by genbench.py and cached) and link (plain loopback; a 10 ms delay line each way
through tests/support/delayproxy.py), it runs the contenders one after the other, in an order
that rotates from round to round, and repeats the rounds:

  tavelo-scan  the command-line scanner, --lines 20 (the header pass of a tab); it pipelines the
               TOP commands where the server offers PIPELINING, as it does by default
  scan-seq     the same with --sequential: one TOP at a time
  window       the real main window with its default settings (tavelo-window-bench, offscreen
               platform, dialogue log on, the advanced option Pipelining on), until the end of its
               header pass; window-seq (only with --only) turns Pipelining off: one TOP at a time
  poplib       a sequential Python poplib script (poplib_scan.py): USER, PASS, LIST, TOP n 20, QUIT
  mpop         mpop with a filter that skips every message (it reads each header with TOP and
               downloads nothing); its seen-message file is removed before every run
  floor        LIST and every TOP pipelined in one stream, replies only counted (floor.py)

Each run is a child process: wall time from its start to its exit, and its peak resident memory
(maximum resident set size, as GNU time reports it). A run whose output is not the whole mailbox counts as failed. A cell (one
link and size) starts another round only when, judged by the rounds so far, it would end within
the cell's time budget (--budget, 900 s): every cell runs at least one round.

Writes into --out (default <build>/bench-results): table.txt (what is printed), results.csv (one
line per link, size and contender), ratios.csv, scaling.csv, samples.csv (every run), seconds.png,
and logs/ (the output of failed runs).
"""
import argparse
import csv
import datetime
import json
import os
import platform
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)
import benchserver  # noqa: E402

# tavelo-scan pipelines where the server offers PIPELINING (as it does by default); scan-seq is the
# same program with --sequential. The window runs with its default settings (the advanced option
# Pipelining on, like the scanner), so that window / tavelo-scan is the cost of the window itself;
# window-seq (not run unless asked for with --only) turns Pipelining off, one TOP at a time.
CONTENDERS = ["tavelo-scan", "scan-seq", "window", "poplib", "mpop", "floor"]
OPTIONAL = ["window-seq"]
LINES = 20
DELAY_MS = 10


def log(text):
    print(text, flush=True)


# ---------------------------------------------------------------------------------------------------
# One run


class Run:
    def __init__(self, contender, link, n, rnd):
        self.contender, self.link, self.n, self.round = contender, link, n, rnd
        self.seconds = None
        self.peak_kb = None
        self.ok = False
        self.note = ""
        self.load = os.getloadavg()[0]  # the machine is shared: how busy it was when the run started


def measured(cmd, env, stdout_path, stderr_path, timeout):
    """(seconds, peak KB, CPU seconds, exit status or None on timeout) of a child process.

    The peak and the CPU time come from GNU time, a small C program that forks and execs the
    command: a process forked from this Python one would keep this one's resident size as its
    high-water mark across exec, and ru_maxrss would report that instead."""
    usage_path = stderr_path + ".usage"
    with open(stdout_path, "wb") as out, open(stderr_path, "wb") as err:
        start = time.perf_counter()
        proc = subprocess.Popen(["/usr/bin/time", "-f", "%M %U %S", "-o", usage_path] + cmd, env=env, stdout=out,
                                stderr=err, stdin=subprocess.DEVNULL, start_new_session=True)
        timer = threading.Timer(timeout, lambda: os.killpg(proc.pid, signal.SIGKILL))
        timer.start()
        try:
            proc.wait()
            seconds = time.perf_counter() - start
        finally:
            timer.cancel()
    killed = seconds >= timeout and proc.returncode != 0
    try:
        with open(usage_path) as f:
            peak, user, system = f.read().split()[-3:]  # after "Command exited with non-zero status N"
        peak, cpu = int(peak), float(user) + float(system)
    except (OSError, ValueError):
        peak, cpu = 0, 0.0
    if os.path.exists(usage_path):
        os.remove(usage_path)
    return seconds, peak, cpu, None if killed else proc.returncode


def timed(cmd, env, stdout_path, stderr_path, timeout):
    """(seconds, peak KB, exit status or None on timeout) of a child process (measured)."""
    seconds, peak, _, rc = measured(cmd, env, stdout_path, stderr_path, timeout)
    return seconds, peak, rc


def write_results(out, text, header, rows):
    """A benchmark's report into out/table.txt and its samples into out/samples.csv."""
    with open(os.path.join(out, "table.txt"), "w") as f:
        f.write(text)
    with open(os.path.join(out, "samples.csv"), "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(header)
        w.writerows(rows)


def settle_dirs(args, results):
    """--build, --cache and --out made absolute; the cache and the results (a folder named results)
    under the build unless given."""
    args.build = os.path.abspath(args.build)
    args.cache = os.path.abspath(args.cache or os.path.join(args.build, "bench-cache"))
    args.out = os.path.abspath(args.out or os.path.join(args.build, results))


def program_env(runtime, password):
    """What the measured programs run with: offscreen, the password(s), runtime as XDG_RUNTIME_DIR."""
    env = dict(os.environ)
    env.update({"TAVELO_PASSWORD": password, "QT_QPA_PLATFORM": "offscreen", "XDG_RUNTIME_DIR": runtime,
                "PYTHONDONTWRITEBYTECODE": "1", "LC_ALL": "C.UTF-8"})
    return env


class Scratch:
    """A benchmark's temporary directory (work), its logs under out, and a private XDG runtime."""
    def __init__(self, out, prefix):
        self.work = tempfile.mkdtemp(prefix=prefix)
        self.logs = os.path.join(out, "logs")
        os.makedirs(self.logs, exist_ok=True)
        self.runtime = os.path.join(self.work, "xdg-runtime")
        os.makedirs(self.runtime, mode=0o700)

    def env(self, password):
        return program_env(self.runtime, password)


class Bench(Scratch):
    def __init__(self, args):
        super().__init__(args.out, "tavelo-bench-")
        self.args = args
        self.bin = os.path.join(os.path.abspath(args.build), "bin")

    def mpop_config(self, user, password, port):
        path = os.path.join(self.work, "mpop-%s-%d.conf" % (user, port))
        uidls = os.path.join(self.work, "mpop-%s-%d.uidls" % (user, port))
        with open(path, "w") as f:
            f.write("\n".join([
                "defaults", "account bench", "host 127.0.0.1", "port %d" % port, "tls off", "auth user",
                "user " + user, "password " + password, "keep on", "only_new on", "uidls_file " + uidls,
                # Exit code 2: skip the message, download nothing. The filter reads the headers mpop
                # pipes to it (leaving them unread fails the run with a broken pipe).
                'filter "cat >/dev/null; exit 2"',
                "delivery mbox " + os.path.join(self.work, "never-delivered.mbox"),
                "received_header off", "timeout 600", ""]))
        os.chmod(path, 0o600)
        return path, uidls

    def command(self, contender, port, user, password):
        host = "127.0.0.1"
        if contender in ("tavelo-scan", "scan-seq"):
            return [os.path.join(self.bin, "tavelo-scan"), "--host", host, "--port", str(port), "--user", user,
                    "--lines", str(LINES)] + (["--sequential"] if contender == "scan-seq" else [])
        if contender in ("window", "window-seq"):
            return [os.path.join(self.bin, "tavelo-window-bench"), "--host", host, "--port", str(port),
                    "--user", user] + (["--sequential"] if contender == "window-seq" else [])
        if contender == "poplib":
            return [sys.executable, os.path.join(HERE, "poplib_scan.py"), host, str(port), user]
        if contender == "floor":
            return [sys.executable, os.path.join(HERE, "floor.py"), host, str(port), user]
        if contender == "mpop":
            conf, uidls = self.mpop_config(user, password, port)
            if os.path.exists(uidls):
                os.remove(uidls)
            return ["mpop", "-C", conf, "bench"]
        raise ValueError(contender)

    def check(self, contender, n, rc, out_path, err_path):
        """'' when the run listed the whole mailbox, else what went wrong."""
        if rc is None:
            return "timeout"
        with open(out_path, "rb") as f:
            out = f.read()
        with open(err_path, "rb") as f:
            err = f.read().decode("utf-8", "replace")
        if rc != 0:
            return "exit %d: %s" % (rc, err.strip().splitlines()[-1] if err.strip() else "")
        if contender in ("tavelo-scan", "scan-seq", "poplib"):
            lines = out.count(b"\n")
            return "" if lines == n else "%d lines of %d" % (lines, n)
        if contender in ("window", "window-seq"):
            return "" if ("window: %d messages, %d rows" % (n, n)) in err else "incomplete: " + err.strip()[-200:]
        if contender == "mpop":
            skipped = out.count(b"(reason: filter)")
            return "" if skipped == n else "%d of %d skipped by the filter" % (skipped, n)
        if contender == "floor":
            replies = int(out.split()[0]) if out.split() else 0
            return "" if replies == n + 1 else "%d replies of %d" % (replies, n + 1)
        return ""

    def run(self, contender, link, n, rnd, port, timeout):
        user, password = "m%d" % n, "bench-%d" % n
        r = Run(contender, link, n, rnd)
        stem = os.path.join(self.logs, "%s-%d-%s-%d" % (link, n, contender, rnd))
        out_path, err_path = stem + ".out", stem + ".err"
        seconds, peak, rc = timed(self.command(contender, port, user, password), self.env(password), out_path,
                                  err_path, timeout)
        problem = self.check(contender, n, rc, out_path, err_path)
        r.seconds, r.peak_kb, r.ok, r.note = seconds, peak, not problem, problem
        if not problem:  # keep the logs of failures only: 50,000-line outputs add up
            os.remove(out_path)
            os.remove(err_path)
        log("  %-8s N=%-6d round %d  %-12s %8.3f s  %7.1f MB%s" % (
            link, n, rnd, contender, seconds, peak / 1024.0, "" if r.ok else "  FAILED: " + problem))
        return r


# ---------------------------------------------------------------------------------------------------
# The delay line


def start_proxy(target_port):
    proc = subprocess.Popen([sys.executable, os.path.join(ROOT, "tests", "support", "delayproxy.py"),
                             "--target", "127.0.0.1:%d" % target_port, "--delay-ms", str(DELAY_MS)],
                            stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
    line = proc.stdout.readline()
    if not line.strip().isdigit():
        proc.kill()
        proc.wait()
        raise RuntimeError("delayproxy did not start")
    return proc, int(line)


def stop_proxy(proc):
    if proc and proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


# ---------------------------------------------------------------------------------------------------
# Summaries


def summarize(runs):
    """{(link, n, contender): dict} over the successful runs."""
    cells = {}
    for r in runs:
        cells.setdefault((r.link, r.n, r.contender), []).append(r)
    out = {}
    for key, rs in cells.items():
        good = [r for r in rs if r.ok]
        s = {"runs": len(rs), "ok": len(good), "notes": sorted({r.note for r in rs if r.note})}
        if good:
            secs = [r.seconds for r in good]
            s.update(median=statistics.median(secs), min=min(secs), max=max(secs),
                     peak_mb=statistics.median(r.peak_kb for r in good) / 1024.0,
                     peak_mb_max=max(r.peak_kb for r in good) / 1024.0)
            s["rate"] = key[1] / s["median"]
        out[key] = s
    return out


def ratio(summary, a, b):
    if a in summary and b in summary and "median" in summary[a] and "median" in summary[b]:
        return summary[a]["median"] / summary[b]["median"]
    return None


def fmt(x, digits=2):
    return "-" if x is None else "%.*f" % (digits, x)


def report(args, runs, meta):
    summary = summarize(runs)
    links = [l for l in ("loopback", "delay") if any(k[0] == l for k in summary)]
    lines = []
    add = lines.append
    add("Header scan benchmark (TOP n %d), %s" % (LINES, meta["date"]))
    add("  tree %s; %s; %s" % (meta["git"], meta["cpu"], meta["versions"]))
    add("  links: loopback = plain 127.0.0.1; delay = delay line of %d ms each way (20 ms round trip)" % DELAY_MS)
    add("  seconds: median of the rounds [min-max]; peak memory: median maximum resident set size")
    loads = sorted(r.load for r in runs)
    if loads:
        add("  machine load (1-minute average at the start of each run): median %.1f, %.1f-%.1f on %d cores" % (
            statistics.median(loads), loads[0], loads[-1], os.cpu_count() or 0))
    add("")
    ratio_rows = []
    result_rows = []
    for link in links:
        for n in sorted({k[1] for k in summary if k[0] == link}):
            add("%s, N = %s" % (link, "{:,}".format(n)))
            add("  %-12s %6s %10s %19s %10s %10s" % ("contender", "rounds", "median s", "[min-max]", "msg/s",
                                                       "peak MB"))
            for c in CONTENDERS + OPTIONAL:
                s = summary.get((link, n, c))
                if not s:
                    continue
                if "median" in s:
                    add("  %-12s %3d/%-2d %10.3f %19s %10.0f %10.1f" % (
                        c, s["ok"], s["runs"], s["median"], "[%.3f-%.3f]" % (s["min"], s["max"]), s["rate"],
                        s["peak_mb"]))
                else:
                    add("  %-12s %3d/%-2d %10s   %s" % (c, s["ok"], s["runs"], "failed", "; ".join(s["notes"])[:80]))
                result_rows.append({"link": link, "n": n, "contender": c, "rounds_ok": s["ok"], "rounds": s["runs"],
                                    "median_s": fmt(s.get("median"), 4), "min_s": fmt(s.get("min"), 4),
                                    "max_s": fmt(s.get("max"), 4), "msgs_per_s": fmt(s.get("rate"), 1),
                                    "peak_mb": fmt(s.get("peak_mb"), 1), "peak_mb_max": fmt(s.get("peak_mb_max"), 1),
                                    "notes": "; ".join(s["notes"])})
            k = lambda c: (link, n, c)  # noqa: E731
            rs = {"scan/poplib": ratio(summary, k("tavelo-scan"), k("poplib")),
                  "scan/mpop": ratio(summary, k("tavelo-scan"), k("mpop")),
                  "scan/floor": ratio(summary, k("tavelo-scan"), k("floor")),
                  "window/scan": ratio(summary, k("window"), k("tavelo-scan")),
                  "scan-seq/poplib": ratio(summary, k("scan-seq"), k("poplib")),
                  "window-seq/scan-seq": ratio(summary, k("window-seq"), k("scan-seq"))}
            rs = {name: v for name, v in rs.items() if v is not None or "seq" not in name}
            add("  ratios: " + "   ".join("%s %s" % (name, fmt(v)) for name, v in rs.items()))
            row = {"link": link, "n": n}
            row.update({name.replace("/", "_over_").replace("-", "_"): fmt(v, 3) for name, v in rs.items()})
            ratio_rows.append(row)
            add("")
    # Scaling: the cost of one message at the largest N over that at the smallest.
    scaling_rows = []
    for link in links:
        ns = sorted({k[1] for k in summary if k[0] == link})
        if len(ns) < 2:
            continue
        lo = ns[0]
        add("scaling on %s: seconds per message at N over seconds per message at %s" % (link, "{:,}".format(lo)))
        for c in CONTENDERS + OPTIONAL:
            base = summary.get((link, lo, c), {}).get("median")
            if base is None:
                continue
            parts = []
            for n in ns[1:]:
                m = summary.get((link, n, c), {}).get("median")
                v = None if m is None else (m / n) / (base / lo)
                parts.append("%s: %s" % ("{:,}".format(n), fmt(v)))
                scaling_rows.append({"link": link, "contender": c, "n": n, "base_n": lo, "per_message_ratio": fmt(v, 3)})
            add("  %-12s %s" % (c, "   ".join(parts)))
        add("")
    lines += targets(summary)
    text = "\n".join(lines) + "\n"

    with open(os.path.join(args.out, "table.txt"), "w") as f:
        f.write(text)
    write_csv(os.path.join(args.out, "results.csv"), result_rows)
    write_csv(os.path.join(args.out, "ratios.csv"), ratio_rows)
    write_csv(os.path.join(args.out, "scaling.csv"), scaling_rows)
    write_csv(os.path.join(args.out, "samples.csv"), [
        {"link": r.link, "n": r.n, "contender": r.contender, "round": r.round, "seconds": "%.4f" % r.seconds,
         "peak_kb": r.peak_kb, "ok": int(r.ok), "load1": "%.2f" % r.load, "note": r.note} for r in runs])
    with open(os.path.join(args.out, "meta.json"), "w") as f:
        json.dump(meta, f, indent=1)
    chart(args, summary, links)
    return text


def targets(summary):
    out = ["targets"]

    def med(link, n, c):
        return summary.get((link, n, c), {}).get("median")

    ns = sorted({k[1] for k in summary if k[0] == "loopback"})
    verdicts = []
    for rival in ("poplib", "mpop"):
        pairs = [(n, med("loopback", n, "tavelo-scan"), med("loopback", n, rival)) for n in ns]
        known = [(n, a, b) for n, a, b in pairs if a is not None and b is not None]
        if known:
            hold = all(a < b for _, a, b in known)
            out.append("  [%s] tavelo-scan faster than %s at every N on loopback: %s" % (
                "hold" if hold else "MISS", rival,
                ", ".join("%s %.3f vs %.3f s" % ("{:,}".format(n), a, b) for n, a, b in known)))
    seq = [(n, med("loopback", n, "scan-seq"), med("loopback", n, "poplib")) for n in ns]
    seq = [(n, a, b) for n, a, b in seq if a is not None and b is not None]
    if seq:
        out.append("  [info] tavelo-scan --sequential against poplib on loopback: %s" % ", ".join(
            "%s %.2fx" % ("{:,}".format(n), a / b) for n, a, b in seq))
    for n in sorted({k[1] for k in summary if k[0] == "delay"}):
        parts = []
        for c in ("tavelo-scan", "scan-seq", "window", "poplib", "mpop", "floor"):
            t = med("delay", n, c)
            if t is not None:
                parts.append("%s %.2f s (%.2f round trips a message)" % (c, t, t / n / (2 * DELAY_MS / 1000.0)))
        if parts:
            out.append("  [info] 20 ms link, N=%s: %s" % ("{:,}".format(n), "; ".join(parts)))
        floor = med("delay", n, "floor")
        for c in ("tavelo-scan", "window"):
            t = med("delay", n, c)
            if t is not None and floor:
                out.append("  [%s] %s within 2x of the floor over the 20 ms link at %s: %.2fx (%.3f vs %.3f s)" % (
                    "hold" if t / floor <= 2 else "MISS", c, "{:,}".format(n), t / floor, t, floor))
    for n in (10000, 50000):
        w, s = med("loopback", n, "window"), med("loopback", n, "tavelo-scan")
        if w is not None and s is not None:
            out.append("  [%s] window within 1.3x of tavelo-scan at %s (loopback, default settings, log on): "
                       "%.2fx (%.2f vs %.2f s)" % ("hold" if w / s <= 1.3 else "MISS", "{:,}".format(n), w / s, w, s))
    if ns and ns[0] < ns[-1]:
        lo, hi = ns[0], ns[-1]
        for c, bound in (("tavelo-scan", 1.3), ("window", 1.2)):
            a, b = med("loopback", lo, c), med("loopback", hi, c)
            if a is not None and b is not None:
                v = (b / hi) / (a / lo)
                out.append("  [%s] %s per-message cost at %s within %.1fx of that at %s: %.2fx" % (
                    "hold" if v <= bound else "MISS", c, "{:,}".format(hi), bound, "{:,}".format(lo), v))
    for c, bound in (("window", 300), ("tavelo-scan", 100)):
        m = summary.get(("loopback", 50000, c), {}).get("peak_mb")
        if m is not None:
            out.append("  [%s] %s peak memory at most %d MB at 50,000: %.0f MB" % (
                "hold" if m <= bound else "MISS", c, bound, m))
    return out


def write_csv(path, rows):
    fields = []
    for r in rows:
        fields += [k for k in r if k not in fields]
    with open(path, "w", newline="") as f:
        w = csv.DictWriter(f, fieldnames=fields)
        w.writeheader()
        w.writerows(rows)


def chart(args, summary, links):
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        log("no matplotlib: no chart (bench/deps.sh installs python3-matplotlib)")
        return
    colors = {"tavelo-scan": "tab:blue", "scan-seq": "tab:cyan", "window": "tab:orange", "window-seq": "tab:brown",
              "poplib": "tab:green", "mpop": "tab:red", "floor": "tab:gray"}
    fig, ax = plt.subplots(figsize=(9, 6), dpi=110)
    for link in links:
        for c in CONTENDERS + OPTIONAL:
            pts = sorted((k[1], v) for k, v in summary.items() if k[0] == link and k[2] == c and "median" in v)
            if not pts:
                continue
            xs = [n for n, _ in pts]
            ys = [v["median"] for _, v in pts]
            err = [[v["median"] - v["min"] for _, v in pts], [v["max"] - v["median"] for _, v in pts]]
            ax.errorbar(xs, ys, yerr=err, color=colors[c], marker="o" if link == "loopback" else "s",
                        linestyle="-" if link == "loopback" else "--", capsize=3,
                        label="%s (%s)" % (c, "loopback" if link == "loopback" else "20 ms link"))
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlabel("messages in the mailbox (N)")
    ax.set_ylabel("seconds, start to exit (median, min-max)")
    ax.set_title("Header scan: TOP n %d for every message" % LINES)
    ax.grid(True, which="both", alpha=0.3)
    ax.legend(fontsize=8)
    fig.tight_layout()
    fig.savefig(os.path.join(args.out, "seconds.png"))
    plt.close(fig)


# ---------------------------------------------------------------------------------------------------


def describe(args):
    def out(cmd):
        try:
            return subprocess.run(cmd, capture_output=True, text=True, cwd=ROOT).stdout.strip()
        except OSError:
            return ""
    head = out(["git", "rev-parse", "--short", "HEAD"])
    dirty = out(["git", "status", "--porcelain", "--untracked-files=no"])
    cpu = ""
    try:
        with open("/proc/cpuinfo") as f:
            cpu = next((l.split(":", 1)[1].strip() for l in f if l.startswith("model name")), "")
    except OSError:
        pass
    qt = out(["dpkg-query", "-W", "-f=${Version}", "qt6-base-dev"])
    return {
        "date": datetime.datetime.now().strftime("%Y-%m-%d %H:%M"),
        "git": "%s%s" % (head or "?", " + uncommitted changes" if dirty else ""),
        "cpu": "%d cores %s" % (os.cpu_count() or 0, cpu),
        "versions": "Qt %s, Dovecot %s, mpop %s, Python %s" % (
            qt, out(["dovecot", "--version"]).split()[0] if out(["dovecot", "--version"]) else "?",
            (out(["mpop", "--version"]).splitlines() or ["?"])[0].split()[-1], platform.python_version()),
        "args": vars(args),
    }


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build", required=True, help="the build directory (its bin/ holds the programs)")
    ap.add_argument("--quick", action="store_true",
                    help="1,000 and 10,000 only, 2 rounds, the delay line at 1,000 only")
    ap.add_argument("--sizes", default="1000,10000,50000")
    ap.add_argument("--delay-sizes", default="1000,10000")
    ap.add_argument("--rounds", type=int, default=5, help="rounds at up to 10,000 on loopback")
    ap.add_argument("--rounds-large", type=int, default=3, help="rounds above 10,000 on loopback")
    ap.add_argument("--rounds-delay", type=int, default=3, help="rounds at 1,000 over the delay line")
    ap.add_argument("--rounds-delay-large", type=int, default=1, help="rounds above 1,000 over the delay line")
    ap.add_argument("--budget", type=float, default=900, help="seconds a cell (link and size) may take, at least one round (900)")
    ap.add_argument("--only", help="contenders to run (comma-separated)")
    ap.add_argument("--out", help="results directory (default <build>/bench-results)")
    ap.add_argument("--cache", help="mailbox cache (default <build>/bench-cache)")
    args = ap.parse_args()
    if args.quick:
        args.sizes, args.delay_sizes = "1000,10000", "1000"
        args.rounds = args.rounds_large = args.rounds_delay = args.rounds_delay_large = 2
    settle_dirs(args, "bench-results")
    sizes = sorted(int(s) for s in args.sizes.split(",") if s)
    delay_sizes = sorted(int(s) for s in args.delay_sizes.split(",") if s)
    contenders = args.only.split(",") if args.only else CONTENDERS
    for c in contenders:
        if c not in CONTENDERS + OPTIONAL:
            sys.exit("run.py: unknown contender %r (one of %s)" % (c, ", ".join(CONTENDERS + OPTIONAL)))
    for prog in ("tavelo-scan", "tavelo-window-bench"):
        if not os.access(os.path.join(args.build, "bin", prog), os.X_OK):
            sys.exit("run.py: %s/bin/%s is missing: build it first (bench/run.sh does)" % (args.build, prog))
    if os.path.isdir(args.out):
        shutil.rmtree(args.out)
    os.makedirs(args.out)

    all_sizes = sorted(set(sizes) | set(delay_sizes))
    owner = "%d:%d" % benchserver.mail_owner()
    subprocess.run([sys.executable, os.path.join(HERE, "genbench.py"), "--cache", args.cache, "--sizes",
                    ",".join(map(str, all_sizes)), "--owner", owner], check=True)

    # What is measured: the tree as it is now, before the runs (others may change it meanwhile).
    meta = describe(args)
    # A stopped run still stops its servers (the finally below).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("run.py: stopped"))
    bench = Bench(args)
    state = os.path.join(args.out, "server")
    runs = []
    proxy = server = None
    started = time.time()
    try:
        info, server = benchserver.start(state, args.cache, all_sizes)
        port = info["port"]
        log("dovecot on 127.0.0.1:%d" % port)
        # Warm-up, not measured: Dovecot indexes each mailbox on first use, and the files come into
        # the page cache.
        for n in all_sizes:
            for c in ("floor", "tavelo-scan"):
                bench.run(c, "warmup", n, 0, port, 600)

        plan = [("loopback", n) for n in sizes] + [("delay", n) for n in delay_sizes]
        for link, n in plan:
            if link == "delay" and proxy is None:
                proxy, proxy_port = start_proxy(port)
                log("delay line on 127.0.0.1:%d -> %d (%d ms each way)" % (proxy_port, port, DELAY_MS))
            target = port if link == "loopback" else proxy_port
            if link == "loopback":
                rounds = args.rounds if n <= 10000 else args.rounds_large
                timeout = 120 + n * 0.02
            else:
                rounds = args.rounds_delay if n <= 1000 else args.rounds_delay_large
                timeout = 120 + n * 0.1
            cell_start = time.time()
            dropped = set()
            for rnd in range(1, rounds + 1):
                order = contenders[(rnd - 1) % len(contenders):] + contenders[:(rnd - 1) % len(contenders)]
                for c in order:
                    if c in dropped:
                        continue
                    r = bench.run(c, link, n, rnd, target, timeout)
                    runs.append(r)
                    if r.note == "timeout":
                        dropped.add(c)  # a contender that timed out once is not run again in this cell
                # Another round only when it would end within the cell's budget, judged by the
                # rounds so far.
                spent = time.time() - cell_start
                if rnd < rounds and spent + spent / rnd > args.budget:
                    log("  %s N=%d: %d of %d rounds, the next would pass the cell's budget of %.0f s" % (
                        link, n, rnd, rounds, args.budget))
                    break
    finally:
        stop_proxy(proxy)
        if server is not None:
            benchserver.stop_child(state, server)
        shutil.rmtree(bench.work, ignore_errors=True)
    meta["minutes"] = round((time.time() - started) / 60, 1)
    text = report(args, runs, meta)
    log("")
    log(text)
    log("written: %s/{table.txt,results.csv,ratios.csv,scaling.csv,samples.csv,seconds.png} (%.1f minutes)" % (
        args.out, meta["minutes"]))


if __name__ == "__main__":
    main()
