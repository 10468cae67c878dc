// How one account logs in: with its password (kept in Cuentas.dat or in the secret store) or with
// OAuth2 (SASL XOAUTH2) through a provider. The accounts dialog and the quick connection open it over
// themselves on the account they hold; it edits a copy and hands it back only on "Aceptar".
#pragma once

#include "AccountAccess.h"
#include "DialogContext.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;

class TfrmAcceso final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TfrmAcceso)
public:
    /** @short Builds the dialog, hidden and modal over `parent`. `keyringChoice`: whether the
     *  password may be kept in the secret store (not for a mailbox that is not kept). */
    TfrmAcceso(const DialogContext& context, QWidget* parent, bool keyringChoice);

    /** @short Shows `access` modally; on "Aceptar" it holds what was chosen and true is returned,
     *  otherwise it is left as it was. */
    bool Edit(AccountAccess& access);

    /** @short The fields show `access`. */
    void Load(const AccountAccess& access);
    /** @short What the fields say, checked or not; only what the chosen way of logging in uses. */
    AccountAccess Chosen() const;

    // Handlers.
    void cbMetodoChange();
    void btnAceptarClick();

    // Controls.
    QComboBox* cbMetodo = nullptr;
    QComboBox* cbProveedor = nullptr;
    QLineEdit* edtClienteId = nullptr;
    QLineEdit* edtClienteSecreto = nullptr;
    QLineEdit* edtUrlAutorizacion = nullptr;
    QLineEdit* edtUrlToken = nullptr;
    QLineEdit* edtAlcance = nullptr;
    QLabel* lblNota = nullptr;
    QCheckBox* chkLlavero = nullptr;
    /** The password may go in clear to this server when it offers no TLS (off). */
    QCheckBox* chkSinCifrar = nullptr;
    QLabel* lblSecretos = nullptr;
    QPushButton* btnAceptar = nullptr;
    QPushButton* btnCancelar = nullptr;
    /** The captions in front of the fields, for checking that they fit. */
    QList<QLabel*> labels;

private:
    /** @short False (after a box, the focus in the field) when what OAuth2 needs is missing or wrong. */
    bool fieldsAcceptable();
    void refuse(QLineEdit* field, const QString& text);
    void showBackend();

    MessageBoxSeam m_messageBox;
    TAccountLogins* m_logins;
    bool m_keyringChoice;
    QFormLayout* m_form = nullptr;
    /** What "Otro" had in its three fields while a preset shows its own. */
    QString m_customAuthorize, m_customToken, m_customScope;
    OAuthProvider m_shown = OAuthProvider::Custom;
    /** Lines of the account's entry this version does not know: kept as they were. */
    QStringList m_otherLines;
};
