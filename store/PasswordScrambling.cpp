#include "PasswordScrambling.h"

#include "Cp1252.h"
#include "TextAndTime.h"

#include <QByteArray>
#include <QRandomGenerator>
#include <utility>

namespace {

struct Masks {
    quint8 a;
    quint8 b;
    bool operator==(const Masks&) const = default;
};

// Only the six lowest bits of the sum count: A takes bits 5, 3, 1 (as bits 7, 4, 1), B takes
// bits 4, 2, 0 (as bits 6, 3, 0).
Masks masksOfSum(quint16 sum) {
    const auto bit = [sum](int i) { return (sum >> i) & 1; };
    return {quint8(bit(5) << 7 | bit(3) << 4 | bit(1) << 1), quint8(bit(4) << 6 | bit(2) << 3 | bit(0))};
}

quint8 maskAt(const Masks& m, qsizetype i) {
    return (i % 2 == 1) ? m.a : m.b;
}

QChar letterOf(int nibble) {
    const QChar letter(NibbleLetters[nibble]);
    return QRandomGenerator::global()->bounded(100) <= 50 ? letter.toLower() : letter;
}

const QString kInvalidForm = u"<<ERROR>>"_qs;

} // namespace

QString EncodePassword(const QString& password) {
    if (password.isEmpty()) return {};
    const QByteArray clear = toCp1252(password);
    const qsizetype n = clear.size();

    // Odd positions in ascending order, then even positions in descending order (1-based):
    // c1 c2 c3 c4 c5 c6 becomes c1 c3 c5 c6 c4 c2.
    QByteArray bytes(n + 2, '\0');
    qsizetype k = 1;
    for (qsizetype i = 0; i < n; i += 2)
        bytes[k++] = clear[i];
    for (qsizetype i = (n % 2 == 0) ? n - 1 : n - 2; i >= 1; i -= 2)
        bytes[k++] = clear[i];

    quint16 sum = 0;
    for (qsizetype i = 1; i <= n; ++i)
        sum += quint8(bytes[i]);
    const Masks masks = masksOfSum(sum);
    for (qsizetype i = 1; i <= n; ++i)
        bytes[i] = char(quint8(bytes[i]) ^ maskAt(masks, i));
    bytes[0] = char(masks.a);
    bytes[n + 1] = char(masks.b);

    QString out;
    out.reserve(2 * bytes.size());
    for (char c : std::as_const(bytes)) {
        out += letterOf(quint8(c) >> 4);
        out += letterOf(quint8(c) & 15);
    }
    return out;
}

std::optional<QString> DecodeStoredPassword(const QString& scrambled) {
    if (scrambled.isEmpty()) return QString();
    const QString letters = MayusculasSinAcentos(scrambled);
    if (letters.size() % 2 != 0) return std::nullopt;
    for (QChar c : letters)
        if (NibbleValue(c) == 255) return std::nullopt;

    const qsizetype m = letters.size() / 2;
    QByteArray bytes(m, Qt::Uninitialized);
    for (qsizetype i = 0; i < m; ++i)
        bytes[i] = char(NibbleValue(letters[2 * i]) << 4 | NibbleValue(letters[2 * i + 1]));

    // Two letters hold a single byte that is both masks at once.
    const Masks stored{quint8(bytes[0]), quint8(bytes[m - 1])};
    const qsizetype n = m - 2;
    quint16 sum = 0;
    for (qsizetype i = 1; i <= n; ++i) {
        bytes[i] = char(quint8(bytes[i]) ^ maskAt(stored, i));
        sum += quint8(bytes[i]);
    }
    if (masksOfSum(sum) != stored) return std::nullopt;

    // Undo the reordering: take from the front and the back in turn.
    QByteArray clear;
    clear.reserve(qMax<qsizetype>(n, 0));
    qsizetype front = 1, back = n;
    for (qsizetype step = 1; step <= n; ++step)
        clear += (step % 2 == 1) ? bytes[front++] : bytes[back--];
    return fromCp1252(clear);
}

QString DecodePassword(const QString& scrambled) {
    return DecodeStoredPassword(scrambled).value_or(kInvalidForm);
}

unsigned char NibbleValue(QChar c) {
    for (unsigned char i = 0; i < 16; ++i)
        if (c == QChar(NibbleLetters[i])) return i;
    return 255;
}
