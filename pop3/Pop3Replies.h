// Framing and parsing of POP3 server replies (RFC 1939). Framing is separate from parsing: the
// assembler turns reads, split anywhere by TCP, into complete replies; the parsers are pure
// functions on the text of one complete reply.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

/** @short Collects reads and hands out complete replies, each scanned once however it was split. */
class ReplyAssembler final {
public:
    enum class Framing {
        SingleLine,          ///< status line only (greeting, USER, PASS, STAT, DELE, RSET, NOOP)
        MultiLineIfPositive, ///< "+OK" opens a reply that ends with a "." line (LIST, TOP); "-ERR" is one line
    };

    void append(QByteArrayView bytes);
    /** @short The next complete reply, or nothing yet. The framing applies to the reply that starts
     *  now; a reply already begun keeps the framing it started with. A status line ends at its LF;
     *  a multi-line reply (its status line "+OK") ends only at CR LF "." CR LF, or at a "." CR LF
     *  line right after the status line: a "." next to a bare LF or CR is data. The text is
     *  Windows-1252 decoded, every line ends in CR LF (a bare LF gets its CR, for display and
     *  parsing only), and the extra leading dot of byte-stuffed lines is removed (the final "."
     *  line stays). */
    std::optional<QString> takeReply(Framing framing);
    /** @short Bytes received for replies not yet handed out. */
    qsizetype pendingBytes() const { return m_buffer.size() - m_start; }
    /** @short True when part of a reply has arrived. */
    bool hasPartialReply() const { return pendingBytes() > 0; }
    /** @short True when what is pending ends like a multi-line reply of a server that ends its lines
     *  with a bare LF (a "." line after or before a lone LF or CR), which never ends a reply here. */
    bool endsWithLooseTerminator() const;
    void clear();

private:
    QString finish(qsizetype end);

    static constexpr qsizetype kKeptCapacity = 256 * 1024; ///< the most kept for the next reply

    QByteArray m_buffer;
    qsizetype m_start = 0;      // first byte of the reply being assembled
    qsizetype m_lineStart = 0;  // first byte of the line being examined
    qsizetype m_searchFrom = 0; // where the search for the next LF goes on
    bool m_statusSeen = false;
    bool m_multiLine = false;
    bool m_atLineStart = false; // m_lineStart follows a CR LF (or the status line): a "." there may end the reply
};

/** One message of a LIST reply. */
struct ListEntry {
    int num = 0;
    int bytes = 0;
};

/** @short The lines of a complete positive LIST reply: the run of digits at the start of a line is the
 *  number, the size starts one separator after it. Empty lines and lines starting with '+' or '.'
 *  are skipped. Returns nothing when a line is malformed (no number, a size that is not a
 *  non-negative decimal up to the end of the line, values beyond 32 bits). */
std::optional<QList<ListEntry>> ParseListReply(const QString& reply);

/** @short The message count of a positive STAT reply ("+OK 3 1024"), or nothing when it has none. */
std::optional<qint64> ParseStatCount(const QString& reply);

/** @short The capability names of a positive CAPA reply (RFC 2449), upper case, in order. */
QStringList ParseCapabilities(const QString& reply);

/** @short The mechanisms of the SASL line of a positive CAPA reply (RFC 2449, 6.9), upper case;
 *  nothing when it has no SASL line. */
std::optional<QStringList> ParseSaslMechanisms(const QString& reply);

/** @short The seconds of the LOGIN-DELAY line of a positive CAPA reply (RFC 2449, 6.5), 0 when it
 *  has none or its value is not a number. */
int ParseLoginDelay(const QString& reply);

/** @short The "number unique-id" lines of a positive UIDL reply (RFC 1939, 7); nothing when a line
 *  is malformed. */
std::optional<QList<std::pair<int, QString>>> ParseUidlReply(const QString& reply);
