#include "OAuthAccount.h"

#include "TokenEndpoint.h"

#include <QDesktopServices>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

namespace {
// A token with less than this left is refreshed first: it may run out while a login uses it.
constexpr qint64 kMarginMs = 60 * 1000;
constexpr int kKeepEndedSignInMs = 30 * 1000;
} // namespace

OAuthAccount::OAuthAccount(const OAuthClient& client, const QString& user, QObject* parent)
    : QObject(parent), m_client(client), m_user(user), m_manager(new QNetworkAccessManager(this)),
      m_openBrowser([](const QUrl& url) { return QDesktopServices::openUrl(url); }) {}

// The requests go before the network manager that owns them: none may answer a half-destroyed account.
OAuthAccount::~OAuthAccount() {
    abandonTokenRequest(m_refresh);
    delete m_signIn;
}

void OAuthAccount::setRefreshToken(const QString& refreshToken) {
    m_refreshToken = refreshToken;
}

void OAuthAccount::setTimeouts(int requestMs, int signInMs) {
    m_requestTimeoutMs = requestMs;
    m_signInTimeoutMs = signInMs;
}

void OAuthAccount::answerLater(const std::function<void()>& answer) {
    QTimer::singleShot(0, this, answer);
}

void OAuthAccount::requestAccessToken() {
    if (m_refresh || m_signIn) return; // the answer under way is this one's too
    if (!m_accessToken.isEmpty() && m_expiry.remainingTime() > kMarginMs) {
        answerLater([this, token = m_accessToken] { emit accessTokenReady(token); });
    } else if (!m_refreshToken.isEmpty()) {
        startRefresh();
    } else {
        answerLater([this] {
            emit accessTokenFailed(Failure::SignInRequired, u"La cuenta aún no tiene autorización: inicie sesión."_qs);
        });
    }
}

void OAuthAccount::forceRefresh() {
    m_accessToken.clear();
    requestAccessToken();
}

// RFC 6749 6: grant_type=refresh_token; the scope may be left out (it stays what was granted).
void OAuthAccount::startRefresh() {
    if (const QString unsafe = m_client.provider.unsafeReason(); !unsafe.isEmpty()) {
        // The refresh token never goes to an address that is not https.
        answerLater([this, unsafe] { emit accessTokenFailed(Failure::Failed, unsafe); });
        return;
    }
    FormFields form{{u"grant_type"_qs, u"refresh_token"_qs},
                    {u"refresh_token"_qs, m_refreshToken},
                    {u"client_id"_qs, m_client.clientId}};
    if (m_client.provider.scopeOnRefresh) form.append({u"scope"_qs, m_client.provider.scope});
    if (!m_client.clientSecret.isEmpty()) form.append({u"client_secret"_qs, m_client.clientSecret});
    m_refresh = postTokenRequest(*m_manager, m_client.provider.tokenUrl, form, m_requestTimeoutMs,
                                 [this](const TokenReply& reply) { onTokens(reply, false); });
}

void OAuthAccount::signIn() {
    if (m_signIn) return;
    abandonTokenRequest(m_refresh); // what the sign-in brings answers its request
    m_signIn = new OAuthSignIn(m_client, m_user, *m_manager, this);
    connect(m_signIn, &OAuthSignIn::waitingForBrowser, this, &OAuthAccount::waitingForBrowser);
    connect(m_signIn, &OAuthSignIn::finished, this, [this](const TokenReply& reply) {
        // The page it answers the browser with is still on its way: the sign-in goes a while later.
        QTimer::singleShot(kKeepEndedSignInMs, m_signIn, &QObject::deleteLater);
        m_signIn = nullptr;
        onTokens(reply, true);
    });
    connect(m_signIn, &OAuthSignIn::cancelled, this, [this] {
        m_signIn->deleteLater();
        m_signIn = nullptr;
        emit signInCancelled();
    });
    m_signIn->start(m_openBrowser, m_requestTimeoutMs, m_signInTimeoutMs);
}

void OAuthAccount::cancelSignIn() {
    if (m_signIn) m_signIn->cancel();
}

void OAuthAccount::onTokens(const TokenReply& reply, bool fromSignIn) {
    m_refresh = nullptr; // before anything is emitted: a receiver may ask again at once
    switch (reply.status) {
    case TokenReply::Status::Granted:
        m_accessToken = reply.accessToken;
        m_expiry.setRemainingTime(reply.expiresIn * 1000);
        // A refresh need not bring a new refresh token (RFC 6749 6): the old one stays good then.
        if (!reply.refreshToken.isEmpty()) keepRefreshToken(reply.refreshToken);
        emit accessTokenReady(m_accessToken);
        return;
    case TokenReply::Status::Refused:
        if (!fromSignIn) {
            m_accessToken.clear();
            keepRefreshToken(QString());
            emit accessTokenFailed(Failure::SignInRequired,
                                   u"La autorización de la cuenta ya no es válida: vuelva a iniciar sesión."_qs);
            return;
        }
        break; // a code refused at the end of a sign-in is a failed sign-in
    case TokenReply::Status::Failed:
        break;
    }
    emit accessTokenFailed(Failure::Failed, reply.message);
}

void OAuthAccount::keepRefreshToken(const QString& refreshToken) {
    if (refreshToken == m_refreshToken) return;
    m_refreshToken = refreshToken;
    emit refreshTokenChanged(m_refreshToken);
}
