// What real servers and bad networks do, played by a scripted server on loopback against the real
// window and socket: replies split into single bytes, silence, dropped connections, refusals,
// malformed and oversized replies. Each row: what the server does, and what must hold afterwards.
#include "AccountWidgets.h"
#include "ListRows.h"
#include "PasswordScrambling.h"
#include "Pop3Session.h"
#include "QtClientSocket.h"
#include "ScriptedServer.h"
#include "WindowHarness.h"

#include <QDir>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

Q_DECLARE_METATYPE(QList<ServerFault>)

namespace {
constexpr int kWaitMs = 15000;
constexpr double kSecond = 1.0 / 86400.0;
using F = ServerFault;
const QString kHost = u"127.0.0.1"_qs;
const QByteArray kFiles = "SERV:x\r\nPORT:110\r\nUSER:y\r\nPASS:\r\n-----\r\n";
const QByteArray kFilters = "[FROM]spam\r\n";

int openDescriptors() {
    return int(QDir(u"/proc/self/fd"_qs).entryList(QDir::Files | QDir::System).size());
}
} // namespace

class TestFaults : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowHarness> h;
    TfrmPrincipal* w = nullptr;

    void openWindow() {
        WindowSeams s = h->seams();
        s.socketFactory = [](IDesktop* desktop) { return QtClientSocket::factory(desktop); };
        s.replyTimeoutMs = 400;
        h->window = std::make_unique<TfrmPrincipal>(s);
        w = h->window.get();
        WindowProbe::TimerReconexiones(w).stop();
        WindowProbe::Config(w).segsReconexionSiDesconectado = 1;
    }
    bool settled(TPop3* s) {
        return QTest::qWaitFor([&] { return s->Estado() == 0 || s->Estado() == 6; }, kWaitMs);
    }
    int image(TAccountTab* tab) {
        return WindowProbe::Page95Control(w)
            ->tabBar()
            ->tabData(WindowProbe::Page95Control(w)->indexOf(tab->page()))
            .toInt();
    }

private slots:
    void init() {
        h = std::make_unique<WindowHarness>();
        h->write(u"Cuentas.dat"_qs, kFiles);
        h->write(u"Filtros.dat"_qs, kFilters);
        openWindow();
    }
    void cleanup() { h.reset(); }

    void scenario_data() {
        QTest::addColumn<QList<ServerFault>>("faults");
        QTest::addColumn<QByteArray>("capa"); // empty: the usual capabilities
        QTest::addColumn<QString>("action");  // "", "delete" or "recheck"
        QTest::addColumn<int>("state");       // the session's state once it settles
        QTest::addColumn<QString>("reason");  // panel 1 after a failure ("" = any)
        QTest::addColumn<QByteArray>("neverSent");
        const QString timeout = u"Tiempo de espera agotado con el Servidor : 127.0.0.1"_qs;
        const QString closed = u"Conexión cerrada por el Servidor : 127.0.0.1"_qs;
        const QString unexpected = u"Respuesta inesperada del Servidor : 127.0.0.1"_qs;
        const QByteArray stls = "+OK\r\nSTLS\r\nUSER\r\n.\r\n";
        const QByteArray big(10 * 1024 * 1024, 'x');

        QTest::newRow("greeting, USER and TOP one byte a read")
            << QList<F>{{"", {}, true, 1, 1}, {"USER", {}, true, 1, 2}, {"TOP 2", {}, true, 1, 1}} << QByteArray()
            << QString() << 6 << QString() << QByteArray();
        QTest::newRow("no greeting") << QList<F>{{"", {}, false, 0, 0, F::After::Stall}} << QByteArray() << QString()
                                     << 0 << timeout << QByteArray("USER");
        QTest::newRow("stall inside a TOP reply")
            << QList<F>{{"TOP 2", "+OK\r\nFrom: a\r\n", false, 0, 0, F::After::Stall}} << QByteArray() << QString() << 0
            << timeout << QByteArray();
        QTest::newRow("stall after DELE") << QList<F>{{"DELE", {}, false, 0, 0, F::After::Stall}} << QByteArray()
                                          << u"delete"_qs << 0 << timeout << QByteArray();
        QTest::newRow("drop inside LIST") << QList<F>{{"LIST", "+OK\r\n1 100\r\n", false, 0, 0, F::After::Drop}}
                                          << QByteArray() << QString() << 0 << closed << QByteArray();
        QTest::newRow("drop inside the header pass")
            << QList<F>{{"TOP 2", "+OK\r\nFrom: x\r\n", false, 0, 0, F::After::Drop}} << QByteArray() << QString() << 0
            << closed << QByteArray();
        QTest::newRow("drop after DELE, before QUIT") << QList<F>{{"DELE", {}, true, 0, 0, F::After::Drop}}
                                                      << QByteArray() << u"delete"_qs << 0 << closed << QByteArray();
        QTest::newRow("-ERR greeting") << QList<F>{{"", "-ERR go away\r\n"}} << QByteArray() << QString() << 0
                                       << u"Conexión no aceptada"_qs << QByteArray("USER");
        QTest::newRow("-ERR to one TOP") << QList<F>{{"TOP 2", "-ERR gone\r\n"}} << QByteArray() << QString() << 6
                                         << QString() << QByteArray();
        QTest::newRow("-ERR to PASS, for a while")
            << QList<F>{{"PASS", "-ERR [SYS/TEMP] busy\r\n"}} << QByteArray() << QString() << 0
            << u"Problema temporal del servidor : 127.0.0.1"_qs << QByteArray("LIST");
        QTest::newRow("-ERR to LIST") << QList<F>{{"LIST", "-ERR\r\n"}} << QByteArray() << QString() << 0
                                      << u"Comando LIST fallido"_qs << QByteArray("TOP");
        QTest::newRow("unprompted -ERR, then closed while idle")
            << QList<F>{{"TOP 3", "-ERR Disconnected for inactivity.\r\n", true, 0, 0, F::After::Drop}} << QByteArray()
            << QString() << 0 << unexpected << QByteArray();
        QTest::newRow("STLS offered, then refused")
            << QList<F>{} << stls << QString() << 0 << u"Conexión segura fallida : 127.0.0.1"_qs << QByteArray("USER");
        QTest::newRow("bytes before the TLS handshake") << QList<F>{{"STLS", "+OK go\r\n+OK injected\r\n"}} << stls
                                                        << QString() << 0 << QString() << QByteArray("USER");
        QTest::newRow("10 MB line without CR LF") << QList<F>{{"TOP 1", "+OK\r\n" + big, false, 0, 0, F::After::Stall}}
                                                  << QByteArray() << QString() << 0 << timeout << QByteArray();
        // The socket hands a burst on in slices: a reply many slices long is read whole.
        QTest::newRow("300 KB TOP reply in one write")
            << QList<F>{{"TOP 2", "+OK\r\nFrom: a\r\nSubject: " + QByteArray(300 * 1024, 'y') + "\r\n\r\nb\r\n.\r\n"}}
            << QByteArray() << QString() << 6 << QString() << QByteArray();
        QTest::newRow("LIST line with letters") << QList<F>{{"LIST", "+OK\r\n1 12a\r\n.\r\n"}} << QByteArray()
                                                << QString() << 0 << u"Comando LIST fallido"_qs << QByteArray("TOP");
        QTest::newRow("LIST negative size") << QList<F>{{"LIST", "+OK\r\n1 -5\r\n.\r\n"}} << QByteArray() << QString()
                                            << 0 << u"Comando LIST fallido"_qs << QByteArray("TOP");
        QTest::newRow("LIST size beyond 32 bits") << QList<F>{{"LIST", "+OK\r\n1 99999999999\r\n.\r\n"}} << QByteArray()
                                                  << QString() << 0 << u"Comando LIST fallido"_qs << QByteArray("TOP");
        QTest::newRow("STAT claims 4,000,000,000 messages")
            << QList<F>{{"STAT", "+OK 4000000000 1\r\n", false, 0, 0, F::After::Go, 1}} << QByteArray() << u"recheck"_qs
            << 6 << QString() << QByteArray();
        static const char withNuls[] = "+OK\r\nFrom: a\0b <a@x>\nSubject: s\0t\r\n\r\nbody\r\n.\r\n";
        QTest::newRow("NUL bytes and bare LF in headers")
            << QList<F>{{"TOP 1", QByteArray(withNuls, sizeof withNuls - 1)}} << QByteArray() << QString() << 6
            << QString() << QByteArray();
        // A reply with bare LF line ends never ends: it is given up on, and nothing is taken for
        // another message's header.
        QTest::newRow("bare LF line ends throughout")
            << QList<F>{{"TOP 1", "+OK\nFrom: a\n\nbody\n.\n"}} << QByteArray() << QString() << 0
            << u"Respuesta mal terminada del Servidor : 127.0.0.1"_qs << QByteArray("TOP 2");
    }
    void scenario() {
        QFETCH(QList<ServerFault>, faults);
        QFETCH(QByteArray, capa);
        QFETCH(QString, action);
        QFETCH(int, state);
        QFETCH(QString, reason);
        QFETCH(QByteArray, neverSent);
        ScriptedPop3Server server(ScriptedPop3Server::sampleMailbox(3));
        server.setFaults(faults);
        if (!capa.isEmpty()) server.setCapabilities(capa);
        WindowProbe::QuickConnect(w, kHost, u"ana"_qs, EncodePassword(u"x"_qs), server.port());
        TAccountTab* tab = WindowProbe::Tabs(w).first();
        TPop3* s = tab->session();
        QVERIFY(settled(s));
        if (action == u"delete") {
            QCOMPARE(s->Estado(), 6);
            SelectRow(tab->list(), 0);
            h->boxAnswer = QMessageBox::Ok;
            WindowProbe::btnEliminarClick(w);
            QVERIFY(QTest::qWaitFor([&] { return s->Estado() != TPop3::Borrando; }, kWaitMs));
        } else if (action == u"recheck") {
            QCOMPARE(s->Estado(), 6);
            WindowProbe::btnRefrescarClick(w);
            QVERIFY(QTest::qWaitFor([&] { return server.connections() == 2 && (s->Estado() == 6 || s->Estado() == 0); },
                                    kWaitMs));
        }
        // A connection that drops after its last reply reaches 6 first, then 0.
        QVERIFY(QTest::qWaitFor([&] { return s->Estado() == state; }, kWaitMs));
        QVERIFY(settled(s));
        QCOMPARE(s->Estado(), state);
        for (const QByteArray& line : std::as_const(server.received))
            QVERIFY2(neverSent.isEmpty() || !line.startsWith(neverSent), line.constData());
        if (state == 6) {
            QCOMPARE(tab->list()->rowCount(), 3);
            QVERIFY(image(tab) == 2);
            const QString subject = RowText(tab->list(), 1, 4);
            if (subject.startsWith(u'y')) QCOMPARE(subject.size(), kMaxHeaderValue); // what a row keeps of it
        } else {
            QCOMPARE(image(tab), 0);
            if (!reason.isEmpty()) QCOMPARE(tab->statusBar()->panelText(1), reason);
            // The countdown runs, and the next attempt meets a healthy server (unless it insists on TLS).
            h->now += 1.5 * kSecond;
            WindowProbe::TimerReconexionesTimer(w);
            QCOMPARE(tab->statusBar()->panelCount(), 3);
            if (capa.isEmpty()) {
                h->now += 1.5 * kSecond;
                WindowProbe::TimerReconexionesTimer(w);
                QVERIFY(QTest::qWaitFor([&] { return s->Estado() == 6; }, kWaitMs));
                QCOMPARE(tab->list()->rowCount(), 3); // nothing was deleted without its QUIT
            }
        }
        h->close();
        QCOMPARE(h->read(u"Cuentas.dat"_qs), kFiles);
        QCOMPARE(h->read(u"Filtros.dat"_qs), kFilters);
    }

    // A message stored with bare LFs may hold LF "." CR LF in its header, served as stored. The rows
    // after it must still be their own messages: a filter that matches message 3 deletes message 3.
    void dotAfterBareLfInHeader_data() {
        QTest::addColumn<QByteArray>("trap");
        QTest::addColumn<bool>("pipelined");
        QTest::newRow("LF . CR LF, sequential") << QByteArray("\n.\r\n") << false;
        QTest::newRow("LF . CR LF, pipelined") << QByteArray("\n.\r\n") << true;
        QTest::newRow("LF . LF, sequential") << QByteArray("\n.\n") << false;
        QTest::newRow("LF . LF, pipelined") << QByteArray("\n.\n") << true;
    }
    void dotAfterBareLfInHeader() {
        QFETCH(QByteArray, trap);
        QFETCH(bool, pipelined);
        WindowProbe::Filtros(w).From = QStringList{u"Remitente 3"_qs};
        WindowProbe::Filtros(w).Subj.clear();
        WindowProbe::Config(w).FiltrarAlConectar = true;
        WindowProbe::Config(w).PreguntarAntesDeBorrarEnFiltrado = true;
        WindowProbe::Advanced(w).Pipelining = pipelined;
        ScriptedPop3Server server(ScriptedPop3Server::sampleMailbox(4));
        if (pipelined) server.setCapabilities("+OK\r\nPIPELINING\r\nTOP\r\nUIDL\r\nUSER\r\n.\r\n");
        server.setFaults({{"TOP 2", "+OK\r\nX-Trap: a" + trap +
                                        "+OK\r\nFrom: Falso <falso@x.es>\r\nSubject: trampa\r\n\r\ncuerpo\r\n.\r\n"}});
        // The rows as the filter saw them (a deleted row leaves the list at once).
        QStringList senders;
        h->boxAnswer = QMessageBox::Yes;
        h->whileBoxOpen = [&] {
            MessageList* list = WindowProbe::Tabs(w).first()->list();
            for (int r = 0; r < list->rowCount(); ++r)
                senders << RowText(list, r, 2);
        };
        WindowProbe::QuickConnect(w, kHost, u"ana"_qs, EncodePassword(u"x"_qs), server.port());
        TPop3* s = WindowProbe::Tabs(w).first()->session();
        QVERIFY(QTest::qWaitFor(
            [&] { return server.received.contains("DELE 3") || server.received.contains("DELE 4"); }, kWaitMs));
        QVERIFY(settled(s));
        WindowProbe::btnDesconectarClick(w); // QUIT: the server deletes now
        QVERIFY(QTest::qWaitFor([&] { return server.received.contains("QUIT"); }, kWaitMs));
        QByteArrayList deletes;
        for (const QByteArray& line : std::as_const(server.received))
            if (line.startsWith("DELE")) deletes << line;
        QCOMPARE(deletes, QByteArrayList{"DELE 3"});
        QCOMPARE(senders.size(), 4);
        QVERIFY(!senders[1].startsWith(u"Remitente"_qs));
        QCOMPARE(senders.mid(2), (QStringList{u"Remitente 3 <r3@x.es>"_qs, u"Remitente 4 <r4@x.es>"_qs}));
        QVERIFY(QTest::qWaitFor([&] { return server.messageCount() == 3; }, kWaitMs));
    }

    void fiftySessionsLeaveNoDescriptorBehind() {
        ScriptedPop3Server server(ScriptedPop3Server::sampleMailbox(2));
        auto round = [&] {
            WindowProbe::QuickConnect(w, kHost, u"ana"_qs, EncodePassword(u"x"_qs), server.port());
            QVERIFY(settled(WindowProbe::Tabs(w).first()->session()));
            QCOMPARE(WindowProbe::Tabs(w).first()->session()->Estado(), 6);
            WindowProbe::btnDesconectarClick(w);
            QTest::qWait(5);
        };
        round(); // the first connection sets up what stays for the whole run
        QTest::qWait(100);
        const int before = openDescriptors();
        for (int i = 0; i < 50; ++i)
            round();
        QVERIFY(QTest::qWaitFor([&] { return openDescriptors() <= before; }, kWaitMs));
        QCOMPARE(server.connections(), 51);
    }

    // Closing the window (and every other end of the run) returns once the server has answered the
    // QUIT and closed the connection, even when the answer comes slowly: a process that ends then
    // has lost nothing.
    void closingTheWindowWaitsForTheAnswerToQuit() {
        ScriptedPop3Server server(ScriptedPop3Server::sampleMailbox(2));
        server.setFaults({{"QUIT", "", true, 3, 100}});
        WindowProbe::QuickConnect(w, kHost, u"ana"_qs, EncodePassword(u"x"_qs), server.port());
        QVERIFY(settled(WindowProbe::Tabs(w).first()->session()));
        QCOMPARE(WindowProbe::Tabs(w).first()->session()->Estado(), 6);
        w->close();
        QCOMPARE(QtClientSocket::closingConnections(), 0);
        QCOMPARE(server.ended, 1);
        QCOMPARE(server.received.last(), QByteArray("QUIT"));
        QCOMPARE(server.endedByClient, 0);
    }

    // A server that answers QUIT and then waits for the client to end the connection (as some do
    // after sending their TLS close) is left as soon as its answer is in, not when the wait runs out.
    void aServerThatAnswersQuitAndWaitsIsLeftAtOnce() {
        ScriptedPop3Server server(ScriptedPop3Server::sampleMailbox(2));
        server.setFaults({{"QUIT", "", true, 0, 0, ServerFault::After::Stall}});
        WindowProbe::QuickConnect(w, kHost, u"ana"_qs, EncodePassword(u"x"_qs), server.port());
        QVERIFY(settled(WindowProbe::Tabs(w).first()->session()));
        w->close();
        QCOMPARE(QtClientSocket::closingConnections(), 0);
        QCOMPARE(server.received.last(), QByteArray("QUIT"));
        QTRY_COMPARE(server.endedByClient, 1);
    }
};

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
