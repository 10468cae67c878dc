// CuentasAcceso.dat, how each account logs in: beside Cuentas.dat, whose five-line records older
// copies of the program still read and which therefore stays as it is. UTF-8, one section per
// account, named by its key (AccountKey), with key=value lines:
//
//   [ana%40x.es@pop.x.es:995]
//   Acceso=oauth2                 password (the default) | oauth2
//   Proveedor=microsoft           microsoft | google | custom
//   ClienteId=...
//   ClienteSecreto=...            optional; a desktop program cannot keep it secret, but it stays out of logs
//   UrlAutorizacion=...           for custom
//   UrlToken=...                  for custom
//   Alcance=...                   for custom
//   PasswordEnLlavero=1           the password is in the secret store, not in Cuentas.dat
//   PasswordSinCifrar=1           the password may go in clear to a server that offers no TLS
//                                 (written only when set; off, only a server on this computer gets it)
//
// An account without a section logs in with its password, as it always has. Lines this version
// does not know (other keys, comments) are kept; lines it cannot understand are reported and left
// out. A hand-written file, so no QSettings: that one reorders keys, escapes the section names,
// drops comments and says nothing about a line it cannot read.
#pragma once

#include "AccountsFile.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

enum class LoginMethod { Password, OAuth2 };
enum class OAuthProvider { Microsoft, Google, Custom };

/** @short How one account logs in. The defaults are the password login of accounts without a section. */
struct AccountAccess {
    LoginMethod method = LoginMethod::Password;
    OAuthProvider provider = OAuthProvider::Custom;
    QString clientId;
    QString clientSecret; ///< never written to a log
    QString authorizeUrl;
    QString tokenUrl;
    QString scope;
    bool passwordInKeyring = false;
    /** The user accepted that the password goes in clear to this server, which offers no TLS. */
    bool allowPlaintext = false;
    /** Lines of the section this version does not know (other keys, comments), in file order. */
    QStringList otherLines;
    bool operator==(const AccountAccess&) const = default;
};

/** @short What identifies an account: its user, server and the port the window connects on, as
 *  "user@server:port" with user and server percent-encoded (so "@", ":" and "/" inside them stay
 *  apart). Case is kept: "POP.x.es" and "pop.x.es" are two keys. Also names its secrets. */
QString AccountKey(const QString& server, int port, const QString& user);
/** @short The key of a record of Cuentas.dat; a port that is not a number counts as 110, the port
 *  the window connects on for it. */
QString AccountKey(const AccountRecord& record);

/** @short The whole file: the accounts' sections in file order and the comments above the first. */
struct AccountAccessList {
    struct Entry {
        QString key;
        AccountAccess access;
        bool operator==(const Entry&) const = default;
    };
    QStringList leadingLines;
    QList<Entry> entries;

    /** @short The account's entry; the defaults (password login) when it has none. */
    AccountAccess find(const QString& key) const;
    /** @short Replaces the account's entry, or adds it at the end. */
    void set(const QString& key, const AccountAccess& access);
    /** @short The entry follows an account whose server, port or user changed; an entry already
     *  under the new key is replaced. False when there was none under the old key. */
    bool rename(const QString& from, const QString& to);
    /** @short Removes the account's entry; false when it had none. With two records of the same
     *  account in Cuentas.dat (the accounts dialog allows it) they share one entry: remove it with
     *  the last of them. */
    bool remove(const QString& key);
    bool operator==(const AccountAccessList&) const = default;
};

/** @short The list in the bytes; every line that cannot be understood adds a Spanish sentence to
 *  `problems` ("Línea 4: ...") and is left out. */
AccountAccessList ParseAccountAccessData(QByteArrayView data, QStringList* problems = nullptr);
/** @short The file's bytes, LF line ends. An LF inside a value is written as a blank. */
QByteArray FormatAccountAccessData(const AccountAccessList& list);

/** @short The file's path in the data folder (where Cuentas.dat lives). */
QString AccountAccessFilePath(const QString& dataDir);
/** @short The file's list; a missing file gives an empty list (every account logs in with its
 *  password) and is not created. Throws EInOutError. */
AccountAccessList LoadAccountAccessFile(const QString& path, QStringList* problems = nullptr);
/** @short Replaces the file in one step (a failure leaves the old one), readable and writable by
 *  its owner only. Throws EInOutError. */
void SaveAccountAccessFile(const QString& path, const AccountAccessList& list);

/** @short For the accounts dialog: load, rename or remove the entry, save. Nothing is written when
 *  there was no entry to change, so a missing file stays missing. Throws EInOutError. */
void RenameAccountAccess(const QString& path, const QString& from, const QString& to, QStringList* problems = nullptr);
void RemoveAccountAccess(const QString& path, const QString& key, QStringList* problems = nullptr);
