// The program's entry: the command line, one running copy per data folder, the application, its
// windows in order, the message loop, and the same orderly end however the run ends.
#include "Artwork.h"
#include "Errors.h"
#include "MainWindow.h"
#include "SingleInstance.h"
#include "TerminationSignals.h"

#include <QApplication>
#include <QDir>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>

namespace {

// Errors that nothing caught reach the main window's report instead of ending the program.
class TaveloApplication final : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const AppError& error) {
            if (!ReportUnhandledError(error)) qWarning("%s: %s", error.className(), error.what());
        } catch (const std::exception& error) {
            qWarning("Exception: %s", error.what());
        }
        return false;
    }
};

constexpr char kUsage[] =
    "Usage: tavelo [--help] [--version]\n"
    "\n"
    "Tavelo shows what lies in your POP3 mailboxes on the server (sender, date, subject, size, the\n"
    "first lines) and deletes unwanted mail there before a mail program downloads it. Its window\n"
    "speaks Spanish; add accounts with \"Configurar > Cuentas de correo\".\n"
    "\n"
    "Cuentas.dat (accounts) and Filtros.dat (filter lists) live next to the program when its folder\n"
    "is writable, otherwise in ~/.local/share/Quenmar/Tavelo; the settings in\n"
    "~/.config/Quenmar/Tavelo.ini. One copy runs per data folder: starting it again brings the\n"
    "running window to the front. SIGTERM, SIGINT, SIGHUP and the end of the desktop session close\n"
    "it like its window: every mailbox gets its QUIT (deletions take effect) and the files are saved.\n"
    "\n"
    "It needs a desktop session (X11 or Wayland); without one, start it under Xvfb: xvfb-run -a tavelo\n"
    "\n"
    "Options:\n"
    "  -h, --help     Show this help and exit.\n"
    "  -v, --version  Show the version and exit.\n"
    "Qt's own options (-platform, -style, ...) are understood as well.\n";

bool environmentSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

/** @short What the command line settles before any window exists (Qt cannot even start without a
 *  display): the exit code when the program ends here. */
std::optional<int> handleCommandLine(int argc, char* argv[]) {
    bool platformGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h" || arg == "-?") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--version" || arg == "-v") {
            std::fputs("tavelo " TAVELO_VERSION "\n", stdout);
            return 0;
        }
        if (arg == "-platform" || arg == "--platform") platformGiven = true;
    }
    if (!platformGiven && !environmentSet("DISPLAY") && !environmentSet("WAYLAND_DISPLAY") &&
        !environmentSet("QT_QPA_PLATFORM")) {
        std::fputs("tavelo: no display found (DISPLAY and WAYLAND_DISPLAY are unset): start Tavelo from your "
                   "desktop session, or without one under Xvfb: xvfb-run -a tavelo\n",
                   stderr);
        return 1;
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char* argv[]) {
    if (const std::optional<int> code = handleCommandLine(argc, argv)) return *code;
    // Installed first, so that no signal finds the default handler (an end without QUIT) once the
    // data folder is taken; one that comes early is held until the event loop can take it.
    TerminationSignals termination;
    TaveloApplication app(argc, argv);
    QApplication::setApplicationName(u"Tavelo"_qs);
    QApplication::setOrganizationName(u"Quenmar"_qs);
    QApplication::setApplicationVersion(QStringLiteral(TAVELO_VERSION));
    // The launcher's id (data/io.github.quenmar.Tavelo.desktop): a Wayland desktop matches the window
    // to its launcher by it. Every window shows the launcher's icon.
    QGuiApplication::setDesktopFileName(u"io.github.quenmar.Tavelo"_qs);
    QApplication::setWindowIcon(MakeApplicationIcon());

    WindowSeams seams = WindowSeams::defaults();
    SingleInstance instance(seams.dataDir);
    const QByteArray folder = QDir::toNativeSeparators(seams.dataDir).toLocal8Bit();
    switch (instance.claim()) {
    case SingleInstance::Claim::First:
        break;
    case SingleInstance::Claim::HandedOver:
        std::fprintf(stderr, "tavelo: Tavelo already runs on the data folder %s: its window was brought to the front\n",
                     folder.constData());
        return 0;
    case SingleInstance::Claim::Unreachable:
        std::fprintf(stderr,
                     "tavelo: another Tavelo holds the data folder %s and does not answer: end it, or remove %s if "
                     "no Tavelo runs\n",
                     folder.constData(), QDir::toNativeSeparators(instance.lockPath()).toLocal8Bit().constData());
        return 1;
    case SingleInstance::Claim::Impostor: {
        // Another user's process listens where the running copy should: it is told nothing.
        const QString line = u"tavelo: el socket %1, por el que se avisa a la copia de Tavelo que ya usa la carpeta "
                             u"de datos %2, es de otro usuario: no se le ha enviado nada. Averigüe quién lo creó y "
                             u"bórrelo\n"_qs.arg(QDir::toNativeSeparators(instance.socketPath()),
                                                 QDir::toNativeSeparators(seams.dataDir));
        std::fputs(line.toLocal8Bit().constData(), stderr);
        return 1;
    }
    }

    // A signal or the desktop session's end may come at any time, even while the window is being
    // built (with a box about a file it could not read open), and nobody may be at the screen then:
    // from that moment a box goes to stderr instead, counted as answered with its default button,
    // and a box already open is closed.
    bool unattended = false;
    seams.messageBox = [shown = std::move(seams.messageBox), &unattended](
                           QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text,
                           QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton) {
        if (!unattended) return shown(parent, icon, caption, text, buttons, defaultButton);
        const QString line = u"tavelo: "_qs + caption + u": "_qs + DisplayText(text).replace(u'\n', u' ') + u'\n';
        std::fputs(line.toLocal8Bit().constData(), stderr);
        return defaultButton;
    };
    // Every way the run can end closes the window the normal way (TfrmPrincipal::CloseOrderly). The
    // window may be hidden in the notification area: the application is told to end as well.
    TfrmPrincipal* window = nullptr;
    const auto end = [&unattended, &window] {
        unattended = true;
        if (QWidget* box = QApplication::activeModalWidget()) box->close();
        if (!window) return; // still being built: it ends as soon as it stands
        window->close();
        QCoreApplication::quit();
    };
    QObject::connect(&termination, &TerminationSignals::received, &app, end);
#if QT_CONFIG(sessionmanager)
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &app, end);
#endif
    termination.start();

    LoadSpanishQtTexts(app);
    TfrmPrincipal frmPrincipal(std::move(seams));
    window = &frmPrincipal;
    if (unattended) {
        frmPrincipal.close();
        return 0;
    }
    QObject::connect(&instance, &SingleInstance::activationRequested, &frmPrincipal, &TfrmPrincipal::BringToFront);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &frmPrincipal,
                     [&frmPrincipal] { frmPrincipal.CloseOrderly(); });
    frmPrincipal.show();
    return QApplication::exec();
}
