// The texts a listed message keeps beyond its record (header text, first lines, recipients, MIME
// type), as one block: a mailbox of tens of thousands of messages keeps tens of megabytes of them,
// read back only for the message the user looks at, or by the rules.
#pragma once

#include <QByteArray>
#include <memory>

/** The texts as the server's bytes. */
struct KeptTexts {
    QByteArray texto;
    QByteArray primerasLineas;
    QByteArray to;
    QByteArray cc;
    QByteArray mime; ///< Content-Type and Content-Transfer-Encoding, a LF between them, or empty
};

/** @short Packs the kept texts of one mailbox's messages, a block each, and reads them back.
 *
 *  Every block is compressed (LZ4) on its own, so that any one reads back alone. A message of a
 *  kilobyte or two compresses poorly alone: most of it is what recurs from one message to the next
 *  (field names, the mailbox's own address, MIME lines, the lists' footers). So the texts of the
 *  first messages, kDictionaryBytes of them, become a dictionary that every later block is
 *  compressed with: at 50,000 messages they take 31 MB instead of 51, for some 0.05 s more.
 *  (zstd with a dictionary took 21 MB, but 0.2 s more: a sixth of a whole header pass.)
 *  A block can only be read by the packer that made it. */
class KeptTextsPacker {
public:
    KeptTextsPacker();
    ~KeptTextsPacker();
    KeptTextsPacker(const KeptTextsPacker&) = delete;
    KeptTextsPacker& operator=(const KeptTextsPacker&) = delete;

    /** @short One block of them all: empty when all are. */
    QByteArray pack(const KeptTexts& texts);
    /** @short The texts of a block of pack; all empty for a block that is damaged. */
    KeptTexts unpack(const QByteArray& packed) const;

    /** The first messages' text that makes the dictionary (LZ4 looks back no further). */
    static constexpr qsizetype kDictionaryBytes = 64 * 1024;

private:
    struct Dictionary;
    std::unique_ptr<Dictionary> m_dictionary;
};
