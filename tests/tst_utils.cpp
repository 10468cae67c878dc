// The accent fold, the sound seam, the conversions between seconds, times of day and "H:MM:SS",
// and server text made safe to show or to write to a terminal.
#include "Errors.h"
#include "FreedMemory.h"
#include "ShownText.h"
#include "TextAndTime.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTime>
#include <cstring>
#include <limits>
#include <vector>
#if __has_include(<malloc.h>)
#include <malloc.h>
#endif

namespace {

constexpr double kSecondsPerDay = 86400.0;

// The fold as the header scan and the filters need it: a-z and the Spanish lower-case accented
// letters; every other character of Windows-1252 stays.
QChar folded(QChar c) {
    if (c >= u'a' && c <= u'z') return QChar(c.unicode() - 32);
    switch (c.unicode()) {
    case u'á':
        return u'A';
    case u'é':
        return u'E';
    case u'í':
        return u'I';
    case u'ó':
        return u'O';
    case u'ú':
        return u'U';
    case u'ñ':
        return u'Ñ';
    default:
        return c;
    }
}

} // namespace

class TestUtils : public QObject {
    Q_OBJECT

    QStringList m_played;

private slots:
    // Memory freed below what is still in use goes back to the system when asked: glibc would keep it.
    void freedMemoryGoesBackToTheSystem() {
#if defined(M_TRIM_THRESHOLD) && !defined(__SANITIZE_ADDRESS__)
        auto residentPages = [] {
            QFile statm(u"/proc/self/statm"_qs);
            return statm.open(QIODevice::ReadOnly) ? statm.readAll().split(' ').value(1).toLong() : 0L;
        };
        std::vector<void*> blocks(20000);
        for (void*& block : blocks)
            std::memset(block = std::malloc(1000), 1, 1000);
        void* volatile inUse = std::malloc(1000); // above them: freeing them leaves a hole, no top to cut
        for (void* block : blocks)
            std::free(block);
        const long before = residentPages();
        ReturnFreedMemory();
        const long given = before - residentPages();
        std::free(inUse);
        QVERIFY2(given > 2000, QByteArray::number(given) + " pages of some 4,900"); // 20 MB
#else
        QSKIP("glibc's allocator only");
#endif
    }

    void init() {
        m_played.clear();
        SetSoundPlayer([this](const QString& fileName) { m_played << fileName; });
    }
    void cleanup() {
        SetSoundPlayer({});
    }

    void serverTextShownSafely_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");      // on one line
        QTest::addColumn<QString>("shownLines"); // in the text pane: TABs and line breaks kept
        QTest::addColumn<QString>("terminal");   // tavelo-scan, lines kept
        QTest::newRow("plain") << u"Factura ñ €"_qs << u"Factura ñ €"_qs << u"Factura ñ €"_qs << u"Factura ñ €"_qs;
        QTest::newRow("window title") << u"\x1b]0;x\x07"_qs << u"\uFFFD]0;x\uFFFD"_qs << u"\uFFFD]0;x\uFFFD"_qs
                                      << u"\\x1b]0;x\\x07"_qs;
        QTest::newRow("right-to-left override") << u"factura_\u202Efdp.exe"_qs << u"factura_\uFFFDfdp.exe"_qs
                                                << u"factura_\uFFFDfdp.exe"_qs << u"factura_\\u202efdp.exe"_qs;
        QTest::newRow("isolates and marks")
            << u"a\u2066b\u2069c\u200Fd\u061C"_qs << u"a\uFFFDb\uFFFDc\uFFFDd\uFFFD"_qs
            << u"a\uFFFDb\uFFFDc\uFFFDd\uFFFD"_qs << u"a\\u2066b\\u2069c\\u200fd\\u061c"_qs;
        QTest::newRow("NUL, DEL, C1") << QString(u"a\0b\x7f\x9b"_qs) << u"a\uFFFDb\uFFFD\uFFFD"_qs
                                      << u"a\uFFFDb\uFFFD\uFFFD"_qs << u"a\\x00b\\x7f\\x9b"_qs;
        QTest::newRow("layout") << u"a\tb\r\nc\rd\n"_qs << u"a\uFFFDb\uFFFD\uFFFDc\uFFFDd\uFFFD"_qs
                                << u"a\tb\r\nc\rd\n"_qs << u"a\\x09b\r\nc\\x0dd\n"_qs;
        QTest::newRow("line separator") << u"a\u2028b"_qs << u"a\uFFFDb"_qs << u"a\uFFFDb"_qs << u"a\\u2028b"_qs;
    }
    void serverTextShownSafely() {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QFETCH(QString, shownLines);
        QFETCH(QString, terminal);
        QCOMPARE(ShownText(text), shown);
        QCOMPARE(ShownText(text, KeepLayout::TabsAndLineBreaks), shownLines);
        QCOMPARE(TerminalText(text, true), terminal);
    }

    void foldUpperCasesSpanishText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("ñ") << u"Añadir"_qs << u"AÑADIR"_qs;
        QTest::newRow("accented vowels") << u"áéíóú José Pérez"_qs << u"AEIOU JOSE PEREZ"_qs;
        QTest::newRow("ASCII letters") << u"abc xyz ABC XYZ"_qs << u"ABC XYZ ABC XYZ"_qs;
        QTest::newRow("around a-z") << u"@[`{09:"_qs << u"@[`{09:"_qs;
        QTest::newRow("capitals with accents stay") << u"ÁÉÍÓÚÑ"_qs << u"ÁÉÍÓÚÑ"_qs;
        QTest::newRow("other accents stay") << u"üàçèâöã"_qs << u"üàçèâöã"_qs;
        QTest::newRow("É and ü in a word") << u"Éxito pingüino"_qs << u"ÉXITO PINGüINO"_qs;
        QTest::newRow("no length change") << u"straße ÿ µ"_qs << u"STRAßE ÿ µ"_qs;
        QTest::newRow("Windows-1252 letters stay") << u"šžœ"_qs << u"šžœ"_qs;
    }
    void foldUpperCasesSpanishText() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(MayusculasSinAcentos(text), expected);
    }

    // Positions found in the folded text must hold in the original: one character for one.
    void foldChangesOnlyItsTable() {
        QString all;
        for (int b = 0; b < 256; ++b)
            all += QChar(b);
        all += u"€‚ƒ„…†‡ˆ‰Š‹ŒŽ‘’“”•–—˜™š›œžŸ"_qs;
        const QString result = MayusculasSinAcentos(all);
        QCOMPARE(result.size(), all.size());
        for (qsizetype i = 0; i < all.size(); ++i)
            QCOMPARE(result[i], folded(all[i]));
    }

    void soundPlaysOnlyAnExistingFile_data() {
        QTest::addColumn<QString>("which");
        QTest::addColumn<bool>("plays");
        QTest::newRow("existing file") << u"aviso.wav"_qs << true;
        QTest::newRow("empty name") << QString() << false;
        QTest::newRow("missing file") << u"falta.wav"_qs << false;
        QTest::newRow("directory") << u"sonidos"_qs << false;
    }
    void soundPlaysOnlyAnExistingFile() {
        QFETCH(QString, which);
        QFETCH(bool, plays);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QFile file(dir.filePath(u"aviso.wav"_qs));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("RIFF");
        file.close();
        QVERIFY(QDir(dir.path()).mkdir(u"sonidos"_qs));

        const QString name = which.isEmpty() ? QString() : dir.filePath(which);
        ReproducirSonido(name);
        QCOMPARE(m_played, plays ? QStringList{name} : QStringList());
    }

    void soundWithoutPlayerDoesNothing() {
        QTemporaryDir dir;
        QFile file(dir.filePath(u"aviso.wav"_qs));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        SetSoundPlayer({});
        ReproducirSonido(file.fileName());
        QVERIFY(m_played.isEmpty());
    }

    void secondsOfTimeOfDay_data() {
        QTest::addColumn<double>("dateTime");
        QTest::addColumn<int>("seconds");
        QTest::newRow("midnight") << 0.0 << 0;
        QTest::newRow("1:00:05.900") << 3605.9 / kSecondsPerDay << 3605;
        QTest::newRow("a day and five seconds") << 1.0 + 5 / kSecondsPerDay << 5;
        QTest::newRow("last second of the day") << 86399.999 / kSecondsPerDay << 86399;
        QTest::newRow("a date at 1:00:05") << 45292.0 + 3605 / kSecondsPerDay << 3605;
        QTest::newRow("difference of two stamps") << (45292.5 + 3605 / kSecondsPerDay) - 45292.5 << 3605;
        QTest::newRow("a hair short of midnight") << 1.0 - 1e-10 << 0;
        QTest::newRow("a hair short of the next midnight") << 45293.0 - 1e-11 << 0;
        QTest::newRow("negative date-time keeps its time") << -1.25 << 21600;
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << 0;
        QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << 0;
    }
    void secondsOfTimeOfDay() {
        QFETCH(double, dateTime);
        QFETCH(int, seconds);
        QCOMPARE(SegundosDeHora(dateTime), seconds);
    }

    void timeOfDayOfSeconds_data() {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<QTime>("time");
        QTest::newRow("0") << 0 << QTime(0, 0);
        QTest::newRow("3605") << 3605 << QTime(1, 0, 5);
        QTest::newRow("300") << 300 << QTime(0, 5, 0);
        QTest::newRow("86399") << 86399 << QTime(23, 59, 59);
        QTest::newRow("86400") << 86400 << QTime();
        QTest::newRow("100000") << 100000 << QTime();
        QTest::newRow("largest") << std::numeric_limits<int>::max() << QTime();
        QTest::newRow("-1") << -1 << QTime();
        QTest::newRow("-3605") << -3605 << QTime();
        QTest::newRow("smallest") << std::numeric_limits<int>::min() << QTime();
    }
    void timeOfDayOfSeconds() {
        QFETCH(int, seconds);
        QFETCH(QTime, time);
        if (time.isValid()) {
            QCOMPARE(HoraDeSegundos(seconds), time.msecsSinceStartOfDay() / (kSecondsPerDay * 1000));
            return;
        }
        try {
            HoraDeSegundos(seconds);
            QFAIL("no error for a time outside the day");
        } catch (const EConvertError& e) {
            QVERIFY(!e.message().isEmpty());
        }
    }

    // Every second of the day survives the way to a time and back, alone and added to a date.
    void secondsSurviveTimeOfDay() {
        for (int n = 0; n < 86400; ++n) {
            const double time = HoraDeSegundos(n);
            if (SegundosDeHora(time) != n || SegundosDeHora(45292.0 + time) != n)
                QFAIL(qPrintable(u"%1 seconds came back as %2 and %3"_qs.arg(n)
                                     .arg(SegundosDeHora(time))
                                     .arg(SegundosDeHora(45292.0 + time))));
        }
    }

    // The clock is local time counted in days from 30 December 1899, in zones east and west of
    // UTC (offsets that are not whole hours included).
    void clockIsLocalTime_data() {
        QTest::addColumn<QByteArray>("zone");
        QTest::newRow("UTC") << QByteArray("UTC");
        QTest::newRow("east, +13:45 or +12:45") << QByteArray("Pacific/Chatham");
        QTest::newRow("west, -3:30 or -2:30") << QByteArray("America/St_Johns");
    }
    void clockIsLocalTime() {
        QFETCH(QByteArray, zone);
        const QByteArray saved = qgetenv("TZ");
        qputenv("TZ", zone);
        QThread::msleep(1100); // the clock looks the zone up again after a second
        const auto days = [](const QDateTime& t) {
            return double(QDate(1899, 12, 30).daysTo(t.date())) + t.time().msecsSinceStartOfDay() / 86400000.0;
        };
        const double before = days(QDateTime::currentDateTime());
        const double now = CurrentDateTime();
        const double after = days(QDateTime::currentDateTime());
        if (saved.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", saved);
        // Within a millisecond of the bracket (the day fraction is rounded differently).
        QVERIFY2(
            now >= before - 1.0 / 86400000 && now <= after + 1.0 / 86400000,
            qPrintable(u"%1 not within %2 .. %3"_qs.arg(now, 0, 'f', 9).arg(before, 0, 'f', 9).arg(after, 0, 'f', 9)));
    }

    void secondsOfText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("fails");
        QTest::addColumn<int>("seconds");
        QTest::newRow("H:MM:SS") << u"1:00:05"_qs << false << 3605;
        QTest::newRow("M:SS") << u"10:00"_qs << false << 600;
        QTest::newRow("seconds") << u"45"_qs << false << 45;
        QTest::newRow("leading colon") << u":5"_qs << false << 5;
        QTest::newRow("no range limits") << u"61:61"_qs << false << 3721;
        QTest::newRow("sign") << u"-5"_qs << false << -5;
        QTest::newRow("plus sign") << u"+5"_qs << false << 5;
        QTest::newRow("zero") << u"0:00:00"_qs << false << 0;
        QTest::newRow("largest") << u"596523:14:07"_qs << false << std::numeric_limits<int>::max();
        QTest::newRow("smallest") << u"-596523:-14:-08"_qs << false << std::numeric_limits<int>::min();
        QTest::newRow("empty") << QString() << false << -1;
        QTest::newRow("three colons") << u"1:00:00:05"_qs << false << -1;
        QTest::newRow("only colons") << u":::"_qs << false << -1;
        QTest::newRow("three colons and letters") << u"a:b:c:d"_qs << false << -1;
        QTest::newRow("trailing colon") << u"5:"_qs << true << 0;
        QTest::newRow("empty middle field") << u"1::0"_qs << true << 0;
        QTest::newRow("two colons only") << u"::"_qs << true << 0;
        QTest::newRow("letters") << u"1:0a"_qs << true << 0;
        QTest::newRow("trailing blank") << u"10 "_qs << true << 0;
        QTest::newRow("field too large") << u"2147483648"_qs << true << 0;
        QTest::newRow("sum too large") << u"596523:14:08"_qs << true << 0;
        QTest::newRow("sum too small") << u"-35791394:-09"_qs << true << 0;
    }
    void secondsOfText() {
        QFETCH(QString, text);
        QFETCH(bool, fails);
        QFETCH(int, seconds);
        if (!fails) {
            QCOMPARE(SegundosDeTexto(text), seconds);
            return;
        }
        try {
            const int result = SegundosDeTexto(text);
            QFAIL(qPrintable(u"no error, %1"_qs.arg(result)));
        } catch (const EConvertError& e) {
            QCOMPARE(QByteArray(e.className()), QByteArray("EConvertError"));
        }
    }
};

QTEST_GUILESS_MAIN(TestUtils)
#include "tst_utils.moc"
