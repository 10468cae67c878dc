// The short replies: the CAPA list of capability names and the message count of STAT.
#include "FuzzSupport.h"
#include "Pop3Replies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString reply = textOf(data, size);
    for (const QString& name : ParseCapabilities(reply))
        FUZZ_CHECK(!name.isEmpty() && name == name.toUpper() && !name.contains(u' '));
    if (const auto count = ParseStatCount(reply)) FUZZ_CHECK(*count >= 0);
    return 0;
}
