// The program's eleven settings and their storage: keys of the [General] group of an INI file
// (the per-user Quenmar/Tavelo.ini), named after the fields. Numbers and booleans are stored as
// integers (booleans as 0 or 1), strings as strings. Other groups of the file are left alone.
#pragma once

#include "DataFile.h"

#include <QString>

/** @short The settings, held by the main window for the whole run. Field names are key names. */
struct TConfig {
    int iniTop = 20;                              ///< body lines asked for with each TOP
    bool ConectarTodosAlArrancar = false;         ///< connect every account at start-up
    bool MinimizarAlTray = false;                 ///< minimising hides the window behind the tray icon
    int ElementosEnVentana = 3;                   ///< 1 list, 2 list and text, 3 list, text and dialogue
    bool FiltrarAlConectar = false;               ///< run the filter when a connection completes
    bool PreguntarAntesDeBorrarEnFiltrado = true; ///< ask before each deletion the filter proposes
    QString wavNoTieneMensajes;                   ///< sound for an empty mailbox; empty = none
    QString wavSiTieneMensajes;                   ///< sound for a mailbox with mail; empty = none
    QString wavFalloDuranteConexion;              ///< sound for a failed connection; empty = none
    int segsReconexionSiDesconectado = 600;       ///< seconds before a failed account retries; <= 0 never
    int segsRechequeoSiConectado = 300;           ///< idle seconds before a re-check; <= 0 never
    bool operator==(const TConfig&) const = default;
};

/** @short Puts every default into the record. */
void DefaultSettings(TConfig& config);

/** @short The per-user settings file: $XDG_CONFIG_HOME/Quenmar/Tavelo.ini. */
QString SettingsFilePath();

/** @short Defaults, then the values of the file. Without a file (or one that cannot be read and
 *  written) the defaults stay and nothing is written. Otherwise the eleven keys are gone through
 *  in declaration order: a present key is read into its field, a missing one is written with the
 *  field's default. A number or boolean whose text is not an integer stops the load with
 *  ERegistryException: the fields read so far keep their values, the others their defaults. A
 *  boolean is true for any integer but 0. Also throws ERegistryException when the missing keys
 *  cannot be written. */
void LoadSettings(TConfig& config, const QString& iniPath);

/** @short Writes all eleven keys, creating the file and its directory when needed. Throws
 *  ERegistryException when the file cannot be written. */
void SaveSettings(const TConfig& config, const QString& iniPath);

/** @short Removes the lock file of the settings file when the process that made it is gone: one
 *  killed in the middle of a save (an empty lock file, or one naming a process no longer running
 *  here). QSettings would otherwise wait up to 30 seconds for it at every save. A lock held by a
 *  running process stays. Every write of the settings file calls it first. */
void ClearAbandonedSettingsLock(const QString& iniPath);

/** @short Held around every write of the settings file through QSettings (declared before the
 *  QSettings, so that it outlives its sync). The file names the user's servers and certificates:
 *  it is its owner's only, whatever the umask. QSettings offers no say over the mode of what it
 *  makes, so while this is held the umask takes the group's and the others' bits (OwnerOnlyCreation):
 *  the new file, a folder made for it, its lock file. A file from before that others could read
 *  loses their bits, which the file that replaces it keeps. Also clears an abandoned lock first
 *  (ClearAbandonedSettingsLock). */
class SettingsFileWrite final {
public:
    explicit SettingsFileWrite(const QString& iniPath);
    SettingsFileWrite(const SettingsFileWrite&) = delete;
    SettingsFileWrite& operator=(const SettingsFileWrite&) = delete;

private:
    OwnerOnlyCreation m_creation;
};

/** Options beyond the eleven settings, kept in a group of their own ([Avanzado]). */
struct TAdvancedSettings {
    bool Pipelining = true;         ///< ask for the headers in batches where the server allows it (CAPA PIPELINING)
    bool Notificaciones = true;     ///< a desktop notification when a connection or re-check finds mail
    bool CopiaAntesDeBorrar = true; ///< keep a copy of each message in the Papelera before it is deleted
    int DiasPapelera = 30;          ///< days a copy stays in the Papelera
    int LimiteDialogoMB = 16;       ///< the most text each tab's dialogue log keeps, in MB
    bool operator==(const TAdvancedSettings&) const = default;
};
/// The range of DiasPapelera: a day to ten years.
inline constexpr int kMinDiasPapelera = 1;
inline constexpr int kMaxDiasPapelera = 3650;
/// The range of LimiteDialogoMB.
inline constexpr int kMinLimiteDialogoMB = 1;
inline constexpr int kMaxLimiteDialogoMB = 4096;
/** @short The [Avanzado] group; missing or unreadable values keep their defaults, and so does a
 *  DiasPapelera or LimiteDialogoMB outside its range. Never writes. */
TAdvancedSettings LoadAdvancedSettings(const QString& iniPath);
/** @short Writes the [Avanzado] group (booleans 0 or 1). Throws ERegistryException when it cannot be written. */
void SaveAdvancedSettings(const TAdvancedSettings& advanced, const QString& iniPath);
