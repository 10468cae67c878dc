// Password scrambling for the accounts file: passwords are stored and passed around only in this
// letter form, and turned back into clear text just before use.
#pragma once

#include <QString>

/** @short Scrambled letter form of a clear password; the empty password gives the empty text. */
QString EncodePassword(const QString& password);
/** @short The clear password of a scrambled form (letters in either case), or "<<ERROR>>". */
QString DecodePassword(const QString& scrambled);
/** @short Index 0..15 of the character in NibbleLetters (upper case only), or 255. */
unsigned char NibbleValue(QChar c);
/** The sixteen half-byte letters, A = 0 ... P = 15. */
inline constexpr char16_t NibbleLetters[] = u"ABCDEFGHIJKLMNOP";
