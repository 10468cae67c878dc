#include "DialogFit.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyleOption>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <QtMath>

namespace {

/** A caption as it is drawn: "&" marks the mnemonic, "&&" is one "&". */
QString shownCaption(QString text) {
    text.replace(u"&&"_qs, QString(QChar(1)));
    text.remove(u'&');
    text.replace(QChar(1), u'&');
    return text;
}

/** How wide a text is drawn: its ink, from where the pen starts (a glyph may reach left of it). */
int inkWidth(const QFontMetrics& fm, const QString& text) {
    if (text.isEmpty()) return 0;
    const QRect ink = fm.boundingRect(text);
    return ink.right() + 1 - std::min(0, ink.left());
}

/** Plain widgets, frames and group boxes hold controls; anything else is one control. */
bool holdsControls(const QWidget* w) {
    const QMetaObject* type = w->metaObject();
    return type == &QWidget::staticMetaObject || type == &QFrame::staticMetaObject ||
           type == &QGroupBox::staticMetaObject;
}

/** The widgets placed by coordinates under `parent`: none where a layout places them. */
void collectPlaced(QWidget* parent, QList<QWidget*>& out) {
    if (parent->layout()) return;
    for (QObject* child : parent->children()) {
        auto* w = qobject_cast<QWidget*>(child);
        if (!w || w->isWindow()) continue;
        out.append(w);
        if (holdsControls(w)) collectPlaced(w, out);
    }
}

/** The room a control needs for its caption with its own font (0: it asks for none that way). */
QSize neededRoom(QWidget* w) {
    const QFontMetrics fm = w->fontMetrics();
    if (auto* label = qobject_cast<QLabel*>(w)) {
        if (label->wordWrap() || label->text().isEmpty()) return {};
        const int frame = label->height() - label->contentsRect().height() + 2 * label->margin();
        const QString text = label->buddy() ? shownCaption(label->text()) : label->text();
        const int indent = std::max(0, label->indent());
        return {inkWidth(fm, text) + label->width() - label->contentsRect().width() + 2 * label->margin() + indent,
                fm.height() + frame};
    }
    if (auto* button = qobject_cast<QPushButton*>(w)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        option.icon = button->icon();
        option.iconSize = button->iconSize();
        const QRect contents = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        const bool icon = !button->icon().isNull();
        const int caption = inkWidth(fm, shownCaption(button->text())) + (icon ? button->iconSize().width() + 4 : 0);
        const int high = std::max(fm.height(), icon ? button->iconSize().height() : 0);
        return {caption + button->width() - contents.width(), high + button->height() - contents.height()};
    }
    if (qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w) || qobject_cast<QToolButton*>(w))
        return {w->sizeHint().width(), fm.height()};
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        const int frame = edit->hasFrame() ? 2 * edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) : 0;
        const QMargins margins = edit->textMargins();
        return {0, fm.height() + frame + 2 + margins.top() + margins.bottom()};
    }
    if (auto* combo = qobject_cast<QComboBox*>(w)) {
        QStyleOptionComboBox option;
        option.initFrom(combo);
        option.editable = combo->isEditable();
        option.frame = combo->hasFrame();
        const QRect field =
            combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo);
        int widest = 0;
        for (int i = 0; i < combo->count(); ++i)
            widest = std::max(widest, inkWidth(fm, combo->itemText(i)));
        return {widest + combo->width() - field.width(), fm.height() + combo->height() - field.height()};
    }
    if (auto* group = qobject_cast<QGroupBox*>(w)) {
        if (group->title().isEmpty()) return {};
        QStyleOptionGroupBox option;
        option.initFrom(group);
        option.text = group->title();
        option.lineWidth = 1;
        option.textAlignment = group->alignment();
        option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        const QRect label =
            group->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, group);
        return {2 * std::max(0, label.left()) + inkWidth(fm, shownCaption(group->title())), 0};
    }
    return {};
}

/** A coordinate scaled; the far edge rounded up, so that a scaled size is never short. */
QRect scaled(const QRect& r, double fx, double fy) {
    const int left = qFloor(r.x() * fx), top = qFloor(r.y() * fy);
    const int right = qCeil((r.x() + r.width()) * fx), bottom = qCeil((r.y() + r.height()) * fy);
    return QRect(left, top, right - left, bottom - top);
}

/** Keeps what a dialog laid out by coordinates looks like with the usual font (its design), and
 *  scales it from there for the font it has now. */
class FontFitter final : public QObject {
public:
    explicit FontFitter(QWidget* dialog) : QObject(dialog), m_dialog(dialog) {
        setObjectName(name());
        QList<QWidget*> placed;
        collectPlaced(dialog, placed);
        for (QWidget* w : std::as_const(placed)) {
            Placed p{w, w->geometry(), {}};
            if (auto* view = qobject_cast<QTreeView*>(w))
                for (int c = 0; c < view->header()->count(); ++c)
                    p.columns.append(view->header()->sectionSize(c));
            m_placed.append(p);
        }
        m_size = dialog->size();
        m_minimum = dialog->minimumSize();
        m_fixed = dialog->minimumSize() == dialog->maximumSize();
    }

    /** The design scaled by what the captions need with the dialog's font now. */
    void fit() {
        m_font = m_dialog->font();
        if (m_dialog->findChild<QScrollArea*>(u"scrFit"_qs, Qt::FindDirectChildrenOnly))
            return; // its content went into a scroll area for a small screen: it stays as it is
        restore();
        double fx = 1, fy = 1;
        for (const Placed& p : std::as_const(m_placed)) {
            if (!p.widget) continue;
            const QSize need = neededRoom(p.widget);
            if (p.design.width() > 0) fx = std::max(fx, double(need.width()) / p.design.width());
            if (p.design.height() > 0) fy = std::max(fy, double(need.height()) / p.design.height());
        }
        if (fx > 1 || fy > 1) {
            for (const Placed& p : std::as_const(m_placed)) {
                if (!p.widget) continue;
                p.widget->setGeometry(scaled(p.design, fx, fy));
                if (auto* view = qobject_cast<QTreeView*>(p.widget.data())) {
                    QHeaderView* header = view->header();
                    for (int c = 0; c < header->count() - (header->stretchLastSection() ? 1 : 0); ++c)
                        header->resizeSection(c, qCeil(header->sectionSize(c) * fx));
                }
            }
            setSize(scaled(QRect(QPoint(0, 0), m_size), fx, fy).size(),
                    scaled(QRect(QPoint(0, 0), m_minimum), fx, fy).size());
        }
        for (const Placed& p : std::as_const(m_placed))
            if (auto* view = qobject_cast<QTreeView*>(p.widget.data())) FitColumnsToHeaders(view);
    }

    /** The fitter of a dialog, if it has one (found by name: the class has no meta-object of its own). */
    static FontFitter* of(const QWidget* dialog) {
        return static_cast<FontFitter*>(dialog->findChild<QObject*>(name(), Qt::FindDirectChildrenOnly));
    }
    static QString name() { return u"fitFont"_qs; }

    /** Fitted again when the font changed since (the desktop's, while the program runs). */
    void refitIfFontChanged() {
        if (m_dialog->font() != m_font) fit();
    }

private:
    struct Placed {
        QPointer<QWidget> widget;
        QRect design;
        QList<int> columns;
    };
    QWidget* m_dialog;
    QList<Placed> m_placed;
    QSize m_size, m_minimum;
    bool m_fixed = false;
    QFont m_font;

    void restore() {
        for (const Placed& p : std::as_const(m_placed)) {
            if (!p.widget) continue;
            p.widget->setGeometry(p.design);
            if (auto* view = qobject_cast<QTreeView*>(p.widget.data()))
                for (int c = 0; c < p.columns.size() && c < view->header()->count(); ++c)
                    view->header()->resizeSection(c, p.columns[c]);
        }
        setSize(m_size, m_minimum);
    }
    void setSize(QSize size, QSize minimum) {
        if (m_fixed) {
            m_dialog->setFixedSize(size);
        } else {
            m_dialog->setMinimumSize(minimum);
            m_dialog->resize(size);
        }
    }
};

/** The dialog within the room its owner's screen has: its content put into a scroll area when it
 *  needs more (only once it is shown: until then its widgets stay where callers put them), the
 *  dialog as large as the content or the room, whichever is less. */
void fitRoom(QDialog* dialog, bool shown) {
    const QWidget* owner = dialog->parentWidget() ? dialog->parentWidget()->window() : dialog;
    const QScreen* screen = owner->screen();
    if (!screen) return;
    const QSize room = WindowRoom(screen->availableGeometry()).size();
    auto* area = dialog->findChild<QScrollArea*>(u"scrFit"_qs, Qt::FindDirectChildrenOnly);
    if (!area) {
        QLayout* layout = dialog->layout();
        const bool fixed = dialog->minimumSize() == dialog->maximumSize() ||
                           (layout && layout->sizeConstraint() == QLayout::SetFixedSize);
        // What the dialog cannot do without: all of it when its size is fixed, else its least size.
        QSize least = fixed ? dialog->size() : dialog->minimumSize();
        if (layout) least = fixed ? layout->totalSizeHint() : layout->totalMinimumSize();
        if (least.width() <= room.width() && least.height() <= room.height()) {
            if (!fixed) dialog->resize(dialog->size().boundedTo(room));
            return;
        }
        if (!shown) return;
        // Too large for this screen: the content scrolls inside a dialog that fits. The widgets
        // keep whether they are shown; the new parents show them with themselves.
        area = new QScrollArea(dialog);
        area->setObjectName(u"scrFit"_qs);
        area->setFrameShape(QFrame::NoFrame);
        area->setProperty("fixedDialog", fixed);
        auto* content = new QWidget;
        if (layout) {
            content->setLayout(layout); // takes the layout and the widgets it places
            area->setWidgetResizable(!fixed);
            auto* outer = new QVBoxLayout(dialog);
            outer->setContentsMargins(0, 0, 0, 0);
            outer->addWidget(area);
            dialog->setMinimumSize(QSize(0, 0));
            dialog->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        } else {
            content->setFixedSize(dialog->size());
            for (QObject* child : dialog->children()) {
                auto* w = qobject_cast<QWidget*>(child);
                if (w && w != area && !w->isWindow()) w->setParent(content);
            }
        }
        area->setWidget(content);
        area->show();
    }
    const bool fixed = area->property("fixedDialog").toBool();
    QLayout* inner = area->widget()->layout();
    const QSize whole = inner ? (fixed ? inner->totalSizeHint() : inner->totalMinimumSize()) : area->widget()->size();
    const int bar = area->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, area);
    const QSize size = QSize(whole.width() + (whole.height() > room.height() ? bar : 0),
                             whole.height() + (whole.width() > room.width() ? bar : 0))
                           .boundedTo(room);
    if (fixed)
        dialog->setFixedSize(size);
    else
        dialog->resize(dialog->size().expandedTo(size).boundedTo(room));
    if (!inner) area->setGeometry(dialog->rect());
}

/** Each time a dialog is shown: fitted again to its font when that changed since, to the room on
 *  its screen, and moved inside the screen's free area. */
class ScreenKeeper final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            auto* window = static_cast<QDialog*>(watched);
            if (FontFitter* fitter = FontFitter::of(window)) fitter->refitIfFontChanged();
            fitRoom(window, true);
            const QScreen* screen = window->screen();
            if (!screen) return false;
            const QRect room = WindowRoom(screen->availableGeometry());
            const QRect g = window->geometry();
            const int x = std::clamp(g.x(), room.left(), std::max(room.left(), room.right() + 1 - g.width()));
            const int y = std::clamp(g.y(), room.top(), std::max(room.top(), room.bottom() + 1 - g.height()));
            if (x != g.x() || y != g.y()) window->move(window->pos() + QPoint(x - g.x(), y - g.y()));
        }
        return false;
    }
};

} // namespace

void FitColumnsToHeaders(QTreeView* view) {
    QHeaderView* header = view->header();
    const QFontMetrics fm = header->fontMetrics();
    const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    const int sortMark =
        header->isSortIndicatorShown() ? header->style()->pixelMetric(QStyle::PM_HeaderMarkSize, nullptr, header) : 0;
    const int count = header->count();
    for (int c = 0; c < count; ++c) {
        if (header->isSectionHidden(c)) continue;
        if (c == count - 1 && header->stretchLastSection()) continue;
        const QString caption = view->model()->headerData(c, Qt::Horizontal).toString();
        const int needed = inkWidth(fm, caption) + 2 * margin + sortMark;
        if (header->sectionSize(c) < needed) header->resizeSection(c, needed);
    }
}

void FitToFont(QWidget* dialog) {
    FontFitter* fitter = FontFitter::of(dialog);
    if (!fitter) fitter = new FontFitter(dialog);
    fitter->fit();
}

QRect WindowRoom(const QRect& available) {
    // Room for the title bar and the frame, which the window manager adds around the window.
    constexpr int kFrameTop = 32, kFrameSide = 8;
    return available.adjusted(kFrameSide, kFrameTop, -kFrameSide, -kFrameSide);
}

void FitToScreen(QDialog* dialog) {
    dialog->installEventFilter(new ScreenKeeper(dialog));
    fitRoom(dialog, false);
}
