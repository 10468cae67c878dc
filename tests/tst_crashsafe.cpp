// Crash safety of the stored files: a writer process saves Cuentas.dat, Filtros.dat and the settings
// in a loop, two known versions in turn, and is killed with SIGKILL at random moments. After every
// kill each file must hold exactly one of the two versions (or not exist yet, before its first
// save), never a mix or a piece, and each must stay readable and writable by its owner only.
#include "crashsafe_contents.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <algorithm>
#include <sys/stat.h>

namespace {

constexpr int kKills = 100;

struct WatchedFile {
    QString name;
    QByteArray versions[2];
    bool seen = false; // present after an earlier kill: from then on it must never be missing
    int versionSeen[2] = {0, 0};
};

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestCrashSafe final : public QObject {
    Q_OBJECT

private slots:
    void killedWriterLeavesOldOrNewContentOnly();
};

void TestCrashSafe::killedWriterLeavesOldOrNewContentOnly() {
    // What each version of the settings file looks like, as this Qt writes it.
    QTemporaryDir reference;
    QVERIFY(reference.isValid());
    QByteArray settingsVersions[2];
    for (int v : {0, 1}) {
        const QString path = reference.filePath(u"v%1.ini"_qs.arg(v));
        SaveSettings(crashsafe::settings(v), path);
        settingsVersions[v] = readAll(path);
        QVERIFY(!settingsVersions[v].isEmpty());
    }
    WatchedFile files[] = {
        {u"Cuentas.dat"_qs, {FormatAccountsData(crashsafe::accounts(0)), FormatAccountsData(crashsafe::accounts(1))}},
        {u"Filtros.dat"_qs, {FormatFiltersData(crashsafe::filters(0)), FormatFiltersData(crashsafe::filters(1))}},
        {u"Tavelo.ini"_qs, {settingsVersions[0], settingsVersions[1]}},
    };

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const auto runWriter = [&dir](QProcess& writer, const QStringList& extra) {
        writer.start(QStringLiteral(TAVELO_CRASHSAFE_WRITER), QStringList{dir.path()} + extra);
        return writer.waitForStarted(30000) && writer.waitForReadyRead(30000);
    };

    // How long one round of three saves takes here (sanitizers and slow disks included), so that the
    // kills spread over the first few rounds: the very first saves and the later replacements.
    qint64 roundNs = 0;
    {
        QTemporaryDir timing;
        QProcess writer;
        writer.start(QStringLiteral(TAVELO_CRASHSAFE_WRITER), {timing.path(), u"1"_qs});
        QVERIFY(writer.waitForStarted(30000) && writer.waitForReadyRead(30000));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(writer.waitForFinished(30000));
        roundNs = std::max<qint64>(clock.nsecsElapsed(), 1000000);
        QCOMPARE(writer.exitCode(), 0);
    }

    quint32 seed = QRandomGenerator::global()->generate();
    if (qEnvironmentVariableIsSet("TAVELO_CRASHSAFE_SEED"))
        seed = qEnvironmentVariableIntValue("TAVELO_CRASHSAFE_SEED");
    qInfo("seed %u (set TAVELO_CRASHSAFE_SEED to repeat), one round of saves takes about %lld us", seed,
          roundNs / 1000);
    QRandomGenerator random(seed);

    const auto seenInBoth = [&files] {
        return std::all_of(std::begin(files), std::end(files),
                           [](const WatchedFile& f) { return f.versionSeen[0] > 0 && f.versionSeen[1] > 0; });
    };
    // Each writer starts with the version the last one did not, so that even a kill in its first
    // round can leave either. On a busy machine the writer may get less time than the round measured
    // above: until every file was found in both versions, the kills go on, later and later.
    for (int kill = 0; kill < kKills || (!seenInBoth() && kill < 4 * kKills); ++kill) {
        QProcess writer;
        QVERIFY2(runWriter(writer, {u"-1"_qs, QString::number(kill % 2)}), qPrintable(writer.errorString()));
        const quint64 rangeUs = quint64(4 * roundNs / 1000) << std::min(kill / kKills, 3);
        QThread::usleep(random.bounded(rangeUs));
        writer.kill();
        QVERIFY(writer.waitForFinished(30000));
        QVERIFY2(
            writer.exitStatus() == QProcess::CrashExit,
            qPrintable(u"the writer stopped by itself: "_qs + QString::fromLocal8Bit(writer.readAllStandardError())));

        for (WatchedFile& file : files) {
            const QString path = dir.filePath(file.name);
            const QString where = u"after kill %1: %2"_qs.arg(kill + 1).arg(file.name);
            if (!QFile::exists(path)) {
                QVERIFY2(!file.seen, qPrintable(where + u" has disappeared"_qs));
                continue;
            }
            file.seen = true;
            const QByteArray content = readAll(path);
            const int version = content == file.versions[0] ? 0 : content == file.versions[1] ? 1 : -1;
            QVERIFY2(version >= 0,
                     qPrintable(where + u" holds %1 bytes, neither version (%2 or %3 bytes)"_qs.arg(content.size())
                                            .arg(file.versions[0].size())
                                            .arg(file.versions[1].size())));
            ++file.versionSeen[version];
        }
        for (const WatchedFile& file : files) {
            struct stat st {};
            if (stat(QFile::encodeName(dir.filePath(file.name)).constData(), &st) == 0)
                QVERIFY2((st.st_mode & 07777) == 0600,
                         qPrintable(u"after kill %1: %2 has mode %3"_qs.arg(kill + 1).arg(file.name).arg(
                             st.st_mode & 07777, 0, 8)));
        }
    }

    // The kills fell at enough different moments to find each file in both versions.
    for (const WatchedFile& file : files)
        QVERIFY2(file.versionSeen[0] > 0 && file.versionSeen[1] > 0,
                 qPrintable(u"%1 was found %2 times in version 0 and %3 times in version 1"_qs.arg(file.name)
                                .arg(file.versionSeen[0])
                                .arg(file.versionSeen[1])));

    // Whatever the kills left behind (lock files, temporary files) does not keep a new run from saving.
    QProcess last;
    QVERIFY(runWriter(last, {u"2"_qs}));
    QVERIFY(last.waitForFinished(60000));
    QCOMPARE(last.exitStatus(), QProcess::NormalExit);
    QVERIFY2(last.exitCode() == 0, last.readAllStandardError().constData());
    for (const WatchedFile& file : files)
        QCOMPARE(readAll(dir.filePath(file.name)), file.versions[1]);
    qInfo() << "left in the directory:" << QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
}

QTEST_GUILESS_MAIN(TestCrashSafe)
#include "tst_crashsafe.moc"
