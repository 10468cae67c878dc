#include "LoginFields.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

namespace {

bool isEnter(const QKeyEvent* key) {
    return key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
}

} // namespace

QString LoginFields::defaultPort() {
    return u"110"_qs;
}

LoginFields::LoginFields(QWidget* parent, const Names& names, const Placement& placement) : QObject(parent) {
    auto field = [parent](const QString& name, const QString& caption, QLabel*& label, int top, int width) {
        auto* edit = new QLineEdit(parent);
        edit->setObjectName(name);
        edit->setGeometry(84, top, width, 21);
        label = new QLabel(caption, parent);
        label->setObjectName(u"lbl"_qs + name.mid(3));
        label->setGeometry(8, top, 70, 21);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        label->setBuddy(edit);
        return edit;
    };
    const int top = placement.top;
    user = field(names.user, u"User Name:"_qs, userLabel, top, placement.fieldWidth);
    password = field(names.password, u"Password:"_qs, passwordLabel, top + 28, placement.fieldWidth);
    password->setEchoMode(QLineEdit::Password);
    password->setStyleSheet(u"lineedit-password-character: 42"_qs); // '*'
    server = field(names.server, u"Servidor:"_qs, serverLabel, top + 56, placement.fieldWidth);
    port = field(names.port, u"Puerto:"_qs, portLabel, top + 84, 50);
    port->setText(defaultPort());
    port->installEventFilter(this);
    acceso = new QPushButton(u"&Acceso..."_qs, parent);
    acceso->setObjectName(u"btnAcceso"_qs);
    acceso->setGeometry(140, top + 83, placement.accesoWidth, 23);
    acceso->setAutoDefault(false);
    QWidget::setTabOrder(user, password);
    QWidget::setTabOrder(password, server);
    QWidget::setTabOrder(server, port);
    QWidget::setTabOrder(port, acceso);
}

void LoginFields::setPortEnter(std::function<void()> enter) {
    m_portEnter = std::move(enter);
}

void LoginFields::reset() {
    user->clear();
    password->clear();
    server->clear();
    port->setText(defaultPort());
}

int LoginFields::fitAccesoCaption() {
    const int growth = std::max(0, acceso->fontMetrics().horizontalAdvance(u"Acceso..."_qs) + 16 - acceso->width());
    acceso->resize(acceso->width() + growth, acceso->height());
    return growth;
}

bool LoginFields::eventFilter(QObject* watched, QEvent* event) {
    if (watched == port && event->type() == QEvent::KeyPress) return portKeyPress(static_cast<QKeyEvent*>(event));
    return QObject::eventFilter(watched, event);
}

bool LoginFields::portKeyPress(const QKeyEvent* key) {
    if (m_portEnter && isEnter(key)) {
        m_portEnter();
        return true;
    }
    if (key->text().isEmpty() || (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)))
        return false;
    const QChar c = key->text().front();
    if (c.unicode() < 32 && c != u'\b') return false; // Enter, Esc, Tab: not typed into the field
    return !((c >= u'0' && c <= u'9') || c == u'\b');
}
