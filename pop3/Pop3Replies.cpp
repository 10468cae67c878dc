#include "Pop3Replies.h"

#include "Cp1252.h"

// ---------------------------------------------------------------------------------------------------
// Framing (RFC 1939, 3: a multi-line reply ends with a line holding a single "."; lines starting with
// "." are byte-stuffed).

void ReplyAssembler::append(QByteArrayView bytes) {
    // Drop what earlier replies consumed before the buffer grows, so it never holds more than one
    // reply's worth of old bytes and compaction stays linear overall.
    if (m_start > 0 && m_start >= m_buffer.size() / 2) {
        m_buffer.remove(0, m_start);
        m_lineStart -= m_start;
        m_searchFrom -= m_start;
        m_start = 0;
    }
    m_buffer.append(bytes);
}

void ReplyAssembler::clear() {
    m_buffer.clear();
    m_start = m_lineStart = m_searchFrom = 0;
    m_statusSeen = m_multiLine = m_atLineStart = false;
}

bool ReplyAssembler::endsWithLooseTerminator() const {
    QByteArrayView rest(m_buffer.constData() + m_start, pendingBytes());
    if (!rest.endsWith('\n')) return false;
    rest.chop(rest.endsWith("\r\n") ? 2 : 1);
    return rest.size() >= 2 && rest.endsWith('.') && (rest[rest.size() - 2] == '\n' || rest[rest.size() - 2] == '\r');
}

std::optional<QString> ReplyAssembler::takeReply(Framing framing) {
    const char* data = m_buffer.constData();
    const qsizetype size = m_buffer.size();
    if (m_start >= size) return std::nullopt;
    if (!m_statusSeen) {
        const qsizetype lf = m_buffer.indexOf('\n', std::max(m_searchFrom, m_start));
        if (lf < 0) {
            m_searchFrom = size;
            return std::nullopt;
        }
        m_statusSeen = true;
        m_multiLine = framing == Framing::MultiLineIfPositive && lf - m_start >= 3 &&
                      QByteArrayView(data + m_start, 3) == QByteArrayView("+OK");
        m_lineStart = m_searchFrom = lf + 1;
        m_atLineStart = true;
        if (!m_multiLine) return finish(lf + 1);
    }
    for (;;) {
        const qsizetype lf = m_buffer.indexOf('\n', m_searchFrom);
        if (lf < 0) {
            m_searchFrom = size;
            return std::nullopt;
        }
        // Only CR LF ends a line: a message stored with bare LFs may hold LF "." CR LF in its header,
        // and taking that for the end would shift every later reply onto the wrong message.
        const bool crlf = lf > m_lineStart && data[lf - 1] == '\r';
        if (m_atLineStart && crlf && lf - m_lineStart == 2 && data[m_lineStart] == '.') return finish(lf + 1);
        m_atLineStart = crlf;
        m_lineStart = m_searchFrom = lf + 1;
    }
}

QString ReplyAssembler::finish(qsizetype end) {
    const char* data = m_buffer.constData();
    QString out;
    out.reserve(end - m_start + 16);
    // Lines go over as they are, CR LF included, in runs as long as possible: a run breaks only
    // where a byte-stuffed dot is dropped or a bare LF becomes CR LF.
    qsizetype runStart = m_start;
    auto takeRun = [&](qsizetype runEnd) { appendFromCp1252(out, QByteArrayView(data + runStart, runEnd - runStart)); };
    bool firstLine = true;
    bool atLineStart = false; // the line follows a CR LF or the status line
    qsizetype pos = m_start;
    while (pos < end) {
        qsizetype lf = m_buffer.indexOf('\n', pos);
        if (lf < 0 || lf >= end) lf = end - 1; // cannot happen: every reply ends with a LF
        qsizetype lineEnd = lf;
        const bool cr = lineEnd > pos && data[lineEnd - 1] == '\r';
        if (cr) --lineEnd;
        const bool terminator = atLineStart && lf + 1 == end && lineEnd - pos == 1 && data[pos] == '.';
        if (m_multiLine && atLineStart && !terminator && data[pos] == '.') {
            takeRun(pos);
            runStart = pos + 1;
        }
        if (!cr || data[lf] != '\n') {
            takeRun(lineEnd);
            out += u"\r\n";
            runStart = lf + 1;
        }
        atLineStart = firstLine || cr;
        firstLine = false;
        pos = lf + 1;
    }
    takeRun(end);
    m_start = end;
    m_lineStart = m_searchFrom = end;
    m_statusSeen = m_multiLine = m_atLineStart = false;
    if (m_start == m_buffer.size()) {
        // Everything is handed out: a big reply's bytes are given back now, not kept until the
        // next one (a small buffer is kept for the next read).
        if (m_buffer.capacity() > kKeptCapacity)
            m_buffer = QByteArray();
        else
            m_buffer.resize(0);
        m_start = m_lineStart = m_searchFrom = 0;
    }
    return out;
}

// ---------------------------------------------------------------------------------------------------
// LIST (RFC 1939, 5: "+OK" then one "msg octets" line per message)

namespace {

bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

std::optional<int> digitsToInt(QStringView s) {
    if (s.isEmpty()) return std::nullopt;
    qint64 v = 0;
    for (QChar c : s) {
        if (!isDigit(c)) return std::nullopt;
        v = v * 10 + (c.unicode() - u'0');
        if (v > std::numeric_limits<int>::max()) return std::nullopt;
    }
    return int(v);
}

} // namespace

std::optional<QList<ListEntry>> ParseListReply(const QString& reply) {
    QList<ListEntry> out;
    qsizetype pos = reply.indexOf(u"\r\n");
    if (pos < 0) return out;
    pos += 2;
    const qsizetype n = reply.size();
    while (pos < n) {
        const qsizetype eol = reply.indexOf(u"\r\n", pos);
        if (eol < 0) break; // a line without its line break is not parsed
        const QStringView line = QStringView(reply).mid(pos, eol - pos);
        pos = eol + 2;
        if (line.isEmpty() || line[0] == u'+' || line[0] == u'.') continue;
        qsizetype run = 0;
        while (run < line.size() && isDigit(line[run]))
            ++run;
        const auto num = digitsToInt(line.left(run));
        // One separator after the number; the size may be padded with blanks.
        QStringView size = run + 1 <= line.size() ? line.mid(run + 1) : QStringView();
        while (!size.isEmpty() && size[0] == u' ')
            size = size.mid(1);
        const auto bytes = digitsToInt(size);
        if (!num || !bytes) return std::nullopt;
        out.append({*num, *bytes});
    }
    return out;
}

// ---------------------------------------------------------------------------------------------------
// STAT

std::optional<qint64> ParseStatCount(const QString& reply) {
    qsizetype i = reply.indexOf(u' ');
    if (i < 0) return std::nullopt;
    while (i < reply.size() && reply[i] == u' ')
        ++i;
    qint64 v = 0;
    qsizetype digits = 0;
    for (; i < reply.size() && isDigit(reply[i]) && digits < 18; ++i, ++digits)
        v = v * 10 + (reply[i].unicode() - u'0');
    if (digits == 0) return std::nullopt;
    return v;
}

// ---------------------------------------------------------------------------------------------------
// CAPA and UIDL

namespace {
/** The lines between the status line and the final ".". */
QList<QStringView> contentLines(const QString& reply) {
    QList<QStringView> out;
    qsizetype pos = reply.indexOf(u"\r\n");
    if (pos < 0) return out;
    pos += 2;
    while (pos < reply.size()) {
        const qsizetype eol = reply.indexOf(u"\r\n", pos);
        if (eol < 0) break;
        const QStringView line = QStringView(reply).mid(pos, eol - pos);
        pos = eol + 2;
        if (line == u"." && pos >= reply.size()) break;
        out.append(line);
    }
    return out;
}
} // namespace

QStringList ParseCapabilities(const QString& reply) {
    QStringList out;
    for (QStringView line : contentLines(reply)) {
        const QStringView name = line.trimmed().split(u' ').value(0);
        if (!name.isEmpty()) out << name.toString().toUpper();
    }
    return out;
}

std::optional<QStringList> ParseSaslMechanisms(const QString& reply) {
    for (QStringView line : contentLines(reply)) {
        QStringList words = line.toString().simplified().toUpper().split(u' ', Qt::SkipEmptyParts);
        if (words.value(0) != u"SASL") continue;
        words.removeFirst();
        return words;
    }
    return std::nullopt;
}

int ParseLoginDelay(const QString& reply) {
    for (QStringView line : contentLines(reply)) {
        const QStringList words = line.toString().simplified().split(u' ', Qt::SkipEmptyParts);
        if (words.value(0).toUpper() != u"LOGIN-DELAY") continue;
        bool ok = false;
        const int seconds = words.value(1).toInt(&ok);
        return ok && seconds > 0 ? seconds : 0;
    }
    return 0;
}

std::optional<QList<std::pair<int, QString>>> ParseUidlReply(const QString& reply) {
    QList<std::pair<int, QString>> out;
    for (QStringView line : contentLines(reply)) {
        const qsizetype blank = line.indexOf(u' ');
        if (blank <= 0) return std::nullopt;
        const auto num = digitsToInt(line.left(blank));
        const QStringView uid = line.mid(blank + 1).trimmed();
        if (!num || uid.isEmpty()) return std::nullopt;
        out.append({*num, uid.toString()});
    }
    return out;
}
