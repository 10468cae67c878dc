// The framing of server replies: however TCP splits the bytes, and whichever framing each reply is
// asked for with, the same replies come out, each complete.
//
// Input: byte 0 gives the number n of control bytes that follow (0..31); control byte k says the
// framing of every reply whose index is k modulo n (bit 0: multi-line if positive) and the size of
// every read whose index is k modulo n (bits 1..7, plus one). The rest is the server's byte stream.
#include "FuzzSupport.h"
#include "Pop3Replies.h"

#include <vector>

namespace {

using Framing = ReplyAssembler::Framing;

struct Plan {
    std::vector<uint8_t> control;
    Framing framing(size_t reply) const {
        if (control.empty()) return reply % 2 ? Framing::MultiLineIfPositive : Framing::SingleLine;
        return (control[reply % control.size()] & 1) ? Framing::MultiLineIfPositive : Framing::SingleLine;
    }
    qsizetype readSize(size_t read) const {
        if (control.empty()) return 1;
        return (control[read % control.size()] >> 1) + 1;
    }
};

struct Outcome {
    QStringList replies;
    qsizetype pending = 0;
    bool operator==(const Outcome&) const = default;
};

void drain(ReplyAssembler& assembler, const Plan& plan, Outcome& outcome) {
    while (auto reply = assembler.takeReply(plan.framing(size_t(outcome.replies.size()))))
        outcome.replies.append(*reply);
}

Outcome feed(QByteArrayView stream, const Plan& plan, bool wholeAtOnce) {
    ReplyAssembler assembler;
    Outcome outcome;
    size_t read = 0;
    for (qsizetype pos = 0; pos < stream.size();) {
        const qsizetype n = wholeAtOnce ? stream.size() : std::min(plan.readSize(read++), stream.size() - pos);
        assembler.append(stream.sliced(pos, n));
        pos += n;
        drain(assembler, plan, outcome);
    }
    drain(assembler, plan, outcome);
    outcome.pending = assembler.pendingBytes();
    FUZZ_CHECK(assembler.hasPartialReply() == (outcome.pending > 0));
    return outcome;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t n = std::min<size_t>(data[0] % 32, size - 1);
    Plan plan;
    plan.control.assign(data + 1, data + 1 + n);
    const QByteArrayView stream(reinterpret_cast<const char*>(data + 1 + n), qsizetype(size - 1 - n));

    const Outcome whole = feed(stream, plan, true);
    FUZZ_CHECK(feed(stream, plan, false) == whole);
    if (!plan.control.empty()) {
        // One byte per read, same framings (a plan without control bytes reads one byte at a time).
        Plan bytewise = plan;
        for (uint8_t& c : bytewise.control)
            c &= 1;
        FUZZ_CHECK(feed(stream, bytewise, false) == whole);
    }

    for (qsizetype i = 0; i < whole.replies.size(); ++i) {
        const QString& r = whole.replies[i];
        // Every reply ends with a line break; a multi-line one with its final "." line.
        FUZZ_CHECK(r.endsWith(u"\r\n"));
        // Only "+OK" opens a multi-line reply: any other status line is one line.
        const bool multiLine = plan.framing(size_t(i)) == Framing::MultiLineIfPositive && r.startsWith(u"+OK");
        if (multiLine)
            FUZZ_CHECK(r.endsWith(u"\r\n.\r\n"));
        else
            FUZZ_CHECK(r.count(u'\n') == 1);
    }
    // Nothing is lost or handed out twice: the replies hold as many lines as the stream has up to some
    // line break, and what is pending is exactly the rest of the stream.
    qsizetype lines = 0;
    for (const QString& r : whole.replies)
        lines += r.count(u'\n');
    qsizetype consumed = 0;
    for (qsizetype seen = 0; seen < lines; ++consumed) {
        FUZZ_CHECK(consumed < stream.size());
        if (stream[consumed] == '\n') ++seen;
    }
    FUZZ_CHECK(whole.pending == stream.size() - consumed);
    return 0;
}
