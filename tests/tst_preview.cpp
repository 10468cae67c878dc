// The text pane's preview of a message: transfer encodings, charsets, MIME structure, HTML turned
// into text, bodies cut by TOP, and the line limit.
#include "MessagePreview.h"

#include <QTest>

namespace {

/** A multipart body with boundary "b": each part after its delimiter line, then the closing one. */
QByteArray parts(const QByteArrayList& bodies, QByteArrayView boundary = "b") {
    QByteArray out;
    for (const QByteArray& body : bodies)
        out += "--" + boundary.toByteArray() + "\r\n" + body + "\r\n";
    return out + "--" + boundary.toByteArray() + "--\r\n";
}

/** A text at the bottom of `levels` multiparts, each holding the next. */
QByteArray nested(int levels) {
    QByteArray body = "\r\nAbajo";
    for (int level = levels - 1; level > 0; --level)
        body = "Content-Type: multipart/mixed; boundary=n" + QByteArray::number(level) + "\r\n\r\n" +
               parts({body}, "n" + QByteArray::number(level));
    return parts({body}, "n0");
}

const QByteArray kMixed = "multipart/mixed; boundary=b";
const QByteArray kAlternative = "multipart/alternative; boundary=\"b\"";
const QByteArray kPdf =
    "Content-Type: application/pdf; name=\"x.pdf\"\r\nContent-Transfer-Encoding: base64\r\n\r\nJVBERi0=";
const QByteArray kPlain = "Content-Type: text/plain; charset=utf-8\r\n\r\nTexto";
const QByteArray kHtml = "Content-Type: text/html; charset=utf-8\r\n\r\n<p>HTML</p>";

} // namespace

class TestPreview : public QObject {
    Q_OBJECT

private slots:
    void previewShowsTheMessagesOwnWords_data() {
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("encoding");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("maxLines");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("lines");
        QTest::addColumn<QStringList>("unknownCharsets");
        const QStringList none;

        // Lines and the limit.
        QTest::newRow("blank lines around the text left out, inside kept")
            << QByteArray() << QByteArray() << QByteArray("\r\n \r\nHola,\r\n\r\nhasta luego\r\n\r\n") << 10
            << u"Hola,\r\n\r\nhasta luego"_qs << 3 << none;
        QTest::newRow("lone LF and lone CR end lines")
            << QByteArray() << QByteArray() << QByteArray("uno\ndos\rtres\r\n") << 10 << u"uno\r\ndos\r\ntres"_qs << 3
            << none;
        QTest::newRow("cut at maxLines, blank lines before the text not counted")
            << QByteArray() << QByteArray() << QByteArray("\r\n \r\n1\r\n2\r\n3\r\n") << 2 << u"1\r\n2"_qs << 2 << none;
        QTest::newRow("a cut ending in a blank line leaves it out")
            << QByteArray("text/plain; charset=iso-8859-1") << QByteArray() << QByteArray("1\r\n\r\n3\r\n") << 2
            << u"1"_qs << 1 << none;
        QTest::newRow("no lines asked") << QByteArray() << QByteArray() << QByteArray("Hola\r\n") << 0 << QString() << 0
                                        << none;
        QTest::newRow("empty body") << kMixed << QByteArray() << QByteArray() << 10 << QString() << 0 << none;

        // Transfer encodings (RFC 2045, 6.7 and 6.8).
        QTest::newRow("QP soft line break, even inside a UTF-8 character")
            << QByteArray("text/plain; charset=utf-8") << QByteArray("quoted-printable")
            << QByteArray("Caf=C3=A9 con le=\r\nche y az=C3=\r\n=BAcar\r\n") << 10 << u"Café con leche y azúcar"_qs << 1
            << none;
        QTest::newRow("QP malformed '=' kept, lower-case hex read, trailing blanks dropped")
            << QByteArray("text/plain") << QByteArray(" Quoted-Printable") << QByteArray("a=3d1 =G1 =4\r\nfin   \r\n")
            << 10 << u"a=1 =G1 =4\r\nfin"_qs << 2 << none;
        QTest::newRow("base64 cut inside a group and a character")
            << QByteArray("text/plain; charset=UTF-8") << QByteArray("base64")
            << QByteArray("QcOxbyBudWV2bywNCnZp\r\nZGEgbnVldmEuDQpVbiBj\r\naWfDvGXDs") << 10
            << u"Año nuevo,\r\nvida nueva.\r\nUn cigüe"_qs << 3 << none;

        // Charsets.
        QTest::newRow("quoted ISO-8859-1, not the first parameter, reads as Windows-1252")
            << QByteArray("text/plain; format=flowed; charset=\"ISO-8859-1\"") << QByteArray("8bit")
            << QByteArray("Pe\xF1"
                          "a, 20 \x80")
            << 10 << u"Peña, 20 €"_qs << 1 << none;
        QTest::newRow("KOI8-R") << QByteArray("text/plain; charset=koi8-r") << QByteArray()
                                << QByteArray("\xF0\xD2\xC9\xD7\xC5\xD4") << 10 << u"Привет"_qs << 1 << none;
        QTest::newRow("ISO-2022-JP") << QByteArray("text/plain; charset=ISO-2022-JP") << QByteArray("7bit")
                                     << QByteArray("\x1b$BF|K\\8l$N%a!<%k\x1b(B") << 10 << u"日本語のメール"_qs << 1
                                     << none;
        QTest::newRow("unknown charset read as Windows-1252 and listed")
            << QByteArray("text/plain; charset=x-mac-desconocido") << QByteArray() << QByteArray("caf\xE9") << 10
            << u"café"_qs << 1 << QStringList{u"x-mac-desconocido"_qs};

        // Multipart structure (RFC 2046, 5.1) and attachments.
        QTest::newRow("preamble and epilogue not shown, text where it stands among attachments")
            << kMixed << QByteArray()
            << "Este es un mensaje MIME.\r\n" + parts({"Content-Type: application/pdf\r\n\r\nJVBE", kPlain}) + "Fin\r\n"
            << 10 << u"[Adjunto: application/pdf]\r\nTexto"_qs << 2 << none;
        QTest::newRow("name in RFC 2231 extended form, folded header")
            << kMixed << QByteArray()
            << parts({"Content-Type: application/pdf\r\nContent-Disposition: attachment;\r\n"
                      " filename*=UTF-8''factura%20n%C2%BA7.pdf\r\n\r\nJVBE"})
            << 10 << u"[Adjunto: factura nº7.pdf]"_qs << 1 << none;
        QTest::newRow("name in RFC 2231 sections, charset in the first")
            << kMixed << QByteArray()
            << parts({"Content-Disposition: attachment; filename*1=\"5.txt\";\r\n"
                      "\tfilename*0*=iso-8859-15'es'Pe%F1a%20%A4\r\n\r\nHola"})
            << 10 << u"[Adjunto: Peña €5.txt]"_qs << 1 << none;
        QTest::newRow("name in RFC 2047 encoded words")
            << kMixed << QByteArray()
            << parts({"Content-Type: image/png; name=\"=?UTF-8?B?Zm90byBhw7FvLnBuZw==?=\"\r\n\r\niVBO"}) << 10
            << u"[Adjunto: foto año.png]"_qs << 1 << none;
        QTest::newRow("a part without header nor blank line; only the first text; a text attachment")
            << kMixed << QByteArray()
            << parts({"Hola", "\r\nFirma", "Content-Disposition: attachment; filename=notas.txt\r\n\r\nNotas"}) << 10
            << u"Hola\r\n[Adjunto: notas.txt]"_qs << 2 << none;
        QTest::newRow("alternative: plain text before HTML")
            << kAlternative << QByteArray() << parts({kPlain, kHtml}) << 10 << u"Texto"_qs << 1 << none;
        QTest::newRow("alternative: plain text after HTML")
            << kAlternative << QByteArray() << parts({kHtml, kPlain}) << 10 << u"Texto"_qs << 1 << none;
        QTest::newRow("alternative: HTML inside related, its image not an attachment")
            << kAlternative << QByteArray()
            << parts({"Content-Type: multipart/related; boundary=r\r\n\r\n" +
                          parts({kHtml, "Content-Type: image/png\r\nContent-ID: <logo>\r\n\r\niVBO"}, "r"),
                      "Content-Type: text/calendar\r\n\r\nBEGIN:VCALENDAR"})
            << 10 << u"HTML"_qs << 1 << none;
        QTest::newRow("alternative: plain text inside a nested multipart")
            << kAlternative << QByteArray()
            << parts({"Content-Type: multipart/mixed; boundary=m\r\n\r\n" + parts({kPlain, kPdf}, "m"), kHtml}) << 10
            << u"Texto\r\n[Adjunto: x.pdf]"_qs << 2 << none;
        QTest::newRow("a nested multipart's end is not its parent's")
            << kMixed << QByteArray()
            << parts({"Content-Type: multipart/alternative; boundary=a\r\n\r\n" + parts({kPlain, kHtml}, "a"), kPdf})
            << 10 << u"Texto\r\n[Adjunto: x.pdf]"_qs << 2 << none;
        QTest::newRow("forwarded message")
            << kMixed << QByteArray()
            << parts({kPlain, "Content-Type: message/rfc822\r\n\r\nFrom: =?utf-8?q?Jos=C3=A9?= <jose@example.es>\r\n"
                              "Subject: Hola\r\nContent-Type: text/plain; charset=iso-8859-1\r\n\r\nPe\xF1"
                              "a"})
            << 10 << u"Texto\r\n[Mensaje reenviado]\r\nDe: José <jose@example.es>\r\nAsunto: Hola\r\nPeña"_qs << 5
            << none;
        QTest::newRow("forwarded message in base64")
            << kMixed << QByteArray()
            << parts({"Content-Type: message/rfc822\r\nContent-Transfer-Encoding: base64\r\n\r\n"
                      "RnJvbTogYW5hQGV4YW1wbGUuZXMNClN1YmplY3Q6IEhvbGENCg0KQ3VlcnBv"})
            << 10 << u"[Mensaje reenviado]\r\nDe: ana@example.es\r\nAsunto: Hola\r\nCuerpo"_qs << 4 << none;
        QTest::newRow("forwarded message at the top, LF line ends")
            << QByteArray("message/rfc822") << QByteArray()
            << QByteArray("Subject: Re\nContent-Type: multipart/mixed; boundary=z\n\n--z\n\nHola\n--z\n"
                          "Content-Type: application/zip\n\nUEs\n--z--\n")
            << 10 << u"[Mensaje reenviado]\r\nAsunto: Re\r\nHola\r\n[Adjunto: application/zip]"_qs << 4 << none;
        QTest::newRow("cut without closing delimiter, the last part cut in its header")
            << kMixed << QByteArray()
            << QByteArray("--b\r\nContent-Type: text/plain\r\n\r\nHola\r\nque tal\r\n--b\r\n"
                          "Content-Type: application/zip;\r\n name=\"datos.zip\"")
            << 10 << u"Hola\r\nque tal\r\n[Adjunto: datos.zip]"_qs << 3 << none;
        QTest::newRow("a line starting with the boundary is text; blanks may follow a delimiter")
            << kMixed << QByteArray() << QByteArray("--b  \r\n\r\nUno\r\n--bis\r\n--b--\t\r\nDos\r\n") << 10
            << u"Uno\r\n--bis"_qs << 2 << none;
        QTest::newRow("a field counts only at the start of a line, in any case")
            << kMixed << QByteArray()
            << parts({"X-Nota: Content-Type: application/pdf\r\ncontent-TYPE: text/html\r\n\r\n<b>Hola</b>"}) << 10
            << u"Hola"_qs << 1 << none;
        QTest::newRow("digest: a part without Content-Type is a message")
            << QByteArray("multipart/digest; boundary=b") << QByteArray() << parts({"\r\nSubject: Uno\r\n\r\nPrimero"})
            << 10 << u"[Mensaje reenviado]\r\nAsunto: Uno\r\nPrimero"_qs << 3 << none;
        QTest::newRow("nesting within the bound looked into")
            << QByteArray("multipart/mixed; boundary=n0") << QByteArray() << nested(20) << 10 << u"Abajo"_qs << 1
            << none;
        QTest::newRow("nesting past the bound not looked into")
            << QByteArray("multipart/mixed; boundary=n0") << QByteArray() << nested(21) << 10 << QString() << 0 << none;
        QTest::newRow("an unknown charset listed once, whatever its case")
            << kMixed << QByteArray()
            << parts({"Content-Type: text/plain; charset=x-raro\r\n\r\nHola",
                      "Content-Disposition: attachment; filename*=X-RARO''a%E9.txt\r\n\r\nA"})
            << 10 << u"Hola\r\n[Adjunto: aé.txt]"_qs << 2 << QStringList{u"x-raro"_qs};
        QTest::newRow("non-text part at the top")
            << QByteArray("application/pdf; name=\"informe.pdf\"") << QByteArray("base64") << QByteArray("JVBERi0=")
            << 10 << u"[Adjunto: informe.pdf]"_qs << 1 << none;
        QTest::newRow("attachment lines count towards maxLines")
            << kMixed << QByteArray() << parts({"\r\n1\r\n2", kPdf}) << 2 << u"1\r\n2"_qs << 2 << none;

        // HTML.
        const QByteArray html = "text/html; charset=utf-8";
        QTest::newRow("HTML entities; unknown and unterminated ones as written")
            << html << QByteArray()
            << QByteArray("&aacute;&ntilde; &#233;&#xE9; &euro;&hellip; &#150; &foo; &amp x &lt;b&gt;") << 10
            << u"áñ éé €… – &foo; &amp x <b>"_qs << 1 << none;
        QTest::newRow("HTML head (ended by the body's first block), style, script, noscript, comments left out")
            << html << QByteArray()
            << QByteArray("<html><head><title>T</title>Basura<style>p{color:red}</style>"
                          "<!--[if mso]><p>Outlook</p><![endif]--><script>var s = \"</p>\";</script>"
                          "<![if !mso]><p>Hola</p><![endif]><!-- <p>x</p> --><noscript>N</noscript></body></html>")
            << 10 << u"Hola"_qs << 1 << none;
        QTest::newRow("HTML blocks end lines, <br> breaks them, blanks collapse")
            << html << QByteArray()
            << QByteArray("<div>Uno\r\n   dos</div><div><br></div><p>tres<br>cuatro</p>"
                          "<table><tr><td>a</td><td>b</td></tr></table><ul><li>x</li><li>y</li></ul>")
            << 10 << u"Uno dos\r\n\r\ntres\r\ncuatro\r\na b\r\nx\r\ny"_qs << 7 << none;
        QTest::newRow("HTML: one blank line at most in a row")
            << html << QByteArray() << QByteArray("a<br><br><br><br>b<p>&nbsp;</p><p>&nbsp;</p>c") << 10
            << u"a\r\n\r\nb\r\n\r\nc"_qs << 5 << none;
        QTest::newRow("HTML <pre> keeps blanks and line breaks")
            << html << QByteArray() << QByteArray("v<pre>\r\n  x   y\r\nz</pre>w") << 10 << u"v\r\nx   y\r\nz\r\nw"_qs
            << 4 << none;
        QTest::newRow("HTML <pre>: a CR written as an entity ends its line")
            << html << QByteArray() << QByteArray("<pre>x&#13;y</pre>") << 10 << u"x\r\ny"_qs << 2 << none;
        QTest::newRow("HTML charset from <meta>")
            << QByteArray("text/html") << QByteArray()
            << QByteArray("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=koi8-r\">"
                          "</head><body>\xF0\xD2\xC9\xD7\xC5\xD4</body></html>")
            << 10 << u"Привет"_qs << 1 << none;
    }
    void previewShowsTheMessagesOwnWords() {
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, encoding);
        QFETCH(QByteArray, body);
        QFETCH(int, maxLines);
        QFETCH(QString, text);
        QFETCH(int, lines);
        QFETCH(QStringList, unknownCharsets);
        const MessagePreview preview = BuildPreview(contentType, encoding, body, maxLines);
        QCOMPARE(preview.text, text);
        QCOMPARE(preview.lines, lines);
        QCOMPARE(preview.unknownCharsets, unknownCharsets);
        // The same from the whole message, as a forwarded one is read.
        const MessagePreview whole =
            PreviewOfMessage("Subject: x\r\nContent-Type: " + contentType +
                                 "\r\nContent-Transfer-Encoding: " + encoding + "\r\n\r\n" + body,
                             maxLines);
        QCOMPARE(whole.text, text);
        QCOMPARE(whole.lines, lines);
    }
};

QTEST_GUILESS_MAIN(TestPreview)
#include "tst_preview.moc"
