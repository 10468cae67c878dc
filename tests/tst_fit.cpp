// Every dialog and the main window on the desktops users have: the usual font, 12 and 14 points, a
// light and a dark palette (Fusion). Run as well on a 1600 x 1000 screen at a scale of 2, which is
// 800 x 500 to the program. A row fails on a caption cut off (wider or higher than the room its
// control's style leaves it, measured with the control's font), a button out of the screen's free
// area that no scrolling brings into view, a text below 4.5:1 or a mark below 3:1 against what is
// actually painted behind it, or a message list that shows fewer than eight rows.
#include "AccountTab.h"
#include "AccountWidgets.h"
#include "MessageList.h"
#include "PasswordScrambling.h"
#include "RulesDialog.h"
#include "StyledTextView.h"
#include "WindowDialogs.h"
#include "WindowHarness.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyleFactory>
#include <QStyleOption>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <QTreeView>

namespace {

QString shown(QString text) {
    text.replace(u"&&"_qs, QString(QChar(1)));
    text.remove(u'&');
    return text.replace(QChar(1), u'&');
}

/** How wide a text's ink is, from where the pen starts. */
int ink(const QFontMetrics& fm, const QString& text) {
    const QRect r = fm.boundingRect(text);
    return text.isEmpty() ? 0 : r.right() + 1 - std::min(0, r.left());
}

QString nameOf(const QWidget* w) {
    return w->window()->objectName() + u'/' +
           (w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className()) : w->objectName());
}

/** What a widget shows, painted; pixels by logical coordinates of `window`. */
struct Shot {
    QImage image;
    qreal scale = 1;
    QWidget* window = nullptr;
    explicit Shot(QWidget* w) : image(w->grab().toImage()), scale(image.devicePixelRatio()), window(w) {}
    QRect pixels(const QWidget* w, QRect r) const {
        r.moveTopLeft(w->mapTo(window, r.topLeft()));
        return QRect((r.topLeft() * scale), (r.size() * scale)).intersected(image.rect());
    }
    /** The colour most of the area is painted in: the background of whatever is drawn there. A
     *  gradient paints each line another shade: shades close to each other count together. */
    QColor mostCommon(const QWidget* w, const QRect& r) const {
        struct Shade {
            int count = 0;
            qint64 red = 0, green = 0, blue = 0;
        };
        QHash<int, Shade> shades;
        const QRect area = pixels(w, r);
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x) {
                const QRgb c = image.pixel(x, y);
                Shade& s = shades[(qRed(c) >> 4) << 8 | (qGreen(c) >> 4) << 4 | qBlue(c) >> 4];
                ++s.count;
                s.red += qRed(c);
                s.green += qGreen(c);
                s.blue += qBlue(c);
            }
        Shade best;
        for (const Shade& s : std::as_const(shades))
            if (s.count > best.count) best = s;
        if (best.count == 0) return {};
        return QColor(int(best.red / best.count), int(best.green / best.count), int(best.blue / best.count));
    }
};

void checkCaptions(QWidget* window, QStringList& problems) {
    const auto cut = [&](const QWidget* w, const QString& what) { problems << u"cut: "_qs + nameOf(w) + u' ' + what; };
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(window) || w->window() != window || w->size().isEmpty()) continue;
        if (qobject_cast<TStatusPanels*>(w->parentWidget()))
            continue; // the server's texts, the last panel takes the rest
        const QFontMetrics fm = w->fontMetrics();
        if (auto* label = qobject_cast<QLabel*>(w)) {
            if (label->wordWrap() || label->text().isEmpty()) continue;
            const QRect room = label->contentsRect().marginsRemoved(
                QMargins(label->margin(), label->margin(), label->margin(), label->margin()));
            const QString text = label->buddy() ? shown(label->text()) : label->text();
            if (ink(fm, text) > room.width() || fm.height() > room.height()) cut(w, text);
        } else if (auto* button = qobject_cast<QPushButton*>(w)) {
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = button->text();
            const QRect room = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
            const int icon = button->icon().isNull() ? 0 : button->iconSize().width() + 4;
            if (ink(fm, shown(button->text())) + icon > room.width() || fm.height() > room.height())
                cut(w, button->text());
        } else if (qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w)) {
            auto* box = static_cast<QAbstractButton*>(w);
            QStyleOptionButton option;
            option.initFrom(box);
            option.text = box->text();
            const bool check = qobject_cast<QCheckBox*>(w);
            const QRect room = box->style()->subElementRect(
                check ? QStyle::SE_CheckBoxContents : QStyle::SE_RadioButtonContents, &option, box);
            if (ink(fm, shown(box->text())) > room.width() + 1) cut(w, box->text());
        } else if (auto* tool = qobject_cast<QToolButton*>(w)) {
            if (tool->toolButtonStyle() != Qt::ToolButtonIconOnly && tool->width() < tool->sizeHint().width())
                cut(w, tool->text());
        } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
            QStyleOptionGroupBox option;
            option.initFrom(group);
            option.text = group->title();
            option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
            const QRect label =
                group->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, group);
            if (label.left() + ink(fm, group->title()) > group->width()) cut(w, group->title());
        } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
            QStyleOptionComboBox option;
            option.initFrom(combo);
            option.frame = combo->hasFrame();
            const QRect room =
                combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo);
            if (ink(fm, combo->currentText()) > room.width() || fm.height() > room.height())
                cut(w, combo->currentText());
        } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
            QStyleOptionFrame option;
            option.initFrom(edit);
            option.lineWidth = edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) : 0;
            const QRect room = edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit);
            if (fm.height() > room.height() - 2) cut(w, u"(field height)"_qs);
        } else if (auto* header = qobject_cast<QHeaderView*>(w)) {
            const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
            for (int c = 0; c < header->count(); ++c) {
                if (header->isSectionHidden(c)) continue;
                const QString caption = header->model()->headerData(c, Qt::Horizontal).toString();
                if (header->sectionSize(c) > 0 &&
                    ink(header->fontMetrics(), caption) + 2 * margin > header->sectionSize(c))
                    cut(w, caption);
            }
        }
    }
}

void checkReach(QWidget* window, const QList<QWidget*>& outOfSightByDesign, QStringList& problems) {
    const QRect free = window->screen()->availableGeometry();
    if (!free.contains(window->geometry())) problems << u"off the screen: "_qs + window->objectName();
    for (QAbstractButton* b : window->findChildren<QAbstractButton*>()) {
        if (!b->isVisibleTo(window) || b->window() != window || outOfSightByDesign.contains(b)) continue;
        if (qobject_cast<QScrollBar*>(b->parentWidget())) continue;
        const QRect onWindow(b->mapTo(window, QPoint(0, 0)), b->size());
        // Inside a scroll area a button is reachable when it lies on the area's content.
        QWidget* area = b->parentWidget();
        while (area && !qobject_cast<QScrollArea*>(area) && area != window)
            area = area->parentWidget();
        if (auto* scroll = qobject_cast<QScrollArea*>(area); scroll && scroll->widget()) {
            const QRect content(QPoint(0, 0), scroll->widget()->size());
            if (!content.contains(QRect(b->mapTo(scroll->widget(), QPoint(0, 0)), b->size())))
                problems << u"beyond the content: "_qs + nameOf(b);
            continue;
        }
        if (!window->rect().contains(onWindow) || !free.contains(QRect(b->mapToGlobal(QPoint(0, 0)), b->size())))
            problems << u"out of reach: "_qs + nameOf(b);
    }
}

void checkContrast(QWidget* window, QStringList& problems) {
    const Shot shot(window);
    const auto low = [&](const QWidget* w, const QColor& ink, const QColor& background, double least) {
        if (ContrastRatio(ink, background) < least)
            problems << u"contrast %1 < %2: %3 (%4 on %5)"_qs.arg(ContrastRatio(ink, background), 0, 'f', 2)
                            .arg(least)
                            .arg(nameOf(w), ink.name(), background.name());
    };
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisible() || w->window() != window || w->size().isEmpty() || !w->isEnabled()) continue;
        // What is shown of it: a button scrolled out of view is not painted in the shot.
        if (!w->visibleRegion().boundingRect().contains(w->contentsRect())) continue;
        const bool text = (qobject_cast<QLabel*>(w) && !static_cast<QLabel*>(w)->text().isEmpty()) ||
                          qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w);
        if (!text || (qobject_cast<QToolButton*>(w) && static_cast<QToolButton*>(w)->text().size() <= 1)) continue;
        // Inside its frame or border, where the text is drawn.
        low(w, w->palette().color(w->foregroundRole()), shot.mostCommon(w, w->contentsRect().adjusted(3, 3, -3, -3)),
            4.5);
    }
}

QPalette darkPalette() {
    QPalette dark(QColor(53, 53, 53)); // button and window; white text, black base
    dark.setColor(QPalette::Window, QColor(45, 45, 48));
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
    return dark;
}

} // namespace

class TestFit : public QObject {
    Q_OBJECT
    std::unique_ptr<WindowHarness> h;

    /** Shown over the main window as the program shows it, checked, then closed. */
    void check(TfrmPrincipal* main, QDialog* d, QStringList& problems, const QList<QWidget*>& outOfSight = {}) {
        d->move(main->x() + (main->width() - d->width()) / 2, main->y() + (main->height() - d->height()) / 2);
        d->show();
        QVERIFY(QTest::qWaitForWindowExposed(d));
        checkCaptions(d, problems);
        checkReach(d, outOfSight, problems);
        checkContrast(d, problems);
        d->hide();
    }

private slots:
    void initTestCase() { QApplication::setStyle(QStyleFactory::create(u"Fusion"_qs)); }
    void init() { h = std::make_unique<WindowHarness>(); }
    void cleanup() { h.reset(); }

    void everythingFitsAndReads_data() {
        QTest::addColumn<int>("pointSize"); // 0: the usual font
        QTest::addColumn<bool>("dark");
        QTest::addColumn<bool>("whileRunning"); // the font changed after the windows were made
        for (const int size : {0, 12, 14})
            for (const bool dark : {false, true})
                QTest::addRow("%s, %s", size ? qPrintable(QString::number(size) + u" pt"_qs) : "usual font",
                              dark ? "dark" : "light")
                    << size << dark << false;
        QTest::newRow("14 pt while running, light") << 14 << false << true;
    }
    void everythingFitsAndReads() {
        QFETCH(int, pointSize);
        QFETCH(bool, dark);
        QFETCH(bool, whileRunning);
        const QFont usualFont = QApplication::font();
        const QPalette usualPalette = QApplication::palette();
        const auto restore = qScopeGuard([&] {
            QApplication::setFont(usualFont);
            QApplication::setPalette(usualPalette);
        });
        QFont font = usualFont;
        if (pointSize > 0) font.setPointSize(pointSize);
        if (!whileRunning) QApplication::setFont(font);
        if (dark) QApplication::setPalette(darkPalette());
        QStringList problems;

        // The main window, two tabs (one inactive) and a full list; every dialog.
        TfrmPrincipal& w = h->open();
        w.setObjectName(u"frmPrincipal"_qs);
        for (const char16_t* host : {u"a", u"b"})
            WindowProbe::QuickConnect(&w, QString::fromUtf16(host), u"u"_qs, EncodePassword(u"p"_qs), 110);
        QList<MessageRow> rows;
        for (int n = 1; n <= 30; ++n)
            rows.append(
                {n, 1000 * n, u"Ana <ana@example.es>"_qs, u"05/08/2002 10:20"_qs, u"Hola"_qs, RowVerdict::None, {}});
        TAccountTab* tab = WindowProbe::Tabs(&w).last();
        tab->list()->appendRows(rows);
        TfrmCuentas* accounts = NewAccountsDialog(&w);
        TfrmAcceso* login = accounts->frmAcceso;
        login->cbMetodo->setCurrentIndex(1); // every field shown
        login->cbProveedor->setCurrentIndex(2);
        TfrmFiltros* filters = NewFiltersDialog(&w);
        TfrmConexionRapida* quick = NewQuickConnectDialog(&w);
        TfrmAbout* about = NewAboutBox(&w);
        TfrmConfig* settings = NewSettingsDialog(&w);
        auto* rules = new TfrmReglas(DialogContextOf(&w), h->path(u"Reglas.dat"_qs), WindowProbe::Filtros(&w), {});
        TfrmDestinatarios* recipients = NewRecipientsDialog(&w);
        recipients->lblFrom->setText(u"Ana <ana@example.es>"_qs);
        recipients->lblSubject->setText(u"Hola"_qs);
        recipients->lblDate->setText(u"Mon, 05 Aug 2002"_qs);
        recipients->SetRecipients({u"uno@example.es"_qs, u"dos@example.es"_qs});
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        if (whileRunning) QApplication::setFont(font);

        // The main window at its least size, once the changes the font made are through (they are
        // posted, and post the window's own).
        w.resize(300, 200);
        for (int turn = 0; turn < 3; ++turn)
            QCoreApplication::processEvents();
        MessageList* list = tab->list();
        const auto wholeRows = [list] {
            int whole = 0;
            for (int r = 0; r < list->rowCount(); ++r)
                whole += list->viewport()->rect().contains(list->visualRect(list->model()->index(r, 0)));
            return whole;
        };
        (void)QTest::qWaitFor([&] { return wholeRows() >= 8; }); // a splitter follows its widgets later
        const int whole = wholeRows();
        if (whole < 8) problems << u"the list shows %1 rows"_qs.arg(whole);
        checkCaptions(&w, problems);
        checkReach(&w, {}, problems);
        checkContrast(&w, problems);
        const Shot shot(&w);
        QTabWidget* tabs = WindowProbe::Page95Control(&w);
        QTabBar* bar = tabs->tabBar();
        const QString sheet = tabs->styleSheet();
        const QColor inactiveText(sheet.mid(sheet.indexOf(u'#'), 7));
        // The lamp's outline: the first two painted (logical) pixels across its middle.
        const auto lampContrast = [](const QIcon& icon, const QColor& background) {
            const QImage lamp = icon.pixmap(16, 16, QIcon::Normal).toImage();
            const int step = qRound(lamp.devicePixelRatio());
            double best = 0;
            for (int x = 0; x < lamp.width(); ++x) {
                if (lamp.pixelColor(x, lamp.height() / 2).alpha() < 200) continue;
                for (const int at : {x, x + step}) {
                    const QColor c = lamp.pixelColor(at, lamp.height() / 2);
                    best = std::max(best, ContrastRatio(QColor(c.red(), c.green(), c.blue()), background));
                }
                break;
            }
            return best;
        };
        for (int i = 0; i < bar->count(); ++i) {
            const QColor background = shot.mostCommon(bar, bar->tabRect(i));
            if (i != bar->currentIndex() && ContrastRatio(inactiveText, background) < 4.5)
                problems << u"inactive tab caption %1 on %2"_qs.arg(inactiveText.name(), background.name());
            // Each of the four lamps on the active tab, the one it shows on the other.
            const bool active = i == bar->currentIndex();
            for (const TAccountTab::Look look : {TAccountTab::Look::Disconnected, TAccountTab::Look::Busy,
                                                 TAccountTab::Look::IdleWithMail, TAccountTab::Look::IdleEmpty}) {
                if (active) tab->setLook(look);
                if (const double c = lampContrast(bar->tabIcon(i), background); c < 3)
                    problems << u"lamp %1 of tab %2 on %3: %4"_qs.arg(int(look)).arg(i).arg(background.name()).arg(c);
                if (!active) break;
            }
        }
        QLabel* arroba = WindowProbe::imgArroba(&w);
        const QImage frame = arroba->pixmap().toImage().copy(QRect(QPoint(0, 0), QSize(38, 31) * shot.scale));
        QColor mark(Qt::transparent);
        for (int y = 0; y < frame.height(); ++y)
            for (int x = 0; x < frame.width(); ++x)
                if (frame.pixelColor(x, y).alpha() > mark.alpha()) mark = frame.pixelColor(x, y);
        mark.setAlpha(255);
        const QColor panel = shot.mostCommon(WindowProbe::PanelArroba(&w), WindowProbe::PanelArroba(&w)->rect());
        if (ContrastRatio(mark, panel) < 3)
            problems << u"\"@\" %1 on %2: %3"_qs.arg(mark.name(), panel.name()).arg(ContrastRatio(mark, panel));

        // Every dialog, as the program shows it.
        check(&w, accounts, problems);
        check(&w, login, problems);
        check(&w, filters, problems);
        check(&w, quick, problems);
        check(&w, about, problems, {about->btnSalir});
        check(&w, settings, problems);
        settings->PageControl->setCurrentIndex(1);
        check(&w, settings, problems);
        check(&w, rules, problems);
        check(&w, recipients, problems, {recipients->btnOK});
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u"\n"_qs)));
    }
};

QTEST_MAIN(TestFit)
#include "tst_fit.moc"
