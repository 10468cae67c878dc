#include "Pop3Replies.h"

#include "Cp1252.h"
#include "UnitISO.h"
#include "UnitUtils.h"

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
    m_statusSeen = m_multiLine = false;
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
        m_multiLine = framing == Framing::MultiLineIfPositive && data[m_start] == '+';
        m_lineStart = m_searchFrom = lf + 1;
        if (!m_multiLine) return finish(lf + 1);
    }
    for (;;) {
        const qsizetype lf = m_buffer.indexOf('\n', m_searchFrom);
        if (lf < 0) {
            m_searchFrom = size;
            return std::nullopt;
        }
        qsizetype lineEnd = lf;
        if (lineEnd > m_lineStart && data[lineEnd - 1] == '\r') --lineEnd;
        if (lineEnd - m_lineStart == 1 && data[m_lineStart] == '.') return finish(lf + 1);
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
    qsizetype pos = m_start;
    while (pos < end) {
        qsizetype lf = m_buffer.indexOf('\n', pos);
        if (lf < 0 || lf >= end) lf = end - 1; // cannot happen: every reply ends with a LF
        qsizetype lineEnd = lf;
        const bool cr = lineEnd > pos && data[lineEnd - 1] == '\r';
        if (cr) --lineEnd;
        const bool terminator = !firstLine && lineEnd - pos == 1 && data[pos] == '.';
        if (m_multiLine && !firstLine && !terminator && data[pos] == '.') {
            takeRun(pos);
            runStart = pos + 1;
        }
        if (!cr || data[lf] != '\n') {
            takeRun(lineEnd);
            out += u"\r\n";
            runStart = lf + 1;
        }
        firstLine = false;
        pos = lf + 1;
    }
    takeRun(end);
    m_start = end;
    m_lineStart = m_searchFrom = end;
    m_statusSeen = m_multiLine = false;
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
// TOP of the header pass

namespace {

// Where a line starting with `key` follows a CR LF at or after `from`: the position of that CR,
// or -1. Every line ends with a CR, so a search for the next one and a compare there cost far less
// than a general substring search over the whole header.
qsizetype indexOfLineAfterCrLf(QStringView text, QStringView key, qsizetype from = 0) {
    const qsizetype last = text.size() - 2 - key.size(); // the last CR with room after it
    for (qsizetype i = NextCharAt(text, u'\r', from); i >= 0 && i <= last; i = NextCharAt(text, u'\r', i + 1))
        if (text[i + 1] == u'\n' && text.sliced(i + 2, key.size()) == key) return i;
    return -1;
}

qsizetype indexOfBlankLine(QStringView text) {
    return indexOfLineAfterCrLf(text, u"\r\n");
}

/** UnfoldHeader, also giving where the blank line after the header stands in the result (or -1). */
QString unfold(const QString& reply, qsizetype& blankOut) {
    const QStringView r(reply);
    const qsizetype blank = indexOfBlankLine(r);
    const qsizetype headerEnd = blank < 0 ? r.size() : blank;
    QString out;
    out.reserve(r.size());
    // Copied a run at a time: the text between two folds goes over whole.
    qsizetype run = 0;
    for (qsizetype i = NextCharAt(r, u'\r'); i >= 0 && i < headerEnd; i = NextCharAt(r, u'\r', i + 1)) {
        if (i + 1 == r.size() || r[i + 1] != u'\n') continue;
        qsizetype j = i + 2;
        while (j < headerEnd && (r[j] == u' ' || r[j] == u'\t'))
            ++j;
        if (j > i + 2) {
            out += r.sliced(run, i - run);
            out += u' ';
            run = j;
            i = j - 1; // the search goes on after the blanks
        }
    }
    // Unfolding only shortens the header: the blank line moves back by what was taken out.
    blankOut = blank < 0 ? -1 : out.size() + (blank - run);
    out += r.sliced(run);
    return out;
}
} // namespace

QString UnfoldHeader(const QString& reply) {
    qsizetype blank = -1;
    return unfold(reply, blank);
}

namespace {

bool isLineBreakChar(QChar c) {
    return c == u'\r' || c == u'\n';
}
bool isFoldChar(QChar c) {
    return c == u'\t' || c == u'\r' || c == u'\n';
}

// The value after a keyword: from the character after the colon to the end of its line.
QString valueAt(const QString& text, qsizetype afterColon, qsizetype& lineEnd) {
    qsizetype e = afterColon;
    while (e < text.size() && !isLineBreakChar(text[e]))
        ++e;
    lineEnd = e;
    return text.mid(afterColon, e - afterColon);
}

QString trimLeadingBlanks(const QString& s) {
    qsizetype i = 0;
    while (i < s.size() && s[i] == u' ')
        ++i;
    return s.mid(i);
}

} // namespace

namespace {
void extraerDestinatarios(const QString& text, QStringView folded, const QString& key, QStringList& out);
}

ParsedHeader ParseHeaderReply(const QString& raw) {
    ParsedHeader h;
    qsizetype blank = -1;
    const QString reply = unfold(raw, blank);
    // The scan below stops at the first blank line: only the header part needs the fold.
    const QString folded = MayusculasSinAcentos(blank < 0 ? reply : reply.left(blank + 4));
    QStringView foldedTexto; // the fold of h.texto
    // Keywords count wherever they stand (so Resent-From: replaces From:), up to the blank line; the
    // last one wins, and the rest of its line is its value. Every keyword ends with a colon: only
    // the colons are looked at.
    const QStringView f(folded);
    const qsizetype headerEnd = blank < 0 ? reply.size() : blank;
    qsizetype p = 0; // where the next keyword may start
    for (qsizetype colon = NextCharAt(f, u':'); colon >= 0 && colon < headerEnd;
         colon = NextCharAt(f, u':', colon + 1)) {
        qsizetype start = -1;
        if (colon - 4 >= p && (f.sliced(colon - 4, 4) == u"FROM" || f.sliced(colon - 4, 4) == u"DATE"))
            start = colon - 4;
        else if (colon - 7 >= p && f.sliced(colon - 7, 7) == u"SUBJECT")
            start = colon - 7;
        if (start < 0) continue;
        qsizetype lineEnd = 0;
        const QString value = valueAt(reply, colon + 1, lineEnd);
        if (f[start] == u'S')
            h.subj = DecodificarTexto(value);
        else if (f[start] == u'F')
            h.from = DecodificarTexto(value);
        else
            h.fecha = trimLeadingBlanks(value);
        p = lineEnd;
        colon = lineEnd - 1; // the search goes on after the value
    }
    if (blank >= 0) {
        h.texto = reply.left(blank).mid(3);
        qsizetype lead = 0;
        while (lead < h.texto.size() && isLineBreakChar(h.texto[lead]))
            ++lead;
        h.texto.remove(0, lead);
        foldedTexto = f.mid(std::min<qsizetype>(blank, 3) + lead, h.texto.size());
        // The body without the final "." line and the line breaks around it.
        QString body = reply.mid(blank + 4);
        qsizetype e = body.size();
        while (e > 0 && isLineBreakChar(body[e - 1]))
            --e;
        if (e > 0) --e;
        while (e > 0 && isLineBreakChar(body[e - 1]))
            --e;
        body.truncate(e);
        h.body = body;
    } else {
        h.texto = folded;
        foldedTexto = folded; // folding twice changes nothing
    }
    extraerDestinatarios(h.texto, foldedTexto, u"TO: "_qs, h.destinatarios);
    extraerDestinatarios(h.texto, foldedTexto, u"CC: "_qs, h.destinatarios);
    return h;
}

void ExtraerDestinatarios(const QString& text, const QString& key, QStringList& out) {
    extraerDestinatarios(text, MayusculasSinAcentos(text), key, out);
}

namespace {
/** @short ExtraerDestinatarios with the fold of the text (MayusculasSinAcentos) already made. */
void extraerDestinatarios(const QString& text, QStringView folded, const QString& key, QStringList& out) {
    const qsizetype n = text.size();
    // The field starts a line; the first line of the header counts too.
    qsizetype start = 0;
    if (folded.startsWith(key)) {
        start = key.size();
    } else {
        const qsizetype keyPos = indexOfLineAfterCrLf(folded, key);
        if (keyPos < 0 || keyPos >= n - 1) return;
        start = keyPos + 2 + key.size();
    }
    // Outside angle brackets a ':' (the next field's name) or a blank line ends the value.
    bool inBrackets = false;
    bool inQuotes = false;
    qsizetype i = start;
    qsizetype valueEnd = n; // exclusive
    for (; i < n - 1; ++i) {
        const QChar c = text[i];
        if (c == u'"' && !inBrackets)
            inQuotes = !inQuotes;
        else if (c == u'<' && !inQuotes)
            inBrackets = true;
        else if (c == u'>' && !inQuotes)
            inBrackets = false;
        else if (!inBrackets && !inQuotes && c == u':') {
            // Step back over the next field's name and the line break before it.
            qsizetype j = i - 1;
            while (j >= start && !text[j].isSpace() && text[j] != u',' && text[j] != u'>')
                --j;
            while (j >= start && isFoldChar(text[j]))
                --j;
            valueEnd = j + 1;
            break;
        } else if (c == u'\r' && !inBrackets && QStringView(text).mid(i).startsWith(u"\r\n\r\n")) {
            valueEnd = i;
            break;
        }
    }
    if (valueEnd < start) valueEnd = start;
    // Each run of line breaks and TABs becomes one blank; the text between goes over whole.
    QString value;
    value.reserve(valueEnd - start);
    for (qsizetype k = start; k < valueEnd;) {
        qsizetype runEnd = k;
        while (runEnd < valueEnd && !isFoldChar(text[runEnd]))
            ++runEnd;
        value += QStringView(text).sliced(k, runEnd - k);
        if (runEnd == valueEnd) break;
        value += u' ';
        for (k = runEnd; k < valueEnd && isFoldChar(text[k]);)
            ++k;
    }
    // Split at commas outside quoted display names; blanks after a comma are skipped.
    qsizetype pieceStart = 0;
    bool quoted = false;
    for (qsizetype k = 0; k <= value.size(); ++k) {
        if (k < value.size() && value[k] == u'"') quoted = !quoted;
        const bool comma = k < value.size() && value[k] == u',' && !quoted;
        if (comma) {
            out.append(DecodificarTexto(value.mid(pieceStart, k - pieceStart)));
            pieceStart = k + 1;
            while (pieceStart < value.size() && value[pieceStart] == u' ')
                ++pieceStart;
            k = pieceStart - 1;
        } else if (k == value.size()) {
            const QString last = value.mid(pieceStart);
            if (!last.isEmpty()) out.append(DecodificarTexto(last));
        }
    }
}
} // namespace

// ---------------------------------------------------------------------------------------------------
// TOP asked for by the user, STAT

QString ParseFirstLinesReply(const QString& reply) {
    const qsizetype blank = indexOfBlankLine(reply);
    if (blank < 0) return {};
    QString kept = reply.mid(blank + 4);
    qsizetype e = kept.size();
    while (e > 0 && isLineBreakChar(kept[e - 1]))
        --e;
    if (e > 0 && kept[e - 1] == u'.' && (e == 1 || isLineBreakChar(kept[e - 2]))) {
        --e;
        while (e > 0 && isLineBreakChar(kept[e - 1]))
            --e;
        kept.truncate(e);
    }
    return kept;
}

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
