// What a message's header says: the fields the list shows, the recipients, the header text and the
// first lines of the body, read from a TOP reply or from a stored copy. Pure functions on text.
#pragma once

#include <QString>
#include <QStringList>

/// What one message keeps of a TOP reply, however long the reply (a header line may be 60 MB long).
/// From, Subject and Date: the first characters of the value, before it is decoded.
inline constexpr qsizetype kMaxHeaderValue = 64 * 1024;
/// The header text shown to the user.
inline constexpr qsizetype kMaxHeaderText = 256 * 1024;
/// The first lines of the body, of the header pass and of a TOP asked for by the user.
inline constexpr qsizetype kMaxFirstLines = 256 * 1024;

/** How the header text kept ends when the header is longer than kMaxHeaderText: what comes after
 *  the cut is missing, and the last line kept may be only the start of its field. */
enum class HeaderTextCut : unsigned char {
    None,         ///< the text is the whole header
    BetweenLines, ///< the text ends with a whole line: its fields are whole, those after it missing
    InLine,       ///< the text ends inside a line: its last field is cut, those after it missing
};

/** What the header pass reads from one TOP reply. */
struct ParsedHeader {
    QString texto;                                ///< the header text shown to the user
    HeaderTextCut textoCut = HeaderTextCut::None; ///< where texto was cut, with WithText
    QString from;
    QString subj;
    QString fecha;
    QStringList destinatarios;
    QString body; ///< the first lines of the body
    /** The values of the To and Cc fields, folded lines joined, not yet split into addresses nor
     *  decoded (SplitRecipients makes destinatarios of them). */
    QString to;
    QString cc;
    /** The values of the Content-Type and Content-Transfer-Encoding fields, raw: what the preview
     *  of the first lines needs to read the body. */
    QString contentType;
    QString transferEncoding;
};

/** What ParseHeaderReply works out beyond the fields, the recipients' values and the first lines. */
enum HeaderParts : int { WithText = 1, WithRecipients = 2, WithEverything = 3 };

/** @short Header fields, recipients and first lines of a complete positive TOP reply. Header lines
 *  continued with blanks or TABs are joined with one blank (RFC 5322, 2.2.3); the body is left as
 *  received. Fields are found by their names at the start of a line, never inside a value; a value
 *  whose 8-bit bytes are valid UTF-8 reads as UTF-8 (RFC 6532), else as Windows-1252. Fields are
 *  looked for in the whole header; what is kept is cut to the limits above.
 *  Without WithText the header text stays empty, without WithRecipients the list of recipients.
 *  The parse works in the reply's own text: move it in. */
ParsedHeader ParseHeaderReply(QString reply, int parts = WithEverything);

/** @short The fields of a header alone (LF or CR LF line ends, up to a blank line if there is one),
 *  read as they are from a TOP reply of no body lines: what the list would show of it. */
ParsedHeader ParseHeaderText(QStringView header, int parts = 0);

/** @short The addresses of the To and Cc values of ParsedHeader, decoded, To's first. */
QStringList SplitRecipients(const QString& to, const QString& cc);

/** @short Joins folded header lines: every line break followed by blanks or TABs becomes one blank, up
 *  to the blank line that ends the header (the whole text when there is none). */
QString UnfoldHeader(const QString& reply);

/** @short Appends the addresses of the first header field named as `key` ("TO: " or "CC: ", its
 *  name before the colon) to `out`. */
void ExtraerDestinatarios(const QString& headerText, const QString& key, QStringList& out);

/** @short The body lines of a complete positive TOP reply asked for by the user: everything after the
 *  blank line, without the final "." line, up to kMaxFirstLines characters. Nothing when the reply
 *  has no blank line. */
QString ParseFirstLinesReply(const QString& reply);
