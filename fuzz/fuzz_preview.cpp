// The text pane's preview of a message. The first byte is the line limit (255: no practical limit);
// after it, either a whole message ('M'), or the Content-Type value, a LF, the
// Content-Transfer-Encoding value, a LF, and the body.
#include "FuzzSupport.h"
#include "MessagePreview.h"

#include <QSet>

namespace {

bool blank(QStringView line) {
    return line.trimmed().isEmpty();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int maxLines = data[0] == 255 ? 1 << 20 : data[0] % 64;
    QByteArrayView rest(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    MessagePreview preview;
    if (rest[0] == 'M') {
        preview = PreviewOfMessage(rest.sliced(1), maxLines);
    } else {
        const qsizetype typeEnd = rest.indexOf('\n');
        const QByteArrayView type = typeEnd < 0 ? rest : rest.first(typeEnd);
        rest = typeEnd < 0 ? QByteArrayView() : rest.sliced(typeEnd + 1);
        const qsizetype encodingEnd = rest.indexOf('\n');
        const QByteArrayView encoding = encodingEnd < 0 ? rest : rest.first(encodingEnd);
        const QByteArrayView body = encodingEnd < 0 ? QByteArrayView() : rest.sliced(encodingEnd + 1);
        preview = BuildPreview(type, encoding, body, maxLines);
    }
    // As many lines as it says, within the limit, joined by CR LF and holding no other line break,
    // the first and the last with text.
    const QString& text = preview.text;
    FUZZ_CHECK(preview.lines >= 0 && preview.lines <= maxLines);
    FUZZ_CHECK(text.isEmpty() == (preview.lines == 0));
    if (!text.isEmpty()) {
        FUZZ_CHECK(text.count(u"\r\n") == preview.lines - 1);
        FUZZ_CHECK(text.count(u'\r') == text.count(u'\n') && text.count(u'\n') == preview.lines - 1);
        const qsizetype firstBreak = text.indexOf(u"\r\n");
        const qsizetype lastBreak = text.lastIndexOf(u"\r\n");
        FUZZ_CHECK(!blank(firstBreak < 0 ? QStringView(text) : QStringView(text).first(firstBreak)));
        FUZZ_CHECK(!blank(lastBreak < 0 ? QStringView(text) : QStringView(text).sliced(lastBreak + 2)));
    }
    // Each unknown charset once.
    QSet<QString> seen;
    for (const QString& charset : preview.unknownCharsets) {
        FUZZ_CHECK(!seen.contains(charset.toLower()));
        seen.insert(charset.toLower());
    }
    return 0;
}
