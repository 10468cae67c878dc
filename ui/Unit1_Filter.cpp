// The filtering run over a tab's messages, the commands that add senders and subjects to the filter
// lists, and the check items that switch filtering at connection and asking on and off.
#include "AccountWidgets.h"
#include "DialogContext.h"
#include "Unit1.h"
#include "UnitPOP3.h"
#include "UnitUtils.h"

#include <numeric>

namespace {
/** What a row showed when a command began: the command goes on with this even if a re-check
 *  rebuilds the list while one of its questions is open. */
struct RowSnapshot {
    int number;
    QString sender;
    QString subject;
};

QList<RowSnapshot> snapshot(const MessageList* list, bool selectedOnly) {
    QList<int> positions = list->selectedPositions();
    if (!selectedOnly) {
        positions.resize(list->rowCount());
        std::iota(positions.begin(), positions.end(), 0);
    }
    QList<RowSnapshot> out;
    out.reserve(positions.size());
    for (int p : positions) {
        const MessageRow& row = list->row(p);
        out.append({row.number, row.from, row.subject});
    }
    return out;
}
} // namespace

void TfrmPrincipal::RunFilter(TAccountTab* tab, bool report) {
    if (tab->ListView->rowCount() == 0) return;
    QPointer<TPop3> session = tab->POP3;
    const QString caption = session->Usuario() + u" ("_qs + session->Servidor() + u')';
    QList<RowSnapshot> accepted;
    for (const RowSnapshot& row : snapshot(tab->ListView, false)) {
        if (!Filtros.MatchesFrom(row.sender) && !Filtros.MatchesSubj(row.subject)) continue;
        if (Config.PreguntarAntesDeBorrarEnFiltrado) {
            TAccountTab* current = session ? TabOfSession(session) : nullptr;
            if (!current) return; // the tab was closed while a question was open
            Page95Control->setCurrentWidget(current->Sheet);
            const QString text = u"Se encontró un mensaje no deseado:\r\rFROM: "_qs + row.sender + u"\rSUBJ: "_qs +
                                 row.subject + u"\r\r¿Desea borrarlo de su buzón?"_qs;
            if (ShowMessage(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No) !=
                QMessageBox::Yes)
                continue;
        }
        accepted.append(row);
    }
    if (!session || !TabOfSession(session)) return;
    if (accepted.isEmpty()) {
        if (report) ShowMessage(QMessageBox::Information, caption, u"El filtro no encontró mensajes a borrar"_qs);
        return;
    }
    // Only numbers that still name the message that was judged are handed over.
    QStringList numbers;
    for (const RowSnapshot& row : accepted) {
        const TMensaje m = session->MensajePorNumero(row.number);
        if (m.Num != 0 && m.Cabecera.From == row.sender && m.Cabecera.Subj == row.subject)
            numbers << QString::number(row.number);
    }
    if (!numbers.isEmpty()) guarded([&] { session->EliminarMensajes(numbers); });
}

bool TfrmPrincipal::AddFilter(const QString& field, const QString& text) {
    const QString f = MayusculasSinAcentos(field);
    QStringList* list = f == u"FROM" ? &Filtros.From : f == u"SUBJ" ? &Filtros.Subj : nullptr;
    if (!list) return false;
    const QString folded = MayusculasSinAcentos(text);
    for (const QString& fragment : std::as_const(*list))
        if (MayusculasSinAcentos(fragment) == folded) return false;
    list->append(text);
    KeepFilters();
    return true;
}

void TfrmPrincipal::addSelectedToFilters(const QString& field) {
    TAccountTab* tab = ActiveTab();
    if (!tab) return;
    QString summary = u"Se añadieron los siguientes filtros:\r"_qs;
    int count = 0;
    const QString caption = u"Añadir filtro - "_qs + field;
    const QString prompt = u"Escriba el texto del nuevo filtro:"_qs;
    for (const RowSnapshot& row : snapshot(tab->ListView, true)) {
        QString answer = field == u"FROM" ? row.sender : row.subject;
        bool entered = m_seams.inputQuery(this, caption, prompt, answer);
        // Text Filtros.dat cannot hold is refused and asked for again, as it was typed.
        while (entered && RefuseUnwritableText(m_seams.messageBox, this, answer))
            entered = m_seams.inputQuery(this, caption, prompt, answer);
        if (!entered) continue;
        if (AddFilter(field, answer)) {
            ++count;
            summary += u'\r' + answer;
        } else {
            ShowMessage(QMessageBox::Information, u"Filtro ya existe - "_qs + field, answer);
        }
    }
    if (count > 0)
        ShowMessage(QMessageBox::Information, QString::number(count) + u" filtros añadidos - "_qs + field, summary);
}

void TfrmPrincipal::PopupListViewFiltradoFiltrarAhoraClick() {
    if (TAccountTab* tab = ActiveTab()) RunFilter(tab, true);
}

void TfrmPrincipal::filterCheckClicked(QAction* item) {
    // Each check item has a twin in the other menu; the pop-up ones are what the settings follow.
    static const QList<std::pair<QString, QString>> twins = {
        {u"PopupListViewFiltradoFiltrarAlConectar"_qs, u"mnuConfigurarFiltradoFiltrarAlConectar"_qs},
        {u"PopupListViewFiltradoPreguntar"_qs, u"mnuConfigurarFiltradoPreguntar"_qs}};
    for (const auto& [popup, main] : twins) {
        if (item->objectName() == popup) action(main)->setChecked(item->isChecked());
        if (item->objectName() == main) action(popup)->setChecked(item->isChecked());
    }
    Config.FiltrarAlConectar = action(u"PopupListViewFiltradoFiltrarAlConectar"_qs)->isChecked();
    Config.PreguntarAntesDeBorrarEnFiltrado = action(u"PopupListViewFiltradoPreguntar"_qs)->isChecked();
    KeepSettings();
}
