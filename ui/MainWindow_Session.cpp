// Connecting accounts: the connect commands, the sweep of unreported host-name failures, and what
// the window does when a tab tells it of a failure or of a completed connection.
#include "AccountLogins.h"
#include "AccountTab.h"
#include "AccountWidgets.h"
#include "MainWindow.h"
#include "PasswordScrambling.h"
#include "SecretStore.h"
#include "TextAndTime.h"

#include <QPlainTextEdit>
#include <QTabWidget>

// ---------------------------------------------------------------------------------------------------
// Connecting

TCuenta* TfrmPrincipal::AccountOfMenuItem(QAction* item) {
    for (TCuenta* a : std::as_const(Accounts))
        if (a->MenuItem == item) return a;
    return nullptr;
}

void TfrmPrincipal::mnuConectarCuentaClick(QAction* sender) {
    TCuenta* account = AccountOfMenuItem(sender);
    if (!account) return;
    if (account->Tab) {
        Page95Control->setCurrentWidget(account->Tab->page());
        return;
    }
    connectAccount(account);
}

TCuenta* TfrmPrincipal::AccountOfTab(const TAccountTab* tab) const {
    for (TCuenta* a : Accounts)
        if (a->Tab == tab) return a;
    return nullptr;
}

void TfrmPrincipal::connectAgain(TAccountTab* tab) {
    tab->endCountdown();
    if (TCuenta* account = AccountOfTab(tab))
        startSession(tab, account->Servidor, account->Usuario, account->Password, account->Puerto);
    else
        guarded([&] { tab->reconnect(); });
}

void TfrmPrincipal::connectAccount(TCuenta* account) {
    TAccountTab* tab = CreateAccountTab(account->Usuario);
    account->Tab = tab;
    startSession(tab, account->Servidor, account->Usuario, account->Password, account->Puerto);
}

void TfrmPrincipal::startSession(TAccountTab* tab, const QString& server, const QString& user,
                                 const QString& scrambledPassword, int port) {
    tab->setLook(TAccountTab::Look::Busy);
    tab->setStatus(u"Conectando..."_qs, u"Estableciendo conexión con "_qs + server);
    // An OAuth2 account logs in with the tokens of its provider; any other with its password, which
    // the user may keep in the keyring rather than in Cuentas.dat.
    const QString key = AccountKey(server, port, user);
    const AccountAccess access = m_logins->access(key);
    const bool oauth = access.method == LoginMethod::OAuth2;
    tab->setAccessTokenSource(oauth ? m_logins->tokenSource(key, user) : Pop3AccessTokenSource());
    tab->setAllowPlaintext(access.allowPlaintext || m_seams.allowPlaintext);
    if (oauth || !access.passwordInKeyring) {
        const std::optional<QString> password = oauth ? QString() : DecodeStoredPassword(scrambledPassword);
        if (!password) {
            // A damaged Cuentas.dat: what it holds is no password, and goes to no server.
            tab->setLook(TAccountTab::Look::Disconnected);
            tab->setStatus(u"Desconectado"_qs, u"La contraseña guardada no es válida"_qs);
            ShowMessage(QMessageBox::Critical, u"Contraseña no válida"_qs,
                        u"La contraseña guardada de la cuenta "_qs + user + u" ("_qs + server +
                            u") no es válida.\rEscríbala de nuevo en Configurar > Cuentas de correo."_qs);
            return;
        }
        tab->connectTo(server, port, user, *password);
        return;
    }
    m_logins->secrets()->read(
        PasswordKey(key), tab, [shown = QPointer<TAccountTab>(tab), server, port, user](const SecretResult& result) {
            if (!shown) return; // the tab was closed meanwhile
            if (result.status == SecretResult::Done) {
                shown->connectTo(server, port, user, result.secret);
                return;
            }
            shown->setLook(TAccountTab::Look::Disconnected);
            shown->setStatus(u"Desconectado"_qs,
                             result.status == SecretResult::NotFound
                                 ? u"La contraseña de la cuenta no está en el llavero"_qs
                                 : u"No se pudo leer la contraseña del llavero: "_qs + result.error);
        });
}

void TfrmPrincipal::mnuConectarConectarTodasClick() {
    // The list may change under a modal box opened by a session event: walk a copy.
    const QList<TCuenta*> accounts = Accounts;
    for (TCuenta* account : accounts) {
        if (!Accounts.contains(account)) continue;
        if (!account->Tab) {
            guarded([&] { mnuConectarCuentaClick(account->MenuItem); });
            continue;
        }
        TAccountTab* tab = account->Tab;
        if (tab->look() == TAccountTab::Look::IdleWithMail || tab->look() == TAccountTab::Look::IdleEmpty) {
            tab->setLook(TAccountTab::Look::Busy);
            tab->textPane()->clear();
            tab->checkAgain();
        }
    }
}

TCuenta* TfrmPrincipal::FindAccount(const QString& server, const QString& user, const QString& scrambledPassword,
                                    int port) {
    const QString s = MayusculasSinAcentos(server);
    const QString u = MayusculasSinAcentos(user);
    const QString p = MayusculasSinAcentos(scrambledPassword);
    for (TCuenta* a : std::as_const(Accounts)) {
        if (MayusculasSinAcentos(a->Servidor) == s && MayusculasSinAcentos(a->Usuario) == u &&
            MayusculasSinAcentos(a->Password) == p && a->Puerto == port)
            return a;
    }
    return nullptr;
}

void TfrmPrincipal::QuickConnect(const QString& server, const QString& user, const QString& scrambledPassword, int port,
                                 const AccountAccess& access) {
    m_logins->setQuickAccess(AccountKey(server, port, user), access);
    TCuenta* account = FindAccount(server, user, scrambledPassword, port);
    if (account && account->Tab) {
        Page95Control->setCurrentWidget(account->Tab->page());
        return;
    }
    TAccountTab* tab = CreateAccountTab(user);
    if (account) account->Tab = tab;
    startSession(tab, server, user, scrambledPassword, port);
}

void TfrmPrincipal::btnRefrescarClick() {
    TAccountTab* tab = ActiveTab();
    if (tab && tab->isDisconnected() && tab->look() == TAccountTab::Look::Disconnected) {
        connectAgain(tab); // without waiting for its countdown
        return;
    }
    if (!tab || !tab->isIdle()) return;
    tab->checkAgain();
    if (TabOfSheet(tab->page())) tab->silenceNextAnnouncement();
}

// ---------------------------------------------------------------------------------------------------
// Host-name failures that no session reported

void TfrmPrincipal::SweepSocketErrors() {
    const QList<TAccountTab*> tabs = Tabs;
    for (TAccountTab* tab : tabs) {
        if (!Tabs.contains(tab)) continue; // closed while a box of this sweep was open
        if (!tab->lookupStalled()) continue;
        --PendingSocketErrors;
        const QString server = tab->server();
        QPointer<TAccountTab> guard(tab);
        tab->endSession(u"Servidor no encontrado : "_qs + server);
        if (!guard) continue;
        tab->setLook(TAccountTab::Look::Disconnected);
        TabConnectionFailed(tab, u"Servidor no encontrado"_qs, u"No se encuentra el Servidor "_qs + server);
    }
    if (PendingSocketErrors > 0) TimerSocketExc.start();
}

void TfrmPrincipal::TimerSocketExcTimer() {
    TimerSocketExc.stop();
    SweepSocketErrors();
}

// ---------------------------------------------------------------------------------------------------
// What a tab tells

void TfrmPrincipal::TabConnectionFailed(TAccountTab* tab, const QString& caption, const QString& text) {
    // The box waits for nothing: the forced disconnection and the reconnection countdown go on
    // first, an unattended account reconnects all the same. One box an account at a time, and none
    // while the window is hidden in the notification area (the sound and the icon tell).
    if (tab->hostBoxShown() || (TrayFlag && !isVisible())) return;
    tab->setHostBoxShown(true);
    QTimer::singleShot(0, this, [this, guard = QPointer<TAccountTab>(tab), caption, text] {
        ShowMessage(QMessageBox::Critical, caption, text);
        // The tab may have been closed while the box was open.
        if (guard) guard->setHostBoxShown(false);
    });
}

void TfrmPrincipal::TabCompleted(TAccountTab* tab) {
    if (Config.FiltrarAlConectar) RunFilter(tab, false);
}
