#include "AccountsFile.h"

#include "Cp1252.h"
#include "DataFile.h"

#include <QFileInfo>

namespace {

constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr qsizetype kPrefixLength = 5;

QString valueOf(QByteArrayView line) {
    return line.size() > kPrefixLength ? fromCp1252(line.sliced(kPrefixLength)) : QString();
}

void appendLine(QByteArray& out, const char* prefix, const QString& value) {
    out += prefix;
    out += toCp1252(value);
    out += "\r\n";
}

} // namespace

QList<AccountRecord> ParseAccountsData(QByteArrayView data) {
    QList<AccountRecord> records;
    DataFileLines lines(data);
    // The end of the data is looked at only between records.
    while (!lines.atEnd()) {
        AccountRecord r;
        r.servidor = valueOf(lines.next());
        r.puerto = valueOf(lines.next());
        r.usuario = valueOf(lines.next());
        r.password = valueOf(lines.next());
        lines.next();
        records.append(std::move(r));
    }
    return records;
}

QByteArray FormatAccountsData(const QList<AccountRecord>& records) {
    QByteArray out;
    for (const AccountRecord& r : records) {
        appendLine(out, "SERV:", r.servidor);
        appendLine(out, "PORT:", r.puerto);
        appendLine(out, "USER:", r.usuario);
        appendLine(out, "PASS:", r.password);
        out += "-----\r\n";
    }
    return out;
}

QList<AccountRecord> LoadAccountsFile(const QString& path) {
    if (!QFileInfo::exists(path)) {
        CreateEmptyDataFile(path, kOwnerOnly);
        return {};
    }
    return ParseAccountsData(ReadDataFile(path));
}

void SaveAccountsFile(const QString& path, const QList<AccountRecord>& records) {
    WriteDataFile(path, FormatAccountsData(records), kOwnerOnly);
}
