// A socket the test drives by hand: it records what the session wrote and delivers what the test
// says the server sent, synchronously, as the real adapter would from the event loop.
#pragma once

#include "ClientSocket.h"
#include "Errors.h"

#include <QByteArray>
#include <QList>

class FakeSocket final : public IClientSocket {
    Q_OBJECT
public:
    void open(const QString& host, int port, bool encrypted = false) override {
        if (host.isEmpty()) throw ESocketError(u"No address specified"_qs);
        ++opens;
        lastHost = host;
        lastPort = port;
        openedEncrypted = encrypted;
        tlsStarted = false;
        active = false;
    }
    void startTls() override { tlsStarted = true; }
    void close() override {
        ++closes;
        active = false;
    }
    void closeAfterStatusLine() override {
        ++closesAfterLine;
        close();
    }
    void send(const QByteArray& bytes) override {
        if (active) written += bytes;
    }
    bool isActive() const override { return active; }

    /** The connection is established. */
    void connectNow() { active = true; }
    /** The server sent these bytes, in one read. */
    void serverSends(const QByteArray& bytes) { emit dataRead(bytes); }
    void fail(int code) {
        active = false;
        emit socketError(code);
    }
    void lookupFails() { emit hostLookupFailed(); }
    void handshakeSucceeds() { emit encrypted(u"TLSv1.3"_qs, u"TLS_AES_256_GCM_SHA384"_qs); }
    void handshakeFails() { emit tlsFailed(false); }
    /** The server shows a certificate that does not verify: true when the session goes on. */
    bool presentCertificate(const CertificateInfo& info) {
        const bool accepted = m_certificateDecision && m_certificateDecision(info);
        if (!accepted) emit tlsFailed(true);
        return accepted;
    }
    /** What the client wrote since the last call. */
    QByteArray takeWritten() {
        QByteArray out = written;
        written.clear();
        return out;
    }

    QByteArray written;
    QString lastHost;
    int lastPort = 0;
    int opens = 0;
    int closes = 0;
    int closesAfterLine = 0; ///< of the closes, those that end once a status line has come
    bool active = false;
    bool openedEncrypted = false;
    bool tlsStarted = false;
};

/** Hands a session a FakeSocket and keeps a pointer to it for the test. */
inline SocketFactory fakeSocketFactory(FakeSocket*& out) {
    return [&out] {
        auto s = std::make_unique<FakeSocket>();
        out = s.get();
        return s;
    };
}
