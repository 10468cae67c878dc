// What a POP3 session needs of its connection: an asynchronous client socket whose notifications all
// arrive through the event loop. The program uses the Qt adapter; tests hand the session a fake.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

/** What the user is shown about a server certificate that did not verify. */
struct CertificateInfo {
    QString subject;
    QString issuer;
    QString validFrom;
    QString validTo;
    QString sha256; ///< hex, lower case
    QStringList errors;
};

class IClientSocket : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~IClientSocket() override = default;

    /** @short Starts name resolution and connection and returns at once; every outcome arrives later
     *  as a notification. An empty host throws ESocketError("No address specified"). */
    virtual void open(const QString& host, int port, bool encrypted = false) = 0;
    /** @short Starts TLS on the open connection (after STLS); `encrypted` or `tlsFailed` follows. */
    virtual void startTls() = 0;
    /** @short Who decides, there and then, whether to go on with a certificate that did not verify. */
    void setCertificateDecision(std::function<bool(const CertificateInfo&)> decision) {
        m_certificateDecision = std::move(decision);
    }
    /** @short Closes the connection, sending what is queued first (a QUIT is not lost), and abandons
     *  a connection attempt still in progress. Raises no notification, now or later. */
    virtual void close() = 0;
    /** @short close() for a connection whose one answer still to come is a status line (the QUIT's):
     *  the connection ends as soon as that line has come, not when the server ends it (a server
     *  that sent its TLS close may wait for ours). */
    virtual void closeAfterStatusLine() { close(); }
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
    /** The connection is encrypted now. */
    void encrypted(const QString& protocol, const QString& cipher);
    /** TLS could not be set up; `certificateRefused` when it was the certificate that was refused. */
    void tlsFailed(bool certificateRefused);

protected:
    std::function<bool(const CertificateInfo&)> m_certificateDecision;
};

using SocketFactory = std::function<std::unique_ptr<IClientSocket>()>;
