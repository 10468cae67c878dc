#!/usr/bin/env python3
"""Writes a Maildir of deterministic mail (same profile and seed, same bytes) and its manifest.

usage: genmail.py [--profile test|demo] [--seed N] [--count N] --out MAILDIR --manifest FILE.json

Profiles: "test" (default, 56 messages: every header shape the client must read, then seeded
ordinary mail) and "demo" (30 Spanish messages: newsletters, invoices, friends, spam).

The messages go to MAILDIR/cur as "<T>.M<n>P4242.tavelo:2," with T growing by one second per
message and the file's mtime set to T: Dovecot gives new files their UIDs in the order of the time
at the start of the name, so the POP3 order is the manifest order.

Manifest (JSON, UTF-8): {"format": 1, "profile", "seed", "count", "messages": [...]}, one object per
message in POP3 order:
  num          POP3 message number (1-based)
  file         path of the file inside the Maildir ("cur/...")
  bytes        the size Dovecot reports in LIST: the file with every LF counted as CR LF
  messageId    the Message-ID value
  rawFrom, rawSubject, rawDate, rawTo, rawCc
               the header value as written, unfolded: each line break with the blanks and TABs
               after it became one blank; the first header of that name (any case); "" if absent
  from, subject
               the raw value as a human reads it: encoded words decoded (RFC 2047), blanks between
               adjacent encoded words dropped (Python's email.header)
  to, cc       the bare addresses (local@domain) of the To and Cc lists
  headerLines  lines of the header part; bodyLines: lines after the blank line
  dotLines     1-based body line numbers of lines starting with "." (the server doubles the dot)
  tags         what sets the message apart ("dot-stuffed", "no-body", "tab-fold", ...)
"""
import argparse
import json
import os
import random
import sys
from datetime import datetime, timedelta, timezone

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import profile_demo  # noqa: E402
import profile_test  # noqa: E402
from mailkit import manifest_entry  # noqa: E402

PROFILES = {"test": (profile_test, 56), "demo": (profile_demo, 30)}
FIRST_FILE_TIME = 1700000000  # 2023-11-14 22:13:20 UTC
FIRST_DATE = datetime(2023, 11, 6, 9, 0, 0, tzinfo=timezone(timedelta(hours=1)))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--profile", choices=sorted(PROFILES), default="test")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--count", type=int)
    ap.add_argument("--out", required=True, help="the Maildir to create (must not exist or be empty)")
    ap.add_argument("--manifest", required=True)
    args = ap.parse_args()

    module, default_count = PROFILES[args.profile]
    rng = random.Random("%s-%d" % (args.profile, args.seed))
    mails = module.build(rng, args.count or default_count, FIRST_DATE)

    if os.path.isdir(args.out) and any(os.scandir(args.out)):
        sys.exit("genmail: %s exists and is not empty" % args.out)
    for sub in ("cur", "new", "tmp"):
        os.makedirs(os.path.join(args.out, sub), exist_ok=True)

    entries = []
    for i, mail in enumerate(mails):
        stamp = FIRST_FILE_TIME + i
        name = "cur/%d.M%06dP4242.tavelo:2," % (stamp, i + 1)
        data = mail.to_bytes()
        path = os.path.join(args.out, name)
        with open(path, "wb") as f:
            f.write(data)
        os.utime(path, (stamp, stamp))
        entries.append(manifest_entry(i + 1, name, data, mail))

    manifest = {"format": 1, "profile": args.profile, "seed": args.seed, "count": len(entries),
                "messages": entries}
    with open(args.manifest, "w", encoding="utf-8") as f:
        json.dump(manifest, f, ensure_ascii=False, indent=1)
        f.write("\n")


if __name__ == "__main__":
    main()
