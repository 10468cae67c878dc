#include "EncodedWords.h"

#include "Cp1252.h"

#include <QStringDecoder>
#include <algorithm>
#include <optional>
#include <vector>

namespace {

bool isLinearBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

// Positions (0-based) of every '?' in the value, so "where is the third '?' after here" is a binary
// search and a value full of stray "=?" never costs quadratic time.
class QuestionMarks {
public:
    explicit QuestionMarks(QStringView s) {
        for (qsizetype i = 0; i < s.size(); ++i)
            if (s[i] == u'?') m_positions.push_back(i);
    }
    /** Position of the third '?' at or after `from`, or -1. */
    qsizetype third(qsizetype from) const {
        auto it = std::lower_bound(m_positions.begin(), m_positions.end(), from);
        if (m_positions.end() - it < 3) return -1;
        return *(it + 2);
    }

private:
    std::vector<qsizetype> m_positions;
};

/** The first '"' at or after `from` that a backslash does not quote, or -1. */
qsizetype closingQuote(QStringView s, qsizetype from) {
    for (qsizetype i = from; i < s.size(); ++i) {
        if (s[i] == u'\\')
            ++i;
        else if (s[i] == u'"')
            return i;
    }
    return -1;
}

bool startsWord(QStringView s, qsizetype i) {
    return i + 1 < s.size() && s[i] == u'=' && s[i + 1] == u'?';
}

// Finding a decoder by name (ICU, behind Qt) costs far more than decoding a word with it: the
// decoders of the last few charsets met are kept, and reset before each word.
class DecoderCache {
public:
    enum class Kind { Decoder, Cp1252, Ascii, Unknown };
    struct Entry {
        QByteArray name;
        QStringDecoder decoder;
        Kind kind = Kind::Decoder;
    };
    Entry& find(const QByteArray& name) {
        auto it = std::find_if(m_entries.begin(), m_entries.end(), [&](const Entry& e) { return e.name == name; });
        if (it != m_entries.end()) return *it;
        if (m_entries.size() >= kMaxEntries) m_entries.erase(m_entries.begin());
        Entry& e = m_entries.emplace_back(Entry{name, QStringDecoder(name.constData())});
        // Aliases resolve to one canonical name ("latin1", "ISO_8859-1" -> "ISO-8859-1"; "ascii" ->
        // "US-ASCII"). Mail labelled Latin-1 is in practice written in Windows-1252, its superset;
        // mail labelled ASCII that holds 8-bit bytes was mostly written in UTF-8. Qt's "Locale"
        // (what an unknown name may resolve to) would make the text depend on the machine.
        const QByteArrayView canonical(e.decoder.isValid() ? e.decoder.name() : "");
        auto is = [&](const char* n) { return canonical.compare(n, Qt::CaseInsensitive) == 0; };
        if (!e.decoder.isValid() || is("Locale"))
            e.kind = Kind::Unknown;
        else if (is("ISO-8859-1") || is("windows-1252"))
            e.kind = Kind::Cp1252;
        else if (is("US-ASCII"))
            e.kind = Kind::Ascii;
        return e;
    }

private:
    static constexpr size_t kMaxEntries = 8;
    std::vector<Entry> m_entries;
};

/** One encoded word taken apart: its charset, whether it is in the Q encoding, its bytes. */
struct Word {
    QStringView charset;
    bool q = false;
    QByteArray bytes;
    bool sameKind(const Word& other) const {
        return q == other.q && charset.compare(other.charset, Qt::CaseInsensitive) == 0;
    }
};

// "=?" charset "?" letter "?" text "?=" (RFC 2047, 2); any letter but Q is taken for B. A word
// without the '?' after its charset has no charset and no bytes.
Word parseWord(QStringView word) {
    Word w;
    const qsizetype c = word.indexOf(u'?', 2);
    if (c < 0) return w;
    w.charset = word.mid(2, c - 2);
    const QChar letter = c + 1 < word.size() ? word[c + 1] : QChar();
    w.q = letter == u'Q' || letter == u'q';
    const qsizetype textStart = std::min(c + 3, word.size());
    qsizetype textEnd = word.indexOf(u'?', textStart);
    if (textEnd < 0) textEnd = word.size();
    const QByteArray text = toCp1252(word.mid(textStart, textEnd - textStart));
    w.bytes = w.q ? DecodificarQ(text) : DecodificarBase64(text);
    return w;
}

QString decodeCharset(QStringView charset, const QByteArray& bytes) {
    return DecodeCharset(toCp1252(charset), bytes);
}

} // namespace

QString DecodeCharset(QByteArrayView charset, QByteArrayView bytes, bool* known) {
    if (known) *known = true;
    // RFC 2231 lets a language follow the charset: "utf-8*es".
    const qsizetype star = charset.indexOf('*');
    const QByteArray name = charset.first(star < 0 ? charset.size() : star).trimmed().toByteArray();
    if (name.isEmpty()) return fromUtf8OrCp1252(bytes);
    thread_local DecoderCache cache;
    DecoderCache::Entry& e = cache.find(name);
    switch (e.kind) {
    case DecoderCache::Kind::Unknown:
        if (known) *known = false;
        return fromCp1252(bytes);
    case DecoderCache::Kind::Cp1252:
        return fromCp1252(bytes);
    case DecoderCache::Kind::Ascii:
        return fromUtf8OrCp1252(bytes);
    case DecoderCache::Kind::Decoder:
        break;
    }
    e.decoder.resetState();
    return e.decoder.decode(bytes);
}

QString DecodificarTexto(const QString& value) {
    qsizetype begin = 0;
    qsizetype end = value.size();
    while (begin < end && value[begin] == u' ')
        ++begin;
    while (end > begin && value[end - 1] == u' ')
        --end;
    const QStringView s = QStringView(value).mid(begin, end - begin);
    const qsizetype n = s.size();
    std::optional<QuestionMarks> marks; // made at the first "=?": most values have none

    QString result;
    result.reserve(n);
    std::optional<Word> run; // the encoded words whose bytes are not decoded yet
    auto flush = [&] {
        if (run) result += decodeCharset(run->charset, run->bytes);
        run.reset();
    };
    qsizetype i = 0;
    while (i < n) {
        if (startsWord(s, i)) {
            // An encoded word runs to the character after the third '?' from its "=?" on. Without
            // three more '?' it cannot be completed and is copied as plain text below.
            if (!marks) marks.emplace(s);
            const qsizetype third = marks->third(i + 2);
            if (third >= 0) {
                const qsizetype wordEnd = std::min(third + 2, n);
                Word word = parseWord(s.mid(i, wordEnd - i));
                // A character may be split across adjacent words (generators cut at a byte count):
                // the bytes of a run of words in one charset and encoding are decoded together.
                if (run && !run->sameKind(word)) flush();
                if (run)
                    run->bytes += word.bytes;
                else
                    run = std::move(word);
                qsizetype k = wordEnd;
                while (k < n && !startsWord(s, k))
                    ++k;
                const QStringView between = s.mid(wordEnd, k - wordEnd);
                // RFC 2047, 6.2: blanks between two adjacent encoded words are not part of the text.
                const bool adjacentWord = k < n && marks->third(k + 2) >= 0;
                if (!(adjacentWord && std::all_of(between.begin(), between.end(), isLinearBlank))) {
                    flush();
                    result += between;
                }
                i = k;
                continue;
            }
            flush();
        }
        if (s[i] == u'"') {
            const qsizetype q = closingQuote(s, i + 1);
            const qsizetype pieceEnd = q < 0 ? n : q + 1;
            result += QuitarComillas(s.mid(i, pieceEnd - i).toString());
            i = pieceEnd;
            continue;
        }
        if (s[i] == u'\\' && i + 1 < n) {
            // RFC 5322, 3.2.1: a quoted pair stands for its second character, a quote included;
            // the backslash goes with the others at the end.
            result += s.mid(i, 2);
            i += 2;
            continue;
        }
        // Up to the next character that may start an encoded word, a quoted piece or a quoted pair.
        qsizetype j = i + 1;
        while (j < n && s[j] != u'=' && s[j] != u'"' && s[j] != u'\\')
            ++j;
        result += s.mid(i, j - i);
        i = j;
    }
    flush();
    return QuitarBarras(result);
}

QString QuitarComillas(const QString& piece) {
    const qsizetype q = closingQuote(piece, 1);
    if (q < 0) return piece;
    return DecodificarTexto(piece.mid(1, q - 1));
}

QString DecodificarPalabra(const QString& word) {
    const Word w = parseWord(word);
    return decodeCharset(w.charset, w.bytes);
}

QByteArray DecodificarQ(const QByteArray& input) {
    // '_' is a blank, also as a digit of "=XX".
    auto at = [&input](qsizetype i) { return input[i] == '_' ? ' ' : input[i]; };
    const qsizetype n = input.size();
    QByteArray out(n, Qt::Uninitialized);
    char* d = out.data();
    for (qsizetype i = 0; i < n;) {
        if (input[i] == '=' && i + 2 < n) {
            *d++ = char(ValorHex(at(i + 1), at(i + 2)));
            i += 3;
        } else {
            // A '=' with fewer than two characters after it is kept as it stands.
            *d++ = at(i);
            ++i;
        }
    }
    out.truncate(d - out.data());
    return out;
}

QByteArray DecodificarBase64(const QByteArray& text) {
    QByteArray out;
    out.reserve(text.size() / 4 * 3);
    for (qsizetype i = 0; i + 3 < text.size(); i += 4) {
        const int p = ValorBase64(text[i]);
        const int q = ValorBase64(text[i + 1]);
        const int r = ValorBase64(text[i + 2]);
        const int t = ValorBase64(text[i + 3]);
        const int b1 = (4 * p + ((q >> 4) & 3)) & 0xFF;
        const int b2 = (((q & 15) << 4) + (r >> 2)) & 0xFF;
        const int b3 = (((r & 3) << 6) + t) & 0xFF;
        // Zero bytes are dropped, and with them the '=' padding of the last group.
        for (int b : {b1, b2, b3})
            if (b != 0) out += char(b);
    }
    return out;
}

unsigned char ValorHex(char a, char b) {
    auto d = [](char c) {
        const int v = static_cast<unsigned char>(c);
        return v >= '0' && v <= '9' ? v - 48 : v - 55;
    };
    return static_cast<unsigned char>((16 * d(a) + d(b)) & 0xFF);
}

int Base64Digit(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

int ValorBase64(char c) {
    return std::max(0, Base64Digit(c));
}

QString QuitarBarras(const QString& text) {
    QString out = text;
    out.remove(u'\\');
    return out;
}
