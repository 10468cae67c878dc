// The accounts dialog: the user's list of POP3 accounts (add, change, remove). Its rows are the
// working copy of Cuentas.dat: loaded once when the dialog is made, and after every change and on
// every way out written back whole and handed to the window as its accounts.
#pragma once

#include "AccountAccess.h"
#include "AccountsFile.h"
#include "DialogContext.h"

#include <QDialog>
#include <QMessageBox>

class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class TfrmAcceso;
struct SecretResult;

class TfrmCuentas final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TfrmCuentas)
public:
    /** What the window does with the accounts whenever the rows change: they become its accounts
     *  and its connect menu. */
    using AccountsChanged = std::function<void(const QList<AccountRecord>& accounts)>;

    /** @short Builds the dialog (hidden, modal, owned by context.owner) and loads Cuentas.dat from
     *  `accountsPath`. */
    TfrmCuentas(const DialogContext& context, const QString& accountsPath, AccountsChanged accountsChanged);

    /** @short Shows the dialog modally and returns when the user has left it. The owner centres it
     *  first. */
    void showModal();
    /** @short Selects the row of that account (AccountKey), as a click on it would; false when
     *  there is none. */
    bool selectAccount(const QString& key);

    // Handlers.
    void edtUserNameChange();
    void ListViewClick();
    void btnAddClick();
    void btnModificarClick();
    void btnEliminarClick();
    void btnCiaoClick();
    void btnAccesoClick();

    /** @short Fills the rows from Cuentas.dat (a missing file is created empty). Throws EInOutError. */
    void LoadAccountList();
    /** @short Hands the rows to the window as its accounts, then rewrites Cuentas.dat from them
     *  in one step; a failed write leaves the old file and is reported. */
    void SaveAccountList();

    /** The row found by the last click on the list; the row count when it found none. */
    int CurrentIndex = 0;

    // Controls; the login fields and btnAcceso, in GroupBox1, are the LoginFields group's.
    QGroupBox* GroupBox1 = nullptr;
    QLineEdit* edtUserName = nullptr;
    QLineEdit* edtPassword = nullptr;
    QLineEdit* edtServidor = nullptr;
    QLineEdit* edtPuerto = nullptr;
    QLabel* lblUserName = nullptr;
    QLabel* lblPassword = nullptr;
    QLabel* lblServidor = nullptr;
    QLabel* lblPuerto = nullptr;
    QPushButton* btnAcceso = nullptr;
    /** How the account in the fields logs in, edited by "Acceso...". */
    TfrmAcceso* frmAcceso = nullptr;
    QFrame* PanelBotones = nullptr;
    QPushButton* btnAdd = nullptr;
    QPushButton* btnModificar = nullptr;
    QPushButton* btnEliminar = nullptr;
    QPushButton* btnCiao = nullptr;
    /** Columns: scrambled password (hidden), port, server, user name. */
    QTreeWidget* ListView = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    /** @short Saving on the way out: Salir, Esc and closing all end in hiding the dialog. */
    void FormHide();
    /** @short False (after saying so) when the port is empty or a number that no port can be. */
    bool portAcceptable();
    /** @short False (after saying so, the focus in the field) when a field has characters
     *  Cuentas.dat cannot hold, or the port is not acceptable. */
    bool fieldsAcceptable();
    /** @short The fields into the row: scrambled password as caption, then port, server, user name. */
    void fillRow(QTreeWidgetItem* row);
    QTreeWidgetItem* firstSelectedRow() const;
    /** @short The AccountKey of the row's record. */
    static QString keyOfRow(const QTreeWidgetItem* row);
    /** @short Whether a row other than `row` (none: any row) is an account with that key. */
    bool otherRowHasKey(const QTreeWidgetItem* row, const QString& key) const;
    /** @short Stores the pending access under `key` (after following a rename from `oldKey`, when
     *  it differs) in CuentasAcceso.dat and the account's password where it belongs: the secret
     *  store, or the row. `sharedOldKey`: another row keeps the old key's entry and secrets. */
    void storeAccess(QTreeWidgetItem* row, const QString& oldKey, bool sharedOldKey);
    /** @short Forgets the entry and the secrets of an account no row has any more. */
    void forgetAccess(const QString& key);
    /** @short Loads, changes and saves CuentasAcceso.dat; a failure is reported. Then the window
     *  reads it again. */
    void changeAccessFile(const std::function<bool(AccountAccessList& list)>& change);
    /** @short The secret store's answer: a failure is reported like a file's. */
    void secretStored(const SecretResult& result);
    QMessageBox::StandardButton message(QMessageBox::Icon icon, const QString& caption, const QString& text,
                                        QMessageBox::StandardButtons buttons);

    MessageBoxSeam m_messageBox;
    std::function<void(const AppError&)> m_reportError;
    QString m_accountsPath;
    AccountsChanged m_accountsChanged;
    /** Whether the rows came from the file; if not, only a change by the user rewrites it. */
    bool m_listLoaded = false;
    bool m_changed = false;
    TAccountLogins* m_logins;
    /** How the account in the fields logs in: the clicked row's entry, or the default. */
    AccountAccess m_access;
    /** The clicked row's access as stored: what "Modificar" changes. */
    AccountAccess m_storedAccess;
    /** Storing in the keyring asks the user nothing: new accounts keep their password there. */
    bool m_keyringReady = false;
    /** The password of the clicked row is being read from the secret store. */
    bool m_passwordPending = false;
    /** Counts the clicks, so that a password read for an earlier one is dropped. */
    int m_clicks = 0;
};
