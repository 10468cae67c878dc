# The "test" mailbox: every header shape the client must read, then seeded ordinary mail.
# Each unusual message carries a tag in the manifest so tests find it by what it shows, not by number.
import email.message
import email.policy
from datetime import timedelta, timezone
from email.headerregistry import Address

from mailkit import Mail, b_word, finish, fold_list, q_word, split_words

PEOPLE = [
    ("Ana Martin", "ana@example.com"),
    ("Luis Gomez", "luis.gomez@example.org"),
    ("Marta Ruiz", "marta.ruiz@example.net"),
    ("Pedro Sanz", "psanz@example.es"),
    ("Elena Vidal", "elena@example.com"),
    ("Tomas Ortega", "tortega@example.org"),
]
ACCENTED = [("José Pérez", "jose.perez@example.es"), ("Begoña Muñoz", "begona@example.es"),
            ("Iñaki Ibáñez", "inaki@example.org"), ("María Núñez", "maria.nunez@example.com")]
WORDS = ("el la de que y en un una para con por los las se su informe reunión proyecto cliente factura "
         "entrega revisión semana lunes martes plazo presupuesto equipo datos servidor copia correo "
         "mensaje adjunto versión cambio prueba resultado pedido envío documento lista").split()
SUBJECTS = ["Informe semanal", "Re: Presupuesto", "Pedido 4471", "Copia de seguridad completada",
            "Acta de la reunión", "Fwd: Horario de verano", "Cambio de contraseña", "Entrega del proyecto",
            "Re: Re: Vacaciones", "Nueva versión disponible", "Resultados de la prueba", "Envío confirmado"]


def date(when, style):
    """A Date value for the instant when, in one of the shapes seen in real mail."""
    zone = [1, 1, -5, 1, 0][style % 5]
    t = when.astimezone(timezone(timedelta(hours=zone)))
    core = "%d %s %d %s" % (t.day, t.strftime("%b"), t.year, t.strftime("%H:%M:%S"))
    return [
        t.strftime("%a, %d %b %Y %H:%M:%S +0100"),
        "%s, %s +0100" % (t.strftime("%a"), core),
        "%s -0500" % core,
        "%s, %s +0100 (CET)" % (t.strftime("%a"), core),
        "%s, %s GMT" % (t.strftime("%a"), core),
    ][style % 5]


def body(rng, lines):
    out = []
    for _ in range(lines):
        n = rng.randint(4, 12)
        line = " ".join(rng.choice(WORDS) for _ in range(n))
        out.append(line[0].upper() + line[1:] + ".")
    return out


def python_written(msg_from, subject, to):
    """A message as Python's email package writes it: folds are a line break and one blank."""
    m = email.message.EmailMessage(policy=email.policy.default)
    m["From"] = msg_from
    m["To"] = to
    m["Subject"] = subject
    return m


def unusual(rng):
    """The messages with a header or body shape of their own, in a fixed order."""
    mails = []

    m = Mail("latin1-q-from", "latin1-body")
    m.add("From", "=?iso-8859-1?q?Jos=E9_P=E9rez?= <jose.perez@example.es>", "José Pérez <jose.perez@example.es>")
    m.add("To", "Ana Martin <ana@example.com>").add("Subject", "Presupuesto de la obra", "Presupuesto de la obra")
    m.add("MIME-Version", "1.0").add("Content-Type", "text/plain; charset=iso-8859-1")
    m.add("Content-Transfer-Encoding", "8bit")
    m.body_charset = "iso-8859-1"
    m.text("Hola Ana:", "Te envío el presupuesto de la obra del baño. El importe es de 1.250 euros más IVA.",
           "Un saludo, José")
    mails.append(m)

    m = Mail("utf8-b-subject", "quoted-name", "to-cc-lists")
    m.add("From", "Luis Gomez <luis.gomez@example.org>", "Luis Gomez <luis.gomez@example.org>")
    m.add("Subject", b_word("Reunión del miércoles", "utf-8", upper=False), "Reunión del miércoles")
    m.add("To", '"Garcia, Luis" <lgarcia@example.org>, Ana Martin <ana@example.com>, bare@example.net')
    m.add("Cc", '"Ruiz, Marta (Ventas)" <marta.ruiz@example.net>, ' + q_word("Iñaki Ibáñez") + " <inaki@example.org>")
    m.text("Confirmo la reunión del miércoles a las 10:00 en la sala 2.")
    mails.append(m)

    long_subject = "Convocatoria de la asamblea extraordinaria de propietarios del edificio Núñez de Balboa"
    m = Mail("long-subject-q", "adjacent-words", "blank-fold")
    m.add("From", "Elena Vidal <elena@example.com>")
    m.add("Subject", split_words(long_subject, [17, 40, 61], lambda t: q_word(t, "utf-8")), long_subject)
    m.text("Se convoca a todos los propietarios a la asamblea del día 20.")
    mails.append(m)

    long_subject = "Resumen mensual: sincronización de cuentas y facturación electrónica pendiente"
    m = Mail("long-subject-b", "adjacent-words", "tab-fold")
    m.add("From", b_word("Begoña Muñoz", "ISO-8859-1") + " <begona@example.es>", "Begoña Muñoz <begona@example.es>")
    m.add("Subject", "Re: " + split_words(long_subject, [23, 49], lambda t: b_word(t, "UTF-8"), "\n\t"),
          "Re: " + long_subject)
    m.text("Adjunto el resumen mensual.")
    mails.append(m)

    py = python_written(Address("María Núñez", "maria.nunez", "example.com"),
                        "Invitación a la presentación del nuevo catálogo de productos de otoño e invierno",
                        [Address(n, *a.split("@")) for n, a in PEOPLE + ACCENTED[:2]])
    py.set_content("Estáis todos invitados a la presentación.\n")
    m = Mail("python-written", "blank-fold", "to-cc-lists")
    m.py = py
    m.human = {"from": "María Núñez <maria.nunez@example.com>",
               "subject": "Invitación a la presentación del nuevo catálogo de productos de otoño e invierno"}
    mails.append(m)

    m = Mail("tab-fold")
    m.add("From", "Tomas Ortega <tortega@example.org>")
    m.add("Subject", "Informe trimestral de ventas\n\tcorrespondiente al tercer trimestre",
          "Informe trimestral de ventas correspondiente al tercer trimestre")
    m.add("To", fold_list(["%s <%s>" % p for p in PEOPLE[:4]], "\n\t"))
    m.text("Os paso el informe trimestral.")
    mails.append(m)

    m = Mail("wide-fold", "to-cc-lists")
    m.add("From", "Pedro Sanz <psanz@example.es>")
    m.add("Subject", "Turnos de\n        guardia", "Turnos de guardia")
    m.add("To", "ana@example.com")
    m.add("Cc", fold_list([a for _, a in PEOPLE[1:]], "\n        ", 1))
    m.text("Cuadrante de guardias de diciembre.")
    mails.append(m)

    m = Mail("quoted-name")
    m.add("From", '"Marta Ruiz (Ventas)" <ventas@example.net>', '"Marta Ruiz (Ventas)" <ventas@example.net>')
    m.add("Subject", "Pedido 4471 enviado")
    m.text("Su pedido ha salido hoy.")
    mails.append(m)

    m = Mail("bare-sender")
    m.add("From", "boletin@example.net", "boletin@example.net").add("Subject", "Boletin de noticias")
    m.add("To", "ana@example.com")
    m.text("Noticias de la semana.")
    mails.append(m)

    m = Mail("lowercase-headers")
    m.add("from", "Luis Gomez <luis.gomez@example.org>", "Luis Gomez <luis.gomez@example.org>")
    m.add("subject", "cabeceras en minusculas", "cabeceras en minusculas")
    m.add("to", "ana@example.com").add("date", None)
    m.text("Este mensaje escribe los nombres de las cabeceras en minúsculas.")
    mails.append(m)

    m = Mail("resent-from")
    m.add("From", "Elena Vidal <elena@example.com>", "Elena Vidal <elena@example.com>")
    m.add("Subject", "Reenviado por el sistema")
    m.add("Resent-From", "Sistema de avisos <avisos@example.org>").add("Resent-Date", None)
    m.text("El remitente es Elena; el reenvío lo hizo el sistema.")
    mails.append(m)

    m = Mail("dot-stuffed")
    m.add("From", "Pedro Sanz <psanz@example.es>").add("Subject", "Lineas con punto")
    m.text(["Lineas que empiezan por punto:", ".", "..", ".oculto", "...tres puntos", " .con blanco delante",
            "fin."])
    mails.append(m)

    m = Mail("no-body")
    m.add("From", "Ana Martin <ana@example.com>").add("Subject", "Sin cuerpo", "Sin cuerpo")
    mails.append(m)

    m = Mail("mixed-words")
    m.add("From", "Marta Ruiz <marta.ruiz@example.net>")
    m.add("Subject", "Re: %s confirmada" % q_word("Cena del sábado"), "Re: Cena del sábado confirmada")
    m.text("Confirmada la cena.")
    mails.append(m)

    m = Mail("q-escapes")
    m.add("From", q_word("Iñaki Ibáñez", "utf-8", upper=True) + " <inaki@example.org>",
          "Iñaki Ibáñez <inaki@example.org>")
    m.add("Subject", q_word("¿Vienes? archivo_final.pdf", "utf-8"), "¿Vienes? archivo_final.pdf")
    m.text("Te mando el archivo final.")
    mails.append(m)

    m = Mail("mixed-charsets", "adjacent-words")
    m.add("From", "Luis Gomez <luis.gomez@example.org>")
    m.add("Subject", q_word("España", "iso-8859-1") + " " + q_word(" y Portugal: año nuevo", "utf-8"),
          "España y Portugal: año nuevo")
    m.text("Ruta por la península.")
    mails.append(m)

    m = Mail("headers-in-body")
    m.add("From", "Elena Vidal <elena@example.com>", "Elena Vidal <elena@example.com>")
    m.add("Subject", "Fwd: Aviso", "Fwd: Aviso")
    m.text(["---------- Mensaje reenviado ----------", "From: Impostor <impostor@example.invalid>",
            "Subject: No es el asunto", "Date: Mon, 1 Jan 2024 00:00:00 +0000", "", "Texto reenviado."])
    mails.append(m)

    m = Mail("no-subject")
    m.add("From", "Tomas Ortega <tortega@example.org>").add("To", "ana@example.com")
    m.text("Mensaje sin asunto.")
    mails.append(m)

    m = Mail("no-date")
    m.add("From", "Pedro Sanz <psanz@example.es>").add("Subject", "Sin fecha")
    m.text("Este mensaje no lleva cabecera Date.")
    m.no_date = True
    mails.append(m)

    m = Mail("long-to-list", "to-cc-lists")
    m.add("From", "Ana Martin <ana@example.com>").add("Subject", "Convocatoria general")
    m.add("To", fold_list(["usuario%02d@example.com" % i for i in range(1, 13)], "\n ", 3))
    m.add("Cc", fold_list(["%s <%s>" % (q_word(n), a) for n, a in ACCENTED], "\n ", 2))
    m.text("Convocatoria para todo el departamento.")
    mails.append(m)

    m = Mail("big")
    m.add("From", "Servidor de copias <backup@example.org>").add("Subject", "Registro completo de la copia")
    m.text(body(rng, 90))
    mails.append(m)
    return mails


def ordinary(rng, n):
    """Seeded everyday mail."""
    m = Mail("ordinary")
    style = rng.randrange(4)
    if style == 0:
        name, addr = rng.choice(ACCENTED)
        m.add("From", "%s <%s>" % (rng.choice([q_word, b_word])(name), addr), "%s <%s>" % (name, addr))
    elif style == 1:
        m.add("From", "%s <%s>" % rng.choice(PEOPLE))
    elif style == 2:
        m.add("From", '"%s" <%s>' % rng.choice(PEOPLE))
    else:
        m.add("From", rng.choice(PEOPLE)[1])
    text = rng.choice(SUBJECTS) + " %d" % n
    m.add("Subject", text if text.isascii() else rng.choice([q_word, b_word])(text), text)
    people = rng.sample(PEOPLE, rng.randint(1, 3))
    m.add("To", ", ".join("%s <%s>" % p for p in people))
    if rng.random() < 0.4:
        m.add("Cc", ", ".join(a for _, a in rng.sample(PEOPLE, 2)))
    lines = rng.choice([2, 3, 5, 8, 20, 40])
    m.text(body(rng, lines))
    if rng.random() < 0.15:
        m.body.insert(rng.randrange(len(m.body)), ".%s" % rng.choice(WORDS))
    return m


def build(rng, count, when):
    """The mailbox in delivery order; Date values grow with the position."""
    mails = unusual(rng)
    while len(mails) < count:
        mails.append(ordinary(rng, len(mails) + 1))
    for i, m in enumerate(mails):
        when += timedelta(minutes=rng.randint(3, 400), seconds=rng.randint(0, 59))
        finish(m, date(when, i), "<test-%03d@fixture.invalid>" % (i + 1))
    return mails
