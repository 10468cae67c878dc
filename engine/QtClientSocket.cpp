#include "QtClientSocket.h"

#include <QSslSocket>
#include <QTimer>

#include "Desktop.h"
#include "Errors.h"

namespace {
// How long a closing socket may take to hand its last bytes (the QUIT) to the server.
constexpr int kCloseGraceMs = 10000;
} // namespace

QtClientSocket::QtClientSocket(IDesktop* desktop, QObject* parent) : IClientSocket(parent), m_desktop(desktop) {}

QtClientSocket::~QtClientSocket() { detach(); }

SocketFactory QtClientSocket::factory(IDesktop* desktop) {
    return [desktop] { return std::make_unique<QtClientSocket>(desktop); };
}

int QtClientSocket::winsockCode(QAbstractSocket::SocketError error) {
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError: return 10061;     // WSAECONNREFUSED
    case QAbstractSocket::RemoteHostClosedError: return 10054;      // WSAECONNRESET
    case QAbstractSocket::HostNotFoundError: return 10049;          // WSAEADDRNOTAVAIL
    case QAbstractSocket::SocketAddressNotAvailableError: return 10049;
    case QAbstractSocket::SocketTimeoutError: return 10060;         // WSAETIMEDOUT
    case QAbstractSocket::NetworkError: return 10050;               // WSAENETDOWN
    case QAbstractSocket::SocketAccessError: return 10013;          // WSAEACCES
    case QAbstractSocket::SocketResourceError: return 10055;        // WSAENOBUFS
    case QAbstractSocket::DatagramTooLargeError: return 10040;      // WSAEMSGSIZE
    case QAbstractSocket::AddressInUseError: return 10048;          // WSAEADDRINUSE
    case QAbstractSocket::UnsupportedSocketOperationError: return 10045; // WSAEOPNOTSUPP
    case QAbstractSocket::TemporaryError: return 10035;             // WSAEWOULDBLOCK
    default: return 10053;                                          // WSAECONNABORTED
    }
}

void QtClientSocket::open(const QString& host, int port) {
    detach();
    if (host.isEmpty()) throw ESocketError(u"No address specified"_qs);
    const quint64 generation = ++m_generation;
    m_host = host;
    auto* socket = new QSslSocket(this);
    m_socket = socket;
    connect(socket, &QAbstractSocket::connected, this, [this, generation] {
        if (generation == m_generation) m_connected = true;
    });
    connect(socket, &QIODevice::readyRead, this, [this, generation] { onReadyRead(generation); });
    // Errors can be raised inside connectToHost itself: queue them so that nothing reaches the
    // session before open() has returned.
    connect(
        socket, &QAbstractSocket::errorOccurred, this,
        [this, generation](QAbstractSocket::SocketError e) { onError(generation, e); }, Qt::QueuedConnection);
    if (port < 0 || port > 65535) {
        QTimer::singleShot(0, this, [this, generation] {
            onError(generation, QAbstractSocket::SocketAddressNotAvailableError);
        });
        return;
    }
    socket->connectToHost(host, quint16(port));
}

void QtClientSocket::detach() {
    m_connected = false;
    ++m_generation;
    QSslSocket* socket = m_socket;
    m_socket = nullptr;
    if (!socket) return;
    socket->disconnect(this);
    socket->setParent(nullptr);
    if (socket->state() == QAbstractSocket::ConnectedState) {
        // Hand what is queued (the QUIT: the server deletes only on QUIT) to the system now, then
        // close gracefully; the socket frees itself once closed or after a grace period.
        socket->flush();
        QObject::connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(kCloseGraceMs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        socket->disconnectFromHost();
    } else {
        socket->abort();
        socket->deleteLater();
    }
}

void QtClientSocket::close() { detach(); }

void QtClientSocket::send(const QByteArray& bytes) {
    if (m_socket && m_connected) m_socket->write(bytes);
}

void QtClientSocket::onReadyRead(quint64 generation) {
    if (generation != m_generation || !m_socket) return;
    const QByteArray bytes = m_socket->readAll();
    if (!bytes.isEmpty()) emit dataRead(bytes);
}

void QtClientSocket::onError(quint64 generation, QAbstractSocket::SocketError error) {
    if (generation != m_generation) return;
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
