// The socket the program uses: a fresh QSslSocket for every connection, its errors mapped to the
// WinSock numbers the session understands.
#pragma once

#include "ClientSocket.h"

#include <QAbstractSocket>
#include <QPointer>

class IDesktop;
class QSslSocket;

class QtClientSocket final : public IClientSocket {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QtClientSocket)
public:
    /** `desktop` receives the ESocketError of a host name that cannot be resolved (may be null). */
    explicit QtClientSocket(IDesktop* desktop, QObject* parent = nullptr);
    ~QtClientSocket() override;

    void open(const QString& host, int port, bool encrypted = false) override;
    void startTls() override;
    void close() override;
    void closeAfterStatusLine() override;
    void send(const QByteArray& bytes) override;
    bool isActive() const override { return m_connected; }

    /** @short The WinSock error number of a Qt socket error. */
    static int winsockCode(QAbstractSocket::SocketError error);
    /** @short A factory for sessions, reporting lookup failures to `desktop`. */
    static SocketFactory factory(IDesktop* desktop);

    /** @short Connections closed but not ended yet: each waits for the server to answer its QUIT
     *  (and, unless closed after that answer's line, to close its end) or for its time to run out. */
    static int closingConnections();
    /** @short Runs the event loop until no closed connection is still ending, for at most
     *  `timeoutMs`. True when none is left. */
    static bool waitForClosingConnections(int timeoutMs);
    /** How long a program that ends waits for its servers to answer their QUIT, in all. */
    static constexpr int kExitWaitMs = 3000;

private:
    /** The most bytes one dataRead carries. */
    static constexpr qsizetype kReadSlice = 32 * 1024;

    /** Lets go of the connection; `afterStatusLine`: ours ends as soon as a whole line has come. */
    void detach(bool afterStatusLine = false);
    void onReadyRead(quint64 generation);
    void onError(quint64 generation, QAbstractSocket::SocketError error);
    void onSslErrors(quint64 generation, const QList<class QSslError>& errors);

    IDesktop* m_desktop;
    QPointer<QSslSocket> m_socket;
    QByteArray m_readBuffer; ///< the buffer of the last slice read, kept for the next one
    QString m_host;
    quint64 m_generation = 0;
    bool m_connected = false;
    bool m_tlsInProgress = false;
    bool m_certificateRefused = false;
};
