// The reply framing and the parsers of LIST, TOP and STAT replies, in data tables.
#include "Cp1252.h"
#include "KeptTexts.h"
#include "MessageHeader.h"
#include "Pop3Replies.h"

#include <QTest>

Q_DECLARE_METATYPE(std::optional<QList<ListEntry>>)

namespace {
QString q(const char* s) {
    return QString::fromUtf8(s);
}

/** Messages of some 200 bytes that fill the packer's dictionary twice over. */
constexpr int kFillsTheDictionary = int(KeptTextsPacker::kDictionaryBytes / 100);
} // namespace

class TestPop3Replies : public QObject {
    Q_OBJECT
private slots:
    void framing_data() {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<bool>("multiLine");
        QTest::addColumn<QStringList>("replies");
        QTest::newRow("one line") << QByteArray("+OK hi\r\n") << false << QStringList{q("+OK hi\r\n")};
        QTest::newRow("two one-line replies")
            << QByteArray("+OK\r\n-ERR no\r\n") << false << QStringList{q("+OK\r\n"), q("-ERR no\r\n")};
        QTest::newRow("one line not finished") << QByteArray("+OK hi\r") << false << QStringList{};
        QTest::newRow("multi-line") << QByteArray("+OK\r\n1 2\r\n.\r\n") << true
                                    << QStringList{q("+OK\r\n1 2\r\n.\r\n")};
        QTest::newRow("negative multi-line is one line")
            << QByteArray("-ERR x\r\n+OK\r\n.\r\n") << true << QStringList{q("-ERR x\r\n"), q("+OK\r\n.\r\n")};
        QTest::newRow("byte-stuffed lines") << QByteArray("+OK\r\n..a\r\n...\r\n.b\r\n.\r\n") << true
                                            << QStringList{q("+OK\r\n.a\r\n..\r\nb\r\n.\r\n")};
        QTest::newRow("dot inside a line is not the end") << QByteArray("+OK\r\na.\r\n .\r\n") << true << QStringList{};
        // Only CR LF "." CR LF ends a reply; a bare LF still gets its CR in the text.
        QTest::newRow("bare LF line ends never end a reply")
            << QByteArray("+OK\nA: b\n\nc\n.\n") << true << QStringList{};
        QTest::newRow("LF . CR LF inside is data") << QByteArray("+OK\r\nX: a\n.\r\n+OK\r\nb\r\n.\r\n") << true
                                                   << QStringList{q("+OK\r\nX: a\r\n.\r\n+OK\r\nb\r\n.\r\n")};
        QTest::newRow("CR . CR LF inside is data")
            << QByteArray("+OK\r\na\r.\r\nb\r\n.\r\n") << true << QStringList{q("+OK\r\na\r.\r\nb\r\n.\r\n")};
        QTest::newRow("a stuffed dot only after CR LF")
            << QByteArray("+OK\r\na\n..b\r\n.\r\n") << true << QStringList{q("+OK\r\na\r\n..b\r\n.\r\n")};
        QTest::newRow("end right after a status line with bare LF")
            << QByteArray("+OK\n.\r\n") << true << QStringList{q("+OK\r\n.\r\n")};
        QTest::newRow("empty multi-line") << QByteArray("+OK\r\n.\r\n") << true << QStringList{q("+OK\r\n.\r\n")};
        QTest::newRow("status line other than +OK is one line")
            << QByteArray("+ go on\r\n.\r\n") << true << QStringList{q("+ go on\r\n"), q(".\r\n")};
        QTest::newRow("8-bit text") << QByteArray("+OK\r\nSubject: Ma\xF1"
                                                  "ana\r\n.\r\n")
                                    << true << QStringList{q("+OK\r\nSubject: Mañana\r\n.\r\n")};
    }
    void framing() {
        QFETCH(QByteArray, input);
        QFETCH(bool, multiLine);
        QFETCH(QStringList, replies);
        const auto framing =
            multiLine ? ReplyAssembler::Framing::MultiLineIfPositive : ReplyAssembler::Framing::SingleLine;
        // Whole, then one byte per read: the same replies.
        for (int bytewise = 0; bytewise < 2; ++bytewise) {
            ReplyAssembler a;
            QStringList got;
            auto drain = [&] {
                while (auto r = a.takeReply(framing))
                    got << *r;
            };
            if (bytewise) {
                for (char c : input) {
                    a.append(QByteArrayView(&c, 1));
                    drain();
                }
            } else {
                a.append(input);
                drain();
            }
            QCOMPARE(got, replies);
            // What a server with bare LF line ends leaves pending is told apart, for the reason shown.
            QCOMPARE(a.endsWithLooseTerminator(), QByteArray(QTest::currentDataTag()).startsWith("bare LF"));
        }
    }

    void listReply_data() {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("expected"); // "num:bytes ..." or "fails"
        QTest::newRow("two messages") << q("+OK 2 messages\r\n1 120\r\n2 4800\r\n.\r\n") << q("1:120 2:4800");
        QTest::newRow("empty") << q("+OK\r\n.\r\n") << QString();
        QTest::newRow("no line break at all") << q("+OK") << QString();
        QTest::newRow("blank padding") << q("+OK\r\n3  77\r\n.\r\n") << q("3:77");
        QTest::newRow("other separator") << q("+OK\r\n3\t77\r\n.\r\n") << q("3:77");
        QTest::newRow("skipped lines") << q("+OK\r\n\r\n+x\r\n5 1\r\n.\r\n") << q("5:1");
        QTest::newRow("letters in size") << q("+OK\r\n1 12a\r\n.\r\n") << q("fails");
        QTest::newRow("no number") << q("+OK\r\nx 12\r\n.\r\n") << q("fails");
        QTest::newRow("no size") << q("+OK\r\n1\r\n.\r\n") << q("fails");
        QTest::newRow("negative size") << q("+OK\r\n1 -12\r\n.\r\n") << q("fails");
        QTest::newRow("size beyond 32 bits") << q("+OK\r\n1 2147483648\r\n.\r\n") << q("fails");
        QTest::newRow("number beyond 32 bits") << q("+OK\r\n99999999999 1\r\n.\r\n") << q("fails");
    }
    void listReply() {
        QFETCH(QString, reply);
        QFETCH(QString, expected);
        const auto entries = ParseListReply(reply);
        if (expected == u"fails") {
            QVERIFY(!entries);
            return;
        }
        QVERIFY(entries);
        QStringList got;
        for (const ListEntry& e : *entries)
            got << u"%1:%2"_qs.arg(e.num).arg(e.bytes);
        QCOMPARE(got.join(u' '), expected);
    }

    void headerReply_data() {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("subj");
        QTest::addColumn<QString>("fecha");
        QTest::addColumn<QStringList>("recipients");
        QTest::addColumn<QString>("body");
        const QString end = q("\r\n\r\ncuerpo\r\n.\r\n");
        QTest::newRow("plain") << q("+OK\r\nFrom: a@x.es\r\nSubject: Hola\r\nDate: Mon, 05 Aug 2002 10:20:30 +0200") +
                                      end
                               << q("a@x.es") << q("Hola") << q("Mon, 05 Aug 2002 10:20:30 +0200") << QStringList{}
                               << q("cuerpo");
        QTest::newRow("subject folded with TAB") << q("+OK\r\nSubject: Hola\r\n\tmundo") + end << QString()
                                                 << q("Hola mundo") << QString() << QStringList{} << q("cuerpo");
        QTest::newRow("subject folded over three lines")
            << q("+OK\r\nSubject: uno\r\n dos\r\n  tres\r\nX: y") + end << QString() << q("uno dos tres") << QString()
            << QStringList{} << q("cuerpo");
        QTest::newRow("sender folded before an encoded word")
            << q("+OK\r\nFrom:\r\n =?utf-8?q?Jos=C3=A9_P=C3=A9rez?= <jose@example.es>") + end
            << q("José Pérez <jose@example.es>") << QString() << QString() << QStringList{} << q("cuerpo");
        QTest::newRow("encoded words split over lines")
            << q("+OK\r\nSubject: =?utf-8?q?Caf=C3=A9_con_le?=\r\n =?utf-8?q?che?=") + end << QString()
            << q("Café con leche") << QString() << QStringList{} << q("cuerpo");
        QTest::newRow("lower-case keywords") << q("+OK\r\nfrom: a\r\nsubject: b\r\ndate:   c") + end << q("a") << q("b")
                                             << q("c") << QStringList{} << q("cuerpo");
        QTest::newRow("Resent-From replaces the sender") << q("+OK\r\nFrom: a@x\r\nResent-From: b@y") + end << q("b@y")
                                                         << QString() << QString() << QStringList{} << q("cuerpo");
        QTest::newRow("empty sender") << q("+OK\r\nFrom:\r\nSubject: s") + end << QString() << q("s") << QString()
                                      << QStringList{} << q("cuerpo");
        QTest::newRow("keywords in the body do not count")
            << q("+OK\r\nSubject: s\r\n\r\nFrom: nadie\r\n.\r\n") << QString() << q("s") << QString() << QStringList{}
            << q("From: nadie");
        QTest::newRow("no body") << q("+OK\r\nSubject: s\r\n\r\n.\r\n") << QString() << q("s") << QString()
                                 << QStringList{} << QString();
        QTest::newRow("body lines folded are not joined")
            << q("+OK\r\nSubject: s\r\n\r\nuno\r\n\tdos\r\n.\r\n") << QString() << q("s") << QString() << QStringList{}
            << q("uno\r\n\tdos");
        QTest::newRow("To and Cc lists") << q("+OK\r\nTo: a@x.es, \"B\" <b@x.es>\r\nCc: c@x.es\r\nSubject: s") + end
                                         << QString() << q("s") << QString()
                                         << QStringList{q("a@x.es"), q("B <b@x.es>"), q("c@x.es")} << q("cuerpo");
        QTest::newRow("To folded over lines")
            << q("+OK\r\nTo: a@x.es,\r\n b@x.es,\r\n\tc@x.es\r\nX-Mailer: m") + end << QString() << QString()
            << QString() << QStringList{q("a@x.es"), q("b@x.es"), q("c@x.es")} << q("cuerpo");
        QTest::newRow("To on the last header line") << q("+OK\r\nSubject: s\r\nTo: ana@x.es") + end << QString()
                                                    << q("s") << QString() << QStringList{q("ana@x.es")} << q("cuerpo");
        QTest::newRow("field name with a hyphen after To")
            << q("+OK\r\nTo: a@x.es\r\nMessage-ID: <1@x>") + end << QString() << QString() << QString()
            << QStringList{q("a@x.es")} << q("cuerpo");
        QTest::newRow("comma inside a quoted name")
            << q("+OK\r\nTo: \"Pérez, José\" <jose@x.es>, b@x.es\r\nX: y") + end << QString() << QString() << QString()
            << QStringList{q("Pérez, José <jose@x.es>"), q("b@x.es")} << q("cuerpo");
        QTest::newRow("encoded recipient")
            << q("+OK\r\nCc: =?iso-8859-1?q?Jos=E9?= <j@x.es>\r\nX: y") + end << QString() << QString() << QString()
            << QStringList{q("José <j@x.es>")} << q("cuerpo");
        QTest::newRow("empty piece between commas")
            << q("+OK\r\nTo: a@x, , b@x\r\nX: y") + end << QString() << QString() << QString()
            << QStringList{q("a@x"), QString(), q("b@x")} << q("cuerpo");
        QTest::newRow("To without a blank after the colon")
            << q("+OK\r\nTo:a@x\r\nX: y") + end << QString() << QString() << QString() << QStringList{q("a@x")}
            << q("cuerpo");
        QTest::newRow("group syntax: the colon inside the value does not end it")
            << q("+OK\r\nTo: amigos: a@x, b@x;\r\nX: y") + end << QString() << QString() << QString()
            << QStringList{q("amigos: a@x"), q("b@x;")} << q("cuerpo");
        QTest::newRow("Resent-To is not To") << q("+OK\r\nResent-To: r@x\r\nTo: a@x") + end << QString() << QString()
                                             << QString() << QStringList{q("a@x")} << q("cuerpo");
        // Fields are found by their names: text inside another field's value never counts.
        QTest::newRow("DKIM signature's list of fields after From")
            << q("+OK\r\nFrom: ana@x.es\r\nDKIM-Signature: v=1; a=rsa-sha256; d=x.es;\r\n h=from:to:subject:date:"
                 "message-id; bh=47DE=; b=dGVzdA==") +
                   end
            << q("ana@x.es") << QString() << QString() << QStringList{} << q("cuerpo");
        QTest::newRow("a spam report that speaks of a date")
            << q("+OK\r\nDate: Tue, 1 Dec 2026 10:00:00 +0100\r\nX-Spam-Report: * 1.0 Date is 3 to 6 hours before "
                 "Received: date") +
                   end
            << QString() << QString() << q("Tue, 1 Dec 2026 10:00:00 +0100") << QStringList{} << q("cuerpo");
        QTest::newRow("a sender named inside a comment field")
            << q("+OK\r\nFrom: ana@x.es\r\nX-Comment: sent from: jefe@empresa.example") + end << q("ana@x.es")
            << QString() << QString() << QStringList{} << q("cuerpo");
        QTest::newRow("X-Original-From and Resent-Date count, names in any case")
            << q("+OK\r\nFrom: a@x\r\nDate: 1\r\nx-original-from: b@y\r\nRESENT-DATE: 2") + end << q("b@y") << QString()
            << q("2") << QStringList{} << q("cuerpo");
        QTest::newRow("blanks between a field's name and its colon")
            << q("+OK\r\nSubject : s\r\nFrom\t: f") + end << q("f") << q("s") << QString() << QStringList{}
            << q("cuerpo");
        QTest::newRow("an mbox From_ line and the status line are no fields")
            << q("+OK From: nadie\r\nFrom ana@x.es Mon Dec  7 10:00:00 2026\r\nSubject: s") + end << QString() << q("s")
            << QString() << QStringList{} << q("cuerpo");
        // Raw UTF-8 in a header (RFC 6532) reads as UTF-8; other 8-bit text as Windows-1252.
        QTest::newRow("raw UTF-8 sender and subject")
            << fromCp1252(QByteArray("+OK\r\nFrom: Se\xC3\xB1ora N\xC3\xBA\xC3\xB1"
                                     "ez <nunez@example.es>\r\n"
                                     "Subject: A\xC3\xB1"
                                     "o nuevo \xE2\x80\xA6 \xE2\x82\xAC\r\nTo: J\xC3\xBA"
                                     "lia <j@x>")) +
                   end
            << q("Señora Núñez <nunez@example.es>") << q("Año nuevo … €") << QString() << QStringList{q("Júlia <j@x>")}
            << q("cuerpo");
        QTest::newRow("Windows-1252 subject beside a UTF-8 sender")
            << fromCp1252(QByteArray("+OK\r\nFrom: N\xC3\xBA\xC3\xB1"
                                     "ez <n@x>\r\nSubject: A\xF1"
                                     "o \x80")) +
                   end
            << q("Núñez <n@x>") << q("Año €") << QString() << QStringList{} << q("cuerpo");
        // What a message keeps is cut; the fields are still looked for in the whole header.
        QTest::newRow("subject cut at the limit")
            << q("+OK\r\nSubject: ") + q("a").repeated(kMaxHeaderValue + 1) + end << QString()
            << q("a").repeated(kMaxHeaderValue) << QString() << QStringList{} << q("cuerpo");
        const QString filler = q("X-Relleno: 0123456789\r\n");
        const QString longHeader = q("+OK\r\n") + filler.repeated(kMaxHeaderText / filler.size() + 1);
        QTest::newRow("sender and recipients after more than the kept header text")
            << longHeader + q("From: a@x.es\r\nTo: b@x.es") + end << q("a@x.es") << QString() << QString()
            << QStringList{q("b@x.es")} << q("cuerpo");
        QTest::newRow("body cut at the limit")
            << q("+OK\r\nSubject: s\r\n\r\n") + q("b").repeated(kMaxFirstLines + 1) + q("\r\n.\r\n") << QString()
            << q("s") << QString() << QStringList{} << q("b").repeated(kMaxFirstLines);
    }
    void headerReply() {
        QFETCH(QString, reply);
        QFETCH(QString, from);
        QFETCH(QString, subj);
        QFETCH(QString, fecha);
        QFETCH(QStringList, recipients);
        QFETCH(QString, body);
        const ParsedHeader h = ParseHeaderReply(reply);
        QCOMPARE(h.from, from);
        QCOMPARE(h.subj, subj);
        QCOMPARE(h.fecha, fecha);
        QCOMPARE(h.destinatarios, recipients);
        QCOMPARE(h.body, body);
        QVERIFY(h.body.capacity() <= kMaxFirstLines); // not the room of the whole body
    }

    void headerText_data() {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("texto");
        QTest::addColumn<HeaderTextCut>("cut");
        const auto none = HeaderTextCut::None, betweenLines = HeaderTextCut::BetweenLines,
                   inLine = HeaderTextCut::InLine;
        QTest::newRow("status line of three characters")
            << q("+OK\r\nA: 1\r\nB: 2\r\n\r\nx\r\n.\r\n") << q("A: 1\r\nB: 2") << none;
        QTest::newRow("status line with an octet count")
            << q("+OK 1234 octets\r\nA: 1\r\n\r\nx\r\n.\r\n") << q(" 1234 octets\r\nA: 1") << none;
        QTest::newRow("folded lines joined") << q("+OK\r\nA: 1\r\n\t2\r\n\r\n.\r\n") << q("A: 1 2") << none;
        QTest::newRow("no blank line: the whole reply, upper-cased")
            << q("+OK\r\nSubject: Año\r\n.\r\n") << q("+OK\r\nSUBJECT: AÑO\r\n.\r\n") << none;
        const QString atLimit = q("A: ") + q("x").repeated(kMaxHeaderText - 3);
        QTest::newRow("cut at the limit")
            << q("+OK\r\nA: ") + q("x").repeated(kMaxHeaderText) + q("\r\n\r\nx\r\n.\r\n") << atLimit << inLine;
        QTest::newRow("no blank line: cut at the limit")
            << q("+OK\r\nA: ") + q("x").repeated(kMaxHeaderText) + q("\r\n.\r\n")
            << q("+OK\r\nA: ") + q("X").repeated(kMaxHeaderText - 8) << inLine;
        // Where the cut falls beside a line end, the last field kept is whole.
        QTest::newRow("the whole header at the limit")
            << q("+OK\r\n") + atLimit + q("\r\n\r\nx\r\n.\r\n") << atLimit << none;
        QTest::newRow("cut before a line end")
            << q("+OK\r\n") + atLimit + q("\r\nB: 1\r\n\r\nx\r\n.\r\n") << atLimit << betweenLines;
        QTest::newRow("cut inside a line end") << q("+OK\r\n") + atLimit.chopped(1) + q("\r\nB: 1\r\n\r\nx\r\n.\r\n")
                                               << atLimit.chopped(1) + q("\r") << betweenLines;
        QTest::newRow("cut after a line end") << q("+OK\r\n") + atLimit.chopped(2) + q("\r\nB: 1\r\n\r\nx\r\n.\r\n")
                                              << atLimit.chopped(2) + q("\r\n") << betweenLines;
        QTest::newRow("cut right after the next line's start")
            << q("+OK\r\n") + atLimit.chopped(3) + q("\r\nB: 1\r\n\r\nx\r\n.\r\n") << atLimit.chopped(3) + q("\r\nB")
            << inLine;
    }
    void headerText() {
        QFETCH(QString, reply);
        QFETCH(QString, texto);
        QFETCH(HeaderTextCut, cut);
        // Moved in unshared, as the session does: the text is cut in the reply's own buffer, whose
        // room must not stay behind.
        const ParsedHeader h = ParseHeaderReply(QString(reply.constData(), reply.size()));
        QCOMPARE(h.texto, texto);
        QVERIFY(h.texto.capacity() <= kMaxHeaderText);
        QCOMPARE(h.textoCut, cut);
        // Only the kept text is cut.
        QCOMPARE(ParseHeaderReply(reply, WithRecipients).textoCut, HeaderTextCut::None);
    }

    void headerWithoutBlankLineStillGivesFields() {
        const ParsedHeader h = ParseHeaderReply(q("+OK\r\nFrom: a@x\r\nSubject: s\r\n.\r\n"));
        QCOMPARE(h.from, q("a@x"));
        QCOMPARE(h.subj, q("s"));
        QCOMPARE(h.body, QString());
    }

    void firstLines_data() {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("lines");
        QTest::newRow("usual") << q("+OK\r\nA: b\r\n\r\nuno\r\ndos\r\n.\r\n") << q("uno\r\ndos");
        QTest::newRow("no body") << q("+OK\r\nA: b\r\n\r\n.\r\n") << QString();
        QTest::newRow("no blank line") << q("+OK\r\nA: b\r\n.\r\n") << QString();
        QTest::newRow("blank lines kept inside")
            << q("+OK\r\nA: b\r\n\r\nuno\r\n\r\ndos\r\n.\r\n") << q("uno\r\n\r\ndos");
        QTest::newRow("cut at the limit")
            << q("+OK\r\nA: b\r\n\r\n") + q("u").repeated(kMaxFirstLines + 1) + q("\r\n.\r\n")
            << q("u").repeated(kMaxFirstLines);
    }
    void firstLines() {
        QFETCH(QString, reply);
        QFETCH(QString, lines);
        const QString got = ParseFirstLinesReply(reply);
        QCOMPARE(got, lines);
        QVERIFY(got.capacity() <= kMaxFirstLines);
    }

    // What a message keeps beside its record reads back as it was, before and after the packer has
    // made its dictionary; a damaged block reads back as nothing, never as other text.
    void keptTextsReadBack_data() {
        QTest::addColumn<int>("seen");    // messages packed before
        QTest::addColumn<bool>("fields"); // header text, To, Cc and MIME type too
        QTest::addColumn<QByteArray>("body");
        const QByteArray letter =
            QByteArray("Estimado cliente: su pedido ha salido hoy del almac\xe9n.\r\n").repeated(8);
        QByteArray noise(3000, Qt::Uninitialized);
        for (qsizetype i = 0; i < noise.size(); ++i)
            noise[i] = char((i * 7919 + (i >> 3) * 104729) % 251);
        QTest::newRow("nothing") << 0 << false << QByteArray();
        QTest::newRow("short: kept plain") << 0 << false << QByteArray("Hola");
        QTest::newRow("alone") << 10 << true << letter;
        QTest::newRow("with the dictionary") << kFillsTheDictionary << true << letter;
        QTest::newRow("incompressible") << kFillsTheDictionary << false << noise;
    }
    void keptTextsReadBack() {
        QFETCH(int, seen);
        QFETCH(bool, fields);
        QFETCH(QByteArray, body);
        auto message = [fields](int n, const QByteArray& lines) {
            KeptTexts t;
            t.primerasLineas = lines;
            if (!fields) return t;
            const QByteArray number = QByteArray::number(n);
            t.texto = "Received: from mx" + number + ".example.es\r\nSubject: Pedido " + number + "\r\n";
            t.to = "cliente" + number + "@example.es";
            t.cc = n % 2 ? QByteArray() : "ventas@example.es";
            t.mime = "text/plain; charset=iso-8859-1\nquoted-printable";
            return t;
        };
        KeptTextsPacker packer;
        for (int i = 0; i < seen; ++i)
            (void)packer.pack(message(i, "Buenos d\xed"
                                         "as, le escribimos por su pedido n\xfa"
                                         "mero " +
                                             QByteArray::number(i)));
        const KeptTexts texts = message(seen, body);
        const QByteArray block = packer.pack(texts);
        auto parts = [](const KeptTexts& t) {
            return QList<QByteArray>{t.texto, t.primerasLineas, t.to, t.cc, t.mime};
        };
        QCOMPARE(parts(packer.unpack(block)), parts(texts));
        const QList<QByteArray> nothing(5);
        if (!block.isEmpty()) {
            QCOMPARE(parts(packer.unpack(block.chopped(1))), nothing);
            QByteArray longer = block;
            longer[1] = char(longer[1] + 1); // the first length
            QCOMPARE(parts(packer.unpack(longer)), nothing);
        }
        if (seen >= kFillsTheDictionary && fields) {
            // The dictionary saves room, and only its packer reads what it packed.
            KeptTextsPacker fresh;
            const QByteArray alone = fresh.pack(texts);
            QVERIFY2(block.size() * 3 < alone.size() * 2,
                     QByteArray::number(block.size()) + " against " + QByteArray::number(alone.size()));
            QCOMPARE(parts(fresh.unpack(block)), nothing);
        }
    }

    void statCount_data() {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<qint64>("count"); // -1: none
        QTest::newRow("usual") << q("+OK 3 1024\r\n") << qint64(3);
        QTest::newRow("two blanks") << q("+OK  12 1\r\n") << qint64(12);
        QTest::newRow("no blank") << q("+OK\r\n") << qint64(-1);
        QTest::newRow("no digits") << q("+OK x\r\n") << qint64(-1);
        QTest::newRow("beyond 32 bits") << q("+OK 4000000000 1\r\n") << qint64(4000000000LL);
    }
    void statCount() {
        QFETCH(QString, reply);
        QFETCH(qint64, count);
        QCOMPARE(ParseStatCount(reply).value_or(-1), count);
    }
};

QTEST_GUILESS_MAIN(TestPop3Replies)
#include "tst_pop3_replies.moc"
