// Connecting accounts and passing on what their sessions do: the connect commands, the sweep of
// unreported host-name failures, and the handlers of the session events, which hand each event to
// its tab.
#include "AccountLogins.h"
#include "AccountWidgets.h"
#include "MainWindow.h"
#include "PasswordScrambling.h"
#include "Pop3Session.h"
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
        Page95Control->setCurrentWidget(account->Tab->Sheet);
        return;
    }
    connectAccount(account);
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
    tab->POP3->setAccessTokenSource(oauth ? m_logins->tokenSource(key, user) : TPop3::AccessTokenSource());
    if (oauth || !access.passwordInKeyring) {
        tab->POP3->Conectar(server, port, user, DecodePassword(scrambledPassword));
        return;
    }
    m_logins->secrets()->read(
        PasswordKey(key), tab->POP3, [this, session = tab->POP3, server, port, user](const SecretResult& result) {
            TAccountTab* shown = TabOfSession(session); // the tab may have been closed meanwhile
            if (!shown) return;
            if (result.status == SecretResult::Done) {
                session->Conectar(server, port, user, result.secret);
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
            tab->TextMemo->clear();
            tab->POP3->ComprobarDeNuevo();
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
        Page95Control->setCurrentWidget(account->Tab->Sheet);
        return;
    }
    TAccountTab* tab = CreateAccountTab(user);
    if (account) account->Tab = tab;
    startSession(tab, server, user, scrambledPassword, port);
}

void TfrmPrincipal::btnRefrescarClick() {
    TAccountTab* tab = ActiveTab();
    if (!tab || tab->POP3->Estado() != TPop3::Conectado) return;
    tab->POP3->ComprobarDeNuevo();
    if (TabOfSheet(tab->Sheet)) tab->Announce = false;
}

// ---------------------------------------------------------------------------------------------------
// Host-name failures that no session reported

void TfrmPrincipal::SweepSocketErrors() {
    const QList<TAccountTab*> tabs = Tabs;
    for (TAccountTab* tab : tabs) {
        if (!Tabs.contains(tab)) continue; // closed while a box of this sweep was open
        TPop3* session = tab->POP3;
        // Whole milliseconds, so that the clock's rounding never decides.
        if (session->Activo() || session->Estado() != TPop3::EsperandoSaludo ||
            std::llround(session->TiempoDesdeConexion() * 86400000.0) <= 30000)
            continue;
        --PendingSocketErrors;
        const QString server = session->Servidor();
        QPointer<TPop3> guard(session);
        session->Desconectar(u"Servidor no encontrado : "_qs + server);
        if (guard) POP3OnHostNotFound(session, server);
    }
    if (PendingSocketErrors > 0) TimerSocketExc.start();
}

void TfrmPrincipal::TimerSocketExcTimer() {
    TimerSocketExc.stop();
    SweepSocketErrors();
}

// ---------------------------------------------------------------------------------------------------
// Session events

// Each handler finds the tab of the session (a closed tab's session may still report) and hands
// the event to it.

void TfrmPrincipal::POP3OnCambioEstado(TPop3* session, int estado, const QString& texto) {
    TAccountTab* tab = TabOfSession(session);
    if (!tab) return;
    // A delete batch is over: the copies that failed in it are told in one box.
    if (estado != TPop3::Borrando && !tab->CopiasFallidas.isEmpty()) reportFailedCopies(tab);
    tab->sessionStateChanged(estado, texto);
}

void TfrmPrincipal::POP3OnDesconexionForzada(TPop3* session, const QString& motivo) {
    if (TAccountTab* tab = TabOfSession(session)) tab->sessionDisconnectedByForce(motivo);
}

void TfrmPrincipal::POP3OnHostNotFound(TPop3* session, const QString& servidor) {
    TAccountTab* tab = TabOfSession(session);
    if (!tab) return;
    tab->setLook(TAccountTab::Look::Disconnected);
    // The box waits for nothing: the forced disconnection and the reconnection countdown go on
    // first, an unattended account reconnects all the same. One box an account at a time, and none
    // while the window is hidden in the notification area (the sound and the icon tell).
    if (tab->HostBoxShown || (TrayFlag && !isVisible())) return;
    tab->HostBoxShown = true;
    QTimer::singleShot(0, this, [this, guard = QPointer<TPop3>(session), servidor] {
        ShowMessage(QMessageBox::Critical, u"Servidor no encontrado"_qs, u"No se encuentra el Servidor "_qs + servidor);
        // The tab may have been closed while the box was open.
        if (TAccountTab* shownFor = guard ? TabOfSession(guard) : nullptr) shownFor->HostBoxShown = false;
    });
}

void TfrmPrincipal::POP3OnSendCommandToServer(TPop3* session, const QString& comando) {
    if (TAccountTab* tab = TabOfSession(session)) tab->commandSent(comando);
}

void TfrmPrincipal::POP3OnConexionCifrada(TPop3* session, const QString& protocol, const QString& cipher) {
    if (TAccountTab* tab = TabOfSession(session)) tab->encrypted(protocol, cipher);
}

void TfrmPrincipal::POP3OnAviso(TPop3* session, const QString& texto) {
    if (TAccountTab* tab = TabOfSession(session)) tab->notice(texto);
}

void TfrmPrincipal::POP3OnTextFromServer(TPop3* session, const QByteArray& bytes) {
    if (TAccountTab* tab = TabOfSession(session)) tab->textFromServer(bytes);
}

void TfrmPrincipal::POP3OnPrimerasLineasRecibidas(TPop3* session, int num) {
    if (TAccountTab* tab = TabOfSession(session)) tab->firstLinesReceived(num);
}

void TfrmPrincipal::POP3OnMensajeBorrado(TPop3* session, int num) {
    if (TAccountTab* tab = TabOfSession(session)) tab->messageDeleted(num);
}

void TfrmPrincipal::POP3OnCopiaFallida(TPop3* session, int num, const QString&) {
    if (TAccountTab* tab = TabOfSession(session)) tab->CopiasFallidas << num;
}

void TfrmPrincipal::POP3OnVaciarListaMensajes(TPop3* session) {
    if (TAccountTab* tab = TabOfSession(session)) tab->messageListEmptied();
}

void TfrmPrincipal::POP3OnConexionCompletada(TPop3* session) {
    TAccountTab* tab = TabOfSession(session);
    if (!tab) return;
    tab->connectionCompleted();
    if (Config.FiltrarAlConectar) RunFilter(tab, false);
}

void TfrmPrincipal::ListViewClick(MessageList* list) {
    if (TAccountTab* tab = TabOfList(list)) tab->showSelectedMessage();
}

// ---------------------------------------------------------------------------------------------------
// Text helpers

QString TfrmPrincipal::ShortDate(const QString& fecha) {
    const QString rest = fecha.mid(5);
    const qsizetype first = rest.indexOf(u':');
    const qsizetype second = first < 0 ? -1 : rest.indexOf(u':', first + 1);
    if (second < 0) return rest;
    qsizetype end = second + 1;
    while (end < rest.size() && rest[end].isDigit() && rest[end].unicode() < 128)
        ++end;
    return rest.left(end);
}
