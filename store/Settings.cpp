#include "Settings.h"

#include "Errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSettings>
#include <QStringList>
#include <QSysInfo>
#include <cerrno>
#include <csignal>
#include <optional>
#include <sys/stat.h>
#include <type_traits>
#include <variant>

namespace {

using Field = std::variant<int TConfig::*, bool TConfig::*, QString TConfig::*>;

struct Setting {
    QStringView name;
    Field field;
};

// Declaration order: loading goes through the keys in this order and stops at a bad one.
const Setting kSettings[] = {
    {u"iniTop", &TConfig::iniTop},
    {u"ConectarTodosAlArrancar", &TConfig::ConectarTodosAlArrancar},
    {u"MinimizarAlTray", &TConfig::MinimizarAlTray},
    {u"ElementosEnVentana", &TConfig::ElementosEnVentana},
    {u"FiltrarAlConectar", &TConfig::FiltrarAlConectar},
    {u"PreguntarAntesDeBorrarEnFiltrado", &TConfig::PreguntarAntesDeBorrarEnFiltrado},
    {u"wavNoTieneMensajes", &TConfig::wavNoTieneMensajes},
    {u"wavSiTieneMensajes", &TConfig::wavSiTieneMensajes},
    {u"wavFalloDuranteConexion", &TConfig::wavFalloDuranteConexion},
    {u"segsReconexionSiDesconectado", &TConfig::segsReconexionSiDesconectado},
    {u"segsRechequeoSiConectado", &TConfig::segsRechequeoSiConectado},
};

ERegistryException wrongType(QStringView name) {
    return ERegistryException(u"Invalid data type for '%1'"_qs.arg(name));
}

// The value as the file holds it. QSettings hands back an unquoted value with a comma as a list of
// its pieces, and a value written by this process as what was written (a number stays a number).
QString textOf(const QVariant& value, QStringView name) {
    switch (value.typeId()) {
    case QMetaType::QString:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return value.toString();
    case QMetaType::QStringList:
        return value.toStringList().join(u',');
    default:
        throw wrongType(name);
    }
}

int integerOf(const QVariant& value, QStringView name) {
    const QString text = textOf(value, name);
    try {
        return ParseInt32(text);
    } catch (const EConvertError&) {
        throw wrongType(name);
    }
}

QVariant storedForm(const TConfig& config, const Field& field) {
    return std::visit(
        [&config](auto member) -> QVariant {
            const auto& value = config.*member;
            if constexpr (std::is_same_v<std::decay_t<decltype(value)>, bool>)
                return int(value ? 1 : 0);
            else
                return value;
        },
        field);
}

void readInto(TConfig& config, const Setting& setting, const QVariant& value) {
    std::visit(
        [&](auto member) {
            auto& target = config.*member;
            using T = std::decay_t<decltype(target)>;
            if constexpr (std::is_same_v<T, QString>)
                target = textOf(value, setting.name);
            else if constexpr (std::is_same_v<T, bool>)
                target = integerOf(value, setting.name) != 0;
            else
                target = integerOf(value, setting.name);
        },
        setting.field);
}

void checkWritten(const QSettings& settings) {
    // A format error is about reading the old file; only access errors mean the write failed.
    if (settings.status() == QSettings::AccessError)
        throw ERegistryException(
            u"Cannot write the settings file \"%1\""_qs.arg(QDir::toNativeSeparators(settings.fileName())));
}

} // namespace

namespace {
/** Removes the lock file at path when its maker is gone; returns whether it is gone. */
bool clearAbandonedLock(const QString& path) {
    if (!QFileInfo::exists(path)) return true;
    QLockFile lock(path);
    // Free, or left by a process QLockFile itself finds gone: it clears it.
    if (lock.tryLock(0)) {
        lock.unlock();
        return true;
    }
    if (lock.error() != QLockFile::LockFailedError) return false;
    qint64 pid = 0;
    QString host, application;
    // Without its owner's name the file was cut short by a crash: its maker wrote nothing more.
    // With it, the owner may have ended on this machine (QLockFile misses that when a crash also
    // left the lock it takes to remove lock files).
    const bool abandoned =
        !lock.getLockInfo(&pid, &host, &application) ||
        (host == QSysInfo::machineHostName() && pid > 0 && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH);
    return abandoned && lock.removeStaleLockFile();
}
} // namespace

void ClearAbandonedSettingsLock(const QString& iniPath) {
    // QSettings holds "<file>.lock" for the milliseconds of a write, and QLockFile takes
    // "<lock>.rmlock" to remove a stale lock: either may be left behind by a process killed there.
    const QString lock = iniPath + u".lock"_qs;
    clearAbandonedLock(lock + u".rmlock"_qs);
    clearAbandonedLock(lock);
}

SettingsFileWrite::SettingsFileWrite(const QString& iniPath) {
    ClearAbandonedSettingsLock(iniPath);
    const QByteArray name = QFile::encodeName(iniPath);
    struct stat st {};
    if (::stat(name.constData(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        ::chmod(name.constData(), st.st_mode & S_IRWXU); // not the owner: the file stays as it is
}

void DefaultSettings(TConfig& config) {
    config = TConfig{};
}

QString SettingsFilePath() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, u"Quenmar"_qs, u"Tavelo"_qs).fileName();
}

void LoadSettings(TConfig& config, const QString& iniPath) {
    DefaultSettings(config);
    // The file stands for the registry key: only a key that opens with full access is used.
    const QFileInfo file(iniPath);
    if (!file.exists() || !file.isReadable() || !file.isWritable()) return;
    const SettingsFileWrite writing(iniPath);
    QSettings settings(iniPath, QSettings::IniFormat);
    if (settings.status() == QSettings::AccessError) return;

    for (const Setting& setting : kSettings) {
        if (settings.contains(setting.name))
            readInto(config, setting, settings.value(setting.name));
        else
            settings.setValue(setting.name, storedForm(config, setting.field));
    }
    settings.sync();
    checkWritten(settings);
}

void SaveSettings(const TConfig& config, const QString& iniPath) {
    const SettingsFileWrite writing(iniPath);
    QSettings settings(iniPath, QSettings::IniFormat);
    for (const Setting& setting : kSettings)
        settings.setValue(setting.name, storedForm(config, setting.field));
    settings.sync();
    checkWritten(settings);
}

TAdvancedSettings LoadAdvancedSettings(const QString& iniPath) {
    TAdvancedSettings advanced;
    if (!QFileInfo::exists(iniPath)) return advanced;
    QSettings settings(iniPath, QSettings::IniFormat);
    const auto integer = [&settings](const QString& key) -> std::optional<int> {
        bool ok = false;
        const int value = settings.value(u"Avanzado/"_qs + key).toString().trimmed().toInt(&ok);
        return ok ? std::optional<int>(value) : std::nullopt;
    };
    if (const auto v = integer(u"Pipelining"_qs)) advanced.Pipelining = *v != 0;
    if (const auto v = integer(u"Notificaciones"_qs)) advanced.Notificaciones = *v != 0;
    if (const auto v = integer(u"CopiaAntesDeBorrar"_qs)) advanced.CopiaAntesDeBorrar = *v != 0;
    if (const auto v = integer(u"DiasPapelera"_qs); v && *v >= kMinDiasPapelera && *v <= kMaxDiasPapelera)
        advanced.DiasPapelera = *v;
    if (const auto v = integer(u"LimiteDialogoMB"_qs); v && *v >= kMinLimiteDialogoMB && *v <= kMaxLimiteDialogoMB)
        advanced.LimiteDialogoMB = *v;
    return advanced;
}

void SaveAdvancedSettings(const TAdvancedSettings& advanced, const QString& iniPath) {
    const SettingsFileWrite writing(iniPath);
    QSettings settings(iniPath, QSettings::IniFormat);
    settings.setValue(u"Avanzado/Pipelining"_qs, advanced.Pipelining ? 1 : 0);
    settings.setValue(u"Avanzado/Notificaciones"_qs, advanced.Notificaciones ? 1 : 0);
    settings.setValue(u"Avanzado/CopiaAntesDeBorrar"_qs, advanced.CopiaAntesDeBorrar ? 1 : 0);
    settings.setValue(u"Avanzado/DiasPapelera"_qs, advanced.DiasPapelera);
    settings.setValue(u"Avanzado/LimiteDialogoMB"_qs, advanced.LimiteDialogoMB);
    settings.sync();
    checkWritten(settings);
}
