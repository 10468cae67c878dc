#include "KeptTexts.h"

#include <array>
#include <cstring>
#include <lz4.h>

namespace {
// A block: one byte (0 plain, 1 LZ4), the five lengths (32 bits each, in order), then the texts one
// after the other, compressed as one with 1.
constexpr qsizetype kHead = 1 + 5 * 4;
/** Below this much text compressing saves nothing worth the time. */
constexpr qsizetype kLeastToCompress = 128;

std::array<const QByteArray*, 5> partsOf(const KeptTexts& t) {
    return {&t.texto, &t.primerasLineas, &t.to, &t.cc, &t.mime};
}
} // namespace

QByteArray PackKeptTexts(const KeptTexts& texts) {
    const auto parts = partsOf(texts);
    qsizetype total = 0;
    for (const QByteArray* p : parts)
        total += p->size();
    if (total == 0) return {};
    QByteArray plain(total, Qt::Uninitialized);
    char* at = plain.data();
    for (const QByteArray* p : parts) {
        std::memcpy(at, p->constData(), size_t(p->size()));
        at += p->size();
    }
    QByteArray out(kHead + (total < kLeastToCompress ? total : LZ4_compressBound(int(total))), Qt::Uninitialized);
    out[0] = 0;
    for (int i = 0; i < 5; ++i) {
        const quint32 size = quint32(parts[size_t(i)]->size());
        std::memcpy(out.data() + 1 + 4 * i, &size, 4);
    }
    int packed = 0;
    if (total >= kLeastToCompress)
        packed = LZ4_compress_default(plain.constData(), out.data() + kHead, int(total), int(out.size() - kHead));
    if (packed > 0 && packed < total * 9 / 10) {
        out[0] = 1;
        out.truncate(kHead + packed);
    } else {
        out.resize(kHead + total);
        std::memcpy(out.data() + kHead, plain.constData(), size_t(total));
    }
    out.squeeze();
    return out;
}

KeptTexts UnpackKeptTexts(const QByteArray& packed) {
    KeptTexts texts;
    if (packed.size() < kHead) return texts;
    std::array<quint32, 5> sizes{};
    qsizetype total = 0;
    for (int i = 0; i < 5; ++i) {
        std::memcpy(&sizes[size_t(i)], packed.constData() + 1 + 4 * i, 4);
        total += sizes[size_t(i)];
    }
    QByteArray plain;
    if (packed[0] == 1) {
        plain = QByteArray(total, Qt::Uninitialized);
        const int size =
            LZ4_decompress_safe(packed.constData() + kHead, plain.data(), int(packed.size() - kHead), int(total));
        if (size != total) return texts;
    } else {
        if (packed.size() != kHead + total) return texts;
        plain = packed.sliced(kHead);
    }
    QByteArray* parts[] = {&texts.texto, &texts.primerasLineas, &texts.to, &texts.cc, &texts.mime};
    qsizetype at = 0;
    for (int i = 0; i < 5; ++i) {
        *parts[i] = plain.sliced(at, sizes[size_t(i)]);
        at += sizes[size_t(i)];
    }
    return texts;
}
