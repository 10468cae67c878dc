// Header values (sender, subject, a recipient) to displayable text: encoded words, quotes, blanks.
#include "EncodedWords.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString value = textOf(data, size);
    const QString text = DecodificarTexto(value);
    // Backslashes are removed after everything else, whatever the encoded words decode to.
    FUZZ_CHECK(!text.contains(u'\\'));
    // The word decoders on their own, as the bytes of a word's text part.
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    FUZZ_CHECK(DecodificarQ(bytes).size() <= bytes.size());
    const QByteArray b64 = DecodificarBase64(bytes);
    FUZZ_CHECK(b64.size() <= bytes.size() / 4 * 3 && !b64.contains('\0'));
    return 0;
}
