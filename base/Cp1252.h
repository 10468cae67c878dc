// The boundary between the program's QString text and the 8-bit Windows-1252 bytes of the wire and
// of the data files. Every byte maps to exactly one character and back, so lengths and positions
// taken on the text are the positions of the bytes.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

QString fromCp1252(QByteArrayView bytes);
/** fromCp1252 appended to the end of out, without a copy in between. */
void appendFromCp1252(QString& out, QByteArrayView bytes);
/** Characters outside Windows-1252 become '?'. */
QByteArray toCp1252(QStringView text);
/** toCp1252 appended to the end of out, without a copy in between. */
void appendCp1252(QByteArray& out, QStringView text);
/** toCp1252 written to d, which has room for text.size() bytes. */
void narrowCp1252(char* d, QStringView text);
/** The byte of one character ('?' outside Windows-1252). */
char cp1252ByteOfRare(char16_t c);
inline char cp1252Byte(char16_t c) {
    return (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) ? char(c) : cp1252ByteOfRare(c);
}
/** True when every character of the text has a Windows-1252 byte. */
bool fitsCp1252(QStringView text);
/** The characters of the text that have no Windows-1252 byte, each once, in the order they first
 *  appear; a character beyond U+FFFF is one entry (its surrogate pair). Empty when the text fits. */
QStringList unwritableInCp1252(QStringView text);

/** True when the bytes are well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF). */
bool isValidUtf8(QByteArrayView bytes);
/** 8-bit text from a server: UTF-8 where its bytes are valid UTF-8 (RFC 6532), else Windows-1252. */
QString fromUtf8OrCp1252(QByteArrayView bytes);
/** fromUtf8OrCp1252 of text that fromCp1252 widened byte for byte: ASCII text comes back as it is. */
QString utf8OrCp1252(QStringView widened);
