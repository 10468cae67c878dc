// Scrambled passwords of the accounts file back to clear text, and clear text there and back.
#include "FuzzSupport.h"
#include "PasswordScrambling.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString input = textOf(data, size);
    const QString invalid = u"<<ERROR>>"_qs;

    // The input as a scrambled form: what decodes to a password scrambles again to a form that
    // decodes to the same password.
    const QString clear = DecodePassword(input);
    if (clear != invalid && !clear.isEmpty()) FUZZ_CHECK(DecodePassword(EncodePassword(clear)) == clear);

    // The input as a clear password (every character has its Windows-1252 byte): there and back.
    if (!input.isEmpty()) {
        const QString scrambled = EncodePassword(input);
        FUZZ_CHECK(scrambled.size() == 2 * (input.size() + 2));
        FUZZ_CHECK(DecodePassword(scrambled) == input);
    }
    return 0;
}
