// How the window's accounts log in: each account's way (CuentasAcceso.dat, or what the quick
// connection chose), the secrets kept for them (SecretStore) and, for OAuth2 accounts, the tokens
// (OAuthAccount), with the sign-in in the browser shown in a small window the user can cancel.
#pragma once

#include "AccountAccess.h"
#include "Pop3Types.h"
#include "WindowSeams.h"

#include <QHash>
#include <QObject>
#include <QPointer>

class OAuthAccount;
class QDialog;
class QLabel;
class SecretStore;
struct OAuthClient;

class TAccountLogins final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TAccountLogins)
public:
    /** @short The login data of `dataDir` (read now: problems go to `report`), and the secrets kept
     *  there or in the desktop's keyring. `openUrl` shows the provider's page in the browser;
     *  `over` is the window the sign-in window belongs to. */
    TAccountLogins(const QString& dataDir, std::function<bool(const QUrl&)> openUrl, QWidget* over,
                   std::function<void(const QString& problem)> report);
    ~TAccountLogins() override;

    SecretStore* secrets() const { return m_secrets; }
    QString accessFilePath() const { return m_accessPath; }

    /** @short The way the account logs in: what the quick connection chose for it during this run,
     *  else its entry in CuentasAcceso.dat, else its password. */
    AccountAccess access(const QString& key) const;
    /** @short What the quick connection chose for a mailbox; kept for this run only. */
    void setQuickAccess(const QString& key, const AccountAccess& access);
    /** @short CuentasAcceso.dat changed (the accounts dialog): read again; an account whose
     *  provider or client changed signs in afresh. */
    void reload();

    /** @short For a session of an OAuth2 account: hands out its access tokens, refreshing them
     *  and asking the user to sign in where needed. */
    Pop3AccessTokenSource tokenSource(const QString& key, const QString& user);

    /** @short The OAuth2 client an account's entry describes (presets filled in). */
    static OAuthClient ClientOf(const AccountAccess& access);

private:
    struct Login;
    Login* loginFor(const QString& key, const QString& user);
    void answer(Login* login, bool afterRefusal, const Pop3TokenReply& reply);
    void showSignIn(Login* login, const QUrl& url, bool opened);
    void closeSignIn(Login* login);

    QString m_accessPath;
    std::function<bool(const QUrl&)> m_openUrl;
    QPointer<QWidget> m_over;
    std::function<void(const QString&)> m_report;
    SecretStore* m_secrets = nullptr;
    AccountAccessList m_access;
    QHash<QString, AccountAccess> m_quick;
    QHash<QString, Login*> m_logins;
};
