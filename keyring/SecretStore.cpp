#include "SecretStore.h"

#include "Errors.h"
#include "SecretsFile.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDir>
#include <qt6keychain/keychain.h>

namespace {

/** The keyring's name for the program's secrets (the "service" of QtKeychain). */
const QString kKeyringService = u"Tavelo"_qs;

/** Names of a keyring on the session bus: the Secret Service (GNOME Keyring, KeePassXC, ...) and
 *  KWallet, which QtKeychain prefers on KDE. */
const QStringList kKeyringNames = {u"org.freedesktop.secrets"_qs, u"org.kde.kwalletd6"_qs, u"org.kde.kwalletd5"_qs};

/** How long the bus daemon may take to answer a question about names: it answers at once. */
constexpr int kBusTimeoutMs = 3000;

QDBusMessage askBus(const QDBusConnection& bus, const QString& method, const QVariantList& arguments = {}) {
    QDBusMessage call = QDBusMessage::createMethodCall(u"org.freedesktop.DBus"_qs, u"/org/freedesktop/DBus"_qs,
                                                       u"org.freedesktop.DBus"_qs, method);
    call.setArguments(arguments);
    return bus.call(call, QDBus::Block, kBusTimeoutMs);
}

/** Runs on the store's thread: connecting to the session bus may take its time (or start one). A
 *  keyring counts when it runs, or when the bus would start it on the first call. */
SecretStore::Backend detectBackend() {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return SecretStore::Backend::File;
    for (const QString& name : kKeyringNames) {
        const QDBusMessage reply = askBus(bus, u"NameHasOwner"_qs, {name});
        if (reply.type() == QDBusMessage::ReplyMessage && reply.arguments().value(0).toBool())
            return SecretStore::Backend::Keyring;
    }
    const QDBusMessage reply = askBus(bus, u"ListActivatableNames"_qs);
    const QStringList activatable =
        reply.type() == QDBusMessage::ReplyMessage ? reply.arguments().value(0).toStringList() : QStringList();
    for (const QString& name : kKeyringNames)
        if (activatable.contains(name)) return SecretStore::Backend::Keyring;
    return SecretStore::Backend::File;
}

/** Runs on the store's thread: the Secret Service's default collection, and whether it is unlocked
 *  (a write there asks the user nothing). False without a service or a default collection. */
bool defaultCollectionUnlocked() {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    const QString service = u"org.freedesktop.secrets"_qs;
    QDBusMessage alias = QDBusMessage::createMethodCall(service, u"/org/freedesktop/secrets"_qs,
                                                        u"org.freedesktop.Secret.Service"_qs, u"ReadAlias"_qs);
    alias << u"default"_qs;
    const QDBusMessage found = bus.call(alias, QDBus::Block, kBusTimeoutMs);
    if (found.type() != QDBusMessage::ReplyMessage) return false;
    const QString path = found.arguments().value(0).value<QDBusObjectPath>().path();
    if (path.isEmpty() || path == u"/") return false;
    QDBusMessage locked =
        QDBusMessage::createMethodCall(service, path, u"org.freedesktop.DBus.Properties"_qs, u"Get"_qs);
    locked << u"org.freedesktop.Secret.Collection"_qs << u"Locked"_qs;
    const QDBusMessage answer = bus.call(locked, QDBus::Block, kBusTimeoutMs);
    if (answer.type() != QDBusMessage::ReplyMessage) return false;
    const QVariant value = answer.arguments().value(0).value<QDBusVariant>().variant();
    return value.typeId() == QMetaType::Bool && !value.toBool();
}

/** Whether a failed job says there is no keyring after all. Through libsecret, QtKeychain reports a
 *  service that is gone or cannot be started as OtherError with the bus's error name in the text. */
bool keyringMissing(const QKeychain::Job* job) {
    if (job->error() == QKeychain::NoBackendAvailable) return true;
    const QString text = job->errorString();
    return job->error() == QKeychain::OtherError && (text.contains(u"org.freedesktop.DBus.Error.ServiceUnknown"_qs) ||
                                                     text.contains(u"org.freedesktop.DBus.Error.Spawn"_qs) ||
                                                     text.contains(u"org.freedesktop.DBus.Error.NoServer"_qs));
}

SecretResult failed(const QString& error) {
    return {SecretResult::Failed, {}, error, {}};
}

} // namespace

QString RefreshTokenKey(const QString& accountKey) {
    return accountKey + u"/refresh-token"_qs;
}

QString PasswordKey(const QString& accountKey) {
    return accountKey + u"/password"_qs;
}

SecretStore::SecretStore(const QString& dataDir, QObject* parent)
    : QObject(parent), m_filePath(SecretsFilePath(dataDir)), m_worker(new QObject) {
    qRegisterMetaType<SecretStore::Backend>();
    m_thread.setObjectName(u"SecretStore"_qs);
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread.start();
    QMetaObject::invokeMethod(m_worker, [this] {
        const Backend found = detectBackend();
        QMetaObject::invokeMethod(
            this, [this, found] { detected(found); }, Qt::QueuedConnection);
    });
}

SecretStore::~SecretStore() {
    // Queued behind whatever file work was asked for, so that work is done before the thread ends.
    QMetaObject::invokeMethod(m_worker, [this] { m_thread.quit(); });
    m_thread.wait();
}

QString SecretStore::BackendText(Backend backend) {
    switch (backend) {
    case Backend::Detecting:
        return u"Buscando el llavero del escritorio…"_qs;
    case Backend::Keyring:
        return u"Llavero del escritorio"_qs;
    case Backend::File:
        return u"Archivo protegido en la carpeta de datos"_qs;
    }
    return {};
}

void SecretStore::read(const QString& key, QObject* context, Done done) {
    enqueue({Op::Read, key, {}, context, context != nullptr, std::move(done)});
}

void SecretStore::write(const QString& key, const QString& secret, QObject* context, Done done) {
    enqueue({Op::Write, key, secret, context, context != nullptr, std::move(done)});
}

void SecretStore::remove(const QString& key, QObject* context, Done done) {
    enqueue({Op::Remove, key, {}, context, context != nullptr, std::move(done)});
}

void SecretStore::move(const QString& from, const QString& to, QObject* context, Done done) {
    if (from == to) return read(from, context, std::move(done)); // removing the old key would lose it
    QPointer<QObject> caller = context;
    auto answer = [caller, hadContext = context != nullptr, done](const SecretResult& result) {
        if (done && (caller || !hadContext)) done(result);
    };
    read(from, this, [this, from, to, answer](const SecretResult& got) {
        if (got.status != SecretResult::Done) return answer(got);
        write(to, got.secret, this, [this, from, answer](const SecretResult& written) {
            if (written.status != SecretResult::Done) return answer(written);
            remove(from, this, answer);
        });
    });
}

void SecretStore::askKeyringReady(QObject* context, std::function<void(bool ready)> done) {
    QPointer<QObject> caller = context;
    QMetaObject::invokeMethod(m_worker, [this, caller, done = std::move(done)] {
        const bool ready = defaultCollectionUnlocked();
        QMetaObject::invokeMethod(
            this,
            [caller, done, ready] {
                if (caller) done(ready);
            },
            Qt::QueuedConnection);
    });
}

void SecretStore::enqueue(Request request) {
    m_queue.append(std::move(request));
    startNext();
}

void SecretStore::startNext() {
    if (m_busy || m_queue.isEmpty() || m_backend == Backend::Detecting) return;
    m_busy = true;
    if (m_backend == Backend::Keyring)
        startInKeyring();
    else
        startInFile();
}

void SecretStore::detected(Backend backend) {
    m_backend = backend;
    emit backendChanged(backend);
    startNext();
}

void SecretStore::finish(const SecretResult& result) {
    const Request request = m_queue.takeFirst();
    m_busy = false;
    if (request.done && (request.context || !request.hadContext)) request.done(result);
    startNext();
}

void SecretStore::startInKeyring() {
    const Request& request = m_queue.first();
    QKeychain::Job* job = nullptr;
    switch (request.op) {
    case Op::Read:
        job = new QKeychain::ReadPasswordJob(kKeyringService);
        break;
    case Op::Write: {
        auto* writeJob = new QKeychain::WritePasswordJob(kKeyringService);
        writeJob->setTextData(request.secret);
        job = writeJob;
        break;
    }
    case Op::Remove:
        job = new QKeychain::DeletePasswordJob(kKeyringService);
        break;
    }
    // Without a parent: QtKeychain's callbacks may come after the store is gone, and the job, which
    // deletes itself once finished, must still be there for them.
    job->setAutoDelete(true);
    job->setKey(request.key);
    connect(job, &QKeychain::Job::finished, this, &SecretStore::keyringFinished);
    job->start();
}

void SecretStore::keyringFinished(QKeychain::Job* job) {
    const Request& request = m_queue.first();
    const QString key = request.key;
    const QString filePath = m_filePath;
    if (keyringMissing(job)) {
        m_backend = Backend::File;
        emit backendChanged(m_backend);
        startInFile();
        return;
    }
    switch (request.op) {
    case Op::Read:
        if (job->error() == QKeychain::NoError)
            return finish({SecretResult::Done, static_cast<QKeychain::ReadPasswordJob*>(job)->textData(), {}, {}});
        // Kept in the file by a run that had no keyring.
        if (job->error() == QKeychain::EntryNotFound) return startInFile();
        break;
    case Op::Write:
    case Op::Remove:
        if (job->error() == QKeychain::NoError ||
            (request.op == Op::Remove && job->error() == QKeychain::EntryNotFound)) {
            // Whatever a run without a keyring left in the file goes, so it never outlives the keyring's copy.
            return onFileThread(
                [filePath, key] {
                    try {
                        RemoveSecretFromFile(filePath, key);
                    } catch (const AppError&) {
                        // The keyring's answer stands: the file is looked into only where it has nothing.
                    }
                    return SecretResult{SecretResult::Done, {}, {}, {}};
                },
                [this](const SecretResult& result) { finish(result); });
        }
        break;
    }
    // The keyring is there but did not do it: the file does, and the user is told where the secret
    // went. QtKeychain's and the bus's texts are English: the reason is said in Spanish.
    const QString why = job->error() == QKeychain::AccessDenied ? u"se canceló o no pudo mostrarse su petición"_qs
                                                                : u"no respondió como se esperaba"_qs;
    switch (request.op) {
    case Op::Write:
        return startInFile(u"El llavero del escritorio no guardó el secreto (%1): se ha guardado en %2, que sólo "
                           "usted puede leer."_qs.arg(why, QDir::toNativeSeparators(filePath)));
    case Op::Read:
        return startInFile(); // kept there by an earlier refusal, or not at all (NotFound)
    case Op::Remove:
        return startInFile(u"El llavero del escritorio no borró el secreto (%1): bórrelo con su propia "
                           "herramienta."_qs.arg(why));
    }
}

void SecretStore::startInFile(const QString& note) {
    const Request& request = m_queue.first();
    const Op op = request.op;
    const QString key = request.key;
    const QString secret = request.secret;
    const QString filePath = m_filePath;
    onFileThread(
        [op, key, secret, filePath]() -> SecretResult {
            try {
                switch (op) {
                case Op::Read:
                    if (const std::optional<QString> found = ReadSecretFromFile(filePath, key))
                        return {SecretResult::Done, *found, {}, {}};
                    return {SecretResult::NotFound, {}, {}, {}};
                case Op::Write:
                    WriteSecretToFile(filePath, key, secret);
                    break;
                case Op::Remove:
                    RemoveSecretFromFile(filePath, key);
                    break;
                }
                return {SecretResult::Done, {}, {}, {}};
            } catch (const AppError& e) {
                return failed(e.message());
            }
        },
        [this, note](SecretResult result) {
            if (result.status != SecretResult::Failed) result.note = note;
            finish(result);
        });
}

void SecretStore::onFileThread(std::function<SecretResult()> work, std::function<void(const SecretResult&)> then) {
    QMetaObject::invokeMethod(m_worker, [this, work = std::move(work), then = std::move(then)] {
        const SecretResult result = work();
        QMetaObject::invokeMethod(
            this, [then, result] { then(result); }, Qt::QueuedConnection);
    });
}
