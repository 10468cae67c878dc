// What the engine needs of the desktop, provided by the window (or by the command-line scanner): a
// yes/no question, opening a web page, and the application's report of unhandled errors.
#pragma once

#include <QString>
#include <QUrl>
#include <optional>

class AppError;

class IDesktop {
public:
    virtual ~IDesktop() = default;
    /** @short Modal question with the question icon and Yes/No; line breaks in `text` are single CRs.
     *  `defaultYes` false: Enter answers No (Escape always does). */
    virtual bool askYesNo(const QString& caption, const QString& text, bool defaultYes) = 0;
    virtual void openUrl(const QUrl& url) = 0;
    /** @short An error nobody handled (a host name that cannot be resolved reaches it as ESocketError). */
    virtual void reportUnhandledError(const AppError& error) = 0;
    /** @short The SHA-256 fingerprint (hex) the user trusted for "host:port", if any. */
    virtual std::optional<QString> trustedCertificate(const QString& hostPort) {
        Q_UNUSED(hostPort);
        return std::nullopt;
    }
    /** @short Remembers at once that the user trusts this certificate for "host:port". */
    virtual void trustCertificate(const QString& hostPort, const QString& sha256) {
        Q_UNUSED(hostPort);
        Q_UNUSED(sha256);
    }
    /** @short True when the server at "host:port" has given TLS (STLS) before. */
    virtual bool offeredTls(const QString& hostPort) {
        Q_UNUSED(hostPort);
        return false;
    }
    /** @short Remembers at once that the server at "host:port" gave TLS. */
    virtual void rememberTls(const QString& hostPort) { Q_UNUSED(hostPort); }
};
