#include "MessagePreview.h"

#include "Cp1252.h"
#include "EncodedWords.h"
#include "HtmlText.h"
#include "PreviewLines.h"

#include <QByteArray>
#include <QSet>
#include <algorithm>
#include <array>
#include <deque>
#include <optional>
#include <vector>

// A TOP reply may end anywhere at a line end: inside a header, inside a part, inside a base64 block
// or an HTML tag. Whatever was fetched is shown as far as it goes; nothing here needs the end.

namespace {

// Multiparts and forwarded messages nested deeper than this are not looked into.
constexpr int kMaxDepth = 20;
// Entities (parts and forwarded messages) of one message looked at: a body of nothing but
// delimiter lines stays a small job.
constexpr int kMaxEntities = 10000;
// Sections of one RFC 2231 parameter put together ("filename*0*" ... "filename*63*").
constexpr int kMaxSections = 64;

using Preview::equalsNoCase;
using Preview::hexValue;
using Preview::isBlank;
using Preview::LineSink;

/** One line of `data` from `begin`: its text ends at `end` (without CR LF or LF), the next starts at `next`. */
struct Line {
    qsizetype begin, end, next;
};

Line lineAt(QByteArrayView data, qsizetype begin) {
    const qsizetype lf = data.indexOf('\n', begin);
    Line l{begin, lf < 0 ? data.size() : lf, lf < 0 ? data.size() : lf + 1};
    if (lf >= 0 && l.end > begin && data[l.end - 1] == '\r') --l.end;
    return l;
}

// ---------------------------------------------------------------------------------------------------
// Header fields and their parameters

/** The fields of a header the preview reads, unfolded, not decoded. */
struct Fields {
    QByteArray contentType, transferEncoding, disposition, from, subject;
};

// RFC 5322, 2.2: a field name is printable US-ASCII but ':'; the obsolete syntax (4.5) lets blanks
// stand before the colon. Returns the colon's position, or -1 when the line is not a field.
qsizetype fieldColon(QByteArrayView line) {
    qsizetype i = 0;
    while (i < line.size() && line[i] > ' ' && line[i] < 127 && line[i] != ':')
        ++i;
    if (i == 0) return -1;
    while (i < line.size() && isBlank(line[i]))
        ++i;
    return i < line.size() && line[i] == ':' ? i : -1;
}

QByteArray* fieldNamed(Fields& f, QByteArrayView name) {
    if (equalsNoCase(name, "content-type")) return &f.contentType;
    if (equalsNoCase(name, "content-transfer-encoding")) return &f.transferEncoding;
    if (equalsNoCase(name, "content-disposition")) return &f.disposition;
    if (equalsNoCase(name, "from")) return &f.from;
    if (equalsNoCase(name, "subject")) return &f.subject;
    return nullptr;
}

/** Reads the header at the start of `data` into `f` (a field given twice: the last one); returns
 *  where the body starts. The header ends at a blank line, or, in a part written without one, at
 *  the first line that is neither a field nor the continuation of one. */
qsizetype parseHeader(QByteArrayView data, Fields& f) {
    QByteArray* current = nullptr; // the field whose folded lines are being joined
    for (qsizetype pos = 0; pos < data.size();) {
        const Line l = lineAt(data, pos);
        const QByteArrayView line = data.sliced(l.begin, l.end - l.begin);
        if (line.isEmpty()) return l.next;
        if (isBlank(line[0])) {
            if (pos == 0) return 0;
            // RFC 5322, 2.2.3: unfolding takes out the line break, not the blanks after it.
            if (current) current->append(line);
        } else if (const qsizetype colon = fieldColon(line); colon >= 0) {
            current = fieldNamed(f, line.first(colon).trimmed());
            if (current) *current = line.sliced(colon + 1).toByteArray();
        } else {
            return pos;
        }
        pos = l.next;
    }
    return data.size();
}

struct Param {
    QByteArray name; // lower case
    QByteArray value;
    bool quoted = false;
};

// RFC 2045, 5.1: parameter := attribute "=" value, value := token / quoted-string, after the first
// ';'. An unquoted value runs to the next ';' (some mailers leave blanks or '=' in it unquoted).
std::vector<Param> paramsOf(QByteArrayView value) {
    std::vector<Param> out;
    const qsizetype n = value.size();
    qsizetype i = value.indexOf(';');
    while (i >= 0 && i < n) {
        ++i; // past the ';'
        const qsizetype nameStart = i;
        while (i < n && value[i] != '=' && value[i] != ';')
            ++i;
        if (i >= n || value[i] == ';') continue;
        Param p;
        p.name = value.sliced(nameStart, i - nameStart).trimmed().toByteArray().toLower();
        ++i;
        while (i < n && isBlank(value[i]))
            ++i;
        if (i < n && value[i] == '"') {
            // RFC 822 quoted-string: a backslash quotes the character after it.
            p.quoted = true;
            for (++i; i < n && value[i] != '"'; ++i) {
                if (value[i] == '\\' && i + 1 < n) ++i;
                p.value += value[i];
            }
        }
        const qsizetype valueStart = i;
        while (i < n && value[i] != ';')
            ++i;
        if (!p.quoted) p.value = value.sliced(valueStart, i - valueStart).trimmed().toByteArray();
        out.push_back(std::move(p));
    }
    return out;
}

/** A parameter that holds one token (charset, boundary), empty when absent: an unquoted value ends
 *  at a blank, so a comment after it ("us-ascii (Plain text)") is not part of it. */
QByteArray tokenParam(QByteArrayView fieldValue, QByteArrayView name) {
    for (const Param& p : paramsOf(fieldValue)) {
        if (p.name != name) continue;
        const qsizetype blank = p.quoted ? -1 : p.value.indexOf(' ');
        return blank < 0 ? p.value : p.value.first(blank);
    }
    return {};
}

bool hasParam(const std::vector<Param>& params, QByteArrayView name) {
    return std::any_of(params.begin(), params.end(), [&](const Param& p) {
        return p.name.startsWith(name) && (p.name.size() == name.size() || p.name[name.size()] == '*');
    });
}

QByteArray percentDecoded(QByteArrayView v) {
    QByteArray out;
    out.reserve(v.size());
    for (qsizetype i = 0; i < v.size(); ++i) {
        if (v[i] == '%' && i + 2 < v.size() && hexValue(v[i + 1]) >= 0 && hexValue(v[i + 2]) >= 0) {
            out += char(hexValue(v[i + 1]) * 16 + hexValue(v[i + 2]));
            i += 2;
        } else {
            out += v[i];
        }
    }
    return out;
}

/** Raw 8-bit header text as shown: UTF-8 where valid (RFC 6532), RFC 2047 encoded words decoded. */
QString headerText(QByteArrayView raw) {
    return DecodificarTexto(fromUtf8OrCp1252(raw.trimmed()));
}

/** A parameter's value without RFC 2231 encoding. Encoded words are not allowed inside quotes (RFC
 *  2047, 5), but mailers put them there; quotes and backslashes in a name are kept. */
QString plainParamText(QByteArrayView raw) {
    const QString text = fromUtf8OrCp1252(raw);
    return text.contains(u"=?"_qs) ? DecodificarTexto(text) : text;
}

/** A parameter's text with RFC 2231 applied; nothing when the message does not give it. */
std::optional<QString> paramText(const std::vector<Param>& params, QByteArrayView name, QByteArray* unknownCharset) {
    const Param* plain = nullptr;
    const Param* extended = nullptr;
    std::array<const Param*, kMaxSections> sections{};
    for (const Param& p : params) {
        if (p.name == name) {
            if (!plain) plain = &p;
            continue;
        }
        if (p.name.size() <= name.size() || !p.name.startsWith(name) || p.name[name.size()] != '*') continue;
        QByteArrayView rest = QByteArrayView(p.name).sliced(name.size() + 1);
        if (rest.isEmpty()) {
            if (!extended) extended = &p;
            continue;
        }
        if (rest.endsWith('*')) rest.chop(1);
        bool ok = false;
        const int index = rest.size() <= 3 ? rest.toInt(&ok) : -1;
        if (ok && index >= 0 && index < kMaxSections && !sections[index]) sections[index] = &p;
    }
    // RFC 2231, 4: an encoded value (its name ends in '*') is charset'language'%XX..., the charset
    // and language given only in the first section; unencoded sections are taken as they are.
    auto encoded = [](const Param* p) { return p->name.endsWith('*'); };
    QByteArray charset;
    bool anyEncoded = false;
    QByteArray bytes;
    auto appendSection = [&](const Param* p, bool first) {
        QByteArrayView v = p->value;
        if (!encoded(p)) {
            bytes += v;
            return;
        }
        anyEncoded = true;
        if (first) {
            const qsizetype q1 = v.indexOf('\'');
            const qsizetype q2 = q1 < 0 ? -1 : v.indexOf('\'', q1 + 1);
            if (q2 >= 0) {
                charset = v.first(q1).toByteArray();
                v = v.sliced(q2 + 1);
            }
        }
        bytes += percentDecoded(v);
    };
    if (extended) {
        appendSection(extended, true);
    } else if (sections[0]) {
        for (int k = 0; k < kMaxSections && sections[k]; ++k)
            appendSection(sections[k], k == 0);
    } else if (plain) {
        return plainParamText(plain->value);
    } else {
        return std::nullopt;
    }
    if (!anyEncoded) return plainParamText(bytes);
    bool known = true;
    QString text = DecodeCharset(charset, bytes, &known);
    if (!known) *unknownCharset = charset;
    return text;
}

/** A field's own value, before the ';' of its parameters. */
QByteArrayView valueBeforeParams(QByteArrayView fieldValue) {
    const qsizetype semicolon = fieldValue.indexOf(';');
    return (semicolon < 0 ? fieldValue : fieldValue.first(semicolon)).trimmed();
}

/** Type and subtype in lower case. */
struct MediaType {
    QByteArray type, subtype;
};

// RFC 2045, 5.2: no Content-Type, or one that cannot be read, means text/plain; inside a
// multipart/digest it means message/rfc822 (RFC 2046, 5.1.5).
MediaType mediaTypeOf(QByteArrayView value, bool inDigest) {
    const QByteArrayView main = valueBeforeParams(value);
    const qsizetype slash = main.indexOf('/');
    if (slash > 0) {
        const QByteArrayView type = main.first(slash).trimmed();
        const QByteArrayView subtype = main.sliced(slash + 1).trimmed();
        if (!type.isEmpty() && !subtype.isEmpty())
            return {type.toByteArray().toLower(), subtype.toByteArray().toLower()};
    }
    return inDigest ? MediaType{"message", "rfc822"} : MediaType{"text", "plain"};
}

// ---------------------------------------------------------------------------------------------------
// Transfer encodings

// RFC 2045, 6.7: "=XX" is a byte (lower-case digits taken too), a '=' ending a line is a soft line
// break, blanks at the end of a line were added in transport (rule 3); any other '=' stays.
QByteArray decodeQuotedPrintable(QByteArrayView in) {
    QByteArray out(in.size(), Qt::Uninitialized); // never longer than the input
    char* d = out.data();
    for (qsizetype pos = 0; pos < in.size();) {
        const Line l = lineAt(in, pos);
        qsizetype end = l.end;
        while (end > l.begin && isBlank(in[end - 1]))
            --end;
        bool soft = false;
        for (qsizetype i = l.begin; i < end; ++i) {
            if (in[i] == '=') {
                if (i + 1 == end) {
                    soft = true;
                    break;
                }
                if (i + 2 < end && hexValue(in[i + 1]) >= 0 && hexValue(in[i + 2]) >= 0) {
                    *d++ = char(hexValue(in[i + 1]) * 16 + hexValue(in[i + 2]));
                    i += 2;
                    continue;
                }
            }
            *d++ = in[i];
        }
        if (!soft)
            for (qsizetype i = l.end; i < l.next; ++i)
                *d++ = in[i];
        pos = l.next;
    }
    out.truncate(d - out.data());
    return out;
}

// RFC 2045, 6.8: characters outside the alphabet, line breaks among them, are ignored; '=' ends a
// group. A body cut in the middle gives the bytes its characters complete.
QByteArray decodeBase64(QByteArrayView in) {
    QByteArray out((in.size() / 4 + 1) * 3, Qt::Uninitialized);
    char* d = out.data();
    unsigned acc = 0;
    int bits = 0;
    for (const char c : in) {
        const int v = Base64Digit(c);
        if (v < 0) {
            if (c == '=') acc = bits = 0;
            continue;
        }
        acc = ((acc << 6) | unsigned(v)) & 0xFFFF;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            *d++ = char((acc >> bits) & 0xFF);
        }
    }
    out.truncate(d - out.data());
    return out;
}

/** The body with its transfer encoding undone: a view of the body itself for 7bit, 8bit, binary and
 *  unknown encodings, else of `storage`. */
QByteArrayView transferDecoded(QByteArrayView encoding, QByteArrayView body, QByteArray& storage) {
    const QByteArrayView e = encoding.trimmed();
    if (equalsNoCase(e, "quoted-printable"))
        storage = decodeQuotedPrintable(body);
    else if (equalsNoCase(e, "base64"))
        storage = decodeBase64(body);
    else
        return body;
    return storage;
}

// ---------------------------------------------------------------------------------------------------
// Plain text

/** Charsets where a CR or LF byte is always a line break and never part of a character. */
bool lineSafeCharset(QByteArrayView label) {
    const QByteArrayView l = label.trimmed();
    return l.isEmpty() || equalsNoCase(l, "us-ascii") || equalsNoCase(l, "utf-8");
}

/** Where the bytes of the first `lines` lines end, lines before the first printable ASCII character
 *  not counted: as many bytes as the preview can show of text in a line-safe charset, possibly more
 *  (a lone CR is not counted; a line of no-break spaces, blank for the preview, is). */
qsizetype endOfFirstLines(QByteArrayView b, int lines) {
    qsizetype i = 0;
    while (i < b.size() && !(b[i] > ' ' && b[i] < 127))
        ++i;
    for (int count = 0; count < lines; ++count) {
        i = b.indexOf('\n', i);
        if (i < 0) return b.size();
        ++i;
    }
    return i;
}

// ---------------------------------------------------------------------------------------------------
// MIME structure (RFC 2046)

// RFC 2046, 5.1.1: a delimiter line is "--" boundary, and "--" more on the last one, then blanks;
// the line break before it belongs to it. The preamble before the first delimiter and the epilogue
// after the last are not part of any part; a part cut off ends where the body does. `onBody` returns
// false to stop.
template <typename F> void splitMultipart(QByteArrayView body, QByteArrayView boundary, F&& onBody) {
    qsizetype partStart = -1;
    for (qsizetype pos = 0; pos < body.size();) {
        const Line l = lineAt(body, pos);
        const QByteArrayView line = body.sliced(l.begin, l.end - l.begin);
        pos = l.next;
        if (line.size() < boundary.size() + 2 || !line.startsWith("--") || line.sliced(2, boundary.size()) != boundary)
            continue;
        QByteArrayView rest = line.sliced(boundary.size() + 2);
        const bool last = rest.startsWith("--");
        if (last) rest = rest.sliced(2);
        // Blanks (and a CR left by a line cut there) may follow; a longer boundary that starts the same does not.
        if (!std::all_of(rest.begin(), rest.end(), [](char c) { return isBlank(c) || c == '\r'; })) continue;
        if (partStart >= 0) {
            qsizetype end = l.begin;
            if (end > partStart && body[end - 1] == '\n') --end;
            if (end > partStart && body[end - 1] == '\r') --end;
            if (!onBody(body.sliced(partStart, end - partStart))) return;
        }
        if (last) return;
        partStart = l.next;
    }
    if (partStart >= 0) onBody(body.sliced(partStart));
}

enum class TextKind { None, Plain, Html };

/** What the preview shows of a message, worked out on the tree of its parts. */
class Previewer {
public:
    explicit Previewer(int maxLines) : m_sink(maxLines) {}

    /** A message's own body, given the fields of its header. */
    void previewBody(Fields fields, QByteArrayView body) {
        const int root = build(std::move(fields), body, 0, false, true);
        bool textShown = false;
        render(root, textShown);
    }
    MessagePreview take() {
        MessagePreview p = m_sink.take();
        p.unknownCharsets = std::move(m_unknownCharsets);
        return p;
    }

private:
    enum class Node { Leaf, Multipart, Message, Skipped };
    /** RFC 2045, 2.4: the header fields and the body of a message or of one of its parts. */
    struct MimeEntity {
        Fields fields;
        MediaType media;
        QByteArrayView body;
        Node node = Node::Leaf;
        TextKind text = TextKind::None; // the text that showing the part shows first
        bool attachment = false;
        bool dispositionAttachment = false;
        int firstChild = -1; // a multipart's first part, a forwarded message's own root
        int nextSibling = -1;
    };

    /** Adds the entity and those it holds; returns its index, or -1 past the limit. */
    int build(Fields fields, QByteArrayView body, int depth, bool inDigest, bool messageRoot) {
        if (m_entities.size() >= size_t(kMaxEntities)) return -1;
        const int index = int(m_entities.size());
        {
            MimeEntity& p = m_entities.emplace_back();
            p.media = mediaTypeOf(fields.contentType, inDigest);
            p.fields = std::move(fields);
            p.body = body;
        }
        const MediaType media = m_entities[index].media;
        if (media.type == "multipart") {
            const QByteArray boundary = tokenParam(m_entities[index].fields.contentType, "boundary");
            if (depth >= kMaxDepth || boundary.isEmpty()) {
                m_entities[index].node = Node::Skipped;
                return index;
            }
            m_entities[index].node = Node::Multipart;
            int last = -1;
            splitMultipart(body, boundary, [&](QByteArrayView bytes) {
                Fields f;
                const qsizetype start = parseHeader(bytes, f);
                const int child = build(std::move(f), bytes.sliced(start), depth + 1, media.subtype == "digest", false);
                if (child < 0) return false;
                (last < 0 ? m_entities[index].firstChild : m_entities[last].nextSibling) = child;
                last = child;
                return true;
            });
            m_entities[index].text = multipartText(m_entities[index]);
        } else if (media.type == "message" && (media.subtype == "rfc822" || media.subtype == "global")) {
            if (depth >= kMaxDepth) {
                m_entities[index].node = Node::Skipped;
                return index;
            }
            m_entities[index].node = Node::Message;
            // RFC 2046, 5.2.1 allows no encoding here, but some mailers encode it all the same.
            QByteArray storage;
            QByteArrayView message = transferDecoded(m_entities[index].fields.transferEncoding, body, storage);
            if (!storage.isNull()) message = m_buffers.emplace_back(std::move(storage));
            Fields f;
            const qsizetype start = parseHeader(message, f);
            m_entities[index].firstChild = build(std::move(f), message.sliced(start), depth + 1, false, true);
        } else {
            MimeEntity& p = m_entities[index];
            const std::vector<Param> typeParams = paramsOf(p.fields.contentType);
            const std::vector<Param> dispositionParams = paramsOf(p.fields.disposition);
            p.dispositionAttachment = equalsNoCase(valueBeforeParams(p.fields.disposition), "attachment");
            const bool named = hasParam(dispositionParams, "filename") || hasParam(typeParams, "name") ||
                               hasParam(dispositionParams, "name") || hasParam(typeParams, "filename");
            // The body of a message is its text whatever its name; a part is text when nothing
            // makes it an attachment.
            p.attachment = media.type != "text" || (!messageRoot && (p.dispositionAttachment || named));
            if (!p.attachment && media.subtype == "html")
                p.text = TextKind::Html;
            else if (!p.attachment && (media.subtype == "plain" || messageRoot))
                p.text = TextKind::Plain;
        }
        return index;
    }

    TextKind multipartText(const MimeEntity& p) const {
        if (p.media.subtype == "alternative") return kindOf(chooseAlternative(p));
        if (p.media.subtype == "related") return kindOf(p.firstChild);
        for (int c = p.firstChild; c >= 0; c = m_entities[c].nextSibling)
            if (m_entities[c].text != TextKind::None) return m_entities[c].text;
        return TextKind::None;
    }
    TextKind kindOf(int part) const { return part < 0 ? TextKind::None : m_entities[part].text; }

    // RFC 2046, 5.1.4: alternatives come in increasing order of faithfulness, the last one best. The
    // plain text is what the pane can show as written; HTML is the next choice.
    int chooseAlternative(const MimeEntity& p) const {
        int plain = -1, html = -1, last = -1;
        for (int c = p.firstChild; c >= 0; c = m_entities[c].nextSibling) {
            if (m_entities[c].text == TextKind::Plain) plain = c;
            if (m_entities[c].text == TextKind::Html) html = c;
            last = c;
        }
        return plain >= 0 ? plain : html >= 0 ? html : last;
    }

    /** Shows a part; `textShown` says whether its message's text is shown already. */
    void render(int index, bool& textShown) {
        if (index < 0 || m_sink.full()) return;
        const MimeEntity& p = m_entities[index];
        switch (p.node) {
        case Node::Multipart:
            if (p.media.subtype == "alternative") {
                render(chooseAlternative(p), textShown);
            } else if (p.media.subtype == "related") {
                // RFC 2387: the root (the first part) is what is shown; the others are what it
                // refers to (images), unless they say they are attachments.
                render(p.firstChild, textShown);
                for (int c = p.firstChild < 0 ? -1 : m_entities[p.firstChild].nextSibling; c >= 0;
                     c = m_entities[c].nextSibling)
                    if (m_entities[c].node == Node::Leaf && m_entities[c].dispositionAttachment)
                        showAttachment(m_entities[c]);
            } else {
                for (int c = p.firstChild; c >= 0; c = m_entities[c].nextSibling)
                    render(c, textShown);
            }
            break;
        case Node::Message:
            showForwarded(p);
            break;
        case Node::Leaf:
            if (p.text != TextKind::None) {
                if (!textShown) showText(p);
                textShown = true;
            } else if (p.attachment) {
                showAttachment(p);
            }
            break;
        case Node::Skipped:
            break;
        }
    }

    void showText(const MimeEntity& p) {
        QByteArray storage;
        const QByteArrayView bytes = transferDecoded(p.fields.transferEncoding, p.body, storage);
        QByteArray charset = tokenParam(p.fields.contentType, "charset");
        const bool html = p.text == TextKind::Html;
        if (html && charset.isEmpty()) charset = Preview::HtmlMetaCharset(bytes);
        bool known = true;
        m_sink.beginBlock();
        if (html) {
            Preview::AppendHtmlAsText(DecodeCharset(charset, bytes, &known), m_sink);
        } else {
            // Only the lines that can be shown are decoded: the listing builds previews in bulk.
            const QByteArrayView shown =
                lineSafeCharset(charset) ? bytes.first(endOfFirstLines(bytes, m_sink.room())) : bytes;
            m_sink.addText(DecodeCharset(charset, shown, &known));
        }
        if (!known) noteUnknownCharset(charset);
    }

    void showAttachment(const MimeEntity& p) {
        const std::vector<Param> dispositionParams = paramsOf(p.fields.disposition);
        const std::vector<Param> typeParams = paramsOf(p.fields.contentType);
        QByteArray unknown;
        std::optional<QString> name = paramText(dispositionParams, "filename", &unknown);
        if (!name) name = paramText(typeParams, "filename", &unknown);
        if (!name) name = paramText(typeParams, "name", &unknown);
        if (!name) name = paramText(dispositionParams, "name", &unknown);
        if (!unknown.isEmpty()) noteUnknownCharset(unknown);
        QString shown = name ? name->trimmed() : QString();
        if (shown.isEmpty()) shown = fromCp1252(p.media.type + '/' + p.media.subtype);
        m_sink.addLabel(u"[Adjunto: "_qs + shown + u']');
    }

    void showForwarded(const MimeEntity& p) {
        m_sink.addLabel(u"[Mensaje reenviado]"_qs);
        if (p.firstChild < 0) return;
        const Fields& f = m_entities[p.firstChild].fields;
        if (const QString from = headerText(f.from); !from.isEmpty()) m_sink.addLabel(u"De: "_qs + from);
        if (const QString subject = headerText(f.subject); !subject.isEmpty())
            m_sink.addLabel(u"Asunto: "_qs + subject);
        bool textShown = false; // the forwarded message shows its own text
        render(p.firstChild, textShown);
    }

    void noteUnknownCharset(QByteArrayView label) {
        const QString name = fromCp1252(label.trimmed());
        // A set, not a search of the list: a message may have thousands of parts.
        if (!m_unknownSeen.contains(name.toLower())) {
            m_unknownSeen.insert(name.toLower());
            m_unknownCharsets.append(name);
        }
    }

    LineSink m_sink;
    std::vector<MimeEntity> m_entities;
    std::deque<QByteArray> m_buffers; // decoded forwarded messages, which parts point into
    QStringList m_unknownCharsets;
    QSet<QString> m_unknownSeen; // in lower case
};

} // namespace

MessagePreview BuildPreview(QByteArrayView contentType, QByteArrayView transferEncoding, QByteArrayView body,
                            int maxLines) {
    Previewer previewer(maxLines);
    Fields fields;
    fields.contentType = contentType.toByteArray();
    fields.transferEncoding = transferEncoding.toByteArray();
    previewer.previewBody(std::move(fields), body);
    return previewer.take();
}

MessagePreview PreviewOfMessage(QByteArrayView message, int maxLines) {
    Previewer previewer(maxLines);
    Fields fields;
    const qsizetype body = parseHeader(message, fields);
    previewer.previewBody(std::move(fields), message.sliced(body));
    return previewer.take();
}
