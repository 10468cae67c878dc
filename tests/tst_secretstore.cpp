// The secret store on a session bus of the test's own. Built as tst_secretstore_keyring, a real
// Secret Service runs there (GNOME Keyring, its login keyring made and unlocked with a known
// password): secrets must go to it and nowhere else. Built as tst_secretstore_file (SECRETS_IN_FILE),
// nothing runs there, and run again as tst_secretstore_nobus, there is no bus at all: secrets must
// go to Secretos.dat, owner-only.
#include "PrivateSessionBus.h"
#include "SecretStore.h"
#include "SecretsFile.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusObjectPath>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <optional>
#include <sys/stat.h>

namespace {

/** Long enough for any answer of a keyring on this machine; only a broken store waits it out. */
constexpr int kAnswerTimeoutMs = 30000;

#ifdef SECRETS_IN_FILE
constexpr SecretStore::Backend kExpected = SecretStore::Backend::File;
#else
constexpr SecretStore::Backend kExpected = SecretStore::Backend::Keyring;
#endif

#ifdef SECRETS_IN_FILE
int modeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}
#else
/** What the Secret Service holds under the key, asked with libsecret's own tool (QtKeychain files
 *  a secret under the attributes server = its service, user = the key). */
std::optional<QString> inKeyring(const QString& key) {
    QProcess tool;
    tool.start(u"secret-tool"_qs, {u"lookup"_qs, u"server"_qs, u"Tavelo"_qs, u"user"_qs, key});
    if (!tool.waitForFinished(kAnswerTimeoutMs) || tool.exitCode() != 0) return std::nullopt;
    return QString::fromUtf8(tool.readAllStandardOutput());
}
#endif

} // namespace

class TestSecretStore : public QObject {
    Q_OBJECT
    QTemporaryDir m_data;
    std::unique_ptr<SecretStore> m_store;

    QString filePath() const { return SecretsFilePath(m_data.path()); }

    /** The answer to one call, or none when it did not come. */
    std::optional<SecretResult> answer(const std::function<void(QObject*, SecretStore::Done)>& call) {
        QObject context; // gone on return: a late answer is not delivered into this frame
        std::optional<SecretResult> got;
        call(&context, [&got](const SecretResult& r) { got = r; });
        return QTest::qWaitFor([&got] { return got.has_value(); }, kAnswerTimeoutMs) ? got : std::nullopt;
    }
    std::optional<SecretResult> read(const QString& key) {
        return answer([&](QObject* c, SecretStore::Done d) { m_store->read(key, c, std::move(d)); });
    }
    std::optional<SecretResult> write(const QString& key, const QString& secret) {
        return answer([&](QObject* c, SecretStore::Done d) { m_store->write(key, secret, c, std::move(d)); });
    }
    /** Whether the store says the keyring would take a secret without asking, or none when it did not answer. */
    std::optional<bool> keyringReady() {
        QObject context;
        std::optional<bool> got;
        m_store->askKeyringReady(&context, [&got](bool ready) { got = ready; });
        return QTest::qWaitFor([&got] { return got.has_value(); }, kAnswerTimeoutMs) ? got : std::nullopt;
    }
    std::optional<SecretResult> remove(const QString& key) {
        return answer([&](QObject* c, SecretStore::Done d) { m_store->remove(key, c, std::move(d)); });
    }

    /** Where the secret must be, and only there. */
    void checkStored(const QString& key, const std::optional<QString>& secret) {
#ifdef SECRETS_IN_FILE
        QCOMPARE(ReadSecretFromFile(filePath(), key), secret);
        QCOMPARE(modeOf(filePath()), 0600);
#else
        QCOMPARE(inKeyring(key), secret);
        QVERIFY(!QFile::exists(filePath()));
#endif
    }

private slots:
    void initTestCase() {
        QVERIFY(m_data.isValid());
#ifndef SECRETS_IN_FILE
        QTRY_VERIFY_WITH_TIMEOUT(
            QDBusConnection::sessionBus().interface()->isServiceRegistered(u"org.freedesktop.secrets"_qs).value(),
            kAnswerTimeoutMs);
#endif
    }
    void init() {
        m_store = std::make_unique<SecretStore>(m_data.path());
    }
    void cleanup() {
        m_store.reset();
    }

#ifdef SECRETS_IN_FILE
    void withoutKeyringNothingIsReady() {
        QCOMPARE(keyringReady(), std::optional<bool>(false));
    }
#endif

    void backendIsFoundAndNamedInSpanish() {
        QSignalSpy changed(m_store.get(), &SecretStore::backendChanged);
        QCOMPARE(m_store->backend(), SecretStore::Backend::Detecting);
        QVERIFY(changed.wait(kAnswerTimeoutMs));
        QCOMPARE(m_store->backend(), kExpected);
        QCOMPARE(changed.first().first().value<SecretStore::Backend>(), kExpected);
        QCOMPARE(m_store->backendText(), kExpected == SecretStore::Backend::Keyring
                                             ? u"Llavero del escritorio"_qs
                                             : u"Archivo protegido en la carpeta de datos"_qs);
    }

    void secretIsWrittenReadOverwrittenAndRemoved_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("secret");
        QTest::newRow("refresh token") << RefreshTokenKey(u"ana%40x.es@pop.x.es:995"_qs)
                                       << u"M.C104_BAY.0.U.-CgD1k!rS9Vx*Ql7W2u_e.eyJ0eXAi"_qs;
        QTest::newRow("password, any character")
            << PasswordKey(u"luis@pop.y.es:110"_qs) << u"contraseña con = y € y\nsalto"_qs;
    }
    void secretIsWrittenReadOverwrittenAndRemoved() {
        QFETCH(QString, key);
        QFETCH(QString, secret);
        std::optional<SecretResult> r = write(key, secret);
        QVERIFY(r);
        QCOMPARE(r->error, QString());
        QCOMPARE(r->status, SecretResult::Done);
        checkStored(key, secret);
        r = read(key);
        QVERIFY(r);
        QCOMPARE(r->status, SecretResult::Done);
        QCOMPARE(r->secret, secret);

        QVERIFY(write(key, secret + u"2"_qs));
        checkStored(key, secret + u"2"_qs);
        r = read(key);
        QVERIFY(r);
        QCOMPARE(r->secret, secret + u"2"_qs);

        r = remove(key);
        QVERIFY(r);
        QCOMPARE(r->status, SecretResult::Done);
        checkStored(key, std::nullopt);
        r = read(key);
        QVERIFY(r);
        QCOMPARE(r->status, SecretResult::NotFound);
        r = remove(key); // nothing left to remove
        QVERIFY(r);
        QCOMPARE(r->status, SecretResult::Done);
    }

    void answersComeInTheOrderOfTheCalls() {
        const QString key = RefreshTokenKey(u"eva@pop.z.es:995"_qs);
        QList<SecretResult> answers;
        auto keep = [&answers](const SecretResult& r) { answers.append(r); };
        QTRY_COMPARE_WITH_TIMEOUT(m_store->backend(), kExpected, kAnswerTimeoutMs); // calls then start at once
        // The first read finds nothing in the keyring and goes on to look in the file: the calls
        // after it must wait for that.
        m_store->read(key, this, keep);
        m_store->write(key, u"uno"_qs, this, keep);
        m_store->read(key, this, keep);
        m_store->write(key, u"dos"_qs, this, keep);
        m_store->read(key, this, keep);
        m_store->remove(key, this, keep);
        m_store->read(key, this, keep);
        QTRY_COMPARE_WITH_TIMEOUT(answers.size(), 7, kAnswerTimeoutMs);
        QCOMPARE(answers[0].status, SecretResult::NotFound);
        QCOMPARE(answers[2].secret, u"uno"_qs);
        QCOMPARE(answers[4].secret, u"dos"_qs);
        QCOMPARE(answers[6].status, SecretResult::NotFound);
    }

    void moveFollowsARenamedAccount() {
        const QString from = RefreshTokenKey(u"ana@pop.x.es:110"_qs);
        const QString to = RefreshTokenKey(u"ana@pop.x.es:995"_qs);
        QVERIFY(write(from, u"token"_qs));
        std::optional<SecretResult> r = answer([&](QObject* c, SecretStore::Done d) { m_store->move(from, to, c, d); });
        QVERIFY(r);
        QCOMPARE(r->status, SecretResult::Done);
        checkStored(from, std::nullopt);
        checkStored(to, u"token"_qs);
        // An account saved without a change of server, port or user.
        r = answer([&](QObject* c, SecretStore::Done d) { m_store->move(to, to, c, d); });
        QVERIFY(r);
        QCOMPARE(r->status, SecretResult::Done);
        checkStored(to, u"token"_qs);
        QVERIFY(remove(to));
    }

#ifndef SECRETS_IN_FILE
    void secretLeftInTheFileByARunWithoutKeyringIsFoundThenMovedOut() {
        const QString key = PasswordKey(u"ana@pop.x.es:995"_qs);
        WriteSecretToFile(filePath(), key, u"de antes"_qs);
        std::optional<SecretResult> r = read(key);
        QVERIFY(r);
        QCOMPARE(r->secret, u"de antes"_qs);
        QVERIFY(write(key, u"nueva"_qs));
        QCOMPARE(ReadSecretFromFile(filePath(), key), std::nullopt);
        QCOMPARE(inKeyring(key), u"nueva"_qs);
        QVERIFY(remove(key));
        QFile::remove(filePath());
    }

    // Last: it leaves the keyring locked. A locked keyring asks to be unlocked, and here no prompt
    // can be shown (as when the user cancels it): the secret goes to the file, the answer says where
    // in Spanish, and it is read back from there.
    void lockedKeyringKeepsTheSecretInTheFile() {
        QCOMPARE(keyringReady(), std::optional<bool>(true)); // unlocked: storing there asks nothing
        QDBusMessage lock =
            QDBusMessage::createMethodCall(u"org.freedesktop.secrets"_qs, u"/org/freedesktop/secrets"_qs,
                                           u"org.freedesktop.Secret.Service"_qs, u"Lock"_qs);
        lock << QVariant::fromValue(
            QList<QDBusObjectPath>{QDBusObjectPath(u"/org/freedesktop/secrets/aliases/default"_qs)});
        const QDBusMessage locked = QDBusConnection::sessionBus().call(lock, QDBus::Block, kAnswerTimeoutMs);
        QVERIFY2(locked.type() == QDBusMessage::ReplyMessage, qPrintable(locked.errorMessage()));
        QCOMPARE(keyringReady(), std::optional<bool>(false)); // it would ask to be unlocked
        const QString key = PasswordKey(u"luis@pop.y.es:110"_qs);
        const std::optional<SecretResult> w = write(key, u"guardada"_qs);
        QVERIFY(w);
        QCOMPARE(w->status, SecretResult::Done);
        QVERIFY2(w->note.startsWith(u"El llavero del escritorio no guardó el secreto"_qs), qPrintable(w->note));
        QVERIFY(w->note.contains(filePath()));
        QCOMPARE(ReadSecretFromFile(filePath(), key), u"guardada"_qs);
        const std::optional<SecretResult> r = read(key);
        QVERIFY(r);
        QCOMPARE(r->status, SecretResult::Done);
        QCOMPARE(r->secret, u"guardada"_qs);
    }
#endif
};

int main(int argc, char* argv[]) {
    QTemporaryDir home;
    // QtKeychain picks KWallet on a KDE desktop: the desktop the tests run on must not count.
    for (const char* name : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION", "KDE_SESSION_VERSION",
                             "GNOME_DESKTOP_SESSION_ID"})
        qunsetenv(name);
    // The bus comes first: the store connects to the session bus named in the environment. With
    // TAVELO_TEST_NO_BUS that names a bus that is not there (and no display can start one).
    PrivateSessionBus bus;
    QString address;
    if (qEnvironmentVariableIsSet("TAVELO_TEST_NO_BUS")) {
        address = u"unix:path="_qs + home.filePath(u"no-bus"_qs);
        qunsetenv("DISPLAY");
    } else if ((address = bus.start(home.path())).isEmpty()) {
        qCritical("dbus-daemon did not start");
        return 1;
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
#ifndef SECRETS_IN_FILE
    // GNOME Keyring with its files in the test's folder; --unlock makes the login keyring (the
    // default collection) with the password it reads on its standard input, and unlocks it.
    QDir(home.path()).mkpath(u"data"_qs);
    QDir(home.path()).mkpath(u"run"_qs);
    QFile::setPermissions(home.filePath(u"run"_qs), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"XDG_DATA_HOME"_qs, home.filePath(u"data"_qs));
    env.insert(u"XDG_RUNTIME_DIR"_qs, home.filePath(u"run"_qs));
    QProcess keyring;
    keyring.setProcessEnvironment(env);
    EndWithThisProcess(keyring);
    keyring.start(u"gnome-keyring-daemon"_qs, {u"--foreground"_qs, u"--unlock"_qs, u"--components=secrets"_qs});
    if (!keyring.waitForStarted()) {
        qCritical("gnome-keyring-daemon did not start");
        return 1;
    }
    keyring.write("contraseña del llavero");
    keyring.waitForBytesWritten();
    keyring.closeWriteChannel();
#endif
    int rc = 0;
    {
        QCoreApplication app(argc, argv);
        TestSecretStore test;
        rc = QTest::qExec(&test, argc, argv);
    }
#ifndef SECRETS_IN_FILE
    keyring.kill();
    keyring.waitForFinished();
#endif
    return rc;
}

#include "tst_secretstore.moc"
