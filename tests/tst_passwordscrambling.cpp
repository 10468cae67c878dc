// The scrambled password form: its exact bytes, the round trip for every length and letter case,
// and the forms the decoder must refuse.
#include "Cp1252.h"
#include "PasswordScrambling.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

namespace {

const QString kError = u"<<ERROR>>"_qs;

// Reproducible passwords: every length gets its own seed. Any of the 256 bytes may appear.
QString randomPassword(int length) {
    QRandomGenerator gen{quint32(length)};
    QByteArray bytes(length, Qt::Uninitialized);
    for (char& b : bytes)
        b = char(gen.bounded(256));
    return fromCp1252(bytes);
}

QString withRandomCase(const QString& form, quint32 seed) {
    QRandomGenerator gen{seed};
    QString out = form;
    for (QChar& c : out)
        c = gen.bounded(2) ? c.toLower() : c.toUpper();
    return out;
}

} // namespace

class TestQuenmarEncode : public QObject {
    Q_OBJECT
private slots:
    // Forms worked out by hand from the byte sums: masks, reordering and Windows-1252 bytes.
    void encodedFormHasExactBytes_data() {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("form");
        QTest::addColumn<QString>("decoded");
        // Byte sums that are multiples of 64 give both masks 0: the reordered text shows as is.
        QTest::newRow("six chars c1 c3 c5 c6 c4 c2") << u"ABCDE1"_qs << u"AAEBEDEFDBEEECAA"_qs << u"ABCDE1"_qs;
        QTest::newRow("five chars c1 c3 c5 c4 c2") << u"ABCD6"_qs << u"AAEBEDDGEEECAA"_qs << u"ABCD6"_qs;
        QTest::newRow("one char is itself") << u"@"_qs << u"AAEAAA"_qs << u"@"_qs;
        QTest::newRow("euro is byte 80") << u"\u20AC"_qs << u"AAIAAA"_qs << u"\u20AC"_qs;
        // Non-zero masks: A on odd positions of the reordered text, B on even ones.
        QTest::newRow("mask A only on one char") << u"a"_qs << u"IAOBAB"_qs << u"a"_qs;
        QTest::newRow("two chars") << u"ab"_qs << u"ACGDGDAB"_qs << u"ab"_qs;
        QTest::newRow("three chars reordered then masked") << u"abc"_qs << u"ICODGLOAAI"_qs << u"abc"_qs;
        QTest::newRow("accented byte E9") << u"\u00E9"_qs << u"JAHJAB"_qs << u"\u00E9"_qs;
        QTest::newRow("outside windows-1252 counts as ?") << u"\u4F60"_qs << u"JCKNEJ"_qs << u"?"_qs;
    }
    void encodedFormHasExactBytes() {
        QFETCH(QString, password);
        QFETCH(QString, form);
        QFETCH(QString, decoded);
        QCOMPARE(EncodePassword(password).toUpper(), form);
        QCOMPARE(DecodePassword(form), decoded);
        QCOMPARE(DecodePassword(form.toLower()), decoded);
    }

    void everyLengthRoundTrips_data() {
        QTest::addColumn<int>("length");
        for (int n = 1; n <= 600; ++n)
            QTest::addRow("length %d", n) << n;
    }
    void everyLengthRoundTrips() {
        QFETCH(int, length);
        const QString password = randomPassword(length);
        const QString form = EncodePassword(password);
        QCOMPARE(form.size(), 2 * (length + 2));
        // Mask A in front (bits 7, 4, 1), mask B at the end (bits 6, 3, 0), letters A..P only.
        static const QRegularExpression shape(u"^[ABIJabij][ACac][A-Pa-p]*[AEae][ABIJabij]$"_qs);
        QVERIFY2(shape.match(form).hasMatch(), qPrintable(form.left(8) + u"..."_qs + form.right(8)));
        QCOMPARE(DecodePassword(form), password);
        QCOMPARE(DecodePassword(withRandomCase(form, quint32(length) * 7919u)), password);
    }

    void letterCaseIsMixed() {
        qsizetype lower = 0, total = 0;
        for (int i = 0; i < 50; ++i) {
            for (QChar c : EncodePassword(randomPassword(40)))
                lower += c.isLower() ? 1 : 0;
            total += 2 * 42;
        }
        // About 51 in 100 letters are lower case; 40 and 62 are far outside any honest run.
        QVERIFY2(lower * 100 > total * 40 && lower * 100 < total * 62, qPrintable(QString::number(lower)));
    }

    void emptyPasswordIsEmptyForm() { QCOMPARE(EncodePassword(QString()), QString()); }

    void decoderAnswersEveryForm_data() {
        QTest::addColumn<QString>("form");
        QTest::addColumn<QString>("password");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("one letter") << u"A"_qs << kError;
        QTest::newRow("odd length") << u"IAOBA"_qs << kError;
        QTest::newRow("letter beyond P") << u"IAOQAB"_qs << kError;
        QTest::newRow("lower letter beyond p") << u"iaoqab"_qs << kError;
        QTest::newRow("digit") << u"IAO1AB"_qs << kError;
        QTest::newRow("blank") << u"IAOBAB  "_qs << kError;
        QTest::newRow("n tilde") << u"\u00F1AAA"_qs << kError;
        QTest::newRow("mask B does not match") << u"IAOBAA"_qs << kError;
        QTest::newRow("character does not match") << u"IAOCAB"_qs << kError;
        QTest::newRow("two letters not zero") << u"AB"_qs << kError;
        QTest::newRow("four letters masks differ") << u"AAAB"_qs << kError;
        QTest::newRow("two zero letters") << u"AA"_qs << QString();
        QTest::newRow("four zero letters") << u"AAAA"_qs << QString();
        QTest::newRow("four zero letters mixed case") << u"aAaA"_qs << QString();
        QTest::newRow("lower case form") << u"iaobab"_qs << u"a"_qs;
    }
    void decoderAnswersEveryForm() {
        QFETCH(QString, form);
        QFETCH(QString, password);
        QCOMPARE(DecodePassword(form), password);
    }
};

QTEST_GUILESS_MAIN(TestQuenmarEncode)
#include "tst_passwordscrambling.moc"
