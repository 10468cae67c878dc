#include "QuickConnectDialog.h"

#include "Errors.h"
#include "LoginDialog.h"
#include "PasswordScrambling.h"
#include "TextAndTime.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
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

    auto field = [this](const QString& name, const QString& caption, QLabel*& label, int top, int width) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(name);
        edit->setGeometry(84, top, width, 21);
        edit->installEventFilter(this);
        label = new QLabel(caption, this);
        label->setObjectName(u"lbl"_qs + name.mid(3));
        label->setGeometry(8, top, 70, 21);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        label->setBuddy(edit);
        return edit;
    };
    edtUser = field(u"edtUser"_qs, u"User Name:"_qs, lblUser, 12, 150);
    edtPass = field(u"edtPass"_qs, u"Password:"_qs, lblPass, 40, 150);
    edtPass->setEchoMode(QLineEdit::Password);
    edtPass->setStyleSheet(u"lineedit-password-character: 42"_qs); // '*'
    edtHost = field(u"edtHost"_qs, u"Servidor:"_qs, lblHost, 68, 150);
    edtPuerto = field(u"edtPuerto"_qs, u"Puerto:"_qs, lblPuerto, 96, 50);
    edtPuerto->setText(u"110"_qs);
    btnAcceso = new QPushButton(u"&Acceso..."_qs, this);
    btnAcceso->setObjectName(u"btnAcceso"_qs);
    btnAcceso->setGeometry(140, 95, 94, 23);
    btnAcceso->setAutoDefault(false);
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
    const int growth =
        std::max(0, btnAcceso->fontMetrics().horizontalAdvance(u"Acceso..."_qs) + 16 - btnAcceso->width());
    btnAcceso->resize(btnAcceso->width() + growth, btnAcceso->height());
    Bevel1->resize(Bevel1->width() + growth, Bevel1->height());
    setFixedSize(width() + growth, height());
    setTabOrder(edtUser, edtPass);
    setTabOrder(edtPass, edtHost);
    setTabOrder(edtHost, edtPuerto);
    setTabOrder(edtPuerto, btnAcceso);
    setTabOrder(btnAcceso, btnConectar);
    setTabOrder(btnConectar, btnCancelar);
}

void TfrmConexionRapida::ClearFields() {
    edtUser->clear();
    edtPass->clear();
    edtHost->clear();
    edtPuerto->setText(u"110"_qs);
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
    if (watched == edtPuerto) return edtPuertoKeyPress(key);
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

bool TfrmConexionRapida::edtPuertoKeyPress(const QKeyEvent* key) {
    if (isEnter(key)) {
        btnConectarClick();
        return true;
    }
    if (key->text().isEmpty() || (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)))
        return false;
    const QChar c = key->text().front();
    if (c.unicode() < 32 && c != u'\b') return false; // Esc, Tab: not typed into the field
    return !((c >= u'0' && c <= u'9') || c == u'\b');
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
