#!/usr/bin/env python3
"""The floor: what the server itself needs to serve a header pass.

usage: floor.py HOST PORT USER   (password in TAVELO_PASSWORD)

Logs in (USER, PASS), asks STAT for the count, then sends LIST, TOP n 20 for every message and
QUIT in one pipelined stream (RFC 2449 PIPELINING) from a second thread while the first only
counts the bytes of the replies and the ends of the multi-line ones. Prints "<replies> <bytes>".
"""
import os
import socket
import sys
import threading


def line(f):
    reply = f.readline()
    if not reply.startswith(b"+OK"):
        sys.exit("floor: %r" % reply)
    return reply


def main():
    host, port, user = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    s = socket.create_connection((host, port), timeout=120)
    f = s.makefile("rb", buffering=0)
    line(f)
    s.sendall(b"USER %s\r\n" % user.encode())
    line(f)
    s.sendall(b"PASS %s\r\n" % os.environ["TAVELO_PASSWORD"].encode())
    line(f)
    s.sendall(b"STAT\r\n")
    count = int(line(f).split()[1])
    stream = b"LIST\r\n" + b"".join(b"TOP %d 20\r\n" % n for n in range(1, count + 1)) + b"QUIT\r\n"
    sender = threading.Thread(target=s.sendall, args=(stream,), daemon=True)
    sender.start()
    wanted, ends, total, tail = count + 1, 0, 0, b""
    # Every reply but QUIT's is multi-line and ends with CR LF "." CR LF; a body line that starts
    # with a dot arrives with the dot doubled, so the pattern never occurs inside a reply.
    while ends < wanted:
        data = s.recv(1 << 18)
        if not data:
            sys.exit("floor: the server closed after %d of %d replies" % (ends, wanted))
        total += len(data)
        ends += (tail + data).count(b"\r\n.\r\n")
        tail = data[-4:]
    # Then QUIT's reply, after which the server closes the connection.
    while True:
        data = s.recv(1 << 16)
        if not data:
            break
        total += len(data)
    sender.join()
    s.close()
    print("%d %d" % (ends, total))


if __name__ == "__main__":
    main()
