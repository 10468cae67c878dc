// The recipients of a header text: the addresses of its "To:" or "Cc:" field.
#include "FuzzSupport.h"
#include "MessageHeader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // The first byte picks the field, the rest is the header text.
    const QString key = (data[0] & 1) ? u"CC: "_qs : u"TO: "_qs;
    const QString text = textOf(data + 1, size - 1);
    QStringList out;
    ExtraerDestinatarios(text, key, out);
    // Every recipient is one piece of the field's value, so there are at most as many as commas + 1.
    FUZZ_CHECK(out.size() <= text.count(u',') + 1);
    for (const QString& r : out)
        FUZZ_CHECK(!r.contains(u'\\'));
    return 0;
}
