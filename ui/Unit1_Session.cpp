// Connecting accounts and showing what their sessions do: the connect commands, the handlers of the
// session events, the rows, the dialogue log, the looks and sounds of a tab.
#include "AccountWidgets.h"
#include "StyledTextView.h"
#include "Unit1.h"
#include "UnitPOP3.h"
#include "UnitQuenmarEncode.h"
#include "UnitUtils.h"

#include <QCursor>
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
    setLook(tab, Look::Busy);
    tab->StatusBar->setPanelText(0, u"Conectando..."_qs);
    tab->StatusBar->setPanelText(1, u"Estableciendo conexión con "_qs + server);
    tab->POP3->Conectar(server, port, user, DecodePassword(scrambledPassword));
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
        const int image = Page95Control->tabBar()->tabData(Page95Control->indexOf(tab->Sheet)).toInt();
        if (image > 1) {
            setLook(tab, Look::Busy);
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

void TfrmPrincipal::QuickConnect(const QString& server, const QString& user, const QString& scrambledPassword,
                                 int port) {
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
// Looks and sounds

void TfrmPrincipal::setLook(TAccountTab* tab, Look look) {
    const int image = look == Look::Busy ? 1 : look == Look::IdleWithMail ? 2 : look == Look::IdleEmpty ? 3 : 0;
    const int index = Page95Control->indexOf(tab->Sheet);
    // The header pass sets the busy look once a message. QTabWidget::setTabIcon lays the tab
    // widget out again and repaints all of it, every page included: nothing to do when the lamp
    // (and with it the cursor and the animation) is already the one asked for.
    if (index >= 0 && Page95Control->tabBar()->tabData(index) == QVariant(image)) return;
    if (index >= 0) {
        Page95Control->setTabIcon(index, m_lamps[image]);
        Page95Control->tabBar()->setTabData(index, image);
    }
    if (look == Look::Busy)
        tab->ListView->viewport()->setCursor(Qt::BusyCursor);
    else
        tab->ListView->viewport()->unsetCursor();
    SetBusyAnimation(tab->Sheet, look == Look::Busy);
}

void TfrmPrincipal::announce(TAccountTab* tab, const QString& sound) {
    if (tab->Announce) {
        ReproducirSonido(sound);
        if (TrayFlag) TimerTray.start();
    }
    tab->Announce = true;
}

QString TfrmPrincipal::summaryText(TPop3* session) const {
    const QString head = u"Conectado al servidor "_qs + session->Servidor() + u"  ("_qs;
    if (session->NumMensajes() == 0) return head + u"No tiene mensajes)"_qs;
    return head + FormatThousands(session->BytesTotales()) + u" Bytes en "_qs +
           QString::number(session->NumMensajes()) + u" mensajes)"_qs;
}

// ---------------------------------------------------------------------------------------------------
// Session events

void TfrmPrincipal::POP3OnCambioEstado(TPop3* session, int estado, const QString& texto) {
    TAccountTab* tab = TabOfSession(session);
    if (!tab) return;
    TStatusPanels* bar = tab->StatusBar;
    const double now = m_seams.clock();
    switch (estado) {
    case TPop3::Desconectado:
        bar->setPanelText(1, texto);
        if (texto != u"Desconectado") announce(tab, Config.wavFalloDuranteConexion);
        break;
    case TPop3::EsperandoSaludo:
        tab->ServerLineLength = tab->ServerLineDropped = 0; // a new connection starts a new line
        bar->setPanelText(0, u"Conectando..."_qs);
        bar->setPanelText(1, u"Estableciendo conexión con "_qs + session->Servidor());
        tab->ListView->clearRows();
        tab->TextMemo->clear();
        setLook(tab, Look::Busy);
        break;
    case TPop3::EnviadoUser:
    case TPop3::EnviadoPass:
    case TPop3::ConsultandoCapacidades:
    case TPop3::IniciandoConexionSegura:
        bar->setPanelText(0, u"Conectando..."_qs);
        bar->setPanelText(1, texto);
        tab->LastActivity = now;
        setLook(tab, Look::Busy);
        break;
    case TPop3::Listando:
        bar->setPanelText(0, u"Conectado"_qs);
        bar->setPanelText(1, texto);
        tab->LastActivity = now;
        setLook(tab, Look::Busy);
        break;
    case TPop3::LeyendoCabeceras:
        bar->setPanelText(0, u"Conectado"_qs);
        bar->setPanelText(1, texto);
        if (tab->ListView->rowCount() == 0) FillMessageList(tab);
        UpdateHeaderProgress(tab, session->MensajeActual());
        tab->LastActivity = now;
        setLook(tab, Look::Busy);
        break;
    case TPop3::Conectado: {
        bar->setPanelText(0, u"Conectado"_qs);
        bar->setPanelText(1, summaryText(session));
        const bool mail = session->NumMensajes() > 0;
        tab->LastActivity = now;
        setLook(tab, mail ? Look::IdleWithMail : Look::IdleEmpty);
        announce(tab, mail ? Config.wavSiTieneMensajes : Config.wavNoTieneMensajes);
        break;
    }
    case TPop3::Restaurando:
        AppendDialogue(tab, u" "_qs, CommentStyle);
        AppendDialogue(tab, u"// Restaurando mensajes eliminados..."_qs, CommentStyle);
        bar->setPanelText(0, u"Conectado"_qs);
        bar->setPanelText(1, texto);
        setLook(tab, Look::Busy);
        break;
    case TPop3::Borrando:
    case TPop3::LeyendoPrimerasLineas:
        bar->setPanelText(0, u"Conectado"_qs);
        bar->setPanelText(1, texto);
        setLook(tab, Look::Busy);
        break;
    case TPop3::Comprobando:
        bar->setPanelText(0, u"Conectado"_qs);
        bar->setPanelText(1, texto);
        setLook(tab, Look::Busy);
        tab->Announce = false;
        break;
    default:
        break;
    }
}

void TfrmPrincipal::POP3OnDesconexionForzada(TPop3* session, const QString& motivo) {
    TAccountTab* tab = TabOfSession(session);
    if (!tab) return;
    tab->StatusBar->setPanelText(0, u"Desconectado"_qs);
    tab->StatusBar->setPanelText(1, motivo);
    setLook(tab, Look::Disconnected);
    AppendDialogue(tab, u" "_qs, CommentStyle);
    AppendDialogue(tab, u"// Finalizando conexión con "_qs + session->Servidor(), CommentStyle);
    if (!motivo.isEmpty()) AppendDialogue(tab, u"// "_qs + motivo, CommentStyle);
    AppendDialogue(tab, u" "_qs, CommentStyle);
    announce(tab, Config.wavFalloDuranteConexion);
}

void TfrmPrincipal::POP3OnHostNotFound(TPop3* session, const QString& servidor) {
    TAccountTab* tab = TabOfSession(session);
    if (!tab) return;
    setLook(tab, Look::Disconnected);
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
    TAccountTab* tab = TabOfSession(session);
    if (!tab) return;
    AppendDialogue(tab, u" "_qs, CommandStyle);
    // The password never reaches the log.
    if (MayusculasSinAcentos(comando.left(5)) == u"PASS ")
        AppendDialogue(tab, u"> PASS (\u00B7\u00B7\u00B7)"_qs, CommandStyle);
    else
        AppendDialogue(tab, u"> "_qs + comando, CommandStyle);
    AppendDialogue(tab, u" "_qs, CommandStyle);
}

void TfrmPrincipal::POP3OnConexionCifrada(TPop3* session, const QString& protocol, const QString& cipher) {
    if (TAccountTab* tab = TabOfSession(session))
        AppendDialogue(tab, u"// Conexión cifrada ("_qs + protocol + u", "_qs + cipher + u')', CommentStyle);
}

void TfrmPrincipal::POP3OnAviso(TPop3* session, const QString& texto) {
    if (TAccountTab* tab = TabOfSession(session)) AppendDialogue(tab, u"// "_qs + texto, CommentStyle);
}

void TfrmPrincipal::POP3OnTextFromServer(TPop3* session, const QString& texto) {
    TAccountTab* tab = TabOfSession(session);
    if (!tab) return;
    // A line of many megabytes (a header line, say) shows its start, and the log says how much of
    // it was left out: kept whole, each such message would grow the log by its size. Only the part
    // of a read that continues the line before it can be that long.
    const qsizetype firstEnd = texto.indexOf(u'\n');
    const qsizetype head = firstEnd < 0 ? texto.size() : firstEnd + 1;
    if (tab->ServerLineLength + head <= kLogLineCap) {
        AppendDialogue(tab, texto, ServerStyle);
        const qsizetype lastEnd = texto.lastIndexOf(u'\n');
        tab->ServerLineLength = lastEnd < 0 ? tab->ServerLineLength + texto.size() : texto.size() - lastEnd - 1;
        return;
    }
    const qsizetype room = std::max<qsizetype>(0, kLogLineCap - tab->ServerLineLength);
    if (room > 0) AppendDialogue(tab, texto.left(room), ServerStyle);
    const qsizetype content = firstEnd < 0                                   ? head
                              : firstEnd > 0 && texto[firstEnd - 1] == u'\r' ? firstEnd - 1
                                                                             : firstEnd;
    tab->ServerLineDropped += std::max<qsizetype>(0, content - room);
    tab->ServerLineLength += head;
    if (firstEnd < 0) return;
    AppendDialogue(
        tab, u"// ("_qs + FormatThousands(tab->ServerLineDropped) + u" caracteres más de esta línea no se muestran)"_qs,
        CommentStyle);
    tab->ServerLineDropped = 0;
    const QString rest = texto.mid(head);
    if (!rest.isEmpty()) AppendDialogue(tab, rest, ServerStyle);
    const qsizetype lastEnd = rest.lastIndexOf(u'\n');
    tab->ServerLineLength = lastEnd < 0 ? rest.size() : rest.size() - lastEnd - 1;
}

void TfrmPrincipal::POP3OnPrimerasLineasRecibidas(TPop3* session, int num) {
    TAccountTab* tab = TabOfSession(session);
    if (!tab) return;
    QTreeWidgetItem* row = tab->ListView->rowByCaption(QString::number(num));
    if (row && row->isSelected()) ListViewClick(tab->ListView);
}

void TfrmPrincipal::POP3OnMensajeBorrado(TPop3* session, int num) {
    TAccountTab* tab = TabOfSession(session);
    if (!tab) return;
    QTreeWidgetItem* row = tab->ListView->rowByCaption(QString::number(num));
    if (!row) return;
    if (num == tab->ShownMessage) {
        tab->ShownMessage = 0;
        tab->TextMemo->clear();
    }
    tab->ListView->deleteRow(row);
}

void TfrmPrincipal::POP3OnVaciarListaMensajes(TPop3* session) {
    TAccountTab* tab = TabOfSession(session);
    if (!tab) return;
    tab->ListView->clearRows();
    tab->TextMemo->clear();
    tab->Announce = true;
}

void TfrmPrincipal::POP3OnConexionCompletada(TPop3* session) {
    TAccountTab* tab = TabOfSession(session);
    if (!tab) return;
    FillHeaderColumns(tab);
    AppendDialogue(tab, u" "_qs, CommentStyle);
    AppendDialogue(tab, u"// Conectado al servidor "_qs + session->Servidor(), CommentStyle);
    if (session->NumMensajes() == 0) AppendDialogue(tab, u"// No tiene mensajes"_qs, CommentStyle);
    if (Config.FiltrarAlConectar) RunFilter(tab, false);
}

void TfrmPrincipal::ListViewClick(MessageList* list) {
    TAccountTab* tab = TabOfList(list);
    if (!tab) return;
    const QList<QTreeWidgetItem*> selected = list->selectedRowsInOrder();
    if (selected.isEmpty()) return;
    const int n = selected.first()->text(0).toInt();
    tab->TextMemo->clear();
    tab->TextMemo->setPlainText(tab->POP3->MensajePorNumero(n).PrimerasLineas);
    tab->ShownMessage = n;
}

// ---------------------------------------------------------------------------------------------------
// Rows

void TfrmPrincipal::FillMessageList(TAccountTab* tab) {
    if (tab->ListView->rowCount() > 0) return;
    TPop3* s = tab->POP3;
    QList<QTreeWidgetItem*> rows;
    rows.reserve(s->NumMensajes());
    for (int i = 0; i < s->NumMensajes(); ++i) {
        const TMensaje m = s->MensajePorIndice(i);
        auto* row = new QTreeWidgetItem({QString::number(m.Num), FormatThousands(m.Bytes)});
        row->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        rows.append(row);
    }
    tab->ListView->appendRows(rows);
}

void TfrmPrincipal::UpdateHeaderProgress(TAccountTab* tab, int k) {
    // k's header is asked for next; the one of the row before it is complete.
    QTreeWidgetItem* row = tab->ListView->rowByCaption(QString::number(k));
    if (!row) return;
    QTreeWidgetItem* before = tab->ListView->rowBefore(row);
    if (!before) return;
    const int number = before->text(0).toInt();
    const TMensaje m = tab->POP3->MensajePorNumero(number);
    if (m.Num != number) return; // no longer on the server's list
    const QString& f = m.Cabecera.Fecha;
    const QString date = f.size() <= 11 ? QString() : f.mid(5, f.size() - 11);
    tab->ListView->setRowTexts(before, 2, {m.Cabecera.From, date, m.Cabecera.Subj});
}

void TfrmPrincipal::SetRowHeader(MessageList* list, int number, const QString& subject, const QString& date,
                                 const QString& sender) {
    if (QTreeWidgetItem* row = list->rowByCaption(QString::number(number)))
        list->setRowTexts(row, 2, {sender, date, subject});
}

void TfrmPrincipal::FillHeaderColumns(TAccountTab* tab) {
    MessageList* list = tab->ListView;
    const int n = std::min(list->rowCount(), tab->POP3->NumMensajes());
    for (int r = 0; r < n; ++r) {
        QTreeWidgetItem* row = list->row(r);
        const int number = row->text(0).toInt();
        const TMensaje m = tab->POP3->MensajePorNumero(number);
        if (m.Num != number) continue;
        list->setRowTexts(row, 2, {m.Cabecera.From, ShortDate(m.Cabecera.Fecha), m.Cabecera.Subj});
    }
}

// ---------------------------------------------------------------------------------------------------
// The dialogue log and text helpers

void TfrmPrincipal::AppendDialogue(TAccountTab* tab, const QString& text, int style) {
    StyledTextView* view = tab->DialogueView;
    const int position = view->VScrollPos();
    const bool atEnd = position == view->VScrollMax();
    view->AddLines(text, style);
    view->Format();
    view->ScrollTo(atEnd ? view->VScrollMax() : position);
}

QString TfrmPrincipal::FormatThousands(qint64 n) {
    if (n == 0) return u"0"_qs;
    QString digits = QString::number(n < 0 ? -n : n);
    for (qsizetype i = digits.size() - 3; i > 0; i -= 3)
        digits.insert(i, u'.');
    return n < 0 ? u'-' + digits : digits;
}

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
