#include "Pkce.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

namespace Pkce {

QString randomUnreserved(int length) {
    static constexpr char kUnreserved[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~";
    constexpr quint32 kCount = sizeof(kUnreserved) - 1;
    QRandomGenerator* random = QRandomGenerator::system();
    QString text;
    text.reserve(length);
    for (int i = 0; i < length; ++i)
        text.append(QLatin1Char(kUnreserved[random->bounded(kCount)]));
    return text;
}

QString newVerifier() {
    return randomUnreserved(64);
}

QString challenge(const QString& verifier) {
    const QByteArray digest = QCryptographicHash::hash(verifier.toLatin1(), QCryptographicHash::Sha256);
    return QString::fromLatin1(digest.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

} // namespace Pkce
