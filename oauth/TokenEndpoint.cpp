#include "TokenEndpoint.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

namespace {
// Set on a reply its own timer aborted, so the abort reads as a time limit, not as a network failure.
constexpr char kTimedOut[] = "tavelo_timed_out";
// Providers that put the time in a string ("3599") exist as well as those that send a number.
qint64 secondsOf(const QJsonValue& value) {
    if (value.isDouble()) return qint64(value.toDouble());
    bool ok = false;
    const qint64 seconds = value.toString().toLongLong(&ok);
    return ok ? seconds : -1;
}
} // namespace

QByteArray formEncode(const FormFields& fields) {
    QByteArray encoded;
    for (const auto& [name, value] : fields) {
        if (!encoded.isEmpty()) encoded += '&';
        encoded += QUrl::toPercentEncoding(name) + '=' + QUrl::toPercentEncoding(value);
    }
    return encoded;
}

TokenReply failedTokenReply(const QString& message, const QString& error) {
    TokenReply r;
    r.status = TokenReply::Status::Failed;
    r.error = error;
    r.message = message;
    return r;
}

TokenReply parseTokenReply(int httpStatus, const QByteArray& body, const QString& host) {
    const QJsonObject json = QJsonDocument::fromJson(body).object();
    const QString error = json.value(u"error"_qs).toString();
    if (!error.isEmpty()) {
        QString detail = json.value(u"error_description"_qs).toString().simplified();
        detail = detail.isEmpty() ? error : error + u": "_qs + detail;
        TokenReply r =
            failedTokenReply(u"El servidor de autorización %1 rechazó la petición (%2)."_qs.arg(host, detail), error);
        // interaction_required is Microsoft's word for a refresh the user must confirm by signing in.
        if (error == u"invalid_grant" || error == u"interaction_required") r.status = TokenReply::Status::Refused;
        return r;
    }
    TokenReply r;
    r.accessToken = json.value(u"access_token"_qs).toString();
    if (httpStatus / 100 != 2 || r.accessToken.isEmpty())
        return failedTokenReply(
            u"Respuesta inesperada del servidor de autorización %1 (HTTP %2)."_qs.arg(host).arg(httpStatus));
    r.status = TokenReply::Status::Granted;
    r.refreshToken = json.value(u"refresh_token"_qs).toString();
    // expires_in is only recommended (RFC 6749 5.1): without it, an hour, the usual lifetime.
    r.expiresIn = json.contains(u"expires_in"_qs) ? secondsOf(json.value(u"expires_in"_qs)) : 3600;
    if (r.expiresIn < 0) r.expiresIn = 0;
    return r;
}

QNetworkReply* postTokenRequest(QNetworkAccessManager& manager, const QUrl& url, const FormFields& form, int timeoutMs,
                                std::function<void(const TokenReply&)> done) {
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    request.setRawHeader(QByteArrayLiteral("Accept"), QByteArrayLiteral("application/json"));
    // A token endpoint that redirects is misconfigured; the form must not travel on to another host.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply* reply = manager.post(request, formEncode(form));
    auto* timer = new QTimer(reply);
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, reply, [reply] {
        reply->setProperty(kTimedOut, true);
        reply->abort();
    });
    timer->start(timeoutMs);
    const QString host = url.host();
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, timer, host, done = std::move(done)] {
        timer->stop();
        reply->deleteLater();
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (reply->property(kTimedOut).toBool())
            done(failedTokenReply(u"Tiempo de espera agotado con el servidor de autorización %1."_qs.arg(host)));
        else if (!status.isValid())
            done(failedTokenReply(
                u"No se pudo contactar con el servidor de autorización %1: %2"_qs.arg(host, reply->errorString())));
        else
            done(parseTokenReply(status.toInt(), reply->readAll(), host));
    });
    return reply;
}

void abandonTokenRequest(QNetworkReply* reply) {
    if (!reply) return;
    reply->disconnect();
    reply->abort();
    reply->deleteLater();
}
