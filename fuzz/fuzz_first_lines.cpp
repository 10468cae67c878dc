// The TOP reply asked for by the user: the body lines after the blank line.
#include "FuzzSupport.h"
#include "MessageHeader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString reply = textOf(data, size);
    const QString lines = ParseFirstLinesReply(reply);
    // The first lines are a piece of the reply that starts right after its first blank line, and
    // no longer than the limit.
    FUZZ_CHECK(lines.size() <= kMaxFirstLines);
    const qsizetype blank = reply.indexOf(u"\r\n\r\n");
    if (blank < 0)
        FUZZ_CHECK(lines.isEmpty());
    else
        FUZZ_CHECK(QStringView(reply).mid(blank + 4, lines.size()) == lines);
    return 0;
}
