// The authorization servers an account can sign in with, and the application registered there.
#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

/** @short Where a provider signs users in and issues tokens, and what it must be asked for. */
struct OAuthEndpoints {
    QUrl authorizeUrl;
    QUrl tokenUrl;
    QString scope; ///< space-separated
    /// Parameters of the sign-in request besides the standard ones (Google's ask for a refresh token).
    QList<QPair<QString, QString>> extraAuthorizeParameters;
    /// The scope goes with every refresh too (Microsoft's v2.0 endpoint wants it there).
    bool scopeOnRefresh = false;

    /** @short Microsoft 365 and Outlook.com mailboxes, the "common" tenant's v2.0 endpoints. */
    static OAuthEndpoints microsoft();
    /** @short Gmail. */
    static OAuthEndpoints google();
    static OAuthEndpoints custom(const QUrl& authorizeUrl, const QUrl& tokenUrl, const QString& scope);

    /** @short Whether the code, the PKCE verifier, the client secret and the tokens may travel to
     *  that address: https, or plain http on this computer only (a test server, a local proxy). */
    static bool isSafe(const QUrl& url);
    /** @short Why the endpoints cannot be used, in Spanish; empty when both are safe. Whatever they
     *  came from (the dialog, CuentasAcceso.dat edited by hand), nothing is sent to an unsafe one. */
    QString unsafeReason() const;
};

/** @short The application as registered with the provider. Tavelo ships no client id of its own:
 *  the user gives it, and a secret only where the provider hands installed applications one (Google). */
struct OAuthClient {
    OAuthEndpoints provider;
    QString clientId;
    QString clientSecret; ///< empty: none is sent
};
