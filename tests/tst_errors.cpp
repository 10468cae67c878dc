// The number conversion every part relies on, and the 8-bit boundary of the wire and the files.
#include "Cp1252.h"
#include "Errors.h"

#include <QTest>

class TestErrors : public QObject {
    Q_OBJECT
private slots:
    void integerTextConverts_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("value");
        QTest::newRow("plain") << u"110"_qs << true << 110;
        QTest::newRow("leading blanks") << u"  995"_qs << true << 995;
        QTest::newRow("sign") << u"-5"_qs << true << -5;
        QTest::newRow("plus") << u"+7"_qs << true << 7;
        QTest::newRow("max") << u"2147483647"_qs << true << 2147483647;
        QTest::newRow("min") << u"-2147483648"_qs << true << int(-2147483648LL);
        QTest::newRow("overflow") << u"2147483648"_qs << false << 0;
        QTest::newRow("huge") << u"99999999999999999999999"_qs << false << 0;
        QTest::newRow("empty") << QString() << false << 0;
        QTest::newRow("sign only") << u"-"_qs << false << 0;
        QTest::newRow("trailing blank") << u"5 "_qs << false << 0;
        QTest::newRow("letters") << u"12a"_qs << false << 0;
    }
    void integerTextConverts() {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(int, value);
        if (ok) {
            QCOMPARE(ParseInt32(text), value);
        } else {
            try {
                ParseInt32(text);
                QFAIL("no error");
            } catch (const EConvertError& e) {
                QCOMPARE(e.message(), u"'%1' is not a valid integer value"_qs.arg(text));
                QCOMPARE(QByteArray(e.className()), QByteArray("EConvertError"));
            }
        }
    }
    // Header and body bytes read as UTF-8 only where they are UTF-8 (RFC 3629), else as Windows-1252.
    void utf8IsTakenOnlyWhereValid_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("valid");
        QTest::newRow("ASCII") << QByteArray("Hola") << true;
        QTest::newRow("two, three and four bytes") << QByteArray("\xC3\xB1 \xE2\x82\xAC \xF0\x9F\x98\x80") << true;
        QTest::newRow("Windows-1252 text") << QByteArray("A\xF1o") << false;
        QTest::newRow("overlong slash") << QByteArray("\xC0\xAF") << false;
        QTest::newRow("overlong three bytes") << QByteArray("\xE0\x80\xAF") << false;
        QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << false;
        QTest::newRow("beyond U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << false;
        QTest::newRow("cut at the end") << QByteArray("ab\xE2\x82") << false;
        QTest::newRow("lone continuation byte") << QByteArray("\x80") << false;
        // Past eight ASCII bytes the check goes a word at a time: a bad byte in any place of a word.
        QTest::newRow("bad byte after a run of ASCII") << QByteArray("abcdefghijklmn\xF1o") << false;
        QTest::newRow("good sequence across a word's end") << QByteArray("abcdefg\xC3\xB1"
                                                                         "abcdefgh")
                                                           << true;
        QTest::newRow("cut after a run of ASCII") << QByteArray("abcdefghijklmnop\xC3") << false;
    }
    void utf8IsTakenOnlyWhereValid() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, valid);
        QCOMPARE(isValidUtf8(bytes), valid);
        QCOMPARE(fromUtf8OrCp1252(bytes), valid ? QString::fromUtf8(bytes) : fromCp1252(bytes));
        QCOMPARE(utf8OrCp1252(fromCp1252(bytes)), fromUtf8OrCp1252(bytes));
    }
    void everyByteSurvivesTheTextBoundary() {
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all += char(b);
        const QString text = fromCp1252(all);
        QCOMPARE(text.size(), 256);
        QCOMPARE(text[0xE9], QChar(0xE9));
        QCOMPARE(text[0x80], QChar(0x20AC));
        QCOMPARE(toCp1252(text), all);
        QVERIFY(fitsCp1252(text));
        QVERIFY(!fitsCp1252(u"\u4F60"));
        QCOMPARE(toCp1252(u"a\u4F60b"), QByteArray("a?b"));
        // Long texts go over sixteen at a time: one odd byte or character anywhere in a block (or
        // in the tail after the last whole block) still takes its own path.
        for (qsizetype at = 0; at < 40; ++at) {
            for (const char odd : {'\x80', '\x9F', '\xA0', '\xFF'}) {
                QByteArray bytes(40, 'a');
                bytes[at] = odd;
                QString wide = fromCp1252(bytes);
                QCOMPARE(wide[at], text[uchar(odd)]);
                QCOMPARE(wide.count(u'a'), 39);
                QCOMPARE(toCp1252(wide), bytes);
                QString appended = u"x"_qs;
                appendFromCp1252(appended, bytes);
                QCOMPARE(appended, u"x"_qs + wide);
            }
            const std::pair<char16_t, char> narrowing[] = {
                {u'\u0080', '?'},    {u'\u009F', '?'},    {u'\u0100', '?'},    {u'\u4F60', '?'},   {u'\uFFFF', '?'},
                {u'\u00A0', '\xA0'}, {u'\u00FF', '\xFF'}, {u'\u20AC', '\x80'}, {u'\u0081', '\x81'}};
            for (const auto& [odd, byte] : narrowing) {
                QString wide(41, u'a');
                wide[at] = QChar(odd);
                QByteArray expected(41, 'a');
                expected[at] = byte;
                QCOMPARE(toCp1252(wide), expected);
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestErrors)
#include "tst_errors.moc"
