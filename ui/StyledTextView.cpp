#include "StyledTextView.h"

#include "Cp1252.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <cmath>
#include <cstring>

namespace {
constexpr int kMargin = 3;
}

namespace {
double luminance(const QColor& c) {
    const auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}
} // namespace

double ContrastRatio(const QColor& a, const QColor& b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor ReadableColor(const QColor& color, const QColor& background, double minimum) {
    if (ContrastRatio(color, background) >= minimum) return color;
    // Towards black on a background lighter than the middle grey, towards white on a darker one.
    const bool darken = luminance(background) > 0.18;
    const QColor hsl = color.toHsl();
    const float hue = hsl.hslHueF(), saturation = hsl.hslSaturationF();
    float lightness = hsl.lightnessF();
    QColor out = color;
    for (int step = 0; step < 100 && ContrastRatio(out, background) < minimum; ++step) {
        lightness = std::clamp(lightness + (darken ? -0.01f : 0.01f), 0.0f, 1.0f);
        out = QColor::fromHslF(hue, saturation, lightness).toRgb();
    }
    return out;
}

TRVStyle::TRVStyle(QObject* parent) : QObject(parent) {
    // The sheet starts with six styles of its own (Arial 10) that the window never uses.
    for (int i = 0; i < 6; ++i)
        AddStyle(u"Arial"_qs, 10, QApplication::palette().color(QPalette::WindowText));
}

int TRVStyle::AddStyle(const QString& fontName, int pointSize, const QColor& color) {
    QFont f(fontName, pointSize);
    f.setStyleHint(fontName.contains(u"Courier"_qs) ? QFont::TypeWriter : QFont::SansSerif);
    m_fonts.append(f);
    m_colors.append(color);
    m_lineHeight = std::max(m_lineHeight, QFontMetrics(f).lineSpacing());
    emit changed();
    return int(m_fonts.size()) - 1;
}

const QFont& TRVStyle::font(int style) const {
    return m_fonts[std::clamp(style, 0, count() - 1)];
}
QColor TRVStyle::color(int style) const {
    return m_colors[std::clamp(style, 0, count() - 1)];
}

StyledTextView::StyledTextView(TRVStyle* sheet, QWidget* parent) : QAbstractScrollArea(parent), m_sheet(sheet) {
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    viewport()->setCursor(Qt::IBeamCursor);
    setFocusPolicy(Qt::StrongFocus);
    verticalScrollBar()->setSingleStep(1);
    connect(sheet, &TRVStyle::changed, this, [this] { Format(); });
    // A header pass appends to the log thousands of times a second: the scroll bar and the
    // visible lines follow once a frame (40 ms), not once an append.
    m_frame.setSingleShot(true);
    m_frame.setInterval(40);
    connect(&m_frame, &QTimer::timeout, this, &StyledTextView::applyFrame);
    // The user's scrolling (bar, wheel, keys) moves the position at once.
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (m_applying) return;
        m_top = value;
        // The bar may not know yet of the lines of the last frame: its end is the end.
        m_followsEnd = value >= verticalScrollBar()->maximum();
        viewport()->update();
    });
}

void StyledTextView::scheduleFrame() {
    if (!m_frame.isActive()) m_frame.start();
}

void StyledTextView::applyFrame() {
    m_applying = true;
    QScrollBar* bar = verticalScrollBar();
    bar->setPageStep(visibleLines());
    bar->setRange(0, VScrollMax());
    bar->setValue(m_top);
    m_applying = false;
    viewport()->update();
}

void StyledTextView::AddLines(QStringView text, int style) {
    m_store.append(text, style);
    followShift();
}

void StyledTextView::setLimit(qsizetype bytes, int noteStyle) {
    m_store.setLimit(bytes, noteStyle);
    followShift();
    Format();
}

void StyledTextView::followShift() {
    const int shift = m_store.takeShift();
    if (shift == 0) return;
    m_top = std::max(0, m_top - shift);
    for (Position* p : {&m_anchor, &m_cursor})
        if (p->paragraph >= 0) p->paragraph = std::max(0, p->paragraph - shift);
}

void StyledTextView::Clear() {
    m_store.clear();
    m_followsEnd = true;
    m_anchor = m_cursor = Position();
    m_widestSeen = 0;
    Format();
}

int StyledTextView::visibleLines() const {
    return std::max(1, viewport()->height() / std::max(1, m_sheet->lineHeight()));
}

void StyledTextView::Format() {
    m_top = std::min(m_top, VScrollMax());
    scheduleFrame();
}

int StyledTextView::VScrollPos() const {
    return m_top;
}
int StyledTextView::VScrollMax() const {
    return std::max(0, paragraphCount() - visibleLines());
}
void StyledTextView::ScrollTo(int position) {
    m_top = std::clamp(position, 0, VScrollMax());
    m_followsEnd = m_top == VScrollMax();
    scheduleFrame();
}
void StyledTextView::Repaint() {
    viewport()->update();
}

void StyledTextView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    // Whether the view showed its end is judged by the size it had: a smaller view (a scroll bar
    // that appears, say) has a larger last position.
    const bool atEnd = m_followsEnd;
    Format();
    if (atEnd) ScrollTo(VScrollMax());
    applyFrame();
}

void StyledTextView::updateHorizontalRange(int width) {
    if (width <= m_widestSeen) return;
    m_widestSeen = width;
    QScrollBar* bar = horizontalScrollBar();
    bar->setPageStep(viewport()->width());
    bar->setRange(0, std::max(0, m_widestSeen + 2 * kMargin - viewport()->width()));
}

QColor StyledTextView::paintedColor(int style) const {
    // The log's colours keep their hues on any palette, light or dark, but are always readable.
    const QColor color = m_sheet->color(style);
    const QColor background = viewport()->palette().color(viewport()->backgroundRole());
    const quint64 key = (quint64(color.rgba()) << 32) | background.rgba();
    auto it = m_readable.constFind(key);
    if (it == m_readable.cend()) it = m_readable.insert(key, ReadableColor(color, background));
    return *it;
}

void StyledTextView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    const int lineHeight = m_sheet->lineHeight();
    const int first = VScrollPos();
    const int last = std::min(paragraphCount(), first + visibleLines() + 1);
    const int dx = kMargin - horizontalScrollBar()->value();
    const Position selFrom = std::min(m_anchor, m_cursor);
    const Position selTo = std::max(m_anchor, m_cursor);
    const QColor highlight = palette().color(QPalette::Highlight);
    const QColor highlightText = palette().color(QPalette::HighlightedText);
    int widest = 0;
    for (int i = first; i < last; ++i) {
        const int style = m_store.style(i);
        const QString text = paragraphText(i);
        const QFont& font = m_sheet->font(style);
        const QFontMetrics fm(font);
        const int y = (i - first) * lineHeight;
        painter.setFont(font);
        const int width = fm.horizontalAdvance(text);
        widest = std::max(widest, width);
        int from = 0, to = 0;
        if (selFrom.paragraph >= 0 && selFrom != selTo && i >= selFrom.paragraph && i <= selTo.paragraph) {
            from = i == selFrom.paragraph ? selFrom.column : 0;
            to = i == selTo.paragraph ? selTo.column : int(text.size());
        }
        const int baseline = y + fm.ascent() + (lineHeight - fm.height()) / 2;
        if (to > from) {
            const int x0 = dx + fm.horizontalAdvance(text.left(from));
            const int x1 = dx + fm.horizontalAdvance(text.left(to));
            painter.fillRect(QRect(x0, y, x1 - x0, lineHeight), highlight);
            painter.setPen(paintedColor(style));
            painter.drawText(dx, baseline, text.left(from));
            painter.setPen(highlightText);
            painter.drawText(x0, baseline, text.mid(from, to - from));
            painter.setPen(paintedColor(style));
            painter.drawText(x1, baseline, text.mid(to));
        } else {
            painter.setPen(paintedColor(style));
            painter.drawText(dx, baseline, text);
        }
    }
    updateHorizontalRange(widest);
}

StyledTextView::Position StyledTextView::positionAt(const QPoint& point) const {
    if (paragraphCount() == 0) return {};
    const int line = VScrollPos() + std::max(0, point.y()) / std::max(1, m_sheet->lineHeight());
    Position pos;
    pos.paragraph = std::min(line, paragraphCount() - 1);
    const QString text = paragraphText(pos.paragraph);
    const QFontMetrics fm(m_sheet->font(m_store.style(pos.paragraph)));
    const int x = point.x() - kMargin + horizontalScrollBar()->value();
    if (line >= paragraphCount()) {
        pos.column = int(text.size());
        return pos;
    }
    int lo = 0, hi = int(text.size());
    while (lo < hi) { // first column whose middle lies right of x
        const int mid = (lo + hi) / 2;
        const int middle = (fm.horizontalAdvance(text.left(mid)) + fm.horizontalAdvance(text.left(mid + 1))) / 2;
        if (middle < x)
            lo = mid + 1;
        else
            hi = mid;
    }
    pos.column = lo;
    return pos;
}

void StyledTextView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    m_anchor = m_cursor = positionAt(event->position().toPoint());
    viewport()->update();
}

void StyledTextView::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton)) return;
    m_cursor = positionAt(event->position().toPoint());
    viewport()->update();
}

void StyledTextView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy))
        copySelection();
    else if (event->matches(QKeySequence::SelectAll))
        selectAll();
    else
        QAbstractScrollArea::keyPressEvent(event);
}

void StyledTextView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* copy = menu.addAction(u"&Copiar"_qs, this, &StyledTextView::copySelection);
    copy->setEnabled(m_anchor != m_cursor);
    menu.addAction(u"Seleccionar &todo"_qs, this, &StyledTextView::selectAll);
    menu.exec(event->globalPos());
}

void StyledTextView::selectAll() {
    if (paragraphCount() == 0) return;
    m_anchor = {0, 0};
    m_cursor = {paragraphCount() - 1, m_store.length(paragraphCount() - 1)};
    viewport()->update();
}

QString StyledTextView::selectedText() const {
    const Position from = std::min(m_anchor, m_cursor);
    const Position to = std::max(m_anchor, m_cursor);
    if (from.paragraph < 0 || from == to) return {};
    QStringList lines;
    for (int i = from.paragraph; i <= to.paragraph; ++i) {
        const QString text = paragraphText(i);
        const int a = i == from.paragraph ? from.column : 0;
        const int b = i == to.paragraph ? to.column : int(text.size());
        lines << text.mid(a, b - a);
    }
    return lines.join(u'\n');
}

void StyledTextView::copySelection() const {
    const QString text = selectedText();
    if (!text.isEmpty()) QGuiApplication::clipboard()->setText(text);
}
