// The once-a-second timer (re-checks of idle mailboxes, reconnection countdowns) and the tray icon,
// on the real window with a clock in the test's hand.
#include "AccountWidgets.h"
#include "FakeMailbox.h"
#include "PasswordScrambling.h"
#include "Pop3Session.h"
#include "SingleInstance.h"
#include "WindowHarness.h"

#include <QTabWidget>
#include <QTest>

namespace {
constexpr double kSecond = 1.0 / 86400.0;
}

class TestTimers : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowHarness> h;
    TfrmPrincipal* w = nullptr;

    TAccountTab* connectOne(const QString& user, const QList<FakeMessage>& box = numberedBox(2)) {
        WindowProbe::QuickConnect(w, u"h"_qs, user, EncodePassword(u"p"_qs), 110);
        serveLogin(h->sockets.last(), box);
        return WindowProbe::Tabs(w).last();
    }
    TAccountTab* failOne(const QString& user) {
        WindowProbe::QuickConnect(w, u"h"_qs, user, EncodePassword(u"p"_qs), 110);
        h->sockets.last()->connectNow();
        h->sockets.last()->serverSends("-ERR no\r\n");
        return WindowProbe::Tabs(w).last();
    }
    void tick(double seconds) {
        h->now += seconds * kSecond;
        WindowProbe::TimerReconexionesTimer(w);
    }

private slots:
    void init() {
        h = std::make_unique<WindowHarness>();
        w = &h->open();
        WindowProbe::TimerReconexiones(w).stop(); // the test ticks by hand
    }
    void cleanup() { h.reset(); }

    void recheckAfterMoreThanTheInterval() {
        TAccountTab* tab = connectOne(u"a"_qs);
        FakeSocket* s = h->sockets.last();
        tick(300);
        QCOMPARE(s->takeWritten(), QByteArray());
        tick(1);
        QCOMPARE(s->takeWritten(), QByteArray("UIDL\r\n"));
        serveRecheck(s, numberedBox(2), numberedBox(2));
        s->takeWritten();
        QCOMPARE(tab->session()->Estado(), 6);
        QVERIFY(h->sounds.isEmpty());
        QVERIFY(!WindowProbe::TimerTray(w).isActive());
        tick(300); // the interval counts again from the return to idle
        QCOMPARE(s->takeWritten(), QByteArray());
    }

    void noRecheckWhileBusyOrSwitchedOff() {
        TAccountTab* tab = connectOne(u"a"_qs);
        FakeSocket* s = h->sockets.last();
        tab->session()->setKeepCopy({}); // DELE alone: the copies before it are tested apart
        tab->session()->EliminarMensajes({u"1"_qs});
        s->takeWritten();
        tick(1000);
        QCOMPARE(s->takeWritten(), QByteArray()); // deleting: state 8
        s->serverSends("+OK\r\n");
        tab->session()->PedirPrimerasLineas(2, 40);
        s->takeWritten();
        tick(1000);
        QCOMPARE(s->takeWritten(), QByteArray()); // reading first lines: state 9
        s->serverSends("+OK\r\nA: b\r\n\r\n.\r\n");
        WindowProbe::Config(w).segsRechequeoSiConectado = 0;
        tick(100000);
        QCOMPARE(s->takeWritten(), QByteArray());
    }

    void countdownShowsAndReconnects() {
        TAccountTab* tab = failOne(u"a"_qs);
        FakeSocket* s = h->sockets.last();
        QCOMPARE(tab->statusBar()->panelCount(), 2);
        tick(0.2);
        QCOMPARE(tab->statusBar()->panelCount(), 3);
        QCOMPARE(tab->statusBar()->panelText(2), u"Reconexión en 0:10:00 (Refrescar reintenta ahora)"_qs);
        tick(1);
        QCOMPARE(tab->statusBar()->panelText(2), u"Reconexión en 0:09:59 (Refrescar reintenta ahora)"_qs);
        const int opens = s->opens;
        tick(598.8); // 0.2 s short of the due time
        QCOMPARE(s->opens, opens);
        tick(0.3);
        QCOMPARE(s->opens, opens + 1);
        QCOMPARE(tab->statusBar()->panelCount(), 2);
        QCOMPARE(tab->session()->Estado(), 1);
        QCOMPARE(tab->reconnectAt(), 0.0);
        serveLogin(s, numberedBox(1));
        QCOMPARE(tab->session()->Estado(), 6);
    }

    void twoTabsCountDownIndependently() {
        TAccountTab* first = failOne(u"a"_qs);
        tick(0.1);
        tick(100);
        TAccountTab* second = failOne(u"b"_qs);
        tick(1);
        QCOMPARE(first->statusBar()->panelText(2), u"Reconexión en 0:08:19 (Refrescar reintenta ahora)"_qs);
        QCOMPARE(second->statusBar()->panelText(2), u"Reconexión en 0:10:00 (Refrescar reintenta ahora)"_qs);
        // A tab whose countdown began while another was in front leaves the reason its room.
        w->show();
        WindowProbe::Page95Control(w)->setCurrentWidget(first->page());
        QTRY_VERIFY(first->page()->isVisible());
        const TStatusPanels* bar = first->statusBar();
        const int countdown = bar->fontMetrics().horizontalAdvance(bar->panelText(2));
        QVERIFY(bar->panelWidth(1) > bar->width() / 3);
        QVERIFY(bar->panelWidth(0) + bar->panelWidth(1) + countdown <= bar->width());
    }

    void countdownSwitchedOffOrLongerThanADay_data() {
        QTest::addColumn<int>("delay");
        QTest::addColumn<int>("panels");
        QTest::addColumn<QString>("text");
        QTest::newRow("off") << 0 << 2 << QString();
        QTest::newRow("negative") << -5 << 2 << QString();
        QTest::newRow("25 hours") << 90000 << 3 << u"Reconexión en 25:00:00 (Refrescar reintenta ahora)"_qs;
    }
    void countdownSwitchedOffOrLongerThanADay() {
        QFETCH(int, delay);
        QFETCH(int, panels);
        QFETCH(QString, text);
        WindowProbe::Config(w).segsReconexionSiDesconectado = delay;
        TAccountTab* tab = failOne(u"a"_qs);
        tick(0.1);
        QCOMPARE(tab->statusBar()->panelCount(), panels);
        QCOMPARE(tab->statusBar()->panelText(2), text);
    }

    // How a failed account is tried again: Refrescar at once; a refused password only by the user;
    // a server that asked for a delay between logins no sooner than that.
    void failedAccountsAreRetried_data() {
        QTest::addColumn<QList<QByteArray>>("replies"); // after the greeting
        QTest::addColumn<QString>("countdown");         // shown once the failure is a second old
        QTest::addColumn<bool>("refresh");              // Refrescar pressed then
        QTest::addColumn<int>("opens"); // connections opened in the next 20 minutes (Refrescar's fails at once)
        const QString tenMinutes = u"Reconexión en 0:10:00 (Refrescar reintenta ahora)"_qs;
        QTest::newRow("greeting refused, countdown") << QList<QByteArray>{"-ERR busy\r\n"} << tenMinutes << false << 1;
        QTest::newRow("Refrescar retries now") << QList<QByteArray>{"-ERR busy\r\n"} << tenMinutes << true << 2;
        QTest::newRow("password refused")
            << QList<QByteArray>{"+OK\r\n", "-ERR\r\n", "+OK\r\n", "-ERR [AUTH] no\r\n"} << QString() << false << 0;
        QTest::newRow("password refused, Refrescar")
            << QList<QByteArray>{"+OK\r\n", "-ERR\r\n", "+OK\r\n", "-ERR [AUTH] no\r\n"} << QString() << true << 2;
        QTest::newRow("login delay") << QList<QByteArray>{"+OK\r\n", "+OK\r\nUSER\r\nLOGIN-DELAY 900\r\n.\r\n",
                                                          "+OK\r\n", "-ERR [LOGIN-DELAY] wait\r\n"}
                                     << u"Reconexión en 0:15:00 (Refrescar reintenta ahora)"_qs << false << 1;
    }
    void failedAccountsAreRetried() {
        QFETCH(QList<QByteArray>, replies);
        QFETCH(QString, countdown);
        QFETCH(bool, refresh);
        QFETCH(int, opens);
        WindowProbe::QuickConnect(w, u"h"_qs, u"a"_qs, EncodePassword(u"p"_qs), 110);
        TAccountTab* tab = WindowProbe::Tabs(w).last();
        FakeSocket* s = h->sockets.last();
        s->connectNow();
        for (const QByteArray& r : replies)
            s->serverSends(r);
        QCOMPARE(tab->session()->Estado(), 0);
        tick(1);
        QCOMPARE(tab->statusBar()->panelText(2), countdown);
        const int before = s->opens;
        if (refresh) {
            WindowProbe::btnRefrescarClick(w);
            QCOMPARE(tab->statusBar()->panelCount(), 2);
            if (tab->session()->Estado() != 0) s->fail(10054); // and fails again
        }
        for (int i = 0; i < 1200; ++i)
            tick(1);
        QCOMPARE(s->opens - before, opens);
    }

    // Deletions wait for QUIT, and with them no new mail shows: once the user has had a whole
    // interval to undo them, the re-check applies them with a fresh login.
    void deletionsAreAppliedAfterAWholeInterval() {
        TAccountTab* tab = connectOne(u"a"_qs, numberedBox(3));
        FakeSocket* s = h->sockets.last();
        tab->session()->setKeepCopy({});
        tab->deleteMessages({u"1"_qs}, {});
        s->serverSends("+OK\r\n");
        s->takeWritten();
        QVERIFY(tab->statusBar()->panelText(1).endsWith(
            u"Los mensajes eliminados se borran en la próxima comprobación; Restaurar los recupera hasta entonces"_qs));
        tick(100);
        WindowProbe::btnRefrescarClick(w); // too soon: the open session is asked
        QCOMPARE(s->takeWritten(), QByteArray("STAT\r\n"));
        s->serverSends("+OK 2 1000\r\n");
        tick(301);
        const int opens = s->opens;
        QCOMPARE(s->takeWritten(), QByteArray("UIDL\r\n"));
        s->serverSends(uidlReply(numberedBox(3).mid(1)));
        QCOMPARE(s->takeWritten(), QByteArray("QUIT\r\n"));
        QCOMPARE(s->opens, opens + 1);
        QList<FakeMessage> after = numberedBox(4).mid(1);
        serveRecheck(s, {}, after, false);
        QVERIFY(s->takeWritten().endsWith("STAT\r\nLIST\r\n")); // the new mail is listed
        QVERIFY(!tab->session()->BorradosPendientes());
    }

    void recheckIntervalOfMoreThanADay() {
        WindowProbe::Config(w).segsRechequeoSiConectado = 100000;
        connectOne(u"a"_qs);
        FakeSocket* s = h->sockets.last();
        tick(99999);
        QCOMPARE(s->takeWritten(), QByteArray());
        tick(2);
        QCOMPARE(s->takeWritten(), QByteArray("UIDL\r\n"));
    }

    // Tray.

    void minimiseGoesToTheTrayOnlyWhenAskedAndAvailable_data() {
        QTest::addColumn<bool>("setting");
        QTest::addColumn<bool>("available");
        QTest::addColumn<bool>("tray");
        QTest::addColumn<bool>("secondStart"); // brought back by a second start on the same data folder
        QTest::newRow("setting on") << true << true << true << false;
        QTest::newRow("setting off") << false << true << false << false;
        QTest::newRow("no notification area") << true << false << false << false;
        QTest::newRow("in the tray, a second start") << true << true << true << true;
        QTest::newRow("minimised, a second start") << false << true << false << true;
    }
    void minimiseGoesToTheTrayOnlyWhenAskedAndAvailable() {
        QFETCH(bool, setting);
        QFETCH(bool, available);
        QFETCH(bool, tray);
        QFETCH(bool, secondStart);
        h->trayAvailable = available;
        WindowProbe::Config(w).MinimizarAlTray = setting;
        w->show();
        w->showMinimized();
        QTRY_COMPARE(WindowProbe::TrayFlag(w), tray);
        if (tray) QTRY_VERIFY(!w->isVisible());
        QCOMPARE(WindowProbe::TrayImageShown(w), tray ? 0 : -1);
        if (secondStart) {
            SingleInstance first(h->dir.path());
            QCOMPARE(first.claim(), SingleInstance::Claim::First);
            connect(&first, &SingleInstance::activationRequested, w, &TfrmPrincipal::BringToFront);
            SingleInstance second(h->dir.path());
            QCOMPARE(second.claim(), SingleInstance::Claim::HandedOver);
            QTRY_VERIFY(w->isVisible() && !(w->windowState() & Qt::WindowMinimized));
            QCOMPARE(WindowProbe::TrayImageShown(w), -1);
        } else {
            WindowProbe::RestoreFromTray(w);
        }
        QVERIFY(!WindowProbe::TrayFlag(w));
    }

    void blinkingOnlyAfterAnAnnouncedResult() {
        h->trayAvailable = true;
        WindowProbe::Config(w).MinimizarAlTray = true;
        TAccountTab* tab = connectOne(u"a"_qs);
        WindowProbe::HandleMinimize(w);
        QVERIFY(WindowProbe::TrayFlag(w));
        // A re-check with the same count is not announced: no blinking.
        tab->session()->ComprobarDeNuevo();
        serveRecheck(h->sockets.last(), numberedBox(2), numberedBox(2));
        QVERIFY(!WindowProbe::TimerTray(w).isActive());
        // A failure is: blinking starts, even without a sound file.
        h->sockets.last()->fail(10054);
        QVERIFY(WindowProbe::TimerTray(w).isActive());
        WindowProbe::TimerTrayTimer(w);
        QCOMPARE(WindowProbe::TrayImageShown(w), 1);
        WindowProbe::TimerTrayTimer(w);
        QCOMPARE(WindowProbe::TrayImageShown(w), 0);
        WindowProbe::RestoreFromTray(w);
        QVERIFY(!WindowProbe::TimerTray(w).isActive());
        QCOMPARE(WindowProbe::TrayImageShown(w), -1);
        WindowProbe::HandleMinimize(w); // hidden again: the plain image until the next result
        QCOMPARE(WindowProbe::TrayImageShown(w), 0);
    }

    void papeleraExpiresOnceADayByTheWindowsClock() {
        WindowProbe::Advanced(w).DiasPapelera = 7;
        QTimer& daily = WindowProbe::TimerPapelera(w);
        QVERIFY(daily.isActive());
        QCOMPARE(daily.interval(), 24 * 60 * 60 * 1000);
        // Copies kept after the start-up expiry, by the window's clock: one of 6 days ago, one of today.
        const auto at = [](double days) {
            return QDateTime(QDate(1899, 12, 30), QTime(0, 0)).addMSecs(qint64(days * 86400000.0));
        };
        TPapelera& bin = WindowProbe::Papelera(w);
        bin.Guardar(u"a@h"_qs, "Subject: viejo\r\n\r\nx\r\n", u"Eliminado por el usuario"_qs, at(h->now - 6));
        bin.Guardar(u"a@h"_qs, "Subject: nuevo\r\n\r\ny\r\n", u"Eliminado por el usuario"_qs, at(h->now));
        const auto subjects = [&] {
            QStringList out;
            for (const TCopiaPapelera& c : bin.Copias())
                out << c.Asunto;
            out.sort();
            return out;
        };
        const auto aDayPasses = [&] {
            h->now += 1;
            daily.start(0); // what a day's wait ends in
            QTest::qWait(20);
            daily.start(24 * 60 * 60 * 1000);
        };
        aDayPasses();
        QCOMPARE(subjects(), (QStringList{u"nuevo"_qs, u"viejo"_qs})); // 7 days old: kept for the day
        aDayPasses();
        QCOMPARE(subjects(), QStringList{u"nuevo"_qs});
        h->now += 6;
        QCOMPARE(subjects(), QStringList{u"nuevo"_qs}); // only the timer expires copies
        aDayPasses();
        QCOMPARE(subjects(), QStringList());
    }

    void leavingFromTheTraySavesAsEveryExit() {
        h->trayAvailable = true;
        WindowProbe::Config(w).MinimizarAlTray = true;
        WindowProbe::Config(w).iniTop = 45;
        WindowProbe::SettingsChanged(w) = true;
        WindowProbe::HandleMinimize(w);
        WindowProbe::mnuTraySalirClick(w);
        h->close();
        QVERIFY(h->read(u"Tavelo.ini"_qs).contains("iniTop=45"));
    }
};

QTEST_MAIN(TestTimers)
#include "tst_timers.moc"
