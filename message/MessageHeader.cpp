#include "MessageHeader.h"

#include "Cp1252.h"
#include "EncodedWords.h"
#include "TextAndTime.h"

// ---------------------------------------------------------------------------------------------------
// The header and first lines of a TOP reply (the header pass)

namespace {

// Whether the text at `at` reads `key` (in capitals) once folded with MayusculasSinAcentos. Only
// the characters compared are folded, never the whole header.
bool foldedAt(QStringView text, qsizetype at, QStringView key) {
    if (at < 0 || key.size() > text.size() - at) return false;
    for (qsizetype k = 0; k < key.size(); ++k)
        if (MayusculaSinAcento(text[at + k]) != key[k]) return false;
    return true;
}

// Where a line starting with `key` (compared folded) follows a CR LF at or after `from`: the
// position of that CR, or -1. Every line ends with a CR, so a search for the next one and a
// compare there cost far less than a general substring search over the whole header.
qsizetype indexOfLineAfterCrLf(QStringView text, QStringView key, qsizetype from = 0) {
    const qsizetype last = text.size() - 2 - key.size(); // the last CR with room after it
    for (qsizetype i = NextCharAt(text, u'\r', from); i >= 0 && i <= last; i = NextCharAt(text, u'\r', i + 1))
        if (text[i + 1] == u'\n' && foldedAt(text, i + 2, key)) return i;
    return -1;
}

qsizetype indexOfBlankLine(QStringView text) {
    return indexOfLineAfterCrLf(text, u"\r\n");
}

/** UnfoldHeader in the text itself, giving where the blank line after the header now stands (or
 *  -1). Unfolding only shortens the text, so it needs no second buffer: the text between two folds
 *  moves back over what the folds before it took out. Nothing is written before the first fold. */
qsizetype unfoldInPlace(QString& text) {
    const qsizetype blank = indexOfBlankLine(text);
    const qsizetype headerEnd = blank < 0 ? text.size() : blank;
    qsizetype run = 0; // the first character not moved yet
    qsizetype to = 0;  // where it goes
    auto moveBack = [&](qsizetype runEnd) {
        QChar* d = text.data();
        if (to != run) std::copy(d + run, d + runEnd, d + to); // to < run: a forward copy is safe
        to += runEnd - run;
    };
    for (qsizetype i = NextCharAt(text, u'\r'); i >= 0 && i < headerEnd; i = NextCharAt(text, u'\r', i + 1)) {
        const QStringView r(text);
        if (i + 1 == r.size() || r[i + 1] != u'\n') continue;
        qsizetype j = i + 2;
        while (j < headerEnd && (r[j] == u' ' || r[j] == u'\t'))
            ++j;
        if (j > i + 2) {
            moveBack(i);
            text.data()[to++] = u' ';
            run = j;
            i = j - 1; // the search goes on after the blanks
        }
    }
    if (to == run) return blank; // nothing folded
    const qsizetype removed = run - to;
    moveBack(text.size());
    text.truncate(to);
    return blank < 0 ? -1 : blank - removed;
}
} // namespace

QString UnfoldHeader(const QString& reply) {
    QString out = reply;
    unfoldInPlace(out);
    return out;
}

namespace {

bool isLineBreakChar(QChar c) {
    return c == u'\r' || c == u'\n';
}
bool isFoldChar(QChar c) {
    return c == u'\t' || c == u'\r' || c == u'\n';
}

/** One line of the unfolded header that opens a field (RFC 5322, 2.2 and 3.6.8): its name is a run of
 *  printable US-ASCII characters but ':' at the start of the line, blanks may follow it (obsolete
 *  syntax, 4.5.3), then the colon. A line that does not read so (the status line, an mbox "From "
 *  line, a stray line) is no field, and nothing inside a value is ever taken for one. */
struct FieldLine {
    QStringView name;
    qsizetype valueStart = 0; ///< right after the colon
    qsizetype lineEnd = 0;    ///< the CR of the line's CR LF, or the end of the header
};

/** The field that opens the line at `start`, where the line ends at `lineEnd`; nothing when the line is not a field. */
std::optional<FieldLine> fieldAt(QStringView text, qsizetype start, qsizetype lineEnd) {
    qsizetype i = start;
    while (i < lineEnd && text[i].unicode() >= 33 && text[i].unicode() <= 126 && text[i] != u':')
        ++i;
    const qsizetype nameEnd = i;
    while (i < lineEnd && (text[i] == u' ' || text[i] == u'\t'))
        ++i;
    if (nameEnd == start || i == lineEnd || text[i] != u':') return std::nullopt;
    return FieldLine{text.sliced(start, nameEnd - start), i + 1, lineEnd};
}

/** Where the line at `from` ends: its CR LF, or `end`. */
qsizetype lineEndAt(QStringView text, qsizetype from, qsizetype end) {
    for (qsizetype cr = NextCharAt(text, u'\r', from); cr >= 0 && cr < end; cr = NextCharAt(text, u'\r', cr + 1))
        if (cr + 1 < text.size() && text[cr + 1] == u'\n') return cr;
    return end;
}

/** Calls `f` for every field of the header lines between `from` and `end`, in order; `f` returns false to stop. */
template <typename F> void forEachField(QStringView text, qsizetype from, qsizetype end, F&& f) {
    for (qsizetype pos = from; pos < end;) {
        const qsizetype lineEnd = lineEndAt(text, pos, end);
        if (const auto field = fieldAt(text, pos, lineEnd))
            if (!f(*field)) return;
        pos = lineEnd + 2;
    }
}

/** Whether a field name ends with `key` (in capitals), compared without case. */
bool nameEndsWith(QStringView name, QStringView key) {
    return name.size() >= key.size() && foldedAt(name, name.size() - key.size(), key);
}
bool nameIs(QStringView name, QStringView key) {
    return name.size() == key.size() && foldedAt(name, 0, key);
}

// The value of a field, from the first non-blank after the colon to the end of its line, cut to
// `limit` characters. The blanks skipped are those the decoding trims anyway.
QStringView valueOf(QStringView text, const FieldLine& field, qsizetype limit) {
    qsizetype b = field.valueStart;
    while (b < field.lineEnd && text[b] == u' ')
        ++b;
    return text.sliced(b, std::min(field.lineEnd - b, limit));
}

/** A recipients' value as it is kept: each run of TABs (and line breaks, in a header that was not
 *  unfolded) becomes one blank. With `foldValues` it comes out folded with MayusculasSinAcentos. */
QString recipientValue(QStringView value, bool foldValues) {
    QString out;
    out.reserve(value.size());
    for (qsizetype k = 0; k < value.size();) {
        qsizetype runEnd = k;
        while (runEnd < value.size() && !isFoldChar(value[runEnd]))
            ++runEnd;
        out += value.sliced(k, runEnd - k);
        if (runEnd == value.size()) break;
        out += u' ';
        for (k = runEnd; k < value.size() && isFoldChar(value[k]);)
            ++k;
    }
    if (foldValues)
        for (QChar& c : out)
            c = MayusculaSinAcento(c);
    return out;
}

void splitRecipients(const QString& value, QStringList& out);

/** Where a header text that starts at `start` of the (unfolded) text and is cut to `size`
 *  characters ends: a whole line stands before a CR LF, and the text is whole when nothing is cut. */
HeaderTextCut cutOf(QStringView text, qsizetype start, qsizetype size, qsizetype headerEnd) {
    if (size <= kMaxHeaderText) return HeaderTextCut::None;
    const qsizetype cut = start + kMaxHeaderText;
    const auto crLfAt = [&](qsizetype at) {
        return at >= start && at + 1 < headerEnd && text[at] == u'\r' && text[at + 1] == u'\n';
    };
    return crLfAt(cut) || crLfAt(cut - 1) || crLfAt(cut - 2) ? HeaderTextCut::BetweenLines : HeaderTextCut::InLine;
}

} // namespace

ParsedHeader ParseHeaderText(QStringView header, int parts) {
    QString reply = u"+OK\r\n"_qs;
    reply.reserve(header.size() * 2 + 16);
    for (qsizetype i = 0; i < header.size(); ++i) {
        if (header[i] == u'\n' && (i == 0 || header[i - 1] != u'\r')) reply += u'\r';
        reply += header[i];
    }
    if (!reply.endsWith(u"\r\n"_qs)) reply += u"\r\n"_qs;
    reply += u"\r\n.\r\n"_qs;
    return ParseHeaderReply(std::move(reply), parts);
}

ParsedHeader ParseHeaderReply(QString reply, int parts) {
    ParsedHeader h;
    const qsizetype blank = unfoldInPlace(reply);
    const QStringView r(reply); // holds until the reply is cut below
    // One field a line, after the status line, up to the blank line. A field whose name ends in
    // From, Subject or Date (Resent-From, X-Original-From, Resent-Date) counts as that field, and
    // the last one wins; To and Cc are those names alone, and the first one counts.
    const qsizetype headerEnd = blank < 0 ? r.size() : blank;
    const qsizetype statusEnd = lineEndAt(r, 0, headerEnd);
    const bool folded = blank < 0; // without a blank line the recipients come from the fold of the reply
    std::optional<QStringView> to, cc;
    forEachField(r, statusEnd + 2, headerEnd, [&](const FieldLine& f) {
        if (nameEndsWith(f.name, u"FROM"))
            h.from = DecodificarTexto(utf8OrCp1252(valueOf(r, f, kMaxHeaderValue)));
        else if (nameEndsWith(f.name, u"SUBJECT"))
            h.subj = DecodificarTexto(utf8OrCp1252(valueOf(r, f, kMaxHeaderValue)));
        else if (nameEndsWith(f.name, u"DATE"))
            h.fecha = utf8OrCp1252(valueOf(r, f, kMaxHeaderValue));
        else if (!to && nameIs(f.name, u"TO"))
            to = valueOf(r, f, kMaxHeaderText);
        else if (!cc && nameIs(f.name, u"CC"))
            cc = valueOf(r, f, kMaxHeaderText);
        else if (nameIs(f.name, u"CONTENT-TYPE"))
            h.contentType = valueOf(r, f, kMaxHeaderValue).toString();
        else if (nameIs(f.name, u"CONTENT-TRANSFER-ENCODING"))
            h.transferEncoding = valueOf(r, f, kMaxHeaderValue).toString();
        return true;
    });
    if (to) h.to = recipientValue(*to, folded);
    if (cc) h.cc = recipientValue(*cc, folded);
    if (blank >= 0) {
        // The header text starts after "+OK" and the line breaks that follow.
        qsizetype textoStart = std::min<qsizetype>(blank, 3);
        while (textoStart < blank && isLineBreakChar(r[textoStart]))
            ++textoStart;
        const qsizetype textoSize = blank - textoStart;
        // The body without the final "." line and the line breaks around it.
        const QStringView body = r.sliced(blank + 4);
        qsizetype e = body.size();
        while (e > 0 && isLineBreakChar(body[e - 1]))
            --e;
        if (e > 0) --e;
        while (e > 0 && isLineBreakChar(body[e - 1]))
            --e;
        h.body = body.first(std::min(e, kMaxFirstLines)).toString();
        if (parts & WithText) {
            h.textoCut = cutOf(r, textoStart, textoSize, blank);
            // What stays of the reply is the header text, moved to its start.
            reply.truncate(textoStart + std::min(textoSize, kMaxHeaderText));
            reply.remove(0, textoStart);
        }
    } else if (parts & WithText) {
        // Without a blank line the header text is the whole reply folded with MayusculasSinAcentos.
        h.textoCut = cutOf(r, 0, r.size(), r.size());
        reply.truncate(kMaxHeaderText);
        for (QChar& c : reply)
            c = MayusculaSinAcento(c);
    }
    if (parts & WithRecipients) h.destinatarios = SplitRecipients(h.to, h.cc);
    if (parts & WithText) {
        // What was cut off goes back to the system; it is not kept as spare room.
        reply.squeeze();
        h.texto = std::move(reply);
    }
    return h;
}

QStringList SplitRecipients(const QString& to, const QString& cc) {
    QStringList out;
    // Raw UTF-8 in an address (RFC 6532) is read as such.
    splitRecipients(utf8OrCp1252(to), out);
    splitRecipients(utf8OrCp1252(cc), out);
    return out;
}

void ExtraerDestinatarios(const QString& text, const QString& key, QStringList& out) {
    // The field's name is the key without its colon and blank; a header that was not unfolded has
    // its continuation lines joined here.
    const QString unfolded = UnfoldHeader(text);
    const QString name = MayusculasSinAcentos(key.left(key.indexOf(u':')));
    std::optional<QStringView> value;
    forEachField(unfolded, 0, unfolded.size(), [&](const FieldLine& f) {
        if (nameIs(f.name, name)) value = valueOf(unfolded, f, kMaxHeaderText);
        return !value;
    });
    if (value) splitRecipients(utf8OrCp1252(recipientValue(*value, false)), out);
}

namespace {
void splitRecipients(const QString& value, QStringList& out) {
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
// TOP asked for by the user

QString ParseFirstLinesReply(const QString& reply) {
    const qsizetype blank = indexOfBlankLine(reply);
    if (blank < 0) return {};
    const QStringView lines = QStringView(reply).sliced(blank + 4);
    qsizetype size = lines.size();
    qsizetype e = size;
    while (e > 0 && isLineBreakChar(lines[e - 1]))
        --e;
    if (e > 0 && lines[e - 1] == u'.' && (e == 1 || isLineBreakChar(lines[e - 2]))) {
        --e;
        while (e > 0 && isLineBreakChar(lines[e - 1]))
            --e;
        size = e;
    }
    return lines.first(std::min(size, kMaxFirstLines)).toString();
}
