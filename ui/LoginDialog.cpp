#include "LoginDialog.h"

#include "AccountLogins.h"
#include "DialogFit.h"
#include "OAuthEndpoints.h"
#include "SecretStore.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

// The combos' entries, in the order of the enums.
const QList<LoginMethod> kMethods = {LoginMethod::Password, LoginMethod::OAuth2};
const QList<OAuthProvider> kProviders = {OAuthProvider::Microsoft, OAuthProvider::Google, OAuthProvider::Custom};

/** Where the provider's pages may be (the token travels on that connection). */
bool acceptableEndpoint(const QString& text) {
    return OAuthEndpoints::isSafe(QUrl(text.trimmed(), QUrl::StrictMode));
}

} // namespace

TfrmAcceso::TfrmAcceso(const DialogContext& context, QWidget* parent, bool keyringChoice)
    : QDialog(parent), m_messageBox(context.messageBox), m_logins(context.logins), m_keyringChoice(keyringChoice) {
    setObjectName(u"frmAcceso"_qs);
    setWindowTitle(u"Acceso a la cuenta"_qs);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setModal(true);

    auto* layout = new QVBoxLayout(this);
    m_form = new QFormLayout;
    layout->addLayout(m_form);
    auto row = [this](const QString& caption, QWidget* field) {
        auto* label = new QLabel(caption, this);
        label->setObjectName(u"lbl"_qs + field->objectName().mid(3));
        label->setBuddy(field);
        m_form->addRow(label, field);
        labels.append(label);
    };
    auto edit = [this](const QString& name) {
        auto* e = new QLineEdit(this);
        e->setObjectName(name);
        e->setMinimumWidth(300);
        return e;
    };
    cbMetodo = new QComboBox(this);
    cbMetodo->setObjectName(u"cbMetodo"_qs);
    cbMetodo->addItems({u"Contraseña (USER y PASS)"_qs, u"OAuth2 (XOAUTH2)"_qs});
    row(u"Iniciar &sesión con:"_qs, cbMetodo);
    cbProveedor = new QComboBox(this);
    cbProveedor->setObjectName(u"cbProveedor"_qs);
    cbProveedor->addItems(
        {u"Microsoft (Outlook.com, Hotmail, Microsoft 365)"_qs, u"Google (Gmail, Google Workspace)"_qs, u"Otro"_qs});
    row(u"&Proveedor:"_qs, cbProveedor);
    edtClienteId = edit(u"edtClienteId"_qs);
    row(u"Id. de &cliente:"_qs, edtClienteId);
    edtClienteSecreto = edit(u"edtClienteSecreto"_qs);
    edtClienteSecreto->setEchoMode(QLineEdit::Password);
    edtClienteSecreto->setPlaceholderText(u"(opcional)"_qs);
    row(u"Secreto de c&liente:"_qs, edtClienteSecreto);
    edtUrlAutorizacion = edit(u"edtUrlAutorizacion"_qs);
    row(u"URL de &autorización:"_qs, edtUrlAutorizacion);
    edtUrlToken = edit(u"edtUrlToken"_qs);
    row(u"URL de &token:"_qs, edtUrlToken);
    edtAlcance = edit(u"edtAlcance"_qs);
    row(u"Alca&nce:"_qs, edtAlcance);

    lblNota =
        new QLabel(u"OAuth2 sólo inicia sesión sobre una conexión segura (TLS: puerto 995, o STLS). El Id. de "
                   u"cliente se obtiene registrando el programa en el proveedor; el archivo README explica cómo."_qs,
                   this);
    lblNota->setObjectName(u"lblNota"_qs);
    lblNota->setWordWrap(true);
    m_form->addRow(lblNota);
    chkLlavero = new QCheckBox(u"&Guardar la contraseña en el llavero"_qs, this);
    chkLlavero->setObjectName(u"chkLlavero"_qs);
    m_form->addRow(chkLlavero);
    chkSinCifrar = new QCheckBox(u"&Permitir contraseña sin cifrar"_qs, this);
    chkSinCifrar->setObjectName(u"chkSinCifrar"_qs);
    chkSinCifrar->setToolTip(u"Sólo para un Servidor que no ofrece conexión segura: quien esté en el camino "
                             "podrá leer la contraseña."_qs);
    m_form->addRow(chkSinCifrar);
    lblSecretos = new QLabel(this);
    lblSecretos->setObjectName(u"lblSecretos"_qs);
    lblSecretos->setWordWrap(true);
    m_form->addRow(lblSecretos);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    btnAceptar = new QPushButton(u"Aceptar"_qs, this);
    btnAceptar->setObjectName(u"btnAceptar"_qs);
    btnAceptar->setDefault(true);
    btnCancelar = new QPushButton(u"Cancelar"_qs, this);
    btnCancelar->setObjectName(u"btnCancelar"_qs);
    buttons->addWidget(btnAceptar);
    buttons->addWidget(btnCancelar);
    layout->addLayout(buttons);
    connect(btnAceptar, &QPushButton::clicked, this, &TfrmAcceso::btnAceptarClick);
    connect(btnCancelar, &QPushButton::clicked, this, &QDialog::reject);

    connect(cbMetodo, &QComboBox::currentIndexChanged, this, &TfrmAcceso::cbMetodoChange);
    connect(cbProveedor, &QComboBox::currentIndexChanged, this, &TfrmAcceso::cbMetodoChange);
    if (m_logins) {
        connect(m_logins->secrets(), &SecretStore::backendChanged, this, &TfrmAcceso::showBackend);
        showBackend();
    }
    Load({});
    FitToScreen(this);
}

void TfrmAcceso::showBackend() {
    lblSecretos->setText(u"Los secretos se guardan en: "_qs + m_logins->secrets()->backendText());
}

bool TfrmAcceso::Edit(AccountAccess& access) {
    Load(access);
    cbMetodo->setFocus();
    if (exec() != QDialog::Accepted) return false;
    access = Chosen();
    return true;
}

void TfrmAcceso::Load(const AccountAccess& access) {
    m_otherLines = access.otherLines;
    m_customAuthorize = access.authorizeUrl;
    m_customToken = access.tokenUrl;
    m_customScope = access.scope;
    m_shown = OAuthProvider::Custom;
    edtUrlAutorizacion->setText(m_customAuthorize);
    edtUrlToken->setText(m_customToken);
    edtAlcance->setText(m_customScope);
    edtClienteId->setText(access.clientId);
    edtClienteSecreto->setText(access.clientSecret);
    chkLlavero->setChecked(access.passwordInKeyring);
    chkSinCifrar->setChecked(access.allowPlaintext);
    const QSignalBlocker blockMethod(cbMetodo), blockProvider(cbProveedor);
    cbMetodo->setCurrentIndex(int(kMethods.indexOf(access.method)));
    cbProveedor->setCurrentIndex(int(kProviders.indexOf(access.provider)));
    cbMetodoChange();
}

void TfrmAcceso::cbMetodoChange() {
    const bool oauth = kMethods.value(cbMetodo->currentIndex()) == LoginMethod::OAuth2;
    const OAuthProvider provider = kProviders.value(cbProveedor->currentIndex(), OAuthProvider::Custom);
    // A preset shows its own endpoints, read-only; "Otro" gets back what was typed for it.
    if (provider != m_shown) {
        if (m_shown == OAuthProvider::Custom) {
            m_customAuthorize = edtUrlAutorizacion->text();
            m_customToken = edtUrlToken->text();
            m_customScope = edtAlcance->text();
        }
        const OAuthEndpoints preset = provider == OAuthProvider::Microsoft ? OAuthEndpoints::microsoft()
                                      : provider == OAuthProvider::Google  ? OAuthEndpoints::google()
                                                                           : OAuthEndpoints();
        const bool custom = provider == OAuthProvider::Custom;
        edtUrlAutorizacion->setText(custom ? m_customAuthorize : preset.authorizeUrl.toString());
        edtUrlToken->setText(custom ? m_customToken : preset.tokenUrl.toString());
        edtAlcance->setText(custom ? m_customScope : preset.scope);
        m_shown = provider;
    }
    for (QLineEdit* field : {edtUrlAutorizacion, edtUrlToken, edtAlcance})
        field->setEnabled(provider == OAuthProvider::Custom);
    for (QWidget* field : std::initializer_list<QWidget*>{cbProveedor, edtClienteId, edtClienteSecreto,
                                                          edtUrlAutorizacion, edtUrlToken, edtAlcance, lblNota})
        m_form->setRowVisible(field, oauth);
    m_form->setRowVisible(chkLlavero, !oauth && m_keyringChoice);
    m_form->setRowVisible(chkSinCifrar, !oauth);
    m_form->setRowVisible(lblSecretos, m_logins != nullptr);
    adjustSize();
}

AccountAccess TfrmAcceso::Chosen() const {
    AccountAccess access;
    access.method = kMethods.value(cbMetodo->currentIndex());
    access.otherLines = m_otherLines;
    if (access.method == LoginMethod::Password) {
        access.passwordInKeyring = m_keyringChoice && chkLlavero->isChecked();
        access.allowPlaintext = chkSinCifrar->isChecked();
        return access;
    }
    access.provider = kProviders.value(cbProveedor->currentIndex(), OAuthProvider::Custom);
    access.clientId = edtClienteId->text().trimmed();
    access.clientSecret = edtClienteSecreto->text().trimmed();
    if (access.provider == OAuthProvider::Custom) {
        access.authorizeUrl = edtUrlAutorizacion->text().trimmed();
        access.tokenUrl = edtUrlToken->text().trimmed();
        access.scope = edtAlcance->text().simplified();
    }
    return access;
}

void TfrmAcceso::refuse(QLineEdit* field, const QString& text) {
    m_messageBox(this, QMessageBox::Critical, u"Error"_qs, text, QMessageBox::Ok, QMessageBox::NoButton);
    field->setFocus(); // what was typed stays
}

bool TfrmAcceso::fieldsAcceptable() {
    const AccountAccess access = Chosen();
    if (access.method != LoginMethod::OAuth2) return true;
    if (access.clientId.isEmpty()) {
        refuse(edtClienteId, u"Debe introducir el Id. de cliente que le dio el proveedor"_qs);
        return false;
    }
    if (access.provider != OAuthProvider::Custom) return true;
    const QString https = u" debe empezar por https:// (http:// sólo en 127.0.0.1 o localhost)"_qs;
    for (const auto& [field, name] :
         {std::pair{edtUrlAutorizacion, u"URL de autorización"_qs}, std::pair{edtUrlToken, u"URL de token"_qs}}) {
        if (field->text().trimmed().isEmpty()) {
            refuse(field, u"Debe introducir la "_qs + name);
            return false;
        }
        if (!acceptableEndpoint(field->text())) {
            refuse(field, u"La "_qs + name + https);
            return false;
        }
    }
    if (access.scope.isEmpty()) {
        refuse(edtAlcance, u"Debe introducir el alcance que pide el proveedor para leer el correo"_qs);
        return false;
    }
    return true;
}

void TfrmAcceso::btnAceptarClick() {
    if (fieldsAcceptable()) accept();
}
