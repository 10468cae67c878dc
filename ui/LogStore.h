// The text of a dialogue log: every line a paragraph of Windows-1252 bytes with a style, kept in
// chunks of about 256 KB. Once 24 MB of newer text follows it, or once the log has been quiet for
// a while (kQuietMs), a full chunk is compressed (LZ4: about half the CPU of zstd's fastest level,
// for a little less room saved) on a worker thread and its plain bytes given back; a paragraph of a
// compressed chunk is read through a small cache. Waiting for a quiet log spares the chunks that a
// bounded log drops soon after, in a header pass, the work of compressing them.
// A header pass of 50,000 messages logs some 200 MB of text: kept plain, the log alone would take
// more room than the rest of the window.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringView>
#include <QThreadPool>
#include <QTimer>
#include <memory>
#include <utility>

class LogStore final : public QObject {
    Q_OBJECT
public:
    /** @short plainTail: how much of the newest text is left plain (kPlainTail); quietTail: the same
     *  once the log is quiet (kQuietTail). */
    explicit LogStore(QObject* parent = nullptr, qsizetype plainTail = kPlainTail, qsizetype quietTail = kQuietTail);
    ~LogStore() override;

    /** @short Appends text in a style, one paragraph a CR LF line. An empty line keeps a paragraph
     *  of one blank; lone CRs and LFs stay in their line; text after the last CR LF is a paragraph. */
    void append(QStringView text, int style);
    /** @short append of text already in Windows-1252 bytes. */
    void append(QByteArrayView bytes, int style);
    void clear();
    /** @short Keeps at most about `bytes` of text (0: no bound): past it the oldest lines go, a
     *  chunk at a time, and a first paragraph in `noteStyle` says how many went. */
    void setLimit(qsizetype bytes, int noteStyle);
    /** @short The paragraphs the bound took from the front since the last call, less the note
     *  paragraph when it first appeared: how far every paragraph's number moved back. */
    int takeShift() { return std::exchange(m_shift, 0); }

    int count() const { return m_count - firstKept() + (m_dropped > 0 ? 1 : 0); }
    /** @short The lines the bound has dropped so far (the note counts them). */
    qint64 dropped() const { return m_dropped; }
    int style(int paragraph) const;
    int length(int paragraph) const;
    QString text(int paragraph) const;

    /** @short Compresses every full chunk but the newest few (what the quiet timer does), then gives
     *  the memory freed back to the system. */
    void compact();
    /** @short Waits for the chunks being compressed (tests and measurements). */
    void settle();
    /** @short The bytes of text held plain. */
    qsizetype plainBytes() const;

    /** A chunk is sealed and compressed once its plain text reaches this size. */
    static constexpr qsizetype kChunkBytes = 256 * 1024;
    /** The newest text of the log stays plain: a log of a few thousand messages is never compressed. */
    static constexpr qsizetype kPlainTail = 24 * 1024 * 1024;
    /** Once no chunk has filled for this long, the full ones are compressed but the newest kQuietTail. */
    static constexpr int kQuietMs = 2000;
    static constexpr qsizetype kQuietTail = 1024 * 1024;

private:
    struct Chunk {
        int first = 0;       ///< its first paragraph
        QByteArray plain;    ///< the text while open or until its compressed form is in
        QByteArray packed;   ///< LZ4, once compressed
        bool queued = false; ///< handed to the worker
        qsizetype plainSize = 0;
        /** Per paragraph: where it ends (30 bits) and the bytes of line break after it (2 bits). */
        QList<quint32> ends;
        QByteArray styles;
    };
    const Chunk& chunkOf(int paragraph, int& local) const;
    int firstKept() const { return m_chunks.isEmpty() ? 0 : m_chunks.first()->first; }
    /** The paragraph of the store for a paragraph number as counted outside (after the note). */
    int stored(int paragraph) const { return paragraph - (m_dropped > 0 ? 1 : 0) + firstKept(); }
    QString droppedNote() const;
    /** Drops the oldest chunks while the text is past the bound. */
    void keepWithinLimit();
    qsizetype startOf(const Chunk& chunk, int local) const;
    QByteArrayView bytesOf(const Chunk& chunk) const;
    void seal();
    void compress(std::shared_ptr<Chunk> chunk);
    /** @short Makes room for n bytes at the end of the open chunk; where they go. */
    char* grow(qsizetype n);
    /** @short The paragraphs of the n bytes just written at the end of the open chunk. */
    void split(qsizetype n, int style);

    QList<std::shared_ptr<Chunk>> m_chunks;
    QByteArray m_spare; ///< the plain text's room of the last chunk the bound dropped, for the next one
    qsizetype m_plainTail;
    qsizetype m_quietTail;
    int m_count = 0;
    qsizetype m_limit = 0; ///< the most text kept, 0 for no bound
    int m_noteStyle = 0;
    qsizetype m_textBytes = 0; ///< the text of the chunks kept
    qint64 m_dropped = 0;      ///< paragraphs dropped for the bound
    int m_shift = 0;
    int m_compressing = 0;               ///< chunks handed to the worker and not back yet
    bool m_returnWhenCompressed = false; ///< a compaction's plain text is freed: give the memory back
    quint64 m_generation = 0;            ///< a compression finished for a log since cleared is dropped
    QThreadPool m_pool;                  ///< one thread: the chunks are compressed in turn beside the window
    QTimer m_quiet;
    // Unpacked chunks read lately (paint and selection read a few chunks again and again).
    mutable const Chunk* m_cachedChunk[2] = {nullptr, nullptr};
    mutable QByteArray m_cached[2];
};
