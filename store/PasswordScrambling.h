// Password scrambling for the accounts file: passwords are stored and passed around only in this
// letter form, and turned back into clear text just before use.
//
// A password of n characters becomes n + 2 bytes, written as two letters "A".."P" a byte (high half
// first, each letter in random case): mask A, the reordered characters masked with A and B in
// turn, mask B. The masks come from the byte sum of the password, so they double as a checksum.
#pragma once

#include <QString>
#include <optional>

/** @short Scrambled letter form of a clear password; the empty password gives the empty text.
 *  Characters count as their Windows-1252 bytes (one outside that code page counts as '?'). */
QString EncodePassword(const QString& password);
/** @short The clear password of a scrambled form (letters in either case), or nothing when the text
 *  is not a valid scrambled form. The empty text is the empty password (an account whose password
 *  lives in the keyring, or that signs in with OAuth2, stores none). Any length is accepted. */
std::optional<QString> DecodeStoredPassword(const QString& scrambled);
/** @short DecodeStoredPassword, with "<<ERROR>>" for a text that is not a scrambled form. */
QString DecodePassword(const QString& scrambled);
/** @short Index 0..15 of the character in NibbleLetters (upper case only), or 255. */
unsigned char NibbleValue(QChar c);
/** The sixteen half-byte letters, A = 0 ... P = 15. */
inline constexpr char16_t NibbleLetters[] = u"ABCDEFGHIJKLMNOP";
