#include "TextAndTime.h"

#include "Errors.h"

#include <QDateTime>
#include <QFileInfo>
#include <algorithm>
#include <bit>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {
// The fold of every character below 256; the others stay as they are.
struct FoldTable {
    char16_t to[256];
    constexpr FoldTable() : to() {
        for (int c = 0; c < 256; ++c)
            to[c] = char16_t(c);
        for (int c = u'a'; c <= u'z'; ++c)
            to[c] = char16_t(c - 32);
        to[0xE1] = u'A';
        to[0xE9] = u'E';
        to[0xED] = u'I';
        to[0xF3] = u'O';
        to[0xFA] = u'U';
        to[0xF1] = 0xD1;
    }
};
constexpr FoldTable kFold;
} // namespace

QString FormatThousands(qint64 n) {
    if (n == 0) return QStringLiteral("0");
    QString digits = QString::number(n < 0 ? -n : n);
    for (qsizetype i = digits.size() - 3; i > 0; i -= 3)
        digits.insert(i, u'.');
    return n < 0 ? u'-' + digits : digits;
}

QChar MayusculaSinAcento(QChar c) {
    const char16_t u = c.unicode();
    return QChar(u < 256 ? kFold.to[u] : u);
}

QString MayusculasSinAcentos(const QString& text) {
    QString out(text.size(), Qt::Uninitialized);
    const char16_t* s = reinterpret_cast<const char16_t*>(text.constData());
    char16_t* d = reinterpret_cast<char16_t*>(out.data());
    const qsizetype n = text.size();
    qsizetype i = 0;
#if defined(__SSE2__)
    // Headers are mostly ASCII: eight characters at a time while only a..z change.
    const __m128i notAscii = _mm_set1_epi16(short(0xFF80));
    const __m128i beforeA = _mm_set1_epi16(u'a' - 1);
    const __m128i afterZ = _mm_set1_epi16(u'z' + 1);
    const __m128i caseBit = _mm_set1_epi16(0x20);
    const __m128i zero = _mm_setzero_si128();
    while (n - i >= 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, notAscii), zero)) != 0xFFFF) {
            for (const qsizetype end = i + 8; i < end; ++i)
                d[i] = MayusculaSinAcento(s[i]).unicode();
            continue;
        }
        const __m128i lower = _mm_and_si128(_mm_cmpgt_epi16(v, beforeA), _mm_cmplt_epi16(v, afterZ));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_sub_epi16(v, _mm_and_si128(lower, caseBit)));
        i += 8;
    }
#endif
    for (; i < n; ++i)
        d[i] = MayusculaSinAcento(s[i]).unicode();
    return out;
}

qsizetype NextCharAt(QStringView text, char16_t c, qsizetype from) {
    const char16_t* s = text.utf16();
    const qsizetype n = text.size();
    qsizetype i = std::max<qsizetype>(from, 0);
#if defined(__SSE2__)
    const __m128i wanted = _mm_set1_epi16(short(c));
    for (; n - i >= 8; i += 8) {
        const unsigned mask = unsigned(
            _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i)), wanted)));
        if (mask != 0) return i + std::countr_zero(mask) / 2;
    }
#endif
    for (; i < n; ++i)
        if (s[i] == c) return i;
    return -1;
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
    // The local offset from UTC is looked up (a time-zone query) at most once a second: a header
    // pass asks for the time once a message.
    thread_local qint64 offsetValidFrom = 1, offsetValidUntil = 0, offsetMs = 0;
    const qint64 utcMs = QDateTime::currentMSecsSinceEpoch();
    if (utcMs < offsetValidFrom || utcMs >= offsetValidUntil) {
        offsetMs = qint64(QDateTime::fromMSecsSinceEpoch(utcMs).offsetFromUtc()) * 1000;
        offsetValidFrom = utcMs;
        offsetValidUntil = utcMs + 1000;
    }
    // Day 0 is 30 December 1899; 1 January 1970 is day 25569.
    constexpr qint64 msPerDay = 86400000;
    const qint64 localMs = utcMs + offsetMs;
    const qint64 day = localMs >= 0 ? localMs / msPerDay : -((-localMs + msPerDay - 1) / msPerDay);
    return double(25569 + day) + double(localMs - day * msPerDay) / double(msPerDay);
}
