#include "AccountLogins.h"

#include "Errors.h"
#include "OAuthAccount.h"
#include "SecretStore.h"

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

/** One OAuth2 account's tokens, and the sessions waiting for one. */
struct TAccountLogins::Login {
    QString key;
    AccountAccess access; ///< what the tokens were asked for with
    OAuthAccount* tokens = nullptr;
    bool refreshTokenRead = false;
    /** Asked before the kept refresh token was read: (after a refusal, reply). */
    QList<std::pair<bool, Pop3TokenReply>> early;
    /** Waiting for the next answer of `tokens`. */
    QList<Pop3TokenReply> waiting;
    QPointer<QDialog> signInWindow;
};

TAccountLogins::TAccountLogins(const QString& dataDir, std::function<bool(const QUrl&)> openUrl, QWidget* over,
                               std::function<void(const QString& problem)> report)
    : QObject(over), m_accessPath(AccountAccessFilePath(dataDir)), m_openUrl(std::move(openUrl)), m_over(over),
      m_report(std::move(report)), m_secrets(new SecretStore(dataDir, this)) {
    reload();
}

TAccountLogins::~TAccountLogins() {
    for (Login* login : std::as_const(m_logins)) {
        delete login->signInWindow;
        delete login;
    }
}

AccountAccess TAccountLogins::access(const QString& key) const {
    const auto quick = m_quick.constFind(key);
    return quick != m_quick.cend() ? *quick : m_access.find(key);
}

void TAccountLogins::setQuickAccess(const QString& key, const AccountAccess& access) {
    m_quick.insert(key, access);
}

void TAccountLogins::reload() {
    QStringList problems;
    try {
        m_access = LoadAccountAccessFile(m_accessPath, &problems);
    } catch (const AppError& e) {
        problems << e.message();
    }
    if (!problems.isEmpty() && m_report)
        m_report(u"No se entendió todo CuentasAcceso.dat; esas líneas no se usan:\n"_qs + problems.join(u'\n'));
    // An account whose way of signing in changed starts afresh; sessions waiting are told.
    for (auto it = m_logins.begin(); it != m_logins.end();) {
        Login* login = *it;
        if (access(login->key) == login->access) {
            ++it;
            continue;
        }
        it = m_logins.erase(it);
        const QString why = u"La forma de iniciar sesión de la cuenta cambió"_qs;
        for (const auto& [refused, reply] : std::as_const(login->early))
            reply({}, why);
        for (const Pop3TokenReply& reply : std::as_const(login->waiting))
            reply({}, why);
        delete login->signInWindow;
        delete login->tokens; // its pending answers (the kept refresh token's read) go with it
        delete login;
    }
}

OAuthClient TAccountLogins::ClientOf(const AccountAccess& access) {
    OAuthClient client;
    switch (access.provider) {
    case OAuthProvider::Microsoft:
        client.provider = OAuthEndpoints::microsoft();
        break;
    case OAuthProvider::Google:
        client.provider = OAuthEndpoints::google();
        break;
    case OAuthProvider::Custom:
        client.provider = OAuthEndpoints::custom(QUrl(access.authorizeUrl), QUrl(access.tokenUrl), access.scope);
        break;
    }
    client.clientId = access.clientId;
    client.clientSecret = access.clientSecret;
    return client;
}

Pop3AccessTokenSource TAccountLogins::tokenSource(const QString& key, const QString& user) {
    QPointer<TAccountLogins> self(this);
    return [self, key, user](bool afterRefusal, Pop3TokenReply reply) {
        if (!self) return reply({}, u"El programa se está cerrando"_qs);
        Login* login = self->loginFor(key, user);
        if (!login->refreshTokenRead)
            login->early.append({afterRefusal, std::move(reply)});
        else
            self->answer(login, afterRefusal, reply);
    };
}

TAccountLogins::Login* TAccountLogins::loginFor(const QString& key, const QString& user) {
    if (Login* known = m_logins.value(key)) return known;
    auto* login = new Login;
    login->key = key;
    login->access = access(key);
    login->tokens = new OAuthAccount(ClientOf(login->access), user, this);
    login->tokens->setBrowserOpener(m_openUrl);
    m_logins.insert(key, login);
    OAuthAccount* tokens = login->tokens;

    // Every answer goes to every session waiting for it.
    auto answerAll = [login](const QString& token, const QString& error) {
        const QList<Pop3TokenReply> waiting = std::exchange(login->waiting, {});
        for (const Pop3TokenReply& reply : waiting)
            reply(token, error);
    };
    connect(tokens, &OAuthAccount::accessTokenReady, this, [this, login, answerAll](const QString& token) {
        closeSignIn(login);
        answerAll(token, {});
    });
    connect(tokens, &OAuthAccount::accessTokenFailed, this,
            [this, login, answerAll](OAuthAccount::Failure failure, const QString& message) {
                if (failure == OAuthAccount::Failure::SignInRequired) {
                    login->tokens->signIn(); // the sessions wait on for what the browser brings
                    return;
                }
                closeSignIn(login);
                answerAll({}, message);
            });
    connect(tokens, &OAuthAccount::signInCancelled, this, [this, login, answerAll] {
        closeSignIn(login);
        answerAll({}, u"Inicio de sesión OAuth2 cancelado"_qs);
    });
    connect(tokens, &OAuthAccount::waitingForBrowser, this,
            [this, login](const QUrl& url, bool opened) { showSignIn(login, url, opened); });
    connect(tokens, &OAuthAccount::refreshTokenChanged, this, [this, key](const QString& refreshToken) {
        auto done = [this](const SecretResult& result) {
            if (result.status == SecretResult::Failed && m_report)
                m_report(u"No se pudo guardar la autorización de la cuenta: "_qs + result.error);
        };
        if (refreshToken.isEmpty())
            m_secrets->remove(RefreshTokenKey(key), this, done);
        else
            m_secrets->write(RefreshTokenKey(key), refreshToken, this, done);
    });

    // The refresh token kept from an earlier run comes first.
    m_secrets->read(RefreshTokenKey(key), tokens, [this, login](const SecretResult& result) {
        if (result.status == SecretResult::Done) login->tokens->setRefreshToken(result.secret);
        if (result.status == SecretResult::Failed && m_report)
            m_report(u"No se pudo leer la autorización guardada de la cuenta: "_qs + result.error);
        login->refreshTokenRead = true;
        const auto early = std::exchange(login->early, {});
        for (const auto& [afterRefusal, reply] : early)
            answer(login, afterRefusal, reply);
    });
    return login;
}

void TAccountLogins::answer(Login* login, bool afterRefusal, const Pop3TokenReply& reply) {
    login->waiting.append(reply);
    if (afterRefusal)
        login->tokens->forceRefresh();
    else
        login->tokens->requestAccessToken();
}

void TAccountLogins::showSignIn(Login* login, const QUrl& url, bool opened) {
    delete login->signInWindow;
    auto* window = new QDialog(m_over);
    window->setObjectName(u"frmInicioSesion"_qs);
    window->setWindowTitle(u"Iniciar sesión"_qs);
    window->setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(window);
    const QString user = login->key.section(u'@', 0, -2);
    auto* text = new QLabel(window);
    text->setObjectName(u"lblEspera"_qs);
    text->setWordWrap(true);
    text->setText(
        opened ? u"Se ha abierto el navegador para que inicie sesión en %1 con la cuenta %2.\n"
                 u"Tavelo espera la autorización; esta ventana se cierra sola al recibirla."_qs.arg(
                     url.host(), QUrl::fromPercentEncoding(user.toUtf8()))
               : u"No se pudo abrir el navegador. Abra en él esta dirección para iniciar sesión con "
                 u"la cuenta %1; Tavelo espera la autorización."_qs.arg(QUrl::fromPercentEncoding(user.toUtf8())));
    layout->addWidget(text);
    auto* address = new QLineEdit(url.toString(QUrl::FullyEncoded), window);
    address->setObjectName(u"edtDireccion"_qs);
    address->setReadOnly(true);
    address->setAccessibleName(u"Dirección de inicio de sesión"_qs);
    layout->addWidget(address);
    auto* cancel = new QPushButton(u"Cancelar"_qs, window);
    cancel->setObjectName(u"btnCancelar"_qs);
    layout->addWidget(cancel, 0, Qt::AlignRight);
    OAuthAccount* tokens = login->tokens;
    connect(cancel, &QPushButton::clicked, tokens, &OAuthAccount::cancelSignIn);
    connect(window, &QDialog::rejected, tokens, &OAuthAccount::cancelSignIn); // Esc or the title bar's close
    window->resize(460, window->sizeHint().height());
    login->signInWindow = window;
    window->show();
}

void TAccountLogins::closeSignIn(Login* login) {
    if (!login->signInWindow) return;
    QDialog* window = login->signInWindow;
    login->signInWindow = nullptr;
    window->disconnect(login->tokens);
    window->close();
}
