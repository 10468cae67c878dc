#include "DataFile.h"

#include "Errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>
#include <cerrno>
#include <sys/stat.h>

DataFileLines::DataFileLines(QByteArrayView data) : m_data(data) {
    const qsizetype eof = m_data.indexOf('\x1A');
    if (eof >= 0) m_data = m_data.first(eof);
}

QByteArrayView DataFileLines::next() {
    if (atEnd()) return {};
    qsizetype cr = m_data.indexOf('\r', m_pos);
    if (cr < 0) cr = m_data.size();
    const QByteArrayView line = m_data.sliced(m_pos, cr - m_pos);
    m_pos = cr + 1;
    if (m_pos < m_data.size() && m_data[m_pos] == '\n') ++m_pos;
    return line;
}

namespace {

QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

} // namespace

QByteArray ReadDataFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw EInOutError(u"Cannot open file \"%1\" for reading: %2"_qs.arg(shown(path), file.errorString()));
    QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw EInOutError(u"Cannot read file \"%1\": %2"_qs.arg(shown(path), file.errorString()));
    return data;
}

void WriteDataFile(const QString& path, const QByteArray& data, std::optional<QFileDevice::Permissions> permissions) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw EInOutError(u"Cannot create file \"%1\": %2"_qs.arg(shown(path), file.errorString()));
    // Set on the temporary file, so the data is never readable by others, not even for a moment.
    if (permissions && !file.setPermissions(*permissions)) {
        file.cancelWriting();
        throw EInOutError(u"Cannot set the permissions of file \"%1\": %2"_qs.arg(shown(path), file.errorString()));
    }
    if (file.write(data) != data.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        throw EInOutError(u"Cannot write file \"%1\": %2"_qs.arg(shown(path), reason));
    }
    if (!file.commit()) throw EInOutError(u"Cannot write file \"%1\": %2"_qs.arg(shown(path), file.errorString()));
}

void CreateEmptyDataFile(const QString& path, QFileDevice::Permissions permissions) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, permissions))
        throw EInOutError(u"Cannot create file \"%1\": %2"_qs.arg(shown(path), file.errorString()));
}

void WriteOwnerOnlyDataFile(const QString& path, const QByteArray& data) {
    constexpr QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    if (!QFileInfo::exists(path)) CreateEmptyDataFile(path, ownerOnly);
    WriteDataFile(path, data, ownerOnly);
}

OwnerOnlyCreation::OwnerOnlyCreation() : m_umask(::umask(S_IRWXG | S_IRWXO)) {
    ::umask(mode_t(m_umask) | S_IRWXG | S_IRWXO);
}

OwnerOnlyCreation::~OwnerOnlyCreation() {
    ::umask(mode_t(m_umask));
}

bool MakeOwnerOnlyPath(const QString& path) {
    const QString target = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QStringList missing;
    for (QString dir = target; !QFileInfo::exists(dir);) {
        missing.prepend(dir);
        const QString parent = QFileInfo(dir).path();
        if (parent == dir) break;
        dir = parent;
    }
    for (const QString& dir : std::as_const(missing)) {
        const QByteArray name = QFile::encodeName(dir);
        if (::mkdir(name.constData(), S_IRWXU) != 0) {
            // Made by someone else in the meantime: then it is theirs, and keeps its mode.
            if (errno == EEXIST && QFileInfo(dir).isDir()) continue;
            return false;
        }
        // A umask may take bits off the owner's as well; the folder is this process' own.
        if (::chmod(name.constData(), S_IRWXU) != 0) return false;
    }
    return QFileInfo(target).isDir();
}
