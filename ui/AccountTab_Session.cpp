// One account's tab and its session: the session built and heard, what the window asks of it, and
// what it reports: the status and lamp of each state, the dialogue log, the rows of the message list.
#include "AccountTab.h"
#include "AccountWidgets.h"
#include "FreedMemory.h"
#include "Pop3Session.h"
#include "Settings.h"
#include "TextAndTime.h"
#include "WindowSeams.h"

#include <QPlainTextEdit>
#include <cstring>

// ---------------------------------------------------------------------------------------------------
// The session and its events: every one the session raises comes here, and only here

void TAccountTab::buildSession() {
    const WindowSeams& seams = *m_context.seams;
    m_session = new TPop3(m_context.desktop, seams.socketFactory(m_context.desktop), m_context.owner);
    m_session->LineasTop = m_context.config->iniTop;
    m_session->setClock(seams.clock);
    m_session->setReplyTimeout(seams.replyTimeoutMs);
    m_session->setImplicitTlsPort(seams.implicitTlsPort);
    m_session->setPipelining(m_context.advanced->Pipelining);
    connect(m_session, &TPop3::OnCambioEstado, this,
            [this](TPop3*, int estado, const QString& texto) { sessionStateChanged(estado, texto); });
    connect(m_session, &TPop3::OnDesconexionForzada, this,
            [this](TPop3*, const QString& motivo) { sessionDisconnectedByForce(motivo); });
    connect(m_session, &TPop3::OnHostNotFound, this, [this](TPop3*, const QString& servidor) {
        setLook(Look::Disconnected);
        emit connectionFailed(this, u"Servidor no encontrado"_qs, u"No se encuentra el Servidor "_qs + servidor);
    });
    connect(m_session, &TPop3::OnConexionImposible, this, [this](TPop3*, const QString& titulo, const QString& texto) {
        setLook(Look::Disconnected);
        emit connectionFailed(this, titulo, texto);
    });
    connect(m_session, &TPop3::OnSendCommandToServer, this,
            [this](TPop3*, const QString& comando) { commandSent(comando); });
    connect(m_session, &TPop3::OnBytesFromServer, this,
            [this](TPop3*, const QByteArray& bytes) { textFromServer(bytes); });
    connect(m_session, &TPop3::OnCabeceraRecibida, this, [this](TPop3*, int num) { headerReceived(num); });
    connect(m_session, &TPop3::OnPrimerasLineasRecibidas, this, [this](TPop3*, int num) { firstLinesReceived(num); });
    connect(m_session, &TPop3::OnMensajeBorrado, this, [this](TPop3*, int num) { messageDeleted(num); });
    connect(m_session, &TPop3::OnCopiaFallida, this, [this](TPop3*, int num, const QString&) { copyFailed(num); });
    connect(m_session, &TPop3::OnVaciarListaMensajes, this, [this](TPop3*) { messageListEmptied(); });
    connect(m_session, &TPop3::OnConexionCompletada, this, [this](TPop3*) { sessionCompleted(); });
    connect(m_session, &TPop3::OnConexionCifrada, this,
            [this](TPop3*, const QString& protocol, const QString& cipher) { encrypted(protocol, cipher); });
    connect(m_session, &TPop3::OnAviso, this, [this](TPop3*, const QString& texto) { notice(texto); });
}

// ---------------------------------------------------------------------------------------------------
// The mailbox, through the session

QString TAccountTab::user() const {
    return m_session->Usuario();
}

QString TAccountTab::server() const {
    return m_session->Servidor();
}

int TAccountTab::port() const {
    return m_session->Conexion().Puerto;
}

bool TAccountTab::isIdle() const {
    return m_session->Estado() == TPop3::Conectado;
}

bool TAccountTab::isDisconnected() const {
    return m_session->Estado() == TPop3::Desconectado;
}

bool TAccountTab::lookupStalled() const {
    // Whole milliseconds, so that the clock's rounding never decides.
    return !m_session->Activo() && m_session->Estado() == TPop3::EsperandoSaludo &&
           std::llround(m_session->TiempoDesdeConexion() * 86400000.0) > 30000;
}

int TAccountTab::messageCount() const {
    return m_session->NumMensajes();
}

TMensaje TAccountTab::summaryAt(int index) const {
    return m_session->ResumenPorIndice(index);
}

TMensaje TAccountTab::summary(int num) const {
    return m_session->ResumenPorNumero(num);
}

TMensaje TAccountTab::message(int num) const {
    return m_session->MensajePorNumero(num);
}

QString TAccountTab::headerText(int num) const {
    return m_session->TextoCabeceraPorNumero(num);
}

void TAccountTab::setKeepHeaderText(bool keep) {
    // The tab shows a message's first lines and recipients, never its whole header text; the
    // filter's rules may read it.
    m_session->setKeptText(TPop3::KeepFirstLines | TPop3::KeepRecipients | (keep ? TPop3::KeepHeaderText : 0));
}

void TAccountTab::setKeepCopy(Pop3KeepCopy hook) {
    m_session->setKeepCopy(std::move(hook));
}

void TAccountTab::setAccessTokenSource(Pop3AccessTokenSource source) {
    m_session->setAccessTokenSource(std::move(source));
}

void TAccountTab::setAllowPlaintext(bool allow) {
    m_session->setAllowPlaintext(allow);
}

void TAccountTab::connectTo(const QString& server, int port, const QString& user, const QString& password) {
    m_session->Conectar(server, port, user, password);
}

void TAccountTab::reconnect() {
    m_session->Reconectar();
}

void TAccountTab::checkAgain() {
    // Deletions wait for QUIT, and while they wait no new mail shows. Once the user has had a whole
    // re-check interval to undo them, the re-check applies them and logs in again.
    const int interval = m_context.config->segsRechequeoSiConectado;
    const qint64 waited = std::llround((m_context.seams->clock() - m_lastDeletion) * 86400000.0) / 1000;
    m_session->ComprobarDeNuevo(interval > 0 && m_session->BorradosPendientes() && waited >= interval);
}

bool TAccountTab::accessDenied() const {
    return m_session->AccesoDenegado();
}

int TAccountTab::loginDelay() const {
    return m_session->DemoraEntreAccesos();
}

void TAccountTab::endSession(const QString& reason) {
    m_session->Desconectar(reason);
}

void TAccountTab::deleteMessages(const QStringList& numbers, const QStringList& reasons) {
    m_session->EliminarMensajes(numbers, reasons);
}

void TAccountTab::fetchFirstLines(int num, int lines) {
    m_session->PedirPrimerasLineas(num, lines);
}

bool TAccountTab::restore() {
    return m_session->Restaurar();
}

// ---------------------------------------------------------------------------------------------------
// Session events

void TAccountTab::sessionStateChanged(int estado, const QString& texto) {
    // A delete batch is over: the copies that failed in it are told in one box.
    if (estado != TPop3::Borrando && !m_failedCopies.isEmpty()) emit copiesFailed(this);
    const double now = m_context.seams->clock();
    const TConfig& config = *m_context.config;
    switch (estado) {
    case TPop3::Desconectado:
        m_statusBar->setPanelText(PanelActivity, texto);
        if (texto != u"Desconectado") announce(config.wavFalloDuranteConexion);
        break;
    case TPop3::EsperandoSaludo:
        endServerLine(); // a new connection starts a new line
        m_deniedBar->hide();
        setStatus(u"Conectando..."_qs, u"Estableciendo conexión con "_qs + m_session->Servidor());
        m_list->clearRows();
        m_textPane->clear();
        setLook(Look::Busy);
        break;
    case TPop3::EnviadoUser:
    case TPop3::EnviadoPass:
    case TPop3::ConsultandoCapacidades:
    case TPop3::IniciandoConexionSegura:
        setStatus(u"Conectando..."_qs, texto);
        m_lastActivity = now;
        setLook(Look::Busy);
        break;
    case TPop3::Listando:
        setStatus(u"Conectado"_qs, texto);
        m_lastActivity = now;
        setLook(Look::Busy);
        break;
    case TPop3::LeyendoCabeceras:
        setStatus(u"Conectado"_qs, texto);
        if (m_list->rowCount() == 0) fillMessageList();
        m_lastActivity = now;
        setLook(Look::Busy);
        break;
    case TPop3::Conectado: {
        if (m_list->rowCount() == 0) fillMessageList(); // a re-check that asked for no header
        setStatus(u"Conectado"_qs, summaryText());
        const bool mail = m_session->NumMensajes() > 0;
        m_lastActivity = now;
        noteNewMessages();
        setLook(mail ? Look::IdleWithMail : Look::IdleEmpty);
        if (mail && m_announce) emit mailFound(this); // heard, and told outside the window
        announce(mail ? config.wavSiTieneMensajes : config.wavNoTieneMensajes);
        break;
    }
    case TPop3::Restaurando:
        appendDialogue(u" "_qs, m_context.commentStyle);
        appendDialogue(u"// Restaurando mensajes eliminados..."_qs, m_context.commentStyle);
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
        m_announce = false;
        break;
    default:
        break;
    }
}

void TAccountTab::sessionDisconnectedByForce(const QString& motivo) {
    const int style = m_context.commentStyle;
    const bool denied = m_session->AccesoDenegado();
    setStatus(u"Desconectado"_qs, denied ? u"Contraseña o usuario rechazados: revise la cuenta"_qs : motivo);
    m_deniedBar->setVisible(denied);
    setLook(Look::Disconnected);
    appendDialogue(u" "_qs, style);
    appendDialogue(u"// Finalizando conexión con "_qs + m_session->Servidor(), style);
    if (!motivo.isEmpty()) appendDialogue(u"// "_qs + motivo, style);
    appendDialogue(u" "_qs, style);
    announce(m_context.config->wavFalloDuranteConexion);
}

void TAccountTab::commandSent(const QString& comando) {
    const int style = m_context.commandStyle;
    appendDialogue(u" "_qs, style);
    // The password never reaches the log.
    if (MayusculasSinAcentos(comando.left(5)) == u"PASS ")
        appendDialogue(u"> PASS (\u00B7\u00B7\u00B7)"_qs, style);
    else
        appendDialogue(u"> "_qs + comando, style);
    appendDialogue(u" "_qs, style);
}

void TAccountTab::encrypted(const QString& protocol, const QString& cipher) {
    appendDialogue(u"// Conexión cifrada ("_qs + protocol + u", "_qs + cipher + u')', m_context.commentStyle);
}

void TAccountTab::notice(const QString& texto) {
    appendDialogue(u"// "_qs + texto, m_context.commentStyle);
}

void TAccountTab::textFromServer(const QByteArray& bytes) {
    // A reply comes in pieces of any size, a byte at a time from a slow server: the log shows whole
    // lines, so what follows the last line break waits for the rest of its line (or for anything
    // else the log must show first).
    QByteArrayView rest(bytes);
    const qsizetype lastEnd = rest.lastIndexOf('\n');
    if (lastEnd < 0) return addToServerLine(rest, false);
    if (!m_serverLine.isEmpty() || m_serverLineDropped > 0) {
        const qsizetype firstEnd = rest.indexOf('\n');
        addToServerLine(rest.first(firstEnd + 1), true);
        rest = rest.sliced(firstEnd + 1);
    }
    const qsizetype end = rest.lastIndexOf('\n');
    appendServerLines(rest.first(end + 1));
    addToServerLine(rest.sliced(end + 1), false);
}

void TAccountTab::appendServerLines(QByteArrayView lines) {
    // Whole lines, each up to its LF, written as they are but for a line of many megabytes (a
    // header line, say): it shows its start, and the log says how much of it was left out. Kept
    // whole, each such message would grow the log by its size.
    const qsizetype n = lines.size();
    if (n <= kLogLineCap) return appendDialogue(lines, m_context.serverStyle);
    qsizetype written = 0;
    for (qsizetype from = 0; from < n;) {
        const auto* lf = static_cast<const char*>(std::memchr(lines.data() + from, '\n', size_t(n - from)));
        const qsizetype next = lf - lines.data() + 1;
        if (next - from > kLogLineCap) {
            if (from > written) appendDialogue(lines.sliced(written, from - written), m_context.serverStyle);
            addToServerLine(lines.sliced(from, next - from), true);
            written = next;
        }
        from = next;
    }
    if (written < n) appendDialogue(lines.sliced(written), m_context.serverStyle);
}

void TAccountTab::addToServerLine(QByteArrayView piece, bool ends) {
    QByteArrayView content = piece;
    QByteArrayView lineBreak;
    if (ends) {
        const qsizetype breakSize = piece.size() >= 2 && piece[piece.size() - 2] == '\r' ? 2 : 1;
        content = piece.first(piece.size() - breakSize);
        lineBreak = piece.last(breakSize);
    }
    const qsizetype room = std::max<qsizetype>(0, kLogLineCap - m_serverLineShown - m_serverLine.size());
    const qsizetype kept = std::min(room, content.size());
    m_serverLine += content.first(kept);
    m_serverLineDropped += content.size() - kept;
    if (!ends) return;
    if (m_serverLineDropped == 0) m_serverLine += lineBreak;
    flushServerLine();
    endServerLine();
}

void TAccountTab::flushServerLine() {
    // What is written of an unfinished line still counts towards what the log keeps of it.
    const QByteArray line = std::exchange(m_serverLine, {});
    m_serverLineShown += line.size();
    if (!line.isEmpty()) appendDialogue(QByteArrayView(line), m_context.serverStyle);
}

void TAccountTab::endServerLine() {
    flushServerLine();
    m_serverLineShown = 0;
    if (const qsizetype dropped = std::exchange(m_serverLineDropped, 0); dropped > 0)
        appendDialogue(u"// ("_qs + FormatThousands(dropped) + u" caracteres más de esta línea no se muestran)"_qs,
                       m_context.commentStyle);
}

void TAccountTab::firstLinesReceived(int num) {
    if (m_list->isRowSelected(m_list->positionOf(num))) showSelectedMessage();
}

void TAccountTab::messageDeleted(int num) {
    m_lastDeletion = m_context.seams->clock();
    const int position = m_list->positionOf(num);
    if (position < 0) return;
    if (num == m_shownMessage) {
        m_shownMessage = 0;
        m_textPane->clear();
    }
    m_list->deleteRow(position);
}

void TAccountTab::messageListEmptied() {
    m_listed = true;
    m_list->clearRows();
    m_textPane->clear();
    m_announce = true;
}

void TAccountTab::copyFailed(int num) {
    m_failedCopies << num;
}

void TAccountTab::sessionCompleted() {
    const int style = m_context.commentStyle;
    appendDialogue(u" "_qs, style);
    appendDialogue(u"// Conectado al servidor "_qs + m_session->Servidor(), style);
    if (m_session->NumMensajes() == 0) appendDialogue(u"// No tiene mensajes"_qs, style);
    ReturnFreedMemory(); // what the listing freed: the replies, the rows and records it replaced
    emit connectionCompleted(this);
}

// ---------------------------------------------------------------------------------------------------
// Rows

void TAccountTab::fillMessageList() {
    if (m_list->rowCount() > 0) return;
    QList<MessageRow> rows;
    rows.reserve(m_session->NumMensajes());
    for (int i = 0; i < m_session->NumMensajes(); ++i) {
        const TMensaje m = m_session->ResumenPorIndice(i);
        MessageRow& row = rows.emplace_back();
        row.number = m.Num;
        row.bytes = m.Bytes;
        // A re-check keeps the headers of the messages it had: only the new ones come in the pass.
        if (!m.Cabecera.From.isEmpty() || !m.Cabecera.Subj.isEmpty() || !m.Cabecera.Fecha.isEmpty()) {
            row.from = m.Cabecera.From;
            row.date = ListDate(m.Cabecera.Fecha);
            row.subject = m.Cabecera.Subj;
        }
    }
    m_list->appendRows(rows);
}

void TAccountTab::headerReceived(int num) {
    const int position = m_list->positionOf(num);
    if (position < 0) return;
    const TMensaje m = m_session->ResumenPorNumero(num);
    m_list->setRowHeader(position, m.Cabecera.From, ListDate(m.Cabecera.Fecha), m.Cabecera.Subj);
}

namespace {
/** What a row shows, as one number: the same message listed again gives the same one. */
size_t rowKey(const TMensaje& m) {
    return qHashMulti(0, m.Bytes, m.Cabecera.From, m.Cabecera.Fecha, m.Cabecera.Subj);
}
} // namespace

void TAccountTab::noteNewMessages() {
    // Numbers change from one login to the next: a message is told apart by what its row shows.
    if (!std::exchange(m_listed, false)) return;
    QHash<size_t, int> known = std::exchange(m_known, {});
    m_newMessages.clear();
    for (int i = 0; i < m_session->NumMensajes(); ++i) {
        const TMensaje m = m_session->ResumenPorIndice(i);
        const size_t key = rowKey(m);
        ++m_known[key];
        auto seen = known.find(key);
        if (seen != known.end() && seen.value() > 0)
            --seen.value();
        else
            m_newMessages << m.Num;
    }
}
