#include "AccountWidgets.h"

#include "AccountTab.h"

#include <QAccessible>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>

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

MessageList::MessageList(QWidget* parent) : QTreeWidget(parent) {
    m_announceTimer.setSingleShot(true);
    m_announceTimer.setInterval(0);
    connect(&m_announceTimer, &QTimer::timeout, this, &MessageList::announceChangedRows);
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setItemsExpandable(false);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setAllColumnsShowFocus(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
}

QTreeWidgetItem* MessageList::rowByCaption(const QString& caption) const {
    const auto it = m_byCaption.constFind(caption);
    return it == m_byCaption.cend() || it->isEmpty() ? nullptr : it->first();
}

void MessageList::appendRows(const QList<QTreeWidgetItem*>& rows) {
    announceChangedRows();
    for (QTreeWidgetItem* r : rows)
        m_byCaption[r->text(ColumnNumber)].append(r);
    addTopLevelItems(rows);
    emit rowsInserted();
}

void MessageList::deleteRow(QTreeWidgetItem* row) {
    announceChangedRows();
    auto it = m_byCaption.find(row->text(ColumnNumber));
    if (it != m_byCaption.end()) {
        it->removeOne(row);
        if (it->isEmpty()) m_byCaption.erase(it);
    }
    delete row;
}

void MessageList::clearRows() {
    announceChangedRows();
    m_byCaption.clear();
    clear();
}

int MessageList::positionOf(QTreeWidgetItem* row) const {
    // The header pass goes through the rows in order (a row, then the one before it): the last row
    // found and its neighbours are tried before the view's own search from the end of the list.
    const int count = topLevelItemCount();
    for (int guess = m_lastPosition - 1; guess <= m_lastPosition + 2; ++guess)
        if (guess >= 0 && guess < count && topLevelItem(guess) == row) return m_lastPosition = guess;
    if (!row || row->parent() || row->treeWidget() != this) return -1;
    return m_lastPosition = indexFromItem(row).row();
}

void MessageList::setRowTexts(QTreeWidgetItem* row, int firstColumn, std::initializer_list<QString> texts) {
    const int position = positionOf(row);
    if (position < 0) return;
    {
        // Told of each text, the view would look the row's position up (from the end of the list,
        // the first time) and work out its place on the screen: a header pass sets thousands of
        // rows between two frames. The changed rows are announced together, before the next frame.
        const QSignalBlocker quiet(model());
        int column = firstColumn;
        for (const QString& text : texts)
            row->setText(column++, text);
    }
    m_changedFirst = std::min(m_changedFirst, position);
    m_changedLast = std::max(m_changedLast, position);
    if (!m_announceTimer.isActive()) m_announceTimer.start();
}

void MessageList::announceChangedRows() {
    m_announceTimer.stop();
    int last = std::min(m_changedLast, topLevelItemCount() - 1);
    int first = m_changedFirst;
    m_changedFirst = std::numeric_limits<int>::max();
    m_changedLast = -1;
    if (first > last || columnCount() == 0) return;
    // Only the rows on the screen are drawn again: the view works out every cell of the range, and
    // it keeps nothing else of a row (all rows are one line high). An accessibility client hears
    // of every row.
    if (!QAccessible::isActive()) {
        const QModelIndex top = indexAt(QPoint(0, 0));
        const QModelIndex bottom = indexAt(QPoint(0, viewport()->height() - 1));
        first = std::max(first, top.isValid() ? top.row() : 0);
        last = std::min(last, bottom.isValid() ? bottom.row() : topLevelItemCount() - 1);
        if (first > last) return;
    }
    emit model()->dataChanged(model()->index(first, 0), model()->index(last, columnCount() - 1),
                              {Qt::DisplayRole, Qt::EditRole});
}

QList<QTreeWidgetItem*> MessageList::selectedRowsInOrder() const {
    QList<QTreeWidgetItem*> out;
    const QModelIndexList indexes = selectionModel()->selectedRows();
    QList<int> rows;
    for (const QModelIndex& i : indexes)
        rows.append(i.row());
    std::sort(rows.begin(), rows.end());
    for (int r : rows)
        out.append(topLevelItem(r));
    return out;
}

void MessageList::resizeEvent(QResizeEvent* event) {
    QTreeWidget::resizeEvent(event);
    emit resized();
}

void MessageList::drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QTreeWidget::drawRow(painter, option, index);
    // Grid lines between rows and columns.
    painter->save();
    painter->setPen(palette().color(QPalette::Midlight));
    painter->drawLine(option.rect.bottomLeft(), option.rect.bottomRight());
    int x = -header()->offset();
    for (int c = 0; c < header()->count() - 1; ++c) {
        x += header()->sectionSize(c);
        painter->drawLine(x - 1, option.rect.top(), x - 1, option.rect.bottom());
    }
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
    list->setStyleSheet(u"QTreeView::item { border-right: 1px solid palette(midlight);"
                        " border-bottom: 1px solid palette(midlight); }"_qs);
    QPalette keepSelection = list->palette();
    for (const QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        keepSelection.setColor(QPalette::Inactive, role, keepSelection.color(QPalette::Active, role));
    list->setPalette(keepSelection);
}
