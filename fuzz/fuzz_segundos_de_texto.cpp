// "H:MM:SS" texts of the settings to seconds. A text that is not a number throws EConvertError by
// design; any other exception escapes and is reported as a crash.
#include "Errors.h"
#include "FuzzSupport.h"
#include "TextAndTime.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = textOf(data, size);
    try {
        const int seconds = SegundosDeTexto(text);
        // A plain number is its own count of seconds.
        if (!text.contains(u':') && !text.isEmpty()) FUZZ_CHECK(seconds == ParseInt32(text));
    } catch (const EConvertError&) {
    }
    return 0;
}
