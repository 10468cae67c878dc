// The TOP reply of the header pass: unfolding, From/Subject/Date, the header text, the recipients
// and the first lines of the body.
#include "FuzzSupport.h"
#include "MessageHeader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString reply = textOf(data, size);
    const ParsedHeader h = ParseHeaderReply(reply);
    // Unfolding only ever joins lines; everything the parser keeps comes out of the unfolded text.
    const QString unfolded = UnfoldHeader(reply);
    FUZZ_CHECK(unfolded.size() <= reply.size());
    FUZZ_CHECK(h.body.size() <= unfolded.size() && h.texto.size() <= unfolded.size());
    FUZZ_CHECK(h.fecha.size() <= unfolded.size());
    // However long the reply, a message keeps no more than the limits.
    FUZZ_CHECK(h.texto.size() <= kMaxHeaderText && h.body.size() <= kMaxFirstLines);
    FUZZ_CHECK(h.fecha.size() <= kMaxHeaderValue);
    // Leaving out the header text and the list of recipients changes nothing else.
    const ParsedHeader lean = ParseHeaderReply(reply, 0);
    FUZZ_CHECK(lean.texto.isEmpty() && lean.destinatarios.isEmpty());
    FUZZ_CHECK(lean.from == h.from && lean.subj == h.subj && lean.fecha == h.fecha && lean.body == h.body);
    FUZZ_CHECK(lean.to == h.to && lean.cc == h.cc && SplitRecipients(lean.to, lean.cc) == h.destinatarios);
    return 0;
}
