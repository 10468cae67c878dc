// What a POP3 session needs of its connection: an asynchronous client socket whose notifications all
// arrive through the event loop. The program uses the Qt adapter; tests hand the session a fake.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class IClientSocket : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~IClientSocket() override = default;

    /** @short Starts name resolution and connection and returns at once; every outcome arrives later
     *  as a notification. An empty host throws ESocketError("No address specified"). */
    virtual void open(const QString& host, int port) = 0;
    /** @short Closes the connection, sending what is queued first (a QUIT is not lost), and abandons
     *  a connection attempt still in progress. Raises no notification, now or later. */
    virtual void close() = 0;
    /** @short Queues bytes for sending; does nothing when not connected. */
    virtual void send(const QByteArray& bytes) = 0;
    /** @short True from the connect notification until the connection ends or is closed. */
    virtual bool isActive() const = 0;

signals:
    /** Bytes arrived: everything available now (part of a line, a line, many lines). */
    void dataRead(const QByteArray& bytes);
    /** A failure of connect, read, write or close, with its WinSock error number. */
    void socketError(int winsockCode);
    /** The host name could not be resolved. No socketError follows; the connection attempt is over. */
    void hostLookupFailed();
};

using SocketFactory = std::function<std::unique_ptr<IClientSocket>()>;
