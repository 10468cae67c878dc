// The tabs of the main window: building and closing them, finding them, the view modes and the
// busy animation.
#include "AccountWidgets.h"
#include "StyledTextView.h"
#include "Unit1.h"
#include "UnitPOP3.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTabWidget>
#include <QVBoxLayout>

TAccountTab* TfrmPrincipal::CreateAccountTab(const QString& userName) {
    PanelBotonera->show();
    auto* tab = new TAccountTab;
    // The page gets its size from the tab control once it is added; build it at that size.
    const QSize client = Page95Control->count() > 0 ? Page95Control->currentWidget()->size()
                                                    : Page95Control->contentsRect().size() - QSize(4, 30);
    tab->Sheet = new AccountPage;
    tab->Sheet->resize(client);
    connect(tab->Sheet, &AccountPage::resized, this, [this, page = tab->Sheet] {
        if (page == Page95Control->currentWidget()) placeButtonBar();
    });
    tab->StatusBar = new TStatusPanels(tab->Sheet);
    tab->StatusBar->setPanelWidth(0, 100);
    tab->Sheet->statusBar = tab->StatusBar;

    tab->ContentPanel = new QWidget(tab->Sheet);
    tab->Sheet->contentPanel = tab->ContentPanel;
    tab->Sheet->placeContent();
    auto* contentLayout = new QVBoxLayout(tab->ContentPanel);
    contentLayout->setContentsMargins(0, 0, 0, 0);
    tab->ListSplitter = new QSplitter(Qt::Vertical, tab->ContentPanel);
    tab->ListSplitter->setChildrenCollapsible(false);
    tab->ListSplitter->setHandleWidth(4);
    contentLayout->addWidget(tab->ListSplitter);

    tab->ListView = new MessageList(tab->ListSplitter);
    tab->ListView->setMinimumHeight(0);
    tab->ListView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tab->ListView, &QTreeWidget::itemSelectionChanged, this,
            [this, list = tab->ListView] { ListViewClick(list); });
    connect(tab->ListView, &MessageList::resized, this, [this, list = tab->ListView] { ListViewResize(list); });
    connect(tab->ListView, &MessageList::rowsInserted, this, [this, list = tab->ListView] { ListViewResize(list); });
    connect(tab->ListView, &QWidget::customContextMenuRequested, this, [this, list = tab->ListView](const QPoint& at) {
        PopupListViewPopup();
        PopupListView->exec(list->viewport()->mapToGlobal(at));
    });
    tab->ListView->setHeaderLabels({u"Num"_qs, u"Bytes"_qs, u"FROM"_qs, u"FECHA"_qs, u"SUBJ"_qs});
    tab->ListView->headerItem()->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    const int widths[] = {35, 65, 200, 120};
    for (int c = 0; c < 4; ++c)
        tab->ListView->setColumnWidth(c, widths[c]);
    tab->ListView->setColumnWidth(4, std::max(0, client.width() + 2 - (35 + 65 + 200 + 120) - 4));

    tab->LowerPanel = new QWidget(tab->ListSplitter);
    auto* lowerLayout = new QHBoxLayout(tab->LowerPanel);
    lowerLayout->setContentsMargins(0, 0, 0, 0);
    tab->DialogueSplitter = new QSplitter(Qt::Horizontal, tab->LowerPanel);
    tab->DialogueSplitter->setChildrenCollapsible(false);
    tab->DialogueSplitter->setHandleWidth(4);
    lowerLayout->addWidget(tab->DialogueSplitter);
    tab->TextMemo = new QPlainTextEdit(tab->DialogueSplitter);
    tab->TextMemo->setReadOnly(true);
    tab->TextMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    tab->TextMemo->setMinimumWidth(0);
    tab->DialoguePanel = new QFrame(tab->DialogueSplitter);
    tab->DialoguePanel->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    auto* dialogueLayout = new QVBoxLayout(tab->DialoguePanel);
    dialogueLayout->setContentsMargins(1, 1, 1, 1);
    tab->DialogueView = new StyledTextView(RVStyle, tab->DialoguePanel);
    dialogueLayout->addWidget(tab->DialogueView);
    tab->ListSplitter->setStretchFactor(0, 1);
    tab->ListSplitter->setStretchFactor(1, 0);
    tab->DialogueSplitter->setStretchFactor(0, 1);
    tab->DialogueSplitter->setStretchFactor(1, 0);

    // Lower part half the page high, dialogue 0.4 of the page wide.
    const int contentHeight = std::max(0, client.height() - 60);
    const int lowerHeight = client.height() / 2;
    tab->ListSplitter->setSizes({std::max(0, contentHeight - lowerHeight - 4), lowerHeight});
    const int dialogueWidth = qRound(0.4 * client.width());
    tab->DialogueSplitter->setSizes({std::max(0, client.width() + 2 - dialogueWidth - 4), dialogueWidth});

    tab->POP3 = new TPop3(this, m_seams.socketFactory(this), this);
    tab->POP3->LineasTop = Config.iniTop;
    tab->POP3->setClock(m_seams.clock);
    tab->POP3->setReplyTimeout(m_seams.replyTimeoutMs);
    tab->POP3->setImplicitTlsPort(m_seams.implicitTlsPort);
    tab->POP3->setPipelining(Advanced.Pipelining);
    connect(tab->POP3, &TPop3::OnCambioEstado, this, &TfrmPrincipal::POP3OnCambioEstado);
    connect(tab->POP3, &TPop3::OnDesconexionForzada, this, &TfrmPrincipal::POP3OnDesconexionForzada);
    connect(tab->POP3, &TPop3::OnHostNotFound, this, &TfrmPrincipal::POP3OnHostNotFound);
    connect(tab->POP3, &TPop3::OnSendCommandToServer, this, &TfrmPrincipal::POP3OnSendCommandToServer);
    connect(tab->POP3, &TPop3::OnTextFromServer, this, &TfrmPrincipal::POP3OnTextFromServer);
    connect(tab->POP3, &TPop3::OnPrimerasLineasRecibidas, this, &TfrmPrincipal::POP3OnPrimerasLineasRecibidas);
    connect(tab->POP3, &TPop3::OnMensajeBorrado, this, &TfrmPrincipal::POP3OnMensajeBorrado);
    connect(tab->POP3, &TPop3::OnVaciarListaMensajes, this, &TfrmPrincipal::POP3OnVaciarListaMensajes);
    connect(tab->POP3, &TPop3::OnConexionCompletada, this, &TfrmPrincipal::POP3OnConexionCompletada);
    connect(tab->POP3, &TPop3::OnConexionCifrada, this, &TfrmPrincipal::POP3OnConexionCifrada);
    connect(tab->POP3, &TPop3::OnAviso, this, &TfrmPrincipal::POP3OnAviso);

    tab->SavedLowerHeight = lowerHeight;
    tab->SavedDialogueWidth = dialogueWidth;
    tab->ShownMessage = 0;
    tab->ReconnectAt = 0;
    tab->LastActivity = 0;
    tab->Announce = true;
    Tabs.append(tab);
    const int index = Page95Control->addTab(tab->Sheet, m_lamps[0], userName);
    Page95Control->tabBar()->setTabData(index, 0);
    Page95Control->setCurrentWidget(tab->Sheet);

    if (Config.ElementosEnVentana == 1)
        btnSoloListaClick();
    else if (Config.ElementosEnVentana == 2)
        btnListaTextoClick();
    placeButtonBar();
    return tab;
}

void TfrmPrincipal::CloseAccountTab(TAccountTab* tab) {
    // The session's last events still reach this tab: its controls exist until it is taken apart.
    QPointer<TPop3> session = tab->POP3;
    session->Desconectar();
    if (!Tabs.contains(tab)) return; // closed by a handler of those events
    for (TCuenta* a : std::as_const(Accounts)) {
        if (a->Tab == tab) {
            a->Tab = nullptr;
            break;
        }
    }
    Tabs.removeOne(tab);
    // Never destroyed under their own signals: deleted once control is back in the event loop.
    if (session) {
        session->disconnect(this);
        session->deleteLater();
    }
    const int index = Page95Control->indexOf(tab->Sheet);
    if (index >= 0) Page95Control->removeTab(index);
    tab->Sheet->hide();
    tab->Sheet->deleteLater();
    delete tab;
}

TAccountTab* TfrmPrincipal::TabOfSheet(QWidget* page) const {
    for (TAccountTab* t : Tabs)
        if (t->Sheet == page) return t;
    return nullptr;
}

TAccountTab* TfrmPrincipal::TabOfSession(const TPop3* session) const {
    for (TAccountTab* t : Tabs)
        if (t->POP3 == session) return t;
    return nullptr;
}

TAccountTab* TfrmPrincipal::TabOfList(const QObject* list) const {
    for (TAccountTab* t : Tabs)
        if (t->ListView == list) return t;
    return nullptr;
}

TAccountTab* TfrmPrincipal::ActiveTab() const {
    return TabOfSheet(Page95Control->currentWidget());
}

void TfrmPrincipal::btnDesconectarClick() {
    TAccountTab* tab = ActiveTab();
    if (!tab) return;
    const int i = Page95Control->currentIndex();
    CloseAccountTab(tab);
    PanelBotonera->setVisible(!Tabs.isEmpty());
    const int n = Page95Control->count();
    if (n > 0) {
        Page95Control->setCurrentIndex(i >= n ? n - 1 : i);
        SetBusyAnimation(Page95Control->currentWidget(),
                         Page95Control->tabBar()->tabData(Page95Control->currentIndex()).toInt() == 1);
        placeButtonBar();
    }
}

// View modes: a hidden part comes back at the size it had when it was hidden.
namespace {
int lowerHeight(const TAccountTab* t) {
    return t->LowerPanel->isHidden() ? 0 : t->ListSplitter->sizes().value(1);
}
int dialogueWidth(const TAccountTab* t) {
    return t->DialoguePanel->isHidden() ? 0 : t->DialogueSplitter->sizes().value(1);
}
void showLower(TAccountTab* t) {
    if (!t->LowerPanel->isHidden()) return;
    t->LowerPanel->show();
    const int total = t->ListSplitter->height();
    t->ListSplitter->setSizes({std::max(0, total - t->SavedLowerHeight - 4), t->SavedLowerHeight});
}
} // namespace

void TfrmPrincipal::btnSoloListaClick() {
    TAccountTab* t = ActiveTab();
    if (!t) return;
    if (lowerHeight(t) > 0) t->SavedLowerHeight = lowerHeight(t);
    t->LowerPanel->hide();
}

void TfrmPrincipal::btnListaTextoClick() {
    TAccountTab* t = ActiveTab();
    if (!t) return;
    if (dialogueWidth(t) > 0) t->SavedDialogueWidth = dialogueWidth(t);
    t->DialoguePanel->hide();
    showLower(t);
}

void TfrmPrincipal::btnListaTextoDialogoClick() {
    TAccountTab* t = ActiveTab();
    if (!t) return;
    if (t->DialoguePanel->isHidden()) {
        t->DialoguePanel->show();
        const int total = t->DialogueSplitter->width();
        t->DialogueSplitter->setSizes({std::max(0, total - t->SavedDialogueWidth - 4), t->SavedDialogueWidth});
    }
    showLower(t);
}

void TfrmPrincipal::SetBusyAnimation(QWidget* page, bool on) {
    if (page != Page95Control->currentWidget()) return;
    if (on) {
        if (!TimerArroba.isActive()) TimerArroba.start();
    } else {
        TimerArroba.stop();
        imgArroba->move(0, imgArroba->y());
    }
}

void TfrmPrincipal::TimerArrobaTimer() {
    int left = imgArroba->x() - 38;
    if (left < 10 - imgArroba->width()) left = 0;
    imgArroba->move(left, imgArroba->y());
}

void TfrmPrincipal::Page95ControlChange() {
    if (Page95Control->count() == 0) return;
    SetBusyAnimation(Page95Control->currentWidget(),
                     Page95Control->tabBar()->tabData(Page95Control->currentIndex()).toInt() == 1);
}
