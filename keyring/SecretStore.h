// The accounts' secrets (refresh tokens, and passwords where the user wants them out of
// Cuentas.dat): in the desktop keyring through QtKeychain (the Secret Service, or KWallet), or,
// where the session runs none, in Secretos.dat in the data folder (owner-only). Which of the two
// is decided once, at the start, from the session bus; a keyring that turns out to be absent when
// asked moves the store to the file for the rest of the run.
//
// A keyring that is there but will not take or give a secret (its prompt cancelled, or no prompt
// possible; locked; a bus error) never loses one: the call goes to the file, and the answer says so.
//
// Every call returns at once. The calls are carried out one at a time, in the order they were made,
// and each answer comes later on the caller's thread; nothing waits on the GUI thread: the bus is
// asked and the file read and written on a thread of the store's own. Secrets never reach a log
// or an error text.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QThread>
#include <functional>

namespace QKeychain {
class Job;
}

/** @short The names of an account's secrets, from its AccountKey. */
QString RefreshTokenKey(const QString& accountKey);
QString PasswordKey(const QString& accountKey);

/** @short The answer to one call. */
struct SecretResult {
    enum Status { Done, NotFound, Failed };
    Status status = Failed;
    QString secret; ///< what was read (Done after a read)
    QString error;  ///< why it failed, for the user (Failed)
    /** Where the secret went when the keyring refused it (a prompt cancelled or impossible, a locked
     *  keyring, a bus error) and the file took it instead; for the user, in Spanish. */
    QString note;
};

class SecretStore final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SecretStore)
public:
    enum class Backend { Detecting, Keyring, File };
    using Done = std::function<void(const SecretResult& result)>;

    /** @short Starts finding out whether the session has a keyring; the file fall-back is
     *  Secretos.dat in `dataDir`. Calls made meanwhile wait for the answer. */
    explicit SecretStore(const QString& dataDir, QObject* parent = nullptr);
    /** @short Finishes the file writes already asked for; answers still owed are not given. */
    ~SecretStore() override;

    Backend backend() const { return m_backend; }
    /** @short Where secrets are kept, in words for the accounts dialog. */
    static QString BackendText(Backend backend);
    QString backendText() const { return BackendText(m_backend); }

    /** @short Reads the secret; NotFound when there is none. In the keyring, a secret stored in
     *  the file during an earlier run without one is found too. `done` is called unless `context`
     *  is gone by then (without a context, always; an empty `done` is never called). */
    void read(const QString& key, QObject* context, Done done);
    /** @short Stores the secret, replacing any under that key. Once it is in the keyring, a copy
     *  left in the file by an earlier run is removed. */
    void write(const QString& key, const QString& secret, QObject* context, Done done);
    /** @short Removes the secret from wherever it is; Done also when there was none. */
    void remove(const QString& key, QObject* context, Done done);
    /** @short Moves a secret to another key (an account whose server, port or user changed):
     *  read, written under the new key, removed from the old. NotFound when there was none. */
    void move(const QString& from, const QString& to, QObject* context, Done done);
    /** @short Whether storing in the keyring would ask the user nothing: a Secret Service answers
     *  and its default collection is there and unlocked. `done` is called later, unless `context`
     *  is gone by then. */
    void askKeyringReady(QObject* context, std::function<void(bool ready)> done);

signals:
    /** The keyring was found or not, or turned out to be absent after all. */
    void backendChanged(SecretStore::Backend backend);

private:
    enum class Op { Read, Write, Remove };
    struct Request {
        Op op;
        QString key;
        QString secret;
        QPointer<QObject> context;
        bool hadContext;
        Done done;
    };

    void enqueue(Request request);
    /** @short Starts the oldest call when none is under way and the backend is known. */
    void startNext();
    void detected(Backend backend);
    void startInKeyring();
    void keyringFinished(QKeychain::Job* job);
    /** @short The call under way, in the file; `note` goes with its answer. */
    void startInFile(const QString& note = {});
    /** @short Runs `work` on the store's thread and hands its result to `then` on this one. */
    void onFileThread(std::function<SecretResult()> work, std::function<void(const SecretResult&)> then);
    /** @short Answers the call under way and starts the next. */
    void finish(const SecretResult& result);

    QString m_filePath;
    Backend m_backend = Backend::Detecting;
    QList<Request> m_queue; ///< the call under way (when m_busy) first, then those waiting
    bool m_busy = false;
    QThread m_thread;
    QObject* m_worker = nullptr; ///< lives on m_thread: what runs there is invoked on it
};

Q_DECLARE_METATYPE(SecretStore::Backend)
