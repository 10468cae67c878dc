// Secretos.dat, where secrets (refresh tokens, passwords) go when no desktop keyring runs: in the
// data folder, readable and writable by its owner only, from the moment it is created. One line a
// secret, "key=value", the key percent-encoded and the value in base64 (UTF-8 underneath): that
// keeps any character of either on one line, and a secret out of sight of a glance at the file.
// It is not encryption: the protection is the file's mode. Internal to SecretStore, which calls it
// on a thread of its own.
#pragma once

#include <QString>
#include <optional>

/** @short The file's path in the data folder (where Cuentas.dat lives). */
QString SecretsFilePath(const QString& dataDir);

/** @short The secret stored under the key; none when the file or the key is missing. Throws
 *  EInOutError. */
std::optional<QString> ReadSecretFromFile(const QString& path, const QString& key);
/** @short Adds the secret under the key, or replaces it, rewriting the file in one step (a failure
 *  leaves the old one). A new file is made owner-only before anything is written into it. Throws
 *  EInOutError. */
void WriteSecretToFile(const QString& path, const QString& key, const QString& secret);
/** @short Removes the key's secret; false when there was none (then nothing is written, and a
 *  missing file is not created). Throws EInOutError. */
bool RemoveSecretFromFile(const QString& path, const QString& key);
