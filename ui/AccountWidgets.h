// The widgets of one account tab that need more than Qt gives: the page (which keeps its status bar
// at the bottom) and the status bar of numbered panels; the report lists' look and clicks.
#pragma once

#include <QColor>
#include <QLabel>
#include <QList>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>

class QTabWidget;

/** The panels of a tab's status bar; the countdown panel is there only while one runs. */
enum StatusPanel : int { PanelConnection = 0, PanelActivity, PanelCountdown };

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

/** @short The colour the style fills a tab widget's pane with: what the button bar and the "@" on
 *  it are drawn on. */
QColor TabPaneColor(const QTabWidget* tabs);
/** @short The colours an inactive tab of such a tab widget is filled with (a gradient gives
 *  several), which its caption is drawn on. */
QList<QColor> InactiveTabColors(const QTabWidget* tabs);
/** @short `color`, made readable (see ReadableColor) on each of the backgrounds. */
QColor ReadableOnAll(const QColor& color, const QList<QColor>& backgrounds, double minimum);

/** @short Grid lines under a row and between its columns, drawn after the row itself. */
void DrawGridLines(QPainter* painter, const QStyleOptionViewItem& option, const QHeaderView* header,
                   const QPalette& palette);

/** @short Draws a cell as usual, then its right and bottom grid lines. */
class GridDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

/** @short A one-level list of rows with grid lines (the recipients of a message). */
class GridList final : public QTreeWidget {
    Q_OBJECT
public:
    explicit GridList(QWidget* parent = nullptr);
    int rowCount() const { return topLevelItemCount(); }
    QTreeWidgetItem* row(int index) const { return topLevelItem(index); }
    void appendRows(const QList<QTreeWidgetItem*>& rows) { addTopLevelItems(rows); }
    void clearRows() { clear(); }

protected:
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

/** @short The look of the dialogs' report lists: one selected row, grid lines, no editing, and a
 *  selection that stays visible when the list loses the focus. */
/** @short A left click on a report list's viewport: on no row it clears the selection and is
 *  consumed (true); `released` tells whether the event was a left-button release (a click done). */
bool FilterReportListClick(QTreeWidget* list, QEvent* event, bool& released);
void SetUpReportList(QTreeWidget* list);
