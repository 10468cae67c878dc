// The end of the sign-in's way back (RFC 8252 7.3): a small HTTP listener on 127.0.0.1 that takes the
// provider's redirect from the browser and answers it with a page in Spanish.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QUrlQuery>

class QTcpSocket;

class LoopbackListener final : public QObject {
    Q_OBJECT
public:
    explicit LoopbackListener(QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(LoopbackListener)

    /// The most connections served at once: a browser opens one or two. Any other local program
    /// may connect as well, and one that opens hundreds is closed on at once beyond these.
    static constexpr int kMaxConnections = 8;

    /** @short Listens on 127.0.0.1 on a port the system picks; false with errorString() when it cannot. */
    bool listen();
    QString errorString() const { return m_server.errorString(); }
    /** @short http://127.0.0.1:PORT/ */
    QString redirectUri() const;
    /** @short Only a redirect carrying this state counts; any other request is answered and ignored. */
    void setExpectedState(const QString& state) { m_state = state; }
    /** @short Answers the browser that brought the redirect (if it still waits) with the outcome, and
     *  takes no more connections. */
    void finish(bool signedIn, const QString& reason);
    /** @short Takes no more connections and drops those open. */
    void close();

signals:
    /** @short The redirect came back with the expected state: its parameters (code, or error and
     *  error_description), decoded. The browser waits for finish(). */
    void redirected(const QUrlQuery& parameters);

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);
    void answer(QTcpSocket* socket, QByteArray status, const QString& title, const QString& text);

    QTcpServer m_server;
    QString m_state;
    QPointer<QTcpSocket> m_waiting; ///< the browser that brought the redirect
    bool m_redirected = false;
};
