#include "MailAddress.h"

namespace {

// The characters of a dot-atom besides letters and digits (RFC 5322, 3.2.3 atext).
bool isAtomSpecial(QChar c) {
    return QStringView(u"!#$%&'*+-/=?^_`{|}~").contains(c);
}

bool isDotAtom(QStringView text, bool domain) {
    if (text.isEmpty() || text.front() == u'.' || text.back() == u'.') return false;
    QChar before;
    for (QChar c : text) {
        if (c == u'.') {
            if (before == u'.') return false;
        } else if (c.unicode() < 0x80) {
            const bool alnum = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
            if (!alnum && !(domain ? c == u'-' : isAtomSpecial(c))) return false;
        } else if (!c.isLetterOrNumber() && !c.isMark()) {
            return false; // an internationalised name, yes; blanks, controls or symbols, no
        }
        before = c;
    }
    return true;
}

} // namespace

QString MailAddressOf(const QString& value) {
    QStringView text(value);
    const qsizetype lt = text.indexOf(u'<');
    if (lt >= 0) {
        text = text.sliced(lt + 1);
        const qsizetype gt = text.indexOf(u'>');
        if (gt >= 0) text = text.first(gt);
    }
    text = text.trimmed();
    const qsizetype at = text.lastIndexOf(u'@');
    // Within the limits of RFC 5321 (64 for the local part, 254 in all).
    if (at <= 0 || at > 64 || text.size() > 254) return {};
    if (!isDotAtom(text.first(at), false) || !isDotAtom(text.sliced(at + 1), true)) return {};
    return text.toString();
}

QUrl MailtoUrl(const QString& address) {
    if (address.isEmpty()) return {};
    // Only letters, digits, "@" and the few marks that mean nothing in a URL stay as they are: a
    // "?" or "&" of the local part must not become the start of a header such as attach= or bcc=.
    return QUrl::fromEncoded("mailto:" + QUrl::toPercentEncoding(address, "@"), QUrl::StrictMode);
}
