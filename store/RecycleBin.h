// The Papelera: a copy of each message kept before the server deletes it, in a Maildir of the data
// folder (Papelera/{tmp,new,cur}), with an index of what each copy is (Papelera/Indice.dat).
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

/** One copy in the Papelera. */
struct TCopiaPapelera {
    QString Archivo; ///< the Maildir name (without the ":2,..." a mail reader may add)
    QString Cuenta;  ///< "user@server:port" (CuentaPapelera); "user@server" in lines of earlier versions;
                     ///< empty for a copy the index does not know
    QString Remitente;
    QString Asunto;
    QString Fecha; ///< the message's Date header as written
    QString Motivo;
    QDateTime Guardada; ///< when it was kept: the time in its name, else the file's
};

/** @short How the index names the account a copy came from: "user@server:port", the port telling
 *  apart two accounts on one server (an IPv6 address in brackets, "user@[::1]:110"). */
QString CuentaPapelera(const QString& user, const QString& server, int port);

/**
 * @short The Papelera of one data folder. Files are delivered the Maildir way (written to tmp, then
 * renamed into new) with LF line ends, the local convention of Maildir files. Indice.dat has one
 * line per copy, UTF-8, fields separated by TABs: name, account, sender, subject, date, reason (TABs
 * and line breaks in values become blanks); it is replaced whole, in one step, at every change.
 * The folders it makes are its owner's only (0700), and so is every file it writes (0600).
 */
class TPapelera final {
public:
    explicit TPapelera(const QString& dataDir);

    QString Carpeta() const { return m_root; }
    /** @short Keeps a copy of the message (its bytes as the server sent them, CR LF line ends) and
     *  returns its name. Sender, subject and date come from its header. Throws EInOutError; then
     *  nothing is kept. */
    QString Guardar(const QString& cuenta, const QByteArray& mensaje, const QString& motivo, const QDateTime& cuando);
    /** @short Every copy, newest first. Index lines whose file is gone are left out; a file the index
     *  does not know is listed with what its header says. */
    QList<TCopiaPapelera> Copias() const;
    /** @short The path of a copy's file; empty when it is gone. */
    QString Ruta(const QString& archivo) const;
    /** @short Writes the copy's file to `destino` (replacing it in one step). Throws EInOutError,
     *  also for a copy that is gone. */
    void Exportar(const QString& archivo, const QString& destino) const;
    /** @short Removes the copies kept more than `dias` days before `ahora`, and their index lines;
     *  returns how many. Throws EInOutError when the index cannot be written. */
    int Caducar(int dias, const QDateTime& ahora);

private:
    QString indexPath() const;
    void writeIndex(const QList<TCopiaPapelera>& copias) const;

    QString m_root;
};
