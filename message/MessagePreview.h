// What the text pane shows of a message fetched with TOP: the first lines of its text in its own
// words, whatever its MIME structure (RFC 2045, 2046), transfer encoding and charset, with one line
// for each attachment and forwarded message met. A pure function of the bytes: nothing is fetched,
// no markup, link or image is shown.
#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>

/** What the text pane shows of a message. */
struct MessagePreview {
    QString text;                // lines joined by "\r\n", no line break at the end
    int lines = 0;               // lines in text (0 when text is empty)
    QStringList unknownCharsets; // charset labels met that were read as Windows-1252, each once
};

/** The preview of a message from the values of its top-level Content-Type and
 *  Content-Transfer-Encoding fields (raw, unfolded, not decoded; empty when absent) and its body
 *  as fetched (dot-unstuffed, CR LF line ends, possibly cut at any line end), at most maxLines lines. */
MessagePreview BuildPreview(QByteArrayView contentType, QByteArrayView transferEncoding, QByteArrayView body,
                            int maxLines);

/** The same from a whole message (header, blank line, body; CR LF or LF line ends), as used for a
 *  forwarded message/rfc822 part. */
MessagePreview PreviewOfMessage(QByteArrayView message, int maxLines);
