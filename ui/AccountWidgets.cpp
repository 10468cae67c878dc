#include "AccountWidgets.h"

#include "StyledTextView.h"

#include <QApplication>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QStyleOption>
#include <QTabWidget>

TStatusPanels::TStatusPanels(QWidget* parent) : QWidget(parent) {
    setFixedHeight(fontMetrics().height() + 8);
    // A header pass changes the progress text once a message: the labels follow once a frame.
    m_frame.setSingleShot(true);
    m_frame.setInterval(40);
    connect(&m_frame, &QTimer::timeout, this, &TStatusPanels::applyTexts);
    setPanelCount(PanelCountdown); // the connection and the activity
}

void TStatusPanels::applyTexts() {
    for (qsizetype i = 0; i < m_panels.size(); ++i)
        if (m_panels[i]->text() != m_texts[i]) m_panels[i]->setText(m_texts[i]);
}

void TStatusPanels::setPanelCount(int count) {
    while (m_panels.size() > count) {
        delete m_panels.takeLast();
        m_widths.removeLast();
        m_texts.removeLast();
    }
    while (m_panels.size() < count) {
        auto* label = new QLabel(this);
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setTextFormat(Qt::PlainText);
        label->show();
        m_panels.append(label);
        m_widths.append(50);
        m_texts.append(QString());
    }
    relayout();
}

void TStatusPanels::setPanelText(int index, const QString& text) {
    if (index >= m_panels.size()) return;
    m_texts[index] = text;
    if (!m_frame.isActive()) m_frame.start();
}
QString TStatusPanels::panelText(int index) const {
    return index < m_texts.size() ? m_texts[index] : QString();
}

void TStatusPanels::setPanelWidth(int index, int width) {
    if (index >= m_widths.size()) return;
    m_widths[index] = width;
    relayout();
}
int TStatusPanels::panelWidth(int index) const {
    if (index >= m_panels.size()) return 0;
    return index == m_panels.size() - 1 ? m_panels[index]->width() : m_widths[index];
}

void TStatusPanels::relayout() {
    int x = 0;
    for (int i = 0; i < m_panels.size(); ++i) {
        const bool last = i == m_panels.size() - 1;
        const int w = last ? std::max(0, width() - x) : m_widths[i];
        m_panels[i]->setGeometry(x, 1, w, height() - 2);
        x += w + 2;
    }
}

void TStatusPanels::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    relayout();
}

AccountPage::AccountPage(QWidget* parent) : QWidget(parent) {}

void AccountPage::placeContent() {
    if (contentPanel) contentPanel->setGeometry(-1, 39, width() + 2, std::max(0, height() - 60));
}

void AccountPage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (statusBar) statusBar->setGeometry(0, height() - statusBar->height(), width(), statusBar->height());
    placeContent();
    emit resized();
}

QColor TabPaneColor(const QTabWidget* tabs) {
    // Drawn by the style itself, away from its edges. In the application's palette: a tab widget
    // with a style sheet has the new one only later, after a change of the desktop's colours.
    const QPalette palette = QApplication::palette(tabs);
    QImage pane(64, 64, QImage::Format_ARGB32_Premultiplied);
    pane.fill(palette.color(QPalette::Window));
    QPainter p(&pane);
    QStyleOptionTabWidgetFrame option;
    option.initFrom(tabs);
    option.palette = palette;
    option.rect = pane.rect();
    option.lineWidth = tabs->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, tabs);
    option.shape = QTabBar::RoundedNorth;
    tabs->style()->drawPrimitive(QStyle::PE_FrameTabWidget, &option, &p, tabs);
    p.end();
    return pane.pixelColor(32, 32);
}

QList<QColor> InactiveTabColors(const QTabWidget* tabs) {
    // Styles shade an inactive tab from their pane's colour: Fusion 8 % darker, down to 16 % at
    // its foot; the pane's own colour covers the flat styles.
    const QColor pane = TabPaneColor(tabs);
    return {pane, pane.darker(108), pane.darker(116)};
}

QColor ReadableOnAll(const QColor& color, const QList<QColor>& backgrounds, double minimum) {
    QColor out = color;
    // A colour moved for one background may fall short on another close to it: a second round.
    for (int round = 0; round < 2; ++round)
        for (const QColor& background : backgrounds)
            out = ReadableColor(out, background, minimum);
    return out;
}

void DrawGridLines(QPainter* painter, const QStyleOptionViewItem& option, const QHeaderView* header,
                   const QPalette& palette) {
    painter->save();
    painter->setPen(palette.color(QPalette::Midlight));
    painter->drawLine(option.rect.bottomLeft(), option.rect.bottomRight());
    int x = -header->offset();
    for (int c = 0; c < header->count() - 1; ++c) {
        x += header->sectionSize(c);
        painter->drawLine(x - 1, option.rect.top(), x - 1, option.rect.bottom());
    }
    painter->restore();
}

GridList::GridList(QWidget* parent) : QTreeWidget(parent) {
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setItemsExpandable(false);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setAllColumnsShowFocus(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
}

void GridList::drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QTreeWidget::drawRow(painter, option, index);
    DrawGridLines(painter, option, header(), palette());
}

void GridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QStyledItemDelegate::paint(painter, option, index);
    painter->save();
    painter->setPen(option.palette.color(QPalette::Midlight));
    painter->drawLine(option.rect.topRight(), option.rect.bottomRight());
    painter->drawLine(option.rect.bottomLeft(), option.rect.bottomRight());
    painter->restore();
}

bool FilterReportListClick(QTreeWidget* list, QEvent* event, bool& released) {
    released = false;
    const bool press = event->type() == QEvent::MouseButtonPress;
    if (!press && event->type() != QEvent::MouseButtonRelease) return false;
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton) return false;
    released = !press;
    // A click on no row leaves no row selected.
    if (press && !list->itemAt(mouse->position().toPoint())) {
        list->clearSelection();
        list->setCurrentItem(nullptr);
        return true;
    }
    return false;
}

void SetUpReportList(QTreeWidget* list) {
    list->header()->setStretchLastSection(true);
    list->header()->setSectionsMovable(false);
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
    list->setUniformRowHeights(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setAllColumnsShowFocus(true);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Grid lines drawn after each cell: a style sheet for them would also take over how a
    // selected row is drawn, a faint band with its text gone on some styles.
    list->setItemDelegate(new GridDelegate(list));
    QPalette keepSelection = list->palette();
    for (const QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        keepSelection.setColor(QPalette::Inactive, role, keepSelection.color(QPalette::Active, role));
    list->setPalette(keepSelection);
}
