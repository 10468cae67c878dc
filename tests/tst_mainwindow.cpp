// The real main window, offscreen, driven through its seams: start-up and its files, tabs, what
// the session events show, failures, the sweep of unresolved names, view modes and resizing.
#include "AccountWidgets.h"
#include "FakeMailbox.h"
#include "ListRows.h"
#include "PasswordScrambling.h"
#include "Pop3Session.h"
#include "StyledTextView.h"
#include "TextAndTime.h"
#include "TrashWindow.h"
#include "WindowHarness.h"
#include "WindowSeams.h"

#include <QApplication>
#include <QDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QSplitter>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTranslator>
#include <QTreeWidget>

namespace {

const QByteArray kTop1 = "+OK\r\nFrom: Ana <ana@example.es>\r\nSubject: Hola\r\nDate: Mon, 05 Aug 2002 10:20:30 "
                         "+0200\r\n\r\nuno\r\n.\r\n";
const QByteArray kTop2 = "+OK\r\nFrom: =?iso-8859-1?q?Jos=E9?= <j@x.es>\r\nSubject: Factura\r\nDate: Tue, 6 Aug "
                         "2002 9:05 +0200\r\n\r\n.\r\n";

QByteArray accountsFile(const QList<QStringList>& records) {
    QByteArray out;
    for (const QStringList& r : records)
        out += "SERV:" + r[0].toLatin1() + "\r\nPORT:" + r[1].toLatin1() + "\r\nUSER:" + r[2].toLatin1() +
               "\r\nPASS:" + EncodePassword(r[3]).toLatin1() + "\r\n-----\r\n";
    return out;
}

/** Logs in (no CAPA) and answers LIST with `list`: the header pass begins. */
void loginAndList(FakeSocket* s, const QByteArray& list) {
    s->connectNow();
    s->serverSends("+OK ready\r\n");
    s->serverSends("-ERR\r\n"); // no CAPA
    s->serverSends("+OK\r\n");
    s->serverSends("+OK\r\n");
    s->serverSends(list);
}

void loginToTwo(FakeSocket* s) {
    loginAndList(s, "+OK 2 messages\r\n1 1234\r\n2 65536\r\n.\r\n");
    s->serverSends(kTop1);
    s->serverSends(kTop2);
}

int imageOf(TfrmPrincipal& w, TAccountTab* tab) {
    return WindowProbe::Page95Control(&w)
        ->tabBar()
        ->tabData(WindowProbe::Page95Control(&w)->indexOf(tab->page()))
        .toInt();
}

QStringList menuEntries(TfrmPrincipal& w) {
    QStringList out;
    for (QAction* a : WindowProbe::mnuConectarCuentas(&w)->actions())
        out << a->text();
    return out;
}

QStringList rowTexts(MessageList* list) {
    QStringList out;
    for (int r = 0; r < list->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < 5; ++c)
            cells << RowText(list, r, c);
        out << cells.join(u'|');
    }
    return out;
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowHarness> h;

    /** A quick connection to h:110 as u, its socket connected. */
    FakeSocket* connectQuickly(TfrmPrincipal& w) {
        WindowProbe::QuickConnect(&w, u"h"_qs, u"u"_qs, EncodePassword(u"p"_qs), 110);
        FakeSocket* s = h->sockets.last();
        s->connectNow();
        return s;
    }

private slots:
    void init() { h = std::make_unique<WindowHarness>(); }
    void cleanup() { h.reset(); }

    void startWithoutFilesCreatesAnEmptyAccountsFile() {
        TfrmPrincipal& w = h->open();
        QCOMPARE(w.windowTitle(), u"Tavelo v2.0"_qs);
        QCOMPARE(h->read(u"Cuentas.dat"_qs), QByteArray());
        QCOMPARE(WindowProbe::Accounts(&w).size(), 0);
        QVERIFY(h->boxes.isEmpty());
        QVERIFY(!WindowProbe::PanelBotonera(&w)->isVisible());
        QVERIFY(!QFile::exists(h->path(u"Tavelo.ini"_qs))); // nothing written at start-up
        h->close();
        QVERIFY(QFile::exists(h->path(u"Tavelo.ini"_qs))); // everything written at the end
    }

    void accountsAreListedInFileOrder() {
        h->write(u"Cuentas.dat"_qs, accountsFile({{u"pop.a"_qs, u"110"_qs, u"ana"_qs, u"x"_qs},
                                                  {u"pop.b"_qs, u"995"_qs, u"bea"_qs, u"y"_qs}}));
        TfrmPrincipal& w = h->open();
        QCOMPARE(menuEntries(w), (QStringList{u"ana (pop.a)"_qs, u"bea (pop.b)"_qs}));
        QCOMPARE(WindowProbe::Accounts(&w)[1]->Puerto, 995);
    }

    // With no account and no tab the client area welcomes and offers to add an account, and the
    // connect menu says there is none; accounts added or removed, tabs opened or closed, follow.
    void welcomeAndConnectMenuFollowAccountsAndTabs_data() {
        QTest::addColumn<int>("accounts"); // in Cuentas.dat at start
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<bool>("welcome");
        QTest::addColumn<QStringList>("menu");
        const QStringList none{u"(ninguna cuenta)"_qs, u"&Añadir una cuenta..."_qs};
        const QStringList ana{u"ana (pop.a)"_qs};
        QTest::newRow("no account") << 0 << QStringList() << true << none;
        QTest::newRow("an account") << 1 << QStringList() << false << ana;
        QTest::newRow("the first account added") << 0 << QStringList{u"add"_qs} << false << ana;
        QTest::newRow("the last account removed") << 1 << QStringList{u"remove"_qs} << true << none;
        QTest::newRow("a quick connection's tab") << 0 << QStringList{u"quick"_qs} << false << none;
        QTest::newRow("its tab closed") << 0 << QStringList{u"quick"_qs, u"close"_qs} << true << none;
        QTest::newRow("an account's last tab closed") << 1 << QStringList{u"quick"_qs, u"close"_qs} << false << ana;
    }
    void welcomeAndConnectMenuFollowAccountsAndTabs() {
        QFETCH(int, accounts);
        QFETCH(QStringList, steps);
        QFETCH(bool, welcome);
        QFETCH(QStringList, menu);
        const QList<AccountRecord> ana{{u"pop.a"_qs, u"110"_qs, u"ana"_qs, EncodePassword(u"x"_qs)}};
        if (accounts) h->write(u"Cuentas.dat"_qs, accountsFile({{u"pop.a"_qs, u"110"_qs, u"ana"_qs, u"x"_qs}}));
        TfrmPrincipal& w = h->open();
        for (const QString& step : steps) {
            if (step == u"add") WindowProbe::ReplaceAccounts(&w, ana);
            if (step == u"remove") WindowProbe::ReplaceAccounts(&w, {});
            if (step == u"quick") connectQuickly(w);
            if (step == u"close") WindowProbe::btnDesconectarClick(&w);
        }
        QWidget* panel = w.findChild<QWidget*>(u"PanelBienvenida"_qs);
        QVERIFY(panel);
        QCOMPARE(panel->isVisibleTo(&w), welcome);
        QCOMPARE(WindowProbe::Page95Control(&w)->isVisibleTo(&w), !welcome);
        QCOMPARE(menuEntries(w), menu);
        const bool noAccount = WindowProbe::Accounts(&w).isEmpty();
        QCOMPARE(WindowProbe::mnuConectarCuentas(&w)->actions().first()->isEnabled(), !noAccount);
        QCOMPARE(WindowProbe::action(&w, u"mnuConectarConectarTodas"_qs)->isEnabled(), !noAccount);
        if (welcome) {
            const auto* what = panel->findChild<QLabel*>(u"lblQueHace"_qs);
            QVERIFY(what && what->text().contains(u"POP3"_qs));
        }
    }

    void badPortIsReportedAndLosesNothing_data() {
        QTest::addColumn<QString>("port");      // of the first account
        QTest::addColumn<QString>("otherPort"); // of the second
        QTest::addColumn<QString>("box");
        const QString fix = u" hasta que lo corrija en Configurar > Cuentas de correo:\r\r"_qs;
        QTest::newRow("letter") << u"11O"_qs << u"110"_qs
                                << u"El Puerto de esta cuenta no es un número; se conectará al puerto 110"_qs + fix +
                                       u"ana (pop.a): \"11O\""_qs;
        QTest::newRow("empty, and letters in another")
            << QString() << u"abc"_qs
            << u"El Puerto de estas cuentas no es un número; se conectarán al puerto 110"_qs + fix +
                   u"ana (pop.a): \"\"\rbea (pop.b): \"abc\""_qs;
    }
    void badPortIsReportedAndLosesNothing() {
        QFETCH(QString, port);
        QFETCH(QString, otherPort);
        QFETCH(QString, box);
        const QByteArray accounts =
            accountsFile({{u"pop.a"_qs, port, u"ana"_qs, u"x"_qs}, {u"pop.b"_qs, otherPort, u"bea"_qs, u"y"_qs}});
        h->write(u"Cuentas.dat"_qs, accounts);
        const QByteArray filters = "[FROM]spam\r\n[SUBJ]oferta\r\n";
        h->write(u"Filtros.dat"_qs, filters);
        TfrmPrincipal& w = h->open();
        QCOMPARE(h->boxes.size(), 1);
        QCOMPARE(h->boxes[0].icon, QMessageBox::Warning);
        QCOMPARE(h->boxes[0].caption, u"Cuentas de correo"_qs);
        QCOMPARE(h->boxes[0].text, box);
        QCOMPARE(menuEntries(w), (QStringList{u"ana (pop.a)"_qs, u"bea (pop.b)"_qs}));
        QCOMPARE(WindowProbe::Filtros(&w).From, QStringList{u"spam"_qs});
        // The account with the bad port connects on 110.
        WindowProbe::mnuConectarCuentaClick(&w, WindowProbe::Accounts(&w)[0]->MenuItem);
        QCOMPARE(h->sockets.last()->lastPort, 110);
        h->close();
        QCOMPARE(h->read(u"Filtros.dat"_qs), filters);
        QCOMPARE(h->read(u"Cuentas.dat"_qs), accounts); // read, never rewritten
    }

    void badRulesAreToldOverTheWindowOnceItShows() {
        h->write(u"Reglas.dat"_qs, "marcar Subject contiene x\nmarcar Subject expresion (abc\n");
        TfrmPrincipal& w = h->open();
        QVERIFY(h->boxes.isEmpty()); // nothing yet to centre a box over
        bool windowShown = false;
        h->whileBoxOpen = [&] { windowShown = w.isVisible(); };
        w.show();
        QTRY_COMPARE(h->boxes.size(), 1);
        QVERIFY(windowShown);
        QCOMPARE(h->boxes[0].parent, &w);
        QCOMPARE(h->boxes[0].text, u"Estas líneas de "_qs + h->path(u"Reglas.dat"_qs) +
                                       u" no se aplican:\r\rLínea 2, posición 30: la expresión no es válida "
                                       u"(missing closing parenthesis)"_qs);
        QCOMPARE(WindowProbe::Rules(&w).rules().size(), 1);
        // Told once: showing the window again says nothing more.
        w.hide();
        w.show();
        QCoreApplication::processEvents();
        QCOMPARE(h->boxes.size(), 1);
    }

    void unreadableSettingIsNotOverwritten() {
        const QByteArray ini = "[General]\niniTop=40\nConectarTodosAlArrancar=sí\n";
        h->write(u"Tavelo.ini"_qs, ini);
        h->write(u"Filtros.dat"_qs, "[FROM]a\r\n");
        TfrmPrincipal& w = h->open();
        QCOMPARE(h->boxes.size(), 1);
        QVERIFY(h->boxes[0].text.startsWith(u"E.ClassName : ERegistryException\rMessage : "_qs));
        QCOMPARE(WindowProbe::Config(&w).iniTop, 40);
        QCOMPARE(WindowProbe::Filtros(&w).From, QStringList{u"a"_qs}); // the steps after the failed one still ran
        h->close();
        QCOMPARE(h->read(u"Tavelo.ini"_qs), ini);
    }

    void changedSettingIsSavedEvenIfLoadingFailed() {
        h->write(u"Tavelo.ini"_qs, "[General]\niniTop=x\n");
        TfrmPrincipal& w = h->open();
        WindowProbe::Config(&w).iniTop = 33;
        WindowProbe::SettingsChanged(&w) = true;
        h->close();
        QVERIFY(h->read(u"Tavelo.ini"_qs).contains("iniTop=33"));
    }

    void storedPasswordIsSentOnlyWhenItDecodes_data() {
        QTest::addColumn<QByteArray>("pass"); // the PASS line of Cuentas.dat
        QTest::addColumn<QByteArray>("sent"); // empty: nothing reaches a server
        QTest::newRow("scrambled") << ("PASS:" + EncodePassword(u"clave"_qs).toLatin1())
                                   << QByteArray("PASS clave\r\n");
        QTest::newRow("empty password") << QByteArray("PASS:") << QByteArray("PASS \r\n");
        QTest::newRow("damaged") << QByteArray("PASS:QQ") << QByteArray();
    }
    void storedPasswordIsSentOnlyWhenItDecodes() {
        QFETCH(QByteArray, pass);
        QFETCH(QByteArray, sent);
        h->write(u"Cuentas.dat"_qs, "SERV:pop.example.es\r\nPORT:110\r\nUSER:ana\r\n" + pass + "\r\n-----\r\n");
        TfrmPrincipal& w = h->open();
        const int socketsBefore = int(h->sockets.size());
        WindowProbe::mnuConectarCuentaClick(&w, WindowProbe::Accounts(&w)[0]->MenuItem);
        TAccountTab* tab = WindowProbe::Tabs(&w).first();
        if (sent.isEmpty()) {
            QVERIFY(h->sockets.size() == socketsBefore || h->sockets.last()->lastHost.isEmpty());
            QCOMPARE(tab->statusBar()->panelText(1), u"La contraseña guardada no es válida"_qs);
            QCOMPARE(h->boxes.size(), 1);
            QVERIFY(h->boxes.first().text.contains(u"ana (pop.example.es)"_qs));
            return;
        }
        FakeSocket* s = h->sockets.last();
        s->connectNow();
        s->serverSends("+OK ready\r\n");
        s->serverSends("-ERR\r\n"); // no CAPA
        s->serverSends("+OK\r\n");
        QCOMPARE(s->takeWritten(), "CAPA\r\nUSER ana\r\n" + sent);
        QVERIFY(h->boxes.isEmpty());
    }

    void clearTextPasswordOnlyWhereTheAccountAllowsIt_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<bool>("allowed"); // "Permitir contraseña sin cifrar"
        QTest::addColumn<bool>("sent");
        QTest::newRow("remote, not allowed") << u"pop.example.es"_qs << false << false;
        QTest::newRow("remote, allowed") << u"pop.example.es"_qs << true << true;
        QTest::newRow("this computer") << u"127.0.0.1"_qs << false << true;
    }
    void clearTextPasswordOnlyWhereTheAccountAllowsIt() {
        QFETCH(QString, server);
        QFETCH(bool, allowed);
        QFETCH(bool, sent);
        h->allowPlaintext = false; // the fake server stands for the server named, as it is
        TfrmPrincipal& w = h->open();
        AccountAccess access;
        access.allowPlaintext = allowed;
        WindowProbe::QuickConnect(&w, server, u"ana"_qs, EncodePassword(u"clave"_qs), 110, access);
        FakeSocket* s = h->sockets.last();
        s->connectNow();
        s->serverSends("+OK ready\r\n");
        s->serverSends("+OK\r\nUSER\r\n.\r\n"); // CAPA without STLS
        TAccountTab* tab = WindowProbe::Tabs(&w).first();
        if (!sent) {
            QVERIFY(!s->takeWritten().contains("USER"));
            QCOMPARE(tab->statusBar()->panelText(1), u"El Servidor no ofrece conexión segura : "_qs + server);
            return;
        }
        QCOMPARE(s->takeWritten(), QByteArray("CAPA\r\nUSER ana\r\n"));
    }

    void loginShowsTheMailboxAndItsDialogue() {
        const QString withMail = h->soundFile(u"si.wav"_qs);
        h->write(u"Tavelo.ini"_qs, "[General]\nwavSiTieneMensajes=" + withMail.toUtf8() + "\n");
        h->write(u"Cuentas.dat"_qs, accountsFile({{u"pop.example.es"_qs, u"110"_qs, u"ana"_qs, u"secreto"_qs}}));
        TfrmPrincipal& w = h->open();
        WindowProbe::mnuConectarCuentaClick(&w, WindowProbe::Accounts(&w)[0]->MenuItem);
        TAccountTab* tab = WindowProbe::Tabs(&w).first();
        QCOMPARE(WindowProbe::Accounts(&w)[0]->Tab, tab);
        QCOMPARE(WindowProbe::Page95Control(&w)->tabText(0), u"ana"_qs);
        QCOMPARE(imageOf(w, tab), 1);
        QCOMPARE(tab->statusBar()->panelText(0), u"Conectando..."_qs);
        QCOMPARE(tab->statusBar()->panelText(1), u"Estableciendo conexión con pop.example.es"_qs);
        QVERIFY(WindowProbe::TimerArroba(&w).isActive());
        FakeSocket* s = h->sockets.last();
        s->connectNow();
        s->serverSends("+OK ready\r\n");
        QCOMPARE(s->takeWritten(), QByteArray("CAPA\r\n"));
        QCOMPARE(tab->statusBar()->panelText(0), u"Conectando..."_qs);
        QCOMPARE(tab->statusBar()->panelText(1), u"Consultando capacidades del servidor"_qs);
        s->serverSends("+OK\r\nUSER\r\n.\r\n");
        QCOMPARE(s->takeWritten(), QByteArray("USER ana\r\n"));
        QCOMPARE(tab->statusBar()->panelText(1), u"Enviando comando USER"_qs);
        s->serverSends("+OK\r\n");
        QCOMPARE(s->takeWritten(), QByteArray("PASS secreto\r\n"));
        s->serverSends("+OK\r\n");
        s->serverSends("+OK 2 messages\r\n1 1234\r\n2 65536\r\n.\r\n");
        QCOMPARE(tab->statusBar()->panelText(0), u"Conectado"_qs);
        QCOMPARE(tab->statusBar()->panelText(1), u"Obteniendo cabecera del mensaje 1 de 2 (50%)"_qs);
        QCOMPARE(rowTexts(tab->list()), (QStringList{u"1|1.234|||"_qs, u"2|65.536|||"_qs}));
        QSignalSpy viewTold(tab->list()->model(), &QAbstractItemModel::dataChanged);
        s->serverSends(kTop1);
        // During the pass a row gets its header as soon as it is in.
        QCOMPARE(rowTexts(tab->list())[0], u"1|1.234|Ana <ana@example.es>|05 Aug 2002 10:20:30|Hola"_qs);
        // The view hears of it once control is back in the event loop.
        QTRY_COMPARE(viewTold.size(), 1);
        QCOMPARE(viewTold[0][0].value<QModelIndex>().row(), 0);
        QCOMPARE(viewTold[0][1].value<QModelIndex>().row(), 0);
        QVERIFY(h->sounds.isEmpty());
        s->serverSends(kTop2);
        QCOMPARE(rowTexts(tab->list()), (QStringList{u"1|1.234|Ana <ana@example.es>|05 Aug 2002 10:20:30|Hola"_qs,
                                                     u"2|65.536|José <j@x.es>|6 Aug 2002 9:05 +0200|Factura"_qs}));
        QCOMPARE(imageOf(w, tab), 2);
        QVERIFY(!WindowProbe::TimerArroba(&w).isActive());
        QCOMPARE(tab->statusBar()->panelText(1),
                 u"Conectado al servidor pop.example.es  (66.770 Bytes en 2 mensajes)"_qs);
        QCOMPARE(h->sounds, QStringList{withMail});
        QCOMPARE(tab->lastActivity(), h->now);

        // The dialogue: each command framed by blank paragraphs, replies one paragraph a line.
        const int C = WindowProbe::CommandStyle(&w), S = WindowProbe::ServerStyle(&w),
                  K = WindowProbe::CommentStyle(&w);
        QList<std::pair<int, QString>> expected = {{S, u"+OK ready"_qs}};
        auto command = [&](const QString& c, const QStringList& reply) {
            expected << std::pair{C, u" "_qs} << std::pair{C, u"> "_qs + c} << std::pair{C, u" "_qs};
            for (const QString& line : reply)
                expected << std::pair{S, line};
        };
        command(u"CAPA"_qs, {u"+OK"_qs, u"USER"_qs, u"."_qs});
        command(u"USER ana"_qs, {u"+OK"_qs});
        expected << std::pair{K, u"// La contraseña se envía sin cifrar: el Servidor no ofrece conexión segura"_qs};
        command(u"PASS (\u00B7\u00B7\u00B7)"_qs, {u"+OK"_qs});
        command(u"LIST"_qs, {u"+OK 2 messages"_qs, u"1 1234"_qs, u"2 65536"_qs, u"."_qs});
        command(u"TOP 1 20"_qs, QString::fromLatin1(kTop1).split(u"\r\n"_qs, Qt::SkipEmptyParts));
        expected.insert(expected.size() - 2, {S, u" "_qs}); // the blank line between header and body
        command(u"TOP 2 20"_qs, QString::fromLatin1(kTop2).split(u"\r\n"_qs, Qt::SkipEmptyParts));
        expected.insert(expected.size() - 1, {S, u" "_qs});
        expected << std::pair{K, u" "_qs} << std::pair{K, u"// Conectado al servidor pop.example.es"_qs};
        QList<std::pair<int, QString>> got;
        for (int i = 0; i < tab->dialogueView()->paragraphCount(); ++i)
            got << std::pair{tab->dialogueView()->paragraphStyle(i), tab->dialogueView()->paragraphText(i)};
        QCOMPARE(got, expected);
        for (const auto& p : got)
            QVERIFY2(!p.second.contains(u"secreto"_qs), "the password reached the log");
    }

    // The buttons Qt draws itself speak Spanish too (the translations are a dependency).
    void qtOwnTextsAreSpanish() {
        QTranslator* translator = LoadSpanishQtTexts(*QCoreApplication::instance());
        QVERIFY2(translator, "qtbase_es.qm is not installed");
        QMessageBox box(QMessageBox::Question, u"c"_qs, u"t"_qs,
                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        const QStringList texts{box.button(QMessageBox::Yes)->text(), box.button(QMessageBox::No)->text(),
                                box.button(QMessageBox::Cancel)->text()};
        QCoreApplication::removeTranslator(translator);
        delete translator;
        QCOMPARE(texts, (QStringList{u"&Sí"_qs, u"&No"_qs, u"Cancelar"_qs}));
    }

    void logTextBecomesOneParagraphALine_data() {
        QTest::addColumn<QStringList>("texts"); // added one after the other
        QTest::addColumn<QStringList>("paragraphs");
        QTest::addColumn<int>("limit");  // the most text kept, in bytes (0: all)
        QTest::addColumn<bool>("quiet"); // chunks compressed once the log is quiet, not as they fill
        QTest::newRow("lines") << QStringList{u"a\r\nbc\r\n"_qs} << QStringList{u"a"_qs, u"bc"_qs} << 0 << false;
        QTest::newRow("last line without its break")
            << QStringList{u"a\r\nb"_qs} << QStringList{u"a"_qs, u"b"_qs} << 0 << false;
        QTest::newRow("empty lines are one blank")
            << QStringList{u"\r\na\r\n\r\n"_qs} << QStringList{u" "_qs, u"a"_qs, u" "_qs} << 0 << false;
        QTest::newRow("a lone CR or LF stays in its line")
            << QStringList{u"a\rb\r\nc\nd\r"_qs} << QStringList{u"a\rb"_qs, u"c\nd\r"_qs} << 0 << false;
        QTest::newRow("each text starts a paragraph") << QStringList{u"a"_qs, u"b\r\n"_qs, u""_qs, u"c"_qs}
                                                      << QStringList{u"a"_qs, u"b"_qs, u"c"_qs} << 0 << false;
        QTest::newRow("outside Windows-1252")
            << QStringList{u"\u00E9\u20AC\u4F60 0123456789abcdefghij\u4F60\r\n\u0153"_qs}
            << QStringList{u"\u00E9\u20AC? 0123456789abcdefghij?"_qs, u"\u0153"_qs} << 0 << false;
        // Full chunks of the log are kept compressed: every paragraph reads back the same.
        QStringList texts, paragraphs;
        QString text;
        for (int i = 0; i < 40000; ++i) {
            const QString line = u"l\u00EDnea "_qs + QString::number(i) + (i % 7 ? u""_qs : u"\r"_qs);
            text += line + u"\r\n"_qs;
            paragraphs << line;
            if (i % 1000 == 999) {
                text += u"\r\n"_qs;
                paragraphs << u" "_qs;
            }
            if (i % 97 == 0) texts << std::exchange(text, QString());
        }
        texts << text;
        QTest::newRow("many chunks") << texts << paragraphs << 0 << false;
        QTest::newRow("compressed once quiet") << texts << paragraphs << 0 << true;
        // Past its bound the log drops its oldest lines and says how many went.
        QTest::newRow("bounded") << texts << paragraphs << 100 * 1024 << false;
    }
    void logTextBecomesOneParagraphALine() {
        QFETCH(QStringList, texts);
        QFETCH(QStringList, paragraphs);
        QFETCH(int, limit);
        QFETCH(bool, quiet);
        TRVStyle sheet;
        StyledTextView view(&sheet);
        LogStore store(nullptr, quiet ? LogStore::kPlainTail : 0, 0); // every full chunk compressed
        view.setLimit(limit, 3);
        store.setLimit(limit, 3);
        for (const QString& t : texts) {
            view.AddLines(t, 1);
            store.append(t, 2);
        }
        QStringList got;
        for (int i = 0; i < view.paragraphCount(); ++i)
            got << view.paragraphText(i);
        if (limit > 0) {
            // A note, then the newest lines: no more than the bound and a chunk.
            const qsizetype kept = got.size() - 1;
            QVERIFY(kept < paragraphs.size());
            QCOMPARE(got.first(), u"// ("_qs + FormatThousands(paragraphs.size() - kept) +
                                      u" líneas anteriores no se muestran: el registro llegó a su límite)"_qs);
            QCOMPARE(view.paragraphStyle(0), 3);
            qsizetype bytes = 0;
            for (const QString& line : got.mid(1))
                bytes += line.size() + 2;
            QVERIFY(bytes <= limit + LogStore::kChunkBytes);
            paragraphs = QStringList{got.first()} + paragraphs.last(kept);
        }
        QCOMPARE(got, paragraphs);
        if (quiet) {
            // Nothing is compressed while chunks fill; every full one once the log is quiet.
            QVERIFY(store.plainBytes() > LogStore::kChunkBytes);
            QTRY_VERIFY_WITH_TIMEOUT(store.plainBytes() < LogStore::kChunkBytes, 3 * LogStore::kQuietMs);
        }
        store.settle(); // what was compressed is in
        got.clear();
        for (int i = store.count() - 1; i >= 0; --i) // backwards: a chunk is unpacked again and again
            got.prepend(store.text(i));
        QCOMPARE(got, paragraphs);
        QCOMPARE(store.style(store.count() - 1), 2);
    }

    // The window opens inside the screen's free area with room for its title bar: centred, and
    // smaller where the screen is smaller (1280 x 900 at a scale of 2 is 640 x 450).
    void windowOpensOnTheScreen_data() {
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QRect>("placed");
        QTest::newRow("large screen") << QRect(0, 0, 1920, 1080) << QRect(560, 252, 800, 600);
        QTest::newRow("panel at the top") << QRect(0, 27, 1280, 873) << QRect(240, 175, 800, 600);
        QTest::newRow("smaller than the window") << QRect(0, 0, 640, 450) << QRect(8, 32, 624, 410);
        QTest::newRow("second screen") << QRect(1920, 0, 1280, 900) << QRect(2160, 162, 800, 600);
    }
    void windowOpensOnTheScreen() {
        QFETCH(QRect, available);
        QFETCH(QRect, placed);
        QCOMPARE(PlaceOnScreen(QSize(800, 600), available), placed);
    }

    // The log's three colours on a light and a dark background: readable (4.5:1), the same hue,
    // and unchanged where they were readable already.
    void logColoursAreReadableOnAnyBackground_data() {
        QTest::addColumn<QColor>("color");
        QTest::addColumn<QColor>("background");
        QTest::addColumn<bool>("unchanged");
        const QColor light(255, 255, 255), dark(0x23, 0x26, 0x29);
        for (const auto& [name, color] :
             {std::pair{"commands", QColor(221, 0, 0)}, std::pair{"server", QColor(0, 0, 221)},
              std::pair{"comments", QColor(0, 153, 0)}}) {
            QTest::addRow("%s, light", name) << color << light << (color != QColor(0, 153, 0));
            QTest::addRow("%s, dark", name) << color << dark << false;
        }
    }
    void logColoursAreReadableOnAnyBackground() {
        QFETCH(QColor, color);
        QFETCH(QColor, background);
        QFETCH(bool, unchanged);
        const QColor painted = ReadableColor(color, background);
        QVERIFY2(ContrastRatio(painted, background) >= 4.5, qPrintable(painted.name()));
        QVERIFY(std::abs(painted.hslHue() - color.hslHue()) <= 2);
        QCOMPARE(painted == color, unchanged);
    }

    // Switched to a dark palette while open: the inactive tabs' text and the "@" stay readable on
    // what is painted behind them (the tab widget's pane and the inactive tab, not the window).
    void picturesFollowADarkPalette() {
        TfrmPrincipal& w = h->open();
        for (const char16_t* host : {u"a", u"b"})
            WindowProbe::QuickConnect(&w, QString::fromUtf16(host), u"u"_qs, EncodePassword(u"p"_qs), 110);
        w.show();
        const QPalette usual = QApplication::palette();
        const auto restore = qScopeGuard([&] { QApplication::setPalette(usual); });
        QPalette dark(QColor(53, 53, 53)); // buttons and window dark, text white
        dark.setColor(QPalette::Window, QColor(45, 45, 48));
        QApplication::setPalette(dark);
        QTabWidget* tabs = WindowProbe::Page95Control(&w);
        QTabBar* bar = tabs->tabBar();
        // What is painted: the colour most pixels of an area have.
        const auto background = [&w](const QImage& shot, const QWidget* widget, QRect r) {
            r.moveTopLeft(widget->mapTo(&w, r.topLeft()));
            const qreal scale = shot.devicePixelRatio();
            QHash<QRgb, int> counts;
            for (int y = qRound(r.top() * scale); y < qRound(r.bottom() * scale); ++y)
                for (int x = qRound(r.left() * scale); x < qRound(r.right() * scale); ++x)
                    ++counts[shot.pixel(x, y)];
            return QColor(std::max_element(counts.keyValueBegin(), counts.keyValueEnd(), [](auto a, auto b) {
                              return a.second < b.second;
                          })->first);
        };
        QString found;
        const auto readable = [&] {
            const QImage shot = w.grab().toImage();
            const QString sheet = tabs->styleSheet();
            const QColor text(sheet.mid(sheet.indexOf(u'#'), 7));
            const QColor inactive = background(shot, bar, bar->tabRect(1 - bar->currentIndex()));
            // The at-sign's ink: the most opaque pixel of the first frame.
            const QImage frame = WindowProbe::imgArroba(&w)->pixmap().toImage().copy(0, 0, 38, 31);
            QColor ink(Qt::transparent);
            for (int y = 0; y < frame.height(); ++y)
                for (int x = 0; x < frame.width(); ++x)
                    if (frame.pixelColor(x, y).alpha() > ink.alpha()) ink = frame.pixelColor(x, y);
            ink.setAlpha(255);
            const QColor pane = background(shot, WindowProbe::PanelArroba(&w), WindowProbe::PanelArroba(&w)->rect());
            found = text.name() + u" on "_qs + inactive.name() + u", @ "_qs + ink.name() + u" on "_qs + pane.name();
            return pane.lightness() < 128 && ContrastRatio(text, inactive) >= 4.5 && ContrastRatio(ink, pane) >= 3.0;
        };
        QTRY_VERIFY2(readable(), qPrintable(found)); // the change is posted
    }

    void readsSplitAcrossLinesShowAsWholeLines() {
        TfrmPrincipal& w = h->open();
        FakeSocket* s = connectQuickly(w);
        for (const char* piece : {"+", "OK r", "eady", "\r", "\n"})
            s->serverSends(piece);
        StyledTextView* v = WindowProbe::Tabs(&w).first()->dialogueView();
        QCOMPARE(v->paragraphText(0), u"+OK ready"_qs);
        QCOMPARE(v->paragraphText(2), u"> CAPA"_qs);
        // A line longer than the log keeps of one shows its start, then how much was left out.
        const int before = v->paragraphCount();
        s->serverSends("+OK\r\n" + QByteArray(30000, 'x'));
        for (int i = 0; i < 3; ++i)
            s->serverSends(QByteArray(30000, 'x'));
        s->serverSends("xx\r\nUS");
        s->serverSends("ER\r\n.\r\n");
        QStringList got;
        for (int i = before; i < v->paragraphCount(); ++i)
            got << v->paragraphText(i);
        const qsizetype note = got.indexOf(u"// (54.466 caracteres más de esta línea no se muestran)"_qs);
        QCOMPARE(note, 2);
        QCOMPARE(got.first(), u"+OK"_qs);
        QCOMPARE(got[1], QString(WindowProbe::kLogLineCap, u'x'));
        QCOMPARE(got.mid(note + 1, 2), (QStringList{u"USER"_qs, u"."_qs}));
        // What waits for the rest of its line shows before anything else the log says.
        const int end = v->paragraphCount();
        s->serverSends("+OK na");
        s->serverSends("me");
        s->fail(10054);
        QVERIFY(v->paragraphCount() > end + 1);
        QCOMPARE(v->paragraphText(end), u"+OK name"_qs);
    }

    // The log catches up with appends once a frame: a view at the end stays at the end, one the
    // user scrolled back stays where it is, and the scroll bar shows the same as the view.
    void dialogueLogFollowsTheEndUnlessScrolledBack() {
        TfrmPrincipal& w = h->open();
        w.show();
        FakeSocket* s = connectQuickly(w);
        StyledTextView* v = WindowProbe::Tabs(&w).first()->dialogueView();
        QScrollBar* bar = v->verticalScrollBar();
        for (int i = 0; i < 300; ++i) // a line wider than the view brings a horizontal scroll bar
            s->serverSends("+OK line " + QByteArray::number(i) + (i == 298 ? QByteArray(2000, 'x') : "") + "\r\n");
        QVERIFY(v->VScrollMax() > 0);
        QCOMPARE(v->VScrollPos(), v->VScrollMax());
        QTRY_COMPARE(bar->maximum(), v->VScrollMax());
        QTRY_VERIFY(v->horizontalScrollBar()->isVisible());
        QCOMPARE(v->VScrollPos(), v->VScrollMax());
        QCOMPARE(bar->value(), bar->maximum());

        bar->setValue(10); // the user drags the bar back
        QCOMPARE(v->VScrollPos(), 10);
        for (int i = 0; i < 50; ++i)
            s->serverSends("+OK more\r\n");
        QTRY_COMPARE(bar->maximum(), v->VScrollMax());
        QCOMPARE(v->VScrollPos(), 10);
        QCOMPARE(bar->value(), 10);

        bar->setValue(bar->maximum()); // and back to the end: appends are followed again
        s->serverSends("+OK last\r\n");
        QCOMPARE(v->VScrollPos(), v->VScrollMax());
        QTRY_COMPARE(bar->value(), v->VScrollMax());
    }

    // The headers are asked for in batches where the server offers PIPELINING, unless the
    // settings file says 0.
    void pipeliningFollowsTheSettingsFile_data() {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QByteArray>("tops"); // written at once after the LIST reply
        const QByteArray all = "TOP 1 20\r\nTOP 2 20\r\nTOP 3 20\r\n";
        QTest::newRow("no settings file") << QByteArray() << all;
        QTest::newRow("other settings only") << QByteArray("[Avanzado]\nOtro=1\n") << all;
        QTest::newRow("on") << QByteArray("[Avanzado]\nPipelining=1\n") << all;
        QTest::newRow("unreadable value") << QByteArray("[Avanzado]\nPipelining=sí\n") << all;
        QTest::newRow("off") << QByteArray("[Avanzado]\nPipelining=0\n") << QByteArray("TOP 1 20\r\n");
    }
    void pipeliningFollowsTheSettingsFile() {
        QFETCH(QByteArray, ini);
        QFETCH(QByteArray, tops);
        if (!ini.isEmpty()) h->write(u"Tavelo.ini"_qs, ini);
        TfrmPrincipal& w = h->open();
        WindowProbe::QuickConnect(&w, u"h"_qs, u"u"_qs, EncodePassword(u"p"_qs), 110);
        FakeSocket* s = h->sockets.last();
        s->connectNow();
        s->serverSends("+OK ready\r\n");
        s->serverSends("+OK\r\nPIPELINING\r\nTOP\r\nUSER\r\n.\r\n");
        s->serverSends("+OK\r\n");
        s->serverSends("+OK\r\n");
        s->takeWritten();
        s->serverSends(listReply(numberedBox(3)));
        QCOMPARE(s->takeWritten(), tops);
    }

    void recheckWithTheSameMailboxIsSilent() {
        const QString mail = h->soundFile(u"si.wav"_qs);
        TfrmPrincipal& w = h->open();
        WindowProbe::Config(&w).wavSiTieneMensajes = mail;
        WindowProbe::QuickConnect(&w, u"h"_qs, u"u"_qs, EncodePassword(u"p"_qs), 110);
        FakeSocket* s = h->sockets.last();
        const QList<FakeMessage> box = numberedBox(2);
        serveLogin(s, box);
        QCOMPARE(h->sounds.size(), 1);
        TAccountTab* tab = WindowProbe::Tabs(&w).first();
        const double activity = tab->lastActivity();
        h->now += 1;
        WindowProbe::btnRefrescarClick(&w);
        QCOMPARE(imageOf(w, tab), 1);
        serveRecheck(s, box, box);
        // A fresh login sees new mail; its steps stay inside the re-check, so the rows stay.
        QCOMPARE(s->takeWritten(), QByteArray("UIDL\r\nQUIT\r\nCAPA\r\nUSER u\r\nPASS p\r\nUIDL\r\nSTAT\r\n"));
        QCOMPARE(imageOf(w, tab), 2);
        QCOMPARE(h->sounds.size(), 1);
        QCOMPARE(tab->list()->rowCount(), 2);
        QCOMPARE(tab->lastActivity(), activity + 1);
        // New mail lists again and is announced.
        const QList<FakeMessage> more = numberedBox(3);
        WindowProbe::btnRefrescarClick(&w);
        serveRecheck(s, box, more, false);
        QVERIFY(s->takeWritten().endsWith("STAT\r\nLIST\r\n"));
        s->serverSends(listReply(more));
        for (const FakeMessage& m : more)
            s->serverSends(topReply(m));
        QCOMPARE(tab->list()->rowCount(), 3);
        QCOMPARE(h->sounds.size(), 2);
    }

    void connectAllRechecksIdleTabsAndLeavesOthers() {
        h->write(u"Cuentas.dat"_qs,
                 accountsFile({{u"a"_qs, u"110"_qs, u"ana"_qs, u"x"_qs}, {u"b"_qs, u"110"_qs, u"bea"_qs, u"y"_qs}}));
        TfrmPrincipal& w = h->open();
        WindowProbe::mnuConectarConectarTodasClick(&w);
        QCOMPARE(WindowProbe::Tabs(&w).size(), 2);
        QCOMPARE(WindowProbe::Page95Control(&w)->currentIndex(), 1);
        serveLogin(h->sockets[0], numberedBox(1));
        h->sockets[1]->takeWritten();
        WindowProbe::mnuConectarConectarTodasClick(&w);
        QCOMPARE(WindowProbe::Tabs(&w).size(), 2);
        QCOMPARE(h->sockets[0]->takeWritten(), QByteArray("UIDL\r\n")); // the re-check begins
        QCOMPARE(h->sockets[1]->takeWritten(), QByteArray());           // busy: left alone
    }

    void failuresTurnTheTabRed_data() {
        QTest::addColumn<int>("socketError"); // 0: the server's replies below
        QTest::addColumn<QList<QByteArray>>("replies");
        QTest::addColumn<QString>("reason"); // in the log
        QTest::addColumn<QString>("status"); // in the status bar, and the box's text
        QTest::addColumn<int>("boxes");      // boxes shown
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QString>("how"); // "", "twice" (fails again while its box is open), "tray"
        const QString refused = u"El Servidor h rechazó la conexión en el puerto 110"_qs;
        // A refused password is not retried: the tab shows the way to the account instead.
        QTest::newRow("wrong password") << 0
                                        << QList<QByteArray>{"+OK\r\n", "-ERR\r\n", "+OK\r\n", "-ERR [AUTH] no\r\n"}
                                        << u"Combinación USER/PASS no válida"_qs
                                        << u"Contraseña o usuario rechazados: revise la cuenta"_qs << 0 << QByteArray()
                                        << QString();
        QTest::newRow("locked mailbox") << 0
                                        << QList<QByteArray>{"+OK\r\n", "-ERR\r\n", "+OK\r\n",
                                                             "-ERR [IN-USE] locked\r\n"}
                                        << u"Buzón bloqueado por otra sesión : h"_qs
                                        << u"Buzón bloqueado por otra sesión : h"_qs << 0 << QByteArray() << QString();
        // A closed port is no wrong host name.
        QTest::newRow("refused") << 10061 << QList<QByteArray>{} << refused << refused << 1 << QByteArray()
                                 << QString();
        QTest::newRow("refused again while its box is open")
            << 10061 << QList<QByteArray>{} << refused << refused << 1 << QByteArray() << u"twice"_qs;
        QTest::newRow("refused while hidden in the tray")
            << 10061 << QList<QByteArray>{} << refused << refused << 0 << QByteArray() << u"tray"_qs;
        // The server was found: a connection it closed is no box.
        QTest::newRow("reset") << 10054 << QList<QByteArray>{"+OK\r\n"} << u"Conexión cerrada por el Servidor : h"_qs
                               << u"Conexión cerrada por el Servidor : h"_qs << 0 << QByteArray() << QString();
        QTest::newRow("STLS gone at a server that gave TLS")
            << 0 << QList<QByteArray>{"+OK\r\n", "+OK\r\nUSER\r\n.\r\n"}
            << u"El Servidor ya no ofrece conexión segura : h"_qs << u"El Servidor ya no ofrece conexión segura : h"_qs
            << 0 << QByteArray("[ServidoresTLS]\nh%3A110=1\n") << QString();
    }
    void failuresTurnTheTabRed() {
        QFETCH(int, socketError);
        QFETCH(QList<QByteArray>, replies);
        QFETCH(QString, reason);
        QFETCH(QString, status);
        QFETCH(int, boxes);
        QFETCH(QByteArray, settings);
        QFETCH(QString, how);
        const QString fail = h->soundFile(u"fallo.wav"_qs);
        if (!settings.isEmpty()) h->write(u"Tavelo.ini"_qs, settings);
        TfrmPrincipal& w = h->open();
        WindowProbe::Config(&w).wavFalloDuranteConexion = fail;
        if (how == u"tray") {
            h->trayAvailable = true;
            WindowProbe::Config(&w).MinimizarAlTray = true;
            w.show();
            WindowProbe::HandleMinimize(&w);
            QTRY_VERIFY(!w.isVisible());
        }
        FakeSocket* s = connectQuickly(w);
        TAccountTab* tab = WindowProbe::Tabs(&w).first();
        // The box waits for nothing: when it opens, the session is already down, the sound played.
        int stateAtBox = -1;
        qsizetype soundsAtBox = -1;
        h->whileBoxOpen = [&] {
            stateAtBox = tab->session()->Estado();
            soundsAtBox = h->sounds.size();
            if (how == u"twice") {
                tab->session()->Reconectar();
                h->sockets.last()->fail(socketError);
            }
        };
        for (const QByteArray& r : replies)
            s->serverSends(r);
        if (socketError) s->fail(socketError);
        QCOMPARE(imageOf(w, tab), 0);
        QCOMPARE(tab->statusBar()->panelText(0), u"Desconectado"_qs);
        QCOMPARE(tab->statusBar()->panelText(1), status);
        QCOMPARE(tab->page()->findChild<QPushButton*>(u"btnRevisarCuenta"_qs)->isVisibleTo(tab->page()),
                 status != reason);
        QCOMPARE(h->sounds, QStringList{fail}); // once, not for the silent state change
        QTest::qWait(20);
        QCOMPARE(h->boxes.size(), boxes);
        if (boxes) {
            QCOMPARE(h->boxes[0].caption, u"Conexión rechazada"_qs);
            QCOMPARE(h->boxes[0].text, status);
            QCOMPARE(stateAtBox, 0);
            QCOMPARE(soundsAtBox, 1);
        }
        const int n = tab->dialogueView()->paragraphCount();
        QCOMPARE(tab->dialogueView()->paragraphText(n - 3), u"// Finalizando conexión con h"_qs);
        QCOMPARE(tab->dialogueView()->paragraphText(n - 2), u"// "_qs + reason);
    }

    // What is decided about a server's TLS is asked safely and kept at once: the certificate
    // question defaults to No, and a server that gave TLS is remembered in the settings file.
    void tlsDecisionsAreAskedSafelyAndKept() {
        TfrmPrincipal& w = h->open();
        FakeSocket* s = connectQuickly(w);
        s->serverSends("+OK\r\n");
        s->serverSends("+OK\r\nSTLS\r\n.\r\n");
        s->serverSends("+OK\r\n");
        QVERIFY(s->tlsStarted);
        h->boxAnswer = QMessageBox::Yes;
        QVERIFY(s->presentCertificate({u"CN=h"_qs, u"CN=h"_qs, {}, {}, u"ab12"_qs, {u"self-signed"_qs}}));
        QCOMPARE(h->boxes.size(), 1);
        QCOMPARE(h->boxes[0].defaultButton, QMessageBox::No);
        s->handshakeSucceeds();
        QSettings ini(h->path(u"Tavelo.ini"_qs), QSettings::IniFormat);
        QCOMPARE(ini.value(u"ServidoresTLS/h:110"_qs).toInt(), 1);
        QCOMPARE(ini.value(u"CertificadosConfiados/h:110"_qs).toString(), u"ab12"_qs);
    }

    // The real message box: Enter presses the default button, Escape answers No.
    void messageBoxKeys_data() {
        QTest::addColumn<int>("defaultButton");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("answer");
        QTest::newRow("Enter, default Yes") << int(QMessageBox::Yes) << int(Qt::Key_Return) << int(QMessageBox::Yes);
        QTest::newRow("Enter, default No") << int(QMessageBox::No) << int(Qt::Key_Return) << int(QMessageBox::No);
        QTest::newRow("Escape, default Yes") << int(QMessageBox::Yes) << int(Qt::Key_Escape) << int(QMessageBox::No);
    }
    void messageBoxKeys() {
        QFETCH(int, defaultButton);
        QFETCH(int, key);
        QFETCH(int, answer);
        QTimer press;
        std::optional<Qt::TextFormat> format;
        connect(&press, &QTimer::timeout, this, [&] {
            QWidget* box = QApplication::activeModalWidget();
            if (!box) return;
            if (auto* messageBox = qobject_cast<QMessageBox*>(box)) format = messageBox->textFormat();
            QTest::keyClick(box, Qt::Key(key));
        });
        press.start(20);
        // Text from a server that reads as HTML is shown as it is written, never as a link.
        const QString subject = u"<a href=\"file:///etc/passwd\"><b>HAGA CLIC</b></a>"_qs;
        const auto messageBox = WindowSeams::defaults().messageBox;
        QCOMPARE(int(messageBox(nullptr, QMessageBox::Question, u"Certificado no verificado"_qs, subject,
                                QMessageBox::Yes | QMessageBox::No, QMessageBox::StandardButton(defaultButton))),
                 answer);
        QCOMPARE(format, std::optional<Qt::TextFormat>(Qt::PlainText));
    }

    void unresolvedNameIsSweptAfterThirtySeconds() {
        TfrmPrincipal& w = h->open();
        WindowProbe::QuickConnect(&w, u"nadie.invalid"_qs, u"u"_qs, EncodePassword(u"p"_qs), 110);
        h->sockets.last()->lookupFails();
        w.reportUnhandledError(ESocketError(u"Host not found"_qs));
        QCOMPARE(WindowProbe::PendingSocketErrors(&w), 1);
        QVERIFY(WindowProbe::TimerSocketExc(&w).isActive());
        QVERIFY(h->boxes.isEmpty());
        h->now += 30.0 / 86400;
        WindowProbe::SweepSocketErrors(&w);
        QCOMPARE(WindowProbe::Tabs(&w).first()->session()->Estado(), 1); // not yet: more than 30 seconds are needed
        h->now += 1.0 / 86400;
        WindowProbe::SweepSocketErrors(&w);
        TAccountTab* tab = WindowProbe::Tabs(&w).first();
        QCOMPARE(tab->session()->Estado(), 0);
        QCOMPARE(WindowProbe::PendingSocketErrors(&w), 0);
        QCOMPARE(imageOf(w, tab), 0);
        QCOMPARE(tab->statusBar()->panelText(1), u"Servidor no encontrado : nadie.invalid"_qs);
        QTRY_COMPARE(h->boxes.size(), 1);
        QCOMPARE(h->boxes[0].text, u"No se encuentra el Servidor nadie.invalid"_qs);
    }

    void sweepWithNoTabWaitingChangesNothing() {
        TfrmPrincipal& w = h->open();
        w.reportUnhandledError(ESocketError(u"x"_qs));
        h->now += 1;
        WindowProbe::SweepSocketErrors(&w);
        QCOMPARE(WindowProbe::PendingSocketErrors(&w), 1);
        QVERIFY(WindowProbe::TimerSocketExc(&w).isActive());
        QVERIFY(h->boxes.isEmpty());
    }

    void closingATabWhileItsBoxIsOpenDoesNotCrash() {
        TfrmPrincipal& w = h->open();
        WindowProbe::QuickConnect(&w, u"h"_qs, u"u"_qs, EncodePassword(u"p"_qs), 110);
        WindowProbe::QuickConnect(&w, u"g"_qs, u"v"_qs, EncodePassword(u"p"_qs), 110);
        QPointer<TPop3> session = WindowProbe::Tabs(&w).first()->session();
        WindowProbe::Page95Control(&w)->setCurrentIndex(0);
        h->whileBoxOpen = [&] {
            WindowProbe::btnDesconectarClick(&w);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // as a modal loop would
        };
        h->sockets[0]->connectNow();
        h->sockets[0]->fail(10061);
        QTRY_VERIFY(session.isNull());
        QCOMPARE(WindowProbe::Tabs(&w).size(), 1);
        QCOMPARE(WindowProbe::Page95Control(&w)->tabText(0), u"v"_qs);
    }

    void menuEntryOfAConnectedAccountOnlySwitchesTabs() {
        h->write(u"Cuentas.dat"_qs,
                 accountsFile({{u"a"_qs, u"110"_qs, u"ana"_qs, u"x"_qs}, {u"b"_qs, u"110"_qs, u"bea"_qs, u"y"_qs}}));
        TfrmPrincipal& w = h->open();
        WindowProbe::mnuConectarCuentaClick(&w, WindowProbe::Accounts(&w)[0]->MenuItem);
        WindowProbe::mnuConectarCuentaClick(&w, WindowProbe::Accounts(&w)[1]->MenuItem);
        QCOMPARE(h->sockets.size(), 2);
        WindowProbe::mnuConectarCuentaClick(&w, WindowProbe::Accounts(&w)[0]->MenuItem);
        QCOMPARE(h->sockets.size(), 2);
        QCOMPARE(WindowProbe::Page95Control(&w)->currentIndex(), 0);
    }

    void quickConnectReusesTheTabOfAStoredAccount() {
        h->write(u"Cuentas.dat"_qs, accountsFile({{u"pop.a"_qs, u"110"_qs, u"ana"_qs, u"clave"_qs}}));
        TfrmPrincipal& w = h->open();
        // Another scrambling of the same password differs only in letter case.
        WindowProbe::QuickConnect(&w, u"POP.A"_qs, u"Ana"_qs, EncodePassword(u"clave"_qs).toLower(), 110);
        QCOMPARE(WindowProbe::Tabs(&w).size(), 1);
        QCOMPARE(WindowProbe::Accounts(&w)[0]->Tab, WindowProbe::Tabs(&w).first());
        WindowProbe::QuickConnect(&w, u"pop.a"_qs, u"ana"_qs, EncodePassword(u"clave"_qs), 110);
        QCOMPARE(WindowProbe::Tabs(&w).size(), 1);
        WindowProbe::QuickConnect(&w, u"pop.a"_qs, u"ana"_qs, EncodePassword(u"clave"_qs), 995);
        QCOMPARE(WindowProbe::Tabs(&w).size(), 2);
        QCOMPARE(h->sockets.last()->lastPort, 995);
    }

    void closingTabs_data() {
        QTest::addColumn<int>("close");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("activeAfter");
        QTest::newRow("middle") << 1 << 3 << u"c"_qs;
        QTest::newRow("last") << 2 << 3 << u"b"_qs;
        QTest::newRow("only") << 0 << 1 << QString();
    }
    void closingTabs() {
        QFETCH(int, close);
        QFETCH(int, count);
        QFETCH(QString, activeAfter);
        TfrmPrincipal& w = h->open();
        w.show();
        const QStringList users{u"a"_qs, u"b"_qs, u"c"_qs};
        for (int i = 0; i < count; ++i)
            WindowProbe::QuickConnect(&w, u"h"_qs, users[i], EncodePassword(u"p"_qs), 110 + i);
        h->sockets[close]->connectNow();
        WindowProbe::Page95Control(&w)->setCurrentIndex(close);
        WindowProbe::btnDesconectarClick(&w);
        QCOMPARE(h->sockets[close]->written, QByteArray("QUIT\r\n"));
        QCOMPARE(WindowProbe::Tabs(&w).size(), count - 1);
        if (activeAfter.isEmpty()) {
            QVERIFY(!WindowProbe::PanelBotonera(&w)->isVisible());
        } else {
            QVERIFY(WindowProbe::PanelBotonera(&w)->isVisible());
            QCOMPARE(WindowProbe::Page95Control(&w)->tabText(WindowProbe::Page95Control(&w)->currentIndex()),
                     activeAfter);
        }
    }

    void viewModesKeepTheirSizes() {
        TfrmPrincipal& w = h->open();
        w.show();
        WindowProbe::QuickConnect(&w, u"h"_qs, u"a"_qs, EncodePassword(u"p"_qs), 110);
        WindowProbe::QuickConnect(&w, u"h"_qs, u"b"_qs, EncodePassword(u"p"_qs), 111);
        TAccountTab* t = WindowProbe::Tabs(&w)[1];
        const int lower = WindowProbe::ListSplitter(t)->sizes()[1];
        const int dialogue = WindowProbe::DialogueSplitter(t)->sizes()[1];
        QVERIFY(lower > 0 && dialogue > 0);
        WindowProbe::btnSoloListaClick(&w);
        WindowProbe::btnSoloListaClick(&w);
        QVERIFY(WindowProbe::LowerPanel(t)->isHidden());
        QCOMPARE(WindowProbe::SavedLowerHeight(t), lower);
        WindowProbe::btnListaTextoClick(&w);
        QVERIFY(!WindowProbe::LowerPanel(t)->isHidden());
        QVERIFY(WindowProbe::DialoguePanel(t)->isHidden());
        WindowProbe::btnListaTextoDialogoClick(&w);
        QCOMPARE(WindowProbe::ListSplitter(t)->sizes()[1], lower);
        QCOMPARE(WindowProbe::DialogueSplitter(t)->sizes()[1], dialogue);
        QVERIFY(!WindowProbe::DialoguePanel(WindowProbe::Tabs(&w)[0])->isHidden()); // the other tab is left alone
    }

    void newTabsFollowTheViewSetting_data() {
        QTest::addColumn<int>("elementos");
        QTest::addColumn<bool>("lower");
        QTest::addColumn<bool>("dialogue");
        QTest::newRow("1") << 1 << false << true;
        QTest::newRow("2") << 2 << true << false;
        QTest::newRow("3") << 3 << true << true;
        QTest::newRow("7") << 7 << true << true;
    }
    void newTabsFollowTheViewSetting() {
        QFETCH(int, elementos);
        QFETCH(bool, lower);
        QFETCH(bool, dialogue);
        TfrmPrincipal& w = h->open();
        WindowProbe::Config(&w).ElementosEnVentana = elementos;
        WindowProbe::QuickConnect(&w, u"h"_qs, u"a"_qs, EncodePassword(u"p"_qs), 110);
        QCOMPARE(!WindowProbe::LowerPanel(WindowProbe::Tabs(&w)[0])->isHidden(), lower);
        QCOMPARE(!WindowProbe::DialoguePanel(WindowProbe::Tabs(&w)[0])->isHidden(), dialogue);
    }

    // The bar's buttons keep their drawn sizes at the usual font and grow to their captions with a
    // larger one, set while the window is open; the right group never covers the left one.
    void narrowWindowIsWidened_data() {
        QTest::addColumn<int>("pointSize"); // 0: the usual font
        QTest::newRow("usual font") << 0;
        QTest::newRow("larger font") << 14;
    }
    void narrowWindowIsWidened() {
        QFETCH(int, pointSize);
        TfrmPrincipal& w = h->open();
        w.show();
        const QFont usual = QApplication::font();
        QFont font = usual;
        if (pointSize > 0) font.setPointSize(pointSize);
        QApplication::setFont(font);
        const auto restore = qScopeGuard([&] { QApplication::setFont(usual); });
        QToolButton* desconectar = WindowProbe::btnDesconectar(&w);
        QTRY_COMPARE(desconectar->font().pointSize(), font.pointSize()); // the change is posted
        QTRY_VERIFY(desconectar->width() >= desconectar->sizeHint().width());
        w.resize(500, 700);
        QCOMPARE(w.width(), pointSize == 0 ? 620 : std::max(620, w.width()));
        const int bar = WindowProbe::PanelBotonera(&w)->width();
        QCOMPARE(bar, WindowProbe::Page95Control(&w)->width() - 8);
        QCOMPARE(desconectar->x() + desconectar->width(), bar - 45);
        QCOMPARE(WindowProbe::PanelArroba(&w)->x(), bar - 40);
        QCOMPARE(WindowProbe::btnSoloLista(&w)->x(), desconectar->x() - 75);
        int x = 6;
        for (QToolButton* b : {WindowProbe::btnRefrescar(&w), WindowProbe::btnEliminar(&w),
                               WindowProbe::btnRestaurar(&w), WindowProbe::btnPrimerasLineas(&w)}) {
            QVERIFY2(b->x() >= x && b->width() >= b->sizeHint().width(), qPrintable(b->objectName()));
            x = b->x() + b->width();
        }
        QVERIFY(WindowProbe::btnSoloLista(&w)->x() >= x);
        w.resize(700, 300);
        QCOMPARE(w.height(), 450);
    }

    void everyDialogOpensModalAndCentredFromItsEntry_data() {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("dialog");
        QTest::newRow("accounts") << u"mnuConfigurarCuentasDeCorreo"_qs << u"TfrmCuentas"_qs;
        QTest::newRow("accounts, the welcome's button") << u"btnAnadirCuenta"_qs << u"TfrmCuentas"_qs;
        QTest::newRow("accounts, the empty connect menu") << u"mnuConectarCuentasAnadir"_qs << u"TfrmCuentas"_qs;
        QTest::newRow("filters, main menu") << u"mnuConfigurarFiltradoConfigurar"_qs << u"TfrmFiltros"_qs;
        QTest::newRow("filters, pop-up") << u"PopupListViewFiltradoConfigurar"_qs << u"TfrmFiltros"_qs;
        QTest::newRow("quick connection") << u"mnuConectarConexionRapida"_qs << u"TfrmConexionRapida"_qs;
        QTest::newRow("settings") << u"mnuConfigurarPrograma"_qs << u"TfrmConfig"_qs;
        QTest::newRow("about") << u"mnuAbout"_qs << u"TfrmAbout"_qs;
    }
    void everyDialogOpensModalAndCentredFromItsEntry() {
        QFETCH(QString, entry);
        QFETCH(QString, dialog);
        TfrmPrincipal& w = h->open();
        w.show();
        bool seen = false;
        QTimer::singleShot(0, &w, [&] {
            QWidget* d = QApplication::activeModalWidget();
            seen = d && QString::fromLatin1(d->metaObject()->className()) == dialog && d->isModal() &&
                   std::abs(d->x() - (w.x() + (w.width() - d->width()) / 2)) <= 1;
            if (auto* dialog = qobject_cast<QDialog*>(d)) dialog->done(0);
        });
        if (QAction* item = WindowProbe::action(&w, entry))
            item->trigger();
        else
            w.findChild<QPushButton*>(entry)->click();
        QVERIFY(seen);
    }

    // A copy kept before a DELE names its account with the port, so that two accounts on one server
    // stay apart.
    void copiesNameTheirAccountWithItsPort_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("named");
        QTest::newRow("an account") << u"account"_qs << u"ana@pop.a:1110"_qs;
        QTest::newRow("a quick connection to an account") << u"quick"_qs << u"ana@pop.a:1110"_qs;
        QTest::newRow("the accounts edited while its tab is open") << u"edited"_qs << u"ana@pop.a:1110"_qs;
        QTest::newRow("a quick connection to another port") << u"other port"_qs << u"ana@pop.a:2110"_qs;
    }
    void copiesNameTheirAccountWithItsPort() {
        QFETCH(QString, how);
        QFETCH(QString, named);
        h->write(u"Cuentas.dat"_qs, accountsFile({{u"pop.a"_qs, u"1110"_qs, u"ana"_qs, u"x"_qs}}));
        TfrmPrincipal& w = h->open();
        if (how == u"account" || how == u"edited")
            WindowProbe::mnuConectarCuentaClick(&w, WindowProbe::Accounts(&w)[0]->MenuItem);
        else
            WindowProbe::QuickConnect(&w, u"pop.a"_qs, u"ana"_qs, EncodePassword(u"x"_qs),
                                      how == u"quick" ? 1110 : 2110);
        FakeSocket* s = h->sockets.last();
        serveLogin(s, numberedBox(1));
        if (how == u"edited")
            WindowProbe::ReplaceAccounts(&w, {{u"pop.a"_qs, u"1110"_qs, u"ana"_qs, EncodePassword(u"x"_qs)}});
        TAccountTab* tab = WindowProbe::Tabs(&w).first();
        SelectRow(tab->list(), 0);
        WindowProbe::btnEliminarClick(&w);
        QCOMPARE(s->takeWritten(), QByteArray("RETR 1\r\n"));
        s->serverSends("+OK\r\nSubject: Asunto 1\r\n\r\nhola\r\n.\r\n");
        QCOMPARE(s->takeWritten(), QByteArray("DELE 1\r\n"));
        const QList<TCopiaPapelera> copies = WindowProbe::Papelera(&w).Copias();
        QCOMPARE(copies.size(), 1);
        QCOMPARE(copies[0].Cuenta, named);
    }

    // At the window's first size every column is on the screen, the reason's whole: a short one
    // shows whole, a long one ends in "…" and its tooltip has it all.
    void papeleraWindowShowsTheReason_data() {
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("whole");
        QTest::newRow("deleted by the user") << u"Eliminado por el usuario"_qs << true;
        QTest::newRow("a long rule") << u"marcar Subject expresion "_qs + QString(120, u'x') << false;
    }
    void papeleraWindowShowsTheReason() {
        QFETCH(QString, reason);
        QFETCH(bool, whole);
        TfrmPrincipal& w = h->open();
        const QByteArray longText(150, 'a');
        WindowProbe::Papelera(&w).Guardar(u"una.cuenta.larga@pop.servidor.example:1110"_qs,
                                          "From: " + longText + "@x.es\r\nSubject: " + longText + "\r\n\r\n", reason,
                                          QDateTime::currentDateTime());
        w.show();
        bool onScreen = false, shownWhole = false, scrolls = true;
        QString tip;
        QTimer::singleShot(0, &w, [&] {
            TfrmPapelera* d = WindowProbe::frmPapelera(&w);
            const QHeaderView* header = d->ListView->header();
            const int left = header->sectionViewportPosition(4);
            onScreen = left >= 0 && left + header->sectionSize(4) <= d->ListView->viewport()->width();
            shownWhole = header->sectionSize(4) >= static_cast<QAbstractItemView*>(d->ListView)->sizeHintForColumn(4);
            scrolls = d->ListView->horizontalScrollBar()->maximum() > 0;
            tip = d->ListView->topLevelItem(0)->toolTip(4);
            d->reject();
        });
        WindowProbe::action(&w, u"mnuConfigurarPapelera"_qs)->trigger();
        QVERIFY(onScreen);
        QVERIFY(!scrolls);
        QCOMPARE(shownWhole, whole);
        QCOMPARE(tip, reason);
    }

    // "Guardar como..." starts in the user's Documents folder, or the home folder without one;
    // never in the program's folder.
    void papeleraSavesFromTheDocumentsFolder_data() {
        QTest::addColumn<bool>("documents"); // the home folder has one
        QTest::newRow("Documents") << true;
        QTest::newRow("no Documents") << false;
    }
    void papeleraSavesFromTheDocumentsFolder() {
        QFETCH(bool, documents);
        QTemporaryDir home;
        if (documents) QVERIFY(QDir(home.path()).mkdir(u"Documents"_qs));
        const QByteArray oldHome = qgetenv("HOME"), oldConfig = qgetenv("XDG_CONFIG_HOME");
        const auto restore = qScopeGuard([&] {
            qputenv("HOME", oldHome);
            oldConfig.isNull() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", oldConfig);
        });
        qputenv("HOME", home.path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", home.filePath(u".config"_qs).toLocal8Bit()); // no user-dirs.dirs
        TfrmPrincipal& w = h->open();
        WindowProbe::Papelera(&w).Guardar(u"ana@pop.a:110"_qs, "Subject: Factura\r\n\r\nx\r\n", {},
                                          QDateTime::currentDateTime());
        QTimer::singleShot(0, &w, [&] {
            TfrmPapelera* d = WindowProbe::frmPapelera(&w);
            d->btnGuardarComo->click();
            d->reject();
        });
        WindowProbe::action(&w, u"mnuConfigurarPapelera"_qs)->trigger();
        const QString folder = documents ? home.filePath(u"Documents"_qs) : home.path();
        QCOMPARE(h->saveProposals, QStringList{folder + u"/Factura.eml"_qs});
    }

    void textHelpers_data() {
        QTest::addColumn<QString>("function");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("output");
        QTest::newRow("0") << u"thousands"_qs << u"0"_qs << u"0"_qs;
        QTest::newRow("999") << u"thousands"_qs << u"999"_qs << u"999"_qs;
        QTest::newRow("1000") << u"thousands"_qs << u"1000"_qs << u"1.000"_qs;
        QTest::newRow("65536") << u"thousands"_qs << u"65536"_qs << u"65.536"_qs;
        QTest::newRow("1234567") << u"thousands"_qs << u"1234567"_qs << u"1.234.567"_qs;
        QTest::newRow("-1234") << u"thousands"_qs << u"-1234"_qs << u"-1.234"_qs;
        QTest::newRow("full date") << u"date"_qs << u"Mon, 05 Aug 2002 10:20:30 +0200"_qs << u"05 Aug 2002 10:20:30"_qs;
        QTest::newRow("one colon") << u"date"_qs << u"Mon, 5 Aug 2002 9:05 +0200"_qs << u"5 Aug 2002 9:05 +0200"_qs;
        QTest::newRow("short") << u"date"_qs << u"Mon, "_qs << QString();
    }
    void textHelpers() {
        QFETCH(QString, function);
        QFETCH(QString, input);
        QFETCH(QString, output);
        if (function == u"thousands")
            QCOMPARE(WindowProbe::FormatThousands(input.toLongLong()), output);
        else
            QCOMPARE(ListDate(input), output);
    }

    void rowDateIsTheSameDuringAndAfterThePass_data() {
        QTest::addColumn<QByteArray>("date");
        QTest::addColumn<QString>("shown");
        QTest::newRow("zone and comment")
            << QByteArray("Mon, 5 Aug 2002 9:05:07 +0200 (CEST)") << u"5 Aug 2002 9:05:07"_qs;
        QTest::newRow("no seconds") << QByteArray("Tue, 6 Aug 2002 9:05 +0200") << u"6 Aug 2002 9:05 +0200"_qs;
        QTest::newRow("no zone") << QByteArray("Wed, 7 Aug 2002 23:59:59") << u"7 Aug 2002 23:59:59"_qs;
        QTest::newRow("weekday only") << QByteArray("Thu, ") << QString();
    }
    void rowDateIsTheSameDuringAndAfterThePass() {
        QFETCH(QByteArray, date);
        QFETCH(QString, shown);
        TfrmPrincipal& w = h->open();
        WindowProbe::QuickConnect(&w, u"h"_qs, u"a"_qs, EncodePassword(u"p"_qs), 110);
        FakeSocket* s = h->sockets.last();
        loginAndList(s, "+OK 2 messages\r\n1 100\r\n2 100\r\n.\r\n");
        s->serverSends("+OK\r\nSubject: uno\r\nDate: " + date + "\r\n\r\n.\r\n");
        TAccountTab* tab = WindowProbe::Tabs(&w).first();
        QCOMPARE(RowText(tab->list(), 0, ColumnDate), shown); // the pass goes on
        s->serverSends("+OK\r\nSubject: dos\r\nDate: " + date + "\r\n\r\n.\r\n");
        QCOMPARE(tab->session()->Estado(), 6);
        QCOMPARE(RowText(tab->list(), 0, ColumnDate), shown);
        QCOMPARE(RowText(tab->list(), 1, ColumnDate), shown);
    }

    void controlCharactersFromTheServerAreShownAsMarks() {
        TfrmPrincipal& w = h->open();
        WindowProbe::QuickConnect(&w, u"h"_qs, u"a"_qs, EncodePassword(u"p"_qs), 110);
        FakeSocket* s = h->sockets.last();
        loginAndList(s, "+OK 1 messages\r\n1 100\r\n.\r\n");
        s->serverSends(
            "+OK\r\nFrom: =?utf-8?b?ZmFjdHVyYV/igK5mZHAuZXhl?= <f@x.es>\r\nSubject: \x1b]0;x\x07 hola\r\n\r\n"
            "uno\tdos\x1b[2J\r\n.\r\n");
        TAccountTab* tab = WindowProbe::Tabs(&w).first();
        QCOMPARE(RowText(tab->list(), 0, ColumnFrom), u"factura_\uFFFDfdp.exe <f@x.es>"_qs);
        QCOMPARE(RowText(tab->list(), 0, ColumnSubject), u"\uFFFD]0;x\uFFFD hola"_qs);
        SelectRow(tab->list(), 0);
        QCOMPARE(tab->textPane()->toPlainText(), u"uno\tdos\uFFFD[2J"_qs);
        // What the rows hold stays as it came: a filter fragment taken from a row still matches.
        QCOMPARE(tab->list()->row(0).subject, u"\x1b]0;x\x07 hola"_qs);
    }

    void deletedRowLeavesAndEmptiesTheTextPane() {
        TfrmPrincipal& w = h->open();
        WindowProbe::QuickConnect(&w, u"h"_qs, u"a"_qs, EncodePassword(u"p"_qs), 110);
        FakeSocket* s = h->sockets.last();
        loginToTwo(s);
        TAccountTab* tab = WindowProbe::Tabs(&w).first();
        SelectRow(tab->list(), 0);
        QCOMPARE(tab->textPane()->toPlainText(), u"uno"_qs);
        QCOMPARE(tab->shownMessage(), 1);
        tab->session()->setKeepCopy({}); // DELE alone: the copies before it are tested apart
        tab->session()->EliminarMensajes({u"1"_qs});
        s->serverSends("+OK\r\n");
        QCOMPARE(tab->list()->rowCount(), 1);
        QCOMPARE(tab->textPane()->toPlainText(), QString());
        QCOMPARE(tab->shownMessage(), 0);
        QCOMPARE(tab->list()->positionOf(1), -1);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
