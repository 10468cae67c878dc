// The Papelera seen from the window: the hook that keeps a copy of each message before its DELE,
// the one box for the copies that failed in a batch, the daily expiry and the Papelera window.
#include "AccountTab.h"
#include "Errors.h"
#include "MainWindow.h"
#include "TrashWindow.h"

#include <cmath>
#include <utility>

namespace {
/** The window's clock (days since 30 December 1899, local time) as a date and time. */
QDateTime dateTimeOf(double days) {
    return QDateTime(QDate(1899, 12, 30), QTime(0, 0)).addMSecs(std::llround(days * 86400000.0));
}
} // namespace

void TfrmPrincipal::applyKeepCopy(TAccountTab* tab) {
    if (!Advanced.CopiaAntesDeBorrar) {
        tab->setKeepCopy({});
        return;
    }
    tab->setKeepCopy([this, tab = QPointer<TAccountTab>(tab)](int, const QByteArray& message, const QString& motivo) {
        if (!tab) return false;
        try {
            m_papelera->Guardar(copySource(tab), message, motivo, dateTimeOf(m_seams.clock()));
            return true;
        } catch (const AppError& e) {
            tab->setCopyError(e.message());
            return false; // the message stays on the server, and the user is told
        }
    });
}

QString TfrmPrincipal::copySource(const TAccountTab* tab) const {
    // The port tells two accounts on one server apart.
    return CuentaPapelera(tab->user(), tab->server(), tab->port());
}

void TfrmPrincipal::reportFailedCopies(TAccountTab* tab) {
    QString why;
    QStringList numbers;
    for (int num : tab->takeFailedCopies(&why))
        numbers << QString::number(num);
    QString text =
        numbers.size() == 1
            ? u"No se pudo guardar una copia del mensaje %1 en la papelera; no se ha borrado del servidor."_qs.arg(
                  numbers.first())
            : u"No se pudo guardar una copia de los mensajes %1 y %2 en la papelera; no se han borrado del servidor."_qs
                  .arg(numbers.mid(0, numbers.size() - 1).join(u", "_qs), numbers.last());
    if (!why.isEmpty()) text += u"\r\r"_qs + why;
    // After the session's event: a box runs a loop of its own.
    QTimer::singleShot(0, this, [this, text] { ShowMessage(QMessageBox::Warning, u"Papelera"_qs, text); });
}

void TfrmPrincipal::CaducarPapelera() {
    m_papelera->Caducar(Advanced.DiasPapelera, dateTimeOf(m_seams.clock()));
}

void TfrmPrincipal::mnuConfigurarPapeleraClick() {
    CenterOverMain(frmPapelera);
    frmPapelera->ShowModal();
}
