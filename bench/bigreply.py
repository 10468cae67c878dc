#!/usr/bin/env python3
"""Big-reply memory benchmark: the peak memory of tavelo-scan when a header reply holds a huge line.

usage: bigreply.py [--scan PATH] [--only NAME,...] [--sizes 10,30,60] [--size 30] [--lines 20]
                   [--no-pipelining] [--timeout 120]

Starts a small POP3 server of its own on 127.0.0.1 (a free port, a thread of this process) that
serves a generated mailbox from memory, and runs tavelo-scan against it under GNU time
(/usr/bin/time -f %M: the peak resident set size), once for every shape of mailbox:

  baseline     3 small messages: what the scanner takes anyway
  x-big        1 message whose header holds an "X-Big:" line of S bytes (one per --sizes)
  subject      the same with the big line in "Subject:" (one per --sizes)
  four-x-big   4 messages, each with an "X-Big:" line of S bytes (--size): whether the memory
               grows from one big message to the next
  body-line    1 message whose first body line is S bytes (--size): TOP n 20 brings it
  x-big-seq    x-big at the largest of --sizes with --sequential (one TOP at a time)

S is the length of the big line without its CR LF, in MB of 2^20 bytes, like the peak. The baseline
always runs: every other row shows its peak minus the baseline's, and that difference over S
(for four-x-big, over the S of one of its lines).

A row counts as failed when tavelo-scan does not exit 0, or does not print one line per message with
the right number and size, or (small subjects only) the subject is not the one sent: a parser that
lost its place after the big line. A big subject that arrives shorter or longer is noted, not failed.

The server answers CAPA (with PIPELINING unless --no-pipelining), USER, PASS, STAT, LIST, UIDL,
TOP, NOOP and QUIT. Replies are byte-stuffed and CR LF framed; a TOP reply is written as it goes,
the big line from one 1 MB block of repeated text, so the server never holds a copy of it.
"""
import argparse
import os
import shutil
import signal
import socket
import socketserver
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from run import timed  # noqa: E402  (the same GNU time wrapper as the speed benchmark)

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

HOST = "127.0.0.1"
USER, PASSWORD = "bench", "bench-big"
MB = 1024 * 1024
CRLF = b"\r\n"

# The filler of a big line: words and spaces, printable ASCII. BLOCK is a whole number of
# patterns, so that blocks sent one after the other continue the pattern.
PATTERN = b"lorem ipsum dolor sit amet consectetur adipiscing elit sed do eiusmod tempor "
BLOCK = PATTERN * (MB // len(PATTERN))
BLOCK_VIEW = memoryview(BLOCK)
BIG_END = b"END"  # a big line ends in a word, never in a space a parser might trim

SHAPES = ["baseline", "x-big", "subject", "four-x-big", "body-line", "x-big-seq"]


def log(text):
    print(text, flush=True)


# ---------------------------------------------------------------------------------------------------
# The mailbox


class Line:
    """head + `fill` bytes of PATTERN + tail, without its CR LF."""

    __slots__ = ("head", "fill", "tail")

    def __init__(self, head, fill=0, tail=b""):
        self.head, self.fill, self.tail = head, fill, tail

    def __len__(self):
        return len(self.head) + self.fill + len(self.tail)

    def first_byte(self):
        if self.head:
            return self.head[:1]
        return PATTERN[:1] if self.fill else self.tail[:1]

    def text(self):
        """The whole line (for checking small lines only)."""
        return self.head + (PATTERN * (self.fill // len(PATTERN) + 1))[:self.fill] + self.tail


def big_line(head, size):
    """A line of `size` bytes that starts with `head`."""
    fill = size - len(head) - len(BIG_END)
    if fill < 0:
        raise ValueError("a big line of %d bytes is too short" % size)
    return Line(head, fill, BIG_END)


class Message:
    def __init__(self, headers, body, subject):
        self.headers, self.body = headers, body
        self.subject = subject  # the Line after "Subject: ", or the Line of the whole big subject
        # Octets as stored: every line with its CR LF, the blank line between header and body.
        self.size = sum(len(l) + 2 for l in headers) + 2 + sum(len(l) + 2 for l in body)


def message(num, shape, big_header=None, big_subject=None, big_body=None):
    subject = big_subject or Line(b"Subject: %s message %d of the big-reply benchmark" % (shape.encode(), num))
    headers = [
        Line(b"Return-Path: <sender%d@example.org>" % num),
        Line(b"Received: from mail.example.org (mail.example.org [192.0.2.10]) by pop.example.net"),
        Line(b"\twith ESMTPS id b%05d; Mon, 3 Jun 2024 10:%02d:00 +0200" % (num, num % 60)),
        Line(b"From: Sender %d <sender%d@example.org>" % (num, num)),
        Line(b"To: Reader <reader@example.net>"),
        Line(b"Date: Mon, 3 Jun 2024 10:%02d:00 +0200" % (num % 60)),
    ]
    if big_header:
        headers.append(big_header)  # before Subject: the parser has to find its way past it
    headers += [
        subject,
        Line(b"Message-ID: <%s.%d@example.org>" % (shape.encode(), num)),
        Line(b"MIME-Version: 1.0"),
        Line(b"Content-Type: text/plain; charset=us-ascii"),
    ]
    body = [big_body] if big_body else []
    for i in range(1, 31):
        if i == 3:
            body.append(Line(b".a line that starts with a dot"))
        elif i == 5:
            body.append(Line(b"."))  # alone, it would end the reply if it were not stuffed
        elif i == 7:
            body.append(Line(b""))
        else:
            body.append(Line(b"Body line %d of message %d." % (i, num)))
    return Message(headers, body, subject)


def mailbox(shape, size):
    """The messages of a shape; `size` is the big line's length in bytes."""
    if shape == "baseline":
        return [message(n, shape) for n in (1, 2, 3)]
    if shape in ("x-big", "x-big-seq"):
        return [message(1, shape, big_header=big_line(b"X-Big: ", size))]
    if shape == "subject":
        return [message(1, shape, big_subject=big_line(b"Subject: Big ", size))]
    if shape == "four-x-big":
        return [message(n, shape, big_header=big_line(b"X-Big: ", size)) for n in (1, 2, 3, 4)]
    if shape == "body-line":
        return [message(1, shape, big_body=big_line(b"", size))]
    raise ValueError(shape)


# ---------------------------------------------------------------------------------------------------
# The server


class Output:
    """Small writes gathered into one send; the big fill sent from BLOCK as it is."""

    def __init__(self, sock):
        self.sock = sock
        self.buf = bytearray()

    def write(self, data):
        self.buf += data
        if len(self.buf) >= 64 * 1024:
            self.flush()

    def fill(self, n):
        if n > 4096:
            self.flush()
        while n > 0:
            k = min(n, len(BLOCK))
            if n > 4096:
                self.sock.sendall(BLOCK_VIEW[:k])
            else:
                self.buf += BLOCK_VIEW[:k]
            n -= k

    def line(self, line):
        if line.first_byte() == b".":
            self.buf += b"."  # byte-stuffing
        self.write(line.head)
        self.fill(line.fill)
        self.write(line.tail + CRLF)

    def flush(self):
        if self.buf:
            self.sock.sendall(self.buf)
            self.buf.clear()


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        sock = self.request
        sock.settimeout(self.server.idle_timeout)
        out = Output(sock)
        reader = sock.makefile("rb")
        messages = self.server.mailbox  # the mailbox of this session, whatever the next run serves
        user, authorized = None, False
        try:
            out.write(b"+OK bigreply POP3 ready" + CRLF)
            out.flush()
            while True:
                raw = reader.readline(512)
                if not raw:
                    return
                if not raw.endswith(b"\n"):
                    out.write(b"-ERR line too long" + CRLF)
                    out.flush()
                    return
                words = raw.strip().split()
                verb = words[0].upper() if words else b""
                args = words[1:]
                if verb == b"QUIT":
                    out.write(b"+OK bye" + CRLF)
                    out.flush()
                    return
                if verb == b"CAPA":
                    caps = [b"USER", b"TOP", b"UIDL"] + ([b"PIPELINING"] if self.server.pipelining else [])
                    out.write(b"+OK capability list follows" + CRLF + b"".join(c + CRLF for c in caps) + b"." + CRLF)
                elif verb == b"NOOP":
                    out.write(b"+OK" + CRLF)
                elif not authorized:
                    if verb == b"USER" and len(args) == 1:
                        user = args[0]
                        out.write(b"+OK send PASS" + CRLF)
                    elif verb == b"PASS" and user is not None:
                        given = raw.rstrip(b"\r\n")[5:]
                        authorized = user.decode("latin-1") == USER and given.decode("latin-1") == PASSWORD
                        out.write((b"+OK logged in" if authorized else b"-ERR [AUTH] wrong user or password") + CRLF)
                        user = None
                    else:
                        out.write(b"-ERR not logged in" + CRLF)
                else:
                    self.transaction(out, messages, verb, args)
                out.flush()
        except (OSError, socket.timeout):
            return
        finally:
            reader.close()

    @staticmethod
    def number(args, messages, count):
        """The message named by args[0], or None; `count` is how many arguments are expected."""
        if len(args) != count:
            return None
        try:
            n = int(args[0])
        except ValueError:
            return None
        return n if 1 <= n <= len(messages) else None

    def transaction(self, out, messages, verb, args):
        if verb == b"STAT" and not args:
            out.write(b"+OK %d %d" % (len(messages), sum(m.size for m in messages)) + CRLF)
        elif verb in (b"LIST", b"UIDL"):
            value = (lambda n, m: b"%d" % m.size) if verb == b"LIST" else (lambda n, m: b"big-%d" % n)
            if args:
                n = self.number(args, messages, 1)
                if n is None:
                    out.write(b"-ERR no such message" + CRLF)
                else:
                    out.write(b"+OK %d %s" % (n, value(n, messages[n - 1])) + CRLF)
                return
            out.write(b"+OK %d messages" % len(messages) + CRLF)
            for n, m in enumerate(messages, 1):
                out.write(b"%d %s" % (n, value(n, m)) + CRLF)
            out.write(b"." + CRLF)
        elif verb == b"TOP":
            try:
                lines = int(args[1]) if len(args) == 2 else -1
            except ValueError:
                lines = -1
            if lines < 0:
                out.write(b"-ERR usage: TOP message lines" + CRLF)
                return
            n = self.number(args, messages, 2)
            if n is None:
                out.write(b"-ERR no such message" + CRLF)
                return
            m = messages[n - 1]
            out.write(b"+OK top of message follows" + CRLF)
            for line in m.headers:
                out.line(line)
            out.write(CRLF)
            for line in m.body[:lines]:
                out.line(line)
            out.write(b"." + CRLF)
        else:
            out.write(b"-ERR unknown command" + CRLF)


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, pipelining, idle_timeout):
        super().__init__((HOST, 0), Handler)
        self.pipelining = pipelining
        self.idle_timeout = idle_timeout
        self.mailbox = []

    @property
    def port(self):
        return self.server_address[1]


# ---------------------------------------------------------------------------------------------------
# One run


def check(messages, out_path):
    """(problem or '', note or '') about what tavelo-scan printed."""
    with open(out_path, "rb") as f:
        out = f.read()
    rows = out.split(b"\n")
    if rows and rows[-1] == b"":
        rows.pop()
    if len(rows) != len(messages):
        return "%d rows of %d" % (len(rows), len(messages)), ""
    notes = []
    for n, (row, m) in enumerate(zip(rows, messages), 1):
        fields = row.split(b"\t")
        if len(fields) != 5:
            return "row %d has %d fields, not 5" % (n, len(fields)), ""
        if fields[0] != b"%d" % n or fields[1] != b"%d" % m.size:
            return "row %d reads %s %s, not %d %d" % (n, fields[0][:20].decode("latin-1"),
                                                     fields[1][:20].decode("latin-1"), n, m.size), ""
        subject = m.subject
        expected_len = len(subject) - len(b"Subject: ")
        if subject.fill:
            if len(fields[4]) != expected_len:
                notes.append("subject %d: %d of %d bytes" % (n, len(fields[4]), expected_len))
        elif fields[4] != subject.text()[len(b"Subject: "):]:
            return "row %d: subject %r" % (n, fields[4][:60].decode("utf-8", "replace")), ""
    return "", "; ".join(notes)


class Row:
    def __init__(self, shape, size_mb, sequential=False):
        self.shape, self.size_mb, self.sequential = shape, size_mb, sequential
        self.peak_kb = None
        self.rc = None
        self.seconds = None
        self.problem = ""
        self.note = ""


def run_row(row, args, server, work, env):
    size = int(round(row.size_mb * MB)) if row.size_mb else 0
    messages = mailbox(row.shape, size)
    server.mailbox = messages
    if args.window:
        # The real main window (its dialogue log on); it exits 1 when the list is incomplete.
        cmd = [args.window, "--host", HOST, "--port", str(server.port), "--user", USER]
        if row.sequential:
            cmd.append("--sequential")
    else:
        cmd = [args.scan, "--host", HOST, "--port", str(server.port), "--user", USER, "--lines", str(args.lines)]
        if row.sequential:
            cmd.append("--sequential")
    stem = os.path.join(work, "%s-%s" % (row.shape, row.size_mb or 0))
    out_path, err_path = stem + ".out", stem + ".err"
    row.seconds, row.peak_kb, row.rc = timed(cmd, env, out_path, err_path, args.timeout)
    if row.rc is None:
        row.problem = "timeout after %d s" % args.timeout
    elif row.rc != 0:
        with open(err_path, "rb") as f:
            err = f.read().decode("utf-8", "replace").strip()
        row.problem = "exit %d%s" % (row.rc, ": " + err.splitlines()[-1][:120] if err else "")
    elif not args.window:
        row.problem, row.note = check(messages, out_path)
    server.mailbox = []
    for path in (out_path, err_path, err_path + ".maxrss"):
        if os.path.exists(path):
            os.remove(path)


# ---------------------------------------------------------------------------------------------------
# The table


def table(rows, baseline_kb):
    head = "%-14s %6s %9s %11s %8s %5s %8s  %s" % ("shape", "S MB", "peak MB", "- baseline", "/ S", "exit",
                                                  "seconds", "result")
    lines = [head, "-" * len(head)]
    for r in rows:
        name = r.shape + (" (4)" if r.shape == "four-x-big" else "")
        peak = r.peak_kb / 1024.0 if r.peak_kb else None
        extra = (peak - baseline_kb / 1024.0) if peak is not None and baseline_kb and r.shape != "baseline" else None
        ratio = extra / r.size_mb if extra is not None and r.size_mb else None
        result = ("FAILED: " + r.problem) if r.problem else "ok"
        if r.note:
            result += " (" + r.note + ")"
        lines.append("%-14s %6s %9s %11s %8s %5s %8s  %s" % (
            name, "%g" % r.size_mb if r.size_mb else "-", "%.1f" % peak if peak is not None else "-",
            "%.1f" % extra if extra is not None else "-", "%.2f" % ratio if ratio is not None else "-",
            "-" if r.rc is None else str(r.rc), "%.2f" % r.seconds if r.seconds is not None else "-", result))
    return "\n".join(lines)


def default_scan():
    for build in ("build-bench", "build"):
        path = os.path.join(ROOT, build, "bin", "tavelo-scan")
        if os.access(path, os.X_OK):
            return path
    return os.path.join(ROOT, "build-bench", "bin", "tavelo-scan")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--scan", default=default_scan(),
                    help="the tavelo-scan to measure (default build-bench/bin/tavelo-scan, else build/bin/tavelo-scan)")
    ap.add_argument("--window", help="measure this tavelo-window-bench (the real main window, offscreen) instead")
    ap.add_argument("--only", help="shapes to run, comma-separated (%s); the baseline always runs" % ", ".join(SHAPES))
    ap.add_argument("--sizes", default="10,30,60", help="S in MB for x-big and subject (10,30,60); x-big-seq takes the largest")
    ap.add_argument("--size", type=float, default=30, help="S in MB for four-x-big and body-line (30)")
    ap.add_argument("--lines", type=int, default=20, help="body lines tavelo-scan asks for with each TOP (20)")
    ap.add_argument("--no-pipelining", action="store_true", help="the server does not offer PIPELINING in CAPA")
    ap.add_argument("--timeout", type=float, default=120, help="seconds a run may take before it is killed (120)")
    args = ap.parse_args()

    shapes = args.only.split(",") if args.only else SHAPES
    for s in shapes:
        if s not in SHAPES:
            sys.exit("bigreply.py: unknown shape %r (one of %s)" % (s, ", ".join(SHAPES)))
    try:
        sizes = [float(s) for s in args.sizes.split(",") if s]
    except ValueError:
        sys.exit("bigreply.py: --sizes takes numbers of MB separated by commas")
    if not sizes or min(sizes) <= 0 or args.size <= 0:
        sys.exit("bigreply.py: sizes must be positive")
    args.scan = os.path.abspath(args.scan)
    if not os.access(args.scan, os.X_OK):
        sys.exit("bigreply.py: %s is missing: build it first (bench/bigreply.sh does)" % args.scan)
    if not os.access("/usr/bin/time", os.X_OK):
        sys.exit("bigreply.py: GNU time (/usr/bin/time) is missing: bench/deps.sh installs it")

    rows = [Row("baseline", None)]
    for shape in ("x-big", "subject"):
        if shape in shapes:
            rows += [Row(shape, s) for s in sizes]
    for shape in ("four-x-big", "body-line"):
        if shape in shapes:
            rows.append(Row(shape, args.size))
    if "x-big-seq" in shapes:
        rows.append(Row("x-big-seq", max(sizes), sequential=True))

    work = tempfile.mkdtemp(prefix="tavelo-bigreply-")
    env = dict(os.environ)
    env.setdefault("QT_QPA_PLATFORM", "offscreen")
    env.update({"TAVELO_PASSWORD": PASSWORD, "LC_ALL": "C.UTF-8", "XDG_RUNTIME_DIR": work})
    server = Server(pipelining=not args.no_pipelining, idle_timeout=args.timeout)
    thread = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.2}, daemon=True)
    thread.start()
    # A stopped run still stops its server (the finally below).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("bigreply.py: stopped"))
    try:
        log("tavelo-scan: %s" % args.scan)
        log("server: 127.0.0.1:%d, CAPA %s PIPELINING; TOP n %d" % (
            server.port, "without" if args.no_pipelining else "with", args.lines))
        for r in rows:
            run_row(r, args, server, work, env)
            log("  %-10s %6s MB  %8.1f MB peak  %6.2f s  %s" % (
                r.shape, "%g" % r.size_mb if r.size_mb else "-", (r.peak_kb or 0) / 1024.0, r.seconds,
                "FAILED: " + r.problem if r.problem else "ok"))
    finally:
        server.shutdown()
        server.server_close()
        shutil.rmtree(work, ignore_errors=True)

    baseline_kb = rows[0].peak_kb if not rows[0].problem else None
    log("")
    log("Peak resident memory of tavelo-scan (GNU time %M; MB = 2^20 bytes). S: length of the big line.")
    log("- baseline: peak minus the baseline's; / S: that over S (four-x-big: over one line's S).")
    log(table(rows, baseline_kb))
    failed = [r for r in rows if r.problem]
    if failed:
        log("\n%d row(s) failed" % len(failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
