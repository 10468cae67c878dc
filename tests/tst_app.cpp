// The real programs as processes: the command line without a display, one running copy of tavelo
// per data folder, and the end of a run by a signal. Each copy lives in a temporary folder of its
// own, which is then its data folder, and keeps its settings there (config/); its runtime folder,
// when it has one, is run/ there.
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <grp.h>
#include <memory>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
constexpr int kWaitMs = 20000;
/// The user "nobody": another user of the machine.
constexpr uid_t kNobody = 65534;

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
        if (home.exists(u"run"_qs))
            env.insert(u"XDG_RUNTIME_DIR"_qs, home.filePath(u"run"_qs));
        else
            env.remove(u"XDG_RUNTIME_DIR"_qs);
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

    /** The copy's runtime folder as a row wants it: "own" (this user's, 0700), "open" (0777),
     *  "another user's" (0700, of nobody) or "none". */
    static bool makeRuntimeFolder(const QString& program, const QString& kind) {
        const QString run = QFileInfo(program).dir().filePath(u"run"_qs);
        if (kind == u"none") return true;
        const QByteArray name = QFile::encodeName(run);
        return ::mkdir(name.constData(), kind == u"open" ? 0777 : 0700) == 0 &&
               (kind != u"another user's" || ::chown(name.constData(), kNobody, kNobody) == 0);
    }
    /** The sockets in the folder. */
    static QStringList socketsIn(const QString& dir) {
        QStringList found;
        for (const QFileInfo& entry : QDir(dir).entryInfoList(QDir::AllEntries | QDir::System | QDir::Hidden)) {
            struct stat st {};
            if (::lstat(QFile::encodeName(entry.filePath()).constData(), &st) == 0 && S_ISSOCK(st.st_mode))
                found << entry.filePath();
        }
        return found;
    }

    pid_t squatter = 0;
    /** A process of another user (nobody) that takes the socket's place, as one who got there first
     *  would, and takes every connection. */
    bool squat(const QString& path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(path);
        int ready[2];
        if (name.size() >= qsizetype(sizeof address.sun_path) || ::pipe(ready) != 0) return false;
        std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
        squatter = ::fork();
        if (squatter == 0) { // only calls that are safe in the child of a process with threads
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0 || fd < 0 ||
                (::unlink(address.sun_path) != 0 && errno != ENOENT) ||
                ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 8) != 0 ||
                ::write(ready[1], "", 1) != 1)
                ::_exit(1);
            for (;;)
                if (const int peer = ::accept(fd, nullptr, nullptr); peer >= 0) ::close(peer);
        }
        ::close(ready[1]);
        char byte = 0;
        const bool listening = squatter > 0 && ::read(ready[0], &byte, 1) == 1;
        ::close(ready[0]);
        return listening;
    }

private slots:
    // With no umask at all, whatever a copy writes would be open to everybody unless it sees to it.
    void initTestCase() { ::umask(0); }

    void cleanup() {
        if (squatter > 0) {
            ::kill(squatter, SIGKILL);
            ::waitpid(squatter, nullptr, 0);
            squatter = 0;
        }
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
        QTest::addColumn<QString>("runtime");      // the copies' runtime folder (makeRuntimeFolder)
        QTest::addColumn<bool>("socketInRuntime"); // else in the data folder
        QTest::addColumn<bool>("squatted");        // another user took the socket's place after the first listened
        QTest::addColumn<int>("code");             // the second's exit code when it ends
        QTest::addColumn<QByteArray>("said");      // what it then says on stderr
        const QByteArray handedOver("its window was brought to the front");
        const QString own = u"own"_qs;
        QTest::newRow("same folder: hands over to the first and ends")
            << true << false << false << own << true << false << 0 << handedOver;
        QTest::newRow("another folder: both run")
            << false << false << true << own << true << false << 0 << QByteArray();
        QTest::newRow("same folder, first killed: its lock is taken over")
            << true << true << true << own << true << false << 0 << QByteArray();
        QTest::newRow("no runtime folder: the socket in the data folder")
            << true << false << false << u"none"_qs << false << false << 0 << handedOver;
        QTest::newRow("runtime folder open to others: not used")
            << true << false << false << u"open"_qs << false << false << 0 << handedOver;
        QTest::newRow("runtime folder of another user: not used")
            << true << false << false << u"another user's"_qs << false << false << 0 << handedOver;
        QTest::newRow("socket of another user: not trusted, nothing handed over")
            << true << false << false << u"none"_qs << false << true << 1 << QByteArray("es de otro usuario");
    }
    void onlyOneCopyPerDataFolder() {
        QFETCH(bool, sameFolder);
        QFETCH(bool, firstKilled);
        QFETCH(bool, secondRuns);
        QFETCH(QString, runtime);
        QFETCH(bool, socketInRuntime);
        QFETCH(bool, squatted);
        QFETCH(int, code);
        QFETCH(QByteArray, said);
        const QString firstProgram = newCopy();
        QVERIFY(!firstProgram.isEmpty());
        QVERIFY(makeRuntimeFolder(firstProgram, runtime));
        const QString dataFolder = QFileInfo(firstProgram).absolutePath();
        // Another user can put a file only into a folder open to everybody.
        if (squatted) QVERIFY(::chmod(QFile::encodeName(dataFolder).constData(), 0777) == 0);
        QProcess* first = start(firstProgram);
        QVERIFY(holdsItsFolder(first, firstProgram));
        QCOMPARE(modeOf(QFileInfo(firstProgram).dir().filePath(u"Tavelo.lock"_qs)), 0600);
        const QString socketFolder = socketInRuntime ? dataFolder + u"/run"_qs : dataFolder;
        const QString otherFolder = socketInRuntime ? dataFolder : dataFolder + u"/run"_qs;
        QVERIFY(QTest::qWaitFor([&] { return !socketsIn(socketFolder).isEmpty(); }, kWaitMs));
        QCOMPARE(socketsIn(socketFolder).size(), 1);
        QCOMPARE(socketsIn(otherFolder), QStringList());
        if (squatted) QVERIFY(squat(socketsIn(socketFolder).constFirst()));
        if (firstKilled) {
            first->kill();
            QVERIFY(first->waitForFinished(kWaitMs));
            QVERIFY(lockHolder(firstProgram) != 0);
        }
        const QString secondProgram = sameFolder ? firstProgram : newCopy();
        QVERIFY(!secondProgram.isEmpty());
        if (!sameFolder) QVERIFY(makeRuntimeFolder(secondProgram, runtime));
        QProcess* second = start(secondProgram);
        if (secondRuns) {
            QVERIFY(holdsItsFolder(second, secondProgram));
            QCOMPARE(modeOf(QFileInfo(secondProgram).dir().filePath(u"Tavelo.lock"_qs)), 0600);
        } else {
            QVERIFY(second->waitForFinished(kWaitMs));
            QCOMPARE(second->exitStatus(), QProcess::NormalExit);
            QCOMPARE(second->exitCode(), code);
            const QByteArray stderrText = second->readAllStandardError();
            QVERIFY2(stderrText.contains(said), stderrText.constData());
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
