// One account's tab, what its session reports: the status and lamp of each state, the dialogue log
// of the conversation, and the rows of the message list.
#include "AccountTab.h"
#include "AccountWidgets.h"
#include "MainWindow.h"
#include "Pop3Session.h"
#include "TextAndTime.h"

#include <QPlainTextEdit>

// ---------------------------------------------------------------------------------------------------
// Session events

void TAccountTab::sessionStateChanged(int estado, const QString& texto) {
    const double now = m_window->seams().clock();
    const TConfig& config = m_window->Config;
    switch (estado) {
    case TPop3::Desconectado:
        StatusBar->setPanelText(PanelActivity, texto);
        if (texto != u"Desconectado") announce(config.wavFalloDuranteConexion);
        break;
    case TPop3::EsperandoSaludo:
        m_serverLineLength = m_serverLineDropped = 0; // a new connection starts a new line
        setStatus(u"Conectando..."_qs, u"Estableciendo conexión con "_qs + POP3->Servidor());
        ListView->clearRows();
        TextMemo->clear();
        setLook(Look::Busy);
        break;
    case TPop3::EnviadoUser:
    case TPop3::EnviadoPass:
    case TPop3::ConsultandoCapacidades:
    case TPop3::IniciandoConexionSegura:
        setStatus(u"Conectando..."_qs, texto);
        LastActivity = now;
        setLook(Look::Busy);
        break;
    case TPop3::Listando:
        setStatus(u"Conectado"_qs, texto);
        LastActivity = now;
        setLook(Look::Busy);
        break;
    case TPop3::LeyendoCabeceras:
        setStatus(u"Conectado"_qs, texto);
        if (ListView->rowCount() == 0) fillMessageList();
        updateHeaderProgress(POP3->MensajeActual());
        LastActivity = now;
        setLook(Look::Busy);
        break;
    case TPop3::Conectado: {
        setStatus(u"Conectado"_qs, summaryText());
        const bool mail = POP3->NumMensajes() > 0;
        LastActivity = now;
        setLook(mail ? Look::IdleWithMail : Look::IdleEmpty);
        if (mail && Announce) m_window->NotifyMail(this); // heard, and told outside the window
        announce(mail ? config.wavSiTieneMensajes : config.wavNoTieneMensajes);
        break;
    }
    case TPop3::Restaurando:
        appendDialogue(u" "_qs, m_window->CommentStyle);
        appendDialogue(u"// Restaurando mensajes eliminados..."_qs, m_window->CommentStyle);
        setStatus(u"Conectado"_qs, texto);
        setLook(Look::Busy);
        break;
    case TPop3::Borrando:
    case TPop3::LeyendoPrimerasLineas:
        setStatus(u"Conectado"_qs, texto);
        setLook(Look::Busy);
        break;
    case TPop3::Comprobando:
        setStatus(u"Conectado"_qs, texto);
        setLook(Look::Busy);
        Announce = false;
        break;
    default:
        break;
    }
}

void TAccountTab::sessionDisconnectedByForce(const QString& motivo) {
    const int style = m_window->CommentStyle;
    setStatus(u"Desconectado"_qs, motivo);
    setLook(Look::Disconnected);
    appendDialogue(u" "_qs, style);
    appendDialogue(u"// Finalizando conexión con "_qs + POP3->Servidor(), style);
    if (!motivo.isEmpty()) appendDialogue(u"// "_qs + motivo, style);
    appendDialogue(u" "_qs, style);
    announce(m_window->Config.wavFalloDuranteConexion);
}

void TAccountTab::commandSent(const QString& comando) {
    const int style = m_window->CommandStyle;
    appendDialogue(u" "_qs, style);
    // The password never reaches the log.
    if (MayusculasSinAcentos(comando.left(5)) == u"PASS ")
        appendDialogue(u"> PASS (\u00B7\u00B7\u00B7)"_qs, style);
    else
        appendDialogue(u"> "_qs + comando, style);
    appendDialogue(u" "_qs, style);
}

void TAccountTab::encrypted(const QString& protocol, const QString& cipher) {
    appendDialogue(u"// Conexión cifrada ("_qs + protocol + u", "_qs + cipher + u')', m_window->CommentStyle);
}

void TAccountTab::notice(const QString& texto) {
    appendDialogue(u"// "_qs + texto, m_window->CommentStyle);
}

void TAccountTab::textFromServer(const QByteArray& bytes) {
    const int serverStyle = m_window->ServerStyle;
    const QByteArrayView texto(bytes);
    // A line of many megabytes (a header line, say) shows its start, and the log says how much of
    // it was left out: kept whole, each such message would grow the log by its size. Only the part
    // of a read that continues the line before it can be that long.
    const qsizetype firstEnd = texto.indexOf('\n');
    const qsizetype head = firstEnd < 0 ? texto.size() : firstEnd + 1;
    if (m_serverLineLength + head <= kLogLineCap) {
        appendDialogue(texto, serverStyle);
        const qsizetype lastEnd = texto.lastIndexOf('\n');
        m_serverLineLength = lastEnd < 0 ? m_serverLineLength + texto.size() : texto.size() - lastEnd - 1;
        return;
    }
    const qsizetype room = std::max<qsizetype>(0, kLogLineCap - m_serverLineLength);
    if (room > 0) appendDialogue(texto.first(std::min(room, texto.size())), serverStyle);
    const qsizetype content = firstEnd < 0                                  ? head
                              : firstEnd > 0 && texto[firstEnd - 1] == '\r' ? firstEnd - 1
                                                                            : firstEnd;
    m_serverLineDropped += std::max<qsizetype>(0, content - room);
    m_serverLineLength += head;
    if (firstEnd < 0) return;
    appendDialogue(u"// ("_qs + FormatThousands(m_serverLineDropped) +
                       u" caracteres más de esta línea no se muestran)"_qs,
                   m_window->CommentStyle);
    m_serverLineDropped = 0;
    const QByteArrayView rest = texto.sliced(head);
    if (!rest.isEmpty()) appendDialogue(rest, serverStyle);
    const qsizetype lastEnd = rest.lastIndexOf('\n');
    m_serverLineLength = lastEnd < 0 ? rest.size() : rest.size() - lastEnd - 1;
}

void TAccountTab::firstLinesReceived(int num) {
    if (ListView->isRowSelected(ListView->positionOf(num))) m_window->ListViewClick(ListView);
}

void TAccountTab::messageDeleted(int num) {
    const int position = ListView->positionOf(num);
    if (position < 0) return;
    if (num == ShownMessage) {
        ShownMessage = 0;
        TextMemo->clear();
    }
    ListView->deleteRow(position);
}

void TAccountTab::messageListEmptied() {
    ListView->clearRows();
    TextMemo->clear();
    Announce = true;
}

void TAccountTab::connectionCompleted() {
    const int style = m_window->CommentStyle;
    fillHeaderColumns();
    appendDialogue(u" "_qs, style);
    appendDialogue(u"// Conectado al servidor "_qs + POP3->Servidor(), style);
    if (POP3->NumMensajes() == 0) appendDialogue(u"// No tiene mensajes"_qs, style);
}

// ---------------------------------------------------------------------------------------------------
// Rows

void TAccountTab::fillMessageList() {
    if (ListView->rowCount() > 0) return;
    QList<MessageRow> rows;
    rows.reserve(POP3->NumMensajes());
    for (int i = 0; i < POP3->NumMensajes(); ++i) {
        const TMensaje m = POP3->ResumenPorIndice(i);
        MessageRow& row = rows.emplace_back();
        row.number = m.Num;
        row.bytes = m.Bytes;
    }
    ListView->appendRows(rows);
}

void TAccountTab::updateHeaderProgress(int k) {
    // k's header is asked for next; the one of the row before it is complete.
    const int before = ListView->positionOf(k) - 1;
    if (before < 0) return;
    const int number = ListView->row(before).number;
    const TMensaje m = POP3->ResumenPorNumero(number);
    if (m.Num != number) return; // no longer on the server's list
    const QString& f = m.Cabecera.Fecha;
    const QString date = f.size() <= 11 ? QString() : f.mid(5, f.size() - 11);
    ListView->setRowHeader(before, m.Cabecera.From, date, m.Cabecera.Subj);
}

void TAccountTab::fillHeaderColumns() {
    const int n = std::min(ListView->rowCount(), POP3->NumMensajes());
    for (int r = 0; r < n; ++r) {
        const int number = ListView->row(r).number;
        const TMensaje m = POP3->ResumenPorNumero(number);
        if (m.Num != number) continue;
        ListView->setRowHeader(r, m.Cabecera.From, TfrmPrincipal::ShortDate(m.Cabecera.Fecha), m.Cabecera.Subj);
    }
}
