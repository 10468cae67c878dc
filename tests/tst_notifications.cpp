// Desktop notifications, against a notification service of the test's own on a private session bus
// (dbus-daemon started before the application connects): what a connection that finds mail shows,
// the option that turns them off, and the action that brings the account's tab to the front.
#include "AccountWidgets.h"
#include "FakeMailbox.h"
#include "PasswordScrambling.h"
#include "WindowHarness.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QTabWidget>
#include <QTest>

namespace {
const QString kPath = u"/org/freedesktop/Notifications"_qs;
const QString kInterface = u"org.freedesktop.Notifications"_qs;
QString g_busAddress;
} // namespace

/** The service: it keeps what it was asked to show and answers with increasing ids. */
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Shown {
        uint replaces;
        QString summary;
        QString body;
        QStringList actions;
    };
    QList<Shown> shown;
public slots:
    uint Notify(const QString&, uint replaces, const QString&, const QString& summary, const QString& body,
                const QStringList& actions, const QVariantMap&, int) {
        shown.append({replaces, summary, body, actions});
        return uint(shown.size());
    }
};

class TestNotifications : public QObject {
    Q_OBJECT
    std::unique_ptr<WindowHarness> h;
    FakeNotifications service;

    QDBusConnection serviceBus() const { return QDBusConnection(u"notification service"_qs); }

private slots:
    void initTestCase() {
        QVERIFY2(!g_busAddress.isEmpty(), "dbus-daemon did not start");
        QDBusConnection bus = QDBusConnection::connectToBus(g_busAddress, u"notification service"_qs);
        QVERIFY(bus.isConnected());
        QVERIFY(bus.registerObject(kPath, &service, QDBusConnection::ExportAllSlots));
        QVERIFY(bus.registerService(kInterface));
    }
    void init() {
        h = std::make_unique<WindowHarness>();
        service.shown.clear();
    }
    void cleanup() { h.reset(); }

    void mailFoundIsNotifiedUnlessTurnedOff_data() {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<int>("notifications");
        QTest::newRow("default") << QByteArray() << 2;
        QTest::newRow("turned off") << QByteArray("[Avanzado]\nNotificaciones=0\n") << 0;
    }
    void mailFoundIsNotifiedUnlessTurnedOff() {
        QFETCH(QByteArray, ini);
        QFETCH(int, notifications);
        if (!ini.isEmpty()) h->write(u"Tavelo.ini"_qs, ini);
        TfrmPrincipal& w = h->open();
        for (const QString& user : {u"ana"_qs, u"bea"_qs}) {
            WindowProbe::QuickConnect(&w, u"pop.x.es"_qs, user, EncodePassword(u"p"_qs), 110);
            serveLogin(h->sockets.last(), user == u"ana" ? numberedBox(4) : QList<FakeMessage>{});
        }
        WindowProbe::QuickConnect(&w, u"pop.y.es"_qs, u"eva"_qs, EncodePassword(u"p"_qs), 110);
        serveLogin(h->sockets.last(), numberedBox(1));
        if (notifications == 0) {
            QTest::qWait(300); // long enough for a call on the bus to arrive
            QCOMPARE(service.shown.size(), 0);
            return;
        }
        QTRY_COMPARE(service.shown.size(), notifications);
        // One for each account that has mail (none for the empty one), its newest messages first.
        const FakeNotifications::Shown& ana = service.shown[0];
        QCOMPARE(ana.summary, u"Correo en ana (pop.x.es)"_qs);
        QCOMPARE(ana.body,
                 u"4 mensajes nuevos\nRemitente 4 &lt;r4@x.es&gt; \u2014 Asunto 4\n"
                 "Remitente 3 &lt;r3@x.es&gt; \u2014 Asunto 3\nRemitente 2 &lt;r2@x.es&gt; \u2014 Asunto 2\n\u2026"_qs);
        QVERIFY(ana.actions.contains(u"default"_qs));
        QCOMPARE(service.shown[1].summary, u"Correo en eva (pop.y.es)"_qs);
        QCOMPARE(service.shown[1].body, u"1 mensaje nuevo\nRemitente 1 &lt;r1@x.es&gt; \u2014 Asunto 1"_qs);
        // Picking the first brings ana's tab to the front.
        QTabWidget* tabs = WindowProbe::Page95Control(&w);
        QVERIFY(tabs->currentWidget() != WindowProbe::Tabs(&w)[0]->page());
        QDBusMessage picked = QDBusMessage::createSignal(kPath, kInterface, u"ActionInvoked"_qs);
        picked << uint(1) << u"default"_qs;
        QVERIFY(serviceBus().send(picked));
        QTRY_VERIFY(tabs->currentWidget() == WindowProbe::Tabs(&w)[0]->page());
        // A re-check that finds one more message tells of that one, not of the mailbox.
        FakeSocket* s = h->sockets[0];
        WindowProbe::Tabs(&w)[0]->checkAgain();
        serveRecheck(s, numberedBox(4), numberedBox(5));
        s->serverSends(listReply(numberedBox(5)));
        s->serverSends(topReply(numberedBox(5).last())); // the others' headers are kept
        QTRY_COMPARE(service.shown.size(), 3);
        QCOMPARE(service.shown[2].body, u"1 mensaje nuevo\nRemitente 5 &lt;r5@x.es&gt; \u2014 Asunto 5"_qs);
    }
};

int main(int argc, char* argv[]) {
    // The bus comes first: the application connects to the session bus named in the environment.
    QProcess bus;
    bus.start(u"dbus-daemon"_qs, {u"--session"_qs, u"--nofork"_qs, u"--print-address=1"_qs});
    if (bus.waitForReadyRead(10000)) g_busAddress = QString::fromUtf8(bus.readLine().trimmed());
    qputenv("DBUS_SESSION_BUS_ADDRESS", g_busAddress.toUtf8());
    int rc = 0;
    {
        QApplication app(argc, argv);
        TestNotifications test;
        rc = QTest::qExec(&test, argc, argv);
    }
    bus.kill();
    bus.waitForFinished();
    return rc;
}

#include "tst_notifications.moc"
