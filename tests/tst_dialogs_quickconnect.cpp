// The quick connection dialog on a real main window with fake sockets: its checks, the Enter key
// walking the fields, what the session finally receives, and the login handed to the window.
#include "QuickConnectDialog.h"
#include "WindowDialogs.h"
#include "WindowHarness.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

class TestQuickConnectDialog : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowHarness> h;
    TfrmPrincipal* w = nullptr;
    TfrmConexionRapida* d = nullptr;

    void open() {
        w = &h->open();
        d = NewQuickConnectDialog(w); // owned by the main window
        d->ClearFields();
        d->show();
        QVERIFY(QTest::qWaitForWindowExposed(d));
    }
    /** Types into the field that has the focus. */
    void type(const QString& text) { QTest::keyClicks(d->focusWidget(), text); }
    void enter() { QTest::keyClick(d->focusWidget(), Qt::Key_Return); }
    void clearPort() {
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(d->edtPuerto, Qt::Key_Backspace);
    }

private slots:
    void init() { h = std::make_unique<WindowHarness>(); }
    void cleanup() {
        h->close(); // while the harness can still record what the window reports on closing
        h.reset();
    }

    void checksStopAtTheFirstFault_data() {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("pass");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("typedPort");
        QTest::addColumn<QString>("pastedPort");
        QTest::addColumn<QString>("box"); // caption|text
        QTest::addColumn<QString>("focus");
        const QString noUser = u"Error|Debe introducir un Nombre de Usuario"_qs;
        const QString conversion = u"Error de conversión|Error al convertir el valor de Puerto a número"_qs;
        const QString range = u"Error|El Puerto debe ser un número entre 1 y 65535"_qs;
        const QString chars = u"Caracteres no admitidos|El texto contiene caracteres que no se pueden enviar al "
                              u"Servidor: %1\rSólo se admiten los caracteres de Europa occidental (Windows-1252)."_qs;
        QTest::newRow("everything empty")
            << QString() << QString() << QString() << QString() << QString() << noUser << u"edtUser"_qs;
        QTest::newRow("no user") << QString() << QString() << u"h"_qs << u"110"_qs << QString() << noUser
                                 << u"edtUser"_qs;
        QTest::newRow("no server") << u"ana"_qs << QString() << QString() << QString() << QString()
                                   << u"Error|Debe introducir un Servidor"_qs << u"edtHost"_qs;
        QTest::newRow("no port") << u"ana"_qs << QString() << u"h"_qs << QString() << QString()
                                 << u"Error|Debe introducir un Puerto"_qs << u"edtPuerto"_qs;
        QTest::newRow("beyond 32 bits") << u"ana"_qs << QString() << u"h"_qs << u"99999999999"_qs << QString()
                                        << conversion << u"edtPuerto"_qs;
        QTest::newRow("pasted letter") << u"ana"_qs << QString() << u"h"_qs << u"11"_qs << u"O"_qs << conversion
                                       << u"edtPuerto"_qs;
        QTest::newRow("above 65535") << u"ana"_qs << QString() << u"h"_qs << u"65536"_qs << QString() << range
                                     << u"edtPuerto"_qs;
        QTest::newRow("zero") << u"ana"_qs << QString() << u"h"_qs << u"0"_qs << QString() << range << u"edtPuerto"_qs;
        QTest::newRow("pasted negative") << u"ana"_qs << QString() << u"h"_qs << QString() << u"-110"_qs << range
                                         << u"edtPuerto"_qs;
        QTest::newRow("user outside Windows-1252")
            << u"Łukasz"_qs << u"clave"_qs << u"h"_qs << u"110"_qs << QString() << chars.arg(u"Ł"_qs) << u"edtUser"_qs;
        QTest::newRow("password outside Windows-1252") << u"ana"_qs << u"hasło ő"_qs << u"h"_qs << u"110"_qs
                                                       << QString() << chars.arg(u"ł, ő"_qs) << u"edtPass"_qs;
    }
    void checksStopAtTheFirstFault() {
        QFETCH(QString, user);
        QFETCH(QString, pass);
        QFETCH(QString, host);
        QFETCH(QString, typedPort);
        QFETCH(QString, pastedPort);
        QFETCH(QString, box);
        QFETCH(QString, focus);
        open();
        d->edtUser->insert(user); // typed, but QTest types Latin-1 only
        d->edtPass->insert(pass);
        QTest::keyClicks(d->edtHost, host);
        clearPort();
        QTest::keyClicks(d->edtPuerto, typedPort);
        d->edtPuerto->insert(pastedPort);
        QTest::mouseClick(d->btnConectar, Qt::LeftButton);
        QCOMPARE(h->boxes.size(), 1);
        QCOMPARE(h->boxes[0].caption + u'|' + h->boxes[0].text, box);
        QCOMPARE(h->boxes[0].icon, QMessageBox::Critical);
        QCOMPARE(d->focusWidget()->objectName(), focus);
        QCOMPARE(d->edtUser->text(), user);
        QCOMPARE(d->edtPass->text(), pass);
        QVERIFY(d->isVisible());
        QVERIFY(h->sockets.isEmpty());
        QVERIFY(WindowProbe::Tabs(w).isEmpty());
    }

    void enterWalksTheFieldsAndConnects() {
        open();
        QCOMPARE(d->focusWidget(), d->edtUser);
        type(u"ana"_qs);
        enter();
        QCOMPARE(d->focusWidget(), d->edtPass);
        QCOMPARE(d->edtPass->echoMode(), QLineEdit::Password);
        type(u"clave"_qs);
        enter();
        QCOMPARE(d->focusWidget(), d->edtHost);
        type(u"pop.x.es"_qs);
        enter();
        QCOMPARE(d->focusWidget(), d->edtPuerto);
        QVERIFY(WindowProbe::Tabs(w).isEmpty()); // nothing connects before Enter in the port field
        clearPort();
        type(u"9a9 5"_qs); // letters and blanks are not taken
        QCOMPARE(d->edtPuerto->text(), u"995"_qs);
        enter();
        QVERIFY(h->boxes.isEmpty());
        QVERIFY(!d->isVisible());
        QCOMPARE(h->sockets.size(), 1);
        QCOMPARE(h->sockets[0]->lastHost, u"pop.x.es"_qs);
        QCOMPARE(h->sockets[0]->lastPort, 995);
        QCOMPARE(WindowProbe::Tabs(w).size(), 1);
        QCOMPARE(WindowProbe::Page95Control(w)->tabText(0), u"ana"_qs);
    }

    void passwordReachesTheSessionInClear_data() {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("empty") << QString() << QByteArray("PASS \r\n");
        QTest::newRow("plain") << u"clave"_qs << QByteArray("PASS clave\r\n");
        QTest::newRow("accented") << u"ñandú"_qs
                                  << QByteArray("PASS \xf1"
                                                "and\xfa\r\n");
    }
    void passwordReachesTheSessionInClear() {
        QFETCH(QString, password);
        QFETCH(QByteArray, sent);
        open();
        QTest::keyClicks(d->edtUser, u"ana"_qs);
        d->edtPass->insert(password);
        QTest::keyClicks(d->edtHost, u"h"_qs);
        QTest::keyClick(d->edtPuerto, Qt::Key_Enter);
        QCOMPARE(h->sockets.size(), 1);
        FakeSocket* s = h->sockets[0];
        s->connectNow();
        s->serverSends("+OK\r\n");
        QCOMPARE(s->takeWritten(), QByteArray("CAPA\r\n"));
        s->serverSends("-ERR\r\n"); // no capabilities: the password goes as it is
        QCOMPARE(s->takeWritten(), QByteArray("USER ana\r\n"));
        s->serverSends("+OK\r\n");
        QCOMPARE(s->takeWritten(), sent);
    }

    void chosenLoginGoesWithTheConnection() {
        w = &h->open();
        QList<AccountAccess> handed;
        QStringList passwords;
        d = new TfrmConexionRapida(DialogContextOf(w), [&](const QString&, const QString&, const QString& scrambled,
                                                           int, const AccountAccess& access) {
            passwords << scrambled;
            handed << access;
        });
        d->setParent(w, d->windowFlags()); // owned by the main window
        for (const QString& choice : {u"oauth2:1:cid"_qs, QString()}) {
            d->ClearFields(); // every showing starts with the password login
            d->show();
            QTest::keyClicks(d->edtUser, u"ana"_qs);
            QTest::keyClicks(d->edtHost, u"pop.x.es"_qs);
            if (!choice.isEmpty()) ChooseAccess(d->btnAcceso, d->frmAcceso, choice);
            QTest::mouseClick(d->btnConectar, Qt::LeftButton); // OAuth2 needs no password
        }
        AccountAccess google;
        google.method = LoginMethod::OAuth2;
        google.provider = OAuthProvider::Google;
        google.clientId = u"cid"_qs;
        QCOMPARE(handed, (QList<AccountAccess>{google, AccountAccess{}}));
        QCOMPARE(passwords, (QStringList{QString(), QString()}));
        QVERIFY(h->boxes.isEmpty());
    }

    void leavingWithoutConnecting_data() {
        QTest::addColumn<QString>("way");
        QTest::newRow("Cancelar") << u"cancel"_qs;
        QTest::newRow("Esc") << u"esc"_qs;
        QTest::newRow("Esc in the port field") << u"esc port"_qs;
    }
    void leavingWithoutConnecting() {
        QFETCH(QString, way);
        open();
        QTest::keyClicks(d->edtUser, u"ana"_qs);
        QTest::keyClicks(d->edtHost, u"h"_qs);
        if (way == u"cancel")
            QTest::mouseClick(d->btnCancelar, Qt::LeftButton);
        else
            QTest::keyClick(way == u"esc" ? static_cast<QWidget*>(d) : d->edtPuerto, Qt::Key_Escape);
        QVERIFY(!d->isVisible());
        QVERIFY(h->sockets.isEmpty());
        QVERIFY(WindowProbe::Tabs(w).isEmpty());
        QVERIFY(h->boxes.isEmpty());
    }
};

QTEST_MAIN(TestQuickConnectDialog)
#include "tst_dialogs_quickconnect.moc"
