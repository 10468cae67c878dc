// One POP3 session (RFC 1939) over an asynchronous socket: login, LIST, the header pass with TOP,
// then idle with NOOP, serving re-checks (STAT), first lines (TOP), delete batches (DELE), reset
// (RSET) and disconnection (QUIT). Everything it does is reported through its events; it never
// shows anything itself but for the question it asks the desktop on an unknown socket error.
#pragma once

#include "ClientSocket.h"
#include "KeptTexts.h"
#include "MessageHeader.h"
#include "Pop3Replies.h"
#include "Pop3Types.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>

class IDesktop;

/** The connection data of a session. */
struct TConexion {
    QString Servidor;
    int Puerto = 110;
    QString Usuario;
    QString Password;
    double HoraConexion = 0; ///< days since 30 December 1899, local time
};

class TPop3 final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TPop3)
public:
    /** States of the conversation; the window switches on these numbers. */
    enum : int {
        Desconectado = 0,
        EsperandoSaludo = 1,
        EnviadoUser = 2,
        EnviadoPass = 3,
        Listando = 4,
        LeyendoCabeceras = 5,
        Conectado = 6,
        Restaurando = 7,
        Borrando = 8,
        LeyendoPrimerasLineas = 9,
        Comprobando = 10,
        ConsultandoCapacidades = 11,  ///< CAPA
        IniciandoConexionSegura = 12, ///< STLS and the TLS handshake
    };

    TPop3(IDesktop* desktop, SocketFactory socketFactory, QObject* parent = nullptr);
    ~TPop3() override;

    /** @short Disconnects, then connects and logs in afresh; may throw ESocketError for an empty server. */
    void Conectar(const QString& servidor, int puerto, const QString& usuario, const QString& password);
    /** @short Conectar with the stored connection data. */
    void Reconectar();
    /** @short QUIT unless already disconnected, state 0 with the text ("Desconectado" when empty). */
    void Desconectar(const QString& texto = QString());
    /** @short Checks the mailbox again: idle with nothing deleted, a fresh login (QUIT, then in
     *  again) that lists the mailbox again when it changed; with deletions waiting, STAT on the
     *  open session, or, when aplicarBorrados, the fresh login all the same: its QUIT applies them. */
    void ComprobarDeNuevo(bool aplicarBorrados = false);
    /** @short RSET then a new LIST; false (nothing sent) unless idle. */
    bool Restaurar();
    /** @short Deletes the listed ones of these decimal numbers, one DELE at a time; motivos[i] is
     *  why numeros[i] goes (handed to the copy hook; may be missing). Throws EConvertError for a
     *  string that is not a number. False (nothing sent) unless idle with one of them listed. */
    bool EliminarMensajes(const QStringList& numeros, const QStringList& motivos = {});
    /** @short TOP num lineas for a listed message; false unless idle. */
    bool PedirPrimerasLineas(int num, int lineas);

    TMensaje MensajePorNumero(int num) const;
    TMensaje MensajePorIndice(int index) const;
    /** @short The message without its header text, first lines and recipients (they stay empty):
     *  what a row of the list shows, cheap enough to ask for once a message. */
    TMensaje ResumenPorNumero(int num) const;
    TMensaje ResumenPorIndice(int index) const;
    /** @short The header text kept of a message (empty when not kept, or not listed): what the rules
     *  read, without the cost of the whole record. */
    QString TextoCabeceraPorNumero(int num) const;
    int NumMensajes() const { return int(m_mensajes.size()); }
    qint64 BytesTotales() const { return m_bytesTotales; }
    /** @short The message being worked on in states 5, 8 and 9, else 0. */
    int MensajeActual() const;
    bool Activo() const;
    QString Servidor() const { return m_conexion.Servidor; }
    QString Usuario() const { return m_conexion.Usuario; }
    const TConexion& Conexion() const { return m_conexion; }
    /** @short A DELE was accepted since login or the last RSET: QUIT will apply it. */
    bool BorradosPendientes() const { return m_deletionPending; }
    /** @short The last login was refused for its name or password (the reply said [AUTH], or gave
     *  no reason): the same password would be refused again. Cleared by the next connection. */
    bool AccesoDenegado() const { return m_accessDenied; }
    /** @short When the last login was refused with [LOGIN-DELAY]: the seconds the server asks
     *  between logins (its LOGIN-DELAY capability), else 0. */
    int DemoraEntreAccesos() const { return m_loginDelayAsked; }
    /** @short Days since the last Conectar began; 0 when disconnected. */
    double TiempoDesdeConexion() const;
    int Estado() const { return m_estado; }

    /** Body lines asked for with each TOP of the header pass. */
    int LineasTop = 20;

    // Seams for tests and tools.
    /** @short How long an awaited reply may bring no byte before the session gives up (60 s); also
     *  the stretch in which a reply must complete or bytes come at kMinBytesPerMinute. */
    void setReplyTimeout(int milliseconds) { m_replyTimeoutMs = milliseconds; }
    /** @short Never log in without TLS, even at a server that never offered it (off). */
    void setRequireTls(bool on) { m_requireTls = on; }
    /** @short Whether a password may go in clear to a server that offers no TLS (on). Off, such a
     *  server is refused ("El Servidor no ofrece conexión segura") unless it is on this computer
     *  (IsLoopbackHost): whoever strips STLS from the first contact would get the password. */
    void setAllowPlaintext(bool on) { m_allowPlaintext = on; }
    /** @short A name or address of this computer: localhost, 127.0.0.0/8 or ::1. */
    static bool IsLoopbackHost(const QString& host);
    /** @short The largest single reply accepted (64 MiB). */
    void setMaxReplyBytes(qint64 bytes) { m_maxReplyBytes = bytes; }
    /** @short The clock read for connection times (days since 30 December 1899). */
    void setClock(std::function<double()> now) { m_now = std::move(now); }
    /** What the session keeps of each message beyond its number, size, sender, subject and date. */
    enum KeptText : int { KeepHeaderText = 1, KeepFirstLines = 2, KeepRecipients = 4, KeepAll = 7 };
    /** @short Which of the header text, the first lines and the recipients the header pass keeps
     *  (all): what is not kept reads as empty. A first-lines request keeps its lines regardless. */
    void setKeptText(int kept) { m_kept = kept; }
    using TokenReply = Pop3TokenReply;
    using AccessTokenSource = Pop3AccessTokenSource;
    /** @short With a source, logins use SASL XOAUTH2 (RFC 5034) with its tokens, only over TLS,
     *  instead of USER/PASS (the default, and again with an empty source); the password is unused. */
    void setAccessTokenSource(AccessTokenSource source) { m_tokenSource = std::move(source); }
    using KeepCopy = Pop3KeepCopy;
    /** @short With a hook, each DELE is preceded by RETR and sent only when the hook kept the copy;
     *  a message whose RETR failed or whose copy was refused stays on the server (OnCopiaFallida)
     *  and the batch goes on. Without one (the default), DELE alone. */
    void setKeepCopy(KeepCopy keep) { m_keepCopy = std::move(keep); }
    /** @short Keep several header requests in flight when the server offers PIPELINING (off). */
    void setPipelining(bool on) { m_pipelining = on; }
    /** @short The port that means POP3 over TLS from the first byte (995). */
    void setImplicitTlsPort(int port) { m_implicitTlsPort = port; }
    /** @short Keep-alive period (60 s). */
    void setKeepAliveInterval(int milliseconds) {
        m_keepAliveMs = milliseconds;
        if (m_timerNoop.isActive()) m_timerNoop.start(milliseconds);
    }

    // Bounds of the pipelined header pass: TOPs in flight, and the reply bytes they may bring. A
    // TOP reply is the header and a few lines: a message's size, up to 16 KiB, is a fair guess.
    static constexpr qsizetype kMaxTopsInFlight = 1000;
    static constexpr qint64 kReplyEstimateCap = 16 * 1024;
    static constexpr qint64 kMaxBytesInFlight = 8 * 1024 * 1024;
    // A server that keeps a reply open by trickling is given up on: in every stretch of the reply
    // time limit, at least one reply must complete or bytes arrive at this average rate. A genuine
    // reply over the slowest link brings far more; one byte every few seconds does not.
    static constexpr qint64 kMinBytesPerMinute = 1024;

signals:
    void OnCambioEstado(TPop3* sender, int estado, const QString& texto);
    void OnDesconexionForzada(TPop3* sender, const QString& motivo);
    void OnHostNotFound(TPop3* sender, const QString& servidor);
    /** The server's name was found but no connection came of it: refused (a wrong port, a server
     *  that is down) or no answer in time. A caption and a sentence for a box. */
    void OnConexionImposible(TPop3* sender, const QString& titulo, const QString& texto);
    /** A line sent. An XOAUTH2 line comes with its credentials masked ("AUTH XOAUTH2 (···)"): a
     *  listener could not tell them apart from other lines. PASS comes whole: listeners mask it. */
    void OnSendCommandToServer(TPop3* sender, const QString& comando);
    void OnTextFromServer(TPop3* sender, const QString& texto);
    /** The bytes of each read as they came (Windows-1252): OnTextFromServer without its
     *  conversion, for a log that keeps the bytes. */
    void OnBytesFromServer(TPop3* sender, const QByteArray& bytes);
    /** The header pass has read message `num`'s header (or the server refused its TOP: the
     *  header stays empty); ResumenPorNumero has it now. */
    void OnCabeceraRecibida(TPop3* sender, int num);
    void OnPrimerasLineasRecibidas(TPop3* sender, int num);
    void OnMensajeBorrado(TPop3* sender, int num);
    /** No copy of the message could be kept (RETR refused, or the hook said no): it was not deleted. */
    void OnCopiaFallida(TPop3* sender, int num, const QString& motivo);
    void OnVaciarListaMensajes(TPop3* sender);
    void OnConexionCompletada(TPop3* sender);
    /** The connection is encrypted now (TLS from the first byte, or after STLS). */
    void OnConexionCifrada(TPop3* sender, const QString& protocol, const QString& cipher);
    /** Something the user should know that is not a state, e.g. a password sent in clear. */
    void OnAviso(TPop3* sender, const QString& texto);

private:
    // Each returns false when a handler of the event it raised destroyed the session.
    [[nodiscard]] bool CambiarEstado(int estado, const QString& texto);
    [[nodiscard]] bool EnviarComando(const QString& comando);
    /** Several commands in one write; OnSendCommandToServer follows for each. False if the session was destroyed. */
    [[nodiscard]] bool EnviarComandos(const QStringList& comandos);
    void DesconexionForzada(const QString& motivo);
    /** The server sent what no command asked for: nothing it says can be trusted any more. */
    void outOfStep();
    [[nodiscard]] bool VaciarMensajes();

    void openConnection();
    /** afterQuit: a QUIT was the last command sent. */
    void closeSocket(bool afterQuit = false);
    void onData(const QByteArray& bytes);
    void onSocketError(int code);
    void onHostLookupFailed();
    void onKeepAlive();
    void onReplyTimer();
    void onProgressCheck();
    void armReplyTimer();
    void stopReplyTimers();
    bool awaitingReply() const;
    void giveUpWaiting();
    QString tlsKey() const;
    void handleReply(QString reply);
    void handleLoginStep(const QString& reply);
    void askCapabilities();
    void sendUser();
    void beginLogin();
    void askForToken(bool afterRefusal);
    void onToken(const QString& token, const QString& error);
    void sendXOAuth2(const QString& token);
    /** A line of the SASL exchange, shown as `shown`: the server may answer it with a "+" line. */
    [[nodiscard]] bool sendSaslLine(const QString& line, const QString& shown);
    void handleAuthReply(const QString& reply);
    void loggedIn();
    void beginRelogin();
    void onEncrypted(const QString& protocol, const QString& cipher);
    void onTlsFailed(bool certificateRefused);
    bool decideCertificate(const CertificateInfo& info);
    QString refusalReason(const QString& reply, const QString& fallback) const;
    /** A USER or PASS refused: the session ends, and says whether the same password could do. */
    void loginRefused(const QString& reply, const QString& fallback);
    void handleListReply(const QString& reply);
    void handleHeaderReply(QString reply);
    void handleDeleteReply(bool positive);
    void handleCopyReply(const QString& reply);
    /** RETR of the message being deleted while its copy is awaited (m_copiando), else its DELE. */
    void sendDeleteStep();
    /** The next message of the batch, or back to idle when it is done. */
    void continueDeleting();
    void handleFirstLinesReply(const QString& reply);
    /** Says once a session, in the log, that a charset was read as Windows-1252. False if the session was destroyed. */
    [[nodiscard]] bool noteUnknownCharsets(const QStringList& charsets);
    /** noteUnknownCharsets from the event loop, for a getter. */
    void noteUnknownCharsetsLater(const QStringList& charsets) const;
    void handleStatReply(const QString& reply);
    void startListing();
    /** Moves the messages listed into m_keptMessages, found by the unique ids of the login they
     *  came from. */
    void keepListedMessages();
    qsizetype fetchCount() const { return m_fetchAll ? m_mensajes.size() : m_fetch.size(); }
    qsizetype fetchPosition(qsizetype k) const { return m_fetchAll ? k : m_fetch[k]; }
    void sendNextDelete();
    [[nodiscard]] bool requestHeader(qsizetype index);
    [[nodiscard]] bool sendHeaderRequests();
    QString connectedText() const;
    qsizetype indexOfNum(int num) const;
    void removeMessageAt(qsizetype index);

    IDesktop* m_desktop;
    std::unique_ptr<IClientSocket> m_socket;
    QTimer m_timerNoop;
    QTimer m_replyTimer;
    QTimer m_progressTimer; ///< repeating, one reply time limit a stretch
    qint64 m_stretchBytes = 0;
    int m_stretchReplies = 0;
    QElapsedTimer m_lastActivity;
    ReplyAssembler m_assembler;
    // The replies still owed, oldest first, one for each command sent.
    enum class Owed : quint8 { Line, MultiLine, Noop, Sasl }; // Sasl: a status line or a "+" challenge
    std::deque<Owed> m_owed;
    bool m_outOfStep = false; ///< since the last connect: never send DELE
    QString m_readText;       ///< the buffer of the last read's text, kept for the next one

    /** A message as kept: its header text, first lines and the values of its To and Cc fields as
     *  the server's bytes, packed in one block (KeptTexts), the record's own fields for them empty.
     *  The recipients are split and decoded, and the preview of the first lines made, when the
     *  message is asked for. */
    struct StoredMessage {
        TMensaje m;
        QByteArray kept; ///< m_packer's
    };
    TMensaje expanded(const StoredMessage& stored) const;
    /** Keeps the body lines of a TOP reply and what it takes to read them. */
    static void keepFirstLines(KeptTexts& texts, const ParsedHeader& h);
    KeptTextsPacker m_packer; ///< before the messages: their blocks need it to be read
    QList<StoredMessage> m_mensajes;
    int m_kept = KeepAll;
    mutable QHash<int, qsizetype> m_index; // Num -> first position in m_mensajes
    mutable bool m_indexDirty = false;
    TConexion m_conexion;
    qint64 m_bytesTotales = 0;
    int m_mensajeActual = 0;
    // The header pass asks for the messages at these positions (every one with m_fetchAll); the two
    // below count in this list.
    QList<qsizetype> m_fetch;
    bool m_fetchAll = true;
    qsizetype m_headerIndex = 0; // the message whose header is awaited
    qsizetype m_nextToSend = 0;  // the next message to ask for in the header pass
    /** Between a re-check's STAT and its LIST: the messages listed before, and where each is in
     *  that list by its unique id (an id named twice keeps its first message). */
    QList<StoredMessage> m_keptMessages;
    QHash<QString, qsizetype> m_keptByUid;
    int m_keptInRows = KeepAll; ///< what the rows' header pass kept (m_kept then)
    qint64 m_bytesInFlight = 0; // reply bytes expected for the header requests in flight
    bool m_pipelining = false;
    // A delete batch, one message at a time: (RETR ─ the hook ─) DELE ─ the next one.
    struct PendingDelete {
        int num = 0;
        QString motivo;
    };
    int m_mensajeBorrando = 0;
    QString m_motivoBorrando;
    bool m_copiando = false; ///< the RETR of m_mensajeBorrando is awaited
    int m_totalBorrar = 0;
    QList<PendingDelete> m_colaBorrar;
    KeepCopy m_keepCopy;
    // First lines asked for by the user: the lines of text wanted, and the lines of the TOP now
    // awaited (more, when the text was short of them), up to these bounds.
    static constexpr int kMaxPreviewTopLines = 200;
    static constexpr qsizetype kMaxPreviewBytes = 256 * 1024;
    int m_lineasPedidas = 0;
    int m_lineasTop = 0;
    mutable QSet<QString> m_charsetsNoted; ///< unknown charsets the log was told of (or is about to be)
    int m_estado = Desconectado;
    bool m_lookupFailed = false;

    // Login, also the silent fresh login of a re-check:
    //
    //   connect ─ Greeting ─ CAPA ─┬─ (STLS offered, not yet encrypted) STLS ─ Handshake ─ CAPA again ─┐
    //                              └─ (no STLS: refused if TLS is required or was given before) ───────┤
    //                                                  (UTF8 offered) UTF8 ─ USER ─ PASS ─ LIST ─ TOP... ┘
    //   re-check (idle, nothing deleted): UIDL ─ QUIT ─ connect ─ ... ─ PASS ─ UIDL ─ STAT
    //                                     (listed again unless count and unique ids are the same)
    //
    // With a token source, XOAUTH2 stands for USER ─ PASS (only encrypted, and not where CAPA's SASL line
    // leaves it out):
    //
    //   Token (the owner's answer may take a while) ─ Auth ─┬─ AUTH XOAUTH2 <response> ────────────┬─ +OK
    //                                                       └─ (too long) AUTH XOAUTH2 ─ + ─ <response> ┘
    //   an error challenge "+ <JSON>": AuthAborted, an empty line, then -ERR
    //   -ERR: Token again, asked for afterRefusal, and Auth once more; a second -ERR ends the connection
    //
    // Every reply is owed to the command that asked for it (m_owed). Any event handler may destroy
    // the session: every emit is followed by a check (QPointer, or the [[nodiscard]] results above).
    enum class Step {
        None,
        Greeting,
        Capa,
        Stls,
        Handshake,
        CapaAfterTls,
        Utf8,
        User,
        Pass,
        Token,
        Auth,
        AuthAborted,
        OldUidl,
        NewUidl,
        Stat
    };
    Step m_step = Step::None;
    bool m_relogin = false; ///< a fresh login inside a re-check: no state events for it
    bool m_encrypted = false;
    bool m_deletionPending = false; ///< a DELE was accepted since login or the last RSET
    bool m_accessDenied = false;    ///< see AccesoDenegado
    int m_loginDelay = 0;           ///< CAPA's LOGIN-DELAY, in seconds
    int m_loginDelayAsked = 0;      ///< see DemoraEntreAccesos
    QStringList m_capabilities;
    std::optional<QStringList> m_saslMechanisms; ///< of CAPA's SASL line, when it has one
    AccessTokenSource m_tokenSource;
    quint64 m_tokenRequest = 0;            ///< the token request a reply must answer; a new one or a close voids it
    bool m_tokenRefused = false;           ///< the server refused a token of this login
    QString m_saslResponse;                ///< the XOAUTH2 response the server's "+" asks for (the two-step form)
    QList<std::pair<int, QString>> m_uids; ///< UIDL of the login the rows come from
    bool m_haveUids = false;
    QList<std::pair<int, QString>> m_newUids;
    bool m_haveNewUids = false;

    int m_replyTimeoutMs = 60000;
    qint64 m_maxReplyBytes = qint64(64) * 1024 * 1024;
    int m_keepAliveMs = 60000;
    int m_implicitTlsPort = 995;
    bool m_requireTls = false;
    bool m_allowPlaintext = true;
    std::function<double()> m_now;
};
