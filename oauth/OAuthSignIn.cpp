#include "OAuthSignIn.h"

#include "LoopbackListener.h"
#include "Pkce.h"

#include <QNetworkReply>
#include <QUrlQuery>

OAuthSignIn::OAuthSignIn(const OAuthClient& client, const QString& user, QNetworkAccessManager& manager,
                         QObject* parent)
    : QObject(parent), m_client(client), m_user(user), m_manager(manager), m_listener(new LoopbackListener(this)) {
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this,
            [this] { end(failedTokenReply(u"El inicio de sesión no se completó a tiempo: vuelva a intentarlo."_qs)); });
    connect(m_listener, &LoopbackListener::redirected, this, &OAuthSignIn::onRedirected);
}

OAuthSignIn::~OAuthSignIn() {
    abandonTokenRequest(m_exchange);
}

void OAuthSignIn::start(const BrowserOpener& openBrowser, int requestTimeoutMs, int deadlineMs) {
    m_requestTimeoutMs = requestTimeoutMs;
    m_deadline.start(deadlineMs);
    if (const QString unsafe = m_client.provider.unsafeReason(); !unsafe.isEmpty()) {
        QTimer::singleShot(0, this, [this, unsafe] { end(failedTokenReply(unsafe)); });
        return;
    }
    if (!m_listener->listen()) {
        const QString why = m_listener->errorString();
        QTimer::singleShot(0, this, [this, why] {
            end(failedTokenReply(u"No se pudo abrir un puerto local para el inicio de sesión: %1"_qs.arg(why)));
        });
        return;
    }
    const QString state = Pkce::randomUnreserved(32);
    m_listener->setExpectedState(state);
    m_verifier = Pkce::newVerifier();

    FormFields query{{u"response_type"_qs, u"code"_qs},
                     {u"client_id"_qs, m_client.clientId},
                     {u"redirect_uri"_qs, m_listener->redirectUri()},
                     {u"scope"_qs, m_client.provider.scope},
                     {u"state"_qs, state},
                     {u"code_challenge"_qs, Pkce::challenge(m_verifier)},
                     {u"code_challenge_method"_qs, u"S256"_qs}};
    if (!m_user.isEmpty()) query.append({u"login_hint"_qs, m_user});
    query.append(m_client.provider.extraAuthorizeParameters);
    QUrl url = m_client.provider.authorizeUrl;
    const QByteArray existing = url.query(QUrl::FullyEncoded).toLatin1();
    url.setQuery(QString::fromLatin1(existing.isEmpty() ? formEncode(query) : existing + '&' + formEncode(query)));

    const bool opened = openBrowser ? openBrowser(url) : false;
    emit waitingForBrowser(url, opened);
}

void OAuthSignIn::onRedirected(const QUrlQuery& parameters) {
    const QString error = parameters.queryItemValue(u"error"_qs, QUrl::FullyDecoded);
    const QString code = parameters.queryItemValue(u"code"_qs, QUrl::FullyDecoded);
    if (!error.isEmpty() || code.isEmpty()) {
        // RFC 6749 4.1.2.1: error, and perhaps error_description, instead of the code.
        QString detail = parameters.queryItemValue(u"error_description"_qs, QUrl::FullyDecoded).simplified();
        detail = error.isEmpty()    ? u"sin código de autorización"_qs
                 : detail.isEmpty() ? error
                                    : error + u": "_qs + detail;
        end(failedTokenReply(u"El proveedor no concedió el acceso (%1)."_qs.arg(detail), error));
        return;
    }
    FormFields form{{u"grant_type"_qs, u"authorization_code"_qs},
                    {u"code"_qs, code},
                    {u"redirect_uri"_qs, m_listener->redirectUri()},
                    {u"client_id"_qs, m_client.clientId},
                    {u"code_verifier"_qs, m_verifier}};
    if (!m_client.clientSecret.isEmpty()) form.append({u"client_secret"_qs, m_client.clientSecret});
    m_exchange = postTokenRequest(m_manager, m_client.provider.tokenUrl, form, m_requestTimeoutMs,
                                  [this](const TokenReply& reply) {
                                      m_exchange = nullptr; // finished: nothing left to abandon
                                      end(reply);
                                  });
}

void OAuthSignIn::end(const TokenReply& reply) {
    if (m_ended) return;
    m_ended = true;
    m_deadline.stop();
    abandonTokenRequest(m_exchange);
    m_listener->finish(reply.status == TokenReply::Status::Granted, reply.message);
    emit finished(reply);
}

void OAuthSignIn::cancel() {
    if (m_ended) return;
    m_ended = true;
    m_deadline.stop();
    abandonTokenRequest(m_exchange);
    m_listener->close();
    emit cancelled();
}
