// The tabs of the main window: creating and closing them, finding them, the view-mode buttons and
// the busy animation.
#include "AccountTab.h"
#include "AccountWidgets.h"
#include "MainWindow.h"

#include <QLabel>
#include <QMenu>
#include <QTabWidget>

TAccountTab* TfrmPrincipal::CreateAccountTab(const QString& userName) {
    PanelBotonera->show();
    // The page gets its size from the tab control once it is added; build it at that size.
    const QSize client = Page95Control->count() > 0 ? Page95Control->currentWidget()->size()
                                                    : Page95Control->contentsRect().size() - QSize(4, 30);
    TabContext context;
    context.owner = this;
    context.desktop = this;
    context.seams = &m_seams;
    context.config = &Config;
    context.advanced = &Advanced;
    context.lamps = &m_lamps;
    context.logStyles = RVStyle;
    context.commandStyle = CommandStyle;
    context.serverStyle = ServerStyle;
    context.commentStyle = CommentStyle;
    auto* tab = new TAccountTab(context, client);
    tab->setKeepHeaderText(Rules.needsHeaderText());
    applyKeepCopy(tab);
    connect(tab, &TAccountTab::lookChanged, this, [this](TAccountTab* t) { SetBusyAnimation(t->page(), t->isBusy()); });
    connect(tab, &TAccountTab::announced, this, [this] {
        if (TrayFlag) TimerTray.start();
    });
    connect(tab, &TAccountTab::mailFound, this, &TfrmPrincipal::NotifyMail);
    connect(tab, &TAccountTab::connectionCompleted, this, &TfrmPrincipal::TabCompleted);
    connect(tab, &TAccountTab::connectionFailed, this, &TfrmPrincipal::TabConnectionFailed);
    connect(tab, &TAccountTab::reviewAccountRequested, this, &TfrmPrincipal::ReviewAccount);
    connect(tab, &TAccountTab::copiesFailed, this, &TfrmPrincipal::reportFailedCopies);
    connect(tab, &TAccountTab::pageResized, this, [this](TAccountTab* t) {
        if (t->page() == Page95Control->currentWidget()) placeButtonBar();
    });
    connect(tab, &TAccountTab::listResized, this, [this](TAccountTab* t) { ListViewResize(t->list()); });
    connect(tab, &TAccountTab::rowMenuRequested, this, [this](TAccountTab*, const QPoint& at) {
        PopupListViewPopup();
        PopupListView->exec(at);
    });
    connect(tab, &TAccountTab::deleteRequested, this, [this] { btnEliminarClick(); });
    Tabs.append(tab);
    tab->addTo(Page95Control, userName);
    Page95Control->setCurrentWidget(tab->page());

    if (Config.ElementosEnVentana == 1)
        btnSoloListaClick();
    else if (Config.ElementosEnVentana == 2)
        btnListaTextoClick();
    placeButtonBar();
    return tab;
}

void TfrmPrincipal::CloseAccountTab(TAccountTab* tab) {
    // The session's last events still reach this tab: its controls exist until it is taken apart.
    tab->endSession();
    if (!Tabs.contains(tab)) return; // closed by a handler of those events
    if (TCuenta* account = AccountOfTab(tab)) account->Tab = nullptr;
    Tabs.removeOne(tab);
    delete tab;
}

TAccountTab* TfrmPrincipal::TabOfSheet(QWidget* page) const {
    for (TAccountTab* t : Tabs)
        if (t->page() == page) return t;
    return nullptr;
}

TAccountTab* TfrmPrincipal::ActiveTab() const {
    return TabOfSheet(Page95Control->currentWidget());
}

void TfrmPrincipal::btnDesconectarClick() {
    TAccountTab* tab = ActiveTab();
    if (!tab) return;
    const int i = Page95Control->currentIndex();
    CloseAccountTab(tab);
    PanelBotonera->setVisible(!Tabs.isEmpty());
    const int n = Page95Control->count();
    if (n > 0) {
        Page95Control->setCurrentIndex(i >= n ? n - 1 : i);
        const TAccountTab* shown = ActiveTab();
        SetBusyAnimation(Page95Control->currentWidget(), shown && shown->isBusy());
        placeButtonBar();
    }
}

void TfrmPrincipal::btnSoloListaClick() {
    if (TAccountTab* t = ActiveTab()) t->showListOnly();
}

void TfrmPrincipal::btnListaTextoClick() {
    if (TAccountTab* t = ActiveTab()) t->showListAndText();
}

void TfrmPrincipal::btnListaTextoDialogoClick() {
    if (TAccountTab* t = ActiveTab()) t->showListTextAndDialogue();
}

void TfrmPrincipal::SetBusyAnimation(QWidget* page, bool on) {
    if (page != Page95Control->currentWidget()) return;
    if (on) {
        if (!TimerArroba.isActive()) TimerArroba.start();
    } else {
        TimerArroba.stop();
        imgArroba->move(0, imgArroba->y());
    }
}

void TfrmPrincipal::TimerArrobaTimer() {
    int left = imgArroba->x() - 38;
    if (left < 10 - imgArroba->width()) left = 0;
    imgArroba->move(left, imgArroba->y());
}

void TfrmPrincipal::Page95ControlChange() {
    if (Page95Control->count() == 0) return;
    const TAccountTab* shown = ActiveTab();
    SetBusyAnimation(Page95Control->currentWidget(), shown && shown->isBusy());
}
