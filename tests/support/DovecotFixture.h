// The tests' private Dovecot server (tests/support/dovecot/fixture.py, started by CTest as the fixture
// "dovecot"): where it listens, its users, what each mailbox holds, and changes to scratch mailboxes.
// QtCore only.
#pragma once

#include <QByteArray>
#include <QList>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <memory>

/** @short One message of a generated mailbox, as its manifest (genmail.py) describes it. */
struct ManifestMessage {
    int num = 0;      ///< POP3 message number, 1-based
    qint64 bytes = 0; ///< the size the server reports in LIST (line ends counted as CR LF)
    QString file;     ///< the file inside the Maildir ("cur/...")
    QString messageId;
    /// Header values as written, unfolded (a line break and the blanks after it became one blank);
    /// empty when the message has no such header.
    QString rawFrom, rawSubject, rawDate, rawTo, rawCc;
    QString from, subject; ///< the raw values with their encoded words decoded, as a human reads them
    QStringList to, cc;    ///< the addresses of the To and Cc lists
    int headerLines = 0;
    int bodyLines = 0;
    QList<int> dotLines; ///< 1-based body lines that start with '.' (sent with the dot doubled)
    QStringList tags;    ///< what sets it apart: "dot-stuffed", "no-body", "tab-fold", ...
};

/** @short The size a POP3 server reports for a message: every LF not preceded by CR counts as CR LF. */
qint64 pop3Size(const QByteArray& message);

/**
 * @short The running fixture, read from <dir>/info.ini.
 *
 * <dir> is $TAVELO_DOVECOT_DIR, which CTest sets for every test registered with FIXTURES dovecot,
 * or else <build>/tests/dovecot. Users: "ana" (test mailbox, never change it), "vacio" (empty),
 * "demo" (demo mailbox), "scratch1".."scratch8" (copies of the test mailbox a test may change;
 * each test program takes its own scratch user) and "oauth" (the test mailbox, never change it),
 * who has no password: it logs in with SASL XOAUTH2 or OAUTHBEARER and an access token of the
 * fixture's authorization server (tests/support/oauth_server.py, at oauthPort(): POST
 * /control/issue user=oauth issues one, /control/expire and /control/revoke end them).
 */
class DovecotFixture final {
public:
    DovecotFixture();
    ~DovecotFixture();
    Q_DISABLE_COPY_MOVE(DovecotFixture)

    /** @short Empty when the server is running; otherwise why it cannot be used. */
    QString problem() const;
    /** @short True when CTest runs the test: a missing server is then a failure, not a skip. */
    bool underCTest() const;

    QString dir() const;
    QString host() const;
    quint16 pop3Port() const;
    quint16 pop3sPort() const;
    /** @short The port of the authorization server (HTTP on host()) whose token introspection the
     *  server asks for token logins. */
    quint16 oauthPort() const;
    QString certificatePath() const; ///< the self-signed certificate the TLS port presents
    QString logPath() const;
    QStringList users() const;
    QString password(const QString& user) const; ///< empty for "oauth"
    QString maildir(const QString& user) const;
    bool isScratch(const QString& user) const;
    /** @short Where the server logs the user's sessions line by line as they pass (a .in file of
     *  what the client sent and a .out file of the answers, per session); empty for users without
     *  such a log (only scratch7 has one). */
    QString rawlogDir(const QString& user) const;

    /** @short The messages of the user's mailbox in POP3 order (as the fixture started it). */
    QList<ManifestMessage> manifest(const QString& user) const;
    /** @short The first manifest message with the tag; num is 0 when there is none. */
    ManifestMessage firstTagged(const QString& user, const QString& tag) const;
    /** @short The message file as generated (LF line ends), empty if unknown. */
    QByteArray rawMessage(const QString& user, int num) const;

    /** @short Puts a scratch user's Maildir back as the fixture started it. Call it after the test's
     *  sessions of that user have ended (QUIT): it waits up to 10 s for their server processes to finish
     *  writing. False (see lastError) on failure, or for a user that is not scratch. */
    bool resetMailbox(const QString& user);
    /** @short Drops a message into a scratch user's Maildir/new; it comes after every message already
     *  there, and messages delivered one after another keep their order. */
    bool deliver(const QString& user, const QByteArray& message);
    QString lastError() const { return m_error; }

private:
    QString userValue(const QString& user, const QString& key) const;
    bool fail(const QString& error);
    bool waitForNoSession(const QString& user);
    bool own(const QString& path, bool directory);

    QString m_dir;
    bool m_underCTest = false;
    std::unique_ptr<QSettings> m_info;
    QString m_error;
};

/** @short In a test function (initTestCase to cover them all): skip when run by hand without the
 *  server, fail when CTest runs the test without it. */
#define TAVELO_REQUIRE_DOVECOT(fixture)                                                                                \
    do {                                                                                                               \
        const QString why_ = (fixture).problem();                                                                      \
        if (!why_.isEmpty()) {                                                                                         \
            if ((fixture).underCTest()) QFAIL(qPrintable(why_));                                                       \
            QSKIP(qPrintable(why_));                                                                                   \
        }                                                                                                              \
    } while (false)
