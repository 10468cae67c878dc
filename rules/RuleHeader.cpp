#include "RuleHeader.h"

#include "Cp1252.h"
#include "EncodedWords.h"

#include <algorithm>
#include <utility>

namespace {

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

QStringView trimBlanks(QStringView s) {
    while (!s.isEmpty() && isBlank(s.front()))
        s = s.sliced(1);
    while (!s.isEmpty() && isBlank(s.back()))
        s.chop(1);
    return s;
}

// Walks a structured header value (RFC 5322, 3.2.2-3.2.4) and tells, for each character, whether
// it stands outside quoted strings and comments; comments nest and a backslash quotes the next
// character in both.
class StructuredScan {
public:
    /** Feeds the next character; true when it is plain text at the top level. */
    bool atTop(QChar c) {
        if (m_escaped) {
            m_escaped = false;
            return false;
        }
        if ((m_quoted || m_depth > 0) && c == u'\\') {
            m_escaped = true;
            return false;
        }
        if (m_quoted) {
            if (c == u'"') m_quoted = false;
            return false;
        }
        if (c == u'(') {
            ++m_depth;
            return false;
        }
        if (m_depth > 0) {
            if (c == u')') --m_depth;
            return false;
        }
        if (c == u'"') {
            m_quoted = true;
            return false;
        }
        return true;
    }
    bool inComment() const { return m_depth > 0; }

private:
    bool m_escaped = false;
    bool m_quoted = false;
    int m_depth = 0;
};

/** The value with every comment replaced by one blank; quoted strings are kept. */
QString withoutComments(QStringView value) {
    QString out;
    out.reserve(value.size());
    StructuredScan scan;
    bool wasComment = false;
    for (QChar c : value) {
        const bool before = scan.inComment();
        scan.atTop(c);
        const bool comment = before || scan.inComment();
        if (comment && !wasComment) out += u' ';
        if (!comment) out += c;
        wasComment = comment;
    }
    return out;
}

/** Splits at every top-level occurrence of `separator`. */
QList<QStringView> splitTop(QStringView value, QChar separator) {
    QList<QStringView> pieces;
    StructuredScan scan;
    qsizetype start = 0;
    bool inAngle = false;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (!scan.atTop(value[i])) continue;
        if (value[i] == u'<') inAngle = true;
        if (value[i] == u'>') inAngle = false;
        if (value[i] == separator && !inAngle) {
            pieces.append(value.sliced(start, i - start));
            start = i + 1;
        }
    }
    pieces.append(value.sliced(start));
    return pieces;
}

struct Mailbox {
    QString displayName; ///< raw, not decoded; empty for a bare address
    QString address;
};

/** The mailboxes of an address list (RFC 5322, 3.4): "Name <addr>" or a bare addr-spec each. */
QList<Mailbox> mailboxes(QStringView value) {
    QList<Mailbox> out;
    for (QStringView piece : splitTop(value, u',')) {
        StructuredScan scan;
        qsizetype open = -1;
        for (qsizetype i = 0; i < piece.size() && open < 0; ++i)
            if (scan.atTop(piece[i]) && piece[i] == u'<') open = i;
        Mailbox m;
        if (open >= 0) {
            const qsizetype close = piece.indexOf(u'>', open);
            m.displayName = trimBlanks(piece.left(open)).toString();
            m.address = withoutComments(piece.sliced(open + 1, (close < 0 ? piece.size() : close) - open - 1));
        } else {
            m.address = withoutComments(piece);
        }
        m.address = trimBlanks(m.address).toString();
        if (!m.address.isEmpty()) out.append(m);
    }
    return out;
}

QString domainOf(const QString& address) {
    const qsizetype at = address.lastIndexOf(u'@');
    return at < 0 ? QString() : trimBlanks(QStringView(address).sliced(at + 1)).toString().toCaseFolded();
}

bool isAddressChar(QChar c) {
    return !c.isSpace() && !QStringView(u"\"<>()[],;:").contains(c);
}

/** Every "local@domain" written in a text (a display name), as far as address characters go. */
QStringList addressesIn(const QString& text) {
    QStringList out;
    for (qsizetype at = text.indexOf(u'@'); at >= 0; at = text.indexOf(u'@', at + 1)) {
        qsizetype begin = at;
        // Not across another '@': each stretch of text is looked at once, however many there are.
        while (begin > 0 && isAddressChar(text[begin - 1]) && text[begin - 1] != u'@')
            --begin;
        qsizetype end = at + 1;
        while (end < text.size() && isAddressChar(text[end]) && text[end] != u'@')
            ++end;
        while (end > at + 1 && text[end - 1] == u'.')
            --end;
        if (begin < at && end > at + 1) out.append(text.mid(begin, end - begin));
    }
    return out;
}

// RFC 8601, 2.2: authres-header = authserv-id [version] ( no-result / 1*resinfo ), resinfo =
// ";" methodspec [reasonspec] *propspec, methodspec = method [ "/" version ] "=" result. Some
// servers (Outlook) leave out the authserv-id: a piece is a result when it starts "method=".
bool methodFails(const QString& value, QStringView method) {
    const QString plain = withoutComments(value);
    for (QStringView piece : splitTop(plain, u';')) {
        piece = trimBlanks(piece);
        const qsizetype eq = piece.indexOf(u'=');
        if (eq <= 0) continue;
        QStringView name = trimBlanks(piece.left(eq));
        if (std::any_of(name.begin(), name.end(), [](QChar c) { return c.isSpace() || c == u'"'; })) continue;
        const qsizetype slash = name.indexOf(u'/');
        if (slash >= 0) name = name.left(slash);
        QStringView result = trimBlanks(piece.sliced(eq + 1));
        qsizetype end = 0;
        while (end < result.size() && !result[end].isSpace())
            ++end;
        if (name.compare(method, Qt::CaseInsensitive) == 0 &&
            result.left(end).compare(u"fail", Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool misleadingName(const RuleHeader& header) {
    const std::optional<QString> from = header.firstRawValue(u"From");
    if (!from) return false;
    const QList<Mailbox> boxes = mailboxes(*from);
    if (boxes.isEmpty() || boxes.front().displayName.isEmpty()) return false;
    const QString own = boxes.front().address.toCaseFolded();
    const QStringList named = addressesIn(DecodificarTexto(boxes.front().displayName));
    return std::any_of(named.begin(), named.end(), [&](const QString& a) { return a.toCaseFolded() != own; });
}

bool replyToOtherDomain(const RuleHeader& header) {
    const std::optional<QString> from = header.firstRawValue(u"From");
    const std::optional<QString> replyTo = header.firstRawValue(u"Reply-To");
    if (!from || !replyTo) return false;
    const QList<Mailbox> senders = mailboxes(*from);
    const QString fromDomain = senders.isEmpty() ? QString() : domainOf(senders.front().address);
    if (fromDomain.isEmpty()) return false;
    for (const Mailbox& m : mailboxes(*replyTo)) {
        const QString domain = domainOf(m.address);
        if (!domain.isEmpty() && domain != fromDomain) return true;
    }
    return false;
}

} // namespace

RuleHeader::RuleHeader(QStringView header, bool cut, bool lastLineCut) : m_cut(cut || lastLineCut) {
    QString unfolded;
    unfolded.reserve(header.size());
    qsizetype pos = 0;
    bool first = true;
    while (pos < header.size()) {
        const qsizetype lf = header.indexOf(u'\n', pos);
        const qsizetype end = lf < 0 ? header.size() : lf;
        QStringView line = header.sliced(pos, end - pos);
        pos = end + 1;
        if (line.endsWith(u'\r')) line.chop(1);
        if (line.isEmpty()) break; // the blank line that ends the header
        if (!first && isBlank(line.front())) {
            // RFC 5322, 2.2.3: a line break and the blanks after it become one blank.
            while (!line.isEmpty() && isBlank(line.front()))
                line = line.sliced(1);
            unfolded += u' ';
        } else if (!first) {
            unfolded += u'\n';
        }
        unfolded += line;
        first = false;
    }
    // A field whose 8-bit bytes are valid UTF-8 reads as UTF-8 (RFC 6532), any other as Windows-1252.
    m_text.reserve(unfolded.size());
    bool firstLine = true;
    bool lastLineIsField = false;
    for (QStringView raw : QStringView(unfolded).split(u'\n')) {
        if (!std::exchange(firstLine, false)) m_text += u'\n';
        lastLineIsField = false;
        const qsizetype lineStart = m_text.size();
        m_text += utf8OrCp1252(raw);
        const QStringView line = QStringView(m_text).sliced(lineStart);
        const qsizetype colon = line.indexOf(u':');
        if (colon < 0) continue;
        // RFC 5322, 4.5.3: blanks may stand between the name and the colon.
        const QStringView name = trimBlanks(line.left(colon));
        if (!IsFieldName(name)) continue;
        lastLineIsField = true;
        Field f;
        f.name = name.toString();
        QStringView value = line.sliced(colon + 1);
        while (!value.isEmpty() && isBlank(value.front()))
            value = value.sliced(1);
        f.raw = value.toString();
        m_fields.push_back(std::move(f));
    }
    if (lastLineCut && lastLineIsField) m_fields.back().cut = true;
}

QString RuleHeader::cutFieldName() const {
    return !m_fields.empty() && m_fields.back().cut ? m_fields.back().name : QString();
}

const QString& RuleHeader::foldedText() const {
    if (!m_foldedText) m_foldedText = MayusculasSinAcentos(m_text);
    return *m_foldedText;
}

bool RuleHeader::nameIs(qsizetype i, QStringView name) const {
    return QStringView(m_fields[size_t(i)].name).compare(name, Qt::CaseInsensitive) == 0;
}

const QString& RuleHeader::decodedValue(qsizetype i) const {
    const Field& f = m_fields[size_t(i)];
    if (!f.decoded) f.decoded = DecodificarTexto(f.raw);
    return *f.decoded;
}

const QString& RuleHeader::foldedValue(qsizetype i) const {
    const Field& f = m_fields[size_t(i)];
    if (!f.folded) f.folded = MayusculasSinAcentos(decodedValue(i));
    return *f.folded;
}

std::optional<QString> RuleHeader::firstRawValue(QStringView name) const {
    for (qsizetype i = 0; i < fieldCount(); ++i)
        if (nameIs(i, name)) return rawValue(i);
    return std::nullopt;
}

bool RuleHeader::firstIsWhole(QStringView name) const {
    for (qsizetype i = 0; i < fieldCount(); ++i)
        if (nameIs(i, name)) return !isCutField(i);
    return !isCut();
}

bool IsFieldName(QStringView name) {
    if (name.isEmpty()) return false;
    return std::all_of(name.begin(), name.end(),
                       [](QChar c) { return c.unicode() >= 33 && c.unicode() <= 126 && c != u':'; });
}

bool HeaderHasHint(const RuleHeader& header, AuthenticityHint hint) {
    switch (hint) {
    case AuthenticityHint::DkimFailed:
    case AuthenticityHint::SpfFailed:
    case AuthenticityHint::DmarcFailed: {
        // The receiving server puts its own results on top; the lower ones may come from anybody.
        const std::optional<QString> results = header.firstRawValue(u"Authentication-Results");
        const QStringView method = hint == AuthenticityHint::DkimFailed  ? u"dkim"
                                   : hint == AuthenticityHint::SpfFailed ? u"spf"
                                                                         : u"dmarc";
        return results && methodFails(*results, method);
    }
    case AuthenticityHint::MisleadingName:
        return misleadingName(header);
    case AuthenticityHint::ReplyToOtherDomain:
        return replyToOtherDomain(header);
    }
    return false;
}

bool HintIsDecidable(const RuleHeader& header, AuthenticityHint hint) {
    switch (hint) {
    case AuthenticityHint::DkimFailed:
    case AuthenticityHint::SpfFailed:
    case AuthenticityHint::DmarcFailed:
        return header.firstIsWhole(u"Authentication-Results");
    case AuthenticityHint::MisleadingName:
        return header.firstIsWhole(u"From");
    case AuthenticityHint::ReplyToOtherDomain:
        return header.firstIsWhole(u"From") && header.firstIsWhole(u"Reply-To");
    }
    return false;
}

QString HintName(AuthenticityHint hint) {
    switch (hint) {
    case AuthenticityHint::DkimFailed:
        return u"dkim-fallido"_qs;
    case AuthenticityHint::SpfFailed:
        return u"spf-fallido"_qs;
    case AuthenticityHint::DmarcFailed:
        return u"dmarc-fallido"_qs;
    case AuthenticityHint::MisleadingName:
        return u"nombre-engañoso"_qs;
    case AuthenticityHint::ReplyToOtherDomain:
        return u"responder-a-otro-dominio"_qs;
    }
    return {};
}

bool HasHint(const QString& header, AuthenticityHint hint) {
    return HeaderHasHint(RuleHeader(header), hint);
}
