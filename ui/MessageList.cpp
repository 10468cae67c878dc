#include "MessageList.h"

#include "AccountWidgets.h"
#include "ShownText.h"
#include "TextAndTime.h"

#include <QAccessible>
#include <QHeaderView>
#include <QHelpEvent>
#include <QResizeEvent>
#include <QTextDocument>
#include <QToolTip>
#include <algorithm>

QString ListDate(const QString& fecha) {
    const QString rest = fecha.mid(5);
    const qsizetype first = rest.indexOf(u':');
    const qsizetype second = first < 0 ? -1 : rest.indexOf(u':', first + 1);
    if (second < 0) return rest;
    qsizetype end = second + 1;
    while (end < rest.size() && rest[end].isDigit() && rest[end].unicode() < 128)
        ++end;
    return rest.left(end);
}

// ---------------------------------------------------------------------------------------------------
// The rows

int MessageRowModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int MessageRowModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant MessageRowModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_rows.size()) return {};
    if (role == Qt::TextAlignmentRole)
        return index.column() == ColumnBytes ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    const MessageRow& row = m_rows.at(index.row());
    if (role == Qt::ToolTipRole) {
        switch (row.verdict) {
        case RowVerdict::Marked:
            return QString(u"Se borraría por: "_qs + ShownText(row.reason));
        case RowVerdict::Allowed:
            return QString(u"Permitido por: "_qs + ShownText(row.reason));
        case RowVerdict::None:
            return {};
        }
    }
    if (role != Qt::DisplayRole) return {};
    switch (index.column()) {
    case ColumnNumber:
        return QString::number(row.number);
    case ColumnBytes:
        return FormatThousands(row.bytes);
    // Header text as it came from the server, its control characters made visible.
    case ColumnFrom:
        return ShownText(row.from);
    case ColumnDate:
        return ShownText(row.date);
    case ColumnSubject:
        return ShownText(row.subject);
    default:
        return {};
    }
}

QVariant MessageRowModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount) return {};
    if (role == Qt::TextAlignmentRole)
        return section == ColumnBytes ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    if (role != Qt::DisplayRole) return {};
    static const char16_t* const captions[ColumnCount] = {u"Num", u"Bytes", u"FROM", u"FECHA", u"SUBJ"};
    return QString::fromUtf16(captions[section]);
}

int MessageRowModel::positionOf(int number) const {
    if (m_ascending) {
        const auto it = std::lower_bound(m_rows.cbegin(), m_rows.cend(), number,
                                         [](const MessageRow& row, int n) { return row.number < n; });
        return it != m_rows.cend() && it->number == number ? int(it - m_rows.cbegin()) : -1;
    }
    if (m_indexStale) {
        m_firstOfNumber.clear();
        for (int p = int(m_rows.size()) - 1; p >= 0; --p) // the first row of a number wins
            m_firstOfNumber.insert(m_rows[p].number, p);
        m_indexStale = false;
    }
    return m_firstOfNumber.value(number, -1);
}

void MessageRowModel::append(const QList<MessageRow>& rows) {
    if (rows.isEmpty()) return;
    const int first = int(m_rows.size());
    beginInsertRows({}, first, first + int(rows.size()) - 1);
    for (const MessageRow& row : rows) {
        if (m_ascending && !m_rows.isEmpty() && m_rows.last().number >= row.number) {
            m_ascending = false;
            m_indexStale = true;
        }
        if (!m_ascending && !m_indexStale && !m_firstOfNumber.contains(row.number))
            m_firstOfNumber.insert(row.number, int(m_rows.size()));
        m_rows.append(row);
    }
    endInsertRows();
}

void MessageRowModel::removeAt(int position) {
    if (position < 0 || position >= m_rows.size()) return;
    beginRemoveRows({}, position, position);
    m_rows.removeAt(position);
    m_indexStale = !m_ascending;
    endRemoveRows();
}

void MessageRowModel::clear() {
    beginResetModel();
    m_rows.clear();
    m_firstOfNumber.clear();
    m_ascending = true;
    m_indexStale = false;
    endResetModel();
}

void MessageRowModel::setHeaderQuietly(int position, const QString& from, const QString& date, const QString& subject) {
    if (position < 0 || position >= m_rows.size()) return;
    MessageRow& row = m_rows[position];
    row.from = from;
    row.date = date;
    row.subject = subject;
    row.verdict = RowVerdict::None;
    row.reason.clear();
}

void MessageRowModel::setVerdictQuietly(int position, RowVerdict verdict, const QString& reason) {
    if (position < 0 || position >= m_rows.size()) return;
    m_rows[position].verdict = verdict;
    m_rows[position].reason = reason;
}

void MessageRowModel::announce(int first, int last) {
    last = std::min(last, int(m_rows.size()) - 1);
    if (first < 0 || first > last) return;
    emit dataChanged(index(first, 0), index(last, ColumnCount - 1), {Qt::DisplayRole});
}

// ---------------------------------------------------------------------------------------------------
// The view

MessageList::MessageList(QWidget* parent) : QTreeView(parent) {
    m_announceTimer.setSingleShot(true);
    m_announceTimer.setInterval(0);
    connect(&m_announceTimer, &QTimer::timeout, this, &MessageList::announceChangedRows);
    setModel(&m_model);
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

void MessageList::appendRows(const QList<MessageRow>& rows) {
    announceChangedRows();
    m_model.append(rows);
    emit rowsInserted();
}

void MessageList::deleteRow(int position) {
    announceChangedRows();
    m_model.removeAt(position);
}

void MessageList::clearRows() {
    announceChangedRows();
    m_model.clear();
}

void MessageList::setRowHeader(int position, const QString& from, const QString& date, const QString& subject) {
    if (position < 0 || position >= rowCount()) return;
    // Told of each row, the view would work out its place on the screen: a header pass sets
    // thousands of rows between two frames. The changed rows are announced together, before the
    // next frame.
    m_model.setHeaderQuietly(position, from, date, subject);
    m_changedFirst = std::min(m_changedFirst, position);
    m_changedLast = std::max(m_changedLast, position);
    if (!m_announceTimer.isActive()) m_announceTimer.start();
}

void MessageList::announceChangedRows() {
    m_announceTimer.stop();
    int first = m_changedFirst;
    int last = std::min(m_changedLast, rowCount() - 1);
    m_changedFirst = std::numeric_limits<int>::max();
    m_changedLast = -1;
    if (first > last) return;
    // Only the rows on the screen are drawn again: the view works out every row of the range, and
    // it keeps nothing else of a row (all rows are one line high). An accessibility client hears
    // of every row.
    if (!QAccessible::isActive()) {
        const QModelIndex top = indexAt(QPoint(0, 0));
        const QModelIndex bottom = indexAt(QPoint(0, viewport()->height() - 1));
        first = std::max(first, top.isValid() ? top.row() : 0);
        last = std::min(last, bottom.isValid() ? bottom.row() : rowCount() - 1);
    }
    m_model.announce(first, last);
}

void MessageList::setVerdicts(const QList<std::pair<RowVerdict, QString>>& verdicts) {
    announceChangedRows();
    const int n = std::min(int(verdicts.size()), rowCount());
    for (int p = 0; p < n; ++p)
        m_model.setVerdictQuietly(p, verdicts[p].first, verdicts[p].second);
    if (n > 0) {
        m_changedFirst = 0;
        m_changedLast = n - 1;
        announceChangedRows();
    }
}

QList<int> MessageList::selectedPositions() const {
    QList<int> out;
    for (const QModelIndex& i : selectionModel()->selectedRows())
        out.append(i.row());
    std::sort(out.begin(), out.end());
    return out;
}

bool MessageList::isRowSelected(int position) const {
    return position >= 0 && position < rowCount() && selectionModel()->isRowSelected(position, {});
}

void MessageList::setLeastHeight(int height) {
    m_leastHeight = height;
    updateGeometry();
}

QSize MessageList::minimumSizeHint() const {
    const QSize hint = QTreeView::minimumSizeHint();
    return {hint.width(), std::max(hint.height(), m_leastHeight)};
}

void MessageList::resizeEvent(QResizeEvent* event) {
    QTreeView::resizeEvent(event);
    emit resized();
}

void MessageList::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
    QTreeView::selectionChanged(selected, deselected);
    emit selectedRowsChanged();
}

void MessageList::drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    if (index.row() < rowCount() && row(index.row()).verdict == RowVerdict::Marked) {
        // What a filtering run would delete is struck out in the list's own font.
        QStyleOptionViewItem struck = option;
        struck.font.setStrikeOut(true);
        QTreeView::drawRow(painter, struck, index);
        DrawGridLines(painter, option, header(), palette());
        return;
    }
    QTreeView::drawRow(painter, option, index);
    DrawGridLines(painter, option, header(), palette());
}

bool MessageList::viewportEvent(QEvent* event) {
    if (event->type() != QEvent::ToolTip) return QTreeView::viewportEvent(event);
    const auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex index = indexAt(help->pos());
    const QString tip = index.data(Qt::ToolTipRole).toString();
    if (tip.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(help->globalPos(), Qt::convertFromPlainText(tip), viewport(), visualRect(index));
    return true;
}
