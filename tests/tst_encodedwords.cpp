// Header values to display text: encoded words (RFC 2047) in Q and B form, quoted strings, blanks and
// backslashes; malformed and truncated values included.
#include "EncodedWords.h"

#include <QRandomGenerator>
#include <QTest>
#include <algorithm>

namespace {

const QString kJosePerez = u"José Pérez"_qs;
// "José Pérez" in UTF-8, as a B word; and in Latin-1, as a Q word.
const QString kBText = u"Sm9zw6kgUMOpcmV6"_qs;
const QString kQText = u"Jos=E9_P=E9rez"_qs;

QString withoutTrailingBlanks(QString s) {
    while (s.endsWith(u' '))
        s.chop(1);
    return s;
}

void addDecodeColumns() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected");
}

} // namespace

class TestIso : public QObject {
    Q_OBJECT

private:
    void checkDecodes() {
        QFETCH(QString, value);
        QFETCH(QString, expected);
        QCOMPARE(DecodificarTexto(value), expected);
    }

private slots:
    void headerValueDecodes_data() {
        addDecodeColumns();
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("blanks only") << u"    "_qs << QString();
        QTest::newRow("blanks trimmed at both ends") << u"  Hola mundo  "_qs << u"Hola mundo"_qs;
        QTest::newRow("TABs are not trimmed") << u" \tHola\t "_qs << u"\tHola\t"_qs;
        QTest::newRow("plain text") << u"Re: factura n.º 7"_qs << u"Re: factura n.º 7"_qs;

        QTest::newRow("Q latin-1") << u"=?ISO-8859-1?Q?Jos=E9_P=E9rez?="_qs << kJosePerez;
        QTest::newRow("lower-case q") << u"=?iso-8859-1?q?Jos=E9_P=E9rez?="_qs << kJosePerez;
        QTest::newRow("Q utf-8") << u"=?utf-8?q?Jos=C3=A9?="_qs << u"José"_qs;
        QTest::newRow("B utf-8") << u"=?UTF-8?B?Sm9zw6kgUMOpcmV6?="_qs << kJosePerez;
        QTest::newRow("B latin-1") << u"=?iso-8859-1?B?Sm9z6SBQ6XJleg==?="_qs << kJosePerez;
        QTest::newRow("lower-case b") << u"=?utf-8?b?Sm9zw6k=?="_qs << u"José"_qs;
        QTest::newRow("any other letter is B") << u"=?utf-8?X?Sm9zw6k=?="_qs << u"José"_qs;
        QTest::newRow("B one character short of a group") << u"=?iso-8859-1?B?Sm9z6Q=?="_qs << u"Jos"_qs;
        QTest::newRow("B zero bytes dropped") << u"=?iso-8859-1?B?AEEA?="_qs << u"A"_qs;
        QTest::newRow("empty word") << u"=?utf-8?q?\?="_qs << QString();

        QTest::newRow("hex with lower-case first character") << u"=?iso-8859-1?q?Jos=e9?="_qs << u"José"_qs;
        QTest::newRow("hex with lower-case second character") << u"=?iso-8859-1?q?=4a?="_qs << u"j"_qs;
        QTest::newRow("lower-case second character wraps") << u"=?iso-8859-1?q?=Ee?="_qs << QString(QChar(0x0E));
        QTest::newRow("'=' at the end of a Q text") << u"=?utf-8?q?abc=?="_qs << u"abc="_qs;
        QTest::newRow("'=' one character from the end") << u"=?utf-8?q?abc=4?="_qs << u"abc=4"_qs;

        QTest::newRow("text around a word") << u"Re: =?utf-8?q?Caf=C3=A9?= y más"_qs << u"Re: Café y más"_qs;
        QTest::newRow("KMime's example") << u"Ingo =?iso-8859-15?q?Kl=F6cker?= <kloecker@kde.org>"_qs
                                         << u"Ingo Klöcker <kloecker@kde.org>"_qs;
        QTest::newRow("word closed by another character") << u"=?utf-8?q?abc?xyz"_qs << u"abcyz"_qs;
        QTest::newRow("incomplete word is plain text") << u"Hola =?utf-8?q?Jos"_qs << u"Hola =?utf-8?q?Jos"_qs;
        QTest::newRow("lone =?") << u"=?"_qs << u"=?"_qs;
        QTest::newRow("=? with two more ?") << u"a =??? b"_qs << u"a =??? b"_qs;

        QTest::newRow("quoted name and address")
            << u"\"Ana Pérez\" <ana@example.es>"_qs << u"Ana Pérez <ana@example.es>"_qs;
        QTest::newRow("quoted encoded name")
            << u"\"=?utf-8?q?Jos=C3=A9_P=C3=A9rez?=\" <jose@example.es>"_qs << u"José Pérez <jose@example.es>"_qs;
        QTest::newRow("inside of quotes trimmed") << u"\"  Ana  \" <ana@example.es>"_qs << u"Ana <ana@example.es>"_qs;
        QTest::newRow("empty quotes") << u"\"\" <ana@example.es>"_qs << u" <ana@example.es>"_qs;
        QTest::newRow("no closing quote") << u"\"Ana <ana@example.es>"_qs << u"\"Ana <ana@example.es>"_qs;
        QTest::newRow("no closing quote after text") << u"Ana \"Pérez"_qs << u"Ana \"Pérez"_qs;
        QTest::newRow("two quoted strings") << u"\"a\" y \"b\""_qs << u"a y b"_qs;

        QTest::newRow("backslashes outside quotes")
            << u"O\\'Brien \\\\ <ob@example.es>"_qs << u"O'Brien  <ob@example.es>"_qs;
        QTest::newRow("backslash inside quotes")
            << u"\"Pérez\\, Ana\" <ana@example.es>"_qs << u"Pérez, Ana <ana@example.es>"_qs;
        QTest::newRow("backslash in an unclosed quote") << u"\"Ana\\ <a@b.es>"_qs << u"\"Ana <a@b.es>"_qs;
        QTest::newRow("backslash from an encoded word") << u"=?utf-8?q?a=5Cb?="_qs << u"ab"_qs;
        QTest::newRow("quoted quotes inside a display name")
            << u"\"Ana \\\"la jefa\\\" Ruiz\" <ana@x.es>"_qs << u"Ana \"la jefa\" Ruiz <ana@x.es>"_qs;
        QTest::newRow("a quoted quote outside quotes opens nothing") << u"a \\\"b c"_qs << u"a \"b c"_qs;
    }
    void headerValueDecodes() { checkDecodes(); }

    // Each word is read in the character set it names; Latin-1, ASCII and unknown names as Windows-1252.
    void wordIsReadInItsCharset_data() {
        addDecodeColumns();
        QTest::newRow("utf-8") << u"=?utf-8?q?Jos=C3=A9?="_qs << u"José"_qs;
        QTest::newRow("UTF-8 B") << u"=?UTF-8?B?4oKs?="_qs << u"€"_qs;
        QTest::newRow("iso-8859-1 as windows-1252") << u"=?iso-8859-1?q?=80_5?="_qs << u"€ 5"_qs;
        QTest::newRow("ISO_8859-1 as windows-1252") << u"=?ISO_8859-1?q?=80?="_qs << u"€"_qs;
        QTest::newRow("latin1 as windows-1252") << u"=?latin1?q?=80?="_qs << u"€"_qs;
        QTest::newRow("us-ascii as windows-1252") << u"=?US-ASCII?q?=93hola=94?="_qs << u"“hola”"_qs;
        QTest::newRow("ascii as windows-1252") << u"=?ascii?q?=93hola=94?="_qs << u"“hola”"_qs;
        QTest::newRow("ANSI_X3.4-1968 as windows-1252") << u"=?ANSI_X3.4-1968?q?=93hola=94?="_qs << u"“hola”"_qs;
        QTest::newRow("windows-1252") << u"=?windows-1252?q?=80?="_qs << u"€"_qs;
        QTest::newRow("unknown charset") << u"=?x-desconocido?q?=80_Jos=E9?="_qs << u"€ José"_qs;
        QTest::newRow("the machine's locale is not a charset") << u"=?locale?q?Jos=E9?="_qs << u"José"_qs;
        QTest::newRow("no charset") << u"=??q?Jos=E9?="_qs << u"José"_qs;
        QTest::newRow("iso-8859-15") << u"=?iso-8859-15?q?=A4?="_qs << u"€"_qs;
        QTest::newRow("iso-8859-2") << u"=?iso-8859-2?q?=B1?="_qs << u"ą"_qs;
        QTest::newRow("windows-1250") << u"=?windows-1250?q?=A5?="_qs << u"Ą"_qs;
        QTest::newRow("koi8-r") << u"=?koi8-r?q?=F0=D2=C9=D7=C5=D4?="_qs << u"Привет"_qs;
        QTest::newRow("language after the charset (RFC 2231)") << u"=?utf-8*es?q?Jos=C3=A9?="_qs << u"José"_qs;
        QTest::newRow("each word its own charset")
            << u"=?utf-8?q?Jos=C3=A9?= =?iso-8859-1?q?P=E9rez?="_qs << u"JoséPérez"_qs;
        // Decoders are kept from word to word: nothing of one word reaches a word that is not next to it.
        QTest::newRow("utf-8 cut off in its word") << u"=?utf-8?q?=C3?= y =?utf-8?q?a?="_qs << u" y a"_qs;
        QTest::newRow("shift_jis cut off in its word") << u"=?shift_jis?q?=82?= y =?shift_jis?q?A?="_qs << u" y A"_qs;
        // Adjacent words of one charset and encoding are decoded as one: a character may be split
        // across them.
        QTest::newRow("utf-8 character split across Q words")
            << u"=?utf-8?q?cig=C3=BCe=C3?= =?utf-8?q?=B1a?="_qs << u"cigüeña"_qs;
        QTest::newRow("utf-8 character split across B words, folded")
            << u"=?UTF-8?B?QcM=?=\r\n =?utf-8?b?sW8=?="_qs << u"Año"_qs;
        QTest::newRow("split character, the second word in another encoding")
            << u"=?utf-8?q?=C3?= =?utf-8?b?sQ==?="_qs << u"\uFFFD"_qs;
        QTest::newRow("split character, the second word in another charset")
            << u"=?utf-8?q?=C3?= =?iso-8859-1?q?=B1?="_qs << u"±"_qs;
        QTest::newRow("an invalid byte between two words stays one replacement")
            << u"=?utf-8?q?a=C3?= =?utf-8?q?b?="_qs << u"a\uFFFDb"_qs;
        QTest::newRow("ten charsets, then the first again")
            << u"=?koi8-r?q?=F0?==?iso-8859-2?q?=B1?==?iso-8859-5?q?=B0?==?windows-1250?q?=A5?==?windows-1251?q?=C0?="
               u"=?iso-8859-7?q?=C1?==?koi8-u?q?=A4?==?iso-8859-9?q?=FD?==?iso-8859-15?q?=A4?==?koi8-r?q?=F0?="_qs
            << u"ПąАĄАΑєı€П"_qs;
    }
    void wordIsReadInItsCharset() { checkDecodes(); }

    // RFC 2047, 6.2: only blanks between two complete encoded words are dropped.
    void blanksBetweenAdjacentWordsAreDropped_data() {
        addDecodeColumns();
        QTest::newRow("one blank") << u"=?utf-8?q?Caf=C3=A9_con_le?= =?utf-8?q?che?="_qs << u"Café con leche"_qs;
        QTest::newRow("blanks and TABs") << u"=?utf-8?q?a?=\t  \t=?utf-8?q?b?="_qs << u"ab"_qs;
        QTest::newRow("nothing between") << u"=?utf-8?q?a?==?utf-8?q?b?="_qs << u"ab"_qs;
        QTest::newRow("three words") << u"=?utf-8?q?a?= =?iso-8859-1?q?=E9?=  =?utf-8?b?w6k=?="_qs << u"aéé"_qs;
        QTest::newRow("plain text between stays") << u"=?utf-8?q?a?= y =?utf-8?q?b?="_qs << u"a y b"_qs;
        QTest::newRow("blank before plain text stays") << u"=?utf-8?q?Jos=C3=A9?= Pérez"_qs << kJosePerez;
        QTest::newRow("blank before a quoted string stays")
            << u"=?utf-8?q?Jos=C3=A9?= \"Ana\""_qs << u"José \"Ana\""_qs;
        QTest::newRow("blank before an incomplete word stays") << u"=?utf-8?q?a?= =?utf-8?q"_qs << u"a =?utf-8?q"_qs;
        QTest::newRow("blank after plain text stays") << u"Re: =?utf-8?q?a?="_qs << u"Re: a"_qs;
        QTest::newRow("inside quotes") << u"\"=?utf-8?q?a?= =?utf-8?q?b?=\" <ab@example.es>"_qs
                                       << u"ab <ab@example.es>"_qs;
    }
    void blanksBetweenAdjacentWordsAreDropped() { checkDecodes(); }

    // A Q text cut anywhere keeps every complete "=XX"; a '=' without two characters after it stays.
    void cutQTextKeepsWhatIsComplete_data() {
        addDecodeColumns();
        const QStringList expected = {u""_qs,         u"J"_qs,       u"Jo"_qs,       u"Jos"_qs,       u"Jos="_qs,
                                      u"Jos=E"_qs,    u"José"_qs,    u"José "_qs,    u"José P"_qs,    u"José P="_qs,
                                      u"José P=E"_qs, u"José Pé"_qs, u"José Pér"_qs, u"José Pére"_qs, kJosePerez};
        QCOMPARE(expected.size(), kQText.size() + 1);
        for (qsizetype k = 0; k <= kQText.size(); ++k)
            QTest::addRow("%d characters", int(k)) << u"=?iso-8859-1?Q?"_qs + kQText.left(k) + u"?="_qs << expected[k];
    }
    void cutQTextKeepsWhatIsComplete() { checkDecodes(); }

    // A B text cut anywhere decodes its complete groups of four and drops the rest.
    void cutBTextDecodesCompleteGroups_data() {
        addDecodeColumns();
        const QStringList byGroups = {u""_qs, u"Jos"_qs, u"José "_qs, u"José Pé"_qs, kJosePerez};
        for (qsizetype k = 0; k <= kBText.size(); ++k)
            QTest::addRow("%d characters", int(k)) << u"=?utf-8?B?"_qs + kBText.left(k) + u"?="_qs << byGroups[k / 4];
    }
    void cutBTextDecodesCompleteGroups() { checkDecodes(); }

    // Every prefix of a well-formed value: a word is decoded once its third '?' has arrived, and is plain
    // text before that.
    void everyPrefixDecodesSensibly_data() {
        addDecodeColumns();

        const QString bWord = u"=?utf-8?B?"_qs + kBText + u"?="_qs;
        const QString sender = bWord + u" <jose@example.es>"_qs;
        for (qsizetype n = 0; n <= sender.size(); ++n) {
            const bool complete = n >= bWord.size() - 1;
            const QString expected =
                complete ? kJosePerez + sender.mid(bWord.size(), std::max<qsizetype>(0, n - bWord.size()))
                         : sender.left(n);
            QTest::addRow("sender, %d characters", int(n)) << sender.left(n) << withoutTrailingBlanks(expected);
        }

        const QString first = u"=?iso-8859-1?q?"_qs + kQText + u"?="_qs;
        const QString second = u"=?utf-8?q?y_m=C3=A1s?="_qs;
        const QString subject = first + u' ' + second;
        for (qsizetype n = 0; n <= subject.size(); ++n) {
            QString expected;
            if (n < first.size() - 1)
                expected = subject.left(n);
            else if (n < subject.size() - 1)
                expected = kJosePerez + subject.mid(first.size(), std::max<qsizetype>(0, n - first.size()));
            else
                expected = kJosePerez + u"y más"_qs;
            QTest::addRow("subject, %d characters", int(n)) << subject.left(n) << withoutTrailingBlanks(expected);
        }
    }
    void everyPrefixDecodesSensibly() { checkDecodes(); }

    void randomGarbageDecodesSafely() {
        static const QStringList pieces = {u"=?"_qs,  u"?="_qs,    u"?"_qs,          u"="_qs, u"_"_qs,  u"\""_qs,
                                           u"\\"_qs,  u" "_qs,     u"\t"_qs,         u"q"_qs, u"Q"_qs,  u"b"_qs,
                                           u"B"_qs,   u"utf-8"_qs, u"iso-8859-1"_qs, u"x"_qs, u"E9"_qs, u"C3"_qs,
                                           u"=A9"_qs, u"Sm9z"_qs,  u"w6k"_qs,        u"é"_qs, u"A"_qs};
        QRandomGenerator random(20470);
        for (int round = 0; round < 20000; ++round) {
            QString value;
            const int count = random.bounded(16);
            for (int i = 0; i < count; ++i)
                value += pieces[random.bounded(int(pieces.size()))];
            const QString result = DecodificarTexto(value);
            // Decoding never lengthens: quotes go, a word yields at most one character per byte of its text.
            if (result.size() > value.size() || result.contains(u'\\'))
                QFAIL(qPrintable(u"'%1' decoded to '%2'"_qs.arg(value, result)));
        }
    }

    // Text with neither '?' nor '"' holds no word and no quoted string: only the outer blanks and the
    // backslashes go.
    void plainTextPassesThrough() {
        static const QStringList pieces = {u"a"_qs, u"é"_qs, u" "_qs, u"\t"_qs, u"\\"_qs, u"="_qs, u"_"_qs, u"Q"_qs};
        QRandomGenerator random(1987);
        for (int round = 0; round < 5000; ++round) {
            QString value;
            const int count = random.bounded(12);
            for (int i = 0; i < count; ++i)
                value += pieces[random.bounded(int(pieces.size()))];
            qsizetype begin = 0;
            while (begin < value.size() && value[begin] == u' ')
                ++begin;
            QString expected = withoutTrailingBlanks(value.mid(begin));
            expected.remove(u'\\');
            QCOMPARE(DecodificarTexto(value), expected);
        }
    }

    void hexPairGivesByte_data() {
        QTest::addColumn<QByteArray>("pair");
        QTest::addColumn<int>("byte");
        QTest::newRow("digits") << QByteArray("09") << 0x09;
        QTest::newRow("upper case") << QByteArray("E9") << 0xE9;
        QTest::newRow("highest") << QByteArray("FF") << 0xFF;
        QTest::newRow("lower-case first") << QByteArray("e9") << 0xE9;
        QTest::newRow("lower-case second is 32 too high") << QByteArray("4a") << 0x6A;
        QTest::newRow("lower-case second wraps") << QByteArray("Ee") << 0x0E;
        QTest::newRow("both lower case") << QByteArray("ff") << 0x1F;
    }
    void hexPairGivesByte() {
        QFETCH(QByteArray, pair);
        QFETCH(int, byte);
        QCOMPARE(int(ValorHex(pair[0], pair[1])), byte);
    }

    void base64AlphabetAndNothingElse() {
        const QByteArray alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int b = 0; b < 256; ++b) {
            const char c = char(b);
            const qsizetype index = alphabet.indexOf(c);
            QCOMPARE(ValorBase64(c), index < 0 ? 0 : int(index));
        }
    }

    void base64Decodes_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray() << QByteArray();
        QTest::newRow("one byte") << QByteArray("QQ==") << QByteArray("A");
        QTest::newRow("two bytes") << QByteArray("QUI=") << QByteArray("AB");
        QTest::newRow("three bytes") << QByteArray("QUJD") << QByteArray("ABC");
        QTest::newRow("one short of a group") << QByteArray("QUJ") << QByteArray();
        QTest::newRow("incomplete last group") << QByteArray("QUJDRA") << QByteArray("ABC");
        QTest::newRow("zero bytes dropped") << QByteArray("AAAA") << QByteArray();
        QTest::newRow("zero around a byte") << QByteArray("AEEA") << QByteArray("A");
        QTest::newRow("foreign characters count as A") << QByteArray("Q*==") << QByteArray("@");
    }
    void base64Decodes() {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, bytes);
        QCOMPARE(DecodificarBase64(text), bytes);
    }

    // Any bytes, encoded by Qt, come back; zero bytes and an unpadded last group do not.
    void base64RoundTrip() {
        QRandomGenerator random(31415);
        for (int round = 0; round < 2000; ++round) {
            QByteArray data(random.bounded(40), Qt::Uninitialized);
            for (char& c : data)
                c = char(random.bounded(256));
            QByteArray noZeros = data;
            noZeros.replace(QByteArray(1, '\0'), QByteArray());
            QCOMPARE(DecodificarBase64(data.toBase64()), noZeros);

            const QByteArray whole = data.left(data.size() / 3 * 3);
            QByteArray wholeNoZeros = whole;
            wholeNoZeros.replace(QByteArray(1, '\0'), QByteArray());
            QCOMPARE(DecodificarBase64(data.toBase64(QByteArray::OmitTrailingEquals)), wholeNoZeros);
        }
    }

    // Any bytes written as "=XX" (either case for the first digit), '_' for blanks, or as themselves
    // when printable come back unchanged.
    void qRoundTrip() {
        QRandomGenerator random(2718);
        for (int round = 0; round < 2000; ++round) {
            QByteArray data(random.bounded(40), Qt::Uninitialized);
            for (char& c : data)
                c = char(random.bounded(256));
            QByteArray text;
            for (char c : data) {
                const auto b = static_cast<unsigned char>(c);
                if (b == ' ')
                    text += '_';
                else if (b > ' ' && b < 0x7F && b != '=' && b != '_' && b != '?')
                    text += c;
                else
                    text += '=' + QByteArray::number(b >> 4, 16) + QByteArray::number(b & 15, 16).toUpper();
            }
            QCOMPARE(DecodificarQ(text), data);
        }
    }

    void randomBytesDecodeSafely() {
        QRandomGenerator random(4242);
        for (int round = 0; round < 5000; ++round) {
            QByteArray text(random.bounded(24), Qt::Uninitialized);
            for (char& c : text)
                c = "=_?AaF9+/ \xE9"[random.bounded(11)];
            QVERIFY(DecodificarQ(text).size() <= text.size());
            QVERIFY(DecodificarBase64(text).size() <= text.size() / 4 * 3);
        }
    }
};

QTEST_GUILESS_MAIN(TestIso)
#include "tst_encodedwords.moc"
