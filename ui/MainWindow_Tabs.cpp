// The tabs of the main window: creating and closing them, finding them, the view-mode buttons and
// the busy animation.
#include "AccountWidgets.h"
#include "MainWindow.h"
#include "Pop3Session.h"

#include <QLabel>
#include <QTabWidget>

TAccountTab* TfrmPrincipal::CreateAccountTab(const QString& userName) {
    PanelBotonera->show();
    // The page gets its size from the tab control once it is added; build it at that size.
    const QSize client = Page95Control->count() > 0 ? Page95Control->currentWidget()->size()
                                                    : Page95Control->contentsRect().size() - QSize(4, 30);
    auto* tab = new TAccountTab(this, client);
    Tabs.append(tab);
    tab->addTo(Page95Control, userName);
    Page95Control->setCurrentWidget(tab->Sheet);

    if (Config.ElementosEnVentana == 1)
        btnSoloListaClick();
    else if (Config.ElementosEnVentana == 2)
        btnListaTextoClick();
    placeButtonBar();
    return tab;
}

void TfrmPrincipal::CloseAccountTab(TAccountTab* tab) {
    // The session's last events still reach this tab: its controls exist until it is taken apart.
    QPointer<TPop3> session = tab->POP3;
    session->Desconectar();
    if (!Tabs.contains(tab)) return; // closed by a handler of those events
    for (TCuenta* a : std::as_const(Accounts)) {
        if (a->Tab == tab) {
            a->Tab = nullptr;
            break;
        }
    }
    Tabs.removeOne(tab);
    delete tab;
}

TAccountTab* TfrmPrincipal::TabOfSheet(QWidget* page) const {
    for (TAccountTab* t : Tabs)
        if (t->Sheet == page) return t;
    return nullptr;
}

TAccountTab* TfrmPrincipal::TabOfSession(const TPop3* session) const {
    for (TAccountTab* t : Tabs)
        if (t->POP3 == session) return t;
    return nullptr;
}

TAccountTab* TfrmPrincipal::TabOfList(const QObject* list) const {
    for (TAccountTab* t : Tabs)
        if (t->ListView == list) return t;
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
