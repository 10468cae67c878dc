// The real window against the real server: the certificate question, new mail seen by a re-check,
// a mailbox locked by another session, the reset that brings deleted messages back, the real
// program ended by SIGTERM after a deletion, an OAuth2 account signed in through the browser, and
// the copy a deletion leaves in the Papelera.
#include "AccountLogins.h"
#include "AccountWidgets.h"
#include "AccountsFile.h"
#include "DovecotFixture.h"
#include "FilterLists.h"
#include "ListRows.h"
#include "PasswordScrambling.h"
#include "Pop3Session.h"
#include "QtClientSocket.h"
#include "SecretStore.h"
#include "StyledTextView.h"
#include "TrashWindow.h"
#include "WindowHarness.h"

#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QSslCertificate>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <csignal>

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
        WindowProbe::TimerReconexiones(w).stop();
    }
    TAccountTab* connect(const QString& user, quint16 port = 0) {
        WindowProbe::QuickConnect(w, fx.host(), user, EncodePassword(fx.password(user)), port ? port : fx.pop3Port());
        return WindowProbe::Tabs(w).last();
    }
    bool settled(TAccountTab* tab) {
        return QTest::qWaitFor([&] { return tab->session()->Estado() == 6 || tab->session()->Estado() == 0; }, kWaitMs);
    }
    int image(TAccountTab* tab) {
        return WindowProbe::Page95Control(w)
            ->tabBar()
            ->tabData(WindowProbe::Page95Control(w)->indexOf(tab->page()))
            .toInt();
    }

private slots:
    void initTestCase() { TAVELO_REQUIRE_DOVECOT(fx); }
    void init() {
        h = std::make_unique<WindowHarness>();
        h->boxAnswer = QMessageBox::Yes;
        openWindow();
    }
    void cleanup() { h.reset(); }

    // The test plays the browser: it opens the address the window gave, and the authorization
    // server's redirect reaches the window's loopback listener.
    bool signInThroughTheBrowser(qsizetype urlsBefore) {
        if (!QTest::qWaitFor([&] { return h->urls.size() > urlsBefore; }, kWaitMs)) return false;
        QNetworkAccessManager browser;
        std::unique_ptr<QNetworkReply> page(browser.get(QNetworkRequest(h->urls.last())));
        return QTest::qWaitFor([&] { return page->isFinished(); }, kWaitMs) && page->error() == QNetworkReply::NoError;
    }
    bool tellAuthorizationServer(const QString& what) {
        QNetworkAccessManager manager;
        QNetworkRequest request(QUrl(u"http://%1:%2/control/%3"_qs.arg(fx.host()).arg(fx.oauthPort()).arg(what)));
        request.setHeader(QNetworkRequest::ContentTypeHeader, u"application/x-www-form-urlencoded"_qs);
        std::unique_ptr<QNetworkReply> reply(manager.post(request, QByteArray("user=oauth")));
        return QTest::qWaitFor([&] { return reply->isFinished(); }, kWaitMs) &&
               reply->error() == QNetworkReply::NoError;
    }
    void recheck(TAccountTab* tab) {
        h->now += 301 * kSecond;
        WindowProbe::TimerReconexionesTimer(w);
        QVERIFY(QTest::qWaitFor([&] { return tab->session()->Estado() != 6; }, kWaitMs));
    }

    void oauthAccountSignsInRefreshesAndAsksAgain() {
        AccountAccess access;
        access.method = LoginMethod::OAuth2;
        access.provider = OAuthProvider::Custom;
        access.clientId = u"tavelo-tests"_qs;
        const QString server = u"http://%1:%2/"_qs.arg(fx.host()).arg(fx.oauthPort());
        access.authorizeUrl = server + u"authorize"_qs;
        access.tokenUrl = server + u"token"_qs;
        access.scope = u"pop"_qs;
        WindowProbe::QuickConnect(w, fx.host(), u"oauth"_qs, QString(), fx.pop3sPort(), access);
        TAccountTab* tab = WindowProbe::Tabs(w).last();
        QVERIFY(signInThroughTheBrowser(0));
        QVERIFY(settled(tab));
        QCOMPARE(tab->session()->Estado(), 6);
        const int rows = tab->list()->rowCount();
        QVERIFY(rows > 0);
        // The server stops taking the token: the re-check logs in with a refreshed one, no browser.
        QVERIFY(tellAuthorizationServer(u"expire"_qs));
        recheck(tab);
        QVERIFY(settled(tab));
        QCOMPARE(tab->session()->Estado(), 6);
        QCOMPARE(tab->list()->rowCount(), rows);
        QCOMPARE(h->urls.size(), 1);
        // Revoked: the user is asked to sign in again; cancelling ends the connection with why.
        QVERIFY(tellAuthorizationServer(u"revoke"_qs));
        recheck(tab);
        QVERIFY(QTest::qWaitFor([&] { return h->urls.size() == 2; }, kWaitMs));
        auto* signIn = w->findChild<QDialog*>(u"frmInicioSesion"_qs);
        QVERIFY(signIn && signIn->isVisible());
        signIn->findChild<QPushButton*>(u"btnCancelar"_qs)->click();
        QVERIFY(settled(tab));
        QCOMPARE(tab->session()->Estado(), 0);
        QVERIFY2(tab->statusBar()->panelText(PanelActivity).contains(u"cancelado"_qs),
                 qPrintable(tab->statusBar()->panelText(PanelActivity)));
    }

    // A password kept in the secret store rather than in the accounts file; none there is said so.
    void passwordKeptInTheSecretStoreLogsIn() {
        AccountAccess access;
        access.passwordInKeyring = true;
        const QString key = AccountKey(fx.host(), fx.pop3Port(), u"ana"_qs);
        bool written = false;
        WindowProbe::logins(w)->secrets()->write(
            PasswordKey(key), fx.password(u"ana"_qs), w,
            [&](const SecretResult& r) { written = r.status == SecretResult::Done; });
        QTRY_VERIFY(written);
        WindowProbe::QuickConnect(w, fx.host(), u"ana"_qs, QString(), fx.pop3Port(), access);
        TAccountTab* tab = WindowProbe::Tabs(w).last();
        // The password is read before the session starts: wait for the listed mailbox itself.
        QVERIFY(QTest::qWaitFor([&] { return tab->session()->Estado() == 6; }, kWaitMs));
        WindowProbe::QuickConnect(w, fx.host(), u"vacio"_qs, QString(), fx.pop3Port(), access);
        TAccountTab* missing = WindowProbe::Tabs(w).last();
        QTRY_COMPARE(missing->statusBar()->panelText(PanelActivity),
                     u"La contraseña de la cuenta no está en el llavero"_qs);
        QCOMPARE(missing->session()->Estado(), 0);
    }

    void tlsPortAsksOnceAndLogsTheEncryption() {
        TAccountTab* tab = connect(u"vacio"_qs, fx.pop3sPort());
        QVERIFY(settled(tab));
        QCOMPARE(tab->session()->Estado(), 6);
        QCOMPARE(h->boxes.size(), 1);
        QCOMPARE(h->boxes[0].caption, u"Certificado no verificado"_qs);
        QCOMPARE(image(tab), 3);
        bool logged = false;
        for (int i = 0; i < tab->dialogueView()->paragraphCount(); ++i)
            logged |= tab->dialogueView()->paragraphText(i).startsWith(u"// Conexión cifrada (TLS"_qs);
        QVERIFY(logged);
        // The answer was kept in the settings file: a new window does not ask again.
        h->close();
        openWindow();
        TAccountTab* again = connect(u"vacio"_qs, fx.pop3sPort());
        QVERIFY(settled(again));
        QCOMPARE(again->session()->Estado(), 6);
        QCOMPARE(h->boxes.size(), 1);
    }

    // A pass in the shown window: the log keeps following the end (its wide header lines bring a
    // horizontal scroll bar on the way).
    void shownWindowEndsThePassWithTheLogAtItsEnd() {
        w->show();
        TAccountTab* tab = connect(u"ana"_qs);
        QVERIFY(settled(tab));
        StyledTextView* v = tab->dialogueView();
        QScrollBar* bar = v->verticalScrollBar();
        QTRY_VERIFY(bar->maximum() == v->VScrollMax() && v->horizontalScrollBar()->isVisible());
        QVERIFY(v->VScrollMax() > 0);
        QCOMPARE(v->VScrollPos(), v->VScrollMax());
        QCOMPARE(bar->value(), bar->maximum());
    }

    void newMailAppearsAfterTheRecheckWithItsSound() {
        const QString user = u"scratch5"_qs;
        const QString sound = h->soundFile(u"si.wav"_qs);
        WindowProbe::Config(w).wavSiTieneMensajes = sound;
        TAccountTab* tab = connect(user);
        QVERIFY(settled(tab));
        const int rows = tab->list()->rowCount();
        const auto shown = [&] {
            QStringList out;
            for (int r = 0; r < tab->list()->rowCount(); ++r)
                out << RowText(tab->list(), r, 0) + u'|' + RowText(tab->list(), r, 2) + u'|' +
                           RowText(tab->list(), r, 4);
            return out;
        };
        const QStringList before = shown();
        const int logBefore = tab->dialogueView()->paragraphCount();
        QCOMPARE(h->sounds.size(), 1);
        QVERIFY2(fx.deliver(user, "From: nuevo@example.es\nSubject: Nuevo\n\nHola\n"), qPrintable(fx.lastError()));
        h->now += 301 * kSecond;
        WindowProbe::TimerReconexionesTimer(w);
        QVERIFY(QTest::qWaitFor([&] { return tab->list()->rowCount() == rows + 1 && tab->session()->Estado() == 6; },
                                kWaitMs));
        QCOMPARE(h->sounds.size(), 2);
        QCOMPARE(RowText(tab->list(), rows, 4), u"Nuevo"_qs);
        // The rows it had keep what they showed; only the new message's header was asked for.
        QCOMPARE(shown().first(rows), before);
        int tops = 0;
        for (int i = logBefore; i < tab->dialogueView()->paragraphCount(); ++i)
            tops += tab->dialogueView()->paragraphText(i).startsWith(u"> TOP "_qs);
        QCOMPARE(tops, 1);
        WindowProbe::btnDesconectarClick(w);
        QVERIFY2(fx.resetMailbox(user), qPrintable(fx.lastError()));
    }

    void lockedMailboxTurnsRedCountsDownAndGetsInLater() {
        TAccountTab* holder = connect(u"bloqueo"_qs);
        QVERIFY(settled(holder));
        TAccountTab* tab = connect(u"bloqueo"_qs, fx.pop3Port());
        QVERIFY(settled(tab));
        QCOMPARE(tab->session()->Estado(), 0);
        QCOMPARE(image(tab), 0);
        QCOMPARE(tab->statusBar()->panelText(1), u"Buzón bloqueado por otra sesión : "_qs + fx.host());
        WindowProbe::TimerReconexionesTimer(w);
        QCOMPARE(tab->statusBar()->panelCount(), 3);
        // The holder lets go; the countdown ends and the next attempt gets in.
        WindowProbe::Page95Control(w)->setCurrentWidget(holder->page());
        WindowProbe::btnDesconectarClick(w);
        QVERIFY(QTest::qWaitFor(
            [&] {
                h->now += 600 * kSecond;
                WindowProbe::TimerReconexionesTimer(w);
                return settled(tab) && tab->session()->Estado() == 6;
            },
            kWaitMs));
        QCOMPARE(image(tab), 2);
    }

    // The real program, filtering at connection without asking, deletes a message; SIGTERM then
    // ends it the orderly way: QUIT (the server deletes only then) and the settings saved.
    void sigtermAfterADeletionQuitsAndSaves() {
        const QString user = u"scratch7"_qs; // the server logs this user's sessions line by line
        QDir rawlog(fx.rawlogDir(user));
        QVERIFY(rawlog.exists());
        for (const QString& f : rawlog.entryList(QDir::Files))
            QVERIFY(rawlog.remove(f));
        const QString subject = u"Fin ordenado de Tavelo"_qs;
        QVERIFY2(fx.deliver(user, "From: oferta@example.es\nSubject: " + subject.toUtf8() + "\n\nHola\n"),
                 qPrintable(fx.lastError()));

        // A copy of the program in a folder of its own (its data folder), settings beside it.
        QTemporaryDir folder;
        const QDir app(folder.path());
        const QString program = app.filePath(u"tavelo"_qs);
        QVERIFY(QFile::copy(QString::fromUtf8(TAVELO_BINARY_DIR) + u"/bin/tavelo"_qs, program));
        SaveAccountsFile(app.filePath(u"Cuentas.dat"_qs),
                         {{fx.host(), QString::number(fx.pop3Port()), user, EncodePassword(fx.password(user))}});
        TFiltros filters;
        filters.Subj = {u"fin ordenado"_qs};
        filters.SaveFilters(app.filePath(u"Filtros.dat"_qs));
        const QString ini = app.filePath(u"config/Quenmar/Tavelo.ini"_qs);
        {
            QSettings settings(ini, QSettings::IniFormat);
            settings.setValue(u"ConectarTodosAlArrancar"_qs, 1);
            settings.setValue(u"FiltrarAlConectar"_qs, 1);
            settings.setValue(u"PreguntarAntesDeBorrarEnFiltrado"_qs, 0);
            const QList<QSslCertificate> certs = QSslCertificate::fromPath(fx.certificatePath());
            QVERIFY(!certs.isEmpty());
            settings.setValue(u"CertificadosConfiados/"_qs + fx.host() + u':' + QString::number(fx.pop3Port()),
                              QString::fromLatin1(certs.first().digest(QCryptographicHash::Sha256).toHex()));
        }
        QProcess tavelo;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"QT_QPA_PLATFORM"_qs, u"offscreen"_qs);
        env.insert(u"XDG_CONFIG_HOME"_qs, app.filePath(u"config"_qs));
        env.insert(u"XDG_DATA_HOME"_qs, app.filePath(u"data"_qs));
        tavelo.setProcessEnvironment(env);
        tavelo.start(program, {});
        const auto sent = [&] {
            QByteArray lines;
            for (const QString& f : rawlog.entryList({u"*.in"_qs}, QDir::Files)) {
                QFile in(rawlog.filePath(f));
                if (in.open(QIODevice::ReadOnly)) lines += in.readAll();
            }
            return lines;
        };
        QVERIFY2(QTest::qWaitFor([&] { return sent().contains(" DELE "); }, kWaitMs), sent().constData());
        // The advanced options are written to the settings file only when the run ends.
        const auto saved = [&] {
            QFile f(ini);
            return f.open(QIODevice::ReadOnly) && f.readAll().contains("Pipelining=");
        };
        QVERIFY(!saved());
        ::kill(pid_t(tavelo.processId()), SIGTERM);
        QVERIFY(tavelo.waitForFinished(kWaitMs));
        QCOMPARE(tavelo.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tavelo.exitCode(), 0);
        QVERIFY(sent().trimmed().endsWith(" QUIT"));
        QVERIFY(saved());

        // Another session finds the message gone and every other one there.
        TAccountTab* tab = connect(user);
        QVERIFY(settled(tab));
        QCOMPARE(tab->session()->Estado(), 6);
        QCOMPARE(tab->list()->rowCount(), fx.manifest(user).size());
        for (int r = 0; r < tab->list()->rowCount(); ++r)
            QVERIFY(RowText(tab->list(), r, 4) != subject);
        WindowProbe::btnDesconectarClick(w);
        QVERIFY2(fx.resetMailbox(user), qPrintable(fx.lastError()));
    }

    // With the copy option on (the default), a message the user deletes is first kept whole in the
    // Papelera, which lists it and opens it in the mail program; with no room for the copy the
    // message stays on the server and the user is told.
    void deletionKeepsACopyOrTheMessage_data() {
        QTest::addColumn<bool>("room"); // the Papelera can be made
        QTest::newRow("copy kept, message deleted") << true;
        QTest::newRow("no room for the copy, message kept") << false;
    }
    void deletionKeepsACopyOrTheMessage() {
        QFETCH(bool, room);
        const QString user = u"scratch4"_qs;
        if (!room) h->write(u"Papelera"_qs, "a file where the folder should be");
        const ManifestMessage stuffed = fx.firstTagged(user, u"dot-stuffed"_qs);
        QVERIFY(stuffed.num > 0);
        TAccountTab* tab = connect(user);
        QVERIFY(settled(tab));
        const int rows = tab->list()->rowCount();
        SelectRow(tab->list(), stuffed.num - 1);
        h->boxAnswer = QMessageBox::Ok;
        const qsizetype before = h->boxes.size(); // the certificate question
        WindowProbe::btnEliminarClick(w);
        const int left = room ? rows - 1 : rows;
        QVERIFY(
            QTest::qWaitFor([&] { return tab->list()->rowCount() == left && tab->session()->Estado() == 6; }, kWaitMs));
        if (room) {
            QCOMPARE(h->boxes.size(), before + 1); // the confirmation only
            const QList<TCopiaPapelera> copies = WindowProbe::Papelera(w).Copias();
            QCOMPARE(copies.size(), 1);
            QCOMPARE(copies[0].Cuenta, user + u'@' + fx.host() + u':' + QString::number(fx.pop3Port()));
            QCOMPARE(copies[0].Motivo, u"Eliminado por el usuario"_qs);
            QByteArray expected = fx.rawMessage(user, stuffed.num);
            expected.replace("\r\n", "\n");
            // The Papelera window lists it; Abrir hands the mail program a .eml file holding it, and
            // Guardar como writes the same where the user says.
            QStringList shown;
            QTimer::singleShot(0, w, [&] {
                TfrmPapelera* d = WindowProbe::frmPapelera(w);
                for (int r = 0; r < d->ListView->topLevelItemCount(); ++r)
                    shown << d->ListView->topLevelItem(r)->text(1) + u'|' + d->ListView->topLevelItem(r)->text(2);
                d->btnAbrir->click();
                h->fileAnswer = h->path(u"guardado.eml"_qs);
                d->btnGuardarComo->click();
                d->btnCerrar->click();
            });
            WindowProbe::action(w, u"mnuConfigurarPapelera"_qs)->trigger();
            QCOMPARE(shown, QStringList{copies[0].Remitente + u'|' + copies[0].Asunto});
            QVERIFY(!copies[0].Asunto.isEmpty());
            QCOMPARE(h->urls.size(), 1);
            const QString opened = h->urls[0].toLocalFile();
            QVERIFY2(opened.endsWith(u".eml"_qs), qPrintable(opened));
            QFile eml(opened);
            QVERIFY(eml.open(QIODevice::ReadOnly));
            QCOMPARE(eml.readAll(), expected);
            QCOMPARE(h->read(u"guardado.eml"_qs), expected); // and Guardar como writes it where asked
        } else {
            QTRY_COMPARE(h->boxes.size(), before + 2);
            QCOMPARE(h->boxes.last().caption, u"Papelera"_qs);
            QVERIFY2(h->boxes.last().text.contains(u"mensaje %1 "_qs.arg(stuffed.num)),
                     qPrintable(h->boxes.last().text));
            QVERIFY2(h->boxes.last().text.contains(u"Cannot create folder"_qs), qPrintable(h->boxes.last().text));
        }
        // What the server holds after QUIT, seen by a fresh login (the old session may still hold
        // the mailbox for a moment).
        WindowProbe::btnDesconectarClick(w);
        QVERIFY(QTest::qWaitFor(
            [&] {
                TAccountTab* again = connect(user);
                const bool seen =
                    settled(again) && again->session()->Estado() == 6 && again->list()->rowCount() == left;
                WindowProbe::btnDesconectarClick(w); // its tab, the current one
                return seen;
            },
            kWaitMs));
        QVERIFY2(fx.resetMailbox(user), qPrintable(fx.lastError()));
    }

    void resetBringsTheDeletedMessagesBack() {
        const QString user = u"scratch6"_qs;
        TAccountTab* tab = connect(user);
        QVERIFY(settled(tab));
        const int rows = tab->list()->rowCount();
        SelectRow(tab->list(), 1);
        h->boxAnswer = QMessageBox::Ok;
        WindowProbe::btnEliminarClick(w);
        QVERIFY(QTest::qWaitFor([&] { return tab->list()->rowCount() == rows - 1 && tab->session()->Estado() == 6; },
                                kWaitMs));
        WindowProbe::btnRestaurarClick(w);
        QCOMPARE(tab->list()->rowCount(), 0);
        QVERIFY(
            QTest::qWaitFor([&] { return tab->list()->rowCount() == rows && tab->session()->Estado() == 6; }, kWaitMs));
        WindowProbe::btnDesconectarClick(w);
        QVERIFY2(fx.resetMailbox(user), qPrintable(fx.lastError()));
    }
};

QTEST_MAIN(TestWindowDovecot)
#include "tst_window_dovecot.moc"
