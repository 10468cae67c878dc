#include "LogStore.h"

#include "Cp1252.h"
#include "FreedMemory.h"
#include "TextAndTime.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstring>
#include <lz4.h>

namespace {
constexpr quint32 kEndMask = (1u << 30) - 1;
constexpr qsizetype kMaxAppend = qsizetype(1) << 29; ///< more of one append is not kept
} // namespace

LogStore::LogStore(QObject* parent, qsizetype plainTail, qsizetype quietTail)
    : QObject(parent), m_plainTail(plainTail), m_quietTail(quietTail) {
    m_pool.setMaxThreadCount(1);
    m_quiet.setSingleShot(true);
    m_quiet.setInterval(kQuietMs);
    connect(&m_quiet, &QTimer::timeout, this, &LogStore::compact);
}

LogStore::~LogStore() {
    m_pool.clear();
    m_pool.waitForDone();
}

void LogStore::append(QStringView text, int style) {
    // A header pass logs hundreds of thousands of lines: the text is converted in one pass and kept
    // with its line breaks, and each paragraph is where its line ends.
    text = text.first(std::min(text.size(), kMaxAppend));
    if (text.isEmpty()) return;
    narrowCp1252(grow(text.size()), text); // only a CR or a LF becomes a CR or a LF byte
    split(text.size(), style);
}

void LogStore::append(QByteArrayView bytes, int style) {
    bytes = bytes.first(std::min(bytes.size(), kMaxAppend));
    if (bytes.isEmpty()) return;
    std::memcpy(grow(bytes.size()), bytes.data(), size_t(bytes.size()));
    split(bytes.size(), style);
}

char* LogStore::grow(qsizetype n) {
    if (m_chunks.isEmpty() || m_chunks.last()->plainSize + n > qsizetype(kEndMask)) seal();
    Chunk& chunk = *m_chunks.last();
    const qsizetype base = chunk.plainSize;
    if (base == 0 && !m_spare.isNull()) {
        chunk.plain = std::move(m_spare);
        chunk.plain.truncate(0); // keeps its room
    }
    if (chunk.plain.capacity() < base + n) chunk.plain.reserve(std::max(base + n, kChunkBytes + kChunkBytes / 4));
    chunk.plain.resize(base + n);
    chunk.plainSize = base + n;
    m_textBytes += n;
    return chunk.plain.data() + base;
}

void LogStore::split(qsizetype n, int style) {
    Chunk& chunk = *m_chunks.last();
    const qsizetype base = chunk.plainSize - n;
    char* d = chunk.plain.data() + base;
    auto nextCrLf = [d, n](qsizetype from) -> qsizetype {
        while (from < n) {
            const auto* cr = static_cast<const char*>(std::memchr(d + from, '\r', size_t(n - from)));
            if (!cr) return -1;
            const qsizetype at = cr - d;
            if (at + 1 < n && d[at + 1] == '\n') return at;
            from = at + 1;
        }
        return -1;
    };
    const char styleByte = char(std::clamp(style, 0, 255));
    for (qsizetype from = 0; from < n;) {
        const qsizetype end = nextCrLf(from);
        quint32 entry;
        if (end == from) {
            d[end] = ' '; // an empty line keeps a paragraph of its own: one blank, over its CR
            entry = quint32(base + end + 1) | (1u << 30);
        } else if (end < 0) {
            entry = quint32(base + n);
        } else {
            entry = quint32(base + end) | (2u << 30);
        }
        chunk.ends.append(entry);
        chunk.styles.append(styleByte);
        ++m_count;
        if (end < 0) break;
        from = end + 2;
    }
    if (chunk.plainSize >= kChunkBytes) seal();
}

void LogStore::seal() {
    if (!m_chunks.isEmpty()) {
        Chunk& full = *m_chunks.last();
        if (full.plainSize == 0) return; // still empty: it stays the open one
        full.ends.squeeze();
        full.styles.squeeze();
        // The newest stretch of the log stays plain (what is shown and read most); what lies
        // further back is compressed.
        const qsizetype keptPlain = m_plainTail / kChunkBytes;
        const qsizetype older = m_chunks.size() - 1 - keptPlain;
        if (older >= 0) compress(m_chunks[older]);
        m_quiet.start(); // a timer restarted a chunk at a time, not at every line
    }
    auto open = std::make_shared<Chunk>();
    open->first = m_count;
    m_chunks.append(std::move(open));
    keepWithinLimit();
}

void LogStore::setLimit(qsizetype bytes, int noteStyle) {
    m_limit = std::max<qsizetype>(0, bytes);
    m_noteStyle = noteStyle;
    keepWithinLimit();
}

void LogStore::keepWithinLimit() {
    // Whole chunks go, the open one never: the log keeps its newest text, at least one chunk.
    while (m_limit > 0 && m_chunks.size() > 1 && m_textBytes > m_limit) {
        const std::shared_ptr<Chunk> oldest = m_chunks.takeFirst();
        const int lines = m_chunks.first()->first - oldest->first;
        m_shift += lines - (m_dropped == 0 ? 1 : 0); // the note takes the place of one line
        m_dropped += lines;
        m_textBytes -= oldest->plainSize;
        // At its bound a busy log drops a chunk for each it fills: the room of one goes to the next,
        // instead of being freed and asked for again.
        if (oldest->packed.isEmpty() && !oldest->queued && oldest.use_count() == 1) m_spare = std::move(oldest->plain);
        for (int i = 0; i < 2; ++i) {
            if (m_cachedChunk[i] != oldest.get()) continue;
            m_cachedChunk[i] = nullptr;
            m_cached[i] = QByteArray();
        }
    }
}

QString LogStore::droppedNote() const {
    return u"// ("_qs + FormatThousands(m_dropped) +
           u" líneas anteriores no se muestran: el registro llegó a su límite)"_qs;
}

void LogStore::compact() {
    const qsizetype keptPlain = m_quietTail / kChunkBytes;
    for (qsizetype i = 0; i < m_chunks.size() - 1 - keptPlain; ++i)
        compress(m_chunks[i]);
    m_returnWhenCompressed = m_compressing > 0;
}

void LogStore::compress(std::shared_ptr<Chunk> full) {
    if (std::exchange(full->queued, true)) return;
    const quint64 generation = m_generation;
    ++m_compressing;
    m_pool.start([this, full, plain = full->plain, generation] {
        // The output goes to a buffer of the thread's own, then to one of its exact size.
        thread_local QByteArray scratch;
        const int bound = LZ4_compressBound(int(plain.size()));
        if (scratch.size() < bound) scratch.resize(bound);
        const int size = LZ4_compress_default(plain.constData(), scratch.data(), int(plain.size()), bound);
        QMetaObject::invokeMethod(
            this,
            [this, full, packed = QByteArray(scratch.constData(), std::max(size, 0)), generation]() mutable {
                if (generation != m_generation) return;
                if (!packed.isEmpty()) { // else the chunk stays plain
                    full->packed = std::move(packed);
                    full->plain = QByteArray();
                }
                if (--m_compressing == 0 && std::exchange(m_returnWhenCompressed, false)) ReturnFreedMemory();
            },
            Qt::QueuedConnection);
    });
}

void LogStore::clear() {
    m_quiet.stop();
    m_pool.clear();
    ++m_generation;
    m_chunks.clear();
    m_spare = QByteArray();
    m_compressing = 0;
    m_returnWhenCompressed = false;
    m_count = 0;
    m_textBytes = 0;
    m_dropped = 0;
    m_shift = 0;
    for (int i = 0; i < 2; ++i) {
        m_cachedChunk[i] = nullptr;
        m_cached[i] = QByteArray();
    }
}

const LogStore::Chunk& LogStore::chunkOf(int paragraph, int& local) const {
    const auto it = std::upper_bound(m_chunks.cbegin(), m_chunks.cend(), paragraph,
                                     [](int p, const std::shared_ptr<Chunk>& c) { return p < c->first; });
    const Chunk& chunk = **(it - 1);
    local = paragraph - chunk.first;
    return chunk;
}

qsizetype LogStore::startOf(const Chunk& chunk, int local) const {
    if (local == 0) return 0;
    const quint32 before = chunk.ends[local - 1];
    return qsizetype(before & kEndMask) + qsizetype(before >> 30);
}

int LogStore::style(int paragraph) const {
    if (m_dropped > 0 && paragraph == 0) return m_noteStyle;
    int local = 0;
    const Chunk& chunk = chunkOf(stored(paragraph), local);
    return quint8(chunk.styles[local]);
}

int LogStore::length(int paragraph) const {
    if (m_dropped > 0 && paragraph == 0) return int(droppedNote().size());
    int local = 0;
    const Chunk& chunk = chunkOf(stored(paragraph), local);
    return int(qsizetype(chunk.ends[local] & kEndMask) - startOf(chunk, local));
}

QByteArrayView LogStore::bytesOf(const Chunk& chunk) const {
    if (chunk.packed.isEmpty()) return chunk.plain;
    if (m_cachedChunk[0] == &chunk) return m_cached[0];
    if (m_cachedChunk[1] == &chunk) {
        std::swap(m_cachedChunk[0], m_cachedChunk[1]);
        std::swap(m_cached[0], m_cached[1]);
        return m_cached[0];
    }
    m_cachedChunk[1] = m_cachedChunk[0];
    m_cached[1] = std::move(m_cached[0]);
    m_cached[0] = QByteArray(chunk.plainSize, Qt::Uninitialized);
    const int size = LZ4_decompress_safe(chunk.packed.constData(), m_cached[0].data(), int(chunk.packed.size()),
                                         int(chunk.plainSize));
    if (size != chunk.plainSize) m_cached[0].fill('?');
    m_cachedChunk[0] = &chunk;
    return m_cached[0];
}

QString LogStore::text(int paragraph) const {
    if (m_dropped > 0 && paragraph == 0) return droppedNote();
    int local = 0;
    const Chunk& chunk = chunkOf(stored(paragraph), local);
    const qsizetype start = startOf(chunk, local);
    const qsizetype end = qsizetype(chunk.ends[local] & kEndMask);
    return fromCp1252(bytesOf(chunk).sliced(start, end - start));
}

qsizetype LogStore::plainBytes() const {
    qsizetype bytes = 0;
    for (const auto& chunk : m_chunks)
        if (chunk->packed.isEmpty()) bytes += chunk->plainSize;
    return bytes;
}

void LogStore::settle() {
    m_pool.waitForDone();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}
