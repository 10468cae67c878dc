#include "Cp1252.h"

#include <array>

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

} // namespace

QString fromCp1252(QByteArrayView bytes) {
    QString out(bytes.size(), Qt::Uninitialized);
    char16_t* d = reinterpret_cast<char16_t*>(out.data());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        d[i] = (b >= 0x80 && b < 0xA0) ? kHighControls[b - 0x80] : char16_t(b);
    }
    return out;
}

char cp1252ByteOfRare(char16_t c) {
    const int b = byteOf(c);
    return b < 0 ? '?' : char(b);
}

namespace {
void convertTo(char* d, QStringView text) {
    const char16_t* s = text.utf16();
    for (qsizetype i = 0; i < text.size(); ++i)
        d[i] = cp1252Byte(s[i]);
}
} // namespace

QByteArray toCp1252(QStringView text) {
    QByteArray out(text.size(), Qt::Uninitialized);
    convertTo(out.data(), text);
    return out;
}

void appendCp1252(QByteArray& out, QStringView text) {
    const qsizetype at = out.size();
    out.resize(at + text.size());
    convertTo(out.data() + at, text);
}

bool fitsCp1252(QStringView text) {
    for (QChar c : text)
        if (byteOf(c.unicode()) < 0) return false;
    return true;
}
