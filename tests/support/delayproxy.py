#!/usr/bin/env python3
"""A delay line for TCP on loopback: a proxy that releases every chunk it reads a fixed time after
it arrived, in each direction, so that a local server looks like one a network away.

usage: delayproxy.py --target HOST:PORT [--port N] [--delay-ms 10] [--strip-capa NAME]...

Listens on 127.0.0.1 (port N, or a free one when N is 0 or missing), prints the port on stdout as
one line once it accepts connections, and forwards every connection to the target. Each chunk
read from one side is written to the other side DELAY ms after it was read, whatever came before
it: a delay line, not a sleep per chunk, so bytes in flight overlap as on a real link and the
bandwidth is not limited. A delay of 10 ms gives a round trip of 20 ms.

--strip-capa NAME (repeatable, any case) removes that capability line (e.g. PIPELINING) from the
server's reply to CAPA. The proxy then follows the POP3 dialogue (which command each reply
answers, whether it is a multi-line one) and forwards the server's bytes whole lines at a time.

It runs until SIGTERM or SIGINT, or until the process that started it ends. Python 3 standard
library only.
"""
import argparse
import collections
import os
import queue
import signal
import socket
import threading
import time

HOST = "127.0.0.1"
CHUNK = 65536


class CapaStripper:
    """Follows one POP3 conversation and drops the named capability lines from replies to CAPA.

    Commands are read from the client's bytes as they pass; replies are matched to them in order
    (the first reply is the greeting). A reply is multi-line when it is positive and answers CAPA,
    TOP, RETR, or LIST, UIDL or LANG without an argument. During AUTH the client's lines are
    answers to challenges, not commands, until the server's final +OK or -ERR. After STLS the
    bytes are TLS and pass untouched."""

    MULTI_ALWAYS = {b"CAPA", b"TOP", b"RETR"}
    MULTI_NO_ARG = {b"LIST", b"UIDL", b"LANG"}

    def __init__(self, names):
        self.names = {n.upper().encode("ascii") for n in names}
        self.lock = threading.Lock()
        self.commands = collections.deque([(b"", False)])  # the greeting answers no command
        self.client_partial = b""
        self.server_partial = b""
        self.in_auth = False
        self.passthrough = False
        self.reply = None  # the command whose multi-line reply is being read

    def client_bytes(self, data):
        with self.lock:
            if self.passthrough:
                return
            lines = (self.client_partial + data).split(b"\n")
            self.client_partial = lines.pop()
            for line in lines:
                if self.in_auth:
                    continue
                words = line.strip().split()
                verb = words[0].upper() if words else b""
                multi = verb in self.MULTI_ALWAYS or (verb in self.MULTI_NO_ARG and len(words) == 1)
                self.commands.append((verb, multi))
                if verb == b"AUTH":
                    self.in_auth = True

    def server_bytes(self, data):
        """The bytes to forward now: the complete lines, the stripped ones left out."""
        with self.lock:
            if self.passthrough:
                out, self.server_partial = self.server_partial + data, b""
                return out
            lines = (self.server_partial + data).split(b"\n")
            self.server_partial = lines.pop()
            out = []
            for i, line in enumerate(lines):
                full = line + b"\n"
                if self.reply is not None:  # inside a multi-line reply
                    if line.rstrip(b"\r") == b".":
                        self.reply = None
                    elif self.reply == b"CAPA":
                        words = line.strip().split()
                        if words and words[0].upper() in self.names:
                            continue
                    out.append(full)
                    continue
                out.append(full)
                if line.startswith(b"+ "):  # a challenge of AUTH
                    continue
                verb, multi = self.commands.popleft() if self.commands else (b"", False)
                positive = line.startswith(b"+OK")
                if verb == b"AUTH":
                    self.in_auth = False
                if positive and multi:
                    self.reply = verb
                if positive and verb == b"STLS":
                    self.passthrough = True
                    rest = b"".join(l + b"\n" for l in lines[i + 1:]) + self.server_partial
                    self.server_partial = b""
                    return b"".join(out) + rest
            return b"".join(out)


class Direction(threading.Thread):
    """Reads one side and queues each chunk with the time it arrived."""

    def __init__(self, src, dst, delay, transform, on_read, done):
        super().__init__(daemon=True)
        self.src, self.dst, self.delay = src, dst, delay
        self.transform, self.on_read, self.done = transform, on_read, done
        self.queue = queue.SimpleQueue()
        self.writer = threading.Thread(target=self.write, daemon=True)

    def run(self):
        self.writer.start()
        try:
            while True:
                data = self.src.recv(CHUNK)
                arrived = time.monotonic()
                if not data:
                    break
                if self.on_read:
                    self.on_read(data)
                if self.transform:
                    data = self.transform(data)
                if data:
                    self.queue.put((arrived, data))
        except OSError:
            pass
        self.queue.put((time.monotonic(), None))

    def write(self):
        try:
            while True:
                arrived, data = self.queue.get()
                wait = arrived + self.delay - time.monotonic()
                if wait > 0:
                    time.sleep(wait)
                if data is None:
                    self.dst.shutdown(socket.SHUT_WR)
                    break
                self.dst.sendall(data)
        except OSError:
            # The other side is gone: end both directions.
            for s in (self.src, self.dst):
                try:
                    s.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
        self.done()


def serve(client, target, delay, strip):
    try:
        server = socket.create_connection(target)
    except OSError:
        client.close()
        return
    for s in (client, server):
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    remaining = [2]
    lock = threading.Lock()

    def done():
        with lock:
            remaining[0] -= 1
            if remaining[0] == 0:
                client.close()
                server.close()

    stripper = CapaStripper(strip) if strip else None
    up = Direction(client, server, delay, None, stripper.client_bytes if stripper else None, done)
    down = Direction(server, client, delay, stripper.server_bytes if stripper else None, None, done)
    up.start()
    down.start()


def watch_parent():
    parent = os.getppid()
    while True:
        time.sleep(0.5)
        if os.getppid() != parent:
            os._exit(0)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--target", required=True, help="HOST:PORT of the server")
    ap.add_argument("--port", type=int, default=0, help="port to listen on (default: a free one)")
    ap.add_argument("--delay-ms", type=float, default=10.0, help="one-way delay (default 10)")
    ap.add_argument("--strip-capa", action="append", default=[], metavar="NAME",
                    help="capability to remove from the reply to CAPA (repeatable)")
    args = ap.parse_args()
    host, _, port = args.target.rpartition(":")
    target = (host or HOST, int(port))

    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    signal.signal(signal.SIGINT, lambda *_: os._exit(0))
    threading.Thread(target=watch_parent, daemon=True).start()

    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((HOST, args.port))
    listener.listen(64)
    print(listener.getsockname()[1], flush=True)
    while True:
        client, _ = listener.accept()
        threading.Thread(target=serve, args=(client, target, args.delay_ms / 1000.0, args.strip_capa),
                         daemon=True).start()


if __name__ == "__main__":
    main()
