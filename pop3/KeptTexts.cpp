#include "KeptTexts.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <lz4.h>

namespace {
// A block: one byte (Kind), the five lengths (32 bits each, in order), then the texts one after the
// other, compressed as one unless Plain.
enum Kind : char { Plain = 0, Alone = 1, WithDictionary = 2 };
constexpr qsizetype kHead = 1 + 5 * 4;
/** Below this much text compressing saves nothing worth the time. */
constexpr qsizetype kLeastToCompress = 128;
/** A message with more text than this (a long header kept for the rules) is left out of the
 *  dictionary: it would fill it alone. */
constexpr qsizetype kLargestSample = 16 * 1024;

std::array<const QByteArray*, 5> partsOf(const KeptTexts& t) {
    return {&t.texto, &t.primerasLineas, &t.to, &t.cc, &t.mime};
}
} // namespace

struct KeptTextsPacker::Dictionary {
    QByteArray text; ///< the first messages' texts, one after the other; never changed once full
    bool ready = false;
    // The dictionary loaded into a stream once, and that stream copied into the working one for each
    // block (the way lz4.h suggests): loading 64 KB anew for each would cost more than the block.
    LZ4_stream_t* loaded = LZ4_createStream();
    LZ4_stream_t* working = LZ4_createStream();

    ~Dictionary() {
        LZ4_freeStream(loaded);
        LZ4_freeStream(working);
    }

    void sample(const QByteArray& plain) {
        if (ready || plain.size() > kLargestSample || !loaded || !working) return;
        text += plain.first(std::min(plain.size(), kDictionaryBytes - text.size()));
        if (text.size() < kDictionaryBytes) return;
        LZ4_loadDict(loaded, text.constData(), int(text.size()));
        ready = true;
    }
};

KeptTextsPacker::KeptTextsPacker() : m_dictionary(std::make_unique<Dictionary>()) {}
KeptTextsPacker::~KeptTextsPacker() = default;

QByteArray KeptTextsPacker::pack(const KeptTexts& texts) {
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
    out[0] = Plain;
    for (int i = 0; i < 5; ++i) {
        const quint32 size = quint32(parts[size_t(i)]->size());
        std::memcpy(out.data() + 1 + 4 * i, &size, 4);
    }
    int packed = 0;
    Dictionary& d = *m_dictionary;
    if (total >= kLeastToCompress) {
        char* to = out.data() + kHead;
        const int room = int(out.size() - kHead);
        if (d.ready) {
            std::memcpy(d.working, d.loaded, sizeof(LZ4_stream_t));
            packed = LZ4_compress_fast_continue(d.working, plain.constData(), to, int(total), room, 1);
            out[0] = WithDictionary;
        } else {
            packed = LZ4_compress_default(plain.constData(), to, int(total), room);
            out[0] = Alone;
            d.sample(plain);
        }
    }
    if (packed > 0 && packed < total * 9 / 10) {
        out.truncate(kHead + packed);
    } else {
        out[0] = Plain;
        out.resize(kHead + total);
        std::memcpy(out.data() + kHead, plain.constData(), size_t(total));
    }
    out.squeeze();
    return out;
}

KeptTexts KeptTextsPacker::unpack(const QByteArray& packed) const {
    KeptTexts texts;
    if (packed.size() < kHead) return texts;
    std::array<quint32, 5> sizes{};
    qsizetype total = 0;
    for (int i = 0; i < 5; ++i) {
        std::memcpy(&sizes[size_t(i)], packed.constData() + 1 + 4 * i, 4);
        total += sizes[size_t(i)];
    }
    if (total > INT_MAX) return texts;
    QByteArray plain;
    const Dictionary& d = *m_dictionary;
    const char* from = packed.constData() + kHead;
    const int size = int(packed.size() - kHead);
    switch (packed[0]) {
    case Plain:
        if (size != total) return texts;
        plain = packed.sliced(kHead);
        break;
    case Alone:
    case WithDictionary: {
        if (packed[0] == WithDictionary && !d.ready) return texts;
        plain = QByteArray(total, Qt::Uninitialized);
        const int got = packed[0] == WithDictionary
                            ? LZ4_decompress_safe_usingDict(from, plain.data(), size, int(total), d.text.constData(),
                                                            int(d.text.size()))
                            : LZ4_decompress_safe(from, plain.data(), size, int(total));
        if (got != total) return texts;
        break;
    }
    default:
        return texts;
    }
    QByteArray* parts[] = {&texts.texto, &texts.primerasLineas, &texts.to, &texts.cc, &texts.mime};
    qsizetype at = 0;
    for (int i = 0; i < 5; ++i) {
        *parts[i] = plain.sliced(at, sizes[size_t(i)]);
        at += sizes[size_t(i)];
    }
    return texts;
}
