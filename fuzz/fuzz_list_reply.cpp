// The LIST reply of the listing: "+OK" and one "number size" line per message.
#include "FuzzSupport.h"
#include "Pop3Replies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString reply = textOf(data, size);
    if (const auto entries = ParseListReply(reply)) {
        // At most one entry a line, never a negative number or size.
        FUZZ_CHECK(entries->size() <= reply.count(u"\r\n"));
        for (const ListEntry& e : *entries)
            FUZZ_CHECK(e.num >= 0 && e.bytes >= 0);
    }
    return 0;
}
