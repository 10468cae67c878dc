#include "Errors.h"

#include <limits>

int ParseInt32(const QString& text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i] == u' ')
        ++i;
    bool negative = false;
    if (i < n && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
    const qsizetype firstDigit = i;
    qint64 value = 0;
    for (; i < n && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i].unicode() - u'0');
        if (value > qint64(std::numeric_limits<int>::max()) + 1) break;
    }
    if (negative) value = -value;
    if (i == firstDigit || i != n || value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min())
        throw EConvertError(u"'%1' is not a valid integer value"_qs.arg(text));
    return int(value);
}
