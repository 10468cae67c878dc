#include "SecretsFile.h"

#include "DataFile.h"

#include <QByteArrayList>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace {

/** What a key's line starts with. */
QByteArray linePrefix(const QString& key) {
    return QUrl::toPercentEncoding(key, "/@:") + '=';
}

/** The file's lines; lines this version cannot read stay as they are. */
QByteArrayList readLines(const QString& path) {
    if (!QFileInfo::exists(path)) return {};
    QByteArrayList lines = ReadDataFile(path).split('\n');
    lines.removeAll(QByteArray());
    return lines;
}

void writeLines(const QString& path, const QByteArrayList& lines) {
    QByteArray data;
    for (const QByteArray& line : lines)
        data += line + '\n';
    WriteOwnerOnlyDataFile(path, data);
}

} // namespace

QString SecretsFilePath(const QString& dataDir) {
    return QDir(dataDir).filePath(u"Secretos.dat"_qs);
}

std::optional<QString> ReadSecretFromFile(const QString& path, const QString& key) {
    const QByteArray prefix = linePrefix(key);
    for (const QByteArray& line : readLines(path))
        if (line.startsWith(prefix)) return QString::fromUtf8(QByteArray::fromBase64(line.sliced(prefix.size())));
    return std::nullopt;
}

void WriteSecretToFile(const QString& path, const QString& key, const QString& secret) {
    const QByteArray prefix = linePrefix(key);
    QByteArrayList lines = readLines(path);
    lines.removeIf([&](const QByteArray& line) { return line.startsWith(prefix); });
    lines.append(prefix + secret.toUtf8().toBase64());
    writeLines(path, lines);
}

bool RemoveSecretFromFile(const QString& path, const QString& key) {
    const QByteArray prefix = linePrefix(key);
    QByteArrayList lines = readLines(path);
    if (lines.removeIf([&](const QByteArray& line) { return line.startsWith(prefix); }) == 0) return false;
    writeLines(path, lines);
    return true;
}
