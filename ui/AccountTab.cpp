// One account's tab: building its page and session, its look, status, log, view modes and countdown.
#include "AccountTab.h"

#include "AccountWidgets.h"
#include "MainWindow.h"
#include "Pop3Session.h"
#include "StyledTextView.h"
#include "TextAndTime.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QSplitter>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {
/** A splitter filling the layout's widget, whose panes never collapse. */
QSplitter* newSplitter(Qt::Orientation orientation, QBoxLayout* layout) {
    auto* splitter = new QSplitter(orientation, layout->parentWidget());
    splitter->setChildrenCollapsible(false);
    splitter->setHandleWidth(4);
    layout->addWidget(splitter);
    return splitter;
}
} // namespace

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
    ListSplitter = newSplitter(Qt::Vertical, contentLayout);

    ListView = new MessageList(ListSplitter);
    ListView->setMinimumHeight(0);
    ListView->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(ListView, &MessageList::selectedRowsChanged, w, [w, list = ListView] { w->ListViewClick(list); });
    QObject::connect(ListView, &MessageList::resized, w, [w, list = ListView] { w->ListViewResize(list); });
    QObject::connect(ListView, &MessageList::rowsInserted, w, [w, list = ListView] { w->ListViewResize(list); });
    const auto openRowMenu = [w, list = ListView](const QPoint& at) {
        w->PopupListViewPopup();
        w->PopupListView->exec(list->viewport()->mapToGlobal(at));
    };
    QObject::connect(ListView, &QWidget::customContextMenuRequested, w, openRowMenu);
    // From the keyboard: the menu key and Shift+F10 open the rows' menu at the current row, and
    // Delete does what " Eliminar " does (with its question).
    for (const QKeySequence& key : {QKeySequence(Qt::Key_Menu), QKeySequence(Qt::SHIFT | Qt::Key_F10)}) {
        auto* shortcut = new QShortcut(key, ListView, nullptr, nullptr, Qt::WidgetShortcut);
        QObject::connect(shortcut, &QShortcut::activated, w, [openRowMenu, list = ListView] {
            const QRect row = list->visualRect(list->currentIndex());
            openRowMenu(row.isValid() ? row.center() : QPoint(0, 0));
        });
    }
    auto* deleteKey = new QShortcut(QKeySequence::Delete, ListView, nullptr, nullptr, Qt::WidgetShortcut);
    QObject::connect(deleteKey, &QShortcut::activated, w, [w] { w->btnEliminarClick(); });
    const int widths[] = {35, 65, 200, 120};
    for (int c = ColumnNumber; c < ColumnSubject; ++c)
        ListView->setColumnWidth(c, widths[c]);
    ListView->setColumnWidth(ColumnSubject, std::max(0, client.width() + 2 - (35 + 65 + 200 + 120) - 4));

    LowerPanel = new QWidget(ListSplitter);
    auto* lowerLayout = new QHBoxLayout(LowerPanel);
    lowerLayout->setContentsMargins(0, 0, 0, 0);
    DialogueSplitter = newSplitter(Qt::Horizontal, lowerLayout);
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
    // The tab shows a message's first lines and recipients, never its whole header text; the
    // filter's rules may read it.
    POP3->setKeptText(w->KeptText());
    w->applyKeepCopy(this);
    QObject::connect(POP3, &TPop3::OnCambioEstado, w, &TfrmPrincipal::POP3OnCambioEstado);
    QObject::connect(POP3, &TPop3::OnDesconexionForzada, w, &TfrmPrincipal::POP3OnDesconexionForzada);
    QObject::connect(POP3, &TPop3::OnHostNotFound, w, &TfrmPrincipal::POP3OnHostNotFound);
    QObject::connect(POP3, &TPop3::OnSendCommandToServer, w, &TfrmPrincipal::POP3OnSendCommandToServer);
    QObject::connect(POP3, &TPop3::OnBytesFromServer, w, &TfrmPrincipal::POP3OnTextFromServer);
    QObject::connect(POP3, &TPop3::OnPrimerasLineasRecibidas, w, &TfrmPrincipal::POP3OnPrimerasLineasRecibidas);
    QObject::connect(POP3, &TPop3::OnMensajeBorrado, w, &TfrmPrincipal::POP3OnMensajeBorrado);
    QObject::connect(POP3, &TPop3::OnCopiaFallida, w, &TfrmPrincipal::POP3OnCopiaFallida);
    QObject::connect(POP3, &TPop3::OnVaciarListaMensajes, w, &TfrmPrincipal::POP3OnVaciarListaMensajes);
    QObject::connect(POP3, &TPop3::OnConexionCompletada, w, &TfrmPrincipal::POP3OnConexionCompletada);
    QObject::connect(POP3, &TPop3::OnConexionCifrada, w, &TfrmPrincipal::POP3OnConexionCifrada);
    QObject::connect(POP3, &TPop3::OnAviso, w, &TfrmPrincipal::POP3OnAviso);
}

void TAccountTab::addTo(QTabWidget* tabs, const QString& caption) {
    m_tabs = tabs;
    const int index = tabs->addTab(Sheet, m_window->m_lamps[int(Look::Disconnected)], caption);
    tabs->tabBar()->setTabData(index, int(Look::Disconnected));
    nameForScreenReaders(index);
}

void TAccountTab::nameForScreenReaders(int index) {
    // The lamp's colour is the tab's state: a screen reader says it in words.
    static const char16_t* const states[] = {u"desconectado", u"trabajando", u"con mensajes", u"sin mensajes"};
    m_tabs->tabBar()->setAccessibleTabName(index,
                                           m_tabs->tabText(index) + u", "_qs + QString::fromUtf16(states[int(m_look)]));
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
        nameForScreenReaders(index);
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

namespace {
/** Appends to the log; the log follows the text only when it was at its end. */
template <typename Text> void appendKeepingTheEnd(StyledTextView* view, Text text, int style) {
    const int position = view->VScrollPos();
    const bool atEnd = view->followsEnd();
    view->AddLines(text, style);
    view->Format();
    view->ScrollTo(atEnd ? view->VScrollMax() : position);
}
} // namespace

void TAccountTab::appendDialogue(const QString& text, int style) {
    appendKeepingTheEnd(DialogueView, QStringView(text), style);
}

void TAccountTab::appendDialogue(QByteArrayView bytes, int style) {
    appendKeepingTheEnd(DialogueView, bytes, style);
}

QString TAccountTab::summaryText() const {
    const QString head = u"Conectado al servidor "_qs + POP3->Servidor() + u"  ("_qs;
    if (POP3->NumMensajes() == 0) return head + u"No tiene mensajes)"_qs;
    return head + FormatThousands(POP3->BytesTotales()) + u" Bytes en "_qs + QString::number(POP3->NumMensajes()) +
           u" mensajes)"_qs;
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
    const QList<int> selected = ListView->selectedPositions();
    if (selected.isEmpty()) return;
    const int n = ListView->row(selected.first()).number;
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
