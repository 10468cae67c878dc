// What the accounts file and the filter file have in common: their line rules, and reading and
// writing them whole. Internal to the stored-data layer.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QFileDevice>
#include <QString>
#include <optional>

/** @short Splits the bytes of a data file into lines the way its readers always have: a line ends
 *  at CR, one LF right after that CR belongs to the line end, a lone LF is an ordinary byte, and
 *  a byte 1A hex (Ctrl+Z) ends the data. */
class DataFileLines final {
public:
    explicit DataFileLines(QByteArrayView data);
    bool atEnd() const { return m_pos >= m_data.size(); }
    /** @short The next line without its line end; an empty line once the data is over. */
    QByteArrayView next();

private:
    QByteArrayView m_data;
    qsizetype m_pos = 0;
};

/** @short The whole content of an existing file. Throws EInOutError. */
QByteArray ReadDataFile(const QString& path);
/** @short Replaces the file with the bytes in one step: on any failure the old file stays as it
 *  was. With permissions, the new file gets them before it takes the old one's place. Throws
 *  EInOutError. */
void WriteDataFile(const QString& path, const QByteArray& data,
                   std::optional<QFileDevice::Permissions> permissions = std::nullopt);
/** @short WriteDataFile for a file readable and writable by its owner only, from the moment it
 *  exists: a missing file is first created empty with that mode, since the temporary file that
 *  replaces it takes the mode of the file it replaces until its permissions are set (where the
 *  system cannot make it unnamed). Throws EInOutError. */
void WriteOwnerOnlyDataFile(const QString& path, const QByteArray& data);
/** @short Creates an empty file with the given permissions. Throws EInOutError. */
void CreateEmptyDataFile(const QString& path, QFileDevice::Permissions permissions);
