#!/usr/bin/env python3
"""Checks what tavelo-scan lists against an independent reading of the same POP3 servers.

usage: compare.py [--servers NAME,...] [--scan PATH] [--table FILE] [--full] [--no-tls]

The servers and their ports come from the table setup.sh writes (/srv/interop/servers.tsv).
For each server:

1. The independent reading: Python's poplib logs in on the clear-text port (sending UTF8 first
   where CAPA offers it, RFC 6856), STAT, LIST, then "TOP n 0" for every message. Each header is
   split into fields (RFC 5322, 2.2) and read:
   - From is the last field whose name ends in "From" (From, Resent-From, X-Original-From...),
     case-insensitively; Subject and Date likewise (the last field whose name ends in "Subject",
     "Date"). A field missing gives an empty column.
   - A field's bytes are UTF-8 where they are valid UTF-8 (RFC 6532), else Windows-1252.
   - Values are unfolded (RFC 5322, 2.2.3) and decoded by the email package (email.policy.default):
     the sender as its address header renders it, the subject with its encoded words decoded.
     The Date is shown as sent (leading blanks removed), not as the package re-formats it.
   - A plain reading is made beside it: unfolded, encoded words decoded (email.header, which also
     joins adjacent words of one charset), nothing else. Where the package renders a sender
     differently (drops the comment in "a@b (Name)", the brackets of "<a@b>", decodes an encoded
     word inside quotes...), a scan that agrees with the plain reading is listed as a rendering
     note, not as a disagreement.
2. tavelo-scan on the same port; its rows are compared column by column (size from LIST).
3. The wall time of tavelo-scan in clear text, over STLS and, where a server listens on 995 (the
   only port tavelo-scan takes for TLS from the first byte), over TLS there; poplib's time over the
   same ports is given for scale. The TLS scans must list the same rows as the clear one.

Normalisations before comparing (both sides):
- every column: runs of blanks and TABs become one blank, blanks at the ends go (folding leaves
  them, tavelo-scan prints TAB as a blank);
- sender: double quotes and backslashes are removed (tavelo shows "Ana Pérez" <a@x> as
  Ana Pérez <a@x>, and "a \\"b\\"" without the escapes).
"""
import argparse
import email.header
import email.policy
import hashlib
import os
import poplib
import re
import socket
import ssl
import subprocess
import sys
import time
from email.parser import BytesHeaderParser

HOST = "127.0.0.1"
DEFAULT_SCAN = "/tmp/interop-build/bin/tavelo-scan"
# poplib refuses lines over 2048 bytes; the mailbox has a longer header line on purpose.
poplib._MAXLINE = 1 << 20
COLUMNS = ("size", "from", "date", "subject")


# --- the independent reading --------------------------------------------------------------------

def decode_8bit(data):
    """A field's bytes as text: UTF-8 where valid, else Windows-1252 (all 256 bytes, as Qt maps them)."""
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError:
        return "".join(chr(b) if b in (0x81, 0x8D, 0x8F, 0x90, 0x9D) else bytes([b]).decode("cp1252")
                       for b in data)


FIELD_NAME = re.compile(rb"[\x21-\x39\x3b-\x7e]+")  # RFC 5322, 3.6.8: printable, no colon


def split_fields(lines):
    """The header part of a TOP reply as [name or None, raw value] pairs; None for a line that is
    not a field (an mbox "From " line): it ends the field before it, and its own folds go with it."""
    fields = []
    for line in lines:
        if not line:
            break  # the blank line that ends the header
        if line[:1] in (b" ", b"\t") and fields:
            fields[-1][1] += b"\r\n" + line
            continue
        name, colon, value = line.partition(b":")
        fields.append([name, value] if colon and FIELD_NAME.fullmatch(name) else [None, line])
    return fields


def last_field(fields, suffix):
    """The value of the last field whose name ends in suffix (case-insensitive), unfolded."""
    value = None
    for name, raw in fields:
        if name is not None and name.lower().endswith(suffix):
            value = raw
    if value is None:
        return None
    return decode_8bit(value).replace("\r\n", "").lstrip(" \t")


def package_rendering(field, value):
    """How the email package shows a value: From-like fields are read as an address header."""
    try:
        return str(email.policy.default.header_factory(field, value))
    except Exception as e:  # a value the package cannot take is a finding, not a crash
        return "<email package failed: %s>" % e


def plain_rendering(value):
    """Unfolded, encoded words decoded (adjacent words of one charset joined), nothing else."""
    try:
        return str(email.header.make_header(email.header.decode_header(value)))
    except Exception:
        return value


def read_header(lines):
    """Expected columns of one message: {column: (package rendering, plain reading)}; notes."""
    fields = split_fields(lines)
    row, notes = {}, []
    for column, suffix, field in (("from", b"from", "From"), ("subject", b"subject", "Subject")):
        value = last_field(fields, suffix)
        row[column] = ("", "") if value is None else (package_rendering(field, value), plain_rendering(value))
    date = last_field(fields, b"date")
    row["date"] = ("", "") if date is None else (date, date)
    # Shown as sent; the package would re-format it (kept to say how often it does).
    row["package date"] = "" if date is None else package_rendering("Date", date)
    # What the package's own parser would make of the header (it stops at a line that is no field).
    parsed = BytesHeaderParser(policy=email.policy.default).parsebytes(b"\r\n".join(lines) + b"\r\n")
    named = sum(1 for name, _ in fields if name is not None)
    if len(parsed.keys()) < named:
        first = next((raw for name, raw in fields if name is None), b"")
        notes.append("the email package's own parser ends the header at %r: it sees %d of %d fields"
                     % (first[:40].decode("latin-1"), len(parsed.keys()), named))
    msgid = last_field(fields, b"message-id") or ""
    m = re.search(r"<(\d+)\.([\w-]+)@interop\.example>", msgid)
    case = m.group(2) if m else "?"
    return case, row, notes


class Reading:
    """What poplib saw on one server: greeting, CAPA, and per message its case, size and columns."""

    def __init__(self):
        self.greeting, self.capa, self.utf8 = "", None, None
        self.messages = {}  # number -> (case, size, {column: (package, plain)}, notes)
        self.raw_tops = {}  # number -> header lines


def poplib_read(port, user, password, use_utf8=True, tls=None, fingerprint=None):
    """Logs in with poplib and reads every header with TOP n 0. tls: None, "stls" or "implicit"."""
    context = ssl.create_default_context()
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE  # a self-signed certificate, pinned below
    pop = (poplib.POP3_SSL(HOST, port, timeout=30, context=context) if tls == "implicit"
           else poplib.POP3(HOST, port, timeout=30))
    r = Reading()
    r.greeting = pop.getwelcome().decode("latin-1")
    try:
        r.capa = pop.capa()
    except poplib.error_proto:
        r.capa = None  # a server without CAPA
    if tls == "stls":
        pop.stls(context)
    if tls:
        der = pop.sock.getpeercert(binary_form=True)
        if fingerprint and hashlib.sha256(der).hexdigest().lower() != fingerprint.lower():
            raise RuntimeError("certificate on port %d is not the one in the table" % port)
    if use_utf8 and r.capa is not None and "UTF8" in r.capa:
        r.utf8 = pop.utf8().decode("latin-1")
    pop.user(user)
    pop.pass_(password)
    for entry in pop.list()[1]:
        num, size = entry.split()[:2]
        num, size = int(num), int(size)
        lines = pop.top(num, 0)[1]
        r.raw_tops[num] = lines
        case, row, notes = read_header(lines)
        r.messages[num] = (case, size, row, notes)
    pop.quit()
    return r


def pipelining_after_pass(port, user, password):
    """Sends USER, PASS and STAT in one write (RFC 2449, 6.6): is STAT answered?"""
    with socket.create_connection((HOST, port), timeout=5) as s:
        s.recv(512)
        s.sendall(("USER %s\r\nPASS %s\r\nSTAT\r\nQUIT\r\n" % (user, password)).encode())
        data, deadline = b"", time.monotonic() + 3
        while time.monotonic() < deadline:
            try:
                chunk = s.recv(4096)
            except socket.timeout:
                break
            if not chunk:
                break
            data += chunk
    replies = data.split(b"\r\n")
    return len([r for r in replies if r.startswith((b"+OK", b"-ERR"))]) >= 4


# --- tavelo-scan -------------------------------------------------------------------------------

def run_scan(scan, port, user, password, fingerprint=None, require_tls=False):
    """Runs tavelo-scan: (seconds, {number: [size, from, date, subject]}, stderr, exit code)."""
    cmd = [scan, "--host", HOST, "--port", str(port), "--user", user]
    if fingerprint:
        cmd += ["--trust-certificate", fingerprint]
    if require_tls:
        cmd.append("--require-tls")
    env = dict(os.environ, TAVELO_PASSWORD=password)
    start = time.monotonic()
    p = subprocess.run(cmd, env=env, capture_output=True, timeout=300)
    seconds = time.monotonic() - start
    rows = {}
    for line in p.stdout.decode("utf-8", "replace").splitlines():
        cols = line.split("\t")
        if len(cols) >= 5 and cols[0].isdigit():
            rows[int(cols[0])] = cols[1:5]
    return seconds, rows, p.stderr.decode("utf-8", "replace"), p.returncode


# --- comparing ---------------------------------------------------------------------------------

def norm(column, text):
    """The normalisations of the module's docstring (quotes first: they may leave blanks behind)."""
    if column == "from":
        text = text.replace('"', "").replace("\\", "")
    return re.sub(r"[ \t]+", " ", text).strip()


def clip(text, other, width):
    """text cut to width, around its first difference from other when that lies beyond the cut."""
    if width <= 0 or len(text) <= width:
        return text
    diff = next((i for i, (a, b) in enumerate(zip(text, other)) if a != b), min(len(text), len(other)))
    start = 0 if diff < width - 10 else diff - width // 2
    piece = text[start:start + width - 2]
    return ("…" if start else "") + piece + ("…" if start + width - 2 < len(text) else "")


def compare(reading, rows):
    """Disagreements [(num, case, column, expected, got)] and the places where the package's
    rendering is not the plain reading [(num, case, column, package, plain, which one tavelo shows)]."""
    diffs, renders = [], []
    for num in sorted(set(reading.messages) | set(rows)):
        if num not in reading.messages:
            diffs.append((num, "?", "row", "(none)", "listed"))
            continue
        case, size, expected, _ = reading.messages[num]
        if num not in rows:
            diffs.append((num, case, "row", "listed", "(missing)"))
            continue
        got = dict(zip(COLUMNS, rows[num]))
        if got["size"] != str(size):
            diffs.append((num, case, "size", str(size), got["size"]))
        for column in ("from", "date", "subject"):
            package, plain = expected[column]
            g = norm(column, got[column])
            agrees = "package" if g == norm(column, package) else "plain" if g == norm(column, plain) else "neither"
            if norm(column, package) != norm(column, plain):
                renders.append((num, case, column, package, plain, agrees))
            if agrees == "neither":
                shown = package if norm(column, package) == norm(column, plain) else \
                    "%s  [plain: %s]" % (package, plain)
                diffs.append((num, case, column, shown, got[column]))
    return diffs, renders


def print_table(rows, headings, width, extra=None, extra_heading=""):
    """rows of (num, case, column, a, b), a and b cut to width around their difference; extra: one
    more short column."""
    if not rows:
        return
    cells = [("#%d" % num, case, column, clip(a, b, width), clip(b, a, width)) for num, case, column, a, b in rows]
    if extra is not None:
        cells = [(c[0], c[1], c[2], e, c[3], c[4]) for c, e in zip(cells, extra)]
        headings = headings[:3] + (extra_heading,) + headings[3:]
    widths = [max(len(h), *(len(c[i]) for c in cells)) for i, h in enumerate(headings)]
    fmt = "  " + "  ".join("%%-%ds" % w for w in widths[:-1]) + "  %s"
    print(fmt % tuple(headings))
    for c in cells:
        print(fmt % c)


# --- per server --------------------------------------------------------------------------------

def server_report(name, ports, args):
    clear, stls, tls, fingerprint = ports
    print("=" * 100)
    print("%s   127.0.0.1  clear %s   STLS %s   TLS %s" % (name, clear, stls or "-", ",".join(map(str, tls)) or "-"))
    reading = poplib_read(clear, args.user, args.password)
    print("greeting: %s" % reading.greeting)
    print("CAPA: %s" % ("(-ERR: no CAPA)" if reading.capa is None else
                        " | ".join(" ".join([k] + v) for k, v in reading.capa.items())))
    if reading.utf8:
        print("UTF8: %s" % reading.utf8)
    if reading.capa is not None and "PIPELINING" in reading.capa:
        answered = pipelining_after_pass(clear, args.user, args.password)
        print("pipelining: STAT sent with USER and PASS in one write %s"
              % ("is answered" if answered else "gets NO answer (lost after PASS)"))

    seconds, rows, stderr, code = run_scan(args.scan, clear, args.user, args.password)
    timings = [("clear", clear, seconds, code, None)]
    print("%d messages (poplib LIST); tavelo-scan listed %d (exit %d)" % (len(reading.messages), len(rows), code))
    for line in stderr.splitlines():
        if "sin cifrar" not in line:  # the clear port is clear on purpose
            print("tavelo-scan stderr: %s" % line)

    diffs, renders = compare(reading, rows)
    width = 0 if args.full else 46
    print("\nDisagreements: %d" % len(diffs))
    print_table(diffs, ("num", "case", "column", "expected", "got"), width)
    if renders:
        print("\nWhere the email package renders otherwise than a plain reading (either counts as agreeing):")
        print_table([r[:5] for r in renders], ("num", "case", "column", "email package", "plain reading"), width,
                    [r[5] for r in renders], "tavelo-scan shows")
    dates = [(n, m[2]["date"][0], m[2]["package date"]) for n, m in sorted(reading.messages.items())
             if m[2]["package date"] != m[2]["date"][0]]
    if dates:
        print("Dates are compared as sent; the email package would re-format %d of %d, e.g. #%d %r as %r"
              % (len(dates), len(reading.messages), *dates[-1]))
    header_notes = [(n, m[0], note) for n, m in sorted(reading.messages.items()) for note in m[3]]
    for num, case, note in header_notes:
        print("note #%d %s: %s" % (num, case, note))

    if reading.utf8 is not None:
        # What a client that does not send UTF8 gets (Courier shows a stand-in for 8-bit headers).
        bare = poplib_read(clear, args.user, args.password, use_utf8=False)
        changed = [(n, reading.messages[n], bare.messages.get(n)) for n in sorted(reading.messages)
                   if bare.raw_tops.get(n) != reading.raw_tops[n]]
        print("\nWithout UTF8: %d of %d headers differ" % (len(changed), len(reading.messages)))
        for num, (case, size, row, _), other in changed:
            if other is None:
                print("  #%d %s: missing" % (num, case))
                continue
            print("  #%d %s: LIST size %d%s; from %r; subject %r; date %r"
                  % (num, case, other[1], "" if other[1] == size else " (%d with UTF8)" % size,
                     other[2]["from"][0], other[2]["subject"][0], other[2]["date"][0]))

    if not args.no_tls:
        started = time.monotonic()
        poplib_read(clear, args.user, args.password)
        pop_times = {"clear": time.monotonic() - started}
        for label, port, mode in [("STLS", stls, "stls")] + [("TLS", p, "implicit") for p in tls if p == 995]:
            if not port:
                continue
            seconds, tls_rows, stderr, code = run_scan(args.scan, port, args.user, args.password,
                                                       fingerprint, require_tls=True)
            same = tls_rows == rows
            timings.append((label, port, seconds, code, same))
            started = time.monotonic()
            poplib_read(port, args.user, args.password, tls=mode, fingerprint=fingerprint)
            pop_times[label + str(port)] = time.monotonic() - started
            for line in stderr.splitlines():
                print("tavelo-scan stderr (%s %d): %s" % (label, port, line))
        print("\nScan times (wall clock; poplib reading the same headers, for scale):")
        for label, port, seconds, code, same in timings:
            key = "clear" if label == "clear" else label + str(port)
            extra = "" if same is None else ("  rows as in clear" if same else "  ROWS DIFFER from clear")
            print("  %-6s %5d   tavelo-scan %6.2f s (exit %d)   poplib %6.2f s%s"
                  % (label, port, seconds, code, pop_times[key], extra))
    print()
    return len(diffs)


def load_table(path):
    servers = {}
    with open(path) as f:
        next(f)
        for line in f:
            name, clear, stls, tls, fp = line.rstrip("\n").split("\t")
            servers[name] = (int(clear), None if stls == "-" else int(stls),
                             [] if tls == "-" else [int(p) for p in tls.split(",")], None if fp == "-" else fp)
    return servers


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--servers", help="comma-separated names (default: every server in the table)")
    ap.add_argument("--scan", default=DEFAULT_SCAN, help="path of tavelo-scan (%(default)s)")
    ap.add_argument("--table", default=os.path.join(os.environ.get("INTEROP_DIR", "/srv/interop"), "servers.tsv"),
                    help="the ports table setup.sh writes (%(default)s)")
    ap.add_argument("--user", default="ana")
    ap.add_argument("--password", default="secreto")
    ap.add_argument("--full", action="store_true", help="show whole values, not cut to the table's width")
    ap.add_argument("--no-tls", action="store_true", help="skip the TLS scans and timings")
    args = ap.parse_args()
    table = load_table(args.table)
    names = args.servers.split(",") if args.servers else list(table)
    unknown = [n for n in names if n not in table]
    if unknown:
        sys.exit("unknown server(s): %s (the table has %s)" % (", ".join(unknown), ", ".join(table)))
    version = subprocess.run([args.scan, "--version"], capture_output=True, text=True).stdout.strip()
    print("%s (%s)" % (args.scan, version))
    total = 0
    for name in names:
        try:
            total += server_report(name, table[name], args)
        except Exception as e:
            print("%s: could not be read: %s: %s\n" % (name, type(e).__name__, e))
            total += 1
    print("%d disagreement(s) over %d server(s)" % (total, len(names)))
    return 1 if total else 0


if __name__ == "__main__":
    sys.exit(main())
