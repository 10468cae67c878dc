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
    bool portOk = false;
    const int port = parser.parse(QCoreApplication::arguments()) ? parser.value(portOpt).toInt(&portOk) : 0;
    if (!portOk || !parser.isSet(hostOpt) || !parser.isSet(userOpt) || !qEnvironmentVariableIsSet("TAVELO_PASSWORD")) {
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
    window.show();
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
