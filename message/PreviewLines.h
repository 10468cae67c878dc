// Inside the text pane's preview (MessagePreview.cpp, HtmlText.cpp), not for the rest of the program:
// the lines the preview is made of, fed by the plain-text and HTML readers alike, and the byte
// helpers those readers share.
#pragma once

#include "MessagePreview.h"

#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <algorithm>

namespace Preview {

inline bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

inline bool equalsNoCase(QByteArrayView a, QByteArrayView b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

inline int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

inline bool isBlankLine(QStringView line) {
    return std::all_of(line.begin(), line.end(), [](QChar c) { return c.isSpace(); });
}

/** The preview's lines as they come: the blank lines at the start and end of each block (the text
 *  of a part, a line about an attachment) are left out, and nothing is taken past the limit. */
class LineSink {
public:
    explicit LineSink(int maxLines) : m_max(std::max(maxLines, 0)), m_full(maxLines <= 0) {}
    bool full() const { return m_full; }
    /** Lines that still fit. */
    int room() const { return m_max - m_lines; }
    void beginBlock() {
        m_pendingBlanks = 0;
        m_blockHasText = false;
    }
    void addLine(QStringView line) {
        if (m_full) return;
        if (isBlankLine(line)) {
            // A blank line counts only once a line with text follows it in its block.
            if (m_blockHasText && m_pendingBlanks < m_max) ++m_pendingBlanks;
            return;
        }
        if (qint64(m_lines) + m_pendingBlanks >= m_max) {
            // The preview would end in the blank lines, which are left out: it is complete.
            m_full = true;
            return;
        }
        for (; m_pendingBlanks > 0; --m_pendingBlanks, ++m_lines)
            m_text += u"\r\n"_qs;
        if (m_lines > 0) m_text += u"\r\n"_qs;
        m_text += line;
        m_blockHasText = true;
        m_full = ++m_lines >= m_max;
    }
    /** Text whose line breaks are CR LF, lone LF or lone CR. */
    void addText(QStringView text) {
        // Lines are found with indexOf, which is vectorised: this is most of the work for most messages.
        for (qsizetype start = 0; start < text.size() && !m_full;) {
            const qsizetype lf = text.indexOf(u'\n', start);
            const qsizetype end = lf < 0 ? text.size() : lf;
            QStringView line = text.sliced(start, end - start);
            if (line.endsWith(u'\r') && lf >= 0) line.chop(1);
            for (qsizetype cr = line.indexOf(u'\r'); cr >= 0 && !m_full; cr = line.indexOf(u'\r')) {
                addLine(line.first(cr));
                line = line.sliced(cr + 1);
            }
            addLine(line);
            start = end + 1;
        }
    }
    /** A block of one line made of header text, whose line breaks and TABs become blanks. */
    void addLabel(QString text) {
        for (QChar& c : text)
            if (c == u'\r' || c == u'\n' || c == u'\t' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
                c = u' ';
        beginBlock();
        addLine(text);
    }
    MessagePreview take() {
        MessagePreview p;
        p.text = std::move(m_text);
        p.lines = m_lines;
        return p;
    }

private:
    QString m_text;
    int m_lines = 0;
    int m_max;
    int m_pendingBlanks = 0;
    bool m_blockHasText = false;
    bool m_full;
};

} // namespace Preview
