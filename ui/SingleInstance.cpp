#include "SingleInstance.h"

#include "DataFile.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QThread>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// How long a second start keeps trying to reach the copy that holds the folder: that copy may be
// starting itself and not listen yet, or may just have ended and free the lock.
constexpr int kReachMs = 5000;
constexpr int kRetryMs = 100;

QString canonicalFolder(const QString& dir) {
    const QFileInfo info(dir);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.absoluteFilePath() : canonical;
}

/** $XDG_RUNTIME_DIR when it is what it should be: a folder of this user's that only this user may
 *  enter (nobody else can have put a socket there). Empty otherwise. */
QString privateRuntimeFolder() {
    const QByteArray dir = qgetenv("XDG_RUNTIME_DIR");
    struct stat st {};
    if (!dir.startsWith('/') || ::stat(dir.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
        (st.st_mode & 07777) != S_IRWXU)
        return {};
    return QFile::decodeName(dir);
}

/** Whether the process at the other end of the connected socket runs as this user: a socket file
 *  proves nothing, since another user may have made it; the kernel's word on the peer does. */
bool sameUser(const QLocalSocket& socket) {
    const qintptr fd = socket.socketDescriptor();
    ucred peer{};
    socklen_t size = sizeof peer;
    return fd >= 0 && ::getsockopt(int(fd), SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && size == sizeof peer &&
           peer.uid == ::getuid();
}

} // namespace

SingleInstance::SingleInstance(const QString& dataDir, QObject* parent)
    : QObject(parent), m_lock(QDir(dataDir).filePath(kLockFileName.toString())) {
    // A copy that runs for days keeps its lock: only the end of its process frees it (QLockFile
    // then finds the process named in the file gone and takes the lock over).
    m_lock.setStaleLockTime(0);
    // The runtime folder is the user's alone, but shared by every data folder: the name carries the
    // folder's. The socket itself is open to its owner only.
    const QString folder = canonicalFolder(dataDir);
    const QString runtime = privateRuntimeFolder();
    if (runtime.isEmpty()) {
        m_socketPath = QDir(folder).filePath(kSocketFileName.toString());
    } else {
        const QByteArray folderHash =
            QCryptographicHash::hash(folder.toUtf8(), QCryptographicHash::Sha256).toHex().left(32);
        m_socketPath = runtime + u"/tavelo-"_qs + QString::fromLatin1(folderHash);
    }
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        // A connection is the whole request; one from another user's process is no request at all.
        bool asked = false;
        while (QLocalSocket* peer = m_server.nextPendingConnection()) {
            asked = asked || sameUser(*peer);
            peer->abort();
            peer->deleteLater();
        }
        if (asked) emit activationRequested();
    });
}

SingleInstance::Claim SingleInstance::claim() {
    const QDeadlineTimer deadline(kReachMs);
    for (;;) {
        bool locked = false;
        {
            // The lock names this process: nobody else's concern. QLockFile makes it the umask's way.
            const OwnerOnlyCreation ownerOnly;
            locked = m_lock.tryLock(0);
        }
        if (locked) {
            listen();
            return Claim::First;
        }
        if (m_lock.error() != QLockFile::LockFailedError) {
            qWarning("Tavelo: cannot create the lock file %s: another copy started on this data folder will not "
                     "be noticed",
                     qPrintable(QDir::toNativeSeparators(m_lock.fileName())));
            return Claim::First;
        }
        QLocalSocket peer;
        peer.connectToServer(m_socketPath);
        if (peer.waitForConnected(kRetryMs)) {
            if (!sameUser(peer)) {
                peer.abort();
                return Claim::Impostor;
            }
            peer.disconnectFromServer();
            return Claim::HandedOver;
        }
        if (deadline.hasExpired()) return Claim::Unreachable;
        QThread::msleep(kRetryMs);
    }
}

void SingleInstance::listen() {
    // The lock is ours: a socket file left behind by a copy that was killed belongs to no one.
    QLocalServer::removeServer(m_socketPath);
    if (!m_server.listen(m_socketPath))
        qWarning("Tavelo: cannot listen on %s (%s): a second start will not bring this window to the front",
                 qPrintable(m_socketPath), qPrintable(m_server.errorString()));
}
