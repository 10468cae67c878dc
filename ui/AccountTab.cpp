// One account's tab: building its page and session, and showing in it what the session does.
#include "AccountTab.h"

#include "AccountWidgets.h"
#include "StyledTextView.h"
#include "Unit1.h"
#include "UnitPOP3.h"
#include "UnitQuenmarEncode.h"
#include "UnitUtils.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

TAccountTab::TAccountTab(TfrmPrincipal* window, QSize client) : m_window(window) {
    buildPage(client);
    buildSession();
}

TAccountTab::~TAccountTab() {
    // Never destroyed under their own signals: deleted once control is back in the event loop.
    if (QPointer<TPop3> session = POP3) {
        session->disconnect(m_window);
        session->deleteLater();
    }
    const int index = m_tabs ? m_tabs->indexOf(Sheet) : -1;
    if (index >= 0) m_tabs->removeTab(index);
    Sheet->hide();
    Sheet->deleteLater();
}

void TAccountTab::buildPage(QSize client) {
    TfrmPrincipal* w = m_window;
    Sheet = new AccountPage;
    Sheet->resize(client);
    QObject::connect(Sheet, &AccountPage::resized, w, [w, page = Sheet] {
        if (page == w->Page95Control->currentWidget()) w->placeButtonBar();
    });
    StatusBar = new TStatusPanels(Sheet);
    StatusBar->setPanelWidth(PanelConnection, 100);
    Sheet->statusBar = StatusBar;

    ContentPanel = new QWidget(Sheet);
    Sheet->contentPanel = ContentPanel;
    Sheet->placeContent();
    auto* contentLayout = new QVBoxLayout(ContentPanel);
    contentLayout->setContentsMargins(0, 0, 0, 0);
    ListSplitter = new QSplitter(Qt::Vertical, ContentPanel);
    ListSplitter->setChildrenCollapsible(false);
    ListSplitter->setHandleWidth(4);
    contentLayout->addWidget(ListSplitter);

    ListView = new MessageList(ListSplitter);
    ListView->setMinimumHeight(0);
    ListView->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(ListView, &QTreeWidget::itemSelectionChanged, w, [w, list = ListView] { w->ListViewClick(list); });
    QObject::connect(ListView, &MessageList::resized, w, [w, list = ListView] { w->ListViewResize(list); });
    QObject::connect(ListView, &MessageList::rowsInserted, w, [w, list = ListView] { w->ListViewResize(list); });
    QObject::connect(ListView, &QWidget::customContextMenuRequested, w, [w, list = ListView](const QPoint& at) {
        w->PopupListViewPopup();
        w->PopupListView->exec(list->viewport()->mapToGlobal(at));
    });
    ListView->setHeaderLabels({u"Num"_qs, u"Bytes"_qs, u"FROM"_qs, u"FECHA"_qs, u"SUBJ"_qs});
    ListView->headerItem()->setTextAlignment(ColumnBytes, Qt::AlignRight | Qt::AlignVCenter);
    const int widths[] = {35, 65, 200, 120};
    for (int c = ColumnNumber; c < ColumnSubject; ++c)
        ListView->setColumnWidth(c, widths[c]);
    ListView->setColumnWidth(ColumnSubject, std::max(0, client.width() + 2 - (35 + 65 + 200 + 120) - 4));

    LowerPanel = new QWidget(ListSplitter);
    auto* lowerLayout = new QHBoxLayout(LowerPanel);
    lowerLayout->setContentsMargins(0, 0, 0, 0);
    DialogueSplitter = new QSplitter(Qt::Horizontal, LowerPanel);
    DialogueSplitter->setChildrenCollapsible(false);
    DialogueSplitter->setHandleWidth(4);
    lowerLayout->addWidget(DialogueSplitter);
    TextMemo = new QPlainTextEdit(DialogueSplitter);
    TextMemo->setReadOnly(true);
    TextMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    TextMemo->setMinimumWidth(0);
    DialoguePanel = new QFrame(DialogueSplitter);
    DialoguePanel->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    auto* dialogueLayout = new QVBoxLayout(DialoguePanel);
    dialogueLayout->setContentsMargins(1, 1, 1, 1);
    DialogueView = new StyledTextView(w->RVStyle, DialoguePanel);
    dialogueLayout->addWidget(DialogueView);
    ListSplitter->setStretchFactor(0, 1);
    ListSplitter->setStretchFactor(1, 0);
    DialogueSplitter->setStretchFactor(0, 1);
    DialogueSplitter->setStretchFactor(1, 0);

    // Lower part half the page high, dialogue 0.4 of the page wide.
    const int contentHeight = std::max(0, client.height() - 60);
    const int lowerHeight = client.height() / 2;
    ListSplitter->setSizes({std::max(0, contentHeight - lowerHeight - 4), lowerHeight});
    const int dialogueWidth = qRound(0.4 * client.width());
    DialogueSplitter->setSizes({std::max(0, client.width() + 2 - dialogueWidth - 4), dialogueWidth});
    SavedLowerHeight = lowerHeight;
    SavedDialogueWidth = dialogueWidth;
}

void TAccountTab::buildSession() {
    TfrmPrincipal* w = m_window;
    const WindowSeams& seams = w->seams();
    POP3 = new TPop3(w, seams.socketFactory(w), w);
    POP3->LineasTop = w->Config.iniTop;
    POP3->setClock(seams.clock);
    POP3->setReplyTimeout(seams.replyTimeoutMs);
    POP3->setImplicitTlsPort(seams.implicitTlsPort);
    POP3->setPipelining(w->Advanced.Pipelining);
    QObject::connect(POP3, &TPop3::OnCambioEstado, w, &TfrmPrincipal::POP3OnCambioEstado);
    QObject::connect(POP3, &TPop3::OnDesconexionForzada, w, &TfrmPrincipal::POP3OnDesconexionForzada);
    QObject::connect(POP3, &TPop3::OnHostNotFound, w, &TfrmPrincipal::POP3OnHostNotFound);
    QObject::connect(POP3, &TPop3::OnSendCommandToServer, w, &TfrmPrincipal::POP3OnSendCommandToServer);
    QObject::connect(POP3, &TPop3::OnTextFromServer, w, &TfrmPrincipal::POP3OnTextFromServer);
    QObject::connect(POP3, &TPop3::OnPrimerasLineasRecibidas, w, &TfrmPrincipal::POP3OnPrimerasLineasRecibidas);
    QObject::connect(POP3, &TPop3::OnMensajeBorrado, w, &TfrmPrincipal::POP3OnMensajeBorrado);
    QObject::connect(POP3, &TPop3::OnVaciarListaMensajes, w, &TfrmPrincipal::POP3OnVaciarListaMensajes);
    QObject::connect(POP3, &TPop3::OnConexionCompletada, w, &TfrmPrincipal::POP3OnConexionCompletada);
    QObject::connect(POP3, &TPop3::OnConexionCifrada, w, &TfrmPrincipal::POP3OnConexionCifrada);
    QObject::connect(POP3, &TPop3::OnAviso, w, &TfrmPrincipal::POP3OnAviso);
}

void TAccountTab::addTo(QTabWidget* tabs, const QString& caption) {
    m_tabs = tabs;
    const int index = tabs->addTab(Sheet, m_window->m_lamps[int(Look::Disconnected)], caption);
    tabs->tabBar()->setTabData(index, int(Look::Disconnected));
}

// ---------------------------------------------------------------------------------------------------
// Look, sound, status and log

void TAccountTab::setLook(Look look) {
    // The header pass sets the busy look once a message. QTabWidget::setTabIcon lays the tab
    // widget out again and repaints all of it, every page included: nothing to do when the lamp
    // (and with it the cursor and the animation) is already the one asked for.
    if (look == m_look) return;
    m_look = look;
    const int image = int(look);
    const int index = m_tabs ? m_tabs->indexOf(Sheet) : -1;
    if (index >= 0) {
        m_tabs->setTabIcon(index, m_window->m_lamps[image]);
        m_tabs->tabBar()->setTabData(index, image); // what the tab bar shows, for those who look at it
    }
    if (look == Look::Busy)
        ListView->viewport()->setCursor(Qt::BusyCursor);
    else
        ListView->viewport()->unsetCursor();
    m_window->SetBusyAnimation(Sheet, look == Look::Busy);
}

void TAccountTab::announce(const QString& sound) {
    if (Announce) {
        ReproducirSonido(sound);
        if (m_window->TrayFlag) m_window->TimerTray.start();
    }
    Announce = true;
}

void TAccountTab::setStatus(const QString& connection, const QString& activity) {
    StatusBar->setPanelText(PanelConnection, connection);
    StatusBar->setPanelText(PanelActivity, activity);
}

void TAccountTab::appendDialogue(const QString& text, int style) {
    StyledTextView* view = DialogueView;
    const int position = view->VScrollPos();
    const bool atEnd = position == view->VScrollMax();
    view->AddLines(text, style);
    view->Format();
    view->ScrollTo(atEnd ? view->VScrollMax() : position);
}

QString TAccountTab::summaryText() const {
    const QString head = u"Conectado al servidor "_qs + POP3->Servidor() + u"  ("_qs;
    if (POP3->NumMensajes() == 0) return head + u"No tiene mensajes)"_qs;
    return head + TfrmPrincipal::FormatThousands(POP3->BytesTotales()) + u" Bytes en "_qs +
           QString::number(POP3->NumMensajes()) + u" mensajes)"_qs;
}

// ---------------------------------------------------------------------------------------------------
// View modes

int TAccountTab::lowerHeight() const {
    return LowerPanel->isHidden() ? 0 : ListSplitter->sizes().value(1);
}

int TAccountTab::dialogueWidth() const {
    return DialoguePanel->isHidden() ? 0 : DialogueSplitter->sizes().value(1);
}

void TAccountTab::showLower() {
    if (!LowerPanel->isHidden()) return;
    LowerPanel->show();
    const int total = ListSplitter->height();
    ListSplitter->setSizes({std::max(0, total - SavedLowerHeight - 4), SavedLowerHeight});
}

void TAccountTab::showListOnly() {
    if (lowerHeight() > 0) SavedLowerHeight = lowerHeight();
    LowerPanel->hide();
}

void TAccountTab::showListAndText() {
    if (dialogueWidth() > 0) SavedDialogueWidth = dialogueWidth();
    DialoguePanel->hide();
    showLower();
}

void TAccountTab::showListTextAndDialogue() {
    if (DialoguePanel->isHidden()) {
        DialoguePanel->show();
        const int total = DialogueSplitter->width();
        DialogueSplitter->setSizes({std::max(0, total - SavedDialogueWidth - 4), SavedDialogueWidth});
    }
    showLower();
}

void TAccountTab::showSelectedMessage() {
    const QList<QTreeWidgetItem*> selected = ListView->selectedRowsInOrder();
    if (selected.isEmpty()) return;
    const int n = selected.first()->text(ColumnNumber).toInt();
    TextMemo->clear();
    TextMemo->setPlainText(POP3->MensajePorNumero(n).PrimerasLineas);
    ShownMessage = n;
}

// ---------------------------------------------------------------------------------------------------
// The reconnection countdown

void TAccountTab::startCountdown(double at, qint64 secondsLeft) {
    ReconnectAt = at;
    StatusBar->setPanelCount(PanelCountdown + 1);
    showCountdown(secondsLeft);
    fitCountdownPanel();
}

void TAccountTab::fitCountdownPanel() {
    if (StatusBar->panelCount() != PanelCountdown + 1) return;
    const int textWidth = StatusBar->fontMetrics().horizontalAdvance(u"Reconexión en 0:00:000"_qs);
    StatusBar->setPanelWidth(PanelActivity,
                             StatusBar->width() - StatusBar->panelWidth(PanelConnection) - textWidth - 4);
}

void TAccountTab::showCountdown(qint64 secondsLeft) {
    StatusBar->setPanelText(PanelCountdown, u"Reconexión en "_qs + TfrmPrincipal::FormatCountdown(secondsLeft));
}

void TAccountTab::endCountdown() {
    ReconnectAt = 0;
    StatusBar->setPanelCount(PanelCountdown);
}

// ---------------------------------------------------------------------------------------------------
// Session events

void TAccountTab::sessionStateChanged(int estado, const QString& texto) {
    const double now = m_window->seams().clock();
    const TConfig& config = m_window->Config;
    switch (estado) {
    case TPop3::Desconectado:
        StatusBar->setPanelText(PanelActivity, texto);
        if (texto != u"Desconectado") announce(config.wavFalloDuranteConexion);
        break;
    case TPop3::EsperandoSaludo:
        m_serverLineLength = m_serverLineDropped = 0; // a new connection starts a new line
        setStatus(u"Conectando..."_qs, u"Estableciendo conexión con "_qs + POP3->Servidor());
        ListView->clearRows();
        TextMemo->clear();
        setLook(Look::Busy);
        break;
    case TPop3::EnviadoUser:
    case TPop3::EnviadoPass:
    case TPop3::ConsultandoCapacidades:
    case TPop3::IniciandoConexionSegura:
        setStatus(u"Conectando..."_qs, texto);
        LastActivity = now;
        setLook(Look::Busy);
        break;
    case TPop3::Listando:
        setStatus(u"Conectado"_qs, texto);
        LastActivity = now;
        setLook(Look::Busy);
        break;
    case TPop3::LeyendoCabeceras:
        setStatus(u"Conectado"_qs, texto);
        if (ListView->rowCount() == 0) fillMessageList();
        updateHeaderProgress(POP3->MensajeActual());
        LastActivity = now;
        setLook(Look::Busy);
        break;
    case TPop3::Conectado: {
        setStatus(u"Conectado"_qs, summaryText());
        const bool mail = POP3->NumMensajes() > 0;
        LastActivity = now;
        setLook(mail ? Look::IdleWithMail : Look::IdleEmpty);
        announce(mail ? config.wavSiTieneMensajes : config.wavNoTieneMensajes);
        break;
    }
    case TPop3::Restaurando:
        appendDialogue(u" "_qs, m_window->CommentStyle);
        appendDialogue(u"// Restaurando mensajes eliminados..."_qs, m_window->CommentStyle);
        setStatus(u"Conectado"_qs, texto);
        setLook(Look::Busy);
        break;
    case TPop3::Borrando:
    case TPop3::LeyendoPrimerasLineas:
        setStatus(u"Conectado"_qs, texto);
        setLook(Look::Busy);
        break;
    case TPop3::Comprobando:
        setStatus(u"Conectado"_qs, texto);
        setLook(Look::Busy);
        Announce = false;
        break;
    default:
        break;
    }
}

void TAccountTab::sessionDisconnectedByForce(const QString& motivo) {
    const int style = m_window->CommentStyle;
    setStatus(u"Desconectado"_qs, motivo);
    setLook(Look::Disconnected);
    appendDialogue(u" "_qs, style);
    appendDialogue(u"// Finalizando conexión con "_qs + POP3->Servidor(), style);
    if (!motivo.isEmpty()) appendDialogue(u"// "_qs + motivo, style);
    appendDialogue(u" "_qs, style);
    announce(m_window->Config.wavFalloDuranteConexion);
}

void TAccountTab::commandSent(const QString& comando) {
    const int style = m_window->CommandStyle;
    appendDialogue(u" "_qs, style);
    // The password never reaches the log.
    if (MayusculasSinAcentos(comando.left(5)) == u"PASS ")
        appendDialogue(u"> PASS (\u00B7\u00B7\u00B7)"_qs, style);
    else
        appendDialogue(u"> "_qs + comando, style);
    appendDialogue(u" "_qs, style);
}

void TAccountTab::encrypted(const QString& protocol, const QString& cipher) {
    appendDialogue(u"// Conexión cifrada ("_qs + protocol + u", "_qs + cipher + u')', m_window->CommentStyle);
}

void TAccountTab::notice(const QString& texto) {
    appendDialogue(u"// "_qs + texto, m_window->CommentStyle);
}

void TAccountTab::textFromServer(const QString& texto) {
    const int serverStyle = m_window->ServerStyle;
    // A line of many megabytes (a header line, say) shows its start, and the log says how much of
    // it was left out: kept whole, each such message would grow the log by its size. Only the part
    // of a read that continues the line before it can be that long.
    const qsizetype firstEnd = texto.indexOf(u'\n');
    const qsizetype head = firstEnd < 0 ? texto.size() : firstEnd + 1;
    if (m_serverLineLength + head <= kLogLineCap) {
        appendDialogue(texto, serverStyle);
        const qsizetype lastEnd = texto.lastIndexOf(u'\n');
        m_serverLineLength = lastEnd < 0 ? m_serverLineLength + texto.size() : texto.size() - lastEnd - 1;
        return;
    }
    const qsizetype room = std::max<qsizetype>(0, kLogLineCap - m_serverLineLength);
    if (room > 0) appendDialogue(texto.left(room), serverStyle);
    const qsizetype content = firstEnd < 0                                   ? head
                              : firstEnd > 0 && texto[firstEnd - 1] == u'\r' ? firstEnd - 1
                                                                             : firstEnd;
    m_serverLineDropped += std::max<qsizetype>(0, content - room);
    m_serverLineLength += head;
    if (firstEnd < 0) return;
    appendDialogue(u"// ("_qs + TfrmPrincipal::FormatThousands(m_serverLineDropped) +
                       u" caracteres más de esta línea no se muestran)"_qs,
                   m_window->CommentStyle);
    m_serverLineDropped = 0;
    const QString rest = texto.mid(head);
    if (!rest.isEmpty()) appendDialogue(rest, serverStyle);
    const qsizetype lastEnd = rest.lastIndexOf(u'\n');
    m_serverLineLength = lastEnd < 0 ? rest.size() : rest.size() - lastEnd - 1;
}

void TAccountTab::firstLinesReceived(int num) {
    QTreeWidgetItem* row = ListView->rowByCaption(QString::number(num));
    if (row && row->isSelected()) m_window->ListViewClick(ListView);
}

void TAccountTab::messageDeleted(int num) {
    QTreeWidgetItem* row = ListView->rowByCaption(QString::number(num));
    if (!row) return;
    if (num == ShownMessage) {
        ShownMessage = 0;
        TextMemo->clear();
    }
    ListView->deleteRow(row);
}

void TAccountTab::messageListEmptied() {
    ListView->clearRows();
    TextMemo->clear();
    Announce = true;
}

void TAccountTab::connectionCompleted() {
    const int style = m_window->CommentStyle;
    fillHeaderColumns();
    appendDialogue(u" "_qs, style);
    appendDialogue(u"// Conectado al servidor "_qs + POP3->Servidor(), style);
    if (POP3->NumMensajes() == 0) appendDialogue(u"// No tiene mensajes"_qs, style);
}

// ---------------------------------------------------------------------------------------------------
// Rows

void TAccountTab::fillMessageList() {
    if (ListView->rowCount() > 0) return;
    QList<QTreeWidgetItem*> rows;
    rows.reserve(POP3->NumMensajes());
    for (int i = 0; i < POP3->NumMensajes(); ++i) {
        const TMensaje m = POP3->MensajePorIndice(i);
        auto* row = new QTreeWidgetItem({QString::number(m.Num), TfrmPrincipal::FormatThousands(m.Bytes)});
        row->setTextAlignment(ColumnBytes, Qt::AlignRight | Qt::AlignVCenter);
        rows.append(row);
    }
    ListView->appendRows(rows);
}

void TAccountTab::updateHeaderProgress(int k) {
    // k's header is asked for next; the one of the row before it is complete.
    QTreeWidgetItem* row = ListView->rowByCaption(QString::number(k));
    if (!row) return;
    QTreeWidgetItem* before = ListView->rowBefore(row);
    if (!before) return;
    const int number = before->text(ColumnNumber).toInt();
    const TMensaje m = POP3->MensajePorNumero(number);
    if (m.Num != number) return; // no longer on the server's list
    const QString& f = m.Cabecera.Fecha;
    const QString date = f.size() <= 11 ? QString() : f.mid(5, f.size() - 11);
    ListView->setRowTexts(before, ColumnFrom, {m.Cabecera.From, date, m.Cabecera.Subj});
}

void TAccountTab::fillHeaderColumns() {
    const int n = std::min(ListView->rowCount(), POP3->NumMensajes());
    for (int r = 0; r < n; ++r) {
        QTreeWidgetItem* row = ListView->row(r);
        const int number = row->text(ColumnNumber).toInt();
        const TMensaje m = POP3->MensajePorNumero(number);
        if (m.Num != number) continue;
        ListView->setRowTexts(row, ColumnFrom,
                              {m.Cabecera.From, TfrmPrincipal::ShortDate(m.Cabecera.Fecha), m.Cabecera.Subj});
    }
}
