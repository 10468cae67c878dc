// The real window against the real server: the certificate question, new mail seen by a re-check,
// a mailbox locked by another session, and the reset that brings deleted messages back.
#include "AccountWidgets.h"
#include "DovecotFixture.h"
#include "QtClientSocket.h"
#include "StyledTextView.h"
#include "UnitPOP3.h"
#include "UnitQuenmarEncode.h"
#include "WindowHarness.h"

#include <QTabBar>
#include <QTabWidget>
#include <QTest>

namespace {
constexpr int kWaitMs = 20000;
constexpr double kSecond = 1.0 / 86400.0;
} // namespace

class TestWindowDovecot : public QObject {
    Q_OBJECT

    DovecotFixture fx;
    std::unique_ptr<WindowHarness> h;
    TfrmPrincipal* w = nullptr;

    void openWindow() {
        WindowSeams s = h->seams();
        s.socketFactory = [](IDesktop* desktop) { return QtClientSocket::factory(desktop); };
        s.implicitTlsPort = fx.pop3sPort();
        s.replyTimeoutMs = kWaitMs;
        h->window = std::make_unique<TfrmPrincipal>(s);
        w = h->window.get();
        w->TimerReconexiones.stop();
    }
    TAccountTab* connect(const QString& user, quint16 port = 0) {
        w->QuickConnect(fx.host(), user, EncodePassword(fx.password(user)), port ? port : fx.pop3Port());
        return w->Tabs.last();
    }
    bool settled(TAccountTab* tab) {
        return QTest::qWaitFor([&] { return tab->POP3->Estado() == 6 || tab->POP3->Estado() == 0; }, kWaitMs);
    }
    int image(TAccountTab* tab) {
        return w->Page95Control->tabBar()->tabData(w->Page95Control->indexOf(tab->Sheet)).toInt();
    }

private slots:
    void initTestCase() { TAVELO_REQUIRE_DOVECOT(fx); }
    void init() {
        h = std::make_unique<WindowHarness>();
        h->boxAnswer = QMessageBox::Yes;
        openWindow();
    }
    void cleanup() { h.reset(); }

    void tlsPortAsksOnceAndLogsTheEncryption() {
        TAccountTab* tab = connect(u"vacio"_qs, fx.pop3sPort());
        QVERIFY(settled(tab));
        QCOMPARE(tab->POP3->Estado(), 6);
        QCOMPARE(h->boxes.size(), 1);
        QCOMPARE(h->boxes[0].caption, u"Certificado no verificado"_qs);
        QCOMPARE(image(tab), 3);
        bool logged = false;
        for (int i = 0; i < tab->DialogueView->paragraphCount(); ++i)
            logged |= tab->DialogueView->paragraphText(i).startsWith(u"// Conexión cifrada (TLS"_qs);
        QVERIFY(logged);
        // The answer was kept in the settings file: a new window does not ask again.
        h->close();
        openWindow();
        TAccountTab* again = connect(u"vacio"_qs, fx.pop3sPort());
        QVERIFY(settled(again));
        QCOMPARE(again->POP3->Estado(), 6);
        QCOMPARE(h->boxes.size(), 1);
    }

    void newMailAppearsAfterTheRecheckWithItsSound() {
        const QString user = u"scratch5"_qs;
        const QString sound = h->soundFile(u"si.wav"_qs);
        w->Config.wavSiTieneMensajes = sound;
        TAccountTab* tab = connect(user);
        QVERIFY(settled(tab));
        const int rows = tab->ListView->rowCount();
        QCOMPARE(h->sounds.size(), 1);
        QVERIFY2(fx.deliver(user, "From: nuevo@example.es\nSubject: Nuevo\n\nHola\n"), qPrintable(fx.lastError()));
        h->now += 301 * kSecond;
        w->TimerReconexionesTimer();
        QVERIFY(QTest::qWaitFor([&] { return tab->ListView->rowCount() == rows + 1 && tab->POP3->Estado() == 6; },
                                kWaitMs));
        QCOMPARE(h->sounds.size(), 2);
        QCOMPARE(tab->ListView->row(rows)->text(4), u"Nuevo"_qs);
        w->btnDesconectarClick();
        QVERIFY2(fx.resetMailbox(user), qPrintable(fx.lastError()));
    }

    void lockedMailboxTurnsRedCountsDownAndGetsInLater() {
        TAccountTab* holder = connect(u"bloqueo"_qs);
        QVERIFY(settled(holder));
        TAccountTab* tab = connect(u"bloqueo"_qs, fx.pop3Port());
        QVERIFY(settled(tab));
        QCOMPARE(tab->POP3->Estado(), 0);
        QCOMPARE(image(tab), 0);
        QCOMPARE(tab->StatusBar->panelText(1), u"Buzón bloqueado por otra sesión : "_qs + fx.host());
        w->TimerReconexionesTimer();
        QCOMPARE(tab->StatusBar->panelCount(), 3);
        // The holder lets go; the countdown ends and the next attempt gets in.
        w->Page95Control->setCurrentWidget(holder->Sheet);
        w->btnDesconectarClick();
        QVERIFY(QTest::qWaitFor(
            [&] {
                h->now += 600 * kSecond;
                w->TimerReconexionesTimer();
                return settled(tab) && tab->POP3->Estado() == 6;
            },
            kWaitMs));
        QCOMPARE(image(tab), 2);
    }

    void resetBringsTheDeletedMessagesBack() {
        const QString user = u"scratch6"_qs;
        TAccountTab* tab = connect(user);
        QVERIFY(settled(tab));
        const int rows = tab->ListView->rowCount();
        tab->ListView->row(1)->setSelected(true);
        h->boxAnswer = QMessageBox::Ok;
        w->btnEliminarClick();
        QVERIFY(QTest::qWaitFor([&] { return tab->ListView->rowCount() == rows - 1 && tab->POP3->Estado() == 6; },
                                kWaitMs));
        w->btnRestaurarClick();
        QCOMPARE(tab->ListView->rowCount(), 0);
        QVERIFY(
            QTest::qWaitFor([&] { return tab->ListView->rowCount() == rows && tab->POP3->Estado() == 6; }, kWaitMs));
        w->btnDesconectarClick();
        QVERIFY2(fx.resetMailbox(user), qPrintable(fx.lastError()));
    }
};

QTEST_MAIN(TestWindowDovecot)
#include "tst_window_dovecot.moc"
