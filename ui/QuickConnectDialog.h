// The quick connection dialog: a mailbox opened without keeping it as an account. What is typed is
// checked and handed to the window, which connects; nothing is written to any file.
#pragma once

#include "AccountAccess.h"
#include "DialogContext.h"

#include <QDialog>
#include <QMessageBox>

class LoginFields;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class TfrmAcceso;

class TfrmConexionRapida final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TfrmConexionRapida)
public:
    /** Opens a tab on that mailbox (or brings forward the one open on it), logging in as `access` says. */
    using Connect = std::function<void(const QString& server, const QString& user, const QString& scrambledPassword,
                                       int port, const AccountAccess& access)>;

    /** @short Builds the dialog, hidden and modal, owned by context.owner; "Conectar" hands what
     *  was typed to `connectToServer`. */
    TfrmConexionRapida(const DialogContext& context, Connect connectToServer);

    /** @short Empties user, password and server, sets the port to "110" and the login to the
     *  password: the owner does this (after centring the dialog) before every showing. */
    void ClearFields();
    /** @short Shows the dialog modally; returns once it connected or was cancelled. */
    void showModal();

    // Handlers.
    void FormShow();
    void btnConectarClick();
    void btnCancelarClick();
    void btnAccesoClick();

    // Controls; the login fields and btnAcceso are the LoginFields group's.
    QLabel* lblUser = nullptr;
    QLineEdit* edtUser = nullptr;
    QLabel* lblPass = nullptr;
    QLineEdit* edtPass = nullptr;
    QLabel* lblHost = nullptr;
    QLineEdit* edtHost = nullptr;
    QLabel* lblPuerto = nullptr;
    QLineEdit* edtPuerto = nullptr;
    QFrame* Bevel1 = nullptr;
    QPushButton* btnConectar = nullptr;
    QPushButton* btnCancelar = nullptr;
    QPushButton* btnAcceso = nullptr;
    /** How the mailbox logs in, edited by "Acceso...". */
    TfrmAcceso* frmAcceso = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    /** @short Reports a faulty field: the box, then the focus to the field. */
    void refuse(QLineEdit* field, const QString& caption, const QString& text);

    MessageBoxSeam m_messageBox;
    std::function<void(const AppError&)> m_reportError;
    Connect m_connectToServer;
    /** The login fields and "Acceso...", whose widgets the control pointers name. */
    LoginFields* m_login = nullptr;
    /** The login chosen for this showing. */
    AccountAccess m_access;
};
