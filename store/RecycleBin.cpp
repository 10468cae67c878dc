#include "RecycleBin.h"

#include "Cp1252.h"
#include "DataFile.h"
#include "Errors.h"
#include "MessageHeader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSysInfo>
#include <algorithm>
#include <atomic>
#include <unistd.h>

namespace {

/// The most of a message read for its header.
constexpr qsizetype kHeadBytes = 256 * 1024;
const QString kIndexName = u"Indice.dat"_qs;

QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

QString oneLine(QString value) {
    for (QChar& c : value)
        if (c == u'\t' || c == u'\r' || c == u'\n') c = u' ';
    return value;
}

/** A name no other delivery uses (Maildir: time.pid_counter.host, '/' and ':' of the host escaped). */
QString uniqueName(const QDateTime& when) {
    static std::atomic<quint64> counter{0};
    QString host = QSysInfo::machineHostName();
    host.replace(u'/', u"\\057"_qs).replace(u':', u"\\072"_qs);
    return QString::number(when.toSecsSinceEpoch()) + u'.' + QString::number(QCoreApplication::applicationPid()) +
           u'_' + QString::number(++counter) + u'.' + (host.isEmpty() ? u"localhost"_qs : host);
}

/** When a copy was kept: the seconds its name starts with, else the file's time. */
QDateTime keptAt(const QString& name, const QFileInfo& file) {
    bool ok = false;
    const qint64 seconds = name.section(u'.', 0, 0).toLongLong(&ok);
    return ok && seconds > 0 ? QDateTime::fromSecsSinceEpoch(seconds) : file.lastModified();
}

/** Sender, subject and date of a message (LF line ends), read the way the header pass reads them. */
TCopiaPapelera fromHeader(QByteArrayView message) {
    const qsizetype blank = message.indexOf("\n\n");
    const ParsedHeader h =
        ParseHeaderText(fromCp1252(message.first(std::min(blank < 0 ? message.size() : blank + 1, kHeadBytes))));
    TCopiaPapelera copia;
    copia.Remitente = oneLine(h.from);
    copia.Asunto = oneLine(h.subj);
    copia.Fecha = oneLine(h.fecha.trimmed());
    return copia;
}

QList<TCopiaPapelera> readIndex(const QString& path) {
    QList<TCopiaPapelera> out;
    if (!QFileInfo::exists(path)) return out;
    const QByteArray data = ReadDataFile(path);
    DataFileLines lines(data);
    while (!lines.atEnd()) {
        const QStringList f = QString::fromUtf8(lines.next()).split(u'\t');
        if (f[0].isEmpty()) continue;
        TCopiaPapelera c;
        c.Archivo = f[0];
        c.Cuenta = f.value(1);
        c.Remitente = f.value(2);
        c.Asunto = f.value(3);
        c.Fecha = f.value(4);
        c.Motivo = f.value(5);
        out.append(c);
    }
    return out;
}

} // namespace

QString CuentaPapelera(const QString& user, const QString& server, int port) {
    const QString host = server.contains(u':') ? u'[' + server + u']' : server;
    return user + u'@' + host + u':' + QString::number(port);
}

TPapelera::TPapelera(const QString& dataDir) : m_root(QDir(dataDir).filePath(u"Papelera"_qs)) {}

QString TPapelera::indexPath() const {
    return m_root + u'/' + kIndexName;
}

void TPapelera::writeIndex(const QList<TCopiaPapelera>& copias) const {
    QByteArray data;
    for (const TCopiaPapelera& c : copias)
        data += QStringList{c.Archivo,         oneLine(c.Cuenta), oneLine(c.Remitente),
                            oneLine(c.Asunto), oneLine(c.Fecha),  oneLine(c.Motivo)}
                    .join(u'\t')
                    .toUtf8() +
                "\r\n";
    WriteDataFile(indexPath(), data, kOwnerOnlyFile);
}

QString TPapelera::Guardar(const QString& cuenta, const QByteArray& mensaje, const QString& motivo,
                           const QDateTime& cuando) {
    // The Papelera holds other people's mail: only its owner may read it, whatever the umask.
    for (const QString& sub : {u"tmp"_qs, u"new"_qs, u"cur"_qs})
        if (!MakeOwnerOnlyPath(m_root + u'/' + sub))
            throw EInOutError(u"Cannot create folder \"%1\""_qs.arg(shown(m_root + u'/' + sub)));
    QString name;
    do
        name = uniqueName(cuando.isValid() ? cuando : QDateTime::currentDateTime());
    while (QFileInfo::exists(m_root + u"/tmp/"_qs + name) || QFileInfo::exists(m_root + u"/new/"_qs + name));

    // Maildir delivery: the whole file on the disk in tmp, then renamed into new in one step.
    QByteArray text = mensaje;
    text.replace("\r\n", "\n");
    const QString tmp = m_root + u"/tmp/"_qs + name;
    QFile file(tmp);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, kOwnerOnlyFile))
        throw EInOutError(u"Cannot create file \"%1\": %2"_qs.arg(shown(tmp), file.errorString()));
    if (file.write(text) != text.size() || !file.flush() || ::fsync(file.handle()) != 0) {
        const QString reason = file.errorString();
        file.close();
        file.remove();
        throw EInOutError(u"Cannot write file \"%1\": %2"_qs.arg(shown(tmp), reason));
    }
    file.close();
    const QString delivered = m_root + u"/new/"_qs + name;
    if (!QFile::rename(tmp, delivered)) {
        QFile::remove(tmp);
        throw EInOutError(u"Cannot move file \"%1\" into \"%2\""_qs.arg(shown(tmp), shown(delivered)));
    }

    TCopiaPapelera entry = fromHeader(text);
    entry.Archivo = name;
    entry.Cuenta = cuenta;
    entry.Motivo = motivo;
    try {
        QList<TCopiaPapelera> indexed = readIndex(indexPath());
        indexed.append(entry);
        writeIndex(indexed);
    } catch (const EInOutError&) {
        // A copy the index does not name is still a copy; but the caller learns it failed, and the
        // message stays on the server: no half-kept copies.
        QFile::remove(delivered);
        throw;
    }
    return name;
}

QList<TCopiaPapelera> TPapelera::Copias() const {
    QHash<QString, TCopiaPapelera> indexed;
    for (TCopiaPapelera& c : readIndex(indexPath()))
        indexed.insert(c.Archivo, std::move(c));
    QList<TCopiaPapelera> out;
    for (const QString& sub : {u"new"_qs, u"cur"_qs}) {
        for (const QFileInfo& info : QDir(m_root + u'/' + sub).entryInfoList(QDir::Files)) {
            // A mail reader that has seen a message moves it to cur and adds ":2,<flags>".
            const QString name = info.fileName().section(u':', 0, 0);
            TCopiaPapelera c;
            if (const auto it = indexed.constFind(name); it != indexed.cend()) {
                c = *it;
            } else {
                QFile file(info.filePath());
                if (!file.open(QIODevice::ReadOnly)) continue;
                c = fromHeader(file.read(kHeadBytes));
                c.Archivo = name;
            }
            c.Guardada = keptAt(name, info);
            out.append(std::move(c));
        }
    }
    std::sort(out.begin(), out.end(), [](const TCopiaPapelera& a, const TCopiaPapelera& b) {
        return a.Guardada != b.Guardada ? a.Guardada > b.Guardada : a.Archivo > b.Archivo;
    });
    return out;
}

QString TPapelera::Ruta(const QString& archivo) const {
    if (archivo.isEmpty()) return {};
    const QString fresh = m_root + u"/new/"_qs + archivo;
    if (QFileInfo::exists(fresh)) return fresh;
    const QDir cur(m_root + u"/cur"_qs);
    const QStringList seen = cur.entryList({archivo, archivo + u":*"_qs}, QDir::Files);
    return seen.isEmpty() ? QString() : cur.filePath(seen.first());
}

void TPapelera::Exportar(const QString& archivo, const QString& destino) const {
    const QString path = Ruta(archivo);
    if (path.isEmpty()) throw EInOutError(u"The copy \"%1\" is no longer in the Papelera"_qs.arg(archivo));
    WriteDataFile(destino, ReadDataFile(path));
}

int TPapelera::Caducar(int dias, const QDateTime& ahora) {
    if (!QFileInfo(m_root).isDir()) return 0;
    const QDateTime limit = ahora.addDays(-dias);
    QList<TCopiaPapelera> kept;
    int removed = 0;
    for (const TCopiaPapelera& c : Copias()) {
        if (c.Guardada < limit && QFile::remove(Ruta(c.Archivo))) {
            ++removed;
            continue;
        }
        kept.append(c);
    }
    // The index keeps its order, oldest first, and loses the lines of files that are gone.
    std::reverse(kept.begin(), kept.end());
    if (removed > 0 || readIndex(indexPath()).size() != kept.size()) writeIndex(kept);
    return removed;
}
