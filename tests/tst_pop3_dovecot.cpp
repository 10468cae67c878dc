// The session and the command-line scanner against a real Dovecot: real replies, real framing,
// real DELE, RSET and QUIT, refused logins, closed ports and names that do not resolve.
#include "DovecotFixture.h"
#include "Pop3Session.h"
#include "QtClientSocket.h"
#include "SessionRecorder.h"
#include "TestFiles.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>

namespace {

constexpr int kWaitMs = 20000;

/** What a human reads in a decoded sender: the quotes of a display name are not part of it. */
QString unquoted(QString s) {
    s.remove(u'"');
    s.remove(u'\\');
    return s.trimmed();
}

QString recipientAddress(const QString& entry) {
    const qsizetype lt = entry.lastIndexOf(u'<');
    const qsizetype gt = entry.lastIndexOf(u'>');
    return lt >= 0 && gt > lt ? entry.mid(lt + 1, gt - lt - 1) : entry.trimmed();
}

} // namespace

class TestPop3Dovecot : public QObject {
    Q_OBJECT

    DovecotFixture fx;
    FakeDesktop desktop;

    std::unique_ptr<TPop3> newSession() {
        auto s = std::make_unique<TPop3>(&desktop, QtClientSocket::factory(&desktop));
        s->setReplyTimeout(kWaitMs);
        return s;
    }
    /** Connects and waits for the end of the header pass, or of the connection. */
    bool listMailbox(TPop3& s, const QString& user, const QString& password = QString()) {
        s.Conectar(fx.host(), fx.pop3Port(), user, password.isEmpty() ? fx.password(user) : password);
        return QTest::qWaitFor([&] { return s.Estado() == TPop3::Conectado || s.Estado() == TPop3::Desconectado; },
                               kWaitMs) &&
               s.Estado() == TPop3::Conectado;
    }
    bool waitIdle(TPop3& s) {
        return QTest::qWaitFor([&] { return s.Estado() == TPop3::Conectado || s.Estado() == TPop3::Desconectado; },
                               kWaitMs);
    }
    /** The sender a reader of the list sees: a Resent-From replaces the From. */
    QString expectedSender(const QString& user, const ManifestMessage& e) const {
        if (!e.tags.contains(u"resent-from"_qs)) return unquoted(e.from);
        const QByteArray raw = fx.rawMessage(user, e.num);
        const qsizetype at = raw.indexOf("\nResent-From:");
        return unquoted(QString::fromUtf8(raw.mid(at + 14, raw.indexOf('\n', at + 1) - at - 14)));
    }
    QString scanner() const { return QString::fromUtf8(TAVELO_BINARY_DIR) + u"/bin/tavelo-scan"_qs; }
    /** tavelo-scan on the user's mailbox with the password in its environment, and these options. */
    void startScanner(QProcess& p, const QString& user, const QStringList& options) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"TAVELO_PASSWORD"_qs, fx.password(user));
        p.setProcessEnvironment(env);
        p.start(scanner(), scanArgs(user) + options);
    }

    QString fixtureFingerprint() const {
        const QList<QSslCertificate> certs = QSslCertificate::fromPath(fx.certificatePath());
        return certs.isEmpty() ? QString()
                               : QString::fromLatin1(certs.first().digest(QCryptographicHash::Sha256).toHex());
    }
    QStringList scanArgs(const QString& user) const {
        return {u"--host"_qs,
                fx.host(),
                u"--port"_qs,
                QString::number(fx.pop3Port()),
                u"--user"_qs,
                user,
                u"--trust-certificate"_qs,
                fixtureFingerprint()};
    }

    /** Asks the fixture's authorization server for a control action on a user's tokens
     *  ("issue", "expire"); the access token issued, if any. */
    QString authServer(const QString& action, const QString& user) {
        QNetworkAccessManager http;
        http.setProxy(QNetworkProxy::NoProxy);
        QNetworkRequest request(QUrl(u"http://%1:%2/control/%3"_qs.arg(fx.host()).arg(fx.oauthPort()).arg(action)));
        request.setHeader(QNetworkRequest::ContentTypeHeader, u"application/x-www-form-urlencoded"_qs);
        std::unique_ptr<QNetworkReply> reply(http.post(request, "user=" + QUrl::toPercentEncoding(user)));
        if (!QTest::qWaitFor([&] { return reply->isFinished(); }, kWaitMs)) return {};
        return QJsonDocument::fromJson(reply->readAll()).object().value(u"access_token"_qs).toString();
    }

private slots:
    void initTestCase() {
        TAVELO_REQUIRE_DOVECOT(fx);
        desktop.answer = true; // the fixture's own self-signed certificate is trusted when asked
    }

    void listsEveryMessageAsGenerated() {
        auto s = newSession();
        QVERIFY(listMailbox(*s, u"ana"_qs));
        const QList<ManifestMessage> expected = fx.manifest(u"ana"_qs);
        QCOMPARE(s->NumMensajes(), expected.size());
        qint64 total = 0;
        for (const ManifestMessage& e : expected) {
            const TMensaje m = s->MensajePorIndice(e.num - 1);
            const QByteArray where = "message " + QByteArray::number(e.num) + " " + e.tags.join(u',').toUtf8();
            QVERIFY2(m.Num == e.num, where);
            QVERIFY2(m.Bytes == e.bytes, where);
            QVERIFY2(m.Cabecera.From == expectedSender(u"ana"_qs, e), where + ": " + m.Cabecera.From.toUtf8());
            QVERIFY2(m.Cabecera.Subj == unquoted(e.subject), where + ": " + m.Cabecera.Subj.toUtf8());
            QVERIFY2(m.Cabecera.Fecha == e.rawDate.trimmed(), where);
            QStringList addresses;
            for (const QString& r : m.Cabecera.Destinatarios)
                addresses << recipientAddress(r);
            QVERIFY2(addresses == e.to + e.cc, where + ": " + addresses.join(u',').toUtf8());
            total += e.bytes;
        }
        QCOMPARE(s->BytesTotales(), total);
    }

    void firstLinesComeBackUnstuffed() {
        const ManifestMessage dotted = fx.firstTagged(u"ana"_qs, u"dot-stuffed"_qs);
        QVERIFY(dotted.num > 0);
        auto s = newSession();
        QVERIFY(listMailbox(*s, u"ana"_qs));
        QVERIFY(s->PedirPrimerasLineas(dotted.num, 1000));
        QVERIFY(waitIdle(*s));
        const QByteArray raw = fx.rawMessage(u"ana"_qs, dotted.num);
        const QByteArray body = raw.mid(raw.indexOf("\n\n") + 2);
        QString expected = QString::fromUtf8(body);
        expected.replace(u"\n"_qs, u"\r\n"_qs);
        while (expected.endsWith(u"\r\n"_qs))
            expected.chop(2);
        QCOMPARE(s->MensajePorNumero(dotted.num).PrimerasLineas, expected);
    }

    void deleteThenResetBringsTheMessageBack() {
        const QString user = u"scratch1"_qs;
        auto s = newSession();
        QVERIFY(listMailbox(*s, user));
        const int count = s->NumMensajes();
        s->EliminarMensajes({u"2"_qs});
        QVERIFY(waitIdle(*s));
        QCOMPARE(s->NumMensajes(), count - 1);
        QVERIFY(s->Restaurar());
        QVERIFY(QTest::qWaitFor([&] { return s->Estado() == TPop3::Conectado && s->NumMensajes() == count; }, kWaitMs));
        QCOMPARE(s->MensajePorNumero(2).Bytes, fx.manifest(user)[1].bytes);
        s->Desconectar();
        QVERIFY2(fx.resetMailbox(user), qPrintable(fx.lastError()));
    }

    void deleteThenQuitRemovesTheMessage() {
        const QString user = u"scratch2"_qs;
        auto s = newSession();
        QVERIFY(listMailbox(*s, user));
        const int count = s->NumMensajes();
        s->EliminarMensajes({u"1"_qs, u"3"_qs});
        QVERIFY(waitIdle(*s));
        s->Desconectar(); // QUIT: the server deletes now
        auto again = newSession();
        QVERIFY(
            QTest::qWaitFor([&] { return listMailbox(*again, user) && again->NumMensajes() == count - 2; }, kWaitMs));
        QCOMPARE(again->MensajePorIndice(0).Bytes, fx.manifest(user)[1].bytes);
        again->Desconectar();
        QVERIFY2(fx.resetMailbox(user), qPrintable(fx.lastError()));
    }

    // The copy hook gets the message as the server holds it, dots unstuffed, CR LF line ends; the
    // message goes only when the hook kept it. A message of megabytes comes in many TLS records,
    // each announced on its own, and in many reads: it is whole all the same, over STLS and on the
    // port that is TLS from the first byte.
    void copyBeforeDeleteGetsTheWholeMessage_data() {
        QTest::addColumn<bool>("kept");
        QTest::addColumn<bool>("big");
        QTest::addColumn<bool>("implicitTls");
        QTest::newRow("copy kept: deleted") << true << false << false;
        QTest::newRow("copy refused: stays") << false << false << false;
        QTest::newRow("3 MB over STLS") << true << true << false;
        QTest::newRow("3 MB on the TLS port") << true << true << true;
    }
    void copyBeforeDeleteGetsTheWholeMessage() {
        QFETCH(bool, kept);
        QFETCH(bool, big);
        QFETCH(bool, implicitTls);
        const QString user = u"scratch1"_qs;
        QByteArray bigMessage = "From: grande@example.es\nSubject: Adjuntos\n\n";
        for (int i = 0; big && bigMessage.size() < 3 * 1024 * 1024; ++i)
            bigMessage += (i % 97 == 0 ? "." : "") + QByteArray(i * 7919 % 990, char('a' + i % 26)) + '\n';
        if (big) QVERIFY2(fx.deliver(user, bigMessage), qPrintable(fx.lastError()));
        auto s = newSession();
        const int port = implicitTls ? fx.pop3sPort() : fx.pop3Port();
        s->setImplicitTlsPort(fx.pop3sPort());
        QSignalSpy encrypted(s.get(), &TPop3::OnConexionCifrada);
        s->Conectar(fx.host(), port, user, fx.password(user));
        QVERIFY(waitIdle(*s) && s->Estado() == TPop3::Conectado);
        QCOMPARE(encrypted.size(), 1);
        const int count = s->NumMensajes();
        const int num = big ? count : fx.firstTagged(user, u"dot-stuffed"_qs).num;
        QVERIFY(num > 0);
        QList<std::pair<int, QByteArray>> copies;
        s->setKeepCopy([&](int n, const QByteArray& message, const QString&) {
            copies.append({n, message});
            return kept;
        });
        QSignalSpy failed(s.get(), &TPop3::OnCopiaFallida);
        s->EliminarMensajes({QString::number(num)});
        QVERIFY(waitIdle(*s));
        QCOMPARE(copies.size(), 1);
        QCOMPARE(copies[0].first, num);
        QByteArray expected = big ? bigMessage : fx.rawMessage(user, num); // LF line ends: the server sends CR LF
        expected.replace("\r\n", "\n").replace("\n", "\r\n");
        QVERIFY(copies[0].second == expected); // QCOMPARE would print megabytes
        QCOMPARE(failed.size(), kept ? 0 : 1);
        s->Desconectar();
        auto again = newSession(); // the server deletes at QUIT: the new login may come first
        const int left = kept ? count - 1 : count;
        QVERIFY(QTest::qWaitFor([&] { return listMailbox(*again, user) && again->NumMensajes() == left; }, kWaitMs));
        again->Desconectar();
        QVERIFY2(fx.resetMailbox(user), qPrintable(fx.lastError()));
    }

    void emptyMailbox() {
        auto s = newSession();
        SessionRecorder rec(*s);
        QVERIFY(listMailbox(*s, u"vacio"_qs));
        QVERIFY(rec.events.contains(u"estado 6 No hay mensajes"_qs));
        QCOMPARE(rec.events.last(), u"completada"_qs);
    }

    void wrongPasswordIsRefused() {
        auto s = newSession();
        SessionRecorder rec(*s);
        QVERIFY(!listMailbox(*s, u"ana"_qs, u"mala"_qs));
        QCOMPARE(rec.events.last(), u"forzada Combinación USER/PASS no válida"_qs);
        QVERIFY(s->AccesoDenegado()); // Dovecot says [AUTH]: the same password will not do
    }

    void closedPortIsRefused() {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 port = probe.serverPort();
        probe.close();
        auto s = newSession();
        SessionRecorder rec(*s);
        s->Conectar(u"127.0.0.1"_qs, port, u"a"_qs, u"b"_qs);
        QVERIFY(QTest::qWaitFor([&] { return s->Estado() == TPop3::Desconectado; }, kWaitMs));
        QCOMPARE(rec.events.mid(rec.events.size() - 4),
                 (QStringList{u"imposible Conexión rechazada"_qs, u"send QUIT"_qs, u"estado 0 Desconectado"_qs,
                              u"forzada El Servidor 127.0.0.1 rechazó la conexión en el puerto "_qs +
                                  QString::number(port)}));
    }

    void unresolvableNameWaitsForTheWindow() {
        auto s = newSession();
        s->Conectar(u"nadie.invalid"_qs, 110, u"a"_qs, u"b"_qs);
        QVERIFY(QTest::qWaitFor([&] { return !desktop.errors.isEmpty(); }, kWaitMs));
        QVERIFY(desktop.errors.first().startsWith(u"ESocketError: "_qs));
        QCOMPARE(s->Estado(), 1);
        QVERIFY(!s->Activo());
    }

    void plainPortUpgradesWithStls() {
        auto s = newSession();
        SessionRecorder rec(*s);
        QSignalSpy encrypted(s.get(), &TPop3::OnConexionCifrada);
        QVERIFY(listMailbox(*s, u"vacio"_qs));
        const QStringList e = rec.events;
        QVERIFY(e.indexOf(u"send STLS"_qs) >= 0);
        QVERIFY(e.indexOf(u"send STLS"_qs) < e.indexOf(u"send USER vacio"_qs));
        QCOMPARE(encrypted.size(), 1);
        QVERIFY(encrypted[0][1].toString().startsWith(u"TLS"_qs));
        QVERIFY(desktop.gaveTls.contains(fx.host() + u':' + QString::number(fx.pop3Port()))); // remembered
    }

    void tlsPortAsksAboutTheCertificateOnce() {
        FakeDesktop own;
        auto session = [&] {
            auto s = std::make_unique<TPop3>(&own, QtClientSocket::factory(&own));
            s->setReplyTimeout(kWaitMs);
            s->setImplicitTlsPort(fx.pop3sPort());
            return s;
        };
        const QString key = fx.host() + u':' + QString::number(fx.pop3sPort());
        auto s = session();
        SessionRecorder rec(*s);
        own.answer = false;
        s->Conectar(fx.host(), fx.pop3sPort(), u"vacio"_qs, fx.password(u"vacio"_qs));
        QVERIFY(waitIdle(*s));
        QCOMPARE(rec.events.last(), u"forzada Certificado no válido : "_qs + fx.host());
        QCOMPARE(own.questions.size(), 1);
        QVERIFY(own.questions[0].contains(fixtureFingerprint()));
        own.answer = true;
        s->Conectar(fx.host(), fx.pop3sPort(), u"vacio"_qs, fx.password(u"vacio"_qs));
        QVERIFY(waitIdle(*s) && s->Estado() == TPop3::Conectado);
        QCOMPARE(own.trusted.value(key), fixtureFingerprint());
        s->Conectar(fx.host(), fx.pop3sPort(), u"vacio"_qs, fx.password(u"vacio"_qs));
        QVERIFY(waitIdle(*s) && s->Estado() == TPop3::Conectado);
        QCOMPARE(own.questions.size(), 2);        // remembered
        own.trusted[key] = u"00"_qs.repeated(32); // another certificate was trusted before
        s->Conectar(fx.host(), fx.pop3sPort(), u"vacio"_qs, fx.password(u"vacio"_qs));
        QVERIFY(waitIdle(*s));
        QCOMPARE(own.questions.size(), 3);
        QVERIFY(own.questions[2].contains(u"ha cambiado"_qs));
    }

    void recheckSeesNewMailAndMailDeletedElsewhere() {
        const QString user = u"scratch3"_qs;
        auto s = newSession();
        QVERIFY(listMailbox(*s, user));
        const int count = s->NumMensajes();
        QVERIFY2(fx.deliver(user, "From: nuevo@example.es\nSubject: Recien llegado\n\nHola\n"),
                 qPrintable(fx.lastError()));
        s->ComprobarDeNuevo();
        QVERIFY(
            QTest::qWaitFor([&] { return s->Estado() == TPop3::Conectado && s->NumMensajes() == count + 1; }, kWaitMs));
        QCOMPARE(s->MensajePorNumero(count + 1).Cabecera.Subj, u"Recien llegado"_qs);
        // Another client deletes message 1: the numbers shift, so the mailbox is listed again.
        auto other = newSession();
        QVERIFY(listMailbox(*other, user));
        other->EliminarMensajes({u"1"_qs});
        QVERIFY(waitIdle(*other));
        other->Desconectar();
        const QString secondSubject = s->MensajePorNumero(2).Cabecera.Subj;
        QVERIFY(QTest::qWaitFor(
            [&] {
                s->ComprobarDeNuevo();
                return waitIdle(*s) && s->NumMensajes() == count;
            },
            kWaitMs));
        QCOMPARE(s->MensajePorNumero(1).Cabecera.Subj, secondSubject);
        s->Desconectar();
        QVERIFY2(fx.resetMailbox(user), qPrintable(fx.lastError()));
    }

    void lockedMailboxSaysSo() {
        auto holder = newSession();
        QVERIFY(listMailbox(*holder, u"bloqueo"_qs));
        auto s = newSession();
        SessionRecorder rec(*s);
        QVERIFY(!listMailbox(*s, u"bloqueo"_qs));
        QCOMPARE(rec.events.last(), u"forzada Buzón bloqueado por otra sesión : "_qs + fx.host());
        holder->Desconectar();
        QVERIFY(QTest::qWaitFor([&] { return listMailbox(*s, u"bloqueo"_qs); }, kWaitMs));
    }

    // Through a 20 ms delay line: the pipelined pass gives the same rows, and where the server does
    // not offer PIPELINING it stays one request at a time.
    void pipelinedPassThroughADelayLine_data() {
        QTest::addColumn<bool>("option");
        QTest::addColumn<QStringList>("strip");
        QTest::addColumn<bool>("batches");
        QTest::newRow("option off") << false << QStringList{u"STLS"_qs} << false;
        QTest::newRow("option on") << true << QStringList{u"STLS"_qs} << true;
        QTest::newRow("option on, over TLS") << true << QStringList{} << true;
        QTest::newRow("option on, PIPELINING not offered")
            << true << QStringList{u"STLS"_qs, u"PIPELINING"_qs} << false;
    }
    void pipelinedPassThroughADelayLine() {
        QFETCH(bool, option);
        QFETCH(QStringList, strip);
        QFETCH(bool, batches);
        QProcess proxy;
        QStringList args{QString::fromUtf8(TAVELO_TEST_SUPPORT_DIR) + u"/delayproxy.py"_qs, u"--target"_qs,
                         fx.host() + u':' + QString::number(fx.pop3Port()), u"--delay-ms"_qs, u"10"_qs};
        for (const QString& cap : strip)
            args << u"--strip-capa"_qs << cap;
        proxy.start(u"python3"_qs, args);
        QVERIFY(proxy.waitForReadyRead(kWaitMs));
        const int port = QString::fromLatin1(proxy.readLine()).trimmed().toInt();
        QVERIFY(port > 0);

        auto reference = newSession();
        QVERIFY(listMailbox(*reference, u"ana"_qs));
        auto s = newSession();
        s->setPipelining(option);
        SessionRecorder rec(*s);
        s->Conectar(fx.host(), port, u"ana"_qs, fx.password(u"ana"_qs));
        QVERIFY(waitIdle(*s));
        QCOMPARE(s->Estado(), TPop3::Conectado);
        QCOMPARE(s->NumMensajes(), reference->NumMensajes());
        for (int i = 0; i < s->NumMensajes(); ++i) {
            const TMensaje a = s->MensajePorIndice(i), b = reference->MensajePorIndice(i);
            QCOMPARE(a.Cabecera.From, b.Cabecera.From);
            QCOMPARE(a.Cabecera.Subj, b.Cabecera.Subj);
            QCOMPARE(a.PrimerasLineas, b.PrimerasLineas);
        }
        // Sequential: every TOP follows its own progress event; in batches several follow one.
        int mostInARow = 0, run = 0;
        for (const QString& e : std::as_const(rec.events)) {
            if (e.startsWith(u"send TOP"_qs))
                mostInARow = std::max(mostInARow, ++run);
            else if (e.startsWith(u"estado 5"_qs))
                run = 0;
        }
        QCOMPARE(mostInARow > 1, batches);
        s->Desconectar();
        proxy.terminate();
        proxy.waitForFinished(kWaitMs);
    }

    void scannerPrintsTheListing() {
        QProcess p;
        startScanner(p, u"ana"_qs, {u"--log"_qs});
        QVERIFY(p.waitForFinished(kWaitMs));
        QCOMPARE(p.exitCode(), 0);
        const QStringList lines = QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        const QList<ManifestMessage> expected = fx.manifest(u"ana"_qs);
        QCOMPARE(lines.size(), expected.size());
        for (int i = 0; i < lines.size(); ++i) {
            const QStringList f = lines[i].split(u'\t');
            QCOMPARE(f.size(), 5);
            QCOMPARE(f[0].toInt(), expected[i].num);
            QCOMPARE(f[1].toLongLong(), expected[i].bytes);
            QCOMPARE(f[2], expectedSender(u"ana"_qs, expected[i]));
            QCOMPARE(f[4], unquoted(expected[i].subject));
        }
        const QString log = QString::fromUtf8(p.readAllStandardError());
        QVERIFY(log.contains(u"> PASS (\u00B7\u00B7\u00B7)"_qs));
        QVERIFY(log.indexOf(u"> STLS"_qs) < log.indexOf(u"> USER"_qs));
        QVERIFY(!log.contains(fx.password(u"ana"_qs)));
    }

    // A field too long to keep is never judged on its start: the scanner gives no verdict and says
    // why on stderr, while a message whose field is whole is still decided.
    void scannerNeverJudgesACutField() {
        const QString user = u"scratch3"_qs;
        QVERIFY2(fx.resetMailbox(user), qPrintable(fx.lastError()));
        QVERIFY2(fx.deliver(user, "From: a@example.es\nX-Relleno: " + QByteArray(1 << 20, 'a') + "!\n\nHola\n"),
                 qPrintable(fx.lastError()));
        QVERIFY2(fx.deliver(user, "From: b@example.es\nX-Relleno: aaa\n\nHola\n"), qPrintable(fx.lastError()));
        QTemporaryDir dir;
        const QByteArray rule = "marcar X-Relleno expresion (a+)+$";
        writeBytes(dir.filePath(u"Reglas.dat"_qs), rule + '\n');
        QProcess p;
        startScanner(p, user, {u"--filters"_qs, dir.path()});
        QVERIFY(p.waitForFinished(kWaitMs));
        QCOMPARE(p.exitCode(), 0);
        const QList<QByteArray> lines = p.readAllStandardOutput().trimmed().split('\n');
        QVERIFY(lines.size() >= 2);
        const int cut = lines.size() - 1; // its number
        QCOMPARE(lines[cut - 1].split('\t').value(5), QByteArray());
        QCOMPARE(lines[cut].split('\t').value(5), rule);
        QCOMPARE(QString::fromUtf8(p.readAllStandardError()),
                 u"El campo X-Relleno del mensaje %1 es demasiado largo para juzgarlo: las reglas sobre él no se "
                 "aplican\n"_qs.arg(cut));
        QVERIFY2(fx.resetMailbox(user), qPrintable(fx.lastError()));
    }

    // A header that would drive a terminal (ESC sequences, a right-to-left override, raw or in an
    // encoded word) is written as escapes, in the listing and in --log, unless --raw.
    void scannerEscapesControlCharacters_data() {
        QTest::addColumn<bool>("raw");
        QTest::newRow("escaped") << false;
        QTest::newRow("raw") << true;
    }
    void scannerEscapesControlCharacters() {
        QFETCH(bool, raw);
        const QString user = u"scratch3"_qs;
        QVERIFY2(fx.resetMailbox(user), qPrintable(fx.lastError()));
        QVERIFY2(fx.deliver(user, "From: =?utf-8?b?ZmFjdHVyYV/igK5mZHAuZXhl?= <f@example.es>\n"
                                  "Subject: \x1b]0;pwned\x07\x1b[2J hola\n\nHola\n"),
                 qPrintable(fx.lastError()));
        QProcess p;
        startScanner(p, user, raw ? QStringList{u"--log"_qs, u"--raw"_qs} : QStringList{u"--log"_qs});
        QVERIFY(p.waitForFinished(kWaitMs));
        QCOMPARE(p.exitCode(), 0);
        const QByteArray out = p.readAllStandardOutput();
        const QByteArray err = p.readAllStandardError();
        const QByteArray last = out.trimmed().split('\n').last();
        if (raw) {
            QVERIFY(last.contains("\x1b]0;pwned\x07\x1b[2J hola"));
            QVERIFY(last.contains("factura_\u202Efdp.exe"));
        } else {
            QVERIFY2(last.contains("\\x1b]0;pwned\\x07\\x1b[2J hola"), last.constData());
            QVERIFY2(last.contains("factura_\\u202efdp.exe"), last.constData());
            for (const QByteArray& text : {out, err}) {
                QVERIFY(!text.contains('\x1b') && !text.contains('\x07'));
                QVERIFY(!QString::fromUtf8(text).contains(QChar(0x202E)));
            }
        }
        QVERIFY2(fx.resetMailbox(user), qPrintable(fx.lastError()));
    }

    // With --filters, a sixth column on every row: the FROM list's fragment, a rule's line, or
    // nothing; a line of Reglas.dat that is not a rule goes to stderr with its number.
    void scannerGivesTheFilterReason() {
        const QString user = u"ana"_qs;
        const QList<ManifestMessage> expected = fx.manifest(user);
        QVERIFY(expected.size() > 2);
        // The FROM list gets a sender only one message has, a rule the Message-ID of another one.
        const auto sendersHolding = [&](const QString& fragment) {
            return std::count_if(expected.begin(), expected.end(), [&](const ManifestMessage& e) {
                return expectedSender(user, e).contains(fragment, Qt::CaseInsensitive);
            });
        };
        qsizetype listed = -1, ruled = -1;
        for (qsizetype i = 0; i < expected.size(); ++i) {
            const QString sender = expectedSender(user, expected[i]);
            const bool ascii = std::all_of(sender.begin(), sender.end(), [](QChar c) { return c.unicode() < 128; });
            if (listed < 0 && !sender.isEmpty() && ascii && sendersHolding(sender) == 1)
                listed = i;
            else if (ruled < 0 && !expected[i].messageId.isEmpty())
                ruled = i;
        }
        QVERIFY(listed >= 0 && ruled >= 0);
        const QString fragment = expectedSender(user, expected[listed]);
        const QString rule = u"marcar Message-ID contiene "_qs + expected[ruled].messageId;
        QTemporaryDir dir;
        writeBytes(dir.filePath(u"Filtros.dat"_qs), "[FROM]" + fragment.toLatin1() + "\r\n");
        writeBytes(dir.filePath(u"Reglas.dat"_qs), "# prueba\n" + rule.toUtf8() + "\nmarcar Subject parece x\n");

        QProcess p;
        startScanner(p, user, {u"--filters"_qs, dir.path()});
        QVERIFY(p.waitForFinished(kWaitMs));
        QCOMPARE(p.exitCode(), 0);
        const QStringList lines = QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), expected.size());
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QStringList f = lines[i].split(u'\t');
            QCOMPARE(f.size(), 6);
            QCOMPARE(f[5], i == listed ? u"[FROM]"_qs + fragment : i == ruled ? rule : QString());
        }
        const QString errors = QString::fromUtf8(p.readAllStandardError());
        QVERIFY2(errors.contains(u"Línea 3, posición 16: "_qs) && !errors.contains(u"Línea 2:"_qs), qPrintable(errors));
    }

    void refusedTokenIsRefreshedOnce_data() {
        QTest::addColumn<bool>("longUnknown"); // else expired, and short enough for the command line
        QTest::newRow("expired") << false;
        QTest::newRow("unknown, sent after the server's +") << true;
    }
    void refusedTokenIsRefreshedOnce() {
        QFETCH(bool, longUnknown);
        const QString user = u"oauth"_qs;
        const QString refused = longUnknown ? u"EwB"_qs + QString(400, u'q') : authServer(u"issue"_qs, user);
        QVERIFY(!refused.isEmpty());
        authServer(u"expire"_qs, user);
        const QString fresh = authServer(u"issue"_qs, user);
        auto s = newSession();
        QList<bool> asked;
        s->setAccessTokenSource([&](bool afterRefusal, const TPop3::TokenReply& reply) {
            asked << afterRefusal;
            reply(afterRefusal ? fresh : refused, QString());
        });
        SessionRecorder rec(*s);
        QVERIFY(listMailbox(*s, user));
        QCOMPARE(asked, (QList<bool>{false, true}));
        QCOMPARE(rec.events.contains(u"send AUTH XOAUTH2"_qs), longUnknown); // the two-step form
        QCOMPARE(s->NumMensajes(), fx.manifest(user).size());
    }

    // The scanner with an access token (STLS first, the fixture's port being plain POP3).
    void scannerLogsInWithAnAccessToken_data() {
        QTest::addColumn<QString>("token"); // "fresh", "expired" or none
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("stderrHas");
        QTest::newRow("a fresh token lists the mailbox")
            << u"fresh"_qs << 0 << u"> AUTH XOAUTH2 (\u00B7\u00B7\u00B7)"_qs;
        QTest::newRow("an expired token is refused")
            << u"expired"_qs << 3 << u"El Servidor no aceptó el token de TAVELO_ACCESS_TOKEN"_qs;
        QTest::newRow("no token") << QString() << 2 << u"TAVELO_ACCESS_TOKEN"_qs;
    }
    void scannerLogsInWithAnAccessToken() {
        QFETCH(QString, token);
        QFETCH(int, code);
        QFETCH(QString, stderrHas);
        const QString user = u"oauth"_qs;
        QString given;
        if (!token.isEmpty()) {
            given = authServer(u"issue"_qs, user);
            QVERIFY(!given.isEmpty());
            if (token == u"expired") authServer(u"expire"_qs, user);
        }
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"TAVELO_ACCESS_TOKEN"_qs, given);
        p.setProcessEnvironment(env);
        p.start(scanner(), scanArgs(user) << u"--auth"_qs << u"xoauth2"_qs << u"--log"_qs);
        QVERIFY(p.waitForFinished(kWaitMs));
        QCOMPARE(p.exitCode(), code);
        const QStringList lines = QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        const QList<ManifestMessage> expected = fx.manifest(user);
        QCOMPARE(lines.size(), code == 0 ? expected.size() : 0);
        if (code == 0) QCOMPARE(lines.last().section(u'\t', 4), unquoted(expected.last().subject));
        const QString log = QString::fromUtf8(p.readAllStandardError());
        QVERIFY2(log.contains(stderrHas), qPrintable(log));
        QVERIFY(given.isEmpty() || !log.contains(given));
    }

    void scannerExitCodes_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("stderrHas");
        QTest::addColumn<bool>("stripStls"); // through a line that takes STLS out of the CAPA reply
        QTest::newRow("empty mailbox prints nothing")
            << QStringList{u"--user"_qs, u"vacio"_qs} << u"vacio-clave-1"_qs << 0 << QString() << false;
        QTest::newRow("STLS stripped: the password goes in clear, said on stderr")
            << QStringList{u"--user"_qs, u"vacio"_qs} << u"vacio-clave-1"_qs << 0 << u"sin cifrar"_qs << true;
        QTest::newRow("STLS stripped, TLS required")
            << QStringList{u"--user"_qs, u"vacio"_qs, u"--require-tls"_qs} << u"vacio-clave-1"_qs << 3
            << u"El Servidor no ofrece conexión segura"_qs << true;
        QTest::newRow("wrong password") << QStringList{u"--user"_qs, u"ana"_qs} << u"mala"_qs << 3
                                        << u"Combinación USER/PASS no válida"_qs << false;
        QTest::newRow("no user") << QStringList{} << u"x"_qs << 2 << u"usage"_qs << false;
        QTest::newRow("unresolvable host") << QStringList{u"--user"_qs, u"ana"_qs, u"--host"_qs, u"nadie.invalid"_qs}
                                           << u"x"_qs << 1 << u"ESocketError"_qs << false;
    }
    void scannerExitCodes() {
        QFETCH(QStringList, args);
        QFETCH(QString, password);
        QFETCH(int, code);
        QFETCH(QString, stderrHas);
        QFETCH(bool, stripStls);
        int port = fx.pop3Port();
        QProcess proxy;
        if (stripStls) {
            proxy.start(u"python3"_qs, {QString::fromUtf8(TAVELO_TEST_SUPPORT_DIR) + u"/delayproxy.py"_qs,
                                        u"--target"_qs, fx.host() + u':' + QString::number(port), u"--delay-ms"_qs,
                                        u"0"_qs, u"--strip-capa"_qs, u"STLS"_qs});
            QVERIFY(proxy.waitForReadyRead(kWaitMs));
            port = QString::fromLatin1(proxy.readLine()).trimmed().toInt();
        }
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"TAVELO_PASSWORD"_qs, password);
        p.setProcessEnvironment(env);
        QStringList all{u"--host"_qs,        fx.host(), u"--port"_qs, QString::number(port), u"--trust-certificate"_qs,
                        fixtureFingerprint()};
        p.start(scanner(), all + args);
        QVERIFY(p.waitForFinished(kWaitMs));
        QCOMPARE(p.exitCode(), code);
        if (code == 0) QCOMPARE(p.readAllStandardOutput(), QByteArray());
        QVERIFY(QString::fromUtf8(p.readAllStandardError()).contains(stderrHas));
    }
};

QTEST_GUILESS_MAIN(TestPop3Dovecot)
#include "tst_pop3_dovecot.moc"
