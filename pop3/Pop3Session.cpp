#include "Pop3Session.h"

#include "Cp1252.h"
#include "Desktop.h"
#include "Errors.h"
#include "MessagePreview.h"
#include "TextAndTime.h"

#include <QHostAddress>
#include <QMetaMethod>
#include <QPointer>
#include <utility>

namespace {
const QUrl kWinsockErrorsPage(u"https://learn.microsoft.com/windows/win32/winsock/windows-sockets-error-codes-2"_qs);
/** The longest command line a server must take, CR LF included (RFC 2449, 4). */
constexpr qsizetype kMaxCommandOctets = 255;
/** A SASL challenge (RFC 5034, 4): "+", a blank and base64 text, or "+" alone. */
bool isChallenge(QStringView reply) {
    return reply.startsWith(u"+ ") || reply == u"+\r\n";
}

/** The unique id a UIDL listing gives a message number, or null. Servers list 1 to N in order, so
 *  the number finds its line at once; for any other listing a table is made, once. */
class UidOf {
public:
    explicit UidOf(QList<std::pair<int, QString>> uids) : m_uids(std::move(uids)) {}
    const QString* operator()(int num) const {
        const qsizetype at = qsizetype(num) - 1;
        if (at >= 0 && at < m_uids.size() && m_uids[at].first == num) return &m_uids[at].second;
        if (!m_byNum) {
            m_byNum.emplace();
            m_byNum->reserve(m_uids.size());
            for (qsizetype i = m_uids.size(); i-- > 0;) // a number listed twice: its first line
                m_byNum->insert(m_uids[i].first, i);
        }
        const auto found = m_byNum->constFind(num);
        return found == m_byNum->cend() ? nullptr : &m_uids[*found].second;
    }

private:
    const QList<std::pair<int, QString>> m_uids;
    mutable std::optional<QHash<int, qsizetype>> m_byNum;
};
} // namespace

TPop3::TPop3(IDesktop* desktop, SocketFactory socketFactory, QObject* parent)
    : QObject(parent), m_desktop(desktop), m_socket(socketFactory()), m_now(&CurrentDateTime) {
    connect(m_socket.get(), &IClientSocket::dataRead, this, &TPop3::onData);
    connect(m_socket.get(), &IClientSocket::socketError, this, &TPop3::onSocketError);
    connect(m_socket.get(), &IClientSocket::hostLookupFailed, this, &TPop3::onHostLookupFailed);
    connect(m_socket.get(), &IClientSocket::encrypted, this, &TPop3::onEncrypted);
    connect(m_socket.get(), &IClientSocket::tlsFailed, this, &TPop3::onTlsFailed);
    m_socket->setCertificateDecision([this](const CertificateInfo& info) { return decideCertificate(info); });
    m_timerNoop.setInterval(0);
    connect(&m_timerNoop, &QTimer::timeout, this, &TPop3::onKeepAlive);
    m_replyTimer.setSingleShot(true);
    connect(&m_replyTimer, &QTimer::timeout, this, &TPop3::onReplyTimer);
    connect(&m_progressTimer, &QTimer::timeout, this, &TPop3::onProgressCheck);
}

TPop3::~TPop3() {
    // Closing without QUIT, as a session destroyed while connected does.
    m_socket->disconnect(this);
    m_socket->close();
}

// ---------------------------------------------------------------------------------------------------
// Operations

void TPop3::Conectar(const QString& servidor, int puerto, const QString& usuario, const QString& password) {
    QPointer<TPop3> self(this);
    Desconectar();
    if (!self) return;
    m_conexion.Servidor = servidor;
    m_conexion.Puerto = puerto;
    m_conexion.Usuario = usuario;
    m_conexion.Password = password;
    openConnection();
}

void TPop3::Reconectar() {
    QPointer<TPop3> self(this);
    Desconectar();
    if (self) openConnection();
}

void TPop3::openConnection() {
    m_conexion.HoraConexion = m_now();
    m_assembler.clear();
    m_owed = {Owed::Line}; // the greeting
    m_outOfStep = false;
    m_lookupFailed = false;
    m_step = Step::Greeting;
    m_relogin = false;
    m_encrypted = false;
    m_capabilities.clear();
    m_haveUids = false;
    m_accessDenied = false;
    m_loginDelayAsked = 0;
    m_lastActivity.start();
    if (!CambiarEstado(EsperandoSaludo, u"Conectando con "_qs + m_conexion.Servidor + u"..."_qs)) return;
    try {
        // Port 995 is POP3 over TLS from the first byte (RFC 8314).
        m_socket->open(m_conexion.Servidor, m_conexion.Puerto, m_conexion.Puerto == m_implicitTlsPort);
    } catch (const ESocketError&) {
        // No attempt is running: the session waits in state 1 for the window to give up on it.
        onHostLookupFailed();
        throw;
    }
    if (!VaciarMensajes()) return;
    m_bytesTotales = 0;
    m_timerNoop.start(m_keepAliveMs);
}

void TPop3::Desconectar(const QString& texto) {
    if (m_estado != Desconectado && !EnviarComando(u"QUIT"_qs)) return;
    if (!CambiarEstado(Desconectado, texto.isEmpty() ? u"Desconectado"_qs : texto)) return;
    closeSocket(true);
}

void TPop3::DesconexionForzada(const QString& motivo) {
    if (!EnviarComando(u"QUIT"_qs)) return;
    if (!CambiarEstado(Desconectado, u"Desconectado"_qs)) return;
    closeSocket(true);
    emit OnDesconexionForzada(this, motivo);
}

void TPop3::outOfStep() {
    m_outOfStep = true;
    DesconexionForzada(u"Respuesta inesperada del Servidor : "_qs + m_conexion.Servidor);
}

void TPop3::closeSocket(bool afterQuit) {
    // When the QUIT's answer is all that is still owed, the connection ends with it.
    if (afterQuit && m_owed.size() == 1 && !m_assembler.hasPartialReply())
        m_socket->closeAfterStatusLine();
    else
        m_socket->close();
    m_assembler.clear();
    m_owed.clear();
    stopReplyTimers();
    m_step = Step::None;
    m_relogin = false;
    m_encrypted = false;
    ++m_tokenRequest; // a token that comes now is for a connection that is gone
    m_saslResponse.clear();
    m_keptMessages.clear();
    m_keptByUid.clear();
}

void TPop3::ComprobarDeNuevo(bool aplicarBorrados) {
    const bool idle = m_estado == Conectado && m_socket->isActive();
    if (!CambiarEstado(Comprobando, u"Comprobando de nuevo la cuenta..."_qs)) return;
    // A server counts the mailbox once, at login: only a fresh login sees new mail. With deletions
    // pending that would commit them, so the open session is asked instead, unless the caller says
    // they may be applied now.
    if (!idle || (m_deletionPending && !aplicarBorrados)) {
        (void)EnviarComando(u"STAT"_qs);
        return;
    }
    if (m_capabilities.contains(u"UIDL"_qs) && !m_haveUids) {
        // What the rows stand for, to compare with what the fresh login finds.
        m_step = Step::OldUidl;
        (void)EnviarComando(u"UIDL"_qs);
        return;
    }
    beginRelogin();
}

void TPop3::beginRelogin() {
    if (!EnviarComando(u"QUIT"_qs)) return;
    closeSocket(true);
    m_relogin = true;
    m_step = Step::Greeting;
    m_owed = {Owed::Line};
    m_lookupFailed = false;
    m_lastActivity.start();
    armReplyTimer();
    m_socket->open(m_conexion.Servidor, m_conexion.Puerto, m_conexion.Puerto == m_implicitTlsPort);
}

bool TPop3::Restaurar() {
    if (m_estado != Conectado) return false;
    if (CambiarEstado(Restaurando, u"Enviando comando RSET"_qs)) (void)EnviarComando(u"RSET"_qs);
    return true;
}

bool TPop3::EliminarMensajes(const QStringList& numeros, const QStringList& motivos) {
    // After the server was out of step, a number may name another message than the row it came from.
    if (m_estado != Conectado || m_outOfStep) return false;
    QList<int> parsed;
    parsed.reserve(numeros.size());
    for (const QString& s : numeros)
        parsed.append(ParseInt32(s)); // a non-number reaches the caller
    // A batch never inherits numbers left over from an earlier, refused one.
    m_colaBorrar.clear();
    m_totalBorrar = 0;
    for (qsizetype i = 0; i < parsed.size(); ++i) {
        if (indexOfNum(parsed[i]) < 0) continue;
        m_colaBorrar.append({parsed[i], motivos.value(i)});
        ++m_totalBorrar;
    }
    if (m_colaBorrar.isEmpty()) return false;
    sendNextDelete();
    return true;
}

void TPop3::sendNextDelete() {
    const PendingDelete next = m_colaBorrar.takeFirst();
    m_mensajeBorrando = next.num;
    m_motivoBorrando = next.motivo;
    m_copiando = bool(m_keepCopy);
    sendDeleteStep();
}

void TPop3::sendDeleteStep() {
    const int done = m_totalBorrar - int(m_colaBorrar.size());
    const QString n = QString::number(m_mensajeBorrando);
    const QString doing = m_copiando ? u"Copiando"_qs : u"Borrando"_qs;
    if (!CambiarEstado(Borrando, u"%1 mensaje %2 (%3 de %4)"_qs.arg(doing, n).arg(done).arg(m_totalBorrar))) return;
    (void)EnviarComando((m_copiando ? u"RETR "_qs : u"DELE "_qs) + n);
}

void TPop3::continueDeleting() {
    if (m_colaBorrar.isEmpty())
        (void)CambiarEstado(Conectado, connectedText());
    else
        sendNextDelete();
}

bool TPop3::PedirPrimerasLineas(int num, int lineas) {
    if (m_estado != Conectado) return false;
    if (indexOfNum(num) < 0) return false;
    if (!CambiarEstado(LeyendoPrimerasLineas,
                       u"Recuperando las %1 primeras líneas del mensaje %2"_qs.arg(lineas).arg(num)))
        return true;
    const qsizetype i = indexOfNum(num);
    if (i >= 0) {
        KeptTexts texts = m_packer.unpack(m_mensajes[i].kept);
        texts.primerasLineas.clear();
        m_mensajes[i].kept = m_packer.pack(texts);
        TMensaje& m = m_mensajes[i].m;
        m.Lineas = lineas;
        m.EnCabecera = true;
    }
    m_mensajeActual = num;
    m_lineasPedidas = lineas;
    m_lineasTop = lineas;
    (void)EnviarComando(u"TOP %1 %2"_qs.arg(num).arg(lineas));
    return true;
}

TMensaje TPop3::expanded(const StoredMessage& stored) const {
    TMensaje m = stored.m;
    const KeptTexts texts = m_packer.unpack(stored.kept);
    m.Cabecera.Texto = fromCp1252(texts.texto);
    // The preview is made when a message is asked for, not for every message of a listing.
    const qsizetype cut = texts.mime.indexOf('\n');
    const QByteArrayView mime(texts.mime);
    const MessagePreview preview =
        BuildPreview(cut < 0 ? mime : mime.first(cut), cut < 0 ? QByteArrayView() : mime.sliced(cut + 1),
                     texts.primerasLineas, m.Lineas);
    m.PrimerasLineas = preview.text;
    if (!preview.unknownCharsets.isEmpty()) noteUnknownCharsetsLater(preview.unknownCharsets);
    m.Cabecera.Destinatarios = SplitRecipients(fromCp1252(texts.to), fromCp1252(texts.cc));
    return m;
}

TMensaje TPop3::MensajePorNumero(int num) const {
    const qsizetype i = indexOfNum(num);
    return i < 0 ? TMensaje() : expanded(m_mensajes[i]);
}

TMensaje TPop3::MensajePorIndice(int index) const {
    return index >= 0 && index < m_mensajes.size() ? expanded(m_mensajes[index]) : TMensaje();
}

TMensaje TPop3::ResumenPorNumero(int num) const {
    const qsizetype i = indexOfNum(num);
    return i < 0 ? TMensaje() : m_mensajes[i].m;
}

TMensaje TPop3::ResumenPorIndice(int index) const {
    return index >= 0 && index < m_mensajes.size() ? m_mensajes[index].m : TMensaje();
}

QString TPop3::TextoCabeceraPorNumero(int num) const {
    const qsizetype i = indexOfNum(num);
    return i < 0 ? QString() : fromCp1252(m_packer.unpack(m_mensajes[i].kept).texto);
}

int TPop3::MensajeActual() const {
    if (m_estado == LeyendoCabeceras || m_estado == LeyendoPrimerasLineas) return m_mensajeActual;
    if (m_estado == Borrando) return m_mensajeBorrando;
    return 0;
}

bool TPop3::Activo() const {
    return m_socket->isActive();
}

bool TPop3::IsLoopbackHost(const QString& host) {
    const QString name = host.trimmed().toLower();
    if (name == u"localhost" || name == u"localhost.") return true;
    const QHostAddress address(name.startsWith(u'[') && name.endsWith(u']') ? name.mid(1, name.size() - 2) : name);
    return !address.isNull() && address.isLoopback();
}

double TPop3::TiempoDesdeConexion() const {
    return m_estado == Desconectado ? 0.0 : m_now() - m_conexion.HoraConexion;
}

// ---------------------------------------------------------------------------------------------------
// Internal steps

bool TPop3::CambiarEstado(int estado, const QString& texto) {
    QPointer<TPop3> self(this);
    m_estado = estado;
    armReplyTimer();
    emit OnCambioEstado(this, estado, texto);
    return !self.isNull();
}

bool TPop3::EnviarComando(const QString& comando) {
    return EnviarComandos({comando});
}

bool TPop3::EnviarComandos(const QStringList& comandos) {
    if (comandos.isEmpty()) return true;
    QPointer<TPop3> self(this);
    QByteArray bytes;
    const bool goesOut = m_socket->isActive();
    for (const QString& comando : comandos) {
        if (goesOut) {
            const bool multiLine = comando.startsWith(u"TOP ") || comando.startsWith(u"RETR ") || comando == u"LIST" ||
                                   comando == u"UIDL" || comando == u"CAPA";
            m_owed.push_back(comando == u"NOOP" ? Owed::Noop : multiLine ? Owed::MultiLine : Owed::Line);
        }
        appendCp1252(bytes, comando);
        bytes += "\r\n";
    }
    m_socket->send(bytes);
    m_lastActivity.start();
    for (const QString& comando : comandos) {
        emit OnSendCommandToServer(this, comando);
        if (!self) return false;
    }
    return true;
}

bool TPop3::VaciarMensajes() {
    QPointer<TPop3> self(this);
    m_mensajes.clear();
    m_index.clear();
    m_indexDirty = false;
    emit OnVaciarListaMensajes(this);
    return !self.isNull();
}

QString TPop3::connectedText() const {
    return u"Conectado al servidor "_qs + m_conexion.Servidor;
}

qsizetype TPop3::indexOfNum(int num) const {
    if (m_indexDirty) {
        m_index.clear();
        m_index.reserve(m_mensajes.size());
        // Backwards, so the first record of a number is the one kept.
        for (qsizetype i = m_mensajes.size() - 1; i >= 0; --i)
            m_index.insert(m_mensajes[i].m.Num, i);
        m_indexDirty = false;
    }
    return m_index.value(num, -1);
}

void TPop3::removeMessageAt(qsizetype index) {
    m_mensajes.removeAt(index);
    m_indexDirty = true;
}

// ---------------------------------------------------------------------------------------------------
// Reading

void TPop3::onData(const QByteArray& bytes) {
    QPointer<TPop3> self(this);
    m_lastActivity.start();
    m_stretchBytes += bytes.size();
    if (isSignalConnected(QMetaMethod::fromSignal(&TPop3::OnTextFromServer))) {
        // The text goes into the buffer of the last read: a fresh one every read would cost the
        // system's pages again each time. (A read reported while a handler runs gets its own.)
        QString text = std::move(m_readText);
        text.resize(0);
        appendFromCp1252(text, bytes);
        emit OnTextFromServer(this, text);
        if (self) m_readText = std::move(text);
    }
    if (self && isSignalConnected(QMetaMethod::fromSignal(&TPop3::OnBytesFromServer)))
        emit OnBytesFromServer(this, bytes);
    if (!self || m_estado == Desconectado) return;
    m_assembler.append(bytes);
    while (self && m_estado != Desconectado) {
        if (m_assembler.pendingBytes() > m_maxReplyBytes) {
            DesconexionForzada(u"Respuesta no válida del Servidor : "_qs + m_conexion.Servidor);
            return;
        }
        // Every reply is owed to one command, in order: what comes when nothing is owed, or a
        // reply that is not a status line, means the server and the session are out of step.
        if (m_owed.empty()) {
            if (m_assembler.hasPartialReply()) return outOfStep();
            break;
        }
        const Owed owed = m_owed.front();
        auto reply = m_assembler.takeReply(owed == Owed::MultiLine ? ReplyAssembler::Framing::MultiLineIfPositive
                                                                   : ReplyAssembler::Framing::SingleLine);
        if (!reply) break;
        m_owed.pop_front();
        ++m_stretchReplies;
        const bool statusLine =
            reply->startsWith(u"+OK") || reply->startsWith(u"-ERR") || (owed == Owed::Sasl && isChallenge(*reply));
        if (!statusLine || (m_owed.empty() && m_assembler.hasPartialReply())) return outOfStep();
        if (owed == Owed::Noop) continue; // the keep-alive's answer: nothing to do
        handleReply(std::move(*reply));
    }
    if (self) armReplyTimer();
}

void TPop3::handleReply(QString reply) {
    if (m_step != Step::None) return handleLoginStep(reply);
    const bool positive = reply.startsWith(u'+');
    switch (m_estado) {
    case Listando:
        return handleListReply(reply);
    case LeyendoCabeceras:
        return handleHeaderReply(std::move(reply));
    case Restaurando:
        if (!positive) {
            (void)CambiarEstado(Conectado, connectedText());
            return;
        }
        m_deletionPending = false;
        if (!CambiarEstado(Listando, u"Enviando comando LIST"_qs) || !EnviarComando(u"LIST"_qs)) return;
        if (!VaciarMensajes()) return;
        m_bytesTotales = 0;
        return;
    case Borrando:
        if (m_copiando) return handleCopyReply(reply);
        return handleDeleteReply(positive);
    case LeyendoPrimerasLineas:
        return handleFirstLinesReply(reply);
    case Comprobando:
        if (!positive) {
            (void)CambiarEstado(Conectado, connectedText());
            return;
        }
        return handleStatReply(reply);
    default:
        return; // idle: keep-alive answers and unprompted lines are only shown
    }
}

QString TPop3::refusalReason(const QString& reply, const QString& fallback) const {
    // Response codes (RFC 2449, 8; RFC 3206): a locked mailbox or a wait is not a wrong password.
    const QString code = reply.mid(4).trimmed().toUpper();
    const QString& server = m_conexion.Servidor;
    if (code.startsWith(u"[IN-USE]")) return u"Buzón bloqueado por otra sesión : "_qs + server;
    if (code.startsWith(u"[LOGIN-DELAY]")) return u"Espere antes de volver a conectar : "_qs + server;
    if (code.startsWith(u"[SYS/TEMP]")) return u"Problema temporal del servidor : "_qs + server;
    return fallback;
}

void TPop3::loginRefused(const QString& reply, const QString& fallback) {
    // A refusal that names no passing cause ([AUTH], or no code at all) is one of the name or
    // password: trying the same again only counts failed logins against the account.
    const QString code = reply.mid(4).trimmed().toUpper();
    const bool temporary =
        code.startsWith(u"[IN-USE]") || code.startsWith(u"[LOGIN-DELAY]") || code.startsWith(u"[SYS/TEMP]");
    m_accessDenied = !temporary && (code.startsWith(u"[AUTH]") || !code.startsWith(u'['));
    m_loginDelayAsked = code.startsWith(u"[LOGIN-DELAY]") ? m_loginDelay : 0;
    DesconexionForzada(refusalReason(reply, fallback));
}

void TPop3::askCapabilities() {
    m_step = m_encrypted && m_step == Step::Handshake ? Step::CapaAfterTls : Step::Capa;
    if (!m_relogin && !CambiarEstado(ConsultandoCapacidades, u"Consultando capacidades del servidor"_qs)) return;
    (void)EnviarComando(u"CAPA"_qs);
}

void TPop3::sendUser() {
    m_step = Step::User;
    if (!m_relogin && !CambiarEstado(EnviadoUser, u"Enviando comando USER"_qs)) return;
    (void)EnviarComando(u"USER "_qs + m_conexion.Usuario);
}

void TPop3::handleLoginStep(const QString& reply) {
    const bool positive = reply.startsWith(u'+');
    switch (m_step) {
    case Step::Greeting:
        if (!positive) return DesconexionForzada(u"Conexión no aceptada"_qs);
        return askCapabilities();
    case Step::Capa:
    case Step::CapaAfterTls: {
        // A server without CAPA answers "-ERR": it has no capabilities to offer.
        const bool afterTls = m_step == Step::CapaAfterTls;
        m_capabilities = positive ? ParseCapabilities(reply) : QStringList();
        m_loginDelay = positive ? ParseLoginDelay(reply) : 0;
        m_saslMechanisms = positive ? ParseSaslMechanisms(reply) : std::nullopt;
        if (!afterTls && !m_encrypted && m_capabilities.contains(u"STLS"_qs)) {
            // The password never travels in clear where the server offers encryption (RFC 2595).
            m_step = Step::Stls;
            if (!m_relogin && !CambiarEstado(IniciandoConexionSegura, u"Iniciando conexión segura"_qs)) return;
            (void)EnviarComando(u"STLS"_qs);
            return;
        }
        if (!m_encrypted) {
            // Never a silent fall-back to clear text: a server that gave TLS before and offers none
            // now may have had STLS stripped from its answer on the way.
            if (m_requireTls || (!m_allowPlaintext && !m_tokenSource && !IsLoopbackHost(m_conexion.Servidor)))
                return DesconexionForzada(u"El Servidor no ofrece conexión segura : "_qs + m_conexion.Servidor);
            if (m_desktop && m_desktop->offeredTls(tlsKey()))
                return DesconexionForzada(u"El Servidor ya no ofrece conexión segura : "_qs + m_conexion.Servidor);
        }
        if (m_capabilities.contains(u"UTF8"_qs)) {
            // RFC 6856: a server that offers UTF8 may hide a message whose header is raw UTF-8
            // behind a stand-in from a client that has not said it reads UTF-8.
            m_step = Step::Utf8;
            (void)EnviarComando(u"UTF8"_qs);
            return;
        }
        return beginLogin();
    }
    case Step::Utf8:
        return beginLogin(); // a refusal changes nothing: the mailbox is read as before
    case Step::Stls:
        if (!positive) return DesconexionForzada(u"Conexión segura fallida : "_qs + m_conexion.Servidor);
        m_step = Step::Handshake;
        // Anything the server sent after its answer is not to be trusted: it came before encryption.
        m_assembler.clear();
        m_socket->startTls();
        return;
    case Step::Handshake:
        return; // nothing can come in clear now
    case Step::User:
        if (!positive) return loginRefused(reply, u"Comando USER no aceptado"_qs);
        m_step = Step::Pass;
        if (!m_relogin && !CambiarEstado(EnviadoPass, u"Enviando comando PASS"_qs)) return;
        if (!m_encrypted) {
            QPointer<TPop3> self(this);
            emit OnAviso(this, u"La contraseña se envía sin cifrar: el Servidor no ofrece conexión segura"_qs);
            if (!self) return;
        }
        (void)EnviarComando(u"PASS "_qs + m_conexion.Password);
        return;
    case Step::Pass:
        if (!positive) return loginRefused(reply, u"Combinación USER/PASS no válida"_qs);
        return loggedIn();
    case Step::Token:
        return; // nothing is owed while the owner works out a token
    case Step::Auth:
    case Step::AuthAborted:
        return handleAuthReply(reply);
    case Step::OldUidl: {
        const auto uids = positive ? ParseUidlReply(reply) : std::nullopt;
        m_haveUids = uids.has_value();
        m_uids = uids.value_or(QList<std::pair<int, QString>>());
        return beginRelogin();
    }
    case Step::NewUidl: {
        const auto uids = positive ? ParseUidlReply(reply) : std::nullopt;
        m_haveNewUids = uids.has_value();
        m_newUids = uids.value_or(QList<std::pair<int, QString>>());
        m_step = Step::Stat;
        (void)EnviarComando(u"STAT"_qs);
        return;
    }
    case Step::Stat: {
        m_step = Step::None;
        m_relogin = false;
        const auto count = positive ? ParseStatCount(reply) : std::nullopt;
        // Unchanged only when the unique ids say so: without them, numbers from the earlier login
        // may name other messages now, so the mailbox is listed again.
        const bool unchanged =
            count && *count == m_mensajes.size() && m_haveUids && m_haveNewUids && m_uids == m_newUids;
        if (unchanged) {
            m_uids = m_newUids;
            m_haveUids = m_haveNewUids;
            (void)CambiarEstado(Conectado, connectedText());
            return;
        }
        keepListedMessages();
        m_uids = m_newUids;
        m_haveUids = m_haveNewUids;
        startListing();
        return;
    }
    case Step::None:
        return;
    }
}

void TPop3::loggedIn() {
    m_deletionPending = false;
    if (!m_relogin) {
        m_step = Step::None;
        m_haveUids = false;
        if (!CambiarEstado(Listando, u"Enviando comando LIST"_qs) || !EnviarComando(u"LIST"_qs)) return;
        m_bytesTotales = 0;
        (void)VaciarMensajes();
        return;
    }
    m_haveNewUids = false;
    m_step = m_capabilities.contains(u"UIDL"_qs) ? Step::NewUidl : Step::Stat;
    (void)EnviarComando(m_step == Step::NewUidl ? u"UIDL"_qs : u"STAT"_qs);
}

void TPop3::beginLogin() {
    if (!m_tokenSource) return sendUser();
    const QString& server = m_conexion.Servidor;
    // A bearer token opens the mailbox to whoever reads it, like a password: never in clear.
    if (!m_encrypted)
        return DesconexionForzada(
            u"El token OAuth2 solo se envía cifrado, y el Servidor no ofrece conexión segura : "_qs + server);
    // A server that names its mechanisms and leaves XOAUTH2 out would only refuse it.
    if (m_saslMechanisms && !m_saslMechanisms->contains(u"XOAUTH2"_qs))
        return DesconexionForzada(u"El Servidor no ofrece el inicio de sesión OAuth2 (XOAUTH2) : "_qs + server);
    m_tokenRefused = false;
    askForToken(false);
}

void TPop3::askForToken(bool afterRefusal) {
    m_step = Step::Token; // no reply is owed, so no time limit runs: a refresh may take a while
    const quint64 request = ++m_tokenRequest;
    if (!m_relogin && !CambiarEstado(EnviadoUser, afterRefusal ? u"Renovando el token de acceso OAuth2"_qs
                                                               : u"Obteniendo el token de acceso OAuth2"_qs))
        return;
    if (m_step != Step::Token || request != m_tokenRequest) return; // a handler ended or restarted the session
    QPointer<TPop3> self(this);
    const AccessTokenSource source = m_tokenSource; // the source may replace itself
    source(afterRefusal, [self, request](const QString& token, const QString& error) {
        // Only the answer to the request still open counts: the session may have been disconnected,
        // or connected again, meanwhile.
        if (self && self->m_step == Step::Token && request == self->m_tokenRequest) self->onToken(token, error);
    });
}

void TPop3::onToken(const QString& token, const QString& error) {
    if (!error.isEmpty()) return DesconexionForzada(error);
    if (token.isEmpty()) return DesconexionForzada(u"No hay token de acceso OAuth2 para "_qs + m_conexion.Usuario);
    m_lastActivity.start();
    QPointer<TPop3> self(this);
    sendXOAuth2(token);
    if (self) armReplyTimer();
}

void TPop3::sendXOAuth2(const QString& token) {
    // The client response of XOAUTH2 as Google and Microsoft define it, fields ended by ^A.
    const QByteArray end(1, '\x01');
    const QByteArray response =
        ("user=" + m_conexion.Usuario.toUtf8() + end + "auth=Bearer " + token.toUtf8() + end + end).toBase64();
    const QString command = u"AUTH XOAUTH2 "_qs + QString::fromLatin1(response);
    m_step = Step::Auth;
    if (!m_relogin && !CambiarEstado(EnviadoPass, u"Enviando comando AUTH XOAUTH2"_qs)) return;
    // The initial response (RFC 5034) where the command fits in a line; some providers' tokens are far
    // longer, and then the response waits for the server's "+" and goes on a line of its own.
    if (command.size() + 2 <= kMaxCommandOctets) {
        (void)sendSaslLine(command, u"AUTH XOAUTH2 (\u00B7\u00B7\u00B7)"_qs);
        return;
    }
    m_saslResponse = QString::fromLatin1(response);
    (void)sendSaslLine(u"AUTH XOAUTH2"_qs, u"AUTH XOAUTH2"_qs);
}

bool TPop3::sendSaslLine(const QString& line, const QString& shown) {
    QPointer<TPop3> self(this);
    if (m_socket->isActive()) m_owed.push_back(Owed::Sasl);
    m_socket->send(line.toLatin1() + "\r\n");
    m_lastActivity.start();
    emit OnSendCommandToServer(this, shown);
    return !self.isNull();
}

void TPop3::handleAuthReply(const QString& reply) {
    if (reply.startsWith(u"+OK")) return loggedIn();
    if (isChallenge(reply)) {
        if (m_step == Step::AuthAborted) return outOfStep();
        if (!m_saslResponse.isEmpty()) {
            // The empty challenge of the two-step form.
            (void)sendSaslLine(std::exchange(m_saslResponse, QString()), u"(\u00B7\u00B7\u00B7)"_qs);
            return;
        }
        // A refusal as a challenge carrying the error (base64 JSON): an empty line ends the exchange,
        // then the server says -ERR.
        m_step = Step::AuthAborted;
        (void)sendSaslLine(QString(), QString());
        return;
    }
    // A locked mailbox or a wait is no fault of the token: a fresh one would fare no better.
    const QString reason = refusalReason(reply, QString());
    if (!reason.isEmpty()) return DesconexionForzada(reason);
    if (!m_tokenRefused) {
        // Tokens expire, or are revoked: the owner refreshes it, and it is tried once more.
        m_tokenRefused = true;
        return askForToken(true);
    }
    const QString text = reply.mid(4).trimmed();
    DesconexionForzada(u"Token de acceso OAuth2 no aceptado por el Servidor : "_qs + m_conexion.Servidor +
                       (text.isEmpty() ? QString() : u" ("_qs + text + u')'));
}

void TPop3::onEncrypted(const QString& protocol, const QString& cipher) {
    QPointer<TPop3> self(this);
    m_encrypted = true;
    m_lastActivity.start();
    // Remembered, so that the password never goes in clear to this server again.
    if (m_step == Step::Handshake && m_desktop && !m_desktop->offeredTls(tlsKey())) m_desktop->rememberTls(tlsKey());
    emit OnConexionCifrada(this, protocol, cipher);
    if (self && m_step == Step::Handshake) askCapabilities();
}

void TPop3::onTlsFailed(bool certificateRefused) {
    if (m_estado == Desconectado) return;
    DesconexionForzada((certificateRefused ? u"Certificado no válido : "_qs : u"Conexión segura fallida : "_qs) +
                       m_conexion.Servidor);
}

QString TPop3::tlsKey() const {
    return m_conexion.Servidor + u':' + QString::number(m_conexion.Puerto);
}

bool TPop3::decideCertificate(const CertificateInfo& info) {
    const QString key = tlsKey();
    const auto remembered = m_desktop ? m_desktop->trustedCertificate(key) : std::nullopt;
    if (remembered && remembered->compare(info.sha256, Qt::CaseInsensitive) == 0) return true;
    if (!m_desktop) return false;
    const QString head =
        remembered ? u"El certificado del servidor %1 ha cambiado desde la última vez que lo aceptó."_qs.arg(key)
                   : u"No se puede verificar el certificado del servidor %1."_qs.arg(key);
    const QString text = head + u"\r\rSujeto: "_qs + info.subject + u"\rEmisor: "_qs + info.issuer +
                         u"\rVálido desde el "_qs + info.validFrom + u" hasta el "_qs + info.validTo +
                         u"\rHuella SHA-256: "_qs + info.sha256 + u"\r\rMotivos:\r"_qs + info.errors.join(u'\r') +
                         u"\r\r¿Desea confiar en este certificado para este servidor?"_qs;
    // No time limit while the user reads. Enter and Escape never trust.
    stopReplyTimers();
    QPointer<TPop3> self(this);
    const bool yes = m_desktop->askYesNo(u"Certificado no verificado"_qs, text, /*defaultYes=*/false);
    if (!self) return false;
    m_lastActivity.start();
    armReplyTimer();
    if (yes) m_desktop->trustCertificate(key, info.sha256.toLower());
    return yes;
}

void TPop3::handleListReply(const QString& reply) {
    if (!reply.startsWith(u'+')) return DesconexionForzada(u"Comando LIST fallido"_qs);
    const auto entries = ParseListReply(reply);
    if (!entries) return DesconexionForzada(u"Comando LIST fallido"_qs);
    m_mensajes.reserve(entries->size());
    // A re-check keeps the messages it listed before, found by their unique ids, and asks only for
    // the headers of the others; without ids every header is asked for.
    QList<StoredMessage> kept = std::exchange(m_keptMessages, {});
    QHash<QString, qsizetype> keptByUid = std::exchange(m_keptByUid, {});
    m_fetchAll = keptByUid.isEmpty();
    m_fetch.clear();
    m_keptInRows = m_fetchAll ? m_kept : (m_keptInRows & m_kept); // what every row holds
    const UidOf uidOf(m_uids);                                    // asked only when ids are kept
    for (const ListEntry& e : *entries) {
        StoredMessage stored;
        const QString* uid = m_fetchAll ? nullptr : uidOf(e.num);
        const auto found = uid ? keptByUid.constFind(*uid) : keptByUid.cend();
        if (found != keptByUid.cend() && kept[*found].m.Bytes == e.bytes) {
            stored = std::move(kept[*found]);
            keptByUid.erase(found); // an id LIST names twice gets its message once
        } else if (!m_fetchAll) {
            m_fetch.append(m_mensajes.size());
        }
        stored.m.Num = e.num;
        stored.m.Bytes = e.bytes;
        m_bytesTotales += e.bytes;
        m_mensajes.append(std::move(stored));
    }
    kept.clear();
    m_indexDirty = true;
    m_mensajeActual = 1;
    m_nextToSend = 0;
    m_bytesInFlight = 0;
    if (m_mensajes.isEmpty() || fetchCount() == 0) {
        if (CambiarEstado(Conectado, m_mensajes.isEmpty() ? u"No hay mensajes"_qs : connectedText()))
            emit OnConexionCompletada(this);
        return;
    }
    (void)requestHeader(0);
}

bool TPop3::requestHeader(qsizetype index) {
    // The pass asks for each listed message by its own number, so it stays right even when LIST
    // numbers are not 1..N. The event for message k comes when the headers before it are stored.
    m_headerIndex = index;
    m_mensajeActual = m_mensajes[fetchPosition(index)].m.Num;
    const qint64 k = index + 1;
    const qint64 n = fetchCount();
    // Put together piece by piece: once a message, and arg() reads its pattern every time.
    const QString progress = u"Obteniendo cabecera del mensaje "_qs + QString::number(k) + u" de "_qs +
                             QString::number(n) + u" ("_qs + QString::number(k * 100 / n) + u"%)"_qs;
    if (!CambiarEstado(LeyendoCabeceras, progress)) return false;
    return sendHeaderRequests();
}

bool TPop3::sendHeaderRequests() {
    // Strictly one TOP at a time, unless the server accepts commands in flight (RFC 2449,
    // PIPELINING): then a window of them, bounded by count and by the reply bytes not yet read, so
    // that neither side's buffers fill.
    const bool pipelined = m_pipelining && m_capabilities.contains(u"PIPELINING"_qs);
    const qsizetype maxInFlight = pipelined ? kMaxTopsInFlight : 1;
    if (m_nextToSend < m_headerIndex) m_nextToSend = m_headerIndex;
    // The window is topped up a quarter at a time, the commands together in one write, rather
    // than one command (and one packet) each time a reply comes in.
    const qsizetype inFlight = m_nextToSend - m_headerIndex;
    if (pipelined && inFlight > 0 &&
        (maxInFlight - inFlight < maxInFlight / 4 || kMaxBytesInFlight - m_bytesInFlight < kMaxBytesInFlight / 4))
        return true;
    QStringList commands;
    while (m_nextToSend < fetchCount() && m_nextToSend - m_headerIndex < maxInFlight) {
        const TMensaje& m = m_mensajes[fetchPosition(m_nextToSend)].m;
        const qint64 expected = std::min<qint64>(std::max(m.Bytes, 0), kReplyEstimateCap);
        if (m_nextToSend > m_headerIndex && m_bytesInFlight + expected > kMaxBytesInFlight) break;
        m_bytesInFlight += expected;
        ++m_nextToSend;
        commands << u"TOP "_qs + QString::number(m.Num) + u' ' + QString::number(LineasTop);
    }
    return EnviarComandos(commands);
}

void TPop3::handleHeaderReply(QString reply) {
    const qsizetype i = fetchPosition(m_headerIndex);
    m_bytesInFlight -= std::min<qint64>(std::max(m_mensajes[i].m.Bytes, 0), kReplyEstimateCap);
    // A "-ERR" to one TOP leaves that message without header; the pass goes on.
    if (reply.startsWith(u'+')) {
        ParsedHeader h = ParseHeaderReply(std::move(reply), (m_kept & KeepHeaderText) ? WithText : 0);
        StoredMessage& stored = m_mensajes[i];
        TMensaje& m = stored.m;
        KeptTexts texts;
        if (m_kept & KeepHeaderText) {
            texts.texto = toCp1252(h.texto);
            m.Cabecera.TextoCortado = h.textoCut;
        }
        m.Cabecera.From = std::move(h.from);
        m.Cabecera.Subj = std::move(h.subj);
        m.Cabecera.Fecha = std::move(h.fecha);
        // Kept for as long as the message is listed: no room beyond the text.
        for (QString* kept : {&m.Cabecera.From, &m.Cabecera.Subj, &m.Cabecera.Fecha})
            kept->squeeze();
        if (m_kept & KeepRecipients) {
            texts.to = toCp1252(h.to);
            texts.cc = toCp1252(h.cc);
        }
        m.Lineas = LineasTop;
        if (m_kept & KeepFirstLines) keepFirstLines(texts, h);
        stored.kept = m_packer.pack(texts);
    }
    QPointer<TPop3> self(this);
    emit OnCabeceraRecibida(this, m_mensajes[i].m.Num);
    if (!self || m_estado != LeyendoCabeceras) return; // a listener ended the pass
    const qsizetype next = m_headerIndex + 1;
    if (next < fetchCount()) {
        (void)requestHeader(next);
        return;
    }
    if (CambiarEstado(Conectado, connectedText())) emit OnConexionCompletada(this);
}

void TPop3::handleDeleteReply(bool positive) {
    if (!positive) {
        // A refused DELE ends the batch; its remaining numbers are dropped, never sent later.
        m_colaBorrar.clear();
        (void)CambiarEstado(Conectado, connectedText());
        return;
    }
    m_deletionPending = true;
    QPointer<TPop3> self(this);
    emit OnMensajeBorrado(this, m_mensajeBorrando);
    if (!self) return;
    const qsizetype i = indexOfNum(m_mensajeBorrando);
    if (i >= 0) {
        m_bytesTotales -= m_mensajes[i].m.Bytes;
        removeMessageAt(i);
    }
    continueDeleting();
}

void TPop3::handleCopyReply(const QString& reply) {
    // RFC 1939, 7: RETR answers "+OK", the message (byte-stuffed, which the assembler undid) and a
    // "." line. The message is what lies between the status line and that last line.
    m_copiando = false;
    bool kept = false;
    QPointer<TPop3> self(this);
    if (reply.startsWith(u'+')) {
        const qsizetype start = reply.indexOf(u'\n') + 1;
        const QByteArray message = toCp1252(QStringView(reply).sliced(start, reply.size() - start - 3));
        const KeepCopy keep = m_keepCopy; // the hook may replace itself
        kept = keep && keep(m_mensajeBorrando, message, m_motivoBorrando);
        if (!self) return;
    }
    if (kept) return sendDeleteStep();
    emit OnCopiaFallida(this, m_mensajeBorrando, m_motivoBorrando);
    if (self) continueDeleting();
}

void TPop3::keepFirstLines(KeptTexts& texts, const ParsedHeader& h) {
    texts.primerasLineas = toCp1252(h.body);
    texts.mime.clear();
    if (!h.contentType.isEmpty() || !h.transferEncoding.isEmpty())
        texts.mime = toCp1252(h.contentType) + '\n' + toCp1252(h.transferEncoding);
}

bool TPop3::noteUnknownCharsets(const QStringList& charsets) {
    QPointer<TPop3> self(this);
    for (const QString& charset : charsets) {
        if (m_charsetsNoted.contains(charset.toLower())) continue;
        m_charsetsNoted.insert(charset.toLower());
        emit OnAviso(this, u"Juego de caracteres desconocido (%1): el texto se lee como Windows-1252"_qs.arg(charset));
        if (!self) return false;
    }
    return true;
}

void TPop3::noteUnknownCharsetsLater(const QStringList& charsets) const {
    // Asked for while the caller reads a message: the log hears of it once control is back in the
    // event loop, where a handler may do anything.
    QMetaObject::invokeMethod(
        const_cast<TPop3*>(this),
        [self = QPointer<TPop3>(const_cast<TPop3*>(this)), charsets] {
            if (self) (void)self->noteUnknownCharsets(charsets);
        },
        Qt::QueuedConnection);
}

void TPop3::handleFirstLinesReply(const QString& reply) {
    const qsizetype i = indexOfNum(m_mensajeActual);
    if (i >= 0 && reply.startsWith(u'+')) {
        const qsizetype blank = reply.indexOf(u"\r\n\r\n");
        const ParsedHeader h = ParseHeaderReply(reply, 0);
        const MessagePreview preview =
            BuildPreview(toCp1252(h.contentType), toCp1252(h.transferEncoding), toCp1252(h.body), m_lineasPedidas);
        // The lines asked for are lines of text: when those fetched end before that much text (a
        // long preamble, part headers, markup) and the message goes on, more are asked for.
        const qsizetype fetched = blank < 0 ? 0 : QStringView(reply).sliced(blank + 4).count(u"\r\n") - 1;
        if (preview.lines < m_lineasPedidas && fetched >= m_lineasTop && m_lineasTop < kMaxPreviewTopLines &&
            reply.size() < kMaxPreviewBytes) {
            m_lineasTop = int(std::min<qint64>(kMaxPreviewTopLines, qint64(m_lineasTop) * 2 + m_lineasPedidas));
            (void)EnviarComando(u"TOP %1 %2"_qs.arg(m_mensajeActual).arg(m_lineasTop));
            return;
        }
        m_mensajes[i].m.EnCabecera = blank < 0;
        KeptTexts texts = m_packer.unpack(m_mensajes[i].kept);
        keepFirstLines(texts, h);
        m_mensajes[i].kept = m_packer.pack(texts);
        if (!noteUnknownCharsets(preview.unknownCharsets)) return;
    }
    QPointer<TPop3> self(this);
    emit OnPrimerasLineasRecibidas(this, m_mensajeActual);
    if (self) (void)CambiarEstado(Conectado, connectedText());
}

void TPop3::handleStatReply(const QString& reply) {
    const auto count = ParseStatCount(reply);
    if (count && *count == m_mensajes.size()) {
        (void)CambiarEstado(Conectado, connectedText());
        return;
    }
    startListing();
}

void TPop3::keepListedMessages() {
    // Only what both logins name by unique id, and only when the rows hold all that is kept now.
    m_keptMessages.clear();
    m_keptByUid.clear();
    if (!m_haveUids || !m_haveNewUids || (m_kept & ~m_keptInRows) != 0) return;
    const UidOf uidOf(m_uids);
    m_keptByUid.reserve(m_mensajes.size());
    for (qsizetype i = m_mensajes.size(); i-- > 0;) // an id named twice: its first message
        if (const QString* uid = uidOf(m_mensajes[i].m.Num)) m_keptByUid.insert(*uid, i);
    m_keptMessages = std::exchange(m_mensajes, {});
    m_indexDirty = true;
}

void TPop3::startListing() {
    if (!VaciarMensajes()) return;
    m_bytesTotales = 0;
    if (CambiarEstado(Listando, u"Enviando comando LIST"_qs)) (void)EnviarComando(u"LIST"_qs);
}

// ---------------------------------------------------------------------------------------------------
// Socket notifications and timers

void TPop3::onSocketError(int code) {
    QPointer<TPop3> self(this);
    const QString& server = m_conexion.Servidor;
    const QString port = QString::number(m_conexion.Puerto);
    switch (code) {
    case 10049:
        emit OnHostNotFound(this, server);
        if (self) DesconexionForzada(u"Servidor no encontrado : "_qs + server);
        return;
    case 10054:
        // The server was found and spoke: a connection it closed is no "not found".
        DesconexionForzada(u"Conexión cerrada por el Servidor : "_qs + server);
        return;
    case 10061:
    case 10060: {
        // The name was found: a wrong port or a server that is down, not a wrong host name.
        const QString text =
            code == 10061
                ? u"El Servidor %1 rechazó la conexión en el puerto %2"_qs.arg(server, port)
                : u"El Servidor %1 no respondió en el puerto %2: tiempo de espera agotado"_qs.arg(server, port);
        emit OnConexionImposible(this, code == 10061 ? u"Conexión rechazada"_qs : u"Tiempo de espera agotado"_qs, text);
        if (self) DesconexionForzada(text);
        return;
    }
    default:
        break;
    }
    // The reply timers must not fire while the question is open.
    stopReplyTimers();
    const QString text = u"ClientSocketError - Código de error: %1\r\r¿Desea abrir una página web donde se "
                         "explican los errores?"_qs.arg(code);
    if (m_desktop && m_desktop->askYesNo(u"Error no gestionado"_qs, text, /*defaultYes=*/true) && m_desktop)
        m_desktop->openUrl(kWinsockErrorsPage);
    if (!self) return;
    DesconexionForzada(u"ClientSocketError (%1) hablando con el Servidor : %2"_qs.arg(code).arg(m_conexion.Servidor));
}

void TPop3::onHostLookupFailed() {
    if (m_relogin) {
        DesconexionForzada(u"Servidor no encontrado : "_qs + m_conexion.Servidor);
        return;
    }
    // The session stays in state 1, not active; the window's sweep ends it.
    m_lookupFailed = true;
    stopReplyTimers();
}

void TPop3::onKeepAlive() {
    if (m_estado == Conectado) (void)EnviarComando(u"NOOP"_qs);
}

bool TPop3::awaitingReply() const {
    return m_estado != Desconectado && m_estado != Conectado && !m_lookupFailed && m_step != Step::Token;
}

void TPop3::stopReplyTimers() {
    m_replyTimer.stop();
    m_progressTimer.stop();
}

void TPop3::armReplyTimer() {
    if (!awaitingReply()) {
        stopReplyTimers();
        return;
    }
    if (!m_replyTimer.isActive()) {
        if (!m_lastActivity.isValid()) m_lastActivity.start();
        m_replyTimer.start(std::max<qint64>(0, m_replyTimeoutMs - m_lastActivity.elapsed()));
    }
    if (!m_progressTimer.isActive()) {
        m_stretchBytes = 0;
        m_stretchReplies = 0;
        m_progressTimer.start(m_replyTimeoutMs);
    }
}

void TPop3::onReplyTimer() {
    if (!awaitingReply()) return;
    const qint64 idle = m_lastActivity.elapsed();
    if (idle < m_replyTimeoutMs) {
        m_replyTimer.start(int(m_replyTimeoutMs - idle));
        return;
    }
    giveUpWaiting();
}

void TPop3::onProgressCheck() {
    // The silence limit restarts at every byte: a server that trickles a reply would keep the
    // session waiting for ever. So a stretch without a complete reply must bring some bytes.
    if (!awaitingReply()) {
        m_progressTimer.stop();
        return;
    }
    const qint64 least = std::max<qint64>(1, kMinBytesPerMinute * m_replyTimeoutMs / 60000);
    const bool trickling = m_stretchReplies == 0 && m_stretchBytes < least;
    m_stretchBytes = 0;
    m_stretchReplies = 0;
    if (trickling) giveUpWaiting();
}

void TPop3::giveUpWaiting() {
    // A server that ends its lines with a bare LF never ends a multi-line reply here.
    const QString head = m_assembler.endsWithLooseTerminator() ? u"Respuesta mal terminada del Servidor : "_qs
                                                               : u"Tiempo de espera agotado con el Servidor : "_qs;
    DesconexionForzada(head + m_conexion.Servidor);
}
