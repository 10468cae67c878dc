// A tab's message list: the rows (one per message on the server: its number, its size and, once its
// header is in, its sender, date and subject) in a table model, and the report view that shows them.
#pragma once

#include "FilterRules.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QString>
#include <QTimer>
#include <QTreeView>
#include <limits>

/** The columns of a tab's message list, in the order they are shown. */
enum MessageColumn : int { ColumnNumber = 0, ColumnBytes, ColumnFrom, ColumnDate, ColumnSubject, ColumnCount };

/** What the filter said of a row the last time it looked: nothing, never to be marked, or marked. */
using RowVerdict = RuleDecision::Kind;

/** @short The date column of a message's Date value: the day, month, year and time, without the
 *  weekday in front ("Tue, ") nor what follows the seconds (the zone): "8 Dec 2026 12:34:56". */
QString ListDate(const QString& fecha);

/** One row: a message as the list shows it. The three header texts stay empty until its header is in. */
struct MessageRow {
    int number = 0;
    int bytes = 0;
    QString from;
    QString date;
    QString subject;
    RowVerdict verdict = RowVerdict::None;
    QString reason; ///< the rule or list fragment that gave the verdict
};

/** @short The rows of a message list. The number and size columns are shown from the integers
 *  (the size with thousands dots, right-aligned); a row is found by its message number. */
class MessageRowModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    const MessageRow& at(int position) const { return m_rows.at(position); }
    /** @short The position of the first row of that message number, or -1. */
    int positionOf(int number) const;
    void append(const QList<MessageRow>& rows);
    void removeAt(int position);
    void clear();
    /** @short Sets a row's sender, date and subject without telling the views (see announce). */
    void setHeaderQuietly(int position, const QString& from, const QString& date, const QString& subject);
    /** @short Tells the views that rows first..last changed. */
    void announce(int first, int last);
    /** @short Sets a row's verdict and its reason without telling the views. */
    void setVerdictQuietly(int position, RowVerdict verdict, const QString& reason);

private:
    QList<MessageRow> m_rows;
    /** While the numbers go up from row to row (a server lists them so) a row is found by a binary
     *  search; otherwise through the first row of each number, worked out again after a removal. */
    bool m_ascending = true;
    mutable QHash<int, int> m_firstOfNumber;
    mutable bool m_indexStale = false;
};

/** @short The message list's view: several rows may be selected, whole rows, grid lines; the rows
 *  whose texts change are announced to the view together, when control is back in the event loop. */
class MessageList final : public QTreeView {
    Q_OBJECT
public:
    explicit MessageList(QWidget* parent = nullptr);

    int rowCount() const { return m_model.rowCount(); }
    int columnCount() const { return ColumnCount; }
    const MessageRow& row(int position) const { return m_model.at(position); }
    /** @short The position of the first row of that message number, or -1. */
    int positionOf(int number) const { return m_model.positionOf(number); }
    void appendRows(const QList<MessageRow>& rows);
    void deleteRow(int position);
    void clearRows();
    /** @short Sets a row's sender, date and subject. The view hears of the rows changed this way
     *  together, when control is back in the event loop (or before rows are added or deleted):
     *  call announceChangedRows to tell it now. */
    void setRowHeader(int position, const QString& from, const QString& date, const QString& subject);
    void announceChangedRows();
    /** @short The filter's verdict on each row (by position; a shorter list leaves the rest as
     *  they were): a marked row is struck out, and a row's tooltip gives the verdict's reason. A
     *  row whose header is set again loses its verdict. */
    void setVerdicts(const QList<std::pair<RowVerdict, QString>>& verdicts);
    /** @short The positions of the selected rows, in list order. */
    QList<int> selectedPositions() const;
    bool isRowSelected(int position) const;
    /** @short The height the list asks of a layout or splitter at least (not a minimum size: it
     *  can still be made smaller by hand). */
    void setLeastHeight(int height);
    QSize minimumSizeHint() const override;

signals:
    void resized();
    void rowsInserted();
    void selectedRowsChanged();

protected:
    void resizeEvent(QResizeEvent* event) override;
    /** A row's tooltip (the filter's reason, made of header text) is shown as plain text, never as
     *  the HTML a subject may look like. */
    bool viewportEvent(QEvent* event) override;
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;

private:
    MessageRowModel m_model;
    int m_leastHeight = 0;
    int m_changedFirst = std::numeric_limits<int>::max(); ///< rows set by setRowHeader, not yet announced
    int m_changedLast = -1;
    QTimer m_announceTimer;
};
