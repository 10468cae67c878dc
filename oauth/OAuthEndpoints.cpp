#include "OAuthEndpoints.h"

OAuthEndpoints OAuthEndpoints::microsoft() {
    OAuthEndpoints p;
    p.authorizeUrl = QUrl(u"https://login.microsoftonline.com/common/oauth2/v2.0/authorize"_qs);
    p.tokenUrl = QUrl(u"https://login.microsoftonline.com/common/oauth2/v2.0/token"_qs);
    // offline_access is what brings a refresh token.
    p.scope = u"https://outlook.office.com/POP.AccessAsUser.All offline_access"_qs;
    p.scopeOnRefresh = true;
    return p;
}

OAuthEndpoints OAuthEndpoints::google() {
    OAuthEndpoints p;
    p.authorizeUrl = QUrl(u"https://accounts.google.com/o/oauth2/v2/auth"_qs);
    p.tokenUrl = QUrl(u"https://oauth2.googleapis.com/token"_qs);
    p.scope = u"https://mail.google.com/"_qs;
    // Without both, Google gives a refresh token only the first time an account consents.
    p.extraAuthorizeParameters = {{u"access_type"_qs, u"offline"_qs}, {u"prompt"_qs, u"consent"_qs}};
    return p;
}

bool OAuthEndpoints::isSafe(const QUrl& url) {
    if (!url.isValid() || url.host().isEmpty()) return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == u"https") return true;
    const QString host = url.host().toLower();
    return scheme == u"http" && (host == u"127.0.0.1" || host == u"localhost" || host == u"::1");
}

QString OAuthEndpoints::unsafeReason() const {
    const QString rule = u" debe empezar por https:// (http:// sólo en 127.0.0.1 o localhost): %1"_qs;
    if (!isSafe(authorizeUrl)) return u"La dirección de inicio de sesión"_qs + rule.arg(authorizeUrl.toDisplayString());
    if (!isSafe(tokenUrl)) return u"La dirección de los tokens"_qs + rule.arg(tokenUrl.toDisplayString());
    return {};
}

OAuthEndpoints OAuthEndpoints::custom(const QUrl& authorizeUrl, const QUrl& tokenUrl, const QString& scope) {
    OAuthEndpoints p;
    p.authorizeUrl = authorizeUrl;
    p.tokenUrl = tokenUrl;
    p.scope = scope;
    return p;
}
