#include "QuickConnectDialog.h"

#include "DialogFit.h"
#include "Errors.h"
#include "LoginDialog.h"
#include "LoginFields.h"
#include "PasswordScrambling.h"
#include "TextAndTime.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>

namespace {

bool isEnter(const QKeyEvent* key) {
    return key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
}

} // namespace

TfrmConexionRapida::TfrmConexionRapida(const DialogContext& context, Connect connectToServer)
    : QDialog(context.owner), m_messageBox(context.messageBox), m_reportError(context.reportError),
      m_connectToServer(std::move(connectToServer)) {
    setObjectName(u"frmConexionRapida"_qs);
    setWindowTitle(u"Conexión Rápida"_qs);
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setModal(true);
    setFixedSize(242, 170);

    m_login = new LoginFields(this, {u"edtUser"_qs, u"edtPass"_qs, u"edtHost"_qs, u"edtPuerto"_qs}, {12, 150, 94});
    edtUser = m_login->user;
    edtPass = m_login->password;
    edtHost = m_login->server;
    edtPuerto = m_login->port;
    lblUser = m_login->userLabel;
    lblPass = m_login->passwordLabel;
    lblHost = m_login->serverLabel;
    lblPuerto = m_login->portLabel;
    btnAcceso = m_login->acceso;
    // Enter walks the other fields; in the port it connects.
    for (QLineEdit* edit : {edtUser, edtPass, edtHost})
        edit->installEventFilter(this);
    m_login->setPortEnter([this] { btnConectarClick(); });
    connect(btnAcceso, &QPushButton::clicked, this, &TfrmConexionRapida::btnAccesoClick);
    frmAcceso = new TfrmAcceso(context, this, false);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(u"Bevel1"_qs);
    Bevel1->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    Bevel1->setGeometry(8, 126, 226, 2);

    auto button = [this](const QString& name, const QString& caption, QStyle::StandardPixmap image, int left,
                         void (TfrmConexionRapida::*handler)()) {
        auto* b = new QPushButton(style()->standardIcon(image), caption, this);
        b->setObjectName(name);
        b->setGeometry(left, 136, 97, 26);
        b->setAutoDefault(false); // Enter is handled by the fields themselves
        connect(b, &QPushButton::clicked, this, handler);
        return b;
    };
    btnConectar = button(u"btnConectar"_qs, u" &Conectar"_qs, QStyle::SP_DialogOkButton, 20,
                         &TfrmConexionRapida::btnConectarClick);
    btnCancelar = button(u"btnCancelar"_qs, u"C&ancelar"_qs, QStyle::SP_DialogCancelButton, 125,
                         &TfrmConexionRapida::btnCancelarClick);
    // "Acceso..." is as wide as its caption needs (a larger font): the dialog widens with it.
    const int growth = m_login->fitAccesoCaption();
    Bevel1->resize(Bevel1->width() + growth, Bevel1->height());
    setFixedSize(width() + growth, height());
    setTabOrder(btnAcceso, btnConectar);
    setTabOrder(btnConectar, btnCancelar);
    FitToFont(this);
    FitToScreen(this);
}

void TfrmConexionRapida::ClearFields() {
    m_login->reset();
    m_access = {};
}

void TfrmConexionRapida::showModal() {
    exec();
}

void TfrmConexionRapida::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TfrmConexionRapida::FormShow() {
    edtUser->setFocus();
}

bool TfrmConexionRapida::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return QDialog::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    // Enter walks the fields: user name, password, server, port.
    QLineEdit* next = watched == edtUser   ? edtPass
                      : watched == edtPass ? edtHost
                      : watched == edtHost ? edtPuerto
                                           : nullptr;
    if (next && isEnter(key)) {
        next->setFocus();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmConexionRapida::refuse(QLineEdit* field, const QString& caption, const QString& text) {
    m_messageBox(this, QMessageBox::Critical, caption, text, QMessageBox::Ok, QMessageBox::NoButton);
    field->setFocus();
}

void TfrmConexionRapida::btnConectarClick() {
    if (edtUser->text().isEmpty()) return refuse(edtUser, u"Error"_qs, u"Debe introducir un Nombre de Usuario"_qs);
    if (edtHost->text().isEmpty()) return refuse(edtHost, u"Error"_qs, u"Debe introducir un Servidor"_qs);
    if (edtPuerto->text().isEmpty()) return refuse(edtPuerto, u"Error"_qs, u"Debe introducir un Puerto"_qs);
    int port = 0;
    try {
        port = ParseInt32(edtPuerto->text());
    } catch (const EConvertError&) {
        return refuse(edtPuerto, u"Error de conversión"_qs, u"Error al convertir el valor de Puerto a número"_qs);
    }
    // The socket takes 16-bit ports; a number beyond them never reaches it.
    if (!IsTcpPort(port)) return refuse(edtPuerto, u"Error"_qs, u"El Puerto debe ser un número entre 1 y 65535"_qs);
    // User name and password go to the server in Windows-1252; the server name is looked up as
    // typed (international names included).
    for (QLineEdit* field : {edtUser, edtPass}) {
        if (RefuseUnwritableText(m_messageBox, this, field->text(), true)) {
            field->setFocus(); // the text stays as typed
            return;
        }
    }
    // The password may be empty (OAuth2 needs none): its scrambled form is then empty too.
    try {
        m_connectToServer(edtHost->text(), edtUser->text(), EncodePassword(edtPass->text()), port, m_access);
    } catch (const AppError& e) {
        m_reportError(e); // the tab is open by now and shows how its session fares
    }
    accept();
}

void TfrmConexionRapida::btnCancelarClick() {
    reject();
}

void TfrmConexionRapida::btnAccesoClick() {
    frmAcceso->Edit(m_access);
}
