// The OAuth2 client against the tests' authorization server (support/oauth_server.py, one per test):
// the test plays the browser, fetching the sign-in address and following its redirect to the loopback
// listener, and reads what the server saw from its log.
#include "LoopbackListener.h"
#include "OAuthAccount.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUrlQuery>
#include <algorithm>
#include <memory>

namespace {

using Failure = OAuthAccount::Failure;
constexpr int kWaitMs = 15000;

struct Fetched {
    int status = 0; ///< the last HTTP answer's
    QByteArray body;
    QNetworkReply::NetworkError error = QNetworkReply::UnknownNetworkError;
};

/** GET, or POST of a form, with redirects followed as a browser does. */
Fetched fetch(const QUrl& url, const QByteArray& form = {}) {
    static QNetworkAccessManager manager;
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    std::unique_ptr<QNetworkReply> reply(form.isNull() ? manager.get(request) : manager.post(request, form));
    if (!reply->isFinished() && !QSignalSpy(reply.get(), &QNetworkReply::finished).wait(kWaitMs)) return {};
    return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll(), reply->error()};
}

/** The authorization server, users "ana" and "bea". */
class AuthServer {
public:
    ~AuthServer() {
        m_process.kill();
        m_process.waitForFinished();
    }
    bool start(const QStringList& options = {}) {
        m_process.start(u"python3"_qs, QStringList{QStringLiteral(TAVELO_TEST_SUPPORT_DIR "/oauth_server.py"),
                                                   u"--user"_qs, u"ana"_qs, u"--user"_qs, u"bea"_qs} +
                                           options);
        if (!m_process.waitForReadyRead(kWaitMs)) return false;
        m_port = quint16(m_process.readLine().trimmed().toUInt());
        return m_port != 0;
    }
    QUrl url(const QString& path) const { return QUrl(u"http://127.0.0.1:%1%2"_qs.arg(m_port).arg(path)); }
    OAuthClient client() const {
        return {
            OAuthEndpoints::custom(url(u"/authorize"_qs), url(u"/token"_qs), u"pop offline"_qs), u"tavelo-test"_qs, {}};
    }
    QJsonObject control(const QString& what, const QString& user) const {
        return QJsonDocument::fromJson(fetch(url(u"/control/"_qs + what), "user=" + user.toUtf8()).body).object();
    }
    bool active(const QString& accessToken) const {
        const QByteArray form = "token=" + QUrl::toPercentEncoding(accessToken);
        return QJsonDocument::fromJson(fetch(url(u"/introspect"_qs), form).body)[u"active"_qs].toBool();
    }
    /** The forms (or queries) of the requests seen at `path`, oldest first. */
    QList<QJsonObject> seen(const QString& path) const {
        QList<QJsonObject> forms;
        for (const QByteArray& line : fetch(url(u"/control/log"_qs)).body.split('\n')) {
            const QJsonObject request = QJsonDocument::fromJson(line).object();
            if (request[u"path"_qs].toString() == path) forms.append(request[u"form"_qs].toObject());
        }
        return forms;
    }

private:
    QProcess m_process;
    quint16 m_port = 0;
};

/** An account whose browser is the test: the address it was handed. */
struct Account {
    explicit Account(const OAuthClient& client, const QString& user = u"ana"_qs) : account(client, user) {
        account.setBrowserOpener([this](const QUrl& url) {
            browser = url;
            return true;
        });
    }
    /** Asks (requestAccessToken, or forceRefresh) and waits for the one answer: the token, or
     *  "failed" with the failure's details in `failed`. */
    QString ask(void (OAuthAccount::*how)() = &OAuthAccount::requestAccessToken) {
        QSignalSpy ready(&account, &OAuthAccount::accessTokenReady);
        failed.clear();
        (account.*how)();
        if (!QTest::qWaitFor([&] { return ready.size() + failed.size() > 0; }, kWaitMs)) return u"no answer"_qs;
        QCoreApplication::processEvents(); // a second answer, if one was queued
        if (ready.size() + failed.size() != 1) return u"more than one answer"_qs;
        return ready.isEmpty() ? u"failed"_qs : ready[0][0].toString();
    }

    OAuthAccount account;
    QUrl browser;
    QSignalSpy failed{&account, &OAuthAccount::accessTokenFailed};
    QSignalSpy changed{&account, &OAuthAccount::refreshTokenChanged};
    QSignalSpy cancelled{&account, &OAuthAccount::signInCancelled};
};

QString s256(const QString& verifier) {
    return QString::fromLatin1(QCryptographicHash::hash(verifier.toLatin1(), QCryptographicHash::Sha256)
                                   .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

} // namespace

class TestOAuth : public QObject {
    Q_OBJECT
private slots:
    void signInInTheBrowser_data() {
        QTest::addColumn<QString>("user");
        QTest::addColumn<bool>("strayRequestsFirst");
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<QString>("page");
        QTest::addColumn<int>("crowd"); // connections another local program opens first, all at once
        QTest::newRow("signed in") << u"ana"_qs << false << true << u"Sesión iniciada"_qs << 0;
        QTest::newRow("favicon and wrong state ignored") << u"bea"_qs << true << true << u"Sesión iniciada"_qs << 0;
        QTest::newRow("access denied") << u"nadie"_qs << false << false << u"No se pudo iniciar la sesión"_qs << 0;
        QTest::newRow("more connections than it serves: the rest closed at once")
            << u"ana"_qs << false << true << u"Sesión iniciada"_qs << LoopbackListener::kMaxConnections + 4;
    }
    void signInInTheBrowser() {
        QFETCH(QString, user);
        QFETCH(bool, strayRequestsFirst);
        QFETCH(bool, signedIn);
        QFETCH(QString, page);
        QFETCH(int, crowd);
        AuthServer server;
        QVERIFY(server.start());
        OAuthClient client = server.client();
        client.clientSecret = u"s3cr+t &=x"_qs;
        client.provider.extraAuthorizeParameters = {{u"access_type"_qs, u"offline"_qs}};
        Account a(client, user);
        QSignalSpy waiting(&a.account, &OAuthAccount::waitingForBrowser);
        QSignalSpy ready(&a.account, &OAuthAccount::accessTokenReady);
        a.account.signIn();
        QCOMPARE(waiting.size(), 1);
        QCOMPARE(waiting[0][0].toUrl(), a.browser);
        const QUrlQuery asked(a.browser);
        const QUrl redirect(asked.queryItemValue(u"redirect_uri"_qs, QUrl::FullyDecoded));
        QCOMPARE(redirect.host(), u"127.0.0.1"_qs);
        QCOMPARE(redirect.path(), u"/"_qs);

        if (crowd > 0) {
            std::vector<std::unique_ptr<QTcpSocket>> held;
            for (int i = 0; i < crowd; ++i) {
                held.push_back(std::make_unique<QTcpSocket>());
                held.back()->connectToHost(redirect.host(), quint16(redirect.port()));
                QVERIFY(held.back()->waitForConnected(kWaitMs));
            }
            const auto closedFrom = [&held](int first) {
                return std::all_of(held.begin() + first, held.end(),
                                   [](const auto& s) { return s->state() == QAbstractSocket::UnconnectedState; });
            };
            // Those beyond the most it serves are closed at once, long before a spare one's idle time.
            QTRY_VERIFY_WITH_TIMEOUT(closedFrom(LoopbackListener::kMaxConnections), 3000);
            // The first ones are still served: each request is answered.
            for (int i = 0; i < LoopbackListener::kMaxConnections; ++i) {
                QCOMPARE(held[i]->state(), QAbstractSocket::ConnectedState);
                held[i]->write("GET /favicon.ico HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
            }
            QTRY_VERIFY_WITH_TIMEOUT(closedFrom(0), kWaitMs);
            for (int i = 0; i < LoopbackListener::kMaxConnections; ++i)
                QVERIFY(held[i]->readAll().startsWith("HTTP/1.1 404 "));
        }

        if (strayRequestsFirst) {
            QCOMPARE(fetch(redirect.resolved(QUrl(u"/favicon.ico"_qs))).status, 404);
            QUrl forged = a.browser;
            QUrlQuery query(forged);
            query.removeQueryItem(u"state"_qs);
            query.addQueryItem(u"state"_qs, u"forged"_qs);
            forged.setQuery(query);
            const Fetched stray = fetch(forged); // the server sends it back to the listener with a code
            QCOMPARE(stray.status, 400);
            QVERIFY(stray.body.contains("no corresponde"));
            QCOMPARE(ready.size() + a.failed.size(), 0);
        }
        const Fetched answered = fetch(a.browser);
        QCOMPARE(answered.status, 200);
        QVERIFY2(QString::fromUtf8(answered.body).contains(page), answered.body);
        QCOMPARE(a.account.isSigningIn(), false);

        const QList<QJsonObject> exchanges = server.seen(u"/token"_qs);
        if (!signedIn) {
            QCOMPARE(a.failed.size(), 1);
            QCOMPARE(a.failed[0][0].value<Failure>(), Failure::Failed);
            QVERIFY2(a.failed[0][1].toString().contains(u"access_denied"_qs), qPrintable(a.failed[0][1].toString()));
            QCOMPARE(exchanges.size(), 0);
            QCOMPARE(a.changed.size(), 0);
            return;
        }
        QCOMPARE(ready.size(), 1);
        QVERIFY(server.active(ready[0][0].toString()));
        QCOMPARE(a.changed.size(), 1);
        QVERIFY(!a.account.refreshToken().isEmpty());
        QCOMPARE(a.changed[0][0].toString(), a.account.refreshToken());
        // What the server checked: the challenge it was shown is that of the verifier it got.
        const QJsonObject authorize = server.seen(u"/authorize"_qs).last();
        const QJsonObject exchange = exchanges.last();
        const QString verifier = exchange[u"code_verifier"_qs].toString();
        QVERIFY2(QRegularExpression(u"^[A-Za-z0-9._~-]{43,128}$"_qs).match(verifier).hasMatch(), qPrintable(verifier));
        QCOMPARE(authorize[u"code_challenge"_qs].toString(), s256(verifier));
        QCOMPARE(authorize[u"code_challenge_method"_qs].toString(), u"S256"_qs);
        QCOMPARE(authorize[u"login_hint"_qs].toString(), user);
        QCOMPARE(authorize[u"scope"_qs].toString(), u"pop offline"_qs);
        QCOMPARE(authorize[u"access_type"_qs].toString(), u"offline"_qs);
        QCOMPARE(exchange[u"client_secret"_qs].toString(), client.clientSecret);
        QCOMPARE(exchange[u"redirect_uri"_qs].toString(), redirect.toString());
    }

    void tokenIsRefreshedWhenItRunsOut_data() {
        QTest::addColumn<int>("expiresIn");
        QTest::addColumn<QString>("onRefresh");
        QTest::addColumn<int>("refreshes");
        QTest::addColumn<bool>("newRefreshTokens");
        QTest::newRow("good for an hour") << 3600 << u"keep"_qs << 1 << false;
        QTest::newRow("less than a minute left") << 30 << u"keep"_qs << 3 << false;
        QTest::newRow("new refresh token each time") << 30 << u"rotate"_qs << 3 << true;
        QTest::newRow("refresh token left out") << 30 << u"omit"_qs << 3 << false;
    }
    void tokenIsRefreshedWhenItRunsOut() {
        QFETCH(int, expiresIn);
        QFETCH(QString, onRefresh);
        QFETCH(int, refreshes);
        QFETCH(bool, newRefreshTokens);
        AuthServer server;
        QVERIFY(server.start({u"--expires-in"_qs, QString::number(expiresIn), u"--on-refresh"_qs, onRefresh}));
        const QString stored = server.control(u"issue"_qs, u"ana"_qs)[u"refresh_token"_qs].toString();
        Account a(server.client());
        a.account.setRefreshToken(stored);
        QStringList tokens;
        for (int i = 0; i < 3; ++i) {
            tokens.append(a.ask());
            QVERIFY2(server.active(tokens.last()), qPrintable(tokens.last()));
        }
        QCOMPARE(server.seen(u"/token"_qs).size(), refreshes);
        QCOMPARE(tokens.removeDuplicates(), 3 - refreshes);
        if (newRefreshTokens) {
            QCOMPARE(a.changed.size(), 3);
            QCOMPARE(a.changed.last()[0].toString(), a.account.refreshToken());
        } else {
            QCOMPARE(a.changed.size(), 0);
            QCOMPARE(a.account.refreshToken(), stored);
        }
    }

    void requestsDuringARefreshShareIt() {
        // With refresh tokens used once, a second refresh would spend one already spent.
        AuthServer server;
        QVERIFY(server.start({u"--on-refresh"_qs, u"rotate"_qs}));
        Account a(server.client());
        a.account.setRefreshToken(server.control(u"issue"_qs, u"ana"_qs)[u"refresh_token"_qs].toString());
        QSignalSpy ready(&a.account, &OAuthAccount::accessTokenReady);
        a.account.requestAccessToken();
        a.account.requestAccessToken();
        QVERIFY(ready.wait(kWaitMs));
        QCoreApplication::processEvents();
        QCOMPARE(ready.size(), 1);
        QCOMPARE(a.failed.size(), 0);
        QCOMPARE(server.seen(u"/token"_qs).size(), 1);
    }

    void refusedTokenIsReplacedWhenForced() {
        AuthServer server;
        QVERIFY(server.start());
        Account a(server.client());
        a.account.setRefreshToken(server.control(u"issue"_qs, u"ana"_qs)[u"refresh_token"_qs].toString());
        const QString first = a.ask();
        QVERIFY(server.active(first));
        server.control(u"expire"_qs, u"ana"_qs);
        QVERIFY(!server.active(first));
        const QString second = a.ask(&OAuthAccount::forceRefresh);
        QVERIFY(second != first);
        QVERIFY2(server.active(second), qPrintable(second));
    }

    void failedRefresh_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<Failure>("failure");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("refreshTokenKept");
        QTest::newRow("revoked") << u"revoke"_qs << Failure::SignInRequired
                                 << u"La autorización de la cuenta ya no es válida: vuelva a iniciar sesión."_qs
                                 << false;
        QTest::newRow("never signed in") << u"none"_qs << Failure::SignInRequired
                                         << u"La cuenta aún no tiene autorización: inicie sesión."_qs << false;
        QTest::newRow("endpoint refuses connections")
            << u"refused"_qs << Failure::Failed << u"No se pudo contactar con el servidor de autorización 127.0.0.1"_qs
            << true;
        QTest::newRow("endpoint never answers")
            << u"silent"_qs << Failure::Failed
            << u"Tiempo de espera agotado con el servidor de autorización 127.0.0.1."_qs << true;
        QTest::newRow("token endpoint in plain http")
            << u"http"_qs << Failure::Failed << u"La dirección de los tokens debe empezar por https://"_qs << true;
    }
    void failedRefresh() {
        QFETCH(QString, fault);
        QFETCH(Failure, failure);
        QFETCH(QString, message);
        QFETCH(bool, refreshTokenKept);
        AuthServer server;
        QVERIFY(server.start());
        OAuthClient client = server.client();
        const QString stored = server.control(u"issue"_qs, u"ana"_qs)[u"refresh_token"_qs].toString();
        QTcpServer silent; // takes connections and never reads from them
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        if (fault == u"revoke") server.control(u"revoke"_qs, u"ana"_qs);
        if (fault == u"silent")
            client.provider.tokenUrl = QUrl(u"http://127.0.0.1:%1/token"_qs.arg(silent.serverPort()));
        if (fault == u"http") client.provider.tokenUrl = QUrl(u"http://192.0.2.1/token"_qs); // never reached
        if (fault == u"refused") {
            client.provider.tokenUrl = QUrl(u"http://127.0.0.1:%1/token"_qs.arg(silent.serverPort()));
            silent.close();
        }
        Account a(client);
        a.account.setTimeouts(500, 60000);
        if (fault != u"none") a.account.setRefreshToken(stored);

        QCOMPARE(a.ask(), u"failed"_qs);
        QCOMPARE(a.failed[0][0].value<Failure>(), failure);
        QVERIFY2(a.failed[0][1].toString().startsWith(message), qPrintable(a.failed[0][1].toString()));
        if (refreshTokenKept) {
            QCOMPARE(a.account.refreshToken(), stored);
            QCOMPARE(a.changed.size(), 0);
        } else {
            QVERIFY(a.account.refreshToken().isEmpty());
            QCOMPARE(a.changed.size(), fault == u"revoke" ? 1 : 0); // the keyring forgets it
        }
    }

    void signInNotCompletedEnds_data() {
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<QString>("authorize"); // the sign-in page, when not the test server's
        QTest::addColumn<QString>("message");
        QTest::newRow("cancelled") << true << QString() << QString();
        QTest::newRow("left too long") << false << QString()
                                       << u"El inicio de sesión no se completó a tiempo: vuelva a intentarlo."_qs;
        QTest::newRow("sign-in page in plain http")
            << false << u"http://192.0.2.1/authorize"_qs
            << u"La dirección de inicio de sesión debe empezar por https:// (http:// sólo en 127.0.0.1 o localhost): "
               u"http://192.0.2.1/authorize"_qs;
    }
    void signInNotCompletedEnds() {
        QFETCH(bool, cancel);
        QFETCH(QString, authorize);
        QFETCH(QString, message);
        AuthServer server;
        QVERIFY(server.start());
        OAuthClient client = server.client();
        if (!authorize.isEmpty()) client.provider.authorizeUrl = QUrl(authorize);
        Account a(client);
        a.account.setTimeouts(30000, cancel ? 60000 : 300);
        a.account.signIn();
        QVERIFY(a.account.isSigningIn());
        if (!authorize.isEmpty()) {
            // Nothing is sent there, and the browser is never opened on it.
            QVERIFY(a.failed.wait(kWaitMs));
            QCOMPARE(a.failed[0][1].toString(), message);
            QVERIFY(a.browser.isEmpty());
            QVERIFY(!a.account.isSigningIn());
            return;
        }
        if (cancel) {
            a.account.cancelSignIn();
            QCOMPARE(a.cancelled.size(), 1);
        } else {
            QVERIFY(a.failed.wait(kWaitMs));
            QCOMPARE(a.failed[0][0].value<Failure>(), Failure::Failed);
            QCOMPARE(a.failed[0][1].toString(), message);
        }
        QVERIFY(!a.account.isSigningIn());
        // The listener is gone: the browser coming back finds nobody, and no code is traded.
        QCOMPARE(fetch(a.browser).error, QNetworkReply::ConnectionRefusedError);
        QCOMPARE(server.seen(u"/token"_qs).size(), 0);
        QCOMPARE(a.failed.size() + a.cancelled.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestOAuth)
#include "tst_oauth.moc"
