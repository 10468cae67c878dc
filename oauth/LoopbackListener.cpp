#include "LoopbackListener.h"

#include <QTcpSocket>
#include <QTimer>

namespace {
constexpr int kMaxRequestHead = 16 * 1024;
// A browser's spare connection that never sends a request is closed after this.
constexpr int kIdleMs = 15000;
const QString kCloseTab = u"Puede cerrar esta pestaña."_qs;
} // namespace

LoopbackListener::LoopbackListener(QObject* parent) : QObject(parent) {
    connect(&m_server, &QTcpServer::newConnection, this, &LoopbackListener::onNewConnection);
}

bool LoopbackListener::listen() {
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QString LoopbackListener::redirectUri() const {
    return u"http://127.0.0.1:%1/"_qs.arg(m_server.serverPort());
}

void LoopbackListener::onNewConnection() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        qsizetype open = 0;
        for (const QTcpSocket* other : findChildren<QTcpSocket*>(Qt::FindDirectChildrenOnly))
            if (other->state() != QAbstractSocket::UnconnectedState) ++open;
        if (open >= kMaxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        socket->setParent(this);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        QTimer::singleShot(kIdleMs, socket, [this, socket] {
            if (socket != m_waiting) socket->abort();
        });
    }
}

// RFC 9112 3: request-line = method SP request-target SP HTTP-version CRLF, then the header fields
// up to an empty line. Only the request line matters here; a body is never expected.
void LoopbackListener::onReadyRead(QTcpSocket* socket) {
    if (socket == m_waiting || socket->property("answered").toBool()) {
        socket->readAll();
        return;
    }
    const QByteArray head = socket->peek(kMaxRequestHead);
    if (!head.contains("\r\n\r\n")) {
        if (head.size() >= kMaxRequestHead) socket->abort();
        return;
    }
    socket->readAll();
    const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
    if (requestLine.size() != 3 || requestLine[0] != "GET") {
        answer(socket, "405 Method Not Allowed", u"Tavelo"_qs, kCloseTab);
        return;
    }
    const QByteArray target = requestLine[1];
    const qsizetype mark = target.indexOf('?');
    if ((mark < 0 ? target : target.left(mark)) != "/") { // favicon.ico and the like
        answer(socket, "404 Not Found", u"Tavelo"_qs, kCloseTab);
        return;
    }
    // The query is form-encoded: '+' stands for a space.
    QByteArray query = mark < 0 ? QByteArray() : target.mid(mark + 1);
    query.replace('+', "%20");
    const QUrlQuery parameters(QString::fromLatin1(query));
    const QString state = parameters.queryItemValue(u"state"_qs, QUrl::FullyDecoded);
    if (m_redirected || m_state.isEmpty() || state != m_state) {
        answer(socket, "400 Bad Request", u"Tavelo"_qs,
               u"Esta dirección no corresponde al inicio de sesión en curso. "_qs + kCloseTab);
        return;
    }
    m_redirected = true;
    m_waiting = socket;
    emit redirected(parameters);
}

void LoopbackListener::finish(bool signedIn, const QString& reason) {
    m_server.close();
    if (!m_waiting) return;
    if (signedIn)
        answer(m_waiting, "200 OK", u"Sesión iniciada"_qs, u"Tavelo ya puede usar la cuenta. "_qs + kCloseTab);
    else
        answer(m_waiting, "200 OK", u"No se pudo iniciar la sesión"_qs, reason + u' ' + kCloseTab);
    m_waiting = nullptr;
}

void LoopbackListener::close() {
    m_server.close();
    m_waiting = nullptr;
    for (QTcpSocket* socket : findChildren<QTcpSocket*>(Qt::FindDirectChildrenOnly))
        socket->abort();
}

void LoopbackListener::answer(QTcpSocket* socket, QByteArray status, const QString& title, const QString& text) {
    const QByteArray html = (u"<!DOCTYPE html>\n<html lang=\"es\"><head><meta charset=\"utf-8\"><title>"_qs +
                             title.toHtmlEscaped() + u"</title></head>\n<body><h1>"_qs + title.toHtmlEscaped() +
                             u"</h1><p>"_qs + text.toHtmlEscaped() + u"</p></body></html>\n"_qs)
                                .toUtf8();
    socket->setProperty("answered", true);
    socket->write("HTTP/1.1 " + status +
                  "\r\nContent-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\nConnection: close\r\n"
                  "Content-Length: " +
                  QByteArray::number(html.size()) + "\r\n\r\n" + html);
    socket->disconnectFromHost(); // once everything is written
}
