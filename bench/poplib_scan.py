#!/usr/bin/env python3
"""The contender "what a user would write instead": a sequential Python poplib script.

usage: poplib_scan.py HOST PORT USER   (password in TAVELO_PASSWORD)

USER, PASS, LIST, then TOP n 20 for every message in turn, waiting for each reply, then QUIT.
Prints one line per message, as tavelo-scan does: number, size and the From, Date and Subject
header values as they arrived (unfolded, not decoded).
"""
import os
import poplib
import sys


def main():
    host, port, user = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    pop = poplib.POP3(host, port, timeout=120)
    pop.user(user)
    pop.pass_(os.environ["TAVELO_PASSWORD"])
    out = []
    for entry in pop.list()[1]:
        num, size = entry.split()
        fields = {}
        name = None
        for line in pop.top(int(num), 20)[1]:
            if not line:
                break  # end of the header part
            if line[:1] in (b" ", b"\t") and name:
                fields[name] += b" " + line.strip()
                continue
            key, sep, value = line.partition(b":")
            name = key.lower() if sep else None
            if name in (b"from", b"date", b"subject") and name not in fields:
                fields[name] = value.strip()
            else:
                name = None
        out.append(b"\t".join([num, size, fields.get(b"from", b""), fields.get(b"date", b""),
                               fields.get(b"subject", b"")]))
    pop.quit()
    sys.stdout.buffer.write(b"\n".join(out) + b"\n")


if __name__ == "__main__":
    main()
