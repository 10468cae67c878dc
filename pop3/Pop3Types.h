// What a session hands those who use it, without the session itself: a message as the header pass
// knows it, and the hooks a session is given (the OAuth2 token source, the copy kept before a
// deletion).
#pragma once

#include "MessageHeader.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

/** The header of one message as the header pass extracted it. */
struct TCabecera {
    QString Texto;
    /** Where Texto was cut, the header being longer than what a message keeps of it. */
    HeaderTextCut TextoCortado = HeaderTextCut::None;
    QString From;
    QString Subj;
    QString Fecha;
    QStringList Destinatarios;
};

/** One message on the server. */
struct TMensaje {
    int Num = 0;
    int Bytes = 0;
    TCabecera Cabecera;
    int Lineas = 0;
    QString PrimerasLineas;
    bool EnCabecera = true;
};

/** The owner's answer to a token request: an access token, or an error that ends the connection
 *  (its text is the reason given). It may come at once or later, on the session's thread. */
using Pop3TokenReply = std::function<void(const QString& token, const QString& error)>;
/** Asked for an OAuth2 access token at each login; afterRefusal when the server refused the last
 *  one given (the owner refreshes it then). */
using Pop3AccessTokenSource = std::function<void(bool afterRefusal, Pop3TokenReply reply)>;
/** Keeps a copy of a message about to be deleted: its bytes as the server holds them (the RETR
 *  reply without its status line and final "." line, dot-unstuffed; CR LF line ends, a bare LF from
 *  the server arrives as CR LF). True when the copy is safe and the message may go. */
using Pop3KeepCopy = std::function<bool(int num, const QByteArray& message, const QString& motivo)>;
