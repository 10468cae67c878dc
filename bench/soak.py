#!/usr/bin/env python3
"""Soak benchmark: the main window with three tabs re-checking for an hour, its memory sampled.

usage: soak.py --build DIR [--duration 3600] [--sizes 1000,5000,10000] [--recheck-every 3]
               [--deliver-every 30] [--sample-every 10] [--warmup 300] [--log-limit MB] [--cache DIR]
               [--out DIR]
       soak.py --report LOG [--warmup 300]

What a window left in the tray for weeks does, compressed: one tavelo-window-bench --soak (the
real main window, offscreen, default settings but the re-check interval, the dialogue log on) with
a tab on each mailbox m<size> of run.py's cache, the window's timer re-checking each idle mailbox
every --recheck-every seconds, and one new message delivered into each mailbox every
--deliver-every seconds (maildrop.py; all of them removed at the end, the cache is served in place).
The window prints its resident memory (VmRSS) every --sample-every seconds.

The report takes the samples after the first --warmup seconds (300; a third of a run shorter than
15 minutes: the first passes): minimum, median and maximum resident memory, and whether the spread
(maximum - minimum) / minimum stays within 10 % (the target). Each tab's dialogue log grows with
every re-check until it reaches its bound (LimiteDialogoMB, 16 MB), which takes longest on the
smallest mailbox; to tell that from a leak, the report adds the trend (least squares, MB an hour),
the second half of the run, and the samples from the time every log had reached its bound;
--log-limit MB (LimiteDialogoMB) makes the logs reach it within the warm-up, for a check of leaks alone.
--report LOG reports on the output of an earlier run and runs nothing.

Every line the window prints goes to the output as it comes; the report goes there too and, with
the samples, into --out (default <build>/soak-results): table.txt, samples.csv.
"""
import argparse
import os
import re
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import benchserver  # noqa: E402
import maildrop  # noqa: E402
import run  # noqa: E402  (the speed benchmark's directories, environment and results files)

SAMPLE = re.compile(r"^soak: ([\d.]+) s, rss (-?\d+) kB")


def log(text):
    print(text, flush=True)


def parse_sample(line):
    """(seconds, VmRSS kB, every log at its bound or None when the line does not say) of a sample line."""
    m = SAMPLE.match(line)
    if not m:
        return None
    tabs = line.split(" | ")[1:]
    said = [t for t in tabs if "log at its bound" in t or "log below its bound" in t]
    full = all("log at its bound" in t for t in tabs) if tabs and len(said) == len(tabs) else None
    return float(m.group(1)), int(m.group(2)), full


def spread_line(what, values):
    lo, hi = min(values), max(values)
    return "  %s: %d samples, min %.1f MB, median %.1f MB, max %.1f MB, first %.1f MB, last %.1f MB; " \
           "(max - min) / min = %.1f %%" % (what, len(values), lo / 1024, statistics.median(values) / 1024,
                                            hi / 1024, values[0] / 1024, values[-1] / 1024, (hi - lo) / lo * 100)


def slope_mb_per_hour(points):
    """The least-squares slope of resident memory over time, MB an hour."""
    if len(points) < 2:
        return 0.0
    mt = statistics.fmean(t for t, _ in points)
    mk = statistics.fmean(kb for _, kb in points)
    den = sum((t - mt) ** 2 for t, _ in points)
    return 0.0 if den == 0 else sum((t - mt) * (kb - mk) for t, kb in points) / den * 3600 / 1024


def report(samples, warmup, header):
    """The report's text and whether the target held: after the warm-up, the spread of the
    resident memory within 10 % of its minimum. Beside it, for telling the logs filling up to their
    bound from a leak: the trend, the second half of the run, and the samples once every tab's log
    had reached its bound."""
    lines = [header, "  %d samples, %d after the first %.0f s" % (
        len(samples), sum(1 for t, _, _ in samples if t >= warmup), warmup)]
    kept = [(t, kb) for t, kb, _ in samples if t >= warmup]
    if not kept:
        lines.append("  no sample after the warm-up: run longer than --warmup")
        return "\n".join(lines) + "\n", False
    values = [kb for _, kb in kept]
    spread = (max(values) - min(values)) / min(values)
    lines.append(spread_line("resident memory after %.0f s" % warmup, values))
    lines.append("  trend after %.0f s: %+.1f MB an hour (least squares)" % (warmup, slope_mb_per_hour(kept)))
    half = samples[-1][0] / 2
    second = [kb for t, kb, _ in samples if t >= max(half, warmup)]
    if len(second) > 1:
        lines.append(spread_line("second half (after %.0f s)" % max(half, warmup), second))
    full_at = next((t for t, _, full in samples if full), None)
    if full_at is not None and full_at <= warmup:
        lines.append("  every log had reached its bound at %.0f s, within the warm-up" % full_at)
    elif full_at is not None:
        bounded = [(t, kb) for t, kb, _ in samples if t >= full_at]
        lines.append(spread_line("once every log had reached its bound (%.0f s)" % full_at,
                                 [kb for _, kb in bounded]))
        lines.append("  trend since: %+.1f MB an hour" % slope_mb_per_hour(bounded))
    elif any(full is not None for _, _, full in samples):
        lines.append("  a log never reached its bound")
    lines.append("  [%s] stays within 10 %% after %.0f s: %.1f %%" % ("hold" if spread <= 0.10 else "MISS", warmup,
                                                                  spread * 100))
    return "\n".join(lines) + "\n", spread <= 0.10


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build", help="the build directory (its bin/ holds tavelo-window-bench)")
    ap.add_argument("--duration", type=int, default=3600, help="seconds the window runs (3600)")
    ap.add_argument("--sizes", default="1000,5000,10000", help="the mailboxes, one tab each")
    ap.add_argument("--recheck-every", type=int, default=3, help="the window's re-check interval, seconds")
    ap.add_argument("--deliver-every", type=float, default=30, help="seconds between deliveries to each mailbox")
    ap.add_argument("--sample-every", type=int, default=10, help="seconds between memory samples")
    ap.add_argument("--warmup", type=float,
                    help="seconds left out of the figures (300; a third of a run shorter than 15 minutes)")
    ap.add_argument("--log-limit", type=int, help="each tab's log bound in MB (LimiteDialogoMB; default 16)")
    ap.add_argument("--cache", help="mailbox cache (default <build>/bench-cache, as run.py)")
    ap.add_argument("--out", help="results directory (default <build>/soak-results)")
    ap.add_argument("--report", metavar="LOG", help="only report on the output of an earlier run (its log)")
    args = ap.parse_args()
    if args.report:
        with open(args.report, encoding="utf-8", errors="replace") as f:
            samples = [x for x in (parse_sample(line.rstrip("\n")) for line in f) if x]
        duration = samples[-1][0] if samples else 0
        warmup = args.warmup if args.warmup is not None else 300 if duration >= 900 else duration / 3
        text, ok = report(samples, warmup, "Soak benchmark: the samples of " + os.path.abspath(args.report))
        log(text)
        sys.exit(0 if ok else 1)
    if args.warmup is None:
        args.warmup = 300 if args.duration >= 900 else args.duration / 3
    if not args.build:
        sys.exit("soak.py: --build DIR is needed")
    run.settle_dirs(args, "soak-results")
    driver = os.path.join(args.build, "bin", "tavelo-window-bench")
    if not os.access(driver, os.X_OK):
        sys.exit("soak.py: %s is missing: build it first" % driver)
    sizes = [int(s) for s in args.sizes.split(",") if s]
    os.makedirs(args.out, exist_ok=True)
    owner = "%d:%d" % benchserver.mail_owner()
    subprocess.run([sys.executable, os.path.join(HERE, "genbench.py"), "--cache", args.cache, "--sizes",
                    ",".join(map(str, sizes)), "--owner", owner], check=True)

    signal.signal(signal.SIGTERM, lambda *_: sys.exit("soak.py: stopped"))
    work = tempfile.mkdtemp(prefix="tavelo-soak-")
    os.chmod(work, 0o700)
    record = os.path.join(work, "delivered")
    state = os.path.join(args.out, "server")
    server = proc = None
    samples = []
    stop = threading.Event()
    delivered = [0]

    def deliveries():
        while not stop.wait(args.deliver_every):
            for n in sizes:
                maildrop.deliver(os.path.join(args.cache, "m%d" % n, "Maildir"), record)
            delivered[0] += 1

    started = time.strftime("%Y-%m-%d %H:%M")
    try:
        info, server = benchserver.start(state, args.cache, sizes)
        log("soak.py: dovecot on 127.0.0.1:%d; mailboxes %s; %d s, re-check every %d s, one message "
            "each every %g s, memory every %d s" % (info["port"], ", ".join("m%d" % n for n in sizes),
                                                     args.duration, args.recheck_every, args.deliver_every,
                                                     args.sample_every))
        env = run.program_env(work, ",".join("bench-%d" % n for n in sizes))
        cmd = [driver, "--host", "127.0.0.1", "--port", str(info["port"]), "--soak", str(args.duration), "--users",
               ",".join("m%d" % n for n in sizes), "--recheck-every", str(args.recheck_every), "--sample-every",
               str(args.sample_every)] + (["--log-limit", str(args.log_limit)] if args.log_limit else [])
        proc = subprocess.Popen(cmd, env=env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        feeder = threading.Thread(target=deliveries, daemon=True)
        feeder.start()
        for raw in proc.stderr:
            line = raw.decode("utf-8", "replace").rstrip("\n")
            log(line)
            sample = parse_sample(line)
            if sample:
                samples.append(sample)
        rc = proc.wait()
        stop.set()
        feeder.join()
    finally:
        stop.set()
        if proc is not None and proc.poll() is None:
            proc.terminate()
            proc.wait()
        removed = maildrop.remove_recorded(record)
        if server is not None:
            benchserver.stop_child(state, server)
        try:
            os.rmdir(work)
        except OSError:
            pass
    log("soak.py: %d messages delivered into each mailbox, %d removed in all" % (delivered[0], removed))

    header = "Soak benchmark, %s: the main window, tabs on %s, re-check every %d s, one message each every " \
             "%g s; %d s; log bound %d MB; driver exit %d" % (
                 started, ", ".join("m%d" % n for n in sizes), args.recheck_every, args.deliver_every, args.duration,
                 args.log_limit or 16, rc)
    text, ok = report(samples, args.warmup, header)
    log("")
    log(text)
    run.write_results(args.out, text, ["seconds", "rss_kb", "logs_at_bound"],
                      ((t, kb, "" if full is None else int(full)) for t, kb, full in samples))
    sys.exit(0 if ok and rc == 0 else 1)

if __name__ == "__main__":
    main()
