# The "demo" mailbox: a believable Spanish inbox (newsletters, invoices, friends, work, obvious spam)
# to show the program with. The seed varies dates and the order within each day, nothing else.
from datetime import timedelta

from mailkit import Mail, b_word, finish, fold_list, q_word, split_words

ME = "Carmen López <carmen.lopez@example.es>"
ME_RAW = q_word("Carmen López", "iso-8859-1") + " <carmen.lopez@example.es>"


def sender(name, addr, how):
    """From value as written and as read; how: 'q', 'b', 'quoted', 'plain' or 'bare' (names that are not
    ASCII are always encoded)."""
    if not name.isascii() and how in ("quoted", "plain"):
        how = "q"
    human = "%s <%s>" % (name, addr) if how != "bare" else addr
    raw = {
        "q": lambda: "%s <%s>" % (q_word(name, "utf-8"), addr),
        "b": lambda: "%s <%s>" % (b_word(name, "UTF-8"), addr),
        "quoted": lambda: '"%s" <%s>' % (name, addr),
        "plain": lambda: "%s <%s>" % (name, addr),
        "bare": lambda: addr,
    }[how]()
    return raw, ('"%s" <%s>' % (name, addr) if how == "quoted" else human)


def subject(text):
    """Subject as written: plain when ASCII, otherwise Q or B words split over folded lines."""
    if text.isascii():
        return text
    if len(text) > 40:
        cut = len(text) // 2
        return split_words(text, [cut], lambda t: b_word(t, "UTF-8"))
    return q_word(text, "utf-8")


# (sender name, address, how, subject, body paragraphs, cc names)
MESSAGES = [
    ("El Boletín Digital", "boletin@elboletin.example", "b", "Boletín semanal: las noticias de la semana",
     ["Resumen de la semana: tiempo, deportes y cultura.", "Para darse de baja responda a este correo."], []),
    ("Iberluz Energía", "facturas@iberluz.example", "q", "Su factura de electricidad de noviembre",
     ["Importe: 64,32 euros. Cargo en cuenta el día 5.", "Consulte el detalle en su área de cliente."], []),
    ("Javier Moreno", "javi.moreno@example.com", "plain", "Fotos de la excursión",
     ["¡Hola Carmen! Te paso las fotos de la excursión a la sierra.", "Un abrazo, Javi"], ["Lucía Fernández"]),
    ("ofertas", "ofertas@chollazos.example", "bare", "Oferta única: 90% de descuento solo hoy",
     ["¡¡Oferta única!! Compre ya, quedan pocas unidades.", "Pulse aquí para reclamar su descuento."], []),
    ("Lucía Fernández", "lucia.f@example.net", "q", "¿Quedamos el jueves?",
     ["¿Te viene bien el jueves a las siete en la cafetería de siempre?"], []),
    ("Movistela", "no-responder@movistela.example", "quoted", "Factura móvil - diciembre",
     ["Su factura de diciembre ya está disponible.", "Importe total: 19,90 euros."], []),
    ("Premios Internacionales", "ganador@premios-gratis.example", "b", "¡Enhorabuena! Ha ganado un iPhone",
     ["Ha sido seleccionado como ganador. Envíe sus datos bancarios para recibir el premio."], []),
    ("Biblioteca Municipal", "biblioteca@ayto.example", "plain", "Novedades de diciembre en la biblioteca",
     ["Nuevas novelas, talleres infantiles y club de lectura los martes."], []),
    ("Comunidad de Vecinos", "administrador@fincas.example", "q", "Recibo de la comunidad - enero",
     ["Se pasará al cobro el recibo trimestral de la comunidad.", "Derrama aprobada: ascensor."],
     ["Javier Moreno"]),
    ("Dinero Fácil", "info@ganar-desde-casa.example", "q", "Gane 5.000 € al mes desde casa",
     ["Sin experiencia. Sin inversión. Solo necesita un ordenador."], []),
    ("Andrés Gil", "andres.gil@trabajo.example", "plain", "Re: Informe del proyecto Atalaya",
     ["Gracias, Carmen. Reviso el informe y te digo algo mañana."], ["Lucía Fernández", "Javier Moreno"]),
    ("Banco Seguro", "seguridad@banco-seguro.example", "plain", "URGENTE: verifique su cuenta bancaria",
     ["Su cuenta será bloqueada en 24 horas si no verifica sus datos."], []),
    ("Abuela Pilar", "pilar.lopez@example.es", "b", "Comida del domingo",
     ["Hija, el domingo hago paella. Venid a las dos.", "Besos, la abuela."], []),
    ("Renfe Viajes", "billetes@trenes.example", "quoted", "Su billete Madrid - Valencia",
     ["Localizador: K7X2QP. Salida 08:30, coche 5, plaza 12A."], []),
    ("Préstamos Ya", "prestamos@credito-rapido.example", "q", "Préstamo inmediato sin aval ni papeleos",
     ["Hasta 10.000 euros en 10 minutos. Sin preguntas."], []),
    ("Club de Montaña", "club@montana.example", "plain", "Salida al Moncayo: inscripciones abiertas",
     ["La salida será el 14. Plazas limitadas.", "Material: botas, agua y ropa de abrigo."],
     ["Javier Moreno"]),
    ("Lucía Fernández", "lucia.f@example.net", "q", "Re: ¿Quedamos el jueves?",
     ["Perfecto, nos vemos allí."], []),
    ("Agua de Canal", "clientes@aguas.example", "quoted", "Factura del agua: segundo bimestre",
     ["Consumo: 14 m³. Importe: 31,07 euros."], []),
    ("Farmacia Online", "ventas@pastillas-baratas.example", "bare", "Pastillas milagrosas al mejor precio",
     ["Oferta única en pastillas para adelgazar. Envío discreto."], []),
    ("Recursos Humanos", "rrhh@trabajo.example", "plain", "Calendario laboral del año que viene",
     ["Adjuntamos el calendario laboral con los festivos locales y autonómicos."],
     ["Andrés Gil", "Lucía Fernández"]),
    ("Javier Moreno", "javi.moreno@example.com", "plain", "Cumpleaños de Lucía",
     ["¿Ponemos algo entre todos para el regalo de Lucía? Propongo 15 euros cada uno."], ["Andrés Gil"]),
    ("Revista Cocina Fácil", "newsletter@cocinafacil.example", "b", "Recetas de Navidad: turrón casero y cordero",
     ["Diez recetas fáciles para estas fiestas."], []),
    ("Lotería Mundial", "premio@loteria-mundial.example", "q", "Oferta única: reclame su premio millonario",
     ["Usted ha ganado 1.000.000 de euros. Pague solo los gastos de gestión."], []),
    ("Seguros Hogar", "polizas@seguroshogar.example", "quoted", "Renovación de su póliza de hogar",
     ["Su póliza se renovará automáticamente el día 1."], []),
    ("Andrés Gil", "andres.gil@trabajo.example", "plain", "Reunión de seguimiento del lunes",
     ["Movemos la reunión del lunes a las 11:30."], ["Recursos Humanos"]),
    ("Tienda Deportes", "pedidos@deportes.example", "plain", "Pedido 88231 enviado",
     ["Su pedido ha sido enviado. Llegará en 48 horas."], []),
    ("Ayuntamiento", "tributos@ayto.example", "q", "Aviso de cobro del IBI",
     ["El recibo del impuesto sobre bienes inmuebles se cargará el día 20."], []),
    ("Casino Royal", "vip@casino-royal.example", "b", "Bono de bienvenida: 500 € gratis para jugar",
     ["Regístrese hoy y consiga 500 euros de regalo."], []),
    ("Lucía Fernández", "lucia.f@example.net", "q", "Gracias por el regalo",
     ["¡Me ha encantado! Gracias a todos.", "Lucía"], ["Javier Moreno", "Andrés Gil"]),
    ("Oficina Virtual", "avisos@oficina-virtual.example", "bare", "Su certificado digital caduca pronto",
     ["Renueve su certificado antes de que caduque."], []),
]
ADDRESSES = {name: addr for name, addr, *_ in MESSAGES}
SPAM_DOMAINS = {"chollazos.example", "premios-gratis.example", "ganar-desde-casa.example", "banco-seguro.example",
                "credito-rapido.example", "pastillas-baratas.example", "loteria-mundial.example",
                "casino-royal.example"}


def build(rng, count, when):
    mails = []
    for i, (name, addr, how, text, paragraphs, cc) in enumerate(MESSAGES[:count]):
        m = Mail("spam" if addr.split("@")[1] in SPAM_DOMAINS else "ham")
        raw, human = sender(name, addr, how)
        m.add("From", raw, human)
        m.add("Subject", subject(text), text)
        if i % 3 == 0:
            m.add("To", fold_list([ME_RAW, "familia@example.es", "%s <%s>" % (
                q_word("Lucía Fernández"), ADDRESSES["Lucía Fernández"])], "\n ", 2))
        else:
            m.add("To", ME_RAW)
        if cc:
            m.add("Cc", ", ".join('"%s" <%s>' % (n, ADDRESSES[n]) if n.isascii() else
                                  "%s <%s>" % (q_word(n), ADDRESSES[n]) for n in cc))
        m.add("MIME-Version", "1.0").add("Content-Type", "text/plain; charset=utf-8")
        m.add("Content-Transfer-Encoding", "8bit")
        m.text(*paragraphs)
        when += timedelta(hours=rng.randint(1, 20), minutes=rng.randint(0, 59))
        finish(m, when.strftime("%a, %d %b %Y %H:%M:%S +0100"), "<demo-%03d@fixture.invalid>" % (i + 1))
        mails.append(m)
    return mails
