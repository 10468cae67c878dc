// Header values to displayable text: MIME encoded words (RFC 2047) in Q and B form, quoted strings,
// blanks at both ends, backslashes; and the accent-folding upper case the header scan matches with.
// Positions are 1-based in the comments below, as in the rest of the header code.
#pragma once

#include "UnitUtils.h" // MayusculasSinAcentos: one implementation for the whole program

#include <QByteArray>
#include <QString>

/** @short Decoded, trimmed, unquoted text of a raw header value (sender, subject, one recipient). */
QString DecodificarTexto(const QString& value);
/** @short A piece starting with '"': the decoded inside of the quotes, or the piece unchanged
 *  when it has no closing quote. */
QString QuitarComillas(const QString& piece);
/** @short One encoded word "=?charset?X?text?=" (up to the character after its third '?'), decoded
 *  by the charset it names; an unknown charset reads as Windows-1252. */
QString DecodificarPalabra(const QString& word);
/** @short Bytes of the text part of a Q word ('_' is a blank, "=XX" a byte). */
QByteArray DecodificarQ(const QByteArray& text);
/** @short Bytes of the text part of a B word; incomplete groups and zero bytes are dropped. */
QByteArray DecodificarBase64(const QByteArray& text);
/** @short (16 * d(a) + d(b)) mod 256, d = c - 48 for digits and c - 55 for everything else. */
unsigned char ValorHex(char a, char b);
/** @short 0..63 for the base64 alphabet, 0 for every other character. */
int ValorBase64(char c);
/** @short The text without any backslash. */
QString QuitarBarras(const QString& text);
