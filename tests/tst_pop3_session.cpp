// Conversations between a session and a server played by the test over a fake socket: each server
// reply is followed by an exact check of what the client wrote, and of the events it raised.
#include "FakeSocket.h"
#include "Pop3Session.h"
#include "SessionRecorder.h"

#include <QRandomGenerator>
#include <QTest>
#include <QTimer>
#include <numeric>

namespace {

QByteArray topReply(const QByteArray& header, const QByteArray& body) {
    return "+OK\r\n" + header + "\r\n" + body + ".\r\n";
}

const QByteArray kTop1 = topReply("From: Ana <ana@example.es>\r\nSubject: Hola\r\nDate: Mon, 05 Aug 2002 10:20:30 "
                                  "+0200\r\nTo: bob@example.es\r\n",
                                  "Linea 1\r\n..punto\r\n");
const QByteArray kTop2 = topReply("from: =?iso-8859-1?q?Jos=E9?= <jose@example.es>\r\nSubject: Factura\r\n"
                                  " de agosto\r\nCc: a@x.es, b@x.es\r\n",
                                  "");
const QByteArray kTop3 = topReply("Subject: Sin remitente\r\n", "cuerpo\r\n");

/** One exchange: what the server sends, then exactly what the client must have written. */
struct Step {
    QByteArray server;
    QByteArray client;
};

// Login to a three-message mailbox, the header pass, and first lines of message 2.
QList<Step> recordedConversation() {
    return {
        {"+OK Dovecot ready.\r\n", "CAPA\r\n"},
        {"+OK\r\nTOP\r\nUIDL\r\nUSER\r\n.\r\n", "USER ana\r\n"},
        {"+OK\r\n", "PASS secreto\r\n"},
        {"+OK Logged in.\r\n", "LIST\r\n"},
        {"+OK 3 messages:\r\n1 120\r\n2 4800\r\n3 77\r\n.\r\n", "TOP 1 20\r\n"},
        {kTop1, "TOP 2 20\r\n"},
        {kTop2, "TOP 3 20\r\n"},
        {kTop3, ""},
    };
}

/** The XOAUTH2 initial client response (RFC 5034 with Google's and Microsoft's format), base64. */
QByteArray xoauth2(const QByteArray& user, const QByteArray& token) {
    return ("user=" + user + '\x01' + "auth=Bearer " + token + '\x01' + '\x01').toBase64();
}
QByteArray authLine(const QByteArray& token) {
    return "AUTH XOAUTH2 " + xoauth2("ana", token) + "\r\n";
}

} // namespace

Q_DECLARE_METATYPE(Step)

class TestPop3Session : public QObject {
    Q_OBJECT

    FakeDesktop desktop;
    FakeSocket* sock = nullptr;
    std::unique_ptr<TPop3> s;
    std::unique_ptr<SessionRecorder> rec;
    // The token source of the XOAUTH2 tests: each request is recorded (afterRefusal) and answered with
    // the next of `answers` ("error:" and a text for an error), or kept for the test when none is left.
    QStringList answers;
    QList<bool> asked;
    TPop3::TokenReply pending;

    void cServer(const QByteArray& bytes) { sock->serverSends(bytes); }
    QByteArray written() { return sock->takeWritten(); }

    void connectTo(const QString& server = u"pop.example.es"_qs) {
        s->Conectar(server, 110, u"ana"_qs, u"secreto"_qs);
        sock->connectNow();
    }
    /** Plays the steps, each server reply cut into pieces by `cut`; stops at the first mismatch. */
    void play(const QList<Step>& steps, const std::function<QList<QByteArray>(const QByteArray&)>& cut) {
        for (const Step& step : steps) {
            for (const QByteArray& piece : cut(step.server))
                cServer(piece);
            QCOMPARE(written(), step.client);
        }
    }
    static QList<QByteArray> whole(const QByteArray& b) { return {b}; }
    void useTokens(const QStringList& given) {
        answers = given;
        s->setAccessTokenSource([this](bool afterRefusal, TPop3::TokenReply reply) {
            asked << afterRefusal;
            if (answers.isEmpty()) {
                pending = std::move(reply);
                return;
            }
            const QString a = answers.takeFirst();
            a.startsWith(u"error:") ? reply(QString(), a.mid(6)) : reply(a, QString());
        });
    }
    /** Port 995, connected and encrypted: the session waits for the greeting. */
    void connectOverTls() {
        s->Conectar(u"pop.example.es"_qs, 995, u"ana"_qs, u"secreto"_qs);
        sock->connectNow();
        sock->handshakeSucceeds();
    }
    void loginToThree() {
        connectTo();
        play(recordedConversation(), whole);
        rec->take();
    }

private slots:
    void init() {
        desktop = FakeDesktop();
        s = std::make_unique<TPop3>(&desktop, fakeSocketFactory(sock));
        rec = std::make_unique<SessionRecorder>(*s);
        answers.clear();
        asked.clear();
        pending = nullptr;
    }
    void cleanup() {
        rec.reset();
        s.reset();
    }

    void loginListsAndReadsEveryHeader() {
        connectTo();
        play(recordedConversation(), whole);
        QCOMPARE(rec->take(), (QStringList{
                                  u"estado 0 Desconectado"_qs,
                                  u"estado 1 Conectando con pop.example.es..."_qs,
                                  u"vaciar"_qs,
                                  u"estado 11 Consultando capacidades del servidor"_qs,
                                  u"send CAPA"_qs,
                                  u"estado 2 Enviando comando USER"_qs,
                                  u"send USER ana"_qs,
                                  u"estado 3 Enviando comando PASS"_qs,
                                  u"aviso La contraseña se envía sin cifrar: el Servidor no ofrece conexión segura"_qs,
                                  u"send PASS secreto"_qs,
                                  u"estado 4 Enviando comando LIST"_qs,
                                  u"send LIST"_qs,
                                  u"vaciar"_qs,
                                  u"estado 5 Obteniendo cabecera del mensaje 1 de 3 (33%)"_qs,
                                  u"send TOP 1 20"_qs,
                                  u"estado 5 Obteniendo cabecera del mensaje 2 de 3 (66%)"_qs,
                                  u"send TOP 2 20"_qs,
                                  u"estado 5 Obteniendo cabecera del mensaje 3 de 3 (100%)"_qs,
                                  u"send TOP 3 20"_qs,
                                  u"estado 6 Conectado al servidor pop.example.es"_qs,
                                  u"completada"_qs,
                              }));
        QCOMPARE(s->Estado(), 6);
        QCOMPARE(s->NumMensajes(), 3);
        QCOMPARE(s->BytesTotales(), 4997);
        const TMensaje m1 = s->MensajePorNumero(1);
        QCOMPARE(m1.Bytes, 120);
        QCOMPARE(m1.Cabecera.From, u"Ana <ana@example.es>"_qs);
        QCOMPARE(m1.Cabecera.Subj, u"Hola"_qs);
        QCOMPARE(m1.Cabecera.Fecha, u"Mon, 05 Aug 2002 10:20:30 +0200"_qs);
        QCOMPARE(m1.Cabecera.Destinatarios, QStringList{u"bob@example.es"_qs});
        QCOMPARE(m1.PrimerasLineas, u"Linea 1\r\n.punto"_qs);
        QCOMPARE(m1.Lineas, 20);
        const TMensaje m2 = s->MensajePorNumero(2);
        QCOMPARE(m2.Cabecera.From, u"José <jose@example.es>"_qs);
        QCOMPARE(m2.Cabecera.Subj, u"Factura de agosto"_qs);
        QCOMPARE(m2.Cabecera.Destinatarios, (QStringList{u"a@x.es"_qs, u"b@x.es"_qs}));
        QCOMPARE(m2.PrimerasLineas, QString());
        QCOMPARE(s->MensajePorNumero(3).Cabecera.From, QString());
        QCOMPARE(s->MensajePorIndice(2).Num, 3);
        QCOMPARE(s->MensajePorIndice(3).Num, 0);
        QVERIFY(s->MensajePorNumero(4).EnCabecera);
    }

    void emptyMailboxCompletesWithoutTop() {
        connectTo();
        play({{"+OK\r\n", "CAPA\r\n"},
              {"-ERR\r\n", "USER ana\r\n"},
              {"+OK\r\n", "PASS secreto\r\n"},
              {"+OK\r\n", "LIST\r\n"},
              {"+OK 0 messages\r\n.\r\n", ""}},
             whole);
        const QStringList events = rec->take();
        QCOMPARE(events.mid(events.size() - 2), (QStringList{u"estado 6 No hay mensajes"_qs, u"completada"_qs}));
        QCOMPARE(s->NumMensajes(), 0);
    }

    void refusedStepsEndTheConnection_data() {
        QTest::addColumn<QList<QByteArray>>("replies");
        QTest::addColumn<QString>("reason");
        QTest::newRow("greeting") << QList<QByteArray>{"-ERR go away\r\n"} << u"Conexión no aceptada"_qs;
        QTest::newRow("USER") << QList<QByteArray>{"+OK\r\n", "-ERR\r\n", "-ERR\r\n"} << u"Comando USER no aceptado"_qs;
        QTest::newRow("PASS") << QList<QByteArray>{"+OK\r\n", "-ERR\r\n", "+OK\r\n", "-ERR [AUTH] no\r\n"}
                              << u"Combinación USER/PASS no válida"_qs;
        QTest::newRow("LIST") << QList<QByteArray>{"+OK\r\n", "-ERR\r\n", "+OK\r\n", "+OK\r\n", "-ERR\r\n"}
                              << u"Comando LIST fallido"_qs;
        QTest::newRow("LIST line with letters")
            << QList<QByteArray>{"+OK\r\n", "-ERR\r\n", "+OK\r\n", "+OK\r\n", "+OK\r\n1 12a\r\n.\r\n"}
            << u"Comando LIST fallido"_qs;
        QTest::newRow("LIST negative size")
            << QList<QByteArray>{"+OK\r\n", "-ERR\r\n", "+OK\r\n", "+OK\r\n", "+OK\r\n1 -5\r\n.\r\n"}
            << u"Comando LIST fallido"_qs;
        QTest::newRow("LIST size beyond 32 bits")
            << QList<QByteArray>{"+OK\r\n", "-ERR\r\n", "+OK\r\n", "+OK\r\n", "+OK\r\n1 4294967296\r\n.\r\n"}
            << u"Comando LIST fallido"_qs;
        // Out of step: whatever comes next may belong to another command, or another message.
        const QString outOfStep = u"Respuesta inesperada del Servidor : pop.example.es"_qs;
        QTest::newRow("greeting that is no status line") << QList<QByteArray>{"* OK IMAP4 ready\r\n"} << outOfStep;
        QTest::newRow("a reply before its command") << QList<QByteArray>{"+OK\r\n+OK\r\n"} << outOfStep;
        QTest::newRow("bytes injected after the STLS answer")
            << QList<QByteArray>{"+OK\r\n", "+OK\r\nSTLS\r\n.\r\n", "+OK go\r\n+OK injected\r\n"} << outOfStep;
        QTest::newRow("TOP reply without its status line") << QList<QByteArray>{"+OK\r\n",
                                                                                "-ERR\r\n",
                                                                                "+OK\r\n",
                                                                                "+OK\r\n",
                                                                                "+OK\r\n1 10\r\n.\r\n",
                                                                                "From: a\r\n\r\n.\r\n"}
                                                           << outOfStep;
        QTest::newRow("a line while idle")
            << QList<QByteArray>{"+OK\r\n", "-ERR\r\n", "+OK\r\n", "+OK\r\n", "+OK\r\n.\r\n", "-ERR autologout\r\n"}
            << outOfStep;
        QTest::newRow("one reply more than asked for") << QList<QByteArray>{"+OK\r\n",
                                                                            "-ERR\r\n",
                                                                            "+OK\r\n",
                                                                            "+OK\r\n",
                                                                            "+OK\r\n1 10\r\n.\r\n",
                                                                            "+OK\r\nA: b\r\n\r\n.\r\n+OK\r\n"}
                                                       << outOfStep;
    }
    void refusedStepsEndTheConnection() {
        QFETCH(QList<QByteArray>, replies);
        QFETCH(QString, reason);
        connectTo();
        for (const QByteArray& r : replies)
            cServer(r);
        const QStringList events = rec->take();
        QCOMPARE(events.mid(events.size() - 3),
                 (QStringList{u"send QUIT"_qs, u"estado 0 Desconectado"_qs, u"forzada "_qs + reason}));
        QVERIFY(written().endsWith("QUIT\r\n"));
        QCOMPARE(s->Estado(), 0);
        QCOMPARE(sock->active, false);
        // Whatever the server still says is not answered.
        cServer("+OK\r\n");
        QCOMPARE(written(), QByteArray());
    }

    void socketErrorsEndTheConnection_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QStringList>("expected");
        const QString tail = u"send QUIT|estado 0 Desconectado|forzada "_qs;
        QTest::newRow("10049") << 10049 << false
                               << (u"hostnotfound h|"_qs + tail + u"Servidor no encontrado : h"_qs).split(u'|');
        QTest::newRow("10054")
            << 10054 << false
            << (tail + u"Conexión cerrada por el Servidor : h"_qs).split(u'|'); // the server was found
        // The name was found: a refusal or a silence says the port and is no "not found".
        QTest::newRow("10061") << 10061 << false
                               << (u"imposible Conexión rechazada|"_qs + tail +
                                   u"El Servidor h rechazó la conexión en el puerto 110"_qs)
                                      .split(u'|');
        QTest::newRow("10060") << 10060 << false
                               << (u"imposible Tiempo de espera agotado|"_qs + tail +
                                   u"El Servidor h no respondió en el puerto 110: tiempo de espera agotado"_qs)
                                      .split(u'|');
        QTest::newRow("other, no") << 10055 << false
                                   << (tail + u"ClientSocketError (10055) hablando con el Servidor : h"_qs).split(u'|');
        QTest::newRow("other, yes")
            << 10050 << true << (tail + u"ClientSocketError (10050) hablando con el Servidor : h"_qs).split(u'|');
    }
    void socketErrorsEndTheConnection() {
        QFETCH(int, code);
        QFETCH(bool, answer);
        QFETCH(QStringList, expected);
        desktop.answer = answer;
        connectTo(u"h"_qs);
        cServer("+OK\r\n");
        rec->take();
        sock->fail(code);
        QCOMPARE(rec->take(), expected);
        const bool asks = code != 10049 && code != 10054 && code != 10061 && code != 10060;
        QCOMPARE(desktop.questions.size(), asks ? 1 : 0);
        if (asks)
            QCOMPARE(desktop.questions[0], u"Error no gestionado|ClientSocketError - Código de error: %1\r\r¿Desea "
                                           "abrir una página web donde se explican los errores?"_qs.arg(code));
        QCOMPARE(desktop.urls.size(), asks && answer ? 1 : 0);
        QCOMPARE(s->Estado(), 0);
    }

    void reconnectingSendsQuitFirst() {
        loginToThree();
        s->Conectar(u"otro.example.es"_qs, 995, u"eva"_qs, u"x"_qs);
        QCOMPARE(rec->take(), (QStringList{u"send QUIT"_qs, u"estado 0 Desconectado"_qs,
                                           u"estado 1 Conectando con otro.example.es..."_qs, u"vaciar"_qs}));
        QCOMPARE(sock->lastPort, 995);
        QCOMPARE(s->NumMensajes(), 0);
        QCOMPARE(s->BytesTotales(), 0);
    }

    // The connection ends with the answer to QUIT only when that answer is all that is still owed.
    void quitAnswerEndsTheConnectionWhenNothingElseIsOwed_data() {
        QTest::addColumn<QByteArray>("pending"); // what the server sent of a reply still owed, or "none"
        QTest::addColumn<int>("closesAfterLine");
        QTest::newRow("idle") << QByteArray() << 1;
        QTest::newRow("first lines asked for, nothing come yet") << QByteArray("none") << 0;
        QTest::newRow("first lines asked for, their reply half in") << QByteArray("+OK\r\nFrom: a") << 0;
    }
    void quitAnswerEndsTheConnectionWhenNothingElseIsOwed() {
        QFETCH(QByteArray, pending);
        QFETCH(int, closesAfterLine);
        loginToThree();
        if (!pending.isEmpty()) {
            QVERIFY(s->PedirPrimerasLineas(2, 40));
            if (pending != "none") cServer(pending);
        }
        s->Desconectar();
        QVERIFY(written().endsWith("QUIT\r\n"));
        QCOMPARE(sock->closesAfterLine, closesAfterLine);
        QVERIFY(!sock->active);
    }

    void emptyServerCannotOpen() {
        QVERIFY_THROWS_EXCEPTION(ESocketError, s->Conectar(QString(), 110, u"a"_qs, u"b"_qs));
        QCOMPARE(s->Estado(), 1);
        QVERIFY(!s->Activo());
    }

    void commandsNeedAnIdleSession() {
        connectTo();
        QVERIFY(!s->Restaurar());
        QVERIFY(!s->EliminarMensajes({u"1"_qs}));
        QVERIFY(!s->PedirPrimerasLineas(1, 10));
        QCOMPARE(written(), QByteArray());
        play(recordedConversation(), whole);
        QVERIFY(!s->PedirPrimerasLineas(9, 10));
        QVERIFY(!s->EliminarMensajes({u"7"_qs, u"8"_qs}));
        QCOMPARE(written(), QByteArray());
        QCOMPARE(s->Estado(), 6);
        QVERIFY_THROWS_EXCEPTION(EConvertError, s->EliminarMensajes({u"1"_qs, u"x"_qs}));
        QCOMPARE(written(), QByteArray());
    }

    void firstLinesOfOneMessage() {
        loginToThree();
        QVERIFY(s->PedirPrimerasLineas(2, 50));
        QCOMPARE(written(), QByteArray("TOP 2 50\r\n"));
        QCOMPARE(s->MensajeActual(), 2);
        // The blank line split across two reads and the final dot alone in a third.
        cServer("+OK\r\nSubject: x\r\n\r");
        cServer("\nuno\r\n..dos\r\n");
        QCOMPARE(s->Estado(), 9);
        cServer(".\r\n");
        QCOMPARE(rec->take(),
                 (QStringList{u"estado 9 Recuperando las 50 primeras líneas del mensaje 2"_qs, u"send TOP 2 50"_qs,
                              u"primeras 2"_qs, u"estado 6 Conectado al servidor pop.example.es"_qs}));
        const TMensaje m = s->MensajePorNumero(2);
        QCOMPARE(m.PrimerasLineas, u"uno\r\n.dos"_qs);
        QCOMPARE(m.Lineas, 50);
        QVERIFY(!m.EnCabecera);
        // A refused TOP completes too.
        QVERIFY(s->PedirPrimerasLineas(3, 5));
        cServer("-ERR no such message\r\n");
        QCOMPARE(s->Estado(), 6);
        // An unknown charset reads as Windows-1252, and the log says so once.
        rec->take();
        for (int n : {1, 3}) {
            QVERIFY(s->PedirPrimerasLineas(n, 60));
            cServer("+OK\r\nContent-Type: text/plain; charset=x-nadie\r\n\r\nA\xF1o\r\n.\r\n");
        }
        QCOMPARE(s->MensajePorNumero(3).PrimerasLineas, u"Año"_qs);
        QCOMPARE(rec->take().filter(u"aviso"_qs).size(), 1);
    }

    // The lines asked for are lines of text: a reply whose text falls short of them while the
    // message goes on is followed by a TOP for more, within bounds.
    void firstLinesCountLinesOfText_data() {
        QTest::addColumn<int>("asked");
        QTest::addColumn<QList<int>>("bodyLines"); // lines of body the server gives to each TOP
        QTest::addColumn<QByteArrayList>("tops");  // the TOP commands the client must send
        QTest::addColumn<int>("textLines");        // lines in the preview
        // Each line of body is a part header or a boundary until the 7th; then one line of text each.
        QTest::newRow("message shorter than asked: one TOP") << 20 << QList<int>{12} << QByteArrayList{"TOP 2 20"} << 5;
        QTest::newRow("parts' headers first, asked again")
            << 4 << QList<int>{4, 12} << QByteArrayList{"TOP 2 4", "TOP 2 12"} << 4;
        QTest::newRow("message ends before the text asked for")
            << 50 << QList<int>{50, 30} << QByteArrayList{"TOP 2 50", "TOP 2 150"} << 23;
        QTest::newRow("at most 200 lines")
            << 199 << QList<int>{199, 200} << QByteArrayList{"TOP 2 199", "TOP 2 200"} << 193;
    }
    void firstLinesCountLinesOfText() {
        QFETCH(int, asked);
        QFETCH(QList<int>, bodyLines);
        QFETCH(QByteArrayList, tops);
        QFETCH(int, textLines);
        QByteArray body = "preambulo\r\n--b\r\nContent-Type: text/plain; charset=utf-8\r\n"
                          "Content-Transfer-Encoding: 8bit\r\nX-Relleno: 1\r\nX-Relleno: 2\r\n\r\n";
        for (int i = 1; i <= 300; ++i)
            body += "l\xC3\xADnea " + QByteArray::number(i) + "\r\n";
        const QByteArray header = "Subject: s\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n";
        loginToThree();
        QVERIFY(s->PedirPrimerasLineas(2, asked));
        for (qsizetype k = 0; k < tops.size(); ++k) {
            QCOMPARE(written(), tops[k] + "\r\n");
            QCOMPARE(s->Estado(), 9);
            const QByteArrayList lines = body.split('\n').mid(0, bodyLines[k]);
            cServer("+OK\r\n" + header + lines.join('\n') + (lines.isEmpty() ? "" : "\n") + ".\r\n");
        }
        QCOMPARE(written(), QByteArray());
        QCOMPARE(s->Estado(), 6);
        const TMensaje m = s->MensajePorNumero(2);
        QCOMPARE(m.Lineas, asked);
        QCOMPARE(m.PrimerasLineas.count(u"\r\n"_qs) + 1, textLines);
        QVERIFY(m.PrimerasLineas.startsWith(u"línea 1\r\n"_qs));
    }

    void deleteBatch() {
        loginToThree();
        QVERIFY(s->EliminarMensajes({u"3"_qs, u"9"_qs, u"1"_qs}));
        QCOMPARE(written(), QByteArray("DELE 3\r\n"));
        QCOMPARE(s->MensajeActual(), 3);
        cServer("+OK\r\n");
        QCOMPARE(written(), QByteArray("DELE 1\r\n"));
        cServer("+OK\r\n");
        QCOMPARE(rec->take(),
                 (QStringList{u"estado 8 Borrando mensaje 3 (1 de 2)"_qs, u"send DELE 3"_qs, u"borrado 3"_qs,
                              u"estado 8 Borrando mensaje 1 (2 de 2)"_qs, u"send DELE 1"_qs, u"borrado 1"_qs,
                              u"estado 6 Conectado al servidor pop.example.es"_qs}));
        QCOMPARE(s->NumMensajes(), 1);
        QCOMPARE(s->BytesTotales(), 4800);
        QCOMPARE(s->MensajePorIndice(0).Num, 2);
        QCOMPARE(s->MensajePorNumero(3).Num, 0);
    }

    void refusedDeleteEndsTheBatch() {
        loginToThree();
        s->EliminarMensajes({u"1"_qs, u"2"_qs, u"3"_qs});
        QCOMPARE(written(), QByteArray("DELE 1\r\n"));
        cServer("-ERR\r\n");
        QCOMPARE(s->Estado(), 6);
        QCOMPARE(written(), QByteArray());
        QCOMPARE(s->NumMensajes(), 3);
        // What was left of the refused batch is never sent with a later one.
        s->EliminarMensajes({u"3"_qs});
        cServer("+OK\r\n");
        QCOMPARE(written(), QByteArray("DELE 3\r\n"));
        QCOMPARE(s->Estado(), 6);
    }

    // With a copy hook every DELE waits for the message's RETR and the hook's yes; a refused RETR or
    // a copy the hook could not keep leaves the message where it is, and the batch goes on.
    void copyComesBeforeEachDeleteAndAFailedOneKeepsItsMessage() {
        loginToThree();
        QStringList copies;
        s->setKeepCopy([&](int num, const QByteArray& message, const QString& motivo) {
            copies << QString::number(num) + u'|' + QString::fromLatin1(message) + u'|' + motivo;
            return num != 2;
        });
        QVERIFY(s->EliminarMensajes({u"3"_qs, u"1"_qs, u"2"_qs}, {u"Filtro SUBJ"_qs, u"Usuario"_qs}));
        QCOMPARE(written(), QByteArray("RETR 3\r\n"));
        QCOMPARE(s->MensajeActual(), 3);
        cServer("+OK 77 octets\r\nSubject: x\r\n\r\n..punto\r\n.\r\n");
        QCOMPARE(written(), QByteArray("DELE 3\r\n"));
        cServer("+OK\r\n");
        QCOMPARE(written(), QByteArray("RETR 1\r\n"));
        cServer("-ERR no such message\r\n");
        QCOMPARE(written(), QByteArray("RETR 2\r\n"));
        cServer("+OK\r\n.\r\n");
        QCOMPARE(written(), QByteArray());
        QCOMPARE(copies, (QStringList{u"3|Subject: x\r\n\r\n.punto\r\n|Filtro SUBJ"_qs, u"2||"_qs}));
        QCOMPARE(
            rec->take(),
            (QStringList{u"estado 8 Copiando mensaje 3 (1 de 3)"_qs, u"send RETR 3"_qs,
                         u"estado 8 Borrando mensaje 3 (1 de 3)"_qs, u"send DELE 3"_qs, u"borrado 3"_qs,
                         u"estado 8 Copiando mensaje 1 (2 de 3)"_qs, u"send RETR 1"_qs, u"copia fallida 1 Usuario"_qs,
                         u"estado 8 Copiando mensaje 2 (3 de 3)"_qs, u"send RETR 2"_qs, u"copia fallida 2 "_qs,
                         u"estado 6 Conectado al servidor pop.example.es"_qs}));
        QCOMPARE(s->NumMensajes(), 2);
        QCOMPARE(s->MensajePorNumero(3).Num, 0);
    }

    void resetListsAgain() {
        loginToThree();
        QVERIFY(s->Restaurar());
        cServer("+OK\r\n");
        QCOMPARE(rec->take(), (QStringList{u"estado 7 Enviando comando RSET"_qs, u"send RSET"_qs,
                                           u"estado 4 Enviando comando LIST"_qs, u"send LIST"_qs, u"vaciar"_qs}));
        QCOMPARE(written(), QByteArray("RSET\r\nLIST\r\n"));
        cServer("+OK\r\n1 10\r\n.\r\n");
        QCOMPARE(written(), QByteArray("TOP 1 20\r\n"));
        // A refused RSET goes back to idle.
        cServer(kTop1);
        s->Restaurar();
        cServer("-ERR\r\n");
        QCOMPARE(s->Estado(), 6);
    }

    // With deletions pending a fresh login would commit them: the open session is asked.
    void recheckWithDeletionsPendingAsksTheOpenSession_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("relists");
        QTest::newRow("same count") << QByteArray("+OK 2 4920\r\n") << false;
        QTest::newRow("more") << QByteArray("+OK 4 5100\r\n") << true;
        QTest::newRow("no count") << QByteArray("+OK\r\n") << true;
        QTest::newRow("huge count") << QByteArray("+OK 4000000000 1\r\n") << true;
        QTest::newRow("refused") << QByteArray("-ERR\r\n") << false;
    }
    void recheckWithDeletionsPendingAsksTheOpenSession() {
        QFETCH(QByteArray, reply);
        QFETCH(bool, relists);
        loginToThree();
        s->EliminarMensajes({u"3"_qs});
        cServer("+OK\r\n");
        written();
        rec->take();
        s->ComprobarDeNuevo();
        QCOMPARE(written(), QByteArray("STAT\r\n"));
        cServer(reply);
        const QStringList events = rec->take();
        QCOMPARE(events.first(), u"estado 10 Comprobando de nuevo la cuenta..."_qs);
        if (relists) {
            QCOMPARE(events.mid(2), (QStringList{u"vaciar"_qs, u"estado 4 Enviando comando LIST"_qs, u"send LIST"_qs}));
            QCOMPARE(s->NumMensajes(), 0);
        } else {
            QCOMPARE(events.last(), u"estado 6 Conectado al servidor pop.example.es"_qs);
            QCOMPARE(s->MensajePorNumero(1).Cabecera.Subj, u"Hola"_qs);
        }
    }

    // Without deletions pending a re-check logs in afresh, since a server counts the mailbox once.
    // Where the server gives unique ids, the messages it listed before keep their headers under
    // their new numbers, and only the new ones are asked for.
    void recheckLogsInAfresh_data() {
        QTest::addColumn<QByteArray>("capa");
        QTest::addColumn<QByteArray>("newUidl");
        QTest::addColumn<QByteArray>("stat");
        QTest::addColumn<QByteArray>("list");      // empty: the rows are kept as they are
        QTest::addColumn<QByteArray>("tops");      // the header requests after LIST
        QTest::addColumn<QStringList>("subjects"); // of the messages in order, after the pass
        const QByteArray uidl = "+OK\r\n1 a\r\n2 b\r\n3 c\r\n.\r\n";
        const QByteArray capa = "+OK\r\nUIDL\r\n.\r\n";
        const QString hola = u"Hola"_qs, factura = u"Factura de agosto"_qs, sin = u"Sin remitente"_qs;
        QTest::newRow("unchanged") << capa << uidl << QByteArray("+OK 3 4997\r\n") << QByteArray() << QByteArray()
                                   << QStringList{hola, factura, sin};
        QTest::newRow("one gone, one new")
            << capa << QByteArray("+OK\r\n1 a\r\n2 c\r\n3 d\r\n.\r\n") << QByteArray("+OK 3 4997\r\n")
            << QByteArray("+OK\r\n1 120\r\n2 77\r\n3 50\r\n.\r\n") << QByteArray("TOP 3 20\r\n")
            << QStringList{hola, sin, u"nuevo"_qs};
        QTest::newRow("ids listed out of order")
            << capa << QByteArray("+OK\r\n3 d\r\n1 a\r\n2 c\r\n.\r\n") << QByteArray("+OK 3 4997\r\n")
            << QByteArray("+OK\r\n1 120\r\n2 77\r\n3 50\r\n.\r\n") << QByteArray("TOP 3 20\r\n")
            << QStringList{hola, sin, u"nuevo"_qs};
        QTest::newRow("more mail") << capa << QByteArray("+OK\r\n1 a\r\n2 b\r\n3 c\r\n4 d\r\n.\r\n")
                                   << QByteArray("+OK 4 5100\r\n")
                                   << QByteArray("+OK\r\n1 120\r\n2 4800\r\n3 77\r\n4 50\r\n.\r\n")
                                   << QByteArray("TOP 4 20\r\n") << QStringList{hola, factura, sin, u"nuevo"_qs};
        QTest::newRow("first gone: all renumbered, none asked for")
            << capa << QByteArray("+OK\r\n1 b\r\n2 c\r\n.\r\n") << QByteArray("+OK 2 4877\r\n")
            << QByteArray("+OK\r\n1 4800\r\n2 77\r\n.\r\n") << QByteArray() << QStringList{factura, sin};
        QTest::newRow("an id that came back with another size")
            << capa << QByteArray("+OK\r\n1 a\r\n2 b\r\n3 c\r\n4 d\r\n.\r\n") << QByteArray("+OK 4 5100\r\n")
            << QByteArray("+OK\r\n1 120\r\n2 4801\r\n3 77\r\n4 50\r\n.\r\n") << QByteArray("TOP 2 20\r\nTOP 4 20\r\n")
            << QStringList{hola, u"nuevo"_qs, sin, u"nuevo"_qs};
        QTest::newRow("no UIDL at the server")
            << QByteArray("-ERR\r\n") << QByteArray() << QByteArray("+OK 3 4997\r\n")
            << QByteArray("+OK\r\n1 120\r\n2 4800\r\n3 77\r\n.\r\n")
            << QByteArray("TOP 1 20\r\nTOP 2 20\r\nTOP 3 20\r\n") << QStringList{u"nuevo"_qs, u"nuevo"_qs, u"nuevo"_qs};
    }
    void recheckLogsInAfresh() {
        QFETCH(QByteArray, capa);
        QFETCH(QByteArray, newUidl);
        QFETCH(QByteArray, stat);
        QFETCH(QByteArray, list);
        QFETCH(QByteArray, tops);
        QFETCH(QStringList, subjects);
        QList<Step> steps = recordedConversation();
        steps[1].server = capa;
        connectTo();
        play(steps, whole);
        rec->take();
        const int opens = sock->opens;
        s->ComprobarDeNuevo();
        const bool uidlAtServer = !newUidl.isEmpty();
        if (uidlAtServer) {
            QCOMPARE(written(), QByteArray("UIDL\r\n"));
            cServer("+OK\r\n1 a\r\n2 b\r\n3 c\r\n.\r\n");
        }
        QCOMPARE(written(), QByteArray("QUIT\r\n"));
        QCOMPARE(sock->opens, opens + 1);
        sock->connectNow();
        play({{"+OK again\r\n", "CAPA\r\n"}, {capa, "USER ana\r\n"}, {"+OK\r\n", "PASS secreto\r\n"}}, whole);
        if (uidlAtServer)
            play({{"+OK\r\n", "UIDL\r\n"}, {newUidl, "STAT\r\n"}}, whole);
        else
            play({{"+OK\r\n", "STAT\r\n"}}, whole);
        cServer(stat);
        QStringList events = rec->take();
        QCOMPARE(events.first(), u"estado 10 Comprobando de nuevo la cuenta..."_qs);
        QVERIFY(!events.join(u'|').contains(u"estado 1 "_qs)); // no state 1 to 3: the rows stay
        QVERIFY(!events.join(u'|').contains(u"estado 2 "_qs));
        QVERIFY(events.contains(u"send PASS secreto"_qs));
        if (list.isEmpty()) {
            QCOMPARE(events.last(), u"estado 6 Conectado al servidor pop.example.es"_qs);
        } else {
            QCOMPARE(events.mid(events.size() - 3),
                     (QStringList{u"vaciar"_qs, u"estado 4 Enviando comando LIST"_qs, u"send LIST"_qs}));
            QCOMPARE(written(), QByteArray("LIST\r\n"));
            cServer(list);
            QByteArray asked;
            for (QByteArray w = written(); !w.isEmpty(); w = written()) {
                asked += w;
                cServer("+OK\r\nSubject: nuevo\r\n\r\n.\r\n");
            }
            QCOMPARE(asked, tops);
            events = rec->take();
            QCOMPARE(events.mid(events.size() - 2),
                     (QStringList{u"estado 6 Conectado al servidor pop.example.es"_qs, u"completada"_qs}));
        }
        QStringList got;
        for (int i = 0; i < s->NumMensajes(); ++i)
            got << s->MensajePorIndice(i).Cabecera.Subj;
        QCOMPARE(got, subjects);
        // The numbers name the messages the server has under them now, and may be deleted.
        QVERIFY(s->EliminarMensajes({u"2"_qs}));
        QCOMPARE(written(), QByteArray("DELE 2\r\n"));
        cServer("+OK\r\n");
        QCOMPARE(s->NumMensajes(), subjects.size() - 1);
    }

    void failedFreshLoginEndsTheConnection_data() {
        QTest::addColumn<QByteArray>("passReply");
        QTest::addColumn<QString>("reason");
        QTest::newRow("wrong password") << QByteArray("-ERR [AUTH] no\r\n") << u"Combinación USER/PASS no válida"_qs;
        QTest::newRow("locked") << QByteArray("-ERR [IN-USE] locked\r\n")
                                << u"Buzón bloqueado por otra sesión : pop.example.es"_qs;
    }
    void failedFreshLoginEndsTheConnection() {
        QFETCH(QByteArray, passReply);
        QFETCH(QString, reason);
        loginToThree();
        s->ComprobarDeNuevo();
        cServer("+OK\r\n1 a\r\n2 b\r\n3 c\r\n.\r\n");
        sock->connectNow();
        for (const QByteArray& r : {QByteArray("+OK\r\n"), QByteArray("-ERR\r\n"), QByteArray("+OK\r\n"), passReply})
            cServer(r);
        QCOMPARE(s->Estado(), 0);
        QCOMPARE(rec->take().last(), u"forzada "_qs + reason);
    }

    // A refusal of the name or password is not tried again with the same one; a passing cause is,
    // a LOGIN-DELAY no sooner than the server's capability says.
    void responseCodesSayWhatWentWrong_data() {
        QTest::addColumn<bool>("atUser");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("denied");
        QTest::addColumn<int>("delay");
        QTest::newRow("in use at PASS") << false << QByteArray("-ERR [IN-USE] Mailbox is locked\r\n")
                                        << u"Buzón bloqueado por otra sesión : pop.example.es"_qs << false << 0;
        QTest::newRow("login delay at USER")
            << true << QByteArray("-ERR [LOGIN-DELAY] wait\r\n")
            << u"Espere antes de volver a conectar : pop.example.es"_qs << false << 900;
        QTest::newRow("temporary at PASS") << false << QByteArray("-ERR [SYS/TEMP] try later\r\n")
                                           << u"Problema temporal del servidor : pop.example.es"_qs << false << 0;
        QTest::newRow("permanent at PASS")
            << false << QByteArray("-ERR [SYS/PERM] no\r\n") << u"Combinación USER/PASS no válida"_qs << false << 0;
        QTest::newRow("auth at PASS") << false << QByteArray("-ERR [AUTH] bad\r\n")
                                      << u"Combinación USER/PASS no válida"_qs << true << 0;
        QTest::newRow("no code at PASS") << false << QByteArray("-ERR wrong password\r\n")
                                         << u"Combinación USER/PASS no válida"_qs << true << 0;
        QTest::newRow("plain at USER") << true << QByteArray("-ERR no\r\n") << u"Comando USER no aceptado"_qs << true
                                       << 0;
    }
    void responseCodesSayWhatWentWrong() {
        QFETCH(bool, atUser);
        QFETCH(QByteArray, reply);
        QFETCH(QString, reason);
        QFETCH(bool, denied);
        QFETCH(int, delay);
        connectTo();
        cServer("+OK\r\n");
        cServer("+OK\r\nUSER\r\nLOGIN-DELAY 900\r\n.\r\n");
        if (!atUser) cServer("+OK\r\n");
        cServer(reply);
        QCOMPARE(rec->take().last(), u"forzada "_qs + reason);
        QCOMPARE(s->AccesoDenegado(), denied);
        QCOMPARE(s->DemoraEntreAccesos(), delay);
        // The next connection starts with a clean slate.
        connectTo();
        QCOMPARE(s->AccesoDenegado(), false);
    }

    // TLS.

    void serverOfferingStlsGetsThePasswordOnlyEncrypted() {
        s->Conectar(u"pop.example.es"_qs, 110, u"ana"_qs, u"secreto"_qs);
        QVERIFY(!sock->openedEncrypted);
        sock->connectNow();
        play({{"+OK\r\n", "CAPA\r\n"}, {"+OK\r\nSTLS\r\nUSER\r\n.\r\n", "STLS\r\n"}}, whole);
        cServer("+OK Begin TLS\r\n");
        QVERIFY(sock->tlsStarted);
        QCOMPARE(written(), QByteArray());
        sock->handshakeSucceeds();
        QCOMPARE(desktop.gaveTls, QStringList{u"pop.example.es:110"_qs});
        QCOMPARE(written(), QByteArray("CAPA\r\n"));
        play({{"+OK\r\nUSER\r\n.\r\n", "USER ana\r\n"}}, whole);
        const QStringList events = rec->take();
        QVERIFY(events.contains(u"estado 12 Iniciando conexión segura"_qs));
        QVERIFY(events.indexOf(u"send STLS"_qs) < events.indexOf(u"send USER ana"_qs));
        QVERIFY(!events.join(u'|').contains(u"aviso"_qs));
    }

    void failedStlsNeverFallsBackToClearText_data() {
        QTest::addColumn<int>("how"); // 0 refused, 1 handshake broken, 2 certificate refused, 3 no STLS offered
        QTest::addColumn<bool>("gaveTlsBefore");
        QTest::addColumn<bool>("requireTls");
        QTest::addColumn<bool>("allowPlaintext");
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("reason"); // empty: the login goes on in clear
        const QString pop = u"pop.example.es"_qs;
        QTest::newRow("STLS refused") << 0 << false << false << true << pop
                                      << u"Conexión segura fallida : pop.example.es"_qs;
        QTest::newRow("handshake broken")
            << 1 << false << false << true << pop << u"Conexión segura fallida : pop.example.es"_qs;
        QTest::newRow("certificate refused")
            << 2 << false << false << true << pop << u"Certificado no válido : pop.example.es"_qs;
        QTest::newRow("STLS gone at a server that gave TLS")
            << 3 << true << false << true << pop << u"El Servidor ya no ofrece conexión segura : pop.example.es"_qs;
        QTest::newRow("TLS required, none offered")
            << 3 << false << true << true << pop << u"El Servidor no ofrece conexión segura : pop.example.es"_qs;
        QTest::newRow("clear text not allowed, none offered")
            << 3 << false << false << false << pop << u"El Servidor no ofrece conexión segura : pop.example.es"_qs;
        QTest::newRow("clear text not allowed, loopback")
            << 3 << false << false << false << u"127.0.0.1"_qs << QString();
        QTest::newRow("clear text not allowed, localhost")
            << 3 << false << false << false << u"localhost"_qs << QString();
        QTest::newRow("TLS required, loopback")
            << 3 << false << true << false << u"::1"_qs << u"El Servidor no ofrece conexión segura : ::1"_qs;
    }
    void failedStlsNeverFallsBackToClearText() {
        QFETCH(int, how);
        QFETCH(bool, gaveTlsBefore);
        QFETCH(bool, requireTls);
        QFETCH(bool, allowPlaintext);
        QFETCH(QString, server);
        QFETCH(QString, reason);
        if (gaveTlsBefore) desktop.gaveTls << u"pop.example.es:110"_qs;
        s->setRequireTls(requireTls);
        s->setAllowPlaintext(allowPlaintext);
        connectTo(server);
        if (reason.isEmpty()) {
            play({{"+OK\r\n", "CAPA\r\n"}, {"+OK\r\nUSER\r\n.\r\n", "USER ana\r\n"}}, whole);
            QVERIFY(!rec->take().join(u'|').contains(u"forzada"_qs)); // USER went out: the login goes on
            return;
        }
        if (how == 3) {
            play({{"+OK\r\n", "CAPA\r\n"}, {"+OK\r\nUSER\r\n.\r\n", "QUIT\r\n"}}, whole);
        } else {
            play({{"+OK\r\n", "CAPA\r\n"}, {"+OK\r\nSTLS\r\n.\r\n", "STLS\r\n"}}, whole);
            cServer(how == 0 ? "-ERR no TLS today\r\n" : "+OK\r\n");
            if (how == 1) sock->handshakeFails();
            if (how == 2)
                QVERIFY(!sock->presentCertificate({u"CN=x"_qs, u"CN=x"_qs, {}, {}, u"ab"_qs, {u"self-signed"_qs}}));
        }
        QCOMPARE(s->Estado(), 0);
        QCOMPARE(rec->take().last(), u"forzada "_qs + reason);
        QVERIFY(!written().contains("USER"));
    }

    void loopbackHosts_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("loopback");
        QTest::newRow("127.0.0.1") << u"127.0.0.1"_qs << true;
        QTest::newRow("127.1.2.3") << u"127.1.2.3"_qs << true;
        QTest::newRow("::1") << u"::1"_qs << true;
        QTest::newRow("[::1]") << u"[::1]"_qs << true;
        QTest::newRow("LocalHost") << u"LocalHost"_qs << true;
        QTest::newRow("128.0.0.1") << u"128.0.0.1"_qs << false;
        QTest::newRow("localhost.example.es") << u"localhost.example.es"_qs << false;
        QTest::newRow("127.0.0.1.example.es") << u"127.0.0.1.example.es"_qs << false;
        QTest::newRow("pop.example.es") << u"pop.example.es"_qs << false;
        QTest::newRow("empty") << QString() << false;
    }
    void loopbackHosts() {
        QFETCH(QString, host);
        QFETCH(bool, loopback);
        QCOMPARE(TPop3::IsLoopbackHost(host), loopback);
    }

    // RFC 6856: UTF8 goes right before the login, once, wherever CAPA offers it; a refusal changes nothing.
    void utf8IsAnnouncedBeforeLogin_data() {
        QTest::addColumn<bool>("stls");
        QTest::addColumn<QByteArray>("capa");
        QTest::addColumn<QByteArray>("utf8Reply"); // empty: the client must not send UTF8
        QTest::newRow("offered, accepted")
            << false << QByteArray("+OK\r\nUTF8\r\nUSER\r\n.\r\n") << QByteArray("+OK UTF8 enabled\r\n");
        QTest::newRow("offered with USER, refused")
            << false << QByteArray("+OK\r\nUSER\r\nUTF8 USER\r\n.\r\n") << QByteArray("-ERR not now\r\n");
        QTest::newRow("not offered") << false << QByteArray("+OK\r\nUSER\r\n.\r\n") << QByteArray();
        QTest::newRow("offered after STLS, sent encrypted")
            << true << QByteArray("+OK\r\nUTF8\r\nUSER\r\n.\r\n") << QByteArray("+OK\r\n");
    }
    void utf8IsAnnouncedBeforeLogin() {
        QFETCH(bool, stls);
        QFETCH(QByteArray, capa);
        QFETCH(QByteArray, utf8Reply);
        connectTo();
        if (stls) {
            play({{"+OK\r\n", "CAPA\r\n"}, {"+OK\r\nSTLS\r\nUTF8\r\n.\r\n", "STLS\r\n"}}, whole);
            cServer("+OK Begin TLS\r\n");
            sock->handshakeSucceeds();
            QCOMPARE(written(), QByteArray("CAPA\r\n"));
        } else {
            play({{"+OK\r\n", "CAPA\r\n"}}, whole);
        }
        if (utf8Reply.isEmpty()) {
            play({{capa, "USER ana\r\n"}}, whole);
        } else {
            play({{capa, "UTF8\r\n"}, {utf8Reply, "USER ana\r\n"}}, whole);
            QVERIFY(rec->take().contains(u"send UTF8"_qs)); // in the log like any command
        }
        play({{"+OK\r\n", "PASS secreto\r\n"}, {"+OK\r\n", "LIST\r\n"}}, whole);
    }

    void port995IsEncryptedFromTheStart() {
        s->Conectar(u"pop.example.es"_qs, 995, u"ana"_qs, u"secreto"_qs);
        QVERIFY(sock->openedEncrypted);
    }

    void untrustedCertificateIsAskedAboutOnce() {
        const CertificateInfo cert{u"CN=pop"_qs,     u"CN=pop"_qs,
                                   u"01/01/2026"_qs, u"01/01/2027"_qs,
                                   u"aa11"_qs,       {u"The certificate is self-signed, and untrusted"_qs}};
        s->Conectar(u"pop.example.es"_qs, 995, u"ana"_qs, u"x"_qs);
        desktop.answer = true;
        QVERIFY(sock->presentCertificate(cert));
        QCOMPARE(desktop.questions.size(), 1);
        QVERIFY(desktop.questions[0].startsWith(u"Certificado no verificado|No se puede verificar el certificado "
                                                "del servidor pop.example.es:995."_qs));
        QVERIFY(desktop.questions[0].contains(u"Huella SHA-256: aa11"_qs));
        QCOMPARE(desktop.trusted.value(u"pop.example.es:995"_qs), u"aa11"_qs);
        s->Conectar(u"pop.example.es"_qs, 995, u"ana"_qs, u"x"_qs);
        QVERIFY(sock->presentCertificate(cert));
        QCOMPARE(desktop.questions.size(), 1); // remembered
        CertificateInfo other = cert;
        other.sha256 = u"bb22"_qs;
        desktop.answer = false;
        QVERIFY(!sock->presentCertificate(other));
        QCOMPARE(desktop.questions.size(), 2);
        QVERIFY(desktop.questions[1].contains(u"ha cambiado"_qs));
        QCOMPARE(desktop.trusted.value(u"pop.example.es:995"_qs), u"aa11"_qs);
        QCOMPARE(desktop.defaults, (QList<bool>{false, false})); // Enter never trusts
    }

    void keepAliveOnlyWhenIdleAndItsAnswerIsNotTakenForTheNextReply() {
        s->setKeepAliveInterval(10);
        connectTo();
        QTest::qWait(40);
        QCOMPARE(written(), QByteArray());
        play(recordedConversation(), whole);
        QTRY_VERIFY(sock->written.startsWith("NOOP\r\n"));
        s->setKeepAliveInterval(60000);
        const QByteArray noops = written();
        QCOMPARE(noops, QByteArray("NOOP\r\n").repeated(noops.count("NOOP")));
        QVERIFY(s->PedirPrimerasLineas(1, 3));
        QCOMPARE(written(), QByteArray("TOP 1 3\r\n"));
        cServer(QByteArray("+OK\r\n").repeated(noops.count("NOOP"))); // the keep-alive's answers
        QCOMPARE(s->Estado(), 9);
        cServer("+OK\r\nA: b\r\n\r\nuno\r\n.\r\n");
        QCOMPARE(s->Estado(), 6);
        QCOMPARE(s->MensajePorNumero(1).PrimerasLineas, u"uno"_qs);
    }

    // A reply that does not come, or comes so slowly that it never ends, is given up on; one that
    // comes slowly but steadily is not.
    void waitingForAReplyEnds_data() {
        QTest::addColumn<int>("steps");           // of the recorded conversation, before the reply
        QTest::addColumn<QByteArray>("reply");    // then sent in one read
        QTest::addColumn<QByteArray>("trickled"); // then sent `chunk` bytes every `every` ms
        QTest::addColumn<int>("chunk");
        QTest::addColumn<int>("every");
        QTest::addColumn<QString>("reason"); // empty: the reply completes
        const QString timeout = u"Tiempo de espera agotado con el Servidor : pop.example.es"_qs;
        QByteArray bigList = "+OK\r\n";
        for (int i = 1; i <= 30000; ++i)
            bigList += QByteArray::number(i) + " 1000\r\n";
        bigList += ".\r\n";
        QTest::newRow("no greeting") << 0 << QByteArray() << QByteArray() << 0 << 0 << timeout;
        QTest::newRow("silence in the middle of LIST")
            << 4 << QByteArray("+OK\r\n1 10\r\n") << QByteArray() << 0 << 0 << timeout;
        // Never silent for the time limit, and far below the least rate.
        QTest::newRow("a TOP reply trickled a byte at a time")
            << 5 << QByteArray("+OK\r\nFrom: a\r\n") << QByteArray(100000, 'x') << 1 << 100 << timeout;
        QTest::newRow("LIST with bare LF line ends") << 4 << QByteArray("+OK\n1 10\n.\n") << QByteArray() << 0 << 0
                                                     << u"Respuesta mal terminada del Servidor : pop.example.es"_qs;
        QTest::newRow("a big LIST over a slow link") << 4 << QByteArray() << bigList << 1500 << 5 << QString();
    }
    void waitingForAReplyEnds() {
        QFETCH(int, steps);
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, trickled);
        QFETCH(int, chunk);
        QFETCH(int, every);
        QFETCH(QString, reason);
        s->setReplyTimeout(300);
        connectTo();
        play(recordedConversation().mid(0, steps), whole);
        if (!reply.isEmpty()) cServer(reply);
        qsizetype sent = 0;
        QTimer feeder;
        connect(&feeder, &QTimer::timeout, this, [&] {
            if (sent >= trickled.size() || s->Estado() == 0) return feeder.stop();
            cServer(trickled.mid(sent, chunk));
            sent += chunk;
        });
        if (chunk) feeder.start(every);
        if (reason.isEmpty()) {
            QTRY_COMPARE_WITH_TIMEOUT(s->Estado(), int(TPop3::LeyendoCabeceras), 10000);
            QCOMPARE(s->NumMensajes(), 30000);
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(s->Estado(), 0, 5000);
        QCOMPARE(rec->take().last(), u"forzada "_qs + reason);
    }

    void failedLookupWaitsForTheWindow() {
        s->setReplyTimeout(50);
        s->Conectar(u"nadie.invalid"_qs, 110, u"a"_qs, u"b"_qs);
        sock->lookupFails();
        QTest::qWait(200);
        QCOMPARE(s->Estado(), 1);
        QVERIFY(!s->Activo());
    }

    void idleSessionHasNoTimeLimit() {
        s->setReplyTimeout(50);
        loginToThree();
        QTest::qWait(200);
        QCOMPARE(s->Estado(), 6);
    }

    void oversizedReplyIsRefused() {
        s->setMaxReplyBytes(1000);
        connectTo();
        play(recordedConversation().mid(0, 3), whole);
        cServer("+OK\r\n");
        cServer("+OK\r\n" + QByteArray(600, 'x'));
        QCOMPARE(s->Estado(), 4);
        cServer(QByteArray(600, 'x'));
        QCOMPARE(s->Estado(), 0);
        QCOMPARE(rec->take().last(), u"forzada Respuesta no válida del Servidor : pop.example.es"_qs);
    }

    void timeSinceConnecting() {
        double now = 1000.0;
        s->setClock([&now] { return now; });
        QCOMPARE(s->TiempoDesdeConexion(), 0.0);
        connectTo();
        now += 0.5;
        QCOMPARE(s->TiempoDesdeConexion(), 0.5);
        s->Desconectar();
        QCOMPARE(s->TiempoDesdeConexion(), 0.0);
    }

    // Pipelined header pass: the same records and events as one TOP at a time.
private:
    static QByteArray pipelinedCapa() { return "+OK\r\nPIPELINING\r\nUIDL\r\n.\r\n"; }
    /** Logs in to the three-message mailbox up to the LIST reply, with the server offering PIPELINING. */
    void loginUpToList() {
        s->setPipelining(true);
        connectTo();
        QList<Step> steps = recordedConversation().mid(0, 5);
        steps[1].server = pipelinedCapa();
        steps[4].client = "TOP 1 20\r\nTOP 2 20\r\nTOP 3 20\r\n";
        play(steps, whole);
    }
    QStringList records() const {
        QStringList out;
        for (int i = 0; i < s->NumMensajes(); ++i) {
            const TMensaje m = s->MensajePorIndice(i);
            out << u"%1|%2|%3|%4|%5"_qs.arg(m.Num).arg(m.Cabecera.From, m.Cabecera.Subj, m.Cabecera.Fecha,
                                                       m.PrimerasLineas);
        }
        return out;
    }

private slots:
    void pipelinedPassMatchesTheSequentialOne() {
        connectTo();
        play(recordedConversation(), whole);
        const QStringList sequentialRecords = records();
        QStringList sequentialEvents = rec->take();
        init();
        loginUpToList();
        const QByteArray replies = kTop1 + kTop2 + kTop3;
        // Every split of the three replies into two reads.
        for (qsizetype at = 0; at < replies.size(); at += (at < 200 ? 1 : 7)) {
            if (at > 0) {
                init();
                loginUpToList();
            }
            if (at > 0) cServer(replies.left(at));
            cServer(replies.mid(at));
            QCOMPARE(written(), QByteArray());
            QCOMPARE(s->Estado(), 6);
            QCOMPARE(records(), sequentialRecords);
        }
        // The events tell the same story; only the TOPs go out together.
        QStringList pipelinedEvents = rec->take();
        auto withoutTops = [](QStringList e) {
            e.removeIf([](const QString& x) { return x.startsWith(u"send TOP"_qs) || x.startsWith(u"send CAPA"_qs); });
            return e;
        };
        QCOMPARE(withoutTops(pipelinedEvents), withoutTops(sequentialEvents));
        QCOMPARE(pipelinedEvents.filter(u"send TOP"_qs).size(), 3);
    }

    // A big mailbox: the window never holds more than its bounds (count, or the sizes LIST gave),
    // stays nearly full, is topped up in batches rather than one TOP per reply, and every message
    // is asked for once, in order.
    void windowIsBoundedAndToppedUpInBatches_data() {
        QTest::addColumn<int>("messages");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("bound");
        QTest::newRow("small messages: bound by count") << 3000 << 900 << int(TPop3::kMaxTopsInFlight);
        QTest::newRow("big messages: bound by bytes")
            << 2000 << 100000 << int(TPop3::kMaxBytesInFlight / TPop3::kReplyEstimateCap);
    }
    void windowIsBoundedAndToppedUpInBatches() {
        QFETCH(int, messages);
        QFETCH(int, size);
        QFETCH(int, bound);
        s->setPipelining(true);
        connectTo();
        QByteArray list = "+OK\r\n";
        for (int n = 1; n <= messages; ++n)
            list += QByteArray::number(n) + ' ' + QByteArray::number(size) + "\r\n";
        play({{"+OK ready\r\n", "CAPA\r\n"},
              {pipelinedCapa(), "USER ana\r\n"},
              {"+OK\r\n", "PASS secreto\r\n"},
              {"+OK\r\n", "LIST\r\n"}},
             whole);
        cServer(list + ".\r\n");
        QList<int> asked;
        int answered = 0;
        int readsThatWrote = 0;
        auto collect = [&] {
            const QByteArray w = written();
            if (w.isEmpty()) return;
            ++readsThatWrote;
            for (const QByteArray& line : w.split('\n'))
                if (!line.isEmpty()) asked << line.mid(4, line.indexOf(' ', 4) - 4).toInt();
        };
        collect();
        QCOMPARE(asked.size(), bound);
        while (answered < messages) {
            QVERIFY2(asked.size() > answered, "nothing in flight");
            cServer("+OK\r\nSubject: " + QByteArray::number(asked[answered]) + "\r\n\r\n.\r\n");
            ++answered;
            collect();
            const int inFlight = int(asked.size()) - answered;
            QVERIFY2(inFlight <= bound, qPrintable(u"%1 in flight"_qs.arg(inFlight)));
            if (asked.size() < messages)
                QVERIFY2(inFlight >= bound - bound / 4 - 1, qPrintable(u"only %1 in flight"_qs.arg(inFlight)));
        }
        QCOMPARE(s->Estado(), 6);
        QList<int> all(messages);
        std::iota(all.begin(), all.end(), 1);
        QCOMPARE(asked, all);
        QCOMPARE(s->MensajePorNumero(messages).Cabecera.Subj, QString::number(messages));
        QVERIFY2(readsThatWrote <= messages / (bound / 4) + 2, qPrintable(u"%1 writes"_qs.arg(readsThatWrote)));
    }

    void refusedTopInTheMiddleOfTheWindow() {
        loginUpToList();
        cServer(kTop1 + "-ERR no such message\r\n" + kTop3);
        QCOMPARE(s->Estado(), 6);
        QCOMPARE(s->MensajePorNumero(1).Cabecera.Subj, u"Hola"_qs);
        QCOMPARE(s->MensajePorNumero(2).Cabecera.Subj, QString());
        QCOMPARE(s->MensajePorNumero(3).Cabecera.Subj, u"Sin remitente"_qs);
    }

    void dropInTheMiddleOfAPipelinedPass() {
        loginUpToList();
        cServer(kTop1 + kTop2.left(20));
        sock->fail(10054);
        QCOMPARE(s->Estado(), 0);
        QCOMPARE(rec->take().last(), u"forzada Conexión cerrada por el Servidor : pop.example.es"_qs);
    }

    void withoutPipeliningAtTheServerTheOptionChangesNothing() {
        s->setPipelining(true);
        connectTo();
        play(recordedConversation(), whole); // CAPA without PIPELINING: one TOP at a time
        QCOMPARE(s->Estado(), 6);
    }

    // A message stored with bare LFs may hold LF "." CR LF in its header: that is data, and every
    // later reply still belongs to its own message, so a deletion names the message the user saw.
    void aDotAfterABareLfIsData_data() {
        QTest::addColumn<QByteArray>("trap");
        QTest::addColumn<bool>("pipelined");
        QTest::newRow("LF . CR LF") << QByteArray("\n.\r\n") << false;
        QTest::newRow("LF . LF") << QByteArray("\n.\n") << false;
        QTest::newRow("LF . CR LF, pipelined") << QByteArray("\n.\r\n") << true;
    }
    void aDotAfterABareLfIsData() {
        QFETCH(QByteArray, trap);
        QFETCH(bool, pipelined);
        const QByteArray top2 = "+OK\r\nX-Trap: a" + trap + "+OK\r\nFrom: Falso <f@x.es>\r\n\r\ncuerpo\r\n.\r\n";
        if (pipelined) {
            loginUpToList();
            cServer(kTop1 + top2 + kTop3);
        } else {
            QList<Step> steps = recordedConversation();
            steps[6].server = top2;
            connectTo();
            play(steps, whole);
        }
        QCOMPARE(s->Estado(), 6);
        QCOMPARE(s->MensajePorNumero(2).Cabecera.From, u"Falso <f@x.es>"_qs);
        QCOMPARE(s->MensajePorNumero(3).Cabecera.Subj, u"Sin remitente"_qs);
        QCOMPARE(s->MensajePorNumero(3).PrimerasLineas, u"cuerpo"_qs);
        written();
        s->EliminarMensajes({u"3"_qs});
        QCOMPARE(written(), QByteArray("DELE 3\r\n"));
    }

    // XOAUTH2: the owner's token instead of USER and PASS.

    void xoauth2Login_data() {
        QTest::addColumn<bool>("encrypted");
        QTest::addColumn<QStringList>("tokens");
        QTest::addColumn<QList<Step>>("steps");
        QTest::addColumn<QList<bool>>("afterRefusal"); // the token requests, in order
        QTest::addColumn<QString>("reason");           // empty: logged in (LIST sent)
        const QByteArray greeting = "+OK Dovecot ready.\r\n";
        const QByteArray capa = "+OK\r\nSASL PLAIN XOAUTH2 OAUTHBEARER\r\nUSER\r\n.\r\n";
        const QByteArray refused = "-ERR [AUTH] Authentication failed.\r\n";
        const QByteArray listed = "+OK Logged in.\r\n";
        const QByteArray longToken = "EwBwA" + QByteArray(1500, 'x');
        // "AUTH XOAUTH2 " and CR LF leave 240 octets of base64 for 180 of response: a 157-octet token.
        const QByteArray fits(157, 't'), tooLong(158, 't');
        QTest::newRow("initial response")
            << true << QStringList{u"ya29.tok"_qs}
            << QList<Step>{{greeting, "CAPA\r\n"},
                           {capa, "AUTH XOAUTH2 dXNlcj1hbmEBYXV0aD1CZWFyZXIgeWEyOS50b2sBAQ==\r\n"},
                           {listed, "LIST\r\n"}}
            << QList<bool>{false} << QString();
        QTest::newRow("longest token on the command line")
            << true << QStringList{QString::fromLatin1(fits)}
            << QList<Step>{{greeting, "CAPA\r\n"}, {capa, authLine(fits)}, {listed, "LIST\r\n"}} << QList<bool>{false}
            << QString();
        QTest::newRow("a token too long for the line waits for the server's +")
            << true << QStringList{QString::fromLatin1(tooLong)}
            << QList<Step>{{greeting, "CAPA\r\n"},
                           {capa, "AUTH XOAUTH2\r\n"},
                           {"+ \r\n", xoauth2("ana", tooLong) + "\r\n"},
                           {listed, "LIST\r\n"}}
            << QList<bool>{false} << QString();
        QTest::newRow("a long token, a bare + from the server")
            << true << QStringList{QString::fromLatin1(longToken)}
            << QList<Step>{{greeting, "CAPA\r\n"},
                           {capa, "AUTH XOAUTH2\r\n"},
                           {"+\r\n", xoauth2("ana", longToken) + "\r\n"},
                           {listed, "LIST\r\n"}}
            << QList<bool>{false} << QString();
        QTest::newRow("error challenge, then a fresh token")
            << true << QStringList{u"at-old"_qs, u"at-new"_qs}
            << QList<Step>{{greeting, "CAPA\r\n"},
                           {capa, authLine("at-old")},
                           {"+ eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIn0=\r\n", "\r\n"},
                           {refused, authLine("at-new")},
                           {listed, "LIST\r\n"}}
            << QList<bool>{false, true} << QString();
        QTest::newRow("error challenge in the two-step form")
            << true << QStringList{QString::fromLatin1(longToken), u"at-new"_qs}
            << QList<Step>{{greeting, "CAPA\r\n"},
                           {capa, "AUTH XOAUTH2\r\n"},
                           {"+ \r\n", xoauth2("ana", longToken) + "\r\n"},
                           {"+ eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIn0=\r\n", "\r\n"},
                           {refused, authLine("at-new")},
                           {listed, "LIST\r\n"}}
            << QList<bool>{false, true} << QString();
        QTest::newRow("a challenge after the exchange was ended")
            << true << QStringList{u"at-old"_qs}
            << QList<Step>{{greeting, "CAPA\r\n"},
                           {capa, authLine("at-old")},
                           {"+ eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIn0=\r\n", "\r\n"},
                           {"+ \r\n", "QUIT\r\n"}}
            << QList<bool>{false} << u"Respuesta inesperada del Servidor : pop.example.es"_qs;
        QTest::newRow("refused twice")
            << true << QStringList{u"at-old"_qs, u"at-new"_qs}
            << QList<Step>{{greeting, "CAPA\r\n"},
                           {capa, authLine("at-old")},
                           {refused, authLine("at-new")},
                           {refused, "QUIT\r\n"}}
            << QList<bool>{false, true}
            << u"Token de acceso OAuth2 no aceptado por el Servidor : pop.example.es ([AUTH] Authentication failed.)"_qs;
        QTest::newRow("a locked mailbox is no fault of the token")
            << true << QStringList{u"at-1"_qs}
            << QList<Step>{{greeting, "CAPA\r\n"}, {capa, authLine("at-1")}, {"-ERR [IN-USE] locked\r\n", "QUIT\r\n"}}
            << QList<bool>{false} << u"Buzón bloqueado por otra sesión : pop.example.es"_qs;
        QTest::newRow("the owner has no token")
            << true << QStringList{u"error:No se pudo renovar el token de acceso"_qs}
            << QList<Step>{{greeting, "CAPA\r\n"}, {capa, "QUIT\r\n"}} << QList<bool>{false}
            << u"No se pudo renovar el token de acceso"_qs;
        QTest::newRow("SASL without XOAUTH2")
            << true << QStringList{u"at-1"_qs}
            << QList<Step>{{greeting, "CAPA\r\n"}, {"+OK\r\nSASL PLAIN OAUTHBEARER\r\n.\r\n", "QUIT\r\n"}}
            << QList<bool>{} << u"El Servidor no ofrece el inicio de sesión OAuth2 (XOAUTH2) : pop.example.es"_qs;
        QTest::newRow("no SASL line: tried")
            << true << QStringList{u"at-1"_qs}
            << QList<Step>{{greeting, "CAPA\r\n"}, {"+OK\r\nUSER\r\n.\r\n", authLine("at-1")}, {listed, "LIST\r\n"}}
            << QList<bool>{false} << QString();
        QTest::newRow("no CAPA: tried") << true << QStringList{u"at-1"_qs}
                                        << QList<Step>{{greeting, "CAPA\r\n"},
                                                       {"-ERR\r\n", authLine("at-1")},
                                                       {listed, "LIST\r\n"}}
                                        << QList<bool>{false} << QString();
        QTest::newRow("unencrypted: the token is never asked for nor sent")
            << false << QStringList{u"at-1"_qs} << QList<Step>{{greeting, "CAPA\r\n"}, {capa, "QUIT\r\n"}}
            << QList<bool>{}
            << u"El token OAuth2 solo se envía cifrado, y el Servidor no ofrece conexión segura : pop.example.es"_qs;
    }
    void xoauth2Login() {
        QFETCH(bool, encrypted);
        QFETCH(QStringList, tokens);
        QFETCH(QList<Step>, steps);
        QFETCH(QList<bool>, afterRefusal);
        QFETCH(QString, reason);
        useTokens(tokens);
        if (encrypted)
            connectOverTls();
        else
            connectTo();
        play(steps, whole);
        QCOMPARE(asked, afterRefusal);
        const QStringList events = rec->take();
        if (reason.isEmpty())
            QCOMPARE(s->Estado(), TPop3::Listando);
        else
            QCOMPARE(events.last(), u"forzada "_qs + reason);
        // The log shows every line of the exchange, the credentials masked.
        const QString log = events.join(u'\n');
        for (const QString& t : std::as_const(tokens)) {
            if (t.startsWith(u"error:")) continue;
            QVERIFY(!log.contains(t));
            QVERIFY(!log.contains(QString::fromLatin1(xoauth2("ana", t.toLatin1()))));
        }
        const QStringList shown{u"send CAPA"_qs,
                                u"send AUTH XOAUTH2 (\u00B7\u00B7\u00B7)"_qs,
                                u"send AUTH XOAUTH2"_qs,
                                u"send (\u00B7\u00B7\u00B7)"_qs,
                                u"send "_qs,
                                u"send LIST"_qs,
                                u"send QUIT"_qs};
        for (const QString& e : events)
            QVERIFY2(!e.startsWith(u"send ") || shown.contains(e), qPrintable(e));
    }

    void tokenMayComeLaterButOnlyForItsOwnConnection() {
        useTokens({});
        connectOverTls();
        play({{"+OK\r\n", "CAPA\r\n"}, {"+OK\r\nSASL XOAUTH2\r\n.\r\n", ""}}, whole);
        QVERIFY(rec->take().contains(u"estado 2 Obteniendo el token de acceso OAuth2"_qs));
        const TPop3::TokenReply forTheFirst = std::exchange(pending, nullptr);
        s->Reconectar();
        QCOMPARE(written(), QByteArray("QUIT\r\n"));
        sock->connectNow();
        sock->handshakeSucceeds();
        play({{"+OK\r\n", "CAPA\r\n"}, {"+OK\r\nSASL XOAUTH2\r\n.\r\n", ""}}, whole);
        QCOMPARE(asked, (QList<bool>{false, false}));
        forTheFirst(u"at-old"_qs, QString());
        QCOMPARE(written(), QByteArray());
        pending(u"at-new"_qs, QString());
        QCOMPARE(written(), authLine("at-new"));
        QVERIFY(rec->take().contains(u"estado 3 Enviando comando AUTH XOAUTH2"_qs));
        pending(u"again"_qs, QString()); // one answer a request
        QCOMPARE(written(), QByteArray());
        // An answer that comes after the session is gone is dropped.
        useTokens({});
        s->Reconectar();
        written();
        sock->connectNow();
        sock->handshakeSucceeds();
        play({{"+OK\r\n", "CAPA\r\n"}, {"+OK\r\n.\r\n", ""}}, whole);
        rec.reset();
        s.reset();
        pending(u"late"_qs, QString());
    }

    void recheckLogsInAgainWithAToken() {
        useTokens({u"first"_qs, u"second"_qs});
        connectOverTls();
        const QByteArray capa = "+OK\r\nSASL XOAUTH2\r\nUIDL\r\n.\r\n";
        play({{"+OK\r\n", "CAPA\r\n"},
              {capa, authLine("first")},
              {"+OK\r\n", "LIST\r\n"},
              {"+OK\r\n1 120\r\n.\r\n", "TOP 1 20\r\n"},
              {kTop1, ""}},
             whole);
        QCOMPARE(s->Estado(), TPop3::Conectado);
        rec->take();
        s->ComprobarDeNuevo();
        play({{"", "UIDL\r\n"}, {"+OK\r\n1 a\r\n.\r\n", "QUIT\r\n"}}, whole);
        sock->connectNow();
        sock->handshakeSucceeds();
        play({{"+OK\r\n", "CAPA\r\n"},
              {capa, authLine("second")},
              {"+OK\r\n", "UIDL\r\n"},
              {"+OK\r\n1 a\r\n.\r\n", "STAT\r\n"},
              {"+OK 1 120\r\n", ""}},
             whole);
        QCOMPARE(asked, (QList<bool>{false, false}));
        QCOMPARE(rec->take().last(), u"estado 6 Conectado al servidor pop.example.es"_qs);
        QCOMPARE(s->MensajePorNumero(1).Cabecera.Subj, u"Hola"_qs);
    }

    // Every way TCP may split the recorded conversation gives the same outcome.
    void splitRepliesGiveTheSameOutcome() {
        const QList<Step> steps = recordedConversation();
        qsizetype total = 0;
        for (const Step& st : steps)
            total += st.server.size();

        auto outcome = [&](const std::function<QList<QByteArray>(const QByteArray&)>& cut) {
            init();
            connectTo();
            play(steps, cut);
            QStringList out = rec->take();
            for (int i = 0; i < s->NumMensajes(); ++i) {
                const TMensaje m = s->MensajePorIndice(i);
                out << u"%1|%2|%3|%4|%5|%6|%7"_qs.arg(m.Num).arg(m.Bytes).arg(m.Cabecera.From, m.Cabecera.Subj,
                                                                              m.Cabecera.Fecha, m.PrimerasLineas,
                                                                              m.Cabecera.Destinatarios.join(u';'));
            }
            return out;
        };
        const QStringList expected = outcome(whole);

        // Split at every byte boundary of the whole server stream.
        for (qsizetype at = 1; at < total; ++at) {
            qsizetype offset = 0;
            const QStringList got = outcome([&](const QByteArray& reply) {
                const qsizetype local = at - offset;
                offset += reply.size();
                if (local <= 0 || local >= reply.size()) return QList<QByteArray>{reply};
                return QList<QByteArray>{reply.left(local), reply.mid(local)};
            });
            if (QTest::currentTestFailed()) QFAIL(qPrintable(u"split at %1"_qs.arg(at)));
            QCOMPARE(got, expected);
        }
        // One byte per read.
        QCOMPARE(outcome([](const QByteArray& r) {
                     QList<QByteArray> out;
                     for (char c : r)
                         out << QByteArray(1, c);
                     return out;
                 }),
                 expected);
        // Random pieces.
        QRandomGenerator rng(20261207);
        for (int round = 0; round < 50; ++round) {
            QCOMPARE(outcome([&rng](const QByteArray& r) {
                         QList<QByteArray> out;
                         for (qsizetype i = 0; i < r.size();) {
                             const qsizetype len = rng.bounded(1, 40);
                             out << r.mid(i, len);
                             i += len;
                         }
                         return out;
                     }),
                     expected);
        }
    }
};

QTEST_GUILESS_MAIN(TestPop3Session)
#include "tst_pop3_session.moc"
