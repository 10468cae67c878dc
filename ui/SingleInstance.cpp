#include "SingleInstance.h"

#include "DataFile.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QThread>
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

} // namespace

SingleInstance::SingleInstance(const QString& dataDir, QObject* parent)
    : QObject(parent), m_lock(QDir(dataDir).filePath(kLockFileName.toString())) {
    // A copy that runs for days keeps its lock: only the end of its process frees it (QLockFile
    // then finds the process named in the file gone and takes the lock over).
    m_lock.setStaleLockTime(0);
    // Local sockets live in the temporary directory shared by every user: the name carries the
    // user's id besides the folder, and the socket is open to its owner only.
    const QByteArray folderHash =
        QCryptographicHash::hash(canonicalFolder(dataDir).toUtf8(), QCryptographicHash::Sha256).toHex().left(32);
    m_serverName = u"tavelo-"_qs + QString::number(::getuid()) + u'-' + QString::fromLatin1(folderHash);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        // A connection is the whole request.
        while (QLocalSocket* peer = m_server.nextPendingConnection()) {
            peer->abort();
            peer->deleteLater();
        }
        emit activationRequested();
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
        peer.connectToServer(m_serverName);
        if (peer.waitForConnected(kRetryMs)) {
            peer.disconnectFromServer();
            return Claim::HandedOver;
        }
        if (deadline.hasExpired()) return Claim::Unreachable;
        QThread::msleep(kRetryMs);
    }
}

void SingleInstance::listen() {
    // The lock is ours: a socket file left behind by a copy that was killed belongs to no one.
    QLocalServer::removeServer(m_serverName);
    if (!m_server.listen(m_serverName))
        qWarning("Tavelo: cannot listen on %s (%s): a second start will not bring this window to the front",
                 qPrintable(m_serverName), qPrintable(m_server.errorString()));
}
