// One e-mail address taken out of a header value such as a sender's ("Ana <ana@x.es>"), and the
// mailto: link that writes to it and to nothing else.
#pragma once

#include <QString>
#include <QUrl>

/** @short The address of a sender or recipient as the list shows it: what lies between the first
 *  "<" and the ">" after it (or the end), else the whole text; blanks around it left out. Empty
 *  when that is not one plain address (RFC 5322, its dot-atom form only: a local
 *  part, "@", a domain of letters, digits, hyphens and dots). */
QString MailAddressOf(const QString& value);

/** @short The mailto: link of an address MailAddressOf gave: every character that could open a
 *  parameter or a second address percent-encoded. Invalid (and nothing to open) for an empty one. */
QUrl MailtoUrl(const QString& address);
