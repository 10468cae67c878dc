// Cuentas.dat byte for byte: what the reader makes of every kind of line, what the writer puts
// on disk, and what loading and saving do to the file itself.
#include "AccountsFile.h"
#include "Errors.h"
#include "TestFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

Q_DECLARE_METATYPE(AccountRecord)

namespace {

AccountRecord rec(const QString& servidor, const QString& puerto, const QString& usuario, const QString& password) {
    return {servidor, puerto, usuario, password};
}

// Readable failure output: one line per record, control characters shown.
QStringList describe(const QList<AccountRecord>& records) {
    QStringList out;
    for (const AccountRecord& r : records) {
        QString line = QStringList{r.servidor, r.puerto, r.usuario, r.password}.join(u" | "_qs);
        line.replace(u'\r', u"<CR>"_qs).replace(u'\n', u"<LF>"_qs);
        out << line;
    }
    return out;
}

const QByteArray kOne = "SERV:pop.example.com\r\nPORT:110\r\nUSER:ana\r\nPASS:IAOBAB\r\n-----\r\n";
const QByteArray kTwo = "SERV:mail.example.org\r\nPORT:995\r\nUSER:luis\r\nPASS:\r\n-----\r\n";
const AccountRecord kOneRec = {u"pop.example.com"_qs, u"110"_qs, u"ana"_qs, u"IAOBAB"_qs};
const AccountRecord kTwoRec = {u"mail.example.org"_qs, u"995"_qs, u"luis"_qs, QString()};

} // namespace

class TestAccountsFile : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString path(const QString& name = u"Cuentas.dat"_qs) const { return m_dir.filePath(name); }

private slots:
    void init() { QVERIFY(m_dir.isValid()); }
    void cleanup() {
        for (const QString& f : QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden))
            QFile::remove(path(f));
    }

    void readerTakesLinesByPosition_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QList<AccountRecord>>("records");
        QTest::newRow("empty file") << QByteArray() << QList<AccountRecord>{};
        QTest::newRow("one record") << kOne << QList{kOneRec};
        QTest::newRow("two records") << kOne + kTwo << QList{kOneRec, kTwoRec};
        QTest::newRow("LF only is one first line")
            << QByteArray("SERV:a\nPORT:110\nUSER:u\nPASS:p\n-----\n")
            << QList{rec(u"a\nPORT:110\nUSER:u\nPASS:p\n-----\n"_qs, {}, {}, {})};
        QTest::newRow("ctrl-z ends the data") << kOne + "\x1A" + kTwo << QList{kOneRec};
        QTest::newRow("ctrl-z inside a record") << QByteArray("SERV:a\r\nPORT:11\x1A"
                                                              "0\r\nUSER:u\r\n")
                                                << QList{rec(u"a"_qs, u"11"_qs, {}, {})};
        QTest::newRow("missing lines read empty")
            << QByteArray("SERV:a\r\nPORT:110\r\n") << QList{rec(u"a"_qs, u"110"_qs, {}, {})};
        QTest::newRow("blank line after the last record") << kOne + "\r\n" << QList{kOneRec, rec({}, {}, {}, {})};
        QTest::newRow("prefixes never compared")
            << QByteArray("serv:pop.example.com\r\nXXXXX110\r\n12345ana\r\npass IAOBAB\r\n=====\r\n") << QList{kOneRec};
        QTest::newRow("lines of five or fewer are empty")
            << QByteArray("SERV\r\nPORT:\r\n\r\nP\r\n-----\r\n") << QList{rec({}, {}, {}, {})};
        QTest::newRow("fifth line ignored") << QByteArray("SERV:a\r\nPORT:1\r\nUSER:u\r\nPASS:p\r\nanything at all\r\n")
                                            << QList{rec(u"a"_qs, u"1"_qs, u"u"_qs, u"p"_qs)};
        QTest::newRow("CR alone ends a line")
            << QByteArray("SERV:a\rPORT:1\rUSER:u\rPASS:p\r-----\r") << QList{rec(u"a"_qs, u"1"_qs, u"u"_qs, u"p"_qs)};
        QTest::newRow("lone LF is part of the value")
            << QByteArray("SERV:a\nb\r\nPORT:1\r\nUSER:u\r\nPASS:p\r\n-----\r\n")
            << QList{rec(u"a\nb"_qs, u"1"_qs, u"u"_qs, u"p"_qs)};
        QTest::newRow("only one LF belongs to the line end")
            << QByteArray("SERV:a\r\n\nPORT:1\r\nUSER:u\r\nPASS:p\r\n-----\r\n")
            << QList{rec(u"a"_qs, u":1"_qs, u"u"_qs, u"p"_qs)};
        QTest::newRow("last line without line end") << QByteArray("SERV:a\r\nPORT:1\r\nUSER:u\r\nPASS:p\r\n-----")
                                                    << QList{rec(u"a"_qs, u"1"_qs, u"u"_qs, u"p"_qs)};
        QTest::newRow("windows-1252 bytes") << QByteArray("SERV:a\r\nPORT:1\r\nUSER:jos\xE9\r\nPASS:\x80\r\n-----\r\n")
                                            << QList{rec(u"a"_qs, u"1"_qs, u"jos\u00E9"_qs, u"\u20AC"_qs)};
    }
    void readerTakesLinesByPosition() {
        QFETCH(QByteArray, data);
        QFETCH(QList<AccountRecord>, records);
        QCOMPARE(describe(ParseAccountsData(data)), describe(records));
    }

    void writerPutsFiveLinesPerRecord_data() {
        QTest::addColumn<QList<AccountRecord>>("records");
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("no accounts is zero bytes") << QList<AccountRecord>{} << QByteArray();
        QTest::newRow("one") << QList{kOneRec} << kOne;
        QTest::newRow("two in order") << QList{kOneRec, kTwoRec} << kOne + kTwo;
        QTest::newRow("all empty") << QList{rec({}, {}, {}, {})}
                                   << QByteArray("SERV:\r\nPORT:\r\nUSER:\r\nPASS:\r\n-----\r\n");
        QTest::newRow("windows-1252 bytes")
            << QList{rec(u"se\u00F1or"_qs, u"110"_qs, u"\u20AC"_qs, u"AA"_qs)}
            << QByteArray("SERV:se\xF1or\r\nPORT:110\r\nUSER:\x80\r\nPASS:AA\r\n-----\r\n");
        QTest::newRow("port text unconverted") << QList{rec(u"h"_qs, u" 0110x"_qs, u"u"_qs, {})}
                                               << QByteArray("SERV:h\r\nPORT: 0110x\r\nUSER:u\r\nPASS:\r\n-----\r\n");
    }
    void writerPutsFiveLinesPerRecord() {
        QFETCH(QList<AccountRecord>, records);
        QFETCH(QByteArray, data);
        QCOMPARE(FormatAccountsData(records), data);
        QCOMPARE(describe(ParseAccountsData(data)), describe(records));
    }

    void missingFileIsCreatedEmptyAndPrivate() {
        QVERIFY(LoadAccountsFile(path()).isEmpty());
        QVERIFY(QFile::exists(path()));
        QCOMPARE(fileBytes(path()), QByteArray());
        QCOMPARE(modeOf(path()), 0600);
    }

    void loadReturnsEveryRecordOfTheFile() {
        writeBytes(path(), kOne + "SERV:x\r\nPORT:\r\nUSER:y\r\nPASS:\r\n-----\r\n" + kTwo);
        QCOMPARE(describe(LoadAccountsFile(path())), describe({kOneRec, rec(u"x"_qs, {}, u"y"_qs, {}), kTwoRec}));
    }

    void loadOfUnreadablePathThrows() {
        QVERIFY(QDir(m_dir.path()).mkdir(u"Cuentas.dat"_qs));
        QVERIFY_THROWS_EXCEPTION(EInOutError, LoadAccountsFile(path()));
        QVERIFY(QDir(m_dir.path()).rmdir(u"Cuentas.dat"_qs));
    }

    void saveLeavesExactBytesOwnerOnly_data() {
        QTest::addColumn<int>("oldMode");
        QTest::newRow("new file") << -1;
        QTest::newRow("old file readable by all") << 0644;
        QTest::newRow("old file writable by all") << 0666;
    }
    void saveLeavesExactBytesOwnerOnly() {
        QFETCH(int, oldMode);
        if (oldMode >= 0) {
            writeBytes(path(), "old");
            QCOMPARE(::chmod(QFile::encodeName(path()).constData(), mode_t(oldMode)), 0);
        }
        SaveAccountsFile(path(), {kOneRec, kTwoRec});
        QCOMPARE(fileBytes(path()), kOne + kTwo);
        QCOMPARE(modeOf(path()), 0600);
    }

    void failedSaveKeepsOldFile_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("oldFile");
        QTest::newRow("directory missing") << u"missing/Cuentas.dat"_qs << false;
        // The name leaves no room for the temporary file beside it.
        QTest::newRow("no room for the temporary file") << QString(250, u'c') << true;
    }
    void failedSaveKeepsOldFile() {
        QFETCH(QString, name);
        QFETCH(bool, oldFile);
        if (oldFile) writeBytes(path(name), kTwo);
        try {
            SaveAccountsFile(path(name), {kOneRec});
            QFAIL("no error");
        } catch (const EInOutError& e) {
            QVERIFY2(e.message().contains(path(name)), qPrintable(e.message()));
        }
        QCOMPARE(fileBytes(path(name)), oldFile ? kTwo : QByteArray("<unreadable>"));
    }

    void failedSaveInReadOnlyDirectoryKeepsOldFile() {
        const QString dir = m_dir.filePath(u"ro"_qs);
        QVERIFY(QDir().mkpath(dir));
        const QString file = dir + u"/Cuentas.dat"_qs;
        writeBytes(file, kTwo);
        QVERIFY(QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner));
        const auto restore =
            qScopeGuard([&] { QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); });
        QFile probe(dir + u"/probe"_qs);
        if (probe.open(QIODevice::WriteOnly)) {
            probe.remove();
            QSKIP("permissions do not bind this user (root)");
        }
        QVERIFY_THROWS_EXCEPTION(EInOutError, SaveAccountsFile(file, {kOneRec}));
        QCOMPARE(fileBytes(file), kTwo);
    }

    void readingIsLinearInTheSize_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("records");
        QTest::newRow("many records") << kOne.repeated(200000) << 200000;
        QTest::newRow("one huge line") << QByteArray("SERV:") + QByteArray(20 << 20, 'x') << 1;
    }
    void readingIsLinearInTheSize() {
        QFETCH(QByteArray, data);
        QFETCH(int, records);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(ParseAccountsData(data).size(), records);
        // Linear work takes well under a second here; a quadratic reader takes minutes.
        QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
    }
};

QTEST_GUILESS_MAIN(TestAccountsFile)
#include "tst_accountsfile.moc"
