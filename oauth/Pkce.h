// Proof Key for Code Exchange (RFC 7636) and the sign-in's state: random texts from the system's
// source, and the S256 challenge.
#pragma once

#include <QString>

namespace Pkce {

/** @short `length` characters drawn from the unreserved set (ALPHA / DIGIT / "-" / "." / "_" / "~"). */
QString randomUnreserved(int length);
/** @short A new code verifier: 64 unreserved characters (RFC 7636 4.1 allows 43 to 128). */
QString newVerifier();
/** @short BASE64URL-ENCODE(SHA256(ASCII(verifier))) without padding (RFC 7636 4.2, method S256). */
QString challenge(const QString& verifier);

} // namespace Pkce
