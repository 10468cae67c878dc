#!/usr/bin/env python3
"""Writes the benchmark's mailboxes: Maildirs of realistic mail, generated once and cached.

usage: genbench.py --cache DIR --sizes 1000,10000,50000 [--owner UID:GID]

Every message looks like mail delivered by a big provider today: three to six Received lines, an
Authentication-Results line, a DKIM signature (and, for a third of them, the three ARC headers),
From and Subject as encoded words (UTF-8 or ISO-8859-1, Q or B, sometimes split in several
words), To and Cc lists folded over several lines, MIME headers, and a body of 2 to 50 KB
(log-uniform: most mail is small) in plain text, quoted-printable or multipart/alternative.

The largest mailbox is written once into DIR/m<largest>/Maildir/cur; every smaller one holds hard
links to its first messages (DIR/m<n>/Maildir/cur), so the smaller mailboxes are prefixes of the
larger one. The file names carry the sizes Dovecot would otherwise compute (",S=<bytes>,W=<bytes
with CR LF>"). DIR/VERSION records what was generated; a cache of another version or seed is
written afresh. With --owner, every file and directory is given to that user (Dovecot run as root
reads the mail as an ordinary user).
"""
import argparse
import base64
import math
import os
import random
import shutil
import sys
from datetime import datetime, timedelta, timezone

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support", "dovecot"))
from mailkit import b_word, q_word, split_words  # noqa: E402

VERSION = "tavelo-bench-mail 1"
SEED = 20231114
FIRST_FILE_TIME = 1700000000
FIRST_DATE = datetime(2023, 11, 6, 9, 0, 0, tzinfo=timezone(timedelta(hours=1)))
RECIPIENT = "bench@correo.example.net"

FIRST = ["José", "María", "Ángel", "Lucía", "Íñigo", "Begoña", "Raúl", "Mónica", "Jesús", "Inés",
         "Álvaro", "Sofía", "Martín", "Nuria", "Joaquín", "Pilar", "Óscar", "Elena", "Andrés", "Marta",
         "François", "Jürgen", "Zoë", "Søren", "Ana", "Carlos", "Laura", "Pablo", "Carmen", "David"]
LAST = ["García", "Martínez", "López", "Sánchez", "Pérez", "Gómez", "Martín", "Jiménez", "Ruiz",
        "Hernández", "Díaz", "Moreno", "Muñoz", "Álvarez", "Romero", "Alonso", "Gutiérrez", "Navarro",
        "Torres", "Domínguez", "Vázquez", "Ramos", "Gil", "Ramírez", "Serrano", "Blanco", "Suárez"]
ORGS = ["Banco Ibérico", "Librería Cervantes", "Viajes Atlántico", "Ayuntamiento de Cáceres",
        "Seguros Mediterráneo", "Energía Verde S.A.", "Club de Montaña Peñalara", "Óptica Visión",
        "Supermercados La Huerta", "Academia Políglota", "Farmacia Central", "Cine Estudio Ñ"]
DOMAINS = ["gmail.com", "outlook.es", "yahoo.es", "correo.example.org", "empresa.example.com",
           "universidad.example.edu", "tienda.example.net", "newsletter.example.com", "hotmail.com",
           "proton.me", "icloud.com", "telefonica.example.net"]
RELAYS = [("mail-sor-f41.google.com", "209.85.220.41"), ("mail-ej1-f54.google.com", "209.85.218.54"),
          ("EUR05-AM6-obe.outbound.protection.outlook.com", "40.107.22.97"),
          ("sonic310-21.consmr.mail.ir2.yahoo.com", "77.238.177.147"),
          ("mout-p-101.mailbox.org", "80.241.56.151"), ("smtp.example.org", "192.0.2.25"),
          ("mx2.mailchannels.net", "23.83.209.12"), ("o1.ptr1234.sendgrid.example.net", "198.51.100.7")]
SUBJECT_WORDS = ("factura pedido reunión próxima semana informe anual presupuesto revisión urgente "
                 "confirmación reserva vuelo hotel entradas concierto boletín noviembre ofertas "
                 "exclusivas descuento envío gratuito cumpleaños cena viernes fotos vacaciones "
                 "contraseña cambio cuenta bancaria aviso importante actualización términos "
                 "servicio suscripción renovación seguro coche cita médica resultados análisis "
                 "proyecto entrega borrador comentarios acta asamblea vecinos comunidad").split()
BODY_WORDS = ("el la de que y en un una por con para los las del se no al lo como más pero sus le "
              "ya o este sí porque esta entre cuando muy sin sobre también me hasta hay donde quien "
              "desde todo nos durante todos uno les ni contra otros ese eso ante ellos e esto mí "
              "antes algunos qué unos yo otro otras otra él tanto esa estos mucho quienes nada "
              "muchos cual poco ella estar estas algunas algo nosotros mañana reunión documento "
              "adjunto información cliente pedido factura servicio equipo proyecto semana ciudad "
              "año tiempo día vez parte caso mundo país forma gobierno empresa trabajo número "
              "señor niño acción educación corazón camión canción jardín árbol después según "
              "además así aquí allí también través había tenía podía quería sabía").split()


def rand_b64(rng, n):
    return base64.b64encode(rng.getrandbits(8 * n).to_bytes(n, "little")).decode("ascii")


def fold_b64(text, fold="\n\t", width=76):
    """A long base64 value folded over several lines (RFC 5322 folding)."""
    return fold.join(text[i:i + width] for i in range(0, len(text), width))


def rfc_date(when):
    return when.strftime("%a, %d %b %Y %H:%M:%S %z")


def person(rng):
    first, last = rng.choice(FIRST), rng.choice(LAST)
    local = "%s.%s" % (ascii_fold(first), ascii_fold(last))
    return "%s %s" % (first, last), "%s@%s" % (local, rng.choice(DOMAINS))


def ascii_fold(text):
    table = str.maketrans("áéíóúÁÉÍÓÚñÑüÜçÇøØëË", "aeiouAEIOUnNuUcCoOeE")
    return text.translate(table).lower().replace(" ", "")


def encoded_name(rng, name):
    """A display name as a human-sent message carries it: an encoded word in one of the usual forms."""
    if name.isascii() and rng.random() < 0.5:
        return '"%s"' % name
    kind = rng.random()
    if kind < 0.45:
        return q_word(name, "utf-8", upper=True)
    if kind < 0.75:
        return b_word(name, "utf-8")
    if kind < 0.9:
        return q_word(name, "iso-8859-1", upper=True)
    return split_words(name, [len(name) // 2], lambda t: q_word(t, "utf-8", upper=True), fold=" ")


def address_list(rng, count):
    items = []
    for _ in range(count):
        name, addr = person(rng)
        items.append(addr if rng.random() < 0.3 else "%s <%s>" % (encoded_name(rng, name), addr))
    lines = [", ".join(items[i:i + 2]) for i in range(0, len(items), 2)]
    return ",\n ".join(lines)


def subject(rng):
    words = [rng.choice(SUBJECT_WORDS) for _ in range(rng.randint(3, 11))]
    text = " ".join(words).capitalize()
    if rng.random() < 0.3:
        text = "Re: " + text
    if text.isascii() and rng.random() < 0.5:
        return text
    if rng.random() < 0.5:
        enc = lambda t: b_word(t, "utf-8")  # noqa: E731
    else:
        enc = lambda t: q_word(t, "utf-8", upper=True)  # noqa: E731
    if len(text) > 30 and rng.random() < 0.6:
        cuts = sorted(rng.sample(range(5, len(text) - 5), rng.randint(1, 2)))
        return split_words(text, cuts, enc)
    return enc(text)


class BodyPool:
    """Wrapped prose lines to cut bodies from, made once."""

    def __init__(self, rng, lines=20000):
        self.lines = []
        for _ in range(lines):
            words, length = [], 0
            target = rng.randint(40, 76)
            while length < target:
                w = rng.choice(BODY_WORDS)
                words.append(w)
                length += len(w) + 1
            line = " ".join(words)
            r = rng.random()
            if r < 0.08:
                line = ""
            elif r < 0.085:
                line = "." + line  # the server doubles the dot of such lines
            elif r < 0.1:
                line = "> " + line
            self.lines.append(line.capitalize() if line and line[0] != "." else line)
        self.bytes = [len(l.encode("utf-8")) + 1 for l in self.lines]

    def text(self, rng, size):
        """About size bytes of consecutive lines, starting anywhere."""
        i = rng.randrange(len(self.lines))
        out, got = [], 0
        while got < size:
            out.append(self.lines[i])
            got += self.bytes[i]
            i = (i + 1) % len(self.lines)
        return "\n".join(out) + "\n"


def quoted_printable(text):
    out = []
    for line in text.split("\n"):
        enc = "".join(c if (c.isascii() and c != "=") else "".join("=%02X" % b for b in c.encode("utf-8"))
                      for c in line)
        while len(enc) > 76:
            cut = 75
            while enc[cut - 2:cut].count("=") or enc[cut - 1] == "=":
                cut -= 1
            out.append(enc[:cut] + "=")
            enc = enc[cut:]
        out.append(enc)
    return "\n".join(out)


def message(rng, pool, i, when):
    name, addr = person(rng)
    if rng.random() < 0.3:
        name = rng.choice(ORGS)
        addr = "noticias@" + rng.choice(DOMAINS)
    domain = addr.split("@", 1)[1]
    msgid = "<%s.%d@%s>" % (rand_b64(rng, 9).replace("/", "_").replace("+", "-"), i, domain)
    h = []
    h.append(("Return-Path", "<%s>" % addr))
    h.append(("Delivered-To", RECIPIENT))
    hop_time = when + timedelta(seconds=rng.randint(5, 120))
    hops = rng.randint(3, 6)
    for k in range(hops):
        relay, ip = rng.choice(RELAYS)
        qid = rand_b64(rng, 9).replace("/", "").replace("+", "")[:12].upper()
        if k == 0:
            value = ("from %s (%s [%s])\n\tby mx.correo.example.net (Postfix) with ESMTPS id %s\n"
                     "\tfor <%s>; %s" % (relay, relay, ip, qid, RECIPIENT, rfc_date(hop_time)))
        elif k == hops - 1:
            value = ("by 2002:a05:6a10:%04x:b0:%x:%x:%x with SMTP id %s;\n        %s"
                     % (rng.getrandbits(16), rng.getrandbits(12), rng.getrandbits(16), rng.getrandbits(16),
                        qid.lower(), rfc_date(hop_time)))
        else:
            value = ("from %s (%s. [%s])\n        by %s with SMTPS id %s\n        for <%s>\n"
                     "        (Google Transport Security);\n        %s"
                     % (relay, relay, ip, rng.choice(RELAYS)[0], qid.lower(), RECIPIENT, rfc_date(hop_time)))
        h.append(("Received", value))
        hop_time -= timedelta(seconds=rng.randint(0, 3))
    h.append(("Authentication-Results", "mx.correo.example.net;\n\tdkim=pass (2048-bit key; unprotected) "
              "header.d=%s header.i=@%s header.a=rsa-sha256 header.s=s%d header.b=%s;\n\tspf=pass "
              "smtp.mailfrom=%s;\n\tdmarc=pass (p=quarantine dis=none) header.from=%s"
              % (domain, domain, rng.randint(2019, 2024), rand_b64(rng, 6), domain, domain)))
    if rng.random() < 0.33:
        h.append(("ARC-Seal", "i=1; a=rsa-sha256; t=%d; cv=none;\n        d=google.com; s=arc-20160816;\n"
                  "        b=%s" % (FIRST_FILE_TIME + i, fold_b64(rand_b64(rng, 256), "\n         "))))
        h.append(("ARC-Message-Signature", "i=1; a=rsa-sha256; c=relaxed/relaxed; d=google.com; s=arc-20160816;\n"
                  "        h=to:subject:message-id:date:from:mime-version:dkim-signature;\n"
                  "        bh=%s;\n        b=%s" % (rand_b64(rng, 32), fold_b64(rand_b64(rng, 256), "\n         "))))
        h.append(("ARC-Authentication-Results", "i=1; mx.google.com;\n       dkim=pass header.i=@%s;\n"
                  "       spf=pass (google.com: domain of %s designates %s as permitted sender)"
                  " smtp.mailfrom=%s" % (domain, addr, rng.choice(RELAYS)[1], addr)))
    h.append(("DKIM-Signature", "v=1; a=rsa-sha256; c=relaxed/relaxed;\n\td=%s; s=s%d; t=%d;\n"
              "\th=from:to:cc:subject:date:message-id:mime-version:content-type;\n\tbh=%s;\n\tb=%s"
              % (domain, rng.randint(2019, 2024), FIRST_FILE_TIME + i, rand_b64(rng, 32),
                 fold_b64(rand_b64(rng, 256)))))
    h.append(("From", "%s <%s>" % (encoded_name(rng, name), addr)))
    h.append(("To", address_list(rng, rng.randint(1, 5)) if rng.random() < 0.6 else RECIPIENT))
    if rng.random() < 0.5:
        h.append(("Cc", address_list(rng, rng.randint(1, 8))))
    h.append(("Subject", subject(rng)))
    h.append(("Date", rfc_date(when)))
    h.append(("Message-ID", msgid))
    h.append(("MIME-Version", "1.0"))
    if rng.random() < 0.2:
        h.append(("List-Unsubscribe", "<mailto:baja@%s?subject=baja>,\n <https://%s/baja?id=%s>"
                  % (domain, domain, rand_b64(rng, 12).replace("/", "_"))))
    h.append(("X-Mailer", rng.choice(["Microsoft Outlook 16.0", "Apple Mail (2.3731.700.6)",
                                      "Thunderbird 115.4.2", "Roundcube Webmail/1.6.5", "Zimbra 9.0"])))

    size = int(math.exp(rng.uniform(math.log(2048), math.log(51200))))
    kind = rng.random()
    if kind < 0.5:
        h.append(("Content-Type", "text/plain; charset=UTF-8; format=flowed"))
        h.append(("Content-Transfer-Encoding", "8bit"))
        body = pool.text(rng, size)
    elif kind < 0.75:
        h.append(("Content-Type", "text/plain; charset=utf-8"))
        h.append(("Content-Transfer-Encoding", "quoted-printable"))
        body = quoted_printable(pool.text(rng, int(size * 0.9))) + "\n"
    else:
        boundary = "000000000000%s" % rand_b64(rng, 9).replace("/", "").replace("+", "")
        h.append(("Content-Type", 'multipart/alternative; boundary="%s"' % boundary))
        text = pool.text(rng, size // 3)
        html = "<div dir=\"ltr\">" + "<br>\n".join(pool.text(rng, size // 2).split("\n")) + "</div>\n"
        body = ("--%s\nContent-Type: text/plain; charset=\"UTF-8\"\nContent-Transfer-Encoding: 8bit\n\n%s\n"
                "--%s\nContent-Type: text/html; charset=\"UTF-8\"\nContent-Transfer-Encoding: 8bit\n\n%s\n--%s--\n"
                % (boundary, text, boundary, html, boundary))
    head = "".join("%s: %s\n" % (n, v) for n, v in h)
    assert head.isascii()
    return (head + "\n").encode("ascii") + body.encode("utf-8")


def write_mailbox(root, count, rng, pool):
    cur = os.path.join(root, "Maildir", "cur")
    for sub in ("cur", "new", "tmp"):
        os.makedirs(os.path.join(root, "Maildir", sub), exist_ok=True)
    names = []
    when = FIRST_DATE
    for i in range(count):
        when += timedelta(seconds=rng.randint(30, 1800))
        data = message(rng, pool, i + 1, when)
        stamp = FIRST_FILE_TIME + i
        name = "%d.M%06dP4242.bench,S=%d,W=%d:2," % (stamp, i + 1, len(data), len(data) + data.count(b"\n"))
        path = os.path.join(cur, name)
        with open(path, "wb") as f:
            f.write(data)
        os.utime(path, (stamp, stamp))
        names.append(name)
        if (i + 1) % 10000 == 0:
            print("genbench: %d of %d messages" % (i + 1, count), flush=True)
    return names


def link_mailbox(root, source_cur, names):
    for sub in ("cur", "new", "tmp"):
        os.makedirs(os.path.join(root, "Maildir", sub), exist_ok=True)
    for name in names:
        os.link(os.path.join(source_cur, name), os.path.join(root, "Maildir", "cur", name))


def give(path, uid, gid):
    for dirpath, dirnames, filenames in os.walk(path):
        os.chown(dirpath, uid, gid)
        os.chmod(dirpath, 0o700)
        for name in filenames:
            os.chown(os.path.join(dirpath, name), uid, gid)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--cache", required=True)
    ap.add_argument("--sizes", default="1000,10000,50000")
    ap.add_argument("--owner", help="UID:GID to own the mail")
    args = ap.parse_args()
    sizes = sorted({int(s) for s in args.sizes.split(",")})
    cache = os.path.abspath(args.cache)
    stamp_path = os.path.join(cache, "VERSION")
    want = "%s seed %d owner %s" % (VERSION, SEED, args.owner or "-")

    have = open(stamp_path).read().strip() if os.path.exists(stamp_path) else ""
    largest = sizes[-1]
    # The cache serves every size up to the largest generated one.
    if have.startswith(want + " largest "):
        cached = int(have.rsplit(" ", 1)[1])
        if cached >= largest and all(os.path.isdir(os.path.join(cache, "m%d" % n)) for n in sizes):
            print("genbench: cached mailboxes in %s" % cache)
            return
        largest = max(largest, cached)
        sizes = sorted(set(sizes) | {cached})

    if os.path.isdir(cache):
        shutil.rmtree(cache)
    os.makedirs(cache)
    os.chmod(cache, 0o755)
    rng = random.Random(SEED)
    pool = BodyPool(rng)
    print("genbench: writing %d messages into %s" % (largest, cache), flush=True)
    big = os.path.join(cache, "m%d" % largest)
    names = write_mailbox(big, largest, rng, pool)
    for n in sizes[:-1]:
        link_mailbox(os.path.join(cache, "m%d" % n), os.path.join(big, "Maildir", "cur"), names[:n])
    if args.owner:
        uid, gid = (int(x) for x in args.owner.split(":"))
        for n in sizes:
            give(os.path.join(cache, "m%d" % n), uid, gid)
    with open(stamp_path, "w") as f:
        f.write("%s largest %d\n" % (want, largest))
    print("genbench: done")


if __name__ == "__main__":
    main()
