// One account's tab: building its page and session, its look, status, log, view modes and countdown.
#include "AccountTab.h"

#include "AccountWidgets.h"
#include "DialogFit.h"
#include "Pop3Session.h"
#include "Settings.h"
#include "ShownText.h"
#include "StyledTextView.h"
#include "TextAndTime.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QStyleOptionViewItem>
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
/** After the countdown: the user need not wait for it. */
const QString kRetryHint = u" (Refrescar reintenta ahora)"_qs;
/** "h:mm:ss" of a number of seconds; hours beyond 23 are shown as they are. */
QString FormatCountdown(qint64 seconds) {
    if (seconds < 0) seconds = 0;
    return u"%1:%2:%3"_qs.arg(seconds / 3600)
        .arg((seconds / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}
} // namespace

TAccountTab::TAccountTab(const TabContext& context, QSize client) : m_context(context) {
    buildPage(client);
    buildSession();
}

TAccountTab::~TAccountTab() {
    // Never destroyed under their own signals: deleted once control is back in the event loop.
    if (QPointer<TPop3> session = m_session) {
        session->disconnect(this);
        session->deleteLater();
    }
    const int index = m_tabs ? m_tabs->indexOf(m_page) : -1;
    if (index >= 0) m_tabs->removeTab(index);
    m_page->hide();
    m_page->deleteLater();
}

void TAccountTab::buildPage(QSize client) {
    m_page = new AccountPage;
    m_page->resize(client);
    connect(m_page, &AccountPage::resized, this, [this] {
        fitCountdownPanel(); // a page first shown after its countdown began has its width only now
        emit pageResized(this);
    });
    m_statusBar = new TStatusPanels(m_page);
    m_statusBar->setPanelWidth(PanelConnection, 100);
    m_page->statusBar = m_statusBar;

    m_contentPanel = new QWidget(m_page);
    m_page->contentPanel = m_contentPanel;
    m_page->placeContent();
    auto* contentLayout = new QVBoxLayout(m_contentPanel);
    contentLayout->setContentsMargins(0, 0, 0, 0);
    // A refused password is not tried again by itself: the user is shown the way to the account.
    m_deniedBar = new QWidget(m_contentPanel);
    auto* deniedLayout = new QHBoxLayout(m_deniedBar);
    deniedLayout->setContentsMargins(4, 4, 4, 4);
    auto* deniedText = new QLabel(u"El Servidor rechazó el usuario o la contraseña de esta cuenta."_qs, m_deniedBar);
    auto* review = new QPushButton(u"&Revisar cuenta..."_qs, m_deniedBar);
    review->setObjectName(u"btnRevisarCuenta"_qs);
    deniedText->setBuddy(review);
    deniedLayout->addWidget(deniedText, 1);
    deniedLayout->addWidget(review);
    connect(review, &QPushButton::clicked, this, [this] { emit reviewAccountRequested(this); });
    m_deniedBar->hide();
    contentLayout->addWidget(m_deniedBar);
    m_listSplitter = newSplitter(Qt::Vertical, contentLayout);

    m_list = new MessageList(m_listSplitter);
    m_list->setMinimumHeight(0);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_list, &MessageList::selectedRowsChanged, this, &TAccountTab::showSelectedMessage);
    connect(m_list, &MessageList::resized, this, [this] { emit listResized(this); });
    connect(m_list, &MessageList::rowsInserted, this, [this] { emit listResized(this); });
    const auto openRowMenu = [this](const QPoint& at) {
        emit rowMenuRequested(this, m_list->viewport()->mapToGlobal(at));
    };
    connect(m_list, &QWidget::customContextMenuRequested, this, openRowMenu);
    // From the keyboard: the menu key and Shift+F10 open the rows' menu at the current row, and
    // Delete does what " Eliminar " does (with its question).
    for (const QKeySequence& key : {QKeySequence(Qt::Key_Menu), QKeySequence(Qt::SHIFT | Qt::Key_F10)}) {
        auto* shortcut = new QShortcut(key, m_list, nullptr, nullptr, Qt::WidgetShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, openRowMenu] {
            const QRect row = m_list->visualRect(m_list->currentIndex());
            openRowMenu(row.isValid() ? row.center() : QPoint(0, 0));
        });
    }
    auto* deleteKey = new QShortcut(QKeySequence::Delete, m_list, nullptr, nullptr, Qt::WidgetShortcut);
    connect(deleteKey, &QShortcut::activated, this, [this] { emit deleteRequested(this); });
    // The drawn widths are the least; a larger font widens a column to its caption.
    const int widths[] = {35, 65, 200, 120};
    for (int c = ColumnNumber; c < ColumnSubject; ++c)
        m_list->setColumnWidth(c, widths[c]);
    m_list->setColumnWidth(ColumnSubject, 0);
    FitColumnsToHeaders(m_list);
    int fixedColumns = 0;
    for (int c = ColumnNumber; c < ColumnSubject; ++c)
        fixedColumns += m_list->columnWidth(c);
    m_list->setColumnWidth(ColumnSubject, std::max(0, client.width() + 2 - fixedColumns - 4));
    keepEightRows();
    m_list->installEventFilter(this);

    m_lowerPanel = new QWidget(m_listSplitter);
    auto* lowerLayout = new QHBoxLayout(m_lowerPanel);
    lowerLayout->setContentsMargins(0, 0, 0, 0);
    m_dialogueSplitter = newSplitter(Qt::Horizontal, lowerLayout);
    m_textPane = new QPlainTextEdit(m_dialogueSplitter);
    m_textPane->setReadOnly(true);
    m_textPane->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_textPane->setMinimumWidth(0);
    m_dialoguePanel = new QFrame(m_dialogueSplitter);
    m_dialoguePanel->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    auto* dialogueLayout = new QVBoxLayout(m_dialoguePanel);
    dialogueLayout->setContentsMargins(1, 1, 1, 1);
    m_dialogueView = new StyledTextView(m_context.logStyles, m_dialoguePanel);
    dialogueLayout->addWidget(m_dialogueView);
    applyLogLimit();
    m_listSplitter->setStretchFactor(0, 1);
    m_listSplitter->setStretchFactor(1, 0);
    m_dialogueSplitter->setStretchFactor(0, 1);
    m_dialogueSplitter->setStretchFactor(1, 0);

    // Lower part half the page high, dialogue 0.4 of the page wide.
    const int contentHeight = std::max(0, client.height() - 60);
    const int lowerHeight = client.height() / 2;
    m_listSplitter->setSizes({std::max(0, contentHeight - lowerHeight - 4), lowerHeight});
    const int dialogueWidth = qRound(0.4 * client.width());
    m_dialogueSplitter->setSizes({std::max(0, client.width() + 2 - dialogueWidth - 4), dialogueWidth});
    m_savedLowerHeight = lowerHeight;
    m_savedDialogueWidth = dialogueWidth;
}

void TAccountTab::keepEightRows() {
    // A row is as high as the item delegate makes one line of text in the list's font.
    QStyleOptionViewItem row;
    row.initFrom(m_list);
    row.font = m_list->font();
    row.fontMetrics = m_list->fontMetrics();
    row.features = QStyleOptionViewItem::HasDisplay;
    row.text = u"Num"_qs;
    const QStyle* style = m_list->style();
    const int rowHeight = style->sizeFromContents(QStyle::CT_ItemViewItem, &row, QSize(), m_list).height();
    const int frame = 2 * m_list->frameWidth();
    const int scrollBar = style->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, m_list);
    m_list->setLeastHeight(m_list->header()->sizeHint().height() + 8 * rowHeight + frame + scrollBar);
}

bool TAccountTab::eventFilter(QObject* watched, QEvent* event) {
    // Once the header, a child of the list, has the new font too.
    if (watched == m_list && event->type() == QEvent::FontChange)
        QMetaObject::invokeMethod(
            this,
            [this] {
                FitColumnsToHeaders(m_list);
                keepEightRows();
            },
            Qt::QueuedConnection);
    return QObject::eventFilter(watched, event);
}

void TAccountTab::addTo(QTabWidget* tabs, const QString& caption) {
    m_tabs = tabs;
    const int index = tabs->addTab(m_page, (*m_context.lamps)[int(Look::Disconnected)], caption);
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
    const int index = m_tabs ? m_tabs->indexOf(m_page) : -1;
    if (index >= 0) {
        m_tabs->setTabIcon(index, (*m_context.lamps)[image]);
        m_tabs->tabBar()->setTabData(index, image); // what the tab bar shows, for those who look at it
        nameForScreenReaders(index);
    }
    if (look == Look::Busy)
        m_list->viewport()->setCursor(Qt::BusyCursor);
    else
        m_list->viewport()->unsetCursor();
    emit lookChanged(this);
}

void TAccountTab::announce(const QString& sound) {
    if (m_announce) {
        ReproducirSonido(sound);
        emit announced(this);
    }
    m_announce = true;
}

void TAccountTab::setStatus(const QString& connection, const QString& activity) {
    m_statusBar->setPanelText(PanelConnection, connection);
    m_statusBar->setPanelText(PanelActivity, activity);
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

void TAccountTab::applyLogLimit() {
    m_dialogueView->setLimit(qsizetype(m_context.advanced->LimiteDialogoMB) * 1024 * 1024, m_context.commentStyle);
}

void TAccountTab::appendDialogue(const QString& text, int style) {
    flushServerLine(); // the start of a line the server has not finished shows before it
    appendKeepingTheEnd(m_dialogueView, QStringView(text), style);
}

void TAccountTab::appendDialogue(QByteArrayView bytes, int style) {
    appendKeepingTheEnd(m_dialogueView, bytes, style);
}

QString TAccountTab::summaryText() const {
    const QString head = u"Conectado al servidor "_qs + m_session->Servidor() + u"  ("_qs;
    const QString mailbox = m_session->NumMensajes() == 0
                                ? head + u"No tiene mensajes)"_qs
                                : head + FormatThousands(m_session->BytesTotales()) + u" Bytes en "_qs +
                                      QString::number(m_session->NumMensajes()) + u" mensajes)"_qs;
    if (!m_session->BorradosPendientes()) return mailbox;
    // Deletions apply when the session ends; with a re-check, at the first one a whole interval after.
    return mailbox + (m_context.config->segsRechequeoSiConectado > 0
                          ? u" — Los mensajes eliminados se borran en la próxima comprobación; "
                            u"Restaurar los recupera hasta entonces"_qs
                          : u" — Los mensajes eliminados se borran al desconectar; "
                            u"Restaurar los recupera hasta entonces"_qs);
}

// ---------------------------------------------------------------------------------------------------
// View modes

int TAccountTab::lowerHeight() const {
    return m_lowerPanel->isHidden() ? 0 : m_listSplitter->sizes().value(1);
}

int TAccountTab::dialogueWidth() const {
    return m_dialoguePanel->isHidden() ? 0 : m_dialogueSplitter->sizes().value(1);
}

void TAccountTab::showLower() {
    if (!m_lowerPanel->isHidden()) return;
    m_lowerPanel->show();
    const int total = m_listSplitter->height();
    m_listSplitter->setSizes({std::max(0, total - m_savedLowerHeight - 4), m_savedLowerHeight});
}

void TAccountTab::showListOnly() {
    if (lowerHeight() > 0) m_savedLowerHeight = lowerHeight();
    m_lowerPanel->hide();
}

void TAccountTab::showListAndText() {
    if (dialogueWidth() > 0) m_savedDialogueWidth = dialogueWidth();
    m_dialoguePanel->hide();
    showLower();
}

void TAccountTab::showListTextAndDialogue() {
    if (m_dialoguePanel->isHidden()) {
        m_dialoguePanel->show();
        const int total = m_dialogueSplitter->width();
        m_dialogueSplitter->setSizes({std::max(0, total - m_savedDialogueWidth - 4), m_savedDialogueWidth});
    }
    showLower();
}

void TAccountTab::showSelectedMessage() {
    const QList<int> selected = m_list->selectedPositions();
    if (selected.isEmpty()) return;
    const int n = m_list->row(selected.first()).number;
    m_textPane->clear();
    m_textPane->setPlainText(ShownText(m_session->MensajePorNumero(n).PrimerasLineas, KeepLayout::TabsAndLineBreaks));
    m_shownMessage = n;
}

// ---------------------------------------------------------------------------------------------------
// The reconnection countdown

void TAccountTab::startCountdown(double at, qint64 secondsLeft) {
    m_reconnectAt = at;
    m_statusBar->setPanelCount(PanelCountdown + 1);
    showCountdown(secondsLeft);
    fitCountdownPanel();
}

void TAccountTab::fitCountdownPanel() {
    if (m_statusBar->panelCount() != PanelCountdown + 1) return;
    const int textWidth = m_statusBar->fontMetrics().horizontalAdvance(u"Reconexión en 0:00:000"_qs + kRetryHint);
    m_statusBar->setPanelWidth(PanelActivity,
                               m_statusBar->width() - m_statusBar->panelWidth(PanelConnection) - textWidth - 4);
}

void TAccountTab::showCountdown(qint64 secondsLeft) {
    m_statusBar->setPanelText(PanelCountdown, u"Reconexión en "_qs + FormatCountdown(secondsLeft) + kRetryHint);
}

void TAccountTab::endCountdown() {
    m_reconnectAt = 0;
    m_statusBar->setPanelCount(PanelCountdown);
}

// ---------------------------------------------------------------------------------------------------
// The delete batch

QList<int> TAccountTab::takeFailedCopies(QString* why) {
    *why = std::exchange(m_copyError, {});
    return std::exchange(m_failedCopies, {});
}
