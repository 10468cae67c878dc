// One running copy per data folder: two copies would both log in to the same mailboxes and each
// write Cuentas.dat, Filtros.dat and the settings over what the other saved. The first copy holds a
// lock file in the data folder and listens on a local socket named after that folder; a second
// start finds the lock taken, asks the first to come to the front through the socket and ends.
// The socket lives where no other user can put one of their own: in $XDG_RUNTIME_DIR when that is
// a folder of this user's that nobody else may enter, else in the data folder. Even so, each end
// checks that the other runs as the same user before it trusts it.
#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

class SingleInstance final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SingleInstance)
public:
    enum class Claim {
        First,       ///< this process holds the folder now (a lock left by a process that ended is taken over)
        HandedOver,  ///< another running copy holds it and was asked to come to the front
        Unreachable, ///< another running copy holds it but did not take the request
        Impostor     ///< another copy holds it, and the socket answers as another user: nothing was asked
    };

    explicit SingleInstance(const QString& dataDir, QObject* parent = nullptr);
    ~SingleInstance() override = default; // the socket closes before the lock is freed

    /** @short Takes the data folder for this process, or hands over to the copy that holds it.
     *  Waits at most a few seconds for that copy to take the request. When the lock file cannot be
     *  made at all (a folder without write access) this process goes on as the first. */
    Claim claim();

    /** The lock file in the data folder. */
    QString lockPath() const { return m_lock.fileName(); }
    /** The local socket's full path: the same for every process of this user on this data folder. */
    QString socketPath() const { return m_socketPath; }

    /** The name of the lock file in the data folder. */
    static constexpr QStringView kLockFileName = u"Tavelo.lock";
    /** The name of the socket when it lives in the data folder. */
    static constexpr QStringView kSocketFileName = u"Tavelo.socket";

signals:
    /** Another start of this user on the same data folder asked this copy to come to the front. */
    void activationRequested();

private:
    void listen();

    QLockFile m_lock; // declared first: freed last
    QString m_socketPath;
    QLocalServer m_server;
};
