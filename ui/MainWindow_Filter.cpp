// The filtering run over a tab's messages, the commands that add senders and subjects to the filter
// lists, and the check items that switch filtering at connection and asking on and off.
#include "AccountTab.h"
#include "AccountWidgets.h"
#include "DialogContext.h"
#include "Errors.h"
#include "MainWindow.h"
#include "TextAndTime.h"

#include <algorithm>
#include <numeric>
#include <utility>

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

namespace {
/** The most messages a run names in the log for a field too long to judge; the others are counted. */
constexpr int kMaxUnjudgedLines = 10;

/** The filter's verdict on each of the rows, shown in the tab's list. The rules see the header text
 *  the session kept (when they read it) and the sender and subject as the row showed them; an
 *  expression that took too long with some message is told in the tab's log, once a run, and so
 *  is each message whose header was too long to keep whole where that left a rule unjudged. */
QList<RuleDecision> showVerdicts(TAccountTab* tab, const QList<RowSnapshot>& rows, const FilterRules& rules,
                                 const TFiltros& lists, int commentStyle) {
    const bool withHeader = rules.needsHeaderText();
    QStringList problems;
    QStringList unjudged;
    int unjudgedMore = 0;
    QList<RuleDecision> decisions;
    QList<std::pair<RowVerdict, QString>> verdicts;
    decisions.reserve(rows.size());
    verdicts.reserve(rows.size());
    for (const RowSnapshot& row : rows) {
        RuleSubject subject{QString(), row.sender, row.subject};
        if (withHeader) {
            subject.header = tab->headerText(row.number);
            const HeaderTextCut cut = tab->summary(row.number).Cabecera.TextoCortado;
            subject.headerCut = cut != HeaderTextCut::None;
            subject.lastLineCut = cut == HeaderTextCut::InLine;
        }
        const RuleDecision& d = decisions.emplace_back(rules.decide(subject, lists, &problems));
        verdicts.append({d.kind, d.reason});
        if (d.unjudged.isEmpty()) continue;
        if (unjudged.size() < kMaxUnjudgedLines)
            unjudged.append(UnjudgedSentence(row.number, d));
        else
            ++unjudgedMore;
    }
    tab->list()->setVerdicts(verdicts);
    problems.removeDuplicates();
    for (const QString& p : std::as_const(problems))
        tab->appendDialogue(u"// "_qs + p, commentStyle);
    for (const QString& line : std::as_const(unjudged))
        tab->appendDialogue(u"// "_qs + line, commentStyle);
    if (unjudgedMore > 0)
        tab->appendDialogue(u"// Y otros %1 mensajes con la cabecera demasiado larga para juzgarla: las reglas que "
                            u"no se pudieron juzgar no se aplican"_qs.arg(unjudgedMore),
                            commentStyle);
    return decisions;
}
} // namespace

void TfrmPrincipal::RunFilter(TAccountTab* tab, bool report) {
    if (tab->list()->rowCount() == 0) return;
    QPointer<TAccountTab> shown(tab);
    const QString caption = tab->user() + u" ("_qs + tab->server() + u')';
    const QList<RowSnapshot> rows = snapshot(tab->list(), false);
    const QList<RuleDecision> decisions = showVerdicts(tab, rows, Rules, Filtros, CommentStyle);
    QList<RowSnapshot> accepted;
    QStringList reasons;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const RowSnapshot& row = rows[i];
        if (!decisions[i].marked()) continue;
        if (Config.PreguntarAntesDeBorrarEnFiltrado) {
            if (!shown) return; // the tab was closed while a question was open
            Page95Control->setCurrentWidget(shown->page());
            const QString text = u"Se encontró un mensaje no deseado:\r\rFROM: "_qs + row.sender + u"\rSUBJ: "_qs +
                                 row.subject + u"\rMotivo: "_qs + decisions[i].reason +
                                 u"\r\r¿Desea borrarlo de su buzón?"_qs;
            if (ShowMessage(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No) !=
                QMessageBox::Yes)
                continue;
        }
        accepted.append(row);
        reasons.append(decisions[i].reason);
    }
    if (!shown) return;
    if (accepted.isEmpty()) {
        if (report) ShowMessage(QMessageBox::Information, caption, u"El filtro no encontró mensajes a borrar"_qs);
        return;
    }
    // Only numbers that still name the message that was judged are handed over.
    QStringList numbers;
    QStringList why;
    for (qsizetype i = 0; i < accepted.size(); ++i) {
        const RowSnapshot& row = accepted[i];
        const TMensaje m = shown->summary(row.number);
        if (m.Num != 0 && m.Cabecera.From == row.sender && m.Cabecera.Subj == row.subject) {
            numbers << QString::number(row.number);
            why << reasons[i];
        }
    }
    if (!numbers.isEmpty()) guarded([&] { shown->deleteMessages(numbers, why); });
}

void TfrmPrincipal::PopupListViewFiltradoProbarClick() {
    TAccountTab* tab = ActiveTab();
    if (!tab || tab->list()->rowCount() == 0) return;
    const QList<RuleDecision> decisions = showVerdicts(tab, snapshot(tab->list(), false), Rules, Filtros, CommentStyle);
    const auto marked =
        std::count_if(decisions.cbegin(), decisions.cend(), [](const RuleDecision& d) { return d.marked(); });
    const auto allowed = std::count_if(decisions.cbegin(), decisions.cend(),
                                       [](const RuleDecision& d) { return d.kind == RuleDecision::Kind::Allowed; });
    ShowMessage(
        QMessageBox::Information, u"Probar filtros"_qs,
        u"Un filtrado borraría %1 de %2 mensajes (tachados en la lista); %3 están permitidos por una regla. "
        u"No se ha borrado nada.\r\rEl motivo de cada uno aparece al dejar el ratón sobre su fila."_qs.arg(marked)
            .arg(decisions.size())
            .arg(allowed));
}

void TfrmPrincipal::LoadRules(bool reportProblems) {
    QStringList problems;
    const bool keptText = Rules.needsHeaderText();
    try {
        Rules = FilterRules::Load(RulesPath, &problems);
    } catch (const AppError& e) {
        Rules = FilterRules();
        AppException(e);
        return;
    }
    // A change in what the rules read reaches the sessions' next listing.
    bool listedWithoutText = false;
    for (TAccountTab* tab : std::as_const(Tabs)) {
        tab->setKeepHeaderText(Rules.needsHeaderText());
        listedWithoutText = listedWithoutText || tab->messageCount() > 0;
    }
    // The messages listed so far kept no header text: the rules see only their sender and subject.
    if (!keptText && Rules.needsHeaderText() && listedWithoutText)
        ShowMessage(QMessageBox::Information, u"Reglas de filtrado"_qs,
                    u"Los mensajes ya listados se leyeron sin su cabecera completa: hasta que vuelva a conectar "
                    u"sus cuentas, las reglas solo ven su remitente y su asunto."_qs);
    if (!reportProblems || problems.isEmpty()) return;
    // At start-up the window is not on the screen yet: a box now would have nothing to be centred
    // over. It is told once the window shows.
    m_ruleProblems = problems;
    if (isVisible()) TellRuleProblems();
}

void TfrmPrincipal::TellRuleProblems() {
    if (m_ruleProblems.isEmpty() || m_closing) return;
    const QStringList problems = std::exchange(m_ruleProblems, {});
    ShowMessage(QMessageBox::Warning, u"Reglas de filtrado"_qs,
                u"Estas líneas de "_qs + RulesPath + u" no se aplican:\r\r"_qs + problems.join(u'\r'));
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
    for (const RowSnapshot& row : snapshot(tab->list(), true)) {
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
