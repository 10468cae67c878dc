// The real programs as processes: the command line without a display, one running copy of tavelo
// per data folder, and the end of a run by a signal. Each copy lives in a temporary folder of its
// own, which is then its data folder, and keeps its settings there (config/).
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <memory>

namespace {
constexpr int kWaitMs = 20000;

QString binary(const QString& name) {
    return QString::fromUtf8(TAVELO_BINARY_DIR) + u"/bin/"_qs + name;
}
} // namespace

class TestApp : public QObject {
    Q_OBJECT

    std::vector<std::unique_ptr<QTemporaryDir>> folders; // outlive the processes
    std::vector<std::unique_ptr<QProcess>> running;

    /** Without a display, or on the offscreen one; XDG_CONFIG_HOME and XDG_DATA_HOME under `home`. */
    static QProcessEnvironment environment(bool display, const QDir& home) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"XDG_CONFIG_HOME"_qs, home.filePath(u"config"_qs));
        env.insert(u"XDG_DATA_HOME"_qs, home.filePath(u"data"_qs));
        env.remove(u"DISPLAY"_qs);
        env.remove(u"WAYLAND_DISPLAY"_qs);
        env.remove(u"QT_QPA_PLATFORM"_qs);
        if (display) env.insert(u"QT_QPA_PLATFORM"_qs, u"offscreen"_qs);
        return env;
    }
    /** A copy of tavelo in a new temporary folder: its data folder. */
    QString newCopy() {
        folders.push_back(std::make_unique<QTemporaryDir>());
        const QString program = folders.back()->filePath(u"tavelo"_qs);
        return QFile::copy(binary(u"tavelo"_qs), program) ? program : QString();
    }
    QProcess* start(const QString& program) {
        running.push_back(std::make_unique<QProcess>());
        QProcess* p = running.back().get();
        p->setProcessEnvironment(environment(true, QFileInfo(program).dir()));
        p->start(program, {});
        return p;
    }
    /** The process named in the folder's lock file, 0 without one. */
    static qint64 lockHolder(const QString& program) {
        qint64 pid = 0;
        QString host, application;
        QLockFile lock(QFileInfo(program).dir().filePath(u"Tavelo.lock"_qs));
        return lock.getLockInfo(&pid, &host, &application) ? pid : 0;
    }
    bool holdsItsFolder(QProcess* p, const QString& program) {
        return QTest::qWaitFor([&] { return lockHolder(program) == p->processId(); }, kWaitMs) &&
               p->state() == QProcess::Running;
    }

private slots:
    // With no umask at all, whatever a copy writes would be open to everybody unless it sees to it.
    void initTestCase() { ::umask(0); }

    void cleanup() {
        // Every copy still running ends the orderly way, with exit code 0.
        for (auto& p : running) {
            if (p->state() == QProcess::NotRunning) continue;
            ::kill(pid_t(p->processId()), SIGTERM);
            QVERIFY(p->waitForFinished(kWaitMs));
            QCOMPARE(p->exitStatus(), QProcess::NormalExit);
            QCOMPARE(p->exitCode(), 0);
        }
        running.clear();
        folders.clear();
    }

    void commandLineWithoutADisplay_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("out"); // how the output starts; empty: no output
        QTest::addColumn<QByteArray>("err"); // what the one line on stderr holds; empty: nothing there
        QTest::newRow("tavelo --help") << u"tavelo"_qs << QStringList{u"--help"_qs} << 0
                                       << QByteArray("Usage: tavelo [--help] [--version]\n") << QByteArray();
        QTest::newRow("tavelo --version") << u"tavelo"_qs << QStringList{u"--version"_qs} << 0
                                          << QByteArray("tavelo " TAVELO_VERSION "\n") << QByteArray();
        QTest::newRow("tavelo-scan --version") << u"tavelo-scan"_qs << QStringList{u"--version"_qs} << 0
                                               << QByteArray("tavelo-scan " TAVELO_VERSION "\n") << QByteArray();
        QTest::newRow("tavelo says in one line how to start it")
            << u"tavelo"_qs << QStringList{} << 1 << QByteArray() << QByteArray("xvfb-run -a tavelo");
    }
    void commandLineWithoutADisplay() {
        QFETCH(QString, program);
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        QTemporaryDir home;
        QProcess p;
        p.setProcessEnvironment(environment(false, QDir(home.path())));
        p.start(binary(program), args);
        QVERIFY(p.waitForFinished(kWaitMs));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), code);
        const QByteArray stdoutText = p.readAllStandardOutput();
        QVERIFY2(out.isEmpty() ? stdoutText.isEmpty() : stdoutText.startsWith(out), stdoutText.constData());
        const QByteArray stderrText = p.readAllStandardError();
        if (err.isEmpty())
            QCOMPARE(stderrText, QByteArray());
        else
            QVERIFY2(stderrText.contains(err) && stderrText.count('\n') == 1 && stderrText.endsWith('\n'),
                     stderrText.constData());
    }

    void onlyOneCopyPerDataFolder_data() {
        QTest::addColumn<bool>("sameFolder");
        QTest::addColumn<bool>("firstKilled"); // SIGKILL: its lock file is left behind, naming a dead process
        QTest::addColumn<bool>("secondRuns");
        QTest::newRow("same folder: hands over to the first and ends") << true << false << false;
        QTest::newRow("another folder: both run") << false << false << true;
        QTest::newRow("same folder, first killed: its lock is taken over") << true << true << true;
    }
    void onlyOneCopyPerDataFolder() {
        QFETCH(bool, sameFolder);
        QFETCH(bool, firstKilled);
        QFETCH(bool, secondRuns);
        const QString firstProgram = newCopy();
        QVERIFY(!firstProgram.isEmpty());
        QProcess* first = start(firstProgram);
        QVERIFY(holdsItsFolder(first, firstProgram));
        QCOMPARE(modeOf(QFileInfo(firstProgram).dir().filePath(u"Tavelo.lock"_qs)), 0600);
        if (firstKilled) {
            first->kill();
            QVERIFY(first->waitForFinished(kWaitMs));
            QVERIFY(lockHolder(firstProgram) != 0);
        }
        const QString secondProgram = sameFolder ? firstProgram : newCopy();
        QVERIFY(!secondProgram.isEmpty());
        QProcess* second = start(secondProgram);
        if (secondRuns) {
            QVERIFY(holdsItsFolder(second, secondProgram));
            QCOMPARE(modeOf(QFileInfo(secondProgram).dir().filePath(u"Tavelo.lock"_qs)), 0600);
        } else {
            QVERIFY(second->waitForFinished(kWaitMs));
            QCOMPARE(second->exitStatus(), QProcess::NormalExit);
            QCOMPARE(second->exitCode(), 0);
            QVERIFY(second->readAllStandardError().contains("its window was brought to the front"));
        }
        QCOMPARE(first->state(), firstKilled ? QProcess::NotRunning : QProcess::Running);
    }

    // SIGTERM, SIGINT and SIGHUP end the run the orderly way. At a signal nobody may be at the
    // screen: a box the program would show, or shows already, must not keep it from ending.
    void signalEndsTheRunWhateverBoxItMeets_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<QString>("directory"); // made, in the copy's folder, where a file should be
        QTest::addColumn<QByteArray>("err");    // what stderr then says
        QTest::newRow("SIGINT") << int(SIGINT) << QString() << QByteArray();
        QTest::newRow("SIGHUP") << int(SIGHUP) << QString() << QByteArray();
        QTest::newRow("filters unreadable: a box is open from the start")
            << int(SIGTERM) << u"Filtros.dat"_qs << QByteArray();
        QTest::newRow("settings unwritable at the end: said on stderr")
            << int(SIGTERM) << u"config/Quenmar/Tavelo.ini"_qs << QByteArray("Tavelo.ini");
    }
    void signalEndsTheRunWhateverBoxItMeets() {
        QFETCH(int, signalNumber);
        QFETCH(QString, directory);
        QFETCH(QByteArray, err);
        const QString program = newCopy();
        if (!directory.isEmpty()) QVERIFY(QFileInfo(program).dir().mkpath(directory));
        QProcess* p = start(program);
        QVERIFY(holdsItsFolder(p, program));
        ::kill(pid_t(p->processId()), signalNumber);
        QVERIFY(p->waitForFinished(kWaitMs));
        QCOMPARE(p->exitStatus(), QProcess::NormalExit);
        QCOMPARE(p->exitCode(), 0);
        const QByteArray stderrText = p->readAllStandardError();
        QVERIFY2(stderrText.contains(err), stderrText.constData());
    }
};

QTEST_GUILESS_MAIN(TestApp)
#include "tst_app.moc"
