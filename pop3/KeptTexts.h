// The texts a listed message keeps beyond its record (header text, first lines, recipients, MIME
// type), as one block: a mailbox of tens of thousands of messages keeps tens of megabytes of them,
// read back only for the message the user looks at, or by the rules.
#pragma once

#include <QByteArray>

/** The texts as the server's bytes. */
struct KeptTexts {
    QByteArray texto;
    QByteArray primerasLineas;
    QByteArray to;
    QByteArray cc;
    QByteArray mime; ///< Content-Type and Content-Transfer-Encoding, a LF between them, or empty
};

/** @short One block of them all: compressed (LZ4) where that saves room, empty when all are. */
QByteArray PackKeptTexts(const KeptTexts& texts);
/** @short The texts of a block of PackKeptTexts; all empty for a block that is damaged. */
KeptTexts UnpackKeptTexts(const QByteArray& packed);
