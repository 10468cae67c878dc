#include "UnitUtils.h"

#include "Errors.h"

#include <QDateTime>
#include <QFileInfo>
#include <cmath>

QString MayusculasSinAcentos(const QString& text) {
    QString out(text.size(), Qt::Uninitialized);
    const QChar* s = text.constData();
    QChar* d = out.data();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = s[i].unicode();
        char16_t r = c;
        if (c >= u'a' && c <= u'z')
            r = c - 32;
        else if (c == 0xE1)
            r = u'A';
        else if (c == 0xE9)
            r = u'E';
        else if (c == 0xED)
            r = u'I';
        else if (c == 0xF3)
            r = u'O';
        else if (c == 0xFA)
            r = u'U';
        else if (c == 0xF1)
            r = 0xD1;
        d[i] = QChar(r);
    }
    return out;
}

namespace {
SoundPlayer& soundPlayer() {
    static SoundPlayer player;
    return player;
}
} // namespace

void SetSoundPlayer(SoundPlayer player) {
    soundPlayer() = std::move(player);
}

void ReproducirSonido(const QString& fileName) {
    if (fileName.isEmpty() || !QFileInfo(fileName).isFile()) return;
    if (soundPlayer()) soundPlayer()(fileName);
}

int SegundosDeHora(double dateTime) {
    // The time part is rounded to whole milliseconds first, as a time stamp is, then cut to seconds.
    // Less than half a millisecond before midnight rounds to the next day's 0:00:00, never to 24:00:00.
    const double fraction = std::abs(dateTime - std::trunc(dateTime));
    if (!std::isfinite(fraction)) return 0;
    const auto ms = static_cast<qint64>(std::llround(fraction * 86400000.0)) % 86400000;
    return int(ms / 1000);
}

double HoraDeSegundos(int seconds) {
    const int hours = seconds / 3600;
    const int rest = seconds - hours * 3600;
    const int minutes = rest / 60;
    const int secs = rest - minutes * 60;
    if (hours < 0 || hours >= 24 || minutes < 0 || secs < 0) throw EConvertError(u"Invalid argument to time encode"_qs);
    return (hours * 3600000.0 + minutes * 60000.0 + secs * 1000.0) / 86400000.0;
}

int SegundosDeTexto(const QString& text) {
    if (text.isEmpty() || text.count(u':') > 2) return -1;
    qint64 total = 0;
    qint64 multiplier = 1;
    QString rest = text;
    while (!rest.isEmpty()) {
        const qsizetype colon = rest.lastIndexOf(u':');
        total += qint64(ParseInt32(rest.mid(colon + 1))) * multiplier;
        rest.truncate(colon < 0 ? 0 : colon);
        multiplier *= 60;
    }
    if (total > std::numeric_limits<int>::max() || total < std::numeric_limits<int>::min())
        throw EConvertError(u"'%1' is not a valid integer value"_qs.arg(text));
    return int(total);
}

double CurrentDateTime() {
    const QDateTime now = QDateTime::currentDateTime();
    return double(QDate(1899, 12, 30).daysTo(now.date())) + now.time().msecsSinceStartOfDay() / 86400000.0;
}
