#!/usr/bin/env python3
"""The floor: what the server itself needs to serve a header pass.

usage: floor.py HOST PORT USER [--stls | --tls]   (password in TAVELO_PASSWORD)

Logs in (USER, PASS), asks STAT for the count, then sends LIST, TOP n 20 for every message and
QUIT in one pipelined stream (RFC 2449 PIPELINING) from a second thread while the first only
counts the bytes of the replies and the ends of the multi-line ones. Prints "<replies> <bytes>".
--stls upgrades to TLS with STLS after the greeting, --tls speaks TLS from the first byte; the
certificate is not checked (the benchmark's own server). Over TLS one thread does both, sending
whenever the socket takes more and reading whatever has come (an SSL socket is not to be used from
two threads at once), and QUIT goes only once every reply is in.
"""
import os
import selectors
import socket
import ssl
import sys
import threading


def line(f):
    reply = f.readline()
    if not reply.startswith(b"+OK"):
        sys.exit("floor: %r" % reply)
    return reply


class Counter:
    """Counts the replies: every reply but QUIT's is multi-line and ends with CR LF "." CR LF (a body
    line that starts with a dot arrives with the dot doubled, so the pattern never occurs inside a
    reply); then QUIT's reply, after which the server closes the connection."""

    def __init__(self, wanted):
        self.wanted, self.ends, self.total, self.tail = wanted, 0, 0, b""

    def add(self, data):
        self.total += len(data)
        if self.ends < self.wanted:
            self.ends += (self.tail + data).count(b"\r\n.\r\n")
            self.tail = (self.tail + data)[-4:]  # a TLS record may be shorter than the pattern


def pump_one_thread(s, stream, counter):
    """Sends stream and counts its replies on one thread (an SSL socket must not be used from two
    at once), never waiting to send while replies wait to be read; returns once all have come."""
    s.setblocking(False)
    view = memoryview(stream)
    with selectors.DefaultSelector() as sel:
        sel.register(s, selectors.EVENT_READ | selectors.EVENT_WRITE)
        while True:
            if not view:
                sel.modify(s, selectors.EVENT_READ)
            if not sel.select(120):
                sys.exit("floor: nothing for 120 s")
            if view:
                try:
                    view = view[s.send(view[:1 << 16]):]
                except (ssl.SSLWantReadError, ssl.SSLWantWriteError, BlockingIOError):
                    pass
            while True:  # what the socket holds, decrypted records included
                try:
                    data = s.recv(1 << 18)
                except (ssl.SSLWantReadError, ssl.SSLWantWriteError, BlockingIOError):
                    break
                except OSError:  # cut off rather than closed: the counter says whether it matters
                    return
                if not data:
                    return
                counter.add(data)
                if counter.ends >= counter.wanted:
                    return


def main():
    host, port, user = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    tls = sys.argv[4] if len(sys.argv) > 4 else ""
    if tls not in ("", "--stls", "--tls") or len(sys.argv) > 5:
        sys.exit(__doc__.split("\n\n")[1])
    context = ssl.create_default_context()
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE
    s = socket.create_connection((host, port), timeout=120)
    if tls == "--tls":
        s = context.wrap_socket(s)
    f = s.makefile("rb", buffering=0)
    line(f)
    if tls == "--stls":
        s.sendall(b"STLS\r\n")
        line(f)
        s = context.wrap_socket(s)
        f = s.makefile("rb", buffering=0)
    s.sendall(b"USER %s\r\n" % user.encode())
    line(f)
    s.sendall(b"PASS %s\r\n" % os.environ["TAVELO_PASSWORD"].encode())
    line(f)
    s.sendall(b"STAT\r\n")
    count = int(line(f).split()[1])
    stream = b"LIST\r\n" + b"".join(b"TOP %d 20\r\n" % n for n in range(1, count + 1))
    counter = Counter(count + 1)
    if tls:
        # QUIT only once every reply is in: Dovecot 2.3's TLS proxy may drop the end of what its
        # POP3 process wrote when that process ends right after it.
        pump_one_thread(s, stream, counter)
        s.setblocking(True)
        s.sendall(b"QUIT\r\n")
        try:
            while True:
                data = s.recv(1 << 16)
                if not data:
                    break
                counter.add(data)
        except OSError:
            pass
    else:
        sender = threading.Thread(target=s.sendall, args=(stream + b"QUIT\r\n",), daemon=True)
        sender.start()
        while True:
            data = s.recv(1 << 18)
            if not data:
                break
            counter.add(data)
        sender.join()
    s.close()
    if counter.ends < counter.wanted:
        sys.exit("floor: the server closed after %d of %d replies" % (counter.ends, counter.wanted))
    ends, total = counter.ends, counter.total
    print("%d %d" % (ends, total))


if __name__ == "__main__":
    main()
