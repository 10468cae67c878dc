// Cuentas.dat, the accounts file: five-line records, every line ended by CR LF,
//   "SERV:" server, "PORT:" port, "USER:" user name, "PASS:" scrambled password, "-----".
// Windows-1252 on disk; no header, no count, no quoting. Zero bytes means no accounts.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

/** @short One account as the file holds it. */
struct AccountRecord {
    QString servidor;
    QString puerto; ///< the port as text, unconverted: the caller decides what a bad port means
    QString usuario;
    QString password; ///< scrambled form (PasswordScrambling), never clear text
    bool operator==(const AccountRecord&) const = default;
};

/** @short The records of the file's bytes. Lines are taken by position: the first five characters
 *  of each line are dropped whatever they are, the fifth line is ignored, and lines missing at the
 *  end of the data read as empty values. Line ends and Ctrl+Z as in DataFileLines. */
QList<AccountRecord> ParseAccountsData(QByteArrayView data);
/** @short The file's bytes for the records, CR LF after every line; no records give zero bytes. */
QByteArray FormatAccountsData(const QList<AccountRecord>& records);

/** @short Every record of the file, in file order, bad ports included. A missing file is created
 *  empty (owner read/write only) and gives no records. Throws EInOutError. */
QList<AccountRecord> LoadAccountsFile(const QString& path);
/** @short Replaces the file in one step (a failure leaves the old file) and leaves it readable and
 *  writable by its owner only. Throws EInOutError. */
void SaveAccountsFile(const QString& path, const QList<AccountRecord>& records);
