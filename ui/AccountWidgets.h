// The widgets of one account tab that need more than Qt gives: the page (which keeps its status bar
// at the bottom), the status bar of numbered panels, and the message list that finds rows by caption
// in constant time.
#pragma once

#include <QHash>
#include <QLabel>
#include <QTimer>
#include <QList>
#include <QTreeWidget>
#include <QWidget>
#include <initializer_list>
#include <limits>

/** @short A status bar of numbered panels; panel widths as set, the last one takes the rest. */
class TStatusPanels final : public QWidget {
    Q_OBJECT
public:
    explicit TStatusPanels(QWidget* parent = nullptr);
    void setPanelCount(int count);
    int panelCount() const { return int(m_panels.size()); }
    void setPanelText(int index, const QString& text);
    QString panelText(int index) const;
    void setPanelWidth(int index, int width);
    int panelWidth(int index) const;

private:
    QList<QLabel*> m_panels;
    QList<int> m_widths;
    QStringList m_texts; ///< what the panels say; the labels show it at the next frame
    QTimer m_frame;
    void applyTexts();
    void relayout();

protected:
    void resizeEvent(QResizeEvent* event) override;
};

/** @short A tab page: the status bar stays at its bottom, the content panel placed by coordinates. */
class AccountPage final : public QWidget {
    Q_OBJECT
public:
    explicit AccountPage(QWidget* parent = nullptr);
    TStatusPanels* statusBar = nullptr;
    QWidget* contentPanel = nullptr;
    /** @short Content panel at (-1, 39), client width + 2 wide, client height - 60 high. */
    void placeContent();

signals:
    /** The page got its size (the button bar floating above it follows). */
    void resized();

protected:
    void resizeEvent(QResizeEvent* event) override;
};

/** @short The message list: report view whose rows are found by their caption (the message number
 *  in decimal) through an index kept in step with the rows; the first row of a caption wins. */
class MessageList final : public QTreeWidget {
    Q_OBJECT
public:
    explicit MessageList(QWidget* parent = nullptr);
    QTreeWidgetItem* rowByCaption(const QString& caption) const;
    void appendRows(const QList<QTreeWidgetItem*>& rows);
    void deleteRow(QTreeWidgetItem* row);
    void clearRows();
    int rowCount() const { return topLevelItemCount(); }
    QTreeWidgetItem* row(int index) const { return topLevelItem(index); }
    /** @short The position of a row in the list, or -1 when it is not a row of the list. */
    int positionOf(QTreeWidgetItem* row) const;
    /** @short The row before this one, or null: itemAbove without asking the view's layout. */
    QTreeWidgetItem* rowBefore(QTreeWidgetItem* row) const {
        const int position = positionOf(row);
        return position > 0 ? topLevelItem(position - 1) : nullptr;
    }
    /** @short Sets the texts of columns firstColumn, firstColumn + 1, ... of a row at once. The
     *  view hears of the rows changed this way together, when control is back in the event loop
     *  (or before rows are added or deleted): call announceChangedRows to tell it now. */
    void setRowTexts(QTreeWidgetItem* row, int firstColumn, std::initializer_list<QString> texts);
    void announceChangedRows();
    /** @short The selected rows in list order. */
    QList<QTreeWidgetItem*> selectedRowsInOrder() const;

signals:
    void resized();
    void rowsInserted();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    QHash<QString, QList<QTreeWidgetItem*>> m_byCaption;
    mutable int m_lastPosition = -1; ///< where positionOf found the last row: a guess, checked before use
    int m_changedFirst = std::numeric_limits<int>::max(); ///< rows set by setRowTexts, not yet announced
    int m_changedLast = -1;
    QTimer m_announceTimer;
};

/** @short The look of the dialogs' report lists: one selected row, grid lines, no editing, and a
 *  selection that stays visible when the list loses the focus. */
/** @short A left click on a report list's viewport: on no row it clears the selection and is
 *  consumed (true); `released` tells whether the event was a left-button release (a click done). */
bool FilterReportListClick(QTreeWidget* list, QEvent* event, bool& released);
void SetUpReportList(QTreeWidget* list);
