// One sign-in in the browser (RFC 6749 4.1 with PKCE, RFC 7636; native-app rules of RFC 8252):
//
//   start   listener on 127.0.0.1, verifier and state drawn, the provider's page handed to the browser
//   wait    for the redirect carrying our state (other requests are answered and ignored)
//   trade   the code and the verifier for tokens at the token endpoint
//   answer  the browser with the outcome, and finished()
//
// cancel() or the deadline ends it at any step.
#pragma once

#include "OAuthEndpoints.h"
#include "TokenEndpoint.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>

class LoopbackListener;
class QNetworkAccessManager;
class QNetworkReply;

/** @short Hands a web address to the browser; false when no browser took it. */
using BrowserOpener = std::function<bool(const QUrl&)>;

class OAuthSignIn final : public QObject {
    Q_OBJECT
public:
    OAuthSignIn(const OAuthClient& client, const QString& user, QNetworkAccessManager& manager, QObject* parent);
    ~OAuthSignIn() override;
    Q_DISABLE_COPY_MOVE(OAuthSignIn)

    /** @short Starts it; the outcome comes through finished() (or cancelled()), never from inside start. */
    void start(const BrowserOpener& openBrowser, int requestTimeoutMs, int deadlineMs);
    /** @short Ends it without finished(); emits cancelled(). Nothing happens once it has ended. */
    void cancel();

signals:
    /** @short The provider's page, as handed to the browser; `opened` false when no browser took it
     *  (the user may copy the address into one). */
    void waitingForBrowser(const QUrl& url, bool opened);
    /** @short Once: the tokens, or why there are none. */
    void finished(const TokenReply& reply);
    void cancelled();

private:
    void onRedirected(const QUrlQuery& parameters);
    void end(const TokenReply& reply);
    void stop();

    OAuthClient m_client;
    QString m_user;
    QNetworkAccessManager& m_manager;
    LoopbackListener* m_listener = nullptr;
    QString m_verifier;
    QPointer<QNetworkReply> m_exchange;
    QTimer m_deadline;
    int m_requestTimeoutMs = 0;
    bool m_ended = false;
};
