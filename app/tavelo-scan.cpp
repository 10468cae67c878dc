// tavelo-scan: lists a POP3 mailbox the way a Tavelo tab does (login, LIST, the header pass, QUIT)
// and prints one line per message: number, size, sender, date, subject, separated by TABs; with
// --filters DIR, a sixth column says what decided about the message by DIR's Filtros.dat and
// Reglas.dat (the reason, or nothing). It never deletes.
//
// Exit codes: 0 listed, 1 any other failure, 2 usage, 3 the session was cut off (reason on stderr).
#include "Desktop.h"
#include "Errors.h"
#include "FilterLists.h"
#include "FilterRules.h"
#include "Pop3Session.h"
#include "QtClientSocket.h"
#include "ShownText.h"
#include "TextAndTime.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QTimer>
#include <cstdio>
#include <termios.h>
#include <unistd.h>

namespace {

enum ExitCode { Listed = 0, Failure = 1, Usage = 2, CutOff = 3 };

/** --raw: server text goes out as it came, control characters and all (for a pipe, not a terminal). */
bool g_raw = false;

/** What is written of server text: its control characters as escapes (\x1b, \u202e) unless --raw,
 *  so that a header never drives the terminal that shows it. */
QString outText(const QString& text, bool keepLines = false) {
    return g_raw ? text : TerminalText(text, keepLines);
}

void printError(const QString& text) {
    const QByteArray line = outText(text, true).toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
}

/** Reads a line from the terminal with echo off; nothing when there is no terminal. */
std::optional<QString> askPassword(const QString& prompt) {
    FILE* tty = std::fopen("/dev/tty", "r+");
    if (!tty) return std::nullopt;
    const int fd = fileno(tty);
    termios saved{};
    const bool isTerminal = tcgetattr(fd, &saved) == 0;
    if (isTerminal) {
        termios silent = saved;
        silent.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(fd, TCSAFLUSH, &silent);
    }
    const QByteArray p = prompt.toUtf8();
    std::fwrite(p.constData(), 1, size_t(p.size()), tty);
    std::fflush(tty);
    QByteArray line;
    for (int c; (c = std::fgetc(tty)) != EOF && c != '\n';)
        line += char(c);
    if (isTerminal) tcsetattr(fd, TCSAFLUSH, &saved);
    std::fputc('\n', tty);
    std::fclose(tty);
    return QString::fromUtf8(line);
}

/** A field on one output line: TAB, CR and LF would break the columns. */
QByteArray field(QString text) {
    for (QChar& c : text)
        if (c == u'\t' || c == u'\r' || c == u'\n') c = u' ';
    return outText(text).toUtf8();
}

class ScanDesktop final : public IDesktop {
public:
    /** A certificate that does not verify is accepted only with this SHA-256 fingerprint. */
    QString trustedFingerprint;
    std::optional<QString> trustedCertificate(const QString&) override {
        if (trustedFingerprint.isEmpty()) return std::nullopt;
        return trustedFingerprint;
    }
    bool askYesNo(const QString& caption, const QString& text, bool) override {
        printError(caption + u": "_qs + QString(text).replace(u'\r', u' '));
        return false;
    }
    void openUrl(const QUrl&) override {}
    void reportUnhandledError(const AppError& error) override {
        printError(QString::fromLatin1(error.className()) + u": "_qs + error.message());
        QTimer::singleShot(0, [] { QCoreApplication::exit(Failure); });
    }
};

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"tavelo-scan"_qs);
    QCoreApplication::setApplicationVersion(QStringLiteral(TAVELO_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Lists a POP3 mailbox: number, size, sender, date and subject of every message, TAB-separated.\n"
        "The password comes from TAVELO_PASSWORD or is asked for on the terminal; with --auth xoauth2, an\n"
        "OAuth2 access token comes from TAVELO_ACCESS_TOKEN instead. With --filters, a sixth column gives the\n"
        "reason of the filter's decision on the message (empty when nothing decided)."_qs);
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption hostOpt(u"host"_qs, u"POP3 server."_qs, u"name"_qs);
    const QCommandLineOption portOpt(u"port"_qs, u"TCP port (110)."_qs, u"port"_qs, u"110"_qs);
    const QCommandLineOption userOpt(u"user"_qs, u"User name."_qs, u"name"_qs);
    const QCommandLineOption linesOpt(u"lines"_qs, u"Body lines asked for with each TOP (20)."_qs, u"n"_qs, u"20"_qs);
    const QCommandLineOption logOpt(u"log"_qs, u"Write the dialogue with the server on stderr."_qs);
    const QCommandLineOption rawOpt(u"raw"_qs, u"Write server text as it came, control characters included (they are "
                                               "written as escapes such as \\x1b otherwise)."_qs);
    const QCommandLineOption trustOpt(
        u"trust-certificate"_qs,
        u"Accept a server certificate that does not verify when its SHA-256 fingerprint (hex) is this one."_qs,
        u"sha256"_qs);
    const QCommandLineOption sequentialOpt(
        u"sequential"_qs, u"One header request at a time, even where the server accepts several in flight."_qs);
    const QCommandLineOption requireTlsOpt(
        u"require-tls"_qs,
        u"Never log in without TLS, not even on this computer: a server that offers none is refused (exit code 3)."_qs);
    const QCommandLineOption allowPlaintextOpt(
        u"allow-plaintext"_qs,
        u"Send the password in clear to a server that offers no TLS (without it, only a server on this computer "
        "gets it; any other is refused, exit code 3)."_qs);
    const QCommandLineOption authOpt(
        u"auth"_qs,
        u"How to log in: password (USER and PASS) or xoauth2 (SASL XOAUTH2 with an OAuth2 access token, only over "
        "TLS). Default: password."_qs,
        u"method"_qs, u"password"_qs);
    const QCommandLineOption filtersOpt(
        u"filters"_qs,
        u"Decide on every message by the Filtros.dat and Reglas.dat of this folder, and add the reason as a sixth "
        "column. Nothing is deleted."_qs,
        u"dir"_qs);
    parser.addOptions({hostOpt, portOpt, userOpt, linesOpt, logOpt, rawOpt, trustOpt, sequentialOpt, requireTlsOpt,
                       allowPlaintextOpt, authOpt, filtersOpt});
    if (!parser.parse(QCoreApplication::arguments())) {
        printError(parser.errorText());
        return Usage;
    }
    if (parser.isSet(u"help"_qs)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return Listed;
    }
    if (parser.isSet(u"version"_qs)) {
        std::fputs(qPrintable(u"tavelo-scan "_qs + QCoreApplication::applicationVersion() + u'\n'), stdout);
        return Listed;
    }
    bool portOk = false, linesOk = false;
    const int port = parser.value(portOpt).toInt(&portOk);
    const int lines = parser.value(linesOpt).toInt(&linesOk);
    const QString auth = parser.value(authOpt);
    if (!parser.isSet(hostOpt) || !parser.isSet(userOpt) || !parser.positionalArguments().isEmpty() || !portOk ||
        !IsTcpPort(port) || !linesOk || lines < 0 || (auth != u"password" && auth != u"xoauth2")) {
        printError(u"usage: tavelo-scan --host NAME --user NAME [--port N] [--lines N] [--log] [--raw] [--sequential]\n"
                   "       [--trust-certificate SHA256] [--require-tls | --allow-plaintext] [--auth password|xoauth2]\n"
                   "       [--filters DIR]"_qs);
        return Usage;
    }
    const QString host = parser.value(hostOpt);
    const QString user = parser.value(userOpt);
    const bool xoauth2 = auth == u"xoauth2";
    const QString token = qEnvironmentVariable("TAVELO_ACCESS_TOKEN");
    if (xoauth2 && token.isEmpty()) {
        printError(u"No access token: with --auth xoauth2, set TAVELO_ACCESS_TOKEN."_qs);
        return Usage;
    }

    // The filter is read before logging in: a file that cannot be read ends the scan at once.
    g_raw = parser.isSet(rawOpt);
    const bool filtering = parser.isSet(filtersOpt);
    TFiltros lists;
    FilterRules rules;
    if (filtering) {
        const QDir dir(parser.value(filtersOpt));
        QStringList problems;
        try {
            lists.LoadFilters(dir.filePath(u"Filtros.dat"_qs));
            rules = FilterRules::Load(dir.filePath(u"Reglas.dat"_qs), &problems);
        } catch (const AppError& e) {
            printError(QString::fromLatin1(e.className()) + u": "_qs + e.message());
            return Failure;
        }
        for (const QString& problem : problems)
            printError(u"Reglas.dat: "_qs + problem);
    }

    QString password = qEnvironmentVariable("TAVELO_PASSWORD");
    if (!xoauth2 && !qEnvironmentVariableIsSet("TAVELO_PASSWORD")) {
        const auto typed = askPassword(u"Contraseña de %1 en %2: "_qs.arg(user, host));
        if (!typed) {
            printError(u"No password: set TAVELO_PASSWORD or run on a terminal."_qs);
            return Failure;
        }
        password = *typed;
    }

    ScanDesktop desktop;
    desktop.trustedFingerprint = parser.value(trustOpt).remove(u':').toLower();
    TPop3 session(&desktop, QtClientSocket::factory(&desktop));
    session.LineasTop = lines;
    session.setPipelining(!parser.isSet(sequentialOpt));
    session.setRequireTls(parser.isSet(requireTlsOpt));
    session.setAllowPlaintext(parser.isSet(allowPlaintextOpt));
    if (xoauth2) {
        // The token is given once: there is nothing to refresh it with after a refusal.
        session.setAccessTokenSource([token, host](bool afterRefusal, const TPop3::TokenReply& reply) {
            if (afterRefusal)
                reply(QString(),
                      u"El Servidor no aceptó el token de TAVELO_ACCESS_TOKEN (caducado o no válido) : "_qs + host);
            else
                reply(token, QString());
        });
    }
    QObject::connect(&session, &TPop3::OnAviso, [](TPop3*, const QString& text) { printError(text); });

    if (parser.isSet(logOpt)) {
        QObject::connect(&session, &TPop3::OnSendCommandToServer, [](TPop3*, const QString& command) {
            const bool pass = MayusculasSinAcentos(command.left(5)) == u"PASS ";
            printError(pass ? u"> PASS (\u00B7\u00B7\u00B7)"_qs : u"> "_qs + command);
        });
        QObject::connect(&session, &TPop3::OnTextFromServer, [](TPop3*, const QString& text) {
            const QByteArray bytes = outText(text, true).toUtf8();
            std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
        });
    }
    QObject::connect(&session, &TPop3::OnDesconexionForzada, [](TPop3*, const QString& reason) {
        printError(reason);
        QTimer::singleShot(0, [] { QCoreApplication::exit(CutOff); });
    });
    // Each row is printed as soon as its header is in: the pass asks for the messages in list
    // order, and asking for one means the headers before it are stored. Only the list's columns
    // are kept of each message, and the header text when the rules read it.
    session.setKeptText(filtering && rules.needsHeaderText() ? TPop3::KeepHeaderText : 0);
    int printed = 0;
    const auto printUpTo = [&session, &printed, filtering, &lists, &rules](int end) {
        for (; printed < end; ++printed) {
            // The summary leaves out the header text; the whole message has it when it was kept.
            const TMensaje m = filtering ? session.MensajePorIndice(printed) : session.ResumenPorIndice(printed);
            QByteArray row = QByteArray::number(m.Num) + '\t' + QByteArray::number(m.Bytes) + '\t' +
                             field(m.Cabecera.From) + '\t' + field(m.Cabecera.Fecha) + '\t' + field(m.Cabecera.Subj);
            if (filtering) {
                QStringList problems;
                const RuleSubject subject{m.Cabecera.Texto, m.Cabecera.From, m.Cabecera.Subj,
                                          m.Cabecera.TextoCortado != HeaderTextCut::None,
                                          m.Cabecera.TextoCortado == HeaderTextCut::InLine};
                const RuleDecision decision = rules.decide(subject, lists, &problems);
                row += '\t' + field(decision.reason);
                for (const QString& problem : problems)
                    printError(u"Reglas.dat, mensaje %1: "_qs.arg(m.Num) + problem);
                if (!decision.unjudged.isEmpty()) printError(UnjudgedSentence(m.Num, decision));
            }
            row += '\n';
            std::fwrite(row.constData(), 1, size_t(row.size()), stdout); // stdio gathers the rows
        }
    };
    QObject::connect(
        &session, &TPop3::OnCambioEstado, [&session, &printed, printUpTo](TPop3*, int estado, const QString&) {
            if (estado != TPop3::LeyendoCabeceras) return;
            int end = printed;
            while (end < session.NumMensajes() && session.ResumenPorIndice(end).Num != session.MensajeActual())
                ++end;
            printUpTo(end);
        });
    QObject::connect(&session, &TPop3::OnConexionCompletada, [&session, printUpTo](TPop3*) {
        QTimer::singleShot(0, &session, [&session, printUpTo] {
            printUpTo(session.NumMensajes());
            std::fflush(stdout);
            session.Desconectar(); // QUIT
            QCoreApplication::exit(Listed);
        });
    });

    try {
        session.Conectar(host, port, user, password);
    } catch (const AppError& e) {
        printError(QString::fromLatin1(e.className()) + u": "_qs + e.message());
        return Failure;
    }
    const int code = QCoreApplication::exec();
    // The server deletes only on QUIT: its answer is waited for, a few seconds at most.
    QtClientSocket::waitForClosingConnections(QtClientSocket::kExitWaitMs);
    return code;
}
