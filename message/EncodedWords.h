// Header values to displayable text: MIME encoded words (RFC 2047) in Q and B form, quoted strings,
// blanks at both ends, backslashes; and the accent-folding upper case the header scan matches with.
// Positions are 1-based in the comments below, as in the rest of the header code.
#pragma once

#include "TextAndTime.h" // MayusculasSinAcentos: one implementation for the whole program

#include <QByteArray>
#include <QString>

/** @short Decoded, trimmed, unquoted text of a raw header value (sender, subject, one recipient). */
QString DecodificarTexto(const QString& value);
/** @short A piece starting with '"': the decoded inside of the quotes, or the piece unchanged
 *  when it has no closing quote. A quote after a backslash does not close it. */
QString QuitarComillas(const QString& piece);
/** @short One encoded word "=?charset?X?text?=" (up to the character after its third '?'), decoded
 *  by the charset it names; an unknown charset reads as Windows-1252. */
QString DecodificarPalabra(const QString& word);
/** @short Text of bytes in the charset a MIME label names (UTF-8, ISO-8859-x, windows-125x, KOI8-R,
 *  the East Asian ones ICU offers; RFC 2231's "*language" suffix is ignored). ISO-8859-1 reads as
 *  its superset Windows-1252; no label, or US-ASCII, reads as UTF-8 where the bytes are valid UTF-8
 *  and as Windows-1252 otherwise; an unknown label reads as Windows-1252 and sets `*known` false.
 *  A character cut off at the end is left out. */
QString DecodeCharset(QByteArrayView charset, QByteArrayView bytes, bool* known = nullptr);
/** @short Bytes of the text part of a Q word ('_' is a blank, "=XX" a byte). */
QByteArray DecodificarQ(const QByteArray& text);
/** @short Bytes of the text part of a B word; incomplete groups and zero bytes are dropped. */
QByteArray DecodificarBase64(const QByteArray& text);
/** @short (16 * d(a) + d(b)) mod 256, d = c - 48 for digits and c - 55 for everything else. */
unsigned char ValorHex(char a, char b);
/** @short 0..63 for the base64 alphabet, 0 for every other character. */
int ValorBase64(char c);
/** @short 0..63 for the base64 alphabet (RFC 2045, 6.8), -1 for every other character. */
int Base64Digit(char c);
/** @short The text without any backslash. */
QString QuitarBarras(const QString& text);
