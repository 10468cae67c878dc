// A read-only view of styled paragraphs for the dialogue log. A 10,000-message header pass writes
// some 770,000 paragraphs, so paragraphs are kept compactly (LogStore) and only the visible lines
// are laid out and painted.
#pragma once

#include "LogStore.h"

#include <QAbstractScrollArea>
#include <QColor>
#include <QFont>
#include <QHash>
#include <QList>
#include <QObject>
#include <QTimer>
#include <QVector>

/** @short WCAG contrast ratio of two colours (1 to 21). */
double ContrastRatio(const QColor& a, const QColor& b);
/** @short The colour with its hue and saturation, its lightness moved (darker on a light background,
 *  lighter on a dark one) just enough for a contrast of `minimum` against the background; the colour
 *  itself when it has that already. */
QColor ReadableColor(const QColor& color, const QColor& background, double minimum = 4.5);

/** @short The style sheet shared by every view: numbered text styles (font, size, colour). */
class TRVStyle final : public QObject {
    Q_OBJECT
public:
    explicit TRVStyle(QObject* parent = nullptr);
    /** @short Adds a style (plain, of the given font, size in points and colour); returns its number. */
    int AddStyle(const QString& fontName, int pointSize, const QColor& color);
    int count() const { return int(m_fonts.size()); }
    const QFont& font(int style) const;
    QColor color(int style) const;
    /** @short The height of one line, the same for every style so that scrolling stays O(1). */
    int lineHeight() const { return m_lineHeight; }

signals:
    void changed();

private:
    QList<QFont> m_fonts;
    QList<QColor> m_colors;
    int m_lineHeight = 0;
};

class StyledTextView final : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit StyledTextView(TRVStyle* sheet, QWidget* parent = nullptr);

    /** @short Appends text in a style of the sheet, one paragraph a CR LF line. An empty line shows
     *  as one blank; lone CRs and LFs stay in their line; text after the last CR LF is a paragraph. */
    void AddLines(QStringView text, int style);
    /** @short AddLines of Windows-1252 bytes. */
    void AddLines(QByteArrayView bytes, int style) {
        m_store.append(bytes, style);
        followShift();
    }
    /** @short Keeps at most about `bytes` of text (0: no bound), the oldest lines going first and a
     *  first line in `noteStyle` saying how many went. */
    void setLimit(qsizetype bytes, int noteStyle);
    void Clear();
    /** @short Brings the scroll range up to date with the paragraphs appended. */
    void Format();
    /** @short The first visible line, and the largest value it can take. */
    int VScrollPos() const;
    int VScrollMax() const;
    void ScrollTo(int position);
    /** @short Paints again at the next turn of the event loop. */
    void Repaint();

    int paragraphCount() const { return m_store.count(); }
    /** @short The lines the log's bound has dropped; the first paragraph is their note when any. */
    qint64 droppedLines() const { return m_store.dropped(); }
    QString paragraphText(int index) const { return m_store.text(index); }
    int paragraphStyle(int index) const { return m_store.style(index); }
    /** @short Whether appends keep the end in view: the view showed its end when last scrolled. */
    bool followsEnd() const { return m_followsEnd; }
    QString selectedText() const;
    void copySelection() const;
    void selectAll();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    struct Position {
        int paragraph = -1;
        int column = 0;
        auto operator<=>(const Position&) const = default;
    };
    Position positionAt(const QPoint& point) const;
    /** @short The view stays on the same lines when the bound drops the oldest. */
    void followShift();
    int visibleLines() const;
    void updateHorizontalRange(int width);
    /** @short Shows the paragraphs and the scroll position at the next frame (at most one a frame). */
    void scheduleFrame();
    void applyFrame();

    TRVStyle* m_sheet;
    LogStore m_store;
    Position m_anchor;
    Position m_cursor;
    int m_widestSeen = 0;
    int m_top = 0;  ///< the first visible line: the scroll position, shown at the next frame
    QTimer m_frame; ///< single shot: the scroll bar and the lines catch up with appends once a frame
    bool m_applying = false;
    bool m_followsEnd = true;
    /** @short The style's colour as painted on this view's background (see ReadableColor). */
    QColor paintedColor(int style) const;
    mutable QHash<quint64, QColor> m_readable; ///< (colour, background) -> the colour painted
};
