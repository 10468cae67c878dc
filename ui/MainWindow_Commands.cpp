// What the user does with a tab's message list: first lines, delete, reset, write to the sender,
// recipients, the pop-up menu's enabling, and the subject column that takes the rest of the width.
#include "AccountTab.h"
#include "AccountWidgets.h"
#include "Errors.h"
#include "MailAddress.h"
#include "MainWindow.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QPlainTextEdit>

namespace {
int firstSelectedNumber(const MessageList* list) {
    const QList<int> rows = list->selectedPositions();
    return rows.isEmpty() ? -1 : list->row(rows.first()).number;
}
} // namespace

void TfrmPrincipal::btnPrimerasLineasClick() {
    TAccountTab* tab = ActiveTab();
    if (!tab || !tab->isIdle()) return;
    const int n = firstSelectedNumber(tab->list());
    if (n < 0) return;
    const TMensaje m = tab->message(n);
    QPointer<TAccountTab> shown(tab);
    QString answer = QString::number(m.Lineas);
    if (!m_seams.inputQuery(this, u"Primeras líneas de: \""_qs + m.Cabecera.Subj + u'"',
                            u"¿Cuántas líneas a mostrar? (Actualmente "_qs + QString::number(m.Lineas) + u')', answer))
        return;
    int lines = 0;
    try {
        lines = ParseInt32(answer);
    } catch (const EConvertError&) {
        ShowMessage(QMessageBox::Critical, u"Error de conversión"_qs,
                    u"Error al convertir a número. Escribió: "_qs + answer);
        return;
    }
    if (lines <= m.Lineas || !shown) return; // nothing more to fetch, or the tab went away
    shown->fetchFirstLines(m.Num, lines);
}

void TfrmPrincipal::btnEliminarClick() {
    TAccountTab* tab = ActiveTab();
    if (!tab || !tab->isIdle()) return;
    if (tab->list()->selectedPositions().isEmpty()) return;
    QPointer<TAccountTab> shown(tab);
    if (ShowMessage(QMessageBox::Question, u"Confirmación de eliminación"_qs,
                    u"¿Está seguro que desea eliminar los mensajes marcados?"_qs,
                    QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
        return;
    // The tab may have closed, and its rows changed, while the box was open.
    tab = shown;
    if (!tab) return;
    QStringList numbers;
    for (int position : tab->list()->selectedPositions())
        numbers << QString::number(tab->list()->row(position).number);
    tab->silenceNextAnnouncement();
    const QStringList reasons(numbers.size(), u"Eliminado por el usuario"_qs);
    guarded([&] { tab->deleteMessages(numbers, reasons); });
}

void TfrmPrincipal::btnRestaurarClick() {
    TAccountTab* tab = ActiveTab();
    if (!tab || !tab->isIdle()) return;
    QPointer<TAccountTab> shown(tab);
    const QString text = u"¿Está seguro que desea enviar el comando RESET?\r\r(El comando Reset hará que los "
                         "mensajes que se hayan\rmarcado para borrar durante esta sesión NO se borren,\ry por "
                         "tanto todos \"volverán a aparecer\" en su buzón"_qs;
    if (ShowMessage(QMessageBox::Question, u"Confirmar Reset"_qs, text, QMessageBox::Ok | QMessageBox::Cancel) !=
        QMessageBox::Ok)
        return;
    tab = shown;
    if (!tab) return;
    tab->textPane()->clear();
    tab->list()->clearRows();
    if (tab->restore()) return;
    // The session is busy (a re-check began while the box was open): ask again every 100 ms while
    // its events go on, until it is idle; give up when the tab closes or the session disconnects.
    auto* retry = new QTimer(this);
    retry->setInterval(100);
    connect(retry, &QTimer::timeout, this, [retry, shown] {
        if (!shown || shown->isDisconnected() || shown->restore()) retry->deleteLater();
    });
    retry->start();
}

void TfrmPrincipal::PopupListViewPopup() {
    TAccountTab* tab = ActiveTab();
    const bool s = tab && !tab->list()->selectedPositions().isEmpty();
    const bool idle = tab && tab->isIdle();
    action(u"PopupListViewEnviarEMail"_qs)->setEnabled(s);
    action(u"PopupListViewEliminar"_qs)->setEnabled(s);
    action(u"PopupListViewRestaurar"_qs)->setEnabled(idle);
    action(u"PopupListViewPrimerasLineas"_qs)->setEnabled(s);
    action(u"PopupListViewDestinatarios"_qs)->setEnabled(s);
    action(u"PopupListViewFiltrado"_qs)->setEnabled(true);
    action(u"PopupListViewFiltradoFiltrarAhora"_qs)->setEnabled(idle);
    for (const char16_t* name : {u"PopupListViewFiltradoFiltrarAlConectar", u"PopupListViewFiltradoPreguntar",
                                 u"PopupListViewFiltradoConfigurar"})
        action(QString::fromUtf16(name))->setEnabled(true);
}

void TfrmPrincipal::PopupListViewEnviarEMailClick() {
    TAccountTab* tab = ActiveTab();
    if (!tab) return;
    const QList<int> rows = tab->list()->selectedPositions();
    if (rows.isEmpty()) return;
    // One plain address and nothing after it: a crafted sender must not add an attachment, a second
    // recipient or any other parameter to the mail program's new message.
    const QUrl url = MailtoUrl(MailAddressOf(tab->list()->row(rows.first()).from));
    if (!url.isValid()) {
        ShowMessage(QMessageBox::Warning, u"Enviar E-Mail"_qs,
                    u"El remitente no tiene una dirección de correo válida."_qs);
        return;
    }
    m_seams.openUrl(url);
}

void TfrmPrincipal::ListViewResize(MessageList* list) {
    if (list->property("resizing").toBool() || list->columnCount() < ColumnCount) return;
    list->setProperty("resizing", true);
    int width = list->width() - 4;
    for (int c = ColumnNumber; c < ColumnSubject; ++c)
        width -= list->columnWidth(c);
    if (list->rowCount() * 16 > list->height() - 2) width -= 16;
    list->setColumnWidth(ColumnSubject, std::max(0, width));
    list->setProperty("resizing", false);
}
