// Hiding behind a notification-area icon when minimised, the icon's menu, its blinking after a
// result the user has not seen yet, and the desktop notification of mail found.
#include "AccountTab.h"
#include "AccountWidgets.h"
#include "Artwork.h"
#include "DesktopNotifier.h"
#include "MainWindow.h"
#include "ShownText.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWindowStateChangeEvent>

void TfrmPrincipal::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized)) HandleMinimize();
    // The desktop's font or colours changed: once the children have theirs, the bar is fitted
    // again and the pictures redrawn.
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange) {
        if (m_refitQueued) return;
        m_refitQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_refitQueued = false;
                fitButtonBar();
                followPalette();
                FormResize();
            },
            Qt::QueuedConnection);
    }
}

void TfrmPrincipal::HandleMinimize() {
    // Without a notification area the window stays on the task bar, minimised as usual.
    if (!Config.MinimizarAlTray || !m_seams.trayAvailable()) return;
    AddTrayIcon();
    // Hidden once the minimise has been handled, so the window system does not show it again.
    QTimer::singleShot(0, this, [this] {
        if (TrayFlag) hide();
    });
}

void TfrmPrincipal::AddTrayIcon() {
    if (!m_trayIcon) {
        m_trayImages = MakeTrayImages();
        m_trayIcon = new QSystemTrayIcon(this);
        PopupMenuTray = new QMenu(this);
        QAction* restaurar = PopupMenuTray->addAction(u"&Restaurar"_qs);
        restaurar->setObjectName(u"mnuTrayRestaurar"_qs);
        PopupMenuTray->addSeparator()->setObjectName(u"mnuTraySep"_qs);
        QAction* salir = PopupMenuTray->addAction(u"&Salir"_qs);
        salir->setObjectName(u"mnuTraySalir"_qs);
        connect(restaurar, &QAction::triggered, this, &TfrmPrincipal::RestoreFromTray);
        connect(salir, &QAction::triggered, this, &TfrmPrincipal::mnuTraySalirClick);
        m_trayIcon->setContextMenu(PopupMenuTray);
        connect(m_trayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::DoubleClick) RestoreFromTray();
        });
    }
    m_trayIcon->setIcon(m_trayImages[0]);
    m_trayIcon->setToolTip(u"Tavelo v2.0"_qs);
    m_trayIcon->show();
    TrayFlag = true;
}

void TfrmPrincipal::RemoveTrayIcon() {
    if (m_trayIcon) m_trayIcon->hide();
    TrayFlag = false;
}

void TfrmPrincipal::RestoreFromTray() {
    if (TrayFlag) {
        RemoveTrayIcon();
        showNormal();
        activateWindow();
    }
    TrayFlag = false;
    TimerTray.stop();
}

void TfrmPrincipal::TimerTrayTimer() {
    m_trayBlinkPhase = 1 - m_trayBlinkPhase;
    if (m_trayIcon) m_trayIcon->setIcon(m_trayImages[m_trayBlinkPhase]);
}

int TfrmPrincipal::TrayImageShown() const {
    if (!m_trayIcon || !m_trayIcon->isVisible()) return -1;
    return m_trayIcon->icon().cacheKey() == m_trayImages[1].cacheKey() ? 1 : 0;
}

void TfrmPrincipal::BringToFront() {
    if (m_closing) return;
    if (TrayFlag)
        RestoreFromTray();
    else if (windowState() & Qt::WindowMinimized)
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void TfrmPrincipal::mnuTraySalirClick() {
    // The normal way out (CloseOrderly); the window may be hidden here, so the application is
    // told to end as well.
    close();
    QCoreApplication::quit();
}

void TfrmPrincipal::NotifyMail(TAccountTab* tab) {
    if (!Advanced.Notificaciones) return;
    if (!m_notifier) m_notifier = new DesktopNotifier(this);
    // Only what came since the last check: the rest the user was told of before.
    const QList<int>& fresh = tab->newMessages();
    const qsizetype count = fresh.size();
    if (count == 0) return;
    const QString account = tab->user() + u" ("_qs + tab->server() + u')';
    // The newest of them, sender and subject; the text is plain, escaped for services that read markup.
    QString body = count == 1 ? u"1 mensaje nuevo"_qs : QString::number(count) + u" mensajes nuevos"_qs;
    constexpr qsizetype kShown = 3;
    for (qsizetype i = count - 1; i >= std::max<qsizetype>(0, count - kShown); --i) {
        const TMensaje m = tab->summary(fresh[i]);
        body += u'\n' + ShownText(m.Cabecera.From) + u" \u2014 "_qs + ShownText(m.Cabecera.Subj);
    }
    if (count > kShown) body += u"\n\u2026"_qs;
    m_notifier->notify(account, u"Correo en "_qs + account, body.toHtmlEscaped(), [this, shown = QPointer(tab)] {
        BringToFront();
        if (shown) Page95Control->setCurrentWidget(shown->page());
    });
}
