#include "QtClientSocket.h"

#include "Desktop.h"
#include "Errors.h"
#include "TextAndTime.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSslCipher>
#include <QSslSocket>
#include <QTimer>
#include <utility>

namespace {
// How long a closed connection waits for the server to answer what was sent last (the QUIT) and
// close its end, before it closes ours.
constexpr int kQuitAnswerMs = 5000;
// How long closing our end may take after that before the connection is cut off.
constexpr int kCloseGraceMs = 10000;

/** The connections closed here that have not ended yet; their sockets belong to nobody else. */
QList<QSslSocket*>& closingSockets() {
    static QList<QSslSocket*> sockets;
    return sockets;
}
/** The innermost waitForClosingConnections running, if any. */
QEventLoop* g_closingWaiter = nullptr;

void closingEnded(QSslSocket* socket) {
    if (!closingSockets().removeOne(socket)) return; // ended already
    socket->deleteLater();
    if (closingSockets().isEmpty() && g_closingWaiter) g_closingWaiter->quit();
}

void cutOffClosingAtExit() {
    // The application is being destroyed: no event loop will finish what is still ending.
    const QList<QSslSocket*> sockets = std::exchange(closingSockets(), {});
    for (QSslSocket* socket : sockets) {
        socket->abort();
        delete socket;
    }
}
} // namespace

int QtClientSocket::closingConnections() {
    return int(closingSockets().size());
}

bool QtClientSocket::waitForClosingConnections(int timeoutMs) {
    if (closingSockets().isEmpty()) return true;
    QEventLoop loop;
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    QEventLoop* outer = std::exchange(g_closingWaiter, &loop);
    // Sockets and timers go on; clicks and keys wait (the window that asked is closing).
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    g_closingWaiter = outer;
    if (closingSockets().isEmpty() && outer) outer->quit();
    return closingSockets().isEmpty();
}

QtClientSocket::QtClientSocket(IDesktop* desktop, QObject* parent) : IClientSocket(parent), m_desktop(desktop) {}

QtClientSocket::~QtClientSocket() {
    detach();
}

SocketFactory QtClientSocket::factory(IDesktop* desktop) {
    return [desktop] { return std::make_unique<QtClientSocket>(desktop); };
}

int QtClientSocket::winsockCode(QAbstractSocket::SocketError error) {
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return 10061; // WSAECONNREFUSED
    case QAbstractSocket::RemoteHostClosedError:
        return 10054; // WSAECONNRESET
    case QAbstractSocket::HostNotFoundError:
        return 10049; // WSAEADDRNOTAVAIL
    case QAbstractSocket::SocketAddressNotAvailableError:
        return 10049;
    case QAbstractSocket::SocketTimeoutError:
        return 10060; // WSAETIMEDOUT
    case QAbstractSocket::NetworkError:
        return 10050; // WSAENETDOWN
    case QAbstractSocket::SocketAccessError:
        return 10013; // WSAEACCES
    case QAbstractSocket::SocketResourceError:
        return 10055; // WSAENOBUFS
    case QAbstractSocket::DatagramTooLargeError:
        return 10040; // WSAEMSGSIZE
    case QAbstractSocket::AddressInUseError:
        return 10048; // WSAEADDRINUSE
    case QAbstractSocket::UnsupportedSocketOperationError:
        return 10045; // WSAEOPNOTSUPP
    case QAbstractSocket::TemporaryError:
        return 10035; // WSAEWOULDBLOCK
    default:
        return 10053; // WSAECONNABORTED
    }
}

void QtClientSocket::open(const QString& host, int port, bool encrypted) {
    detach();
    if (host.isEmpty()) throw ESocketError(u"No address specified"_qs);
    const quint64 generation = ++m_generation;
    m_host = host;
    auto* socket = new QSslSocket(this);
    m_socket = socket;
    connect(socket, &QAbstractSocket::connected, this, [this, generation, encrypted] {
        if (generation != m_generation) return;
        m_connected = true;
        m_tlsInProgress = encrypted; // TLS from the first byte: the handshake starts now
    });
    connect(socket, &QIODevice::readyRead, this, [this, generation] { onReadyRead(generation); });
    connect(socket, &QSslSocket::encrypted, this, [this, generation] {
        if (generation != m_generation || !m_socket) return;
        m_tlsInProgress = false;
        const QSslCipher cipher = m_socket->sessionCipher();
        emit this->encrypted(cipher.protocolString(), cipher.name());
    });
    // Asked there and then, so that the handshake goes on (or not) with the user's answer.
    connect(socket, &QSslSocket::sslErrors, this,
            [this, generation](const QList<QSslError>& errors) { onSslErrors(generation, errors); });
    // Errors can be raised inside connectToHost itself: queue them so that nothing reaches the
    // session before open() has returned.
    connect(
        socket, &QAbstractSocket::errorOccurred, this,
        [this, generation](QAbstractSocket::SocketError e) { onError(generation, e); }, Qt::QueuedConnection);
    if (!IsTcpPort(port)) {
        QTimer::singleShot(
            0, this, [this, generation] { onError(generation, QAbstractSocket::SocketAddressNotAvailableError); });
        return;
    }
    m_certificateRefused = false;
    if (encrypted)
        socket->connectToHostEncrypted(host, quint16(port));
    else
        socket->connectToHost(host, quint16(port));
}

void QtClientSocket::startTls() {
    if (!m_socket) return;
    m_tlsInProgress = true;
    m_certificateRefused = false;
    // What the server sent in clear after its answer is dropped, never read as part of the
    // encrypted stream (RFC 2595, 4).
    (void)m_socket->readAll();
    m_socket->startClientEncryption();
}

void QtClientSocket::onSslErrors(quint64 generation, const QList<QSslError>& errors) {
    if (generation != m_generation || !m_socket) return;
    const QSslCertificate cert = m_socket->peerCertificate();
    CertificateInfo info;
    info.subject = cert.subjectDisplayName();
    info.issuer = cert.issuerDisplayName();
    info.validFrom = cert.effectiveDate().toLocalTime().toString(u"dd/MM/yyyy"_qs);
    info.validTo = cert.expiryDate().toLocalTime().toString(u"dd/MM/yyyy"_qs);
    info.sha256 = QString::fromLatin1(cert.digest(QCryptographicHash::Sha256).toHex());
    for (const QSslError& e : errors)
        info.errors << e.errorString();
    QPointer<QSslSocket> socket = m_socket;
    const bool accepted = m_certificateDecision && m_certificateDecision(info);
    if (!socket || generation != m_generation) return; // closed while the question was open
    if (accepted) {
        socket->ignoreSslErrors(errors);
        return;
    }
    // Refused: end it here rather than wait for the socket to notice.
    m_certificateRefused = true;
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            if (generation != m_generation) return;
            detach();
            emit tlsFailed(true);
        },
        Qt::QueuedConnection);
}

void QtClientSocket::detach(bool afterStatusLine) {
    m_connected = false;
    m_tlsInProgress = false;
    ++m_generation;
    QSslSocket* socket = m_socket;
    m_socket = nullptr;
    if (!socket) return;
    socket->disconnect(this);
    socket->setParent(nullptr);
    if (socket->state() == QAbstractSocket::ConnectedState) {
        // What is queued (the QUIT: the server deletes only on QUIT) goes to the system now. Then
        // the server answers and closes its end, and what still comes is read and dropped until
        // it does: ours closed first would cut the server off before its answer, with that answer
        // left unread, so that the system resets the connection. A server that keeps it open has
        // ours closed gracefully after a while, and cut off if even that does not end.
        socket->flush();
        static const bool cleanupAdded = [] {
            qAddPostRoutine(cutOffClosingAtExit);
            return true;
        }();
        (void)cleanupAdded;
        closingSockets().append(socket);
        QObject::connect(socket, &QIODevice::readyRead, socket, [socket, afterStatusLine] {
            // The answer to QUIT is in once its line is: the deletions are made, and nothing is
            // left to wait for (a server that sent its TLS close may wait for ours instead of
            // ending the connection).
            if (socket->readAll().contains('\n') && afterStatusLine) socket->disconnectFromHost();
        });
        QObject::connect(socket, &QAbstractSocket::disconnected, socket, [socket] { closingEnded(socket); });
        QTimer::singleShot(kQuitAnswerMs, socket, [socket] { socket->disconnectFromHost(); });
        QTimer::singleShot(kQuitAnswerMs + kCloseGraceMs, socket, [socket] {
            socket->abort();
            closingEnded(socket);
        });
    } else {
        socket->abort();
        socket->deleteLater();
    }
}

void QtClientSocket::close() {
    detach();
}

void QtClientSocket::closeAfterStatusLine() {
    detach(true);
}

void QtClientSocket::send(const QByteArray& bytes) {
    if (!m_socket || !m_connected) return;
    m_socket->write(bytes);
    // Out now, not when control is back in the event loop: the server starts on the command while
    // the caller goes on (a header pass logs, announces and paints after each TOP it sends).
    m_socket->flush();
}

void QtClientSocket::onReadyRead(quint64 generation) {
    // A busy window can find megabytes waiting: read and handed on a slice at a time, each one is
    // converted and logged while it is still in the cache, and no buffer grows to the size of the
    // whole burst. Nothing more is handed on once the session has closed this connection (or
    // opened another) or started TLS (startTls drops what came in clear after the answer).
    QPointer<QtClientSocket> self(this);
    const bool tlsBefore = m_tlsInProgress;
    while (generation == m_generation && m_socket && m_tlsInProgress == tlsBefore) {
        // Into the buffer of the last slice: a fresh one every slice would cost the system's pages
        // again each time.
        QByteArray bytes = std::move(m_readBuffer);
        bytes.resize(kReadSlice);
        const qint64 got = m_socket->read(bytes.data(), kReadSlice);
        if (got <= 0) {
            m_readBuffer = std::move(bytes);
            return;
        }
        bytes.resize(got);
        emit dataRead(bytes);
        if (!self) return;
        m_readBuffer = std::move(bytes);
    }
}

void QtClientSocket::onError(quint64 generation, QAbstractSocket::SocketError error) {
    if (generation != m_generation) return;
    if (m_tlsInProgress) {
        // Whatever breaks the handshake: never a fall-back to clear text.
        m_tlsInProgress = false;
        m_connected = false;
        const bool refused = m_certificateRefused;
        detach();
        emit tlsFailed(refused);
        return;
    }
    if (error == QAbstractSocket::HostNotFoundError) {
        m_connected = false;
        if (m_desktop) m_desktop->reportUnhandledError(ESocketError(u"Host not found: "_qs + m_host));
        if (generation == m_generation) emit hostLookupFailed();
        return;
    }
    // What arrived before the failure is still the server's and comes first.
    if (m_socket && m_socket->bytesAvailable() > 0) {
        onReadyRead(generation);
        if (generation != m_generation) return;
    }
    m_connected = false;
    emit socketError(winsockCode(error));
}
