// A POP3 server for fault tests, in-process on 127.0.0.1 and an ephemeral port. It serves a small
// mailbox like an ordinary server, except where the scenario says otherwise: a reply split into
// pieces with pauses, a stall, a dropped connection, a wrong answer. Each fault applies once, to
// the connection it names, so the reconnection that follows meets a healthy server.
#pragma once

#include <QByteArrayList>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <functional>
#include <memory>

struct ServerFault {
    enum class After { Go, Stall, Drop };
    QByteArray command;  ///< the client line it answers, by prefix ("" = the greeting)
    QByteArray reply;    ///< sent instead of the normal answer (as is; may be partial or empty)
    bool normal = false; ///< send the normal answer first, then `reply`
    int chunk = 0;       ///< 0: one write; n: pieces of n bytes
    int pauseMs = 0;     ///< between pieces
    After after = After::Go;
    int connection = 0; ///< which connection (0 = the first) it applies to
};

class ScriptedPop3Server final : public QObject {
    Q_OBJECT
public:
    struct Message {
        QByteArray text; ///< CR LF line ends, not dot-stuffed
    };

    explicit ScriptedPop3Server(QList<Message> mailbox) : m_mailbox(std::move(mailbox)) {
        connect(&m_server, &QTcpServer::newConnection, this, &ScriptedPop3Server::onConnection);
        m_server.listen(QHostAddress::LocalHost);
    }
    quint16 port() const { return m_server.serverPort(); }
    void setFaults(QList<ServerFault> faults) { m_faults = std::move(faults); }
    void setCapabilities(QByteArray capa) { m_capa = std::move(capa); }
    int connections() const { return m_connections; }
    /** Every line the clients sent, in order, over all connections. */
    QByteArrayList received;
    /** Connections that ended, and of them those the client ended before the server closed them
     *  (a client that does not wait for the answer to its QUIT). */
    int ended = 0;
    int endedByClient = 0;
    int messageCount() const { return int(m_mailbox.size()); }

    static QList<Message> sampleMailbox(int n) {
        QList<Message> box;
        for (int i = 1; i <= n; ++i)
            box.append({"From: Remitente " + QByteArray::number(i) + " <r" + QByteArray::number(i) +
                        "@x.es>\r\nSubject: Asunto " + QByteArray::number(i) +
                        "\r\nDate: Mon, 05 Aug 2002 10:20:30 +0200\r\n\r\nlinea uno\r\n.linea con punto\r\n"});
        return box;
    }

private:
    struct Connection {
        QPointer<QTcpSocket> socket;
        QByteArray input;
        QSet<int> deleted;
        int index = 0;
        bool stalled = false;
        bool closing = false; ///< the server ends it
    };

    void onConnection() {
        while (QTcpSocket* s = m_server.nextPendingConnection()) {
            auto c = std::make_shared<Connection>();
            c->socket = s;
            c->index = m_connections++;
            // A reply written in pieces goes out in those pieces, not held back until an ACK.
            s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            connect(s, &QTcpSocket::readyRead, this, [this, c] { onRead(c); });
            connect(s, &QTcpSocket::disconnected, this, [this, c] {
                ++ended;
                if (!c->closing) ++endedByClient;
            });
            connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            answer(c, {}, "+OK scripted server ready\r\n");
        }
    }

    void onRead(const std::shared_ptr<Connection>& c) {
        if (!c->socket) return;
        c->input += c->socket->readAll();
        qsizetype eol;
        while (!c->stalled && (eol = c->input.indexOf("\r\n")) >= 0) {
            const QByteArray line = c->input.left(eol);
            c->input.remove(0, eol + 2);
            received.append(line);
            answer(c, line, normalReply(*c, line));
        }
    }

    /** Sends the scenario's reply for this line if it has one, otherwise the normal one. */
    void answer(const std::shared_ptr<Connection>& c, const QByteArray& line, const QByteArray& normal) {
        ServerFault f{line, normal};
        for (qsizetype i = 0; i < m_faults.size(); ++i) {
            const ServerFault& candidate = m_faults[i];
            const bool greeting = candidate.command.isEmpty();
            if (candidate.connection != c->index) continue;
            if ((line.isNull() && greeting) || (!line.isNull() && !greeting && line.startsWith(candidate.command))) {
                f = m_faults.takeAt(i);
                if (f.normal) f.reply = normal + f.reply;
                break;
            }
        }
        if (f.after == ServerFault::After::Stall) c->stalled = true;
        // QUIT: the deletions are made, then the answer goes out and the server closes.
        const bool quit = line.startsWith("QUIT") && f.after == ServerFault::After::Go;
        if (quit) commit(*c);
        sendPieces(c, f, 0, quit);
    }

    void sendPieces(const std::shared_ptr<Connection>& c, ServerFault f, qsizetype from, bool closeAfter) {
        if (!c->socket) return;
        const qsizetype size = f.chunk > 0 ? f.chunk : f.reply.size() - from;
        c->socket->write(f.reply.mid(from, size));
        c->socket->flush();
        from += size;
        if (from < f.reply.size()) {
            QTimer::singleShot(f.pauseMs, this, [this, c, f, from, closeAfter] { sendPieces(c, f, from, closeAfter); });
            return;
        }
        if (f.after == ServerFault::After::Drop) {
            c->closing = true;
            c->socket->abort();
        } else if (closeAfter) {
            c->closing = true;
            c->socket->disconnectFromHost();
        }
    }

    QByteArray normalReply(Connection& c, const QByteArray& line) {
        const QByteArray cmd = line.split(' ').value(0).toUpper();
        const QByteArray arg = line.split(' ').value(1);
        const int n = arg.toInt();
        const bool listed = n >= 1 && n <= m_mailbox.size() && !c.deleted.contains(n);
        if (cmd == "CAPA") return m_capa;
        if (cmd == "USER" || cmd == "PASS" || cmd == "NOOP") return "+OK\r\n";
        if (cmd == "QUIT") return "+OK bye\r\n";
        if (cmd == "STLS") return "-ERR not here\r\n";
        if (cmd == "STAT") return "+OK " + QByteArray::number(m_mailbox.size() - c.deleted.size()) + " 1000\r\n";
        if (cmd == "LIST" || cmd == "UIDL") {
            QByteArray out = "+OK\r\n";
            for (int i = 1; i <= m_mailbox.size(); ++i) {
                if (c.deleted.contains(i)) continue;
                out += QByteArray::number(i) + ' ' +
                       (cmd == "LIST" ? QByteArray::number(m_mailbox[i - 1].text.size())
                                      : QByteArray::number(qHash(m_mailbox[i - 1].text), 16)) +
                       "\r\n";
            }
            return out + ".\r\n";
        }
        if (cmd == "TOP" || cmd == "RETR") {
            if (!listed) return "-ERR no such message\r\n";
            QByteArray body;
            for (const QByteArray& l : m_mailbox[n - 1].text.split('\n')) {
                if (l.isEmpty()) continue;
                body += (l.startsWith('.') ? "." : "") + l + "\n";
            }
            return "+OK\r\n" + body + ".\r\n";
        }
        if (cmd == "DELE") {
            if (!listed) return "-ERR no such message\r\n";
            c.deleted.insert(n);
            return "+OK\r\n";
        }
        if (cmd == "RSET") {
            c.deleted.clear();
            return "+OK\r\n";
        }
        return "-ERR unknown command\r\n";
    }

    void commit(Connection& c) {
        QList<Message> kept;
        for (int i = 1; i <= m_mailbox.size(); ++i)
            if (!c.deleted.contains(i)) kept.append(m_mailbox[i - 1]);
        m_mailbox = kept;
        c.deleted.clear();
    }

    QTcpServer m_server;
    QList<Message> m_mailbox;
    QList<ServerFault> m_faults;
    QByteArray m_capa = "+OK\r\nTOP\r\nUIDL\r\nUSER\r\n.\r\n";
    int m_connections = 0;
};
