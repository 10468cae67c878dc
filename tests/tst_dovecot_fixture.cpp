// The private Dovecot the real-server tests share: it serves every generated mailbox exactly as its
// manifest says (count, sizes, order, bytes, doubled dots), answers over TLS with its own certificate,
// and a scratch mailbox can be changed and put back.
#include "DovecotFixture.h"

#include <QSslCertificate>
#include <QSslSocket>
#include <QTest>

namespace {

constexpr int kWaitMs = 10000;

/** @short A blocking POP3 client for checking the server; every wait is bounded. */
class Pop3 final {
public:
    Pop3() = default;
    Q_DISABLE_COPY_MOVE(Pop3)

    bool open(const DovecotFixture& fx) {
        m_socket.connectToHost(fx.host(), fx.pop3Port());
        return m_socket.waitForConnected(kWaitMs);
    }
    /** @short Connects to the TLS port, accepting only the fixture's own self-signed certificate. */
    bool openTls(const DovecotFixture& fx) {
        const QList<QSslCertificate> certs = QSslCertificate::fromPath(fx.certificatePath());
        if (certs.size() != 1) return false;
        m_socket.ignoreSslErrors({QSslError(QSslError::SelfSignedCertificate, certs.first())});
        m_socket.connectToHostEncrypted(fx.host(), fx.pop3sPort());
        return m_socket.waitForEncrypted(kWaitMs) && m_socket.peerCertificate() == certs.first();
    }
    bool login(const QString& user, const QString& password) {
        return line().startsWith("+OK") && command("USER " + user.toUtf8()).startsWith("+OK") &&
               command("PASS " + password.toUtf8()).startsWith("+OK");
    }
    /** @short One reply line with its CR LF; empty when none comes in time. */
    QByteArray line() { return upTo("\r\n"); }
    QByteArray command(const QByteArray& text) {
        m_socket.write(text + "\r\n");
        return line();
    }
    /** @short A multi-line reply as sent, dots still doubled, up to and including the final ".\r\n". */
    QByteArray multiLine(const QByteArray& text) {
        m_socket.write(text + "\r\n");
        return upTo("\r\n.\r\n");
    }
    bool quit() { return command("QUIT").startsWith("+OK"); }

private:
    QByteArray upTo(const QByteArray& end) {
        qsizetype at;
        while ((at = m_buffer.indexOf(end)) < 0) {
            if (!m_socket.waitForReadyRead(kWaitMs)) return {};
            m_buffer += m_socket.readAll();
        }
        const QByteArray reply = m_buffer.left(at + end.size());
        m_buffer.remove(0, reply.size());
        return reply;
    }

    QSslSocket m_socket;
    QByteArray m_buffer;
};

/** @short What a POP3 server sends for a whole message: CR LF line ends, a '.' doubled at a line
 *  start, the final "." line (RFC 1939, 3). */
QByteArray asSent(const QByteArray& file) {
    QByteArray out;
    for (const QByteArray& line : file.chopped(1).split('\n'))
        out += (line.startsWith('.') ? "." + line : line) + "\r\n";
    return out + ".\r\n";
}

QList<qint64> sizesOf(const QList<ManifestMessage>& messages) {
    QList<qint64> sizes;
    for (const ManifestMessage& m : messages)
        sizes << m.bytes;
    return sizes;
}

QByteArray statReply(const QList<qint64>& sizes) {
    qint64 total = 0;
    for (qint64 size : sizes)
        total += size;
    return "+OK " + QByteArray::number(sizes.size()) + ' ' + QByteArray::number(total) + "\r\n";
}

} // namespace

class TestDovecotFixture : public QObject {
    Q_OBJECT
    DovecotFixture m_fx;

private slots:
    void initTestCase() {
        TAVELO_REQUIRE_DOVECOT(m_fx);
        QVERIFY(m_fx.manifest(u"ana"_qs).size() >= 50);
        QCOMPARE(m_fx.users().size(), 13);
    }

    void mailboxIsServedAsItsManifestSays_data() {
        QTest::addColumn<QString>("user");
        QTest::newRow("test") << u"ana"_qs;
        QTest::newRow("demo") << u"demo"_qs;
        QTest::newRow("empty") << u"vacio"_qs;
    }
    void mailboxIsServedAsItsManifestSays() {
        QFETCH(QString, user);
        const QList<ManifestMessage> messages = m_fx.manifest(user);
        QCOMPARE(messages.isEmpty(), user == u"vacio"_qs);
        Pop3 pop;
        QVERIFY(pop.open(m_fx));
        QVERIFY(pop.login(user, m_fx.password(user)));
        QCOMPARE(pop.command("STAT"), statReply(sizesOf(messages)));

        QByteArray sizes;
        for (const ManifestMessage& m : messages)
            sizes += QByteArray::number(m.num) + ' ' + QByteArray::number(m.bytes) + "\r\n";
        const QByteArray list = pop.multiLine("LIST");
        QVERIFY2(list.startsWith("+OK"), list.constData());
        QCOMPARE(list.mid(list.indexOf("\r\n") + 2), sizes + ".\r\n");

        // TOP with more lines than any body: the whole message, byte for byte, in manifest order.
        for (const ManifestMessage& m : messages) {
            const QByteArray top = pop.multiLine("TOP " + QByteArray::number(m.num) + " 100000");
            QVERIFY2(top.startsWith("+OK\r\n"), top.constData());
            QCOMPARE(top.mid(5), asSent(m_fx.rawMessage(user, m.num)));
            QCOMPARE(pop3Size(m_fx.rawMessage(user, m.num)), m.bytes);
        }
        QVERIFY(pop.quit());
    }

    void stuffedLinesArriveWithTheDotDoubled() {
        const ManifestMessage m = m_fx.firstTagged(u"ana"_qs, u"dot-stuffed"_qs);
        QVERIFY(m.num > 0);
        QCOMPARE(m.dotLines, (QList<int>{2, 3, 4, 5}));
        Pop3 pop;
        QVERIFY(pop.open(m_fx));
        QVERIFY(pop.login(u"ana"_qs, m_fx.password(u"ana"_qs)));
        const QByteArray top = pop.multiLine("TOP " + QByteArray::number(m.num) + " 5");
        QVERIFY2(top.endsWith("\r\n..\r\n...\r\n..oculto\r\n....tres puntos\r\n.\r\n"), top.constData());
        QVERIFY(pop.quit());
    }

    void tlsPortGreetsAfterTheHandshake() {
        QVERIFY2(QSslSocket::supportsSsl(), "Qt has no TLS backend here");
        Pop3 pop;
        QVERIFY(pop.openTls(m_fx));
        QVERIFY(pop.login(u"ana"_qs, m_fx.password(u"ana"_qs)));
        QCOMPARE(pop.command("STAT"), statReply(sizesOf(m_fx.manifest(u"ana"_qs))));
        QVERIFY(pop.quit());
    }

    void scratchMailboxChangesAndIsPutBack() {
        const QString user = u"scratch8"_qs; // this program's scratch user
        const QList<ManifestMessage> messages = m_fx.manifest(user);
        QVERIFY2(m_fx.resetMailbox(user), qPrintable(m_fx.lastError()));
        {
            Pop3 pop;
            QVERIFY(pop.open(m_fx));
            QVERIFY(pop.login(user, m_fx.password(user)));
            QVERIFY(pop.command("DELE 1").startsWith("+OK"));
            QVERIFY(pop.quit()); // POP3 deletes on QUIT
        }
        const QByteArray first = "From: a@example.com\nSubject: primero\n\nuno\n.\n";
        const QByteArray second = "From: b@example.com\nSubject: segundo\n\ndos\n";
        QVERIFY2(m_fx.deliver(user, first), qPrintable(m_fx.lastError()));
        QVERIFY2(m_fx.deliver(user, second), qPrintable(m_fx.lastError()));
        {
            Pop3 pop;
            QVERIFY(pop.open(m_fx));
            QVERIFY(pop.login(user, m_fx.password(user)));
            const QList<qint64> now = sizesOf(messages).mid(1) << pop3Size(first) << pop3Size(second);
            QCOMPARE(pop.command("STAT"), statReply(now));
            const QByteArray n = QByteArray::number(now.size() - 1);
            QCOMPARE(pop.command("LIST " + n), "+OK " + n + ' ' + QByteArray::number(pop3Size(first)) + "\r\n");
            QCOMPARE(pop.multiLine("TOP " + n + " 9"), "+OK\r\n" + asSent(first));
            QVERIFY(pop.quit());
        }
        QVERIFY2(m_fx.resetMailbox(user), qPrintable(m_fx.lastError()));
        {
            Pop3 pop;
            QVERIFY(pop.open(m_fx));
            QVERIFY(pop.login(user, m_fx.password(user)));
            QCOMPARE(pop.command("STAT"), statReply(sizesOf(messages)));
            QCOMPARE(pop.multiLine("TOP 1 100000").mid(5), asSent(m_fx.rawMessage(user, 1)));
            QVERIFY(pop.quit());
        }
        QVERIFY(!m_fx.resetMailbox(u"ana"_qs));
        QVERIFY(!m_fx.deliver(u"vacio"_qs, first));
    }
};

QTEST_GUILESS_MAIN(TestDovecotFixture)
#include "tst_dovecot_fixture.moc"
