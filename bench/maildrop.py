#!/usr/bin/env python3
"""One new message into a cached benchmark mailbox, and its removal: what recheck.py and soak.py deliver.

usage: maildrop.py deliver MAILDIR RECORD    writes one message into MAILDIR/new, its name added to RECORD
       maildrop.py remove RECORD             removes every message RECORD names, then RECORD

The cache is served in place (benchserver.py), so a benchmark that delivers mail must take it out
again to leave the mailboxes as generated. A message is written into tmp/ and renamed into new/, as
a mail server delivers, and given to the user Dovecot reads the mail as. Dovecot serves it from new/
(with pop3_no_flag_updates it never moves it to cur/); removal looks in both, whatever flags a
rename to cur/ added to the name.
"""
import contextlib
import os
import socket
import sys
import time
from email.utils import formatdate

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import benchserver  # noqa: E402

_count = 0


def message(serial):
    now = formatdate(localtime=True)
    host = socket.gethostname() or "localhost"
    return ("Return-Path: <avisos@tienda.example.net>\n"
            "Received: from mx2.mailchannels.net (mx2.mailchannels.net [23.83.209.12])\n"
            "\tby correo.example.net with ESMTPS id %(serial)s\n\tfor <bench@correo.example.net>; %(now)s\n"
            "Message-ID: <%(serial)s@tienda.example.net>\n"
            "Date: %(now)s\n"
            "From: =?UTF-8?Q?Librer=C3=ADa_Cervantes?= <avisos@tienda.example.net>\n"
            "To: bench@correo.example.net\n"
            "Subject: =?UTF-8?Q?Nuevo_mensaje_de_prueba_n=C2=BA_%(serial)s?=\n"
            "MIME-Version: 1.0\n"
            "Content-Type: text/plain; charset=utf-8\n"
            "Content-Transfer-Encoding: 8bit\n"
            "X-Bench-Host: %(host)s\n"
            "\n"
            "Este mensaje llegó durante la medición y se borra al terminar.\n"
            "Línea dos del cuerpo.\n" % {"serial": serial, "now": now, "host": host}).encode("utf-8")


def deliver(maildir, record):
    """Writes one message into maildir/new, named in the record file first (a run stopped halfway
    leaves nothing the record does not name); returns its file name."""
    global _count
    _count += 1
    maildir = os.path.abspath(maildir)
    uid, gid = benchserver.mail_owner()
    serial = "%d.%06d.%d.%d" % (int(time.time()), int(time.time() * 1e6) % 1000000, os.getpid(), _count)
    name = "%s.tavelo-bench" % serial
    with open(record, "a") as f:
        f.write("%s\t%s\n" % (maildir, name))
    tmp = os.path.join(maildir, "tmp", name)
    with open(tmp, "wb") as f:
        f.write(message(serial))
    os.chown(tmp, uid, gid)
    os.chmod(tmp, 0o600)
    os.rename(tmp, os.path.join(maildir, "new", name))
    return name


def remove(maildir, name):
    """Removes the message of that name from new/ or cur/ (flags may follow it there); True if found."""
    found = False
    for sub in ("new", "cur", "tmp"):
        folder = os.path.join(maildir, sub)
        with contextlib.suppress(FileNotFoundError):
            for entry in os.listdir(folder):
                if entry == name or entry.startswith(name + ":"):
                    with contextlib.suppress(FileNotFoundError):
                        os.remove(os.path.join(folder, entry))
                    found = True
    return found


def remove_recorded(record):
    """Removes every message a record file names (lines "MAILDIR<TAB>NAME"), then the record."""
    removed = 0
    with contextlib.suppress(FileNotFoundError):
        with open(record) as f:
            for line in f:
                if "\t" in line:
                    maildir, name = line.rstrip("\n").split("\t", 1)
                    removed += remove(maildir, name)
        os.remove(record)
    return removed


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "deliver":
        deliver(sys.argv[2], sys.argv[3])
    elif len(sys.argv) == 3 and sys.argv[1] == "remove":
        remove_recorded(sys.argv[2])
    else:
        sys.exit(__doc__.split("\n\n")[1])


if __name__ == "__main__":
    main()
