#include "Cp1252.h"

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// 0x80..0x9F; the five bytes Windows leaves undefined map to the C1 controls of the same value,
// so all 256 bytes survive a round trip.
constexpr std::array<char16_t, 32> kHighControls = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                                    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

int byteOf(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return c;
    for (int i = 0; i < 32; ++i)
        if (kHighControls[i] == c) return 0x80 + i;
    return -1;
}

char16_t widenOne(unsigned char b) {
    return (b >= 0x80 && b < 0xA0) ? kHighControls[b - 0x80] : char16_t(b);
}

// Only 0x80..0x9F differ from Latin-1: sixteen bytes (or characters) at a time go over with
// vector instructions while none of them is in that range.
constexpr qsizetype kBlock = 16;

void widen(char16_t* d, const unsigned char* s, qsizetype n) {
    qsizetype i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i top3 = _mm_set1_epi8(char(0xE0));
    const __m128i c1 = _mm_set1_epi8(char(0x80));
    while (n - i >= kBlock) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(bytes, top3), c1)) == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_unpacklo_epi8(bytes, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i + 8), _mm_unpackhi_epi8(bytes, zero));
            i += kBlock;
            continue;
        }
        for (const qsizetype end = i + kBlock; i < end; ++i)
            d[i] = widenOne(s[i]);
    }
#endif
    for (; i < n; ++i)
        d[i] = widenOne(s[i]);
}

void narrow(char* d, const char16_t* s, qsizetype n) {
    qsizetype i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i highByte = _mm_set1_epi16(short(0xFF00));
    const __m128i top11 = _mm_set1_epi16(short(0xFFE0));
    const __m128i c1 = _mm_set1_epi16(0x80);
    // Good: below 0x100 and not in 0x80..0x9F.
    auto good = [&](__m128i v) {
        return _mm_andnot_si128(_mm_cmpeq_epi16(_mm_and_si128(v, top11), c1),
                                _mm_cmpeq_epi16(_mm_and_si128(v, highByte), zero));
    };
    while (n - i >= kBlock) {
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 8));
        if (_mm_movemask_epi8(_mm_and_si128(good(low), good(high))) == 0xFFFF) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_packus_epi16(low, high));
            i += kBlock;
            continue;
        }
        for (const qsizetype end = i + kBlock; i < end; ++i)
            d[i] = cp1252Byte(s[i]);
    }
#endif
    for (; i < n; ++i)
        d[i] = cp1252Byte(s[i]);
}

} // namespace

QString fromCp1252(QByteArrayView bytes) {
    QString out(bytes.size(), Qt::Uninitialized);
    widen(reinterpret_cast<char16_t*>(out.data()), reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    return out;
}

void appendFromCp1252(QString& out, QByteArrayView bytes) {
    const qsizetype at = out.size();
    out.resize(at + bytes.size());
    widen(reinterpret_cast<char16_t*>(out.data()) + at, reinterpret_cast<const unsigned char*>(bytes.data()),
          bytes.size());
}

char cp1252ByteOfRare(char16_t c) {
    const int b = byteOf(c);
    return b < 0 ? '?' : char(b);
}

void narrowCp1252(char* d, QStringView text) {
    narrow(d, text.utf16(), text.size());
}

QByteArray toCp1252(QStringView text) {
    QByteArray out(text.size(), Qt::Uninitialized);
    narrow(out.data(), text.utf16(), text.size());
    return out;
}

void appendCp1252(QByteArray& out, QStringView text) {
    const qsizetype at = out.size();
    out.resize(at + text.size());
    narrow(out.data() + at, text.utf16(), text.size());
}

bool fitsCp1252(QStringView text) {
    for (QChar c : text)
        if (byteOf(c.unicode()) < 0) return false;
    return true;
}

QStringList unwritableInCp1252(QStringView text) {
    QStringList out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (byteOf(text[i].unicode()) >= 0) continue;
        const qsizetype length =
            text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate() ? 2 : 1;
        const QString character = text.sliced(i, length).toString();
        if (!out.contains(character)) out.append(character);
        i += length - 1;
    }
    return out;
}

bool isValidUtf8(QByteArrayView bytes) {
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        // Most mail is ASCII: eight bytes at a time while none has its top bit set.
        while (n - i >= 8) {
            quint64 word;
            std::memcpy(&word, s + i, 8);
            if (word & 0x8080808080808080ULL) break;
            i += 8;
        }
        if (i == n) break;
        const unsigned char b = s[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        // RFC 3629, 4: the lead byte says how many continuation bytes follow and bounds the second.
        int more = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            more = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            more = 2;
            if (b == 0xE0) lo = 0xA0;
            if (b == 0xED) hi = 0x9F; // no surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
            more = 3;
            if (b == 0xF0) lo = 0x90;
            if (b == 0xF4) hi = 0x8F;
        } else {
            return false;
        }
        if (n - i <= more) return false;
        if (s[i + 1] < lo || s[i + 1] > hi) return false;
        for (int k = 2; k <= more; ++k)
            if (s[i + k] < 0x80 || s[i + k] > 0xBF) return false;
        i += more + 1;
    }
    return true;
}

QString fromUtf8OrCp1252(QByteArrayView bytes) {
    return isValidUtf8(bytes) ? QString::fromUtf8(bytes) : fromCp1252(bytes);
}

QString utf8OrCp1252(QStringView widened) {
    const bool ascii = std::all_of(widened.begin(), widened.end(), [](QChar c) { return c.unicode() < 0x80; });
    // Text with a character beyond Windows-1252 was not widened from bytes: it is text already.
    if (ascii || !fitsCp1252(widened)) return widened.toString();
    const QByteArray bytes = toCp1252(widened);
    return isValidUtf8(bytes) ? QString::fromUtf8(bytes) : widened.toString();
}
