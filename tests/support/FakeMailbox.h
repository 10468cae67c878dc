// Replies of a small mailbox for sessions on a fake socket: LIST and one TOP reply per message.
#pragma once

#include "FakeSocket.h"

#include <QByteArray>
#include <QList>

struct FakeMessage {
    QByteArray from;
    QByteArray subject;
    QByteArray body = "linea 1\r\nlinea 2\r\n";
    int bytes = 1000;
    QByteArray uid = {}; ///< empty: made from sender and subject
};

/** A server that offers UIDL (and not STLS). */
inline const QByteArray kCapaWithUidl = "+OK\r\nTOP\r\nUIDL\r\nUSER\r\n.\r\n";

inline QByteArray listReply(const QList<FakeMessage>& box) {
    QByteArray out = "+OK\r\n";
    for (int i = 0; i < box.size(); ++i)
        out += QByteArray::number(i + 1) + ' ' + QByteArray::number(box[i].bytes) + "\r\n";
    return out + ".\r\n";
}

inline QByteArray topReply(const FakeMessage& m) {
    return "+OK\r\nFrom: " + m.from + "\r\nSubject: " + m.subject +
           "\r\nDate: Mon, 05 Aug 2002 10:20:30 +0200\r\n\r\n" + m.body + ".\r\n";
}

inline QByteArray uidlReply(const QList<FakeMessage>& box) {
    QByteArray out = "+OK\r\n";
    for (int i = 0; i < box.size(); ++i) {
        const QByteArray uid = box[i].uid.isEmpty() ? (box[i].from + box[i].subject).toHex().left(40) : box[i].uid;
        out += QByteArray::number(i + 1) + ' ' + uid + "\r\n";
    }
    return out + ".\r\n";
}

/** Plays a whole login and header pass on a fake socket. */
inline void serveLogin(FakeSocket* s, const QList<FakeMessage>& box) {
    s->connectNow();
    s->serverSends("+OK ready\r\n");
    s->serverSends(kCapaWithUidl);
    s->serverSends("+OK\r\n");
    s->serverSends("+OK\r\n");
    s->serverSends(listReply(box));
    for (const FakeMessage& m : box)
        s->serverSends(topReply(m));
    s->takeWritten();
}

inline QList<FakeMessage> numberedBox(int n) {
    QList<FakeMessage> box;
    for (int i = 1; i <= n; ++i)
        box.append({"Remitente " + QByteArray::number(i) + " <r" + QByteArray::number(i) + "@x.es>",
                    "Asunto " + QByteArray::number(i)});
    return box;
}

/** Answers a re-check that logs in afresh: the UIDL of the rows on the old connection (when the
 *  session asks for it), then QUIT, the new login, its UIDL and STAT. */
inline void serveRecheck(FakeSocket* s, const QList<FakeMessage>& before, const QList<FakeMessage>& after,
                         bool baselineAsked = true) {
    if (baselineAsked) s->serverSends(uidlReply(before));
    s->connectNow();
    s->serverSends("+OK ready\r\n");
    s->serverSends(kCapaWithUidl);
    s->serverSends("+OK\r\n");
    s->serverSends("+OK\r\n");
    s->serverSends(uidlReply(after));
    s->serverSends("+OK " + QByteArray::number(after.size()) + " 1000\r\n");
}
