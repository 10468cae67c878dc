// tavelo-window-bench: the real main window, for the header-scan benchmark (bench/run.sh).
//
// Creates TfrmPrincipal on the platform Qt is given (bench/run.sh uses "offscreen"), with its data
// files and settings in a temporary directory, shows it, opens one tab with a quick connection to
// the mailbox named on the command line (the dialogue log on, as by default) and exits as soon as
// the tab's session reports the end of the header pass (OnConexionCompletada).
//
// usage: tavelo-window-bench --host NAME --port N --user NAME [--sequential] [--events]
//        [--trust-certificate SHA256]   (password in TAVELO_PASSWORD)
// The window keeps its default settings (the advanced option "Pipelining" on); --sequential turns
// that option off before the tab opens: one TOP at a time. Port 995 is TLS from the first byte and
// other ports upgrade with STLS where the server offers it, as in the program; a server certificate
// that does not verify (the benchmark's own, self-signed) is accepted when its fingerprint is the
// one given with --trust-certificate: it goes into the settings as the user's "Sí" would put it.
// Prints on stderr one line: messages, rows, log paragraphs and the seconds to the end of the pass.
// --events adds, for profiling, the count and time of the events delivered, by event type and
// receiving class (time includes what nested deliveries took).
// Exit codes: 0 every message listed, 1 the list is incomplete, 2 usage, 3 the session was cut off.
//
// --recheck-after CMD (bench/recheck.py): after the header pass, runs CMD through /bin/sh (it
// delivers mail into the mailbox), re-checks the mailbox at once (the tab's checkAgain(), what the
// window's timer does) and exits when the session is idle again. Prints two lines: "fresh:" the
// header pass from the connection on, "recheck:" the re-check, each with its seconds and the
// paragraphs and bytes it added to the tab's dialogue log (each line counted with its CR LF; the
// lines its bound dropped meanwhile included). The window's own re-check is off meanwhile.
//
// --soak SECONDS --users A,B,C (bench/soak.py): one tab on each mailbox (TAVELO_PASSWORD holds
// their passwords, comma-separated, or one for all), the window re-checking every --recheck-every
// seconds (3) as its timer does, and every --sample-every seconds (10) one "soak:" line with the
// window's resident memory (VmRSS of /proc/self/status) and each tab's rows, state, log paragraphs,
// re-checks and new mail seen, and whether its log has reached its bound ("log at its bound").
// Exits after SECONDS: 0 when every tab listed its mailbox at least once.
//
// --log-limit MB sets the advanced option LimiteDialogoMB (16 by default) before the tabs open.
#include "AccountTab.h"
#include "AccountWidgets.h"
#include "MainWindow.h"
#include "PasswordScrambling.h"
#include "Pop3Session.h"
#include "StyledTextView.h"
#include "WindowProbe.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>

namespace {

void say(const QString& text) {
    const QByteArray line = text.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

/** Counts and times every event delivered (--events). */
class CountingApplication final : public QApplication {
public:
    using QApplication::QApplication;
    bool counting = false;
    struct Tally {
        qint64 count = 0;
        qint64 nsecs = 0;
    };
    QMap<QString, Tally> tallies;

    bool notify(QObject* receiver, QEvent* event) override {
        if (!counting) return QApplication::notify(receiver, event);
        QElapsedTimer t;
        t.start();
        // The receiver may be gone once the event is delivered: name it first.
        QString key =
            u"%1 %2"_qs.arg(int(event->type()), 3).arg(QString::fromLatin1(receiver->metaObject()->className()));
        // Scroll bars and viewports are told apart by the view they belong to.
        for (QObject* up = receiver->parent(); up && key.size() < 60; up = up->parent()) {
            const char* name = up->metaObject()->className();
            key += u" < "_qs + QString::fromLatin1(name);
            if (qstrcmp(name, "QWidget") != 0 && qstrcmp(name, "QScrollBar") != 0) break;
        }
        const bool result = QApplication::notify(receiver, event);
        Tally& tally = tallies[key];
        ++tally.count;
        tally.nsecs += t.nsecsElapsed();
        return result;
    }

    void report() const {
        QList<std::pair<qint64, QString>> rows;
        for (auto it = tallies.begin(); it != tallies.end(); ++it)
            rows.append(
                {it->nsecs, u"%1 ms %2 x  event %3"_qs.arg(it->nsecs / 1000000, 8).arg(it->count, 8).arg(it.key())});
        std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
        for (qsizetype i = 0; i < rows.size() && i < 30; ++i)
            say(rows[i].second);
    }
};

/** What a tab's dialogue log has taken in since it was made: its bound drops the oldest lines
 *  (a note takes their place), so the lines are summed as they come,
 *  by polling often enough that none goes before it is counted. */
class LogTally {
public:
    explicit LogTally(const StyledTextView* view) : m_view(view) {}

    qint64 dropped() const { return m_view->droppedLines(); }
    /** Every line the log has taken in, the dropped ones included. */
    qint64 paragraphs() const {
        const qint64 gone = dropped();
        return gone + m_view->paragraphCount() - (gone > 0 ? 1 : 0);
    }
    /** Sums the lines added since the last poll. */
    void poll() {
        const qint64 gone = dropped();
        const qint64 note = gone > 0 ? 1 : 0;
        const qint64 total = gone + m_view->paragraphCount() - note;
        if (m_next < gone) {
            m_missed += gone - m_next; // dropped before they were counted: their bytes are not known
            m_next = gone;
        }
        for (; m_next < total; ++m_next)
            m_bytes += m_view->paragraphText(int(m_next - gone + note)).size() + 2;
    }
    qint64 bytes() const { return m_bytes; }
    qint64 missed() const { return m_missed; }

private:
    const StyledTextView* m_view;
    qint64 m_next = 0; ///< the first line not yet summed, counted from the log's first
    qint64 m_bytes = 0;
    qint64 m_missed = 0;
};

qint64 residentKb() {
    QFile status(u"/proc/self/status"_qs);
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

/** Lines of every tab's list are there and filled. */
bool listed(TAccountTab* tab) {
    const int messages = tab->session()->NumMensajes();
    const int rows = tab->list()->rowCount();
    return rows == messages && (rows == 0 || !tab->list()->row(rows - 1).from.isEmpty());
}

/** --recheck-after: a header pass, mail delivered, a re-check; both measured. */
int runRecheck(TfrmPrincipal& window, const QString& host, const QString& user, const QString& password, int port,
               const QString& deliver) {
    // Only the re-check asked for here: the window's timer would start one of its own.
    WindowProbe::Config(&window).segsRechequeoSiConectado = 0;
    QElapsedTimer clock;
    clock.start();
    WindowProbe::QuickConnect(&window, host, user, EncodePassword(password), port);
    if (WindowProbe::Tabs(&window).isEmpty()) {
        say(u"tavelo-window-bench: no tab was opened"_qs);
        return 1;
    }
    TAccountTab* tab = WindowProbe::Tabs(&window).first();
    TPop3* session = tab->session();
    LogTally tally(tab->dialogueView());
    QTimer poller;
    QObject::connect(&poller, &QTimer::timeout, &window, [&] { tally.poll(); });
    poller.start(50);

    enum class Phase { Pass, Recheck, Done } phase = Phase::Pass;
    int passMessages = 0;
    qint64 paragraphsBefore = 0, bytesBefore = 0;
    auto finishRecheck = [&] {
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        tally.poll();
        say(u"recheck: %1 messages (%2 new), %3 rows, %4 log paragraphs added, %5 log bytes added, %6 s"_qs
                .arg(session->NumMensajes())
                .arg(tab->newMessages().size())
                .arg(tab->list()->rowCount())
                .arg(tally.paragraphs() - paragraphsBefore)
                .arg(tally.bytes() - bytesBefore)
                .arg(seconds, 0, 'f', 3));
        if (tally.missed() > 0) say(u"recheck: %1 log lines dropped before they were counted"_qs.arg(tally.missed()));
        QCoreApplication::exit(listed(tab) && session->NumMensajes() > passMessages ? 0 : 1);
    };
    auto startRecheck = [&] {
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        tally.poll();
        passMessages = session->NumMensajes();
        say(u"fresh: %1 messages, %2 rows, %3 log paragraphs, %4 log bytes, %5 s"_qs.arg(passMessages)
                .arg(tab->list()->rowCount())
                .arg(tally.paragraphs())
                .arg(tally.bytes())
                .arg(seconds, 0, 'f', 3));
        if (!listed(tab)) {
            QCoreApplication::exit(1);
            return;
        }
        // The delivery is not timed.
        const int delivered = QProcess::execute(u"/bin/sh"_qs, {u"-c"_qs, deliver});
        if (delivered != 0) {
            say(u"tavelo-window-bench: the delivery command failed (%1)"_qs.arg(delivered));
            QCoreApplication::exit(1);
            return;
        }
        tally.poll();
        paragraphsBefore = tally.paragraphs();
        bytesBefore = tally.bytes();
        phase = Phase::Recheck;
        clock.restart();
        tab->checkAgain();
    };
    // The end of the pass and the return to idle, each handled once the window's own handlers
    // have run (the rows, the summary in the log).
    QObject::connect(session, &TPop3::OnConexionCompletada, &window, [&](TPop3*) {
        if (phase == Phase::Pass) QTimer::singleShot(0, &window, startRecheck);
    });
    QObject::connect(session, &TPop3::OnCambioEstado, &window, [&](TPop3*, int estado, const QString&) {
        if (phase != Phase::Recheck || estado != TPop3::Conectado) return;
        phase = Phase::Done;
        QTimer::singleShot(0, &window, finishRecheck);
    });
    QObject::connect(session, &TPop3::OnDesconexionForzada, &window, [](TPop3*, const QString& reason) {
        say(u"window: cut off: "_qs + reason);
        QTimer::singleShot(0, [] { QCoreApplication::exit(3); });
    });
    return QApplication::exec();
}

/** --soak: several tabs re-checked for a long time, the window's memory sampled. */
int runSoak(TfrmPrincipal& window, const QString& host, int port, const QStringList& users,
            const QStringList& passwords, int seconds, int recheckEvery, int sampleEvery) {
    WindowProbe::Config(&window).segsRechequeoSiConectado = recheckEvery;
    struct Watch {
        TAccountTab* tab = nullptr;
        QString user;
        int rechecks = 0, passes = 0, cutOffs = 0, newMail = 0;
    };
    QList<Watch> watches;
    for (qsizetype i = 0; i < users.size(); ++i) {
        const qsizetype before = WindowProbe::Tabs(&window).size();
        WindowProbe::QuickConnect(&window, host, users[i], EncodePassword(passwords.value(i, passwords.last())), port);
        if (WindowProbe::Tabs(&window).size() != before + 1) {
            say(u"tavelo-window-bench: no tab was opened for "_qs + users[i]);
            return 1;
        }
        watches.append({WindowProbe::Tabs(&window).last(), users[i]});
    }
    for (qsizetype i = 0; i < watches.size(); ++i) {
        TPop3* session = watches[i].tab->session();
        QObject::connect(session, &TPop3::OnCambioEstado, &window, [&watches, i](TPop3*, int estado, const QString&) {
            if (estado == TPop3::Comprobando) ++watches[i].rechecks;
        });
        QObject::connect(session, &TPop3::OnConexionCompletada, &window, [&watches, i](TPop3*) {
            Watch& w = watches[i];
            ++w.passes;
            if (w.passes > 1) w.newMail += int(w.tab->newMessages().size());
        });
        QObject::connect(session, &TPop3::OnDesconexionForzada, &window, [&watches, i](TPop3*, const QString& reason) {
            ++watches[i].cutOffs;
            say(u"soak: %1 cut off: %2"_qs.arg(watches[i].user, reason));
        });
    }
    QElapsedTimer clock;
    clock.start();
    qint64 sampledAt = -1; // ms
    auto sample = [&] {
        sampledAt = clock.elapsed();
        QString line = u"soak: %1 s, rss %2 kB"_qs.arg(double(clock.nsecsElapsed()) / 1e9, 0, 'f', 1).arg(residentKb());
        for (const Watch& w : std::as_const(watches))
            line +=
                u" | %1: %2 rows, state %3, %4 log paragraphs, %5 re-checks, %6 listings, %7 new, %8 cut off, log %9 its bound"_qs
                    .arg(w.user)
                    .arg(w.tab->list()->rowCount())
                    .arg(w.tab->session()->Estado())
                    .arg(w.tab->dialogueView()->paragraphCount())
                    .arg(w.rechecks)
                    .arg(w.passes)
                    .arg(w.newMail)
                    .arg(w.cutOffs)
                    .arg(LogTally(w.tab->dialogueView()).dropped() > 0 ? u"at"_qs : u"below"_qs);
        say(line);
    };
    sample();
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, &window, sample);
    sampler.start(sampleEvery * 1000);
    QTimer::singleShot(seconds * 1000, &window, [&] {
        sampler.stop();
        if (clock.elapsed() - sampledAt > 1000) sample(); // the last one, unless the sampler just took it
        bool all = true;
        for (const Watch& w : std::as_const(watches))
            all = all && w.passes > 0;
        say(all ? u"soak: done"_qs : u"soak: done, but a mailbox was never listed"_qs);
        QCoreApplication::exit(all ? 0 : 1);
    });
    return QApplication::exec();
}

} // namespace

int main(int argc, char* argv[]) {
    QElapsedTimer clock;
    clock.start();
    // The user's settings and data are never touched: everything the window writes goes to a
    // temporary directory, the settings paths included (fixed at the first QSettings made).
    QTemporaryDir home(QDir::tempPath() + u"/tavelo-window-bench-XXXXXX"_qs);
    if (!home.isValid()) {
        say(u"tavelo-window-bench: no temporary directory"_qs);
        return 1;
    }
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(u"config"_qs)));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(u"data"_qs)));
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");

    CountingApplication app(argc, argv);
    QApplication::setApplicationName(u"Tavelo"_qs);
    QApplication::setOrganizationName(u"Quenmar"_qs);

    QCommandLineParser parser;
    const QCommandLineOption hostOpt(u"host"_qs, u"POP3 server."_qs, u"name"_qs);
    const QCommandLineOption portOpt(u"port"_qs, u"TCP port."_qs, u"port"_qs, u"110"_qs);
    const QCommandLineOption userOpt(u"user"_qs, u"User name."_qs, u"name"_qs);
    const QCommandLineOption eventsOpt(u"events"_qs, u"Count and time the events delivered."_qs);
    const QCommandLineOption sequentialOpt(u"sequential"_qs, u"Turn the advanced option Pipelining off."_qs);
    const QCommandLineOption trustOpt(u"trust-certificate"_qs, u"Trust this server certificate (SHA-256, hex)."_qs,
                                      u"sha256"_qs);
    parser.addOptions({hostOpt, portOpt, userOpt, eventsOpt, sequentialOpt, trustOpt});
    // The re-check and the soak (bench/recheck.py, bench/soak.py).
    const QCommandLineOption recheckOpt(u"recheck-after"_qs, u"After the pass, run CMD and re-check."_qs, u"cmd"_qs);
    const QCommandLineOption soakOpt(u"soak"_qs, u"Keep tabs re-checking for SECONDS."_qs, u"seconds"_qs);
    const QCommandLineOption usersOpt(u"users"_qs, u"The soak's users, comma-separated."_qs, u"names"_qs);
    const QCommandLineOption recheckEveryOpt(u"recheck-every"_qs, u"The soak's re-check interval."_qs, u"seconds"_qs,
                                             u"3"_qs);
    const QCommandLineOption sampleEveryOpt(u"sample-every"_qs, u"The soak's sampling interval."_qs, u"seconds"_qs,
                                            u"10"_qs);
    const QCommandLineOption logLimitOpt(u"log-limit"_qs, u"The advanced option LimiteDialogoMB."_qs, u"MB"_qs);
    parser.addOptions({recheckOpt, soakOpt, usersOpt, recheckEveryOpt, sampleEveryOpt, logLimitOpt});
    bool portOk = false;
    const int port = parser.parse(QCoreApplication::arguments()) ? parser.value(portOpt).toInt(&portOk) : 0;
    const bool soak = parser.isSet(soakOpt);
    if (!portOk || !parser.isSet(hostOpt) || !(parser.isSet(userOpt) || (soak && parser.isSet(usersOpt))) ||
        !qEnvironmentVariableIsSet("TAVELO_PASSWORD")) {
        say(u"usage: TAVELO_PASSWORD=... tavelo-window-bench --host NAME --port N --user NAME"_qs);
        return 2;
    }

    WindowSeams seams = WindowSeams::defaults();
    seams.dataDir = home.path();
    seams.settingsPath = home.filePath(u"Tavelo.ini"_qs);
    // No box may wait for a click and no sound server is there: both are reported and answered.
    seams.messageBox = [](QWidget*, QMessageBox::Icon, const QString& caption, const QString& text,
                          QMessageBox::StandardButtons, QMessageBox::StandardButton) {
        say(u"box: "_qs + caption + u": "_qs + DisplayText(text));
        return QMessageBox::Ok;
    };
    seams.playSound = [](const QString&) {};
    if (parser.isSet(trustOpt)) {
        QSettings settings(seams.settingsPath, QSettings::IniFormat);
        settings.setValue(u"CertificadosConfiados/"_qs + parser.value(hostOpt) + u':' + QString::number(port),
                          parser.value(trustOpt).remove(u':').toLower());
    }

    app.counting = parser.isSet(eventsOpt);
    TfrmPrincipal window(seams);
    if (parser.isSet(sequentialOpt)) WindowProbe::Advanced(&window).Pipelining = false;
    if (parser.isSet(logLimitOpt)) {
        const int mb = parser.value(logLimitOpt).toInt();
        if (mb < kMinLimiteDialogoMB || mb > kMaxLimiteDialogoMB) {
            say(u"tavelo-window-bench: --log-limit takes %1 to %2 (MB)"_qs.arg(kMinLimiteDialogoMB)
                    .arg(kMaxLimiteDialogoMB));
            return 2;
        }
        WindowProbe::Advanced(&window).LimiteDialogoMB = mb;
    }
    window.show();
    if (soak) {
        const int seconds = parser.value(soakOpt).toInt();
        const int every = parser.value(recheckEveryOpt).toInt();
        const int sampleEvery = parser.value(sampleEveryOpt).toInt();
        const QStringList users = parser.value(usersOpt).split(u',', Qt::SkipEmptyParts);
        if (seconds <= 0 || every <= 0 || sampleEvery <= 0 || users.isEmpty()) {
            say(u"usage: TAVELO_PASSWORD=P1,P2,... tavelo-window-bench --host NAME --port N --soak SECONDS "
                "--users A,B,... [--recheck-every 3] [--sample-every 10]"_qs);
            return 2;
        }
        return runSoak(window, parser.value(hostOpt), port, users, qEnvironmentVariable("TAVELO_PASSWORD").split(u','),
                       seconds, every, sampleEvery);
    }
    if (parser.isSet(recheckOpt))
        return runRecheck(window, parser.value(hostOpt), parser.value(userOpt), qEnvironmentVariable("TAVELO_PASSWORD"),
                          port, parser.value(recheckOpt));
    WindowProbe::QuickConnect(&window, parser.value(hostOpt), parser.value(userOpt),
                              EncodePassword(qEnvironmentVariable("TAVELO_PASSWORD")), port);
    if (WindowProbe::Tabs(&window).isEmpty()) {
        say(u"tavelo-window-bench: no tab was opened"_qs);
        return 1;
    }
    TAccountTab* tab = WindowProbe::Tabs(&window).first();
    // Connected after the window's own handler: runs once the window has filled its rows.
    QObject::connect(tab->session(), &TPop3::OnConexionCompletada, &window, [&](TPop3* session) {
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        const int messages = session->NumMensajes();
        const int rows = tab->list()->rowCount();
        const bool filled = rows == messages && (rows == 0 || !tab->list()->row(rows - 1).from.isEmpty());
        say(u"window: %1 messages, %2 rows, %3 log paragraphs, header pass done at %4 s"_qs.arg(messages)
                .arg(rows)
                .arg(tab->dialogueView()->paragraphCount())
                .arg(seconds, 0, 'f', 3));
        if (app.counting) {
            app.counting = false;
            app.report();
        }
        QTimer::singleShot(0, &window, [filled] { QCoreApplication::exit(filled ? 0 : 1); });
    });
    QObject::connect(tab->session(), &TPop3::OnDesconexionForzada, &window, [](TPop3*, const QString& reason) {
        say(u"window: cut off: "_qs + reason);
        QTimer::singleShot(0, [] { QCoreApplication::exit(3); });
    });
    return QApplication::exec();
}
