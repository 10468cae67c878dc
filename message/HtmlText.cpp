#include "HtmlText.h"

#include "Cp1252.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <string_view>
#include <vector>

namespace Preview {

namespace {

template <size_t N> constexpr bool sortedNames(const std::array<std::string_view, N>& names) {
    return std::is_sorted(names.begin(), names.end());
}

// Elements that end a line where they start and where they end, as blocks do in a browser.
constexpr std::array<std::string_view, 45> kBlockTags = {
    "address", "article", "aside",   "blockquote", "body",  "caption",  "center",     "dd",     "details",
    "dialog",  "dir",     "div",     "dl",         "dt",    "fieldset", "figcaption", "figure", "footer",
    "form",    "h1",      "h2",      "h3",         "h4",    "h5",       "h6",         "header", "hgroup",
    "hr",      "html",    "legend",  "li",         "main",  "menu",     "nav",        "ol",     "p",
    "pre",     "section", "summary", "table",      "tbody", "tfoot",    "thead",      "tr",     "ul"};
// Elements whose whole contents are left out, read as raw text up to their end tag.
constexpr std::array<std::string_view, 5> kSkippedTags = {"noscript", "script", "style", "template", "title"};
static_assert(sortedNames(kBlockTags) && sortedNames(kSkippedTags));

// HTML 4 named character references: those of Latin-1 by code point (U+00A0 on), then the rest mail uses.
constexpr std::array<std::string_view, 96> kLatin1Entities = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",    "copy",   "ordf",
    "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn", "sup2",   "sup3",   "acute",  "micro",
    "para",   "middot", "cedil",  "sup1",   "ordm",   "raquo",  "frac14", "frac12", "frac34", "iquest", "Agrave",
    "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil", "Egrave", "Eacute", "Ecirc",  "Euml",
    "Igrave", "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",
    "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",  "szlig",  "agrave", "aacute",
    "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil", "egrave", "eacute", "ecirc",  "euml",   "igrave",
    "iacute", "icirc",  "iuml",   "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide",
    "oslash", "ugrave", "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};
struct NamedCharacter {
    std::string_view name;
    char16_t value;
};
constexpr std::array<NamedCharacter, 49> kOtherEntities = {{
    {"amp", u'&'},         {"lt", u'<'},          {"gt", u'>'},          {"quot", u'"'},        {"apos", u'\''},
    {"euro", u'\u20AC'},   {"hellip", u'\u2026'}, {"mdash", u'\u2014'},  {"ndash", u'\u2013'},  {"lsquo", u'\u2018'},
    {"rsquo", u'\u2019'},  {"sbquo", u'\u201A'},  {"ldquo", u'\u201C'},  {"rdquo", u'\u201D'},  {"bdquo", u'\u201E'},
    {"bull", u'\u2022'},   {"trade", u'\u2122'},  {"OElig", u'\u0152'},  {"oelig", u'\u0153'},  {"Scaron", u'\u0160'},
    {"scaron", u'\u0161'}, {"Yuml", u'\u0178'},   {"fnof", u'\u0192'},   {"circ", u'\u02C6'},   {"tilde", u'\u02DC'},
    {"dagger", u'\u2020'}, {"Dagger", u'\u2021'}, {"permil", u'\u2030'}, {"lsaquo", u'\u2039'}, {"rsaquo", u'\u203A'},
    {"ensp", u'\u2002'},   {"emsp", u'\u2003'},   {"thinsp", u'\u2009'}, {"zwnj", u'\u200C'},   {"zwj", u'\u200D'},
    {"lrm", u'\u200E'},    {"rlm", u'\u200F'},    {"prime", u'\u2032'},  {"Prime", u'\u2033'},  {"larr", u'\u2190'},
    {"uarr", u'\u2191'},   {"rarr", u'\u2192'},   {"darr", u'\u2193'},   {"harr", u'\u2194'},   {"minus", u'\u2212'},
    {"le", u'\u2264'},     {"ge", u'\u2265'},     {"ne", u'\u2260'},     {"infin", u'\u221E'},
}};

std::optional<char16_t> namedEntity(std::string_view name) {
    static const std::vector<NamedCharacter> table = [] {
        std::vector<NamedCharacter> t(kOtherEntities.begin(), kOtherEntities.end());
        for (size_t i = 0; i < kLatin1Entities.size(); ++i)
            t.push_back({kLatin1Entities[i], char16_t(0xA0 + i)});
        std::sort(t.begin(), t.end(), [](const NamedCharacter& a, const NamedCharacter& b) { return a.name < b.name; });
        return t;
    }();
    const auto it = std::lower_bound(table.begin(), table.end(), name,
                                     [](const NamedCharacter& e, std::string_view n) { return e.name < n; });
    if (it == table.end() || it->name != name) return std::nullopt;
    return it->value;
}

char16_t cp1252Character(char byte) {
    return fromCp1252(QByteArrayView(&byte, 1))[0].unicode();
}

bool isAsciiLetter(QChar c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}
bool isAsciiAlnum(QChar c) {
    return isAsciiLetter(c) || (c >= u'0' && c <= u'9');
}
// HTML's ASCII whitespace, what a browser collapses outside <pre>.
bool isHtmlSpace(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}

/** HTML turned into lines of plain text, fed to the preview as they are made. */
class HtmlText {
public:
    explicit HtmlText(LineSink& sink) : m_sink(sink) {}
    void convert(QStringView html) {
        const qsizetype n = html.size();
        qsizetype i = 0;
        while (i < n && !m_sink.full()) {
            const QChar c = html[i];
            if (c == u'<') {
                i = tag(html, i);
            } else if (c == u'&') {
                i = entity(html, i);
            } else if (c == u'\r' && i + 1 < n && html[i + 1] == u'\n') {
                ++i;
            } else {
                put(c == u'\r' ? QChar(u'\n') : c);
                ++i;
            }
        }
        endLine();
    }

private:
    void put(QChar c) {
        if (m_inHead) return;
        if (m_pre > 0) {
            // A CR that the source's line ends did not take (one written "&#13;") ends a line too.
            if (c == u'\n' || c == u'\r')
                lineBreak();
            else
                m_line += c;
            return;
        }
        if (isHtmlSpace(c)) {
            m_space = true;
            return;
        }
        if (m_space && !m_line.isEmpty()) m_line += u' ';
        m_space = false;
        m_line += c;
    }
    /** <br>, or a line break inside <pre>: the line ends even when it is empty. */
    void lineBreak() {
        const QStringView text = QStringView(m_line).trimmed();
        // At most one blank line in a row, however many breaks or empty paragraphs make it.
        if (!text.isEmpty() || !m_lastBlank) m_sink.addLine(text);
        m_lastBlank = text.isEmpty();
        m_line.resize(0);
        m_space = false;
    }
    /** A block's edge: the line ends unless nothing is on it (a no-break space is something). */
    void endLine() {
        if (!m_line.isEmpty()) lineBreak();
        m_space = false;
    }

    /** Reads the markup starting at `i` ('<'), returns where the text goes on. */
    qsizetype tag(QStringView s, qsizetype i) {
        const qsizetype n = s.size();
        auto pastGt = [&](qsizetype from) {
            const qsizetype gt = s.indexOf(u'>', from);
            return gt < 0 ? n : gt + 1;
        };
        if (i + 1 >= n) {
            put(u'<');
            return n;
        }
        const QChar next = s[i + 1];
        if (next == u'!') {
            if (s.sliced(i).startsWith(u"<!--")) {
                // "<!-->" and "<!--->" are whole comments; Outlook's "<!--[if mso]>...<![endif]-->" is one.
                const qsizetype j = i + 4;
                if (j < n && s[j] == u'>') return j + 1;
                if (j + 1 < n && s[j] == u'-' && s[j + 1] == u'>') return j + 2;
                const qsizetype end = s.indexOf(u"-->", j);
                return end < 0 ? n : end + 3;
            }
            return pastGt(i); // <!DOCTYPE>, Outlook's <![if !mso]> and <![endif]>
        }
        if (next == u'?') return pastGt(i);
        const bool closing = next == u'/';
        qsizetype j = i + (closing ? 2 : 1);
        if (j >= n || !isAsciiLetter(s[j])) {
            if (closing) return pastGt(i); // "</ x>": a comment, for a browser
            put(u'<');
            return i + 1;
        }
        std::array<char, 12> name{};
        qsizetype length = 0;
        for (; j < n && (isAsciiAlnum(s[j]) || s[j] == u'-' || s[j] == u':'); ++j, ++length)
            if (length < qsizetype(name.size())) name[length] = char(s[j].toLower().unicode());
        // A longer name is none of those below.
        const std::string_view v(name.data(), length <= qsizetype(name.size()) ? size_t(length) : 0);
        qsizetype end = endOfTag(s, j);
        if (!closing && std::binary_search(kSkippedTags.begin(), kSkippedTags.end(), v)) return endOfRawText(s, end, v);
        if (v == "head") {
            m_inHead = !closing;
        } else if (v == "br") {
            if (!m_inHead) lineBreak();
        } else if (v == "td" || v == "th") {
            m_space = true;
        } else if (std::binary_search(kBlockTags.begin(), kBlockTags.end(), v)) {
            m_inHead = false; // a browser ends a <head> left open at the first thing of the body
            endLine();
            if (v == "pre") {
                m_pre = closing ? std::max(0, m_pre - 1) : m_pre + 1;
                // A line break right after <pre> is not part of its text.
                if (!closing && end < n && s[end] == u'\r') ++end;
                if (!closing && end < n && s[end] == u'\n') ++end;
            }
        }
        return end;
    }
    /** Past the '>' of a tag whose name ends before `i`; a quoted attribute value may hold a '>'. */
    static qsizetype endOfTag(QStringView s, qsizetype i) {
        const qsizetype n = s.size();
        while (i < n) {
            const QChar c = s[i++];
            if (c == u'>') return i;
            if (c != u'=') continue;
            while (i < n && isHtmlSpace(s[i]))
                ++i;
            if (i < n && (s[i] == u'"' || s[i] == u'\'')) {
                const qsizetype close = s.indexOf(s[i], i + 1);
                if (close < 0) return n;
                i = close + 1;
            }
        }
        return n;
    }
    /** Past the end tag of a raw-text element (script, style...) whose contents start at `i`. */
    static qsizetype endOfRawText(QStringView s, qsizetype i, std::string_view name) {
        const auto length = qsizetype(name.size());
        for (qsizetype lt = s.indexOf(u"</", i); lt >= 0; lt = s.indexOf(u"</", lt + 2)) {
            const qsizetype after = lt + 2 + length;
            if (after > s.size()) break;
            bool same = true;
            for (qsizetype k = 0; k < length && same; ++k)
                same = s[lt + 2 + k].toLower() == QLatin1Char(name[size_t(k)]);
            if (same && (after == s.size() || !isAsciiAlnum(s[after]))) return endOfTag(s, after);
        }
        return s.size();
    }

    /** Reads a character reference starting at `i` ('&'); one that is unknown or has no ';' stays as written. */
    qsizetype entity(QStringView s, qsizetype i) {
        const qsizetype n = s.size();
        qsizetype j = i + 1;
        char32_t value = 0;
        bool ok = false;
        if (j < n && s[j] == u'#') {
            ++j;
            const bool hex = j < n && (s[j] == u'x' || s[j] == u'X');
            if (hex) ++j;
            const qsizetype digits = j;
            for (; j < n; ++j) {
                const int d = s[j].unicode() < 128 ? hexValue(char(s[j].unicode())) : -1;
                if (d < 0 || (!hex && d > 9)) break;
                value = std::min<char32_t>(value * (hex ? 16 : 10) + char32_t(d), 0x110000);
            }
            ok = j > digits && j < n && s[j] == u';';
            // As a browser reads them: bytes 0x80..0x9F of Windows-1252, nothing invalid.
            if (value >= 0x80 && value <= 0x9F)
                value = cp1252Character(char(value));
            else if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
                value = 0xFFFD;
        } else {
            std::array<char, 16> name{};
            qsizetype length = 0;
            for (; j < n && length < qsizetype(name.size()) && isAsciiAlnum(s[j]); ++j)
                name[length++] = char(s[j].unicode());
            if (j < n && s[j] == u';' && length > 0) {
                if (const auto c = namedEntity(std::string_view(name.data(), size_t(length)))) {
                    value = *c;
                    ok = true;
                }
            }
        }
        if (!ok) {
            put(u'&');
            return i + 1;
        }
        if (QChar::requiresSurrogates(value)) {
            put(QChar(QChar::highSurrogate(value)));
            put(QChar(QChar::lowSurrogate(value)));
        } else {
            put(QChar(char16_t(value)));
        }
        return j + 1;
    }

    LineSink& m_sink;
    QString m_line;
    bool m_space = false;     // a collapsed blank waits before the next character
    bool m_lastBlank = false; // the last line given was blank
    bool m_inHead = false;
    int m_pre = 0;
};

} // namespace

void AppendHtmlAsText(QStringView html, LineSink& sink) {
    HtmlText(sink).convert(html);
}

namespace {

// How far into an HTML body a <meta> naming its charset is looked for.
constexpr qsizetype kMetaScanBytes = 4096;

qsizetype indexOfNoCase(QByteArrayView haystack, QByteArrayView needle, qsizetype from) {
    for (qsizetype i = from; i + needle.size() <= haystack.size(); ++i)
        if (equalsNoCase(haystack.sliced(i, needle.size()), needle)) return i;
    return -1;
}

} // namespace

// HTML without a charset parameter may name its charset in a <meta> near its start (HTML, 4.2.5:
// <meta charset=...>, or http-equiv with content="...; charset=...").
QByteArray HtmlMetaCharset(QByteArrayView html) {
    const QByteArrayView head = html.first(std::min(html.size(), kMetaScanBytes));
    for (qsizetype m = indexOfNoCase(head, "<meta", 0); m >= 0; m = indexOfNoCase(head, "<meta", m + 5)) {
        const qsizetype gt = head.indexOf('>', m);
        const QByteArrayView tag = head.sliced(m, (gt < 0 ? head.size() : gt) - m);
        for (qsizetype c = indexOfNoCase(tag, "charset", 0); c >= 0; c = indexOfNoCase(tag, "charset", c + 7)) {
            qsizetype j = c + 7;
            while (j < tag.size() && isBlank(tag[j]))
                ++j;
            if (j >= tag.size() || tag[j] != '=') continue;
            ++j;
            while (j < tag.size() && (isBlank(tag[j]) || tag[j] == '"' || tag[j] == '\''))
                ++j;
            const qsizetype start = j;
            while (j < tag.size() && (std::isalnum(static_cast<unsigned char>(tag[j])) || tag[j] == '-' ||
                                      tag[j] == '_' || tag[j] == '.' || tag[j] == ':'))
                ++j;
            if (j == start) continue;
            const QByteArrayView label = tag.sliced(start, j - start);
            // A mail's HTML cannot be in UTF-16 if its <meta> reads as ASCII: HTML says UTF-8 then.
            if (label.size() >= 6 && (equalsNoCase(label.first(6), "utf-16") || equalsNoCase(label.first(6), "utf-32")))
                return "utf-8";
            return label.toByteArray();
        }
    }
    return {};
}

} // namespace Preview
