// The accounts dialog: the user's list of POP3 accounts (add, change, remove). Its rows are the
// working copy of Cuentas.dat: loaded once when the dialog is made, and after every change and on
// every way out written back whole and announced to the main window.
#pragma once

#include <QDialog>
#include <QMessageBox>

class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class TfrmPrincipal;

class TfrmCuentas final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TfrmCuentas)
public:
    /** @short Builds the dialog (hidden, modal, owned by the main window) and loads Cuentas.dat. */
    explicit TfrmCuentas(TfrmPrincipal* main);

    /** @short Shows the dialog modally and returns when the user has left it. The main window
     *  centres it first (CenterOverMain). */
    void showModal();

    // Handlers.
    void edtUserNameChange();
    void ListViewClick();
    void btnAddClick();
    void btnModificarClick();
    void btnEliminarClick();
    void btnCiaoClick();

    /** @short Fills the rows from Cuentas.dat (a missing file is created empty). Throws EInOutError. */
    void LoadAccountList();
    /** @short Rebuilds the main window's accounts from the rows, then rewrites Cuentas.dat from
     *  them in one step; a failed write leaves the old file and goes to AppException. */
    void SaveAccountList();

    /** The row found by the last click on the list; the row count when it found none. */
    int CurrentIndex = 0;

    // Controls.
    QGroupBox* GroupBox1 = nullptr;
    QLineEdit* edtUserName = nullptr;
    QLineEdit* edtPassword = nullptr;
    QLineEdit* edtServidor = nullptr;
    QLineEdit* edtPuerto = nullptr;
    QLabel* lblUserName = nullptr;
    QLabel* lblPassword = nullptr;
    QLabel* lblServidor = nullptr;
    QLabel* lblPuerto = nullptr;
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
    /** @short True when the key is dropped: every typed character but digits and Backspace (shortcuts,
     *  and so pasting, pass). */
    bool edtPuertoKeyPress(const QKeyEvent* key);
    /** @short Saving on the way out: Salir, Esc and closing all end in hiding the dialog. */
    void FormHide();
    /** @short False (after saying so) when the port is a number that no port can be. */
    bool portAcceptable();
    /** @short The fields into the row: scrambled password as caption, then port, server, user name. */
    void fillRow(QTreeWidgetItem* row);
    QTreeWidgetItem* firstSelectedRow() const;
    QMessageBox::StandardButton message(QMessageBox::Icon icon, const QString& caption, const QString& text,
                                        QMessageBox::StandardButtons buttons);

    TfrmPrincipal* m_main;
    /** Whether the rows came from the file; if not, only a change by the user rewrites it. */
    bool m_listLoaded = false;
    bool m_changed = false;
};
