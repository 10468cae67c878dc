// The UIDL reply: "+OK" and one "number unique-id" line per message.
#include "FuzzSupport.h"
#include "Pop3Replies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString reply = textOf(data, size);
    if (const auto uids = ParseUidlReply(reply)) {
        FUZZ_CHECK(uids->size() <= reply.count(u"\r\n"));
        for (const auto& [num, uid] : *uids)
            FUZZ_CHECK(num >= 0 && !uid.isEmpty() && !uid.contains(u"\r\n"));
    }
    return 0;
}
