#!/usr/bin/env python3
"""Writes the interop mailbox: everyday messages whose headers are hard to read right.

usage: mailbox.py OUTDIR

Writes OUTDIR/Maildir/{new,cur,tmp} (one file per message, LF line ends, in message order) and
OUTDIR/mbox (the same messages, "From " lines of bodies quoted with ">"), byte for byte the same
every run. Each message's Message-ID names its case (<NN.case@interop.example>), so a report can
say which case a row is about whatever number a server gives it.

The header of each message is written by hand, byte by byte, because the point is the odd bytes;
MIME bodies come from Python's email package.
"""
import base64
import email.policy
import os
import shutil
import sys
import time
from email.message import EmailMessage

# Messages live in one year; each gets the next hour, so dates and file names follow the order.
BASE = 1704700800  # Mon, 08 Jan 2024 08:00:00 +0000
POLICY = email.policy.SMTP.clone(linesep="\n", max_line_length=78)


def ew(text, charset="utf-8", enc="q"):
    """One RFC 2047 encoded word for text, in the given charset and encoding."""
    data = text.encode(charset)
    if enc.lower() == "b":
        return "=?%s?%s?%s?=" % (charset, enc, base64.b64encode(data).decode())
    out = []
    for byte in data:
        c = chr(byte)
        if c == " ":
            out.append("_")
        elif c.isascii() and (c.isalnum() or c in "!*+-/"):
            out.append(c)
        else:
            out.append("=%02X" % byte)
    return "=?%s?%s?%s?=" % (charset, enc, "".join(out))


def text_body(text, charset="utf-8", cte="8bit"):
    """A single-part text/plain body: its MIME headers and the encoded text."""
    m = EmailMessage(policy=POLICY)
    m.set_content(text, charset=charset, cte=cte)
    return m


def mime_bytes(m):
    """The MIME headers and body of m, without MIME-Version (each message writes its own)."""
    raw = m.as_bytes(policy=POLICY)
    return b"".join(l for l in raw.splitlines(keepends=True) if not l.startswith(b"MIME-Version:"))


def plain(text):
    return ("Content-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: 8bit\n\n" + text).encode()


def alternative():
    m = EmailMessage(policy=POLICY)
    m.set_content("Hola Ana,\n\nTe esperamos el jueves a las 19:00 en la terraza.\n\nUn saludo,\nMarta\n")
    m.add_alternative("<html><body><p>Hola Ana,</p><p>Te esperamos el <b>jueves</b> a las 19:00 "
                      "en la terraza.</p><p>Un saludo,<br>Marta</p></body></html>\n", subtype="html")
    m.set_boundary("=_alt_0001")
    return mime_bytes(m)


def mixed_with_attachment():
    m = EmailMessage(policy=POLICY)
    m.set_content("Adjunto la factura de enero.\n\nGracias,\nContabilidad\n")
    pdf = b"%PDF-1.4\n1 0 obj << /Type /Catalog >> endobj\ntrailer << /Root 1 0 R >>\n%%EOF\n" * 20
    m.add_attachment(pdf, maintype="application", subtype="pdf", filename="factura-enero.pdf")
    m.add_attachment("fecha;importe\n2024-01-31;1200,00\n".encode(), maintype="text", subtype="csv",
                     filename="resumen.csv")
    m.set_boundary("=_mixed_0002")
    return mime_bytes(m)


def html_only():
    m = EmailMessage(policy=POLICY)
    m.set_content("<!DOCTYPE html>\n<html><head><title>Ofertas</title></head><body>\n<h1>Rebajas de "
                  "invierno</h1>\n<p>Hasta un <strong>50&nbsp;%</strong> en abrigos.</p>\n</body></html>\n",
                  subtype="html", cte="quoted-printable")
    return mime_bytes(m)


def forwarded():
    inner = (b"From: Proveedor <ventas@proveedor.example>\nTo: jefe@empresa.example\n"
             b"Subject: Oferta anual\nDate: Fri, 05 Jan 2024 12:00:00 +0100\n"
             b"Message-ID: <inner.1@proveedor.example>\n\nLes enviamos la oferta anual.\n")
    return (b"Content-Type: multipart/mixed; boundary=\"=_fwd_0003\"\n\n"
            b"--=_fwd_0003\nContent-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: 8bit\n\n"
            + "Te reenvío el mensaje del proveedor.\n".encode() +
            b"\n--=_fwd_0003\nContent-Type: message/rfc822\nContent-Disposition: inline\n\n" + inner +
            b"\n--=_fwd_0003--\n")


def dot_lines():
    # Lines that start with "." must be byte-stuffed by the server (RFC 1939, 3); one is a lone ".".
    return plain("Lista de tareas:\n.\n.. dos puntos\n.profile del usuario\nFin.\n")


def date(n, zone="+0100"):
    t = time.gmtime(BASE + n * 3600)
    return time.strftime("%a, %d %b %Y %H:%M:%S ", t) + zone


def messages():
    """The cases, in mailbox order: (case, header text or bytes, MIME part as bytes)."""
    rcpt = "To: Ana <ana@example.es>\n"
    long_subject = ("Resumen semanal del proyecto: " +
                    ", ".join("tarea %d revisada" % i for i in range(1, 80)))
    refs = " ".join("<%04d.hilo@lista.example>" % i for i in range(1, 90))
    koi8_subject = "Привет из Москвы"
    koi8_from = "Иван Петров"
    cases = [
        ("ascii-plain", "From: John Smith <john.smith@example.com>\n" + rcpt +
         "Subject: Meeting notes for Monday\nDate: %s\n" % date(1, "+0000"),
         plain("Hi Ana,\n\nAttached are the notes from the meeting.\n\nJohn\n")),
        ("ascii-bare-address", "From: billing@utilities.example\n" + rcpt +
         "Subject: Your invoice 2024-0117 is ready\nDate: %s\n" % date(2, "-0500"),
         plain("Your invoice is ready. Amount due: 54.20 USD.\n")),
        ("ascii-angle-only", "From: <noreply@tienda.example>\n" + rcpt +
         "Subject: Pedido 48213 enviado\nDate: %s\n" % date(3), plain("Su pedido ha salido del almacén.\n")),
        ("latin1-q", "From: %s <jmgarcia@example.es>\n" % ew("José María García", "iso-8859-1") + rcpt +
         "Subject: %s\nDate: %s\n" % (ew("Reunión del miércoles", "iso-8859-1"), date(4)),
         plain("¿Te viene bien a las diez?\n")),
        ("latin1-b", "From: %s <luis@example.es>\n" % ew("Luis Martínez", "ISO-8859-1", "B") + rcpt +
         "Subject: %s\nDate: %s\n" % (ew("Cañas y tapas el viernes", "ISO-8859-1", "B"), date(5)),
         plain("¿Os apuntáis?\n")),
        ("utf8-q", "From: %s <maria.lopez@example.es>\n" % ew("María López") + rcpt +
         "Subject: %s\nDate: %s\n" % (ew("Confirmación de reserva nº 5521", "UTF-8", "Q"), date(6)),
         plain("Su reserva está confirmada.\n")),
        ("utf8-b", "From: %s <angel@example.es>\n" % ew("Ángel Muñoz", "utf-8", "b") + rcpt +
         "Subject: %s\nDate: %s\n" % (ew("¿Quedamos el sábado? 🎉", "UTF-8", "B"), date(7)),
         plain("Podemos ir al cine.\n")),
        ("split-utf8-char", "From: Pilar <pilar@example.es>\n" + rcpt +
         "Subject: La =?utf-8?q?cig=C3=BCe=C3?= =?utf-8?q?=B1a?= ha vuelto al campanario\n"
         "Date: %s\n" % date(8), plain("Ya está en el nido.\n")),
        ("raw-utf8", "From: Señora Núñez <nunez@example.es>\n" + rcpt +
         "Subject: Año nuevo … 20 € por persona\nDate: %s\n" % date(9), plain("¡Feliz año!\n")),
        # Not valid UTF-8: a reader falls back to Windows-1252 (0x80 is the euro sign there).
        ("raw-latin1", "From: Jesús Peña <jesus@example.es>\n".encode("cp1252") + rcpt.encode() +
         "Subject: Presupuesto: 1.200 € (IVA incluido)\nDate: %s\n".encode("cp1252") % date(10).encode(),
         plain("Queda a la espera de su respuesta.\n")),
        ("folded-subject-blanks", "From: Reports <reports@example.com>\n" + rcpt +
         "Subject: This is a fairly long subject line about the quarterly\n report and the budget review\n"
         "Date: %s\n" % date(11, "+0000"), plain("See the report.\n")),
        ("folded-subject-tab", "From: Contabilidad <conta@empresa.example>\n" + rcpt +
         "Subject: Informe trimestral:\n\tventas y gastos del primer trimestre\nDate: %s\n" % date(12),
         plain("Adjunto el informe.\n")),
        ("folded-from-blanks", "From: Ana Maria Perez\n    <ana.perez@example.es>\n" + rcpt +
         "Subject: %s\nDate: %s\n" % (ew("Fotos de la excursión"), date(13)), plain("Te mando las fotos.\n")),
        ("folded-from-tab", "From: %s\n\t<jose@example.es>\n" % ew("José", "iso-8859-1") + rcpt +
         "Subject: Llamada pendiente\nDate: %s\n" % date(14), plain("Llámame cuando puedas.\n")),
        ("lower-case-names", "from: Bob Lee <bob@example.org>\nto: ana@example.es\nsubject: lower case field "
         "names\ndate: %s\nmessage-id: <{id}>\n" % date(15, "+0000"), plain("Sent by a small script.\n")),
        ("upper-case-names", "FROM: Alerts <ALERTS@MONITOR.EXAMPLE>\nTO: ana@example.es\nSUBJECT: DISK SPACE "
         "LOW ON SRV-02\nDATE: %s\n" % date(16, "+0000"), plain("Disk /var is 93% full.\n")),
        # Resent fields below the originals: the last From-like and Date-like fields win.
        ("resent-after-from", "From: Proveedor <ventas@proveedor.example>\n" + rcpt +
         "Subject: Oferta anual\nDate: %s\nResent-From: %s <secretaria@empresa.example>\n"
         "Resent-Date: %s\n" % (date(17), ew("Secretaría"), date(18)), plain("Reenviado por secretaría.\n")),
        ("x-original-from", "From: Lista de vecinos <vecinos@lists.example>\n" + rcpt +
         "Subject: [vecinos] Junta del martes\nDate: %s\nX-Original-From: Carlos Ruiz <carlos@example.es>\n"
         "List-Id: <vecinos.lists.example>\n" % date(19), plain("Recordad la junta.\n")),
        # The usual order (RFC 5322, 3.6.6: resent blocks are prepended): here From is the last one.
        ("resent-before-from", "Resent-From: Conserje <conserje@empresa.example>\nResent-Date: %s\n"
         "From: Marta Gil <marta@example.es>\n" % date(20) + rcpt + "Subject: %s\nDate: %s\n" % (ew("Paquete en conserjería"), date(20, "+0000")), plain("Tienes un paquete.\n")),
        ("dkim-below-from", "From: Newsletter <news@shop.example>\n" + rcpt + "Subject: Novedades de enero\n"
         "Date: %s\nDKIM-Signature: v=1; a=rsa-sha256; c=relaxed/relaxed; d=shop.example; s=s1;\n"
         "\th=from:to:subject:date:message-id;\n\tbh=47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=;\n"
         "\tb=dGhpcyBpcyBub3QgYSByZWFsIHNpZ25hdHVyZQ==\n" % date(21), plain("Nuevos productos.\n")),
        ("dkim-fold-starts-with-from", "DKIM-Signature: v=1; a=rsa-sha256; c=relaxed/relaxed;\n"
         "        d=gmail.example; s=20230601; t=1704800000; x=1705404800;\n        h=mime-version:\n"
         "        from:date:message-id:subject:to;\n        bh=frcCV1k9oG9oKj3dpUqdJg1PxRT2RSN/XKdLCPjaYaY=;\n"
         "        b=c2lnbmF0dXJl\nMIME-Version: 1.0\nFrom: Elena Sanz <elena.sanz@gmail.example>\n"
         "Date: %s\nMessage-ID: <{id}>\nSubject: Re: Cena\n" % date(22) + rcpt, plain("¡Allí estaré!\n")),
        ("spam-report-below-date", "From: Promo <promo@ofertas.example>\n" + rcpt + "Subject: Oferta\n"
         "Date: %s\nX-Spam-Flag: NO\nX-Spam-Report:\n\t*  0.5 DATE_IN_PAST_03_06 Date: is 3 to 6 hours before"
         " Received: date\n\t*  0.1 SUBJ_ALL_CAPS Subject: is all capitals\n\t*  0.0 HTML_MESSAGE BODY: HTML "
         "included in message\n" % date(23), plain("Solo hoy.\n")),
        ("x-comment-from", "From: %s <recepcion@hotel.example>\nX-Comment: sent from: "
         "jefe@empresa.example\n" % ew("Recepción") + rcpt + "Subject: Su estancia\nDate: %s\n" % date(24),
         plain("Gracias por su visita.\n")),
        # An mbox separator that a mail program kept at the top of the message.
        ("mbox-from-line", "From jefe@empresa.example Tue Jan 09 08:00:00 2024\n"
         "From: Jefe <jefe@empresa.example>\n" + rcpt + "Subject: Copia de la bandeja antigua\n"
         "Date: %s\n" % date(25), plain("From now on, use the new address.\nFrom: this line is body text.\n")),
        ("quoted-comma", "From: \"Smith, John\" <john.smith@example.com>\n" + rcpt +
         "Subject: Re: Contract\nDate: %s\n" % date(26, "+0000"), plain("Signed.\n")),
        ("encoded-comma", "From: %s <jose.garcia@example.es>\n" % ew("García, José") + rcpt +
         "Subject: Factura\nDate: %s\n" % date(27), plain("Adjunta.\n")),
        ("quoted-backslash", "From: \"Ana \\\"la jefa\\\" Ruiz\" <ana.ruiz@example.es>\n" + rcpt +
         "Subject: Vacaciones\nDate: %s\n" % date(28), plain("Aprobadas.\n")),
        ("group-to", "From: Ayuntamiento <info@ayto.example>\nTo: undisclosed-recipients:;\n"
         "Subject: Corte de agua el lunes\nDate: %s\n" % date(29), plain("De 9 a 14 h.\n")),
        ("no-subject", "From: Pablo <pablo@example.es>\n" + rcpt + "Date: %s\n" % date(30),
         plain("Te olvidaste las llaves.\n")),
        ("no-date", "From: Old Script <cron@legacy.example>\n" + rcpt + "Subject: Nightly backup done\n",
         plain("OK\n")),
        ("long-subject-line", "From: Proyecto <proyecto@empresa.example>\n" + rcpt +
         "Subject: %s\nDate: %s\nReferences: %s\n" % (long_subject, date(32), refs), plain("Resumen.\n")),
        ("qp-body", "From: Banco <avisos@banco.example>\n" + rcpt + "Subject: Movimiento en su cuenta\n"
         "Date: %s\n" % date(33), mime_bytes(text_body("Cargo de 35,00 € en su tarjeta terminada en 1234.\n"
                                                       "Si no lo reconoce, llámenos.\n", cte="quoted-printable"))),
        ("base64-body", "From: Agenda <agenda@example.es>\n" + rcpt + "Subject: Recordatorio: dentista\n"
         "Date: %s\n" % date(34), mime_bytes(text_body("Cita el martes a las 17:30.\n", cte="base64"))),
        ("multipart-alternative", "From: Marta <marta@example.es>\n" + rcpt + "Subject: %s\n"
         "Date: %s\nMIME-Version: 1.0\n" % (ew("Invitación"), date(35)), alternative()),
        ("multipart-mixed", "From: Contabilidad <conta@empresa.example>\n" + rcpt + "Subject: Factura de enero\n"
         "Date: %s\nMIME-Version: 1.0\n" % date(36), mixed_with_attachment()),
        ("html-only", "From: Tienda <ofertas@tienda.example>\n" + rcpt + "Subject: Rebajas de invierno\n"
         "Date: %s\nMIME-Version: 1.0\n" % date(37), html_only()),
        ("forwarded-rfc822", "From: Secretaria <secretaria@empresa.example>\n" + rcpt +
         "Subject: Fwd: Oferta anual\nDate: %s\nMIME-Version: 1.0\n" % date(38), forwarded()),
        ("latin1-body", "From: Abuela <abuela@example.es>\n" + rcpt + "Subject: Receta de croquetas\n"
         "Date: %s\nMIME-Version: 1.0\n" % date(39),
         mime_bytes(text_body("Bechamel espesa, jamón picadito y paciencia. ¡Ánimo!\n", "iso-8859-1"))),
        ("koi8r-body", "From: %s <ivan@example.ru>\n" % ew(koi8_from, "koi8-r", "B") + rcpt +
         "Subject: %s\nDate: %s\nMIME-Version: 1.0\n" % (ew(koi8_subject, "koi8-r", "B"), date(40, "+0300")),
         mime_bytes(text_body("Добрый день! Высылаю документы.\n", "koi8-r"))),
        ("dot-stuffing", "From: Tareas <tareas@example.es>\n" + rcpt + "Subject: Lista de tareas\n"
         "Date: %s\n" % date(41), dot_lines()),
        ("date-leading-blanks", "From: Renfe <avisos@tren.example>\n" + rcpt + "Subject: Su billete\n"
         "Date:     Tue, 9 Jan 2024 07:05:00 +0100 (CET)\n", plain("Coche 5, plaza 12A.\n")),
        ("date-folded", "From: Calendario <cal@example.es>\n" + rcpt + "Subject: Evento\n"
         "Date: Wed, 10 Jan 2024\n 18:30:00 +0100\n", plain("Cumpleaños de Lucía.\n")),
        ("windows-1252-ew", "From: Outlet <news@outlet.example>\n" + rcpt + "Subject: %s\nDate: %s\n" %
         (ew("€ 50 de descuento – sólo hoy", "windows-1252"), date(44)), plain("Aprovecha.\n")),
        ("iso-8859-15-ew", "From: %s <libros@example.es>\n" % ew("Librería") + rcpt + "Subject: %s\nDate: %s\n" %
         (ew("Precio: 30 €", "iso-8859-15"), date(45)), plain("Novedad.\n")),
        # Not allowed by RFC 2047 (5), written by real programs all the same.
        ("encoded-word-in-quotes", "From: \"%s\" <jmunoz@example.es>\n" % ew("José Muñoz") + rcpt +
         "Subject: Llaves\nDate: %s\n" % date(46), plain("Las dejo en portería.\n")),
        ("comment-in-from", "From: john@example.com (John Smith)\n" + rcpt + "Subject: Old style sender\n"
         "Date: %s\n" % date(47, "+0000"), plain("Hi.\n")),
        ("two-authors", "From: ana@example.es, luis@example.es\nSender: luis@example.es\n" + rcpt +
         "Subject: Propuesta conjunta\nDate: %s\n" % date(48), plain("Os la mandamos los dos.\n")),
        ("encoded-word-and-text", "From: Lista <lista@lists.example>\n" + rcpt + "Subject: Re: [lista] %s "
         "(urgente)\nDate: %s\n" % (ew("Presupuesto mañana"), date(49)), plain("Confirmado.\n")),
        ("encoded-words-with-blanks", "From: Web <web@example.es>\n" + rcpt + "Subject: %s   \t %s\n"
         "Date: %s\n" % (ew("Hola"), ew(" mundo"), date(50)), plain("Prueba.\n")),
    ]
    for n, (case, head, body) in enumerate(cases, 1):
        msgid = "%02d.%s@interop.example" % (n, case)
        if isinstance(head, str):
            head = head.encode()
        if b"{id}" in head:
            head = head.replace(b"{id}", msgid.encode())
        else:
            head += b"Message-ID: <%s>\n" % msgid.encode()
        if b"MIME-Version:" not in head and b"MIME-VERSION:" not in head.upper():
            head += b"MIME-Version: 1.0\n"
        yield case, head + body


def write(outdir):
    maildir = os.path.join(outdir, "Maildir")
    shutil.rmtree(maildir, ignore_errors=True)
    for sub in ("new", "cur", "tmp"):
        os.makedirs(os.path.join(maildir, sub))
    with open(os.path.join(outdir, "mbox"), "wb") as mbox:
        for n, (case, raw) in enumerate(messages(), 1):
            stamp = BASE + n * 3600
            # Names sort in message order; the time in them and the file's mtime agree.
            path = os.path.join(maildir, "new", "%d.M%06dP1.interop" % (stamp, n))
            with open(path, "wb") as f:
                f.write(raw)
            os.utime(path, (stamp, stamp))
            mbox.write(time.strftime("From ana@example.es %a %b %e %H:%M:%S %Y\n", time.gmtime(stamp)).encode())
            for line in raw.splitlines(keepends=True):
                # mboxo/mboxrd quoting: a line that would read as a separator gets a ">".
                stripped = line.lstrip(b">")
                mbox.write(b">" + line if stripped.startswith(b"From ") else line)
            mbox.write(b"\n")
    return n


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    n = write(sys.argv[1])
    print("%d messages in %s" % (n, sys.argv[1]))


if __name__ == "__main__":
    main()
