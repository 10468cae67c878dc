// One account's tokens: hands out a valid access token, refreshing it as it runs out, and signs the
// user in through the browser when asked. Everything is asynchronous; nothing here blocks or nests an
// event loop.
//
//   requestAccessToken()  --token still good for a minute--------------------> accessTokenReady
//                         --refresh token--> refresh --granted---------------> accessTokenReady
//                                                     --invalid_grant--------> accessTokenFailed(SignInRequired)
//                                                     --network, time, other-> accessTokenFailed(Failed)
//                         --no refresh token-------------------------------> accessTokenFailed(SignInRequired)
//   signIn()              --browser, code, tokens--------------------------> accessTokenReady
//                                                     --refused, time, other-> accessTokenFailed(Failed)
//                         --cancelSignIn()-----------------------------------> signInCancelled
//
// Requests made while a refresh or a sign-in runs share its answer: each request gets exactly one of
// accessTokenReady, accessTokenFailed or signInCancelled, always after the call has returned.
// A receiver that wants the account gone uses deleteLater(), as with any object whose signal is running.
#pragma once

#include "OAuthEndpoints.h"
#include "OAuthSignIn.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QPointer>

class QNetworkAccessManager;
class QNetworkReply;

class OAuthAccount final : public QObject {
    Q_OBJECT
public:
    enum class Failure {
        SignInRequired, ///< no refresh token, or the provider no longer accepts it: call signIn()
        Failed,         ///< this time it did not work (network, time limit, the provider's error)
    };
    Q_ENUM(Failure)

    /** @short `user` is the mailbox's user, passed to the provider as login_hint. */
    OAuthAccount(const OAuthClient& client, const QString& user, QObject* parent = nullptr);
    ~OAuthAccount() override;
    Q_DISABLE_COPY_MOVE(OAuthAccount)

    /** @short The refresh token kept from an earlier run (the keyring's); empty: none. */
    void setRefreshToken(const QString& refreshToken);
    QString refreshToken() const { return m_refreshToken; }
    /** @short What shows the provider's page; the desktop's browser (QDesktopServices) by default. */
    void setBrowserOpener(BrowserOpener openBrowser) { m_openBrowser = std::move(openBrowser); }
    /** @short Time limits: each request to the token endpoint (30 s by default), and a sign-in from
     *  start to end (10 minutes). */
    void setTimeouts(int requestMs, int signInMs);

    /** @short Asks for a valid access token (see above). */
    void requestAccessToken();
    /** @short The server refused the access token: a new one is fetched whatever its time said.
     *  Call it once per refusal, or a server that refuses every token is asked for ever. */
    void forceRefresh();
    /** @short Starts a sign-in in the browser (ends a refresh that runs); while one runs, nothing. */
    void signIn();
    void cancelSignIn();
    bool isSigningIn() const { return m_signIn != nullptr; }

signals:
    void accessTokenReady(const QString& accessToken);
    void accessTokenFailed(OAuthAccount::Failure failure, const QString& message);
    /** @short The refresh token to keep from now on; empty when the stored one must be forgotten. */
    void refreshTokenChanged(const QString& refreshToken);
    /** @short A sign-in waits for the user at this address; `opened` false when no browser took it. */
    void waitingForBrowser(const QUrl& url, bool opened);
    void signInCancelled();

private:
    void startRefresh();
    void onTokens(const TokenReply& reply, bool fromSignIn);
    void keepRefreshToken(const QString& refreshToken);
    void answerLater(const std::function<void()>& answer);

    OAuthClient m_client;
    QString m_user;
    QNetworkAccessManager* m_manager;
    BrowserOpener m_openBrowser;
    int m_requestTimeoutMs = 30000;
    int m_signInTimeoutMs = 10 * 60 * 1000;

    QString m_refreshToken;
    QString m_accessToken;
    QDeadlineTimer m_expiry;
    QPointer<QNetworkReply> m_refresh;
    OAuthSignIn* m_signIn = nullptr;
};
