#include "ShownText.h"

namespace {

bool kept(char16_t c, KeepLayout keep) {
    return keep == KeepLayout::TabsAndLineBreaks && (c == u'\t' || c == u'\r' || c == u'\n');
}

} // namespace

QString ShownText(const QString& text, KeepLayout keep) {
    qsizetype first = 0;
    while (first < text.size() && (!IsHiddenControl(text[first].unicode()) || kept(text[first].unicode(), keep)))
        ++first;
    if (first == text.size()) return text; // the usual case: nothing to replace, nothing copied
    QString out = text;
    for (qsizetype i = first; i < out.size(); ++i) {
        const char16_t c = out[i].unicode();
        if (IsHiddenControl(c) && !kept(c, keep)) out[i] = QChar(0xFFFD);
    }
    return out;
}

QString TerminalText(const QString& text, bool keepLines) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        const char16_t c = ch.unicode();
        const bool lineEnd = c == u'\n' || (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n');
        if (!IsHiddenControl(c) || (keepLines && lineEnd)) {
            out += ch;
            continue;
        }
        out += c < 0x100 ? u"\\x%1"_qs.arg(int(c), 2, 16, QLatin1Char('0'))
                         : u"\\u%1"_qs.arg(int(c), 4, 16, QLatin1Char('0'));
    }
    return out;
}
