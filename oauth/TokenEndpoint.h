// The provider's token endpoint (RFC 6749 sections 4.1.3, 5 and 6): one form POST, and what came back.
#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>
#include <functional>

class QNetworkAccessManager;
class QNetworkReply;

/** @short What a token request brought: tokens, a refusal, or why nothing usable came. */
struct TokenReply {
    enum class Status {
        Granted,
        Refused, ///< the grant is no longer good (invalid_grant): only a new sign-in helps
        Failed,  ///< anything else: the network, a time limit, another error of the server
    };
    Status status = Status::Failed;
    QString accessToken;
    qint64 expiresIn = 0; ///< seconds
    QString refreshToken; ///< empty when the server sent none
    QString error;        ///< the server's error code, when it gave one
    QString message;      ///< for the user (Spanish), when not granted
};

/** @short Names and values of a form, in order. */
using FormFields = QList<QPair<QString, QString>>;

/** @short application/x-www-form-urlencoded, with every byte outside the unreserved set percent-encoded
 *  (a '+' left alone would arrive as a space). */
QByteArray formEncode(const FormFields& fields);

/** @short Reads a token endpoint's answer: a JSON object, tokens (RFC 6749 5.1) or an error (5.2).
 *  `host` names the server in messages. */
TokenReply parseTokenReply(int httpStatus, const QByteArray& body, const QString& host);

/** @short A failure whose text the user sees; `error` is the OAuth error code, if any. */
TokenReply failedTokenReply(const QString& message, const QString& error = {});

/**
 * @short Posts `form` to `url` and calls `done` once with the outcome, at the latest after `timeoutMs`.
 * The reply returned belongs to `manager`; abandonTokenRequest drops it without calling `done`.
 */
QNetworkReply* postTokenRequest(QNetworkAccessManager& manager, const QUrl& url, const FormFields& form, int timeoutMs,
                                std::function<void(const TokenReply&)> done);

/** @short Aborts a request of postTokenRequest (null or finished is fine); its `done` is never called. */
void abandonTokenRequest(QNetworkReply* reply);
