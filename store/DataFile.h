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

/// Readable and writable by its owner only: what every file the program writes holds (mail, the
/// filters, the settings) is nobody else's business on a machine with other users.
inline constexpr QFileDevice::Permissions kOwnerOnlyFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

/** @short While one is held, the umask also takes the group's and the others' bits, for files and
 *  folders made by code that offers no say over their mode (QSettings, QLockFile). The umask is the
 *  process's: one is held on the main thread only, for the moments of a write, and no other thread
 *  makes files then. */
class OwnerOnlyCreation final {
public:
    OwnerOnlyCreation();
    ~OwnerOnlyCreation();
    OwnerOnlyCreation(const OwnerOnlyCreation&) = delete;
    OwnerOnlyCreation& operator=(const OwnerOnlyCreation&) = delete;

private:
    unsigned m_umask;
};

/** @short Makes the folder, and every folder above it that is missing, open to its owner only
 *  (0700) whatever the umask. A folder that already exists keeps its mode: it may be the user's. */
bool MakeOwnerOnlyPath(const QString& path);

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
