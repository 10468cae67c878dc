#include "AccountsDialog.h"

#include "AccountLogins.h"
#include "AccountWidgets.h"
#include "DialogFit.h"
#include "Errors.h"
#include "LoginDialog.h"
#include "LoginFields.h"
#include "PasswordScrambling.h"
#include "SecretStore.h"
#include "TextAndTime.h"

#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QHideEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTreeWidget>

namespace {

// Where a row keeps its values; the caption (column 0) is the scrambled password, never shown.
enum Column { ColPass = 0, ColPort = 1, ColServer = 2, ColUser = 3 };

/** A whole number that no TCP port can be: the socket takes 1 to 65535 only. */
bool isNumberOutsidePortRange(const QString& text) {
    static const QRegularExpression number(u"^ *[+-]?[0-9]+$"_qs);
    if (!number.match(text).hasMatch()) return false;
    try {
        return !IsTcpPort(ParseInt32(text));
    } catch (const EConvertError&) {
        return true; // beyond 32 bits
    }
}

} // namespace

TfrmCuentas::TfrmCuentas(const DialogContext& context, const QString& accountsPath, AccountsChanged accountsChanged)
    : QDialog(context.owner), m_messageBox(context.messageBox), m_reportError(context.reportError),
      m_accountsPath(accountsPath), m_accountsChanged(std::move(accountsChanged)), m_logins(context.logins) {
    setObjectName(u"frmCuentas"_qs);
    setWindowTitle(u"Cuentas de correo"_qs);
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setModal(true);
    setFixedSize(380, 322);

    GroupBox1 = new QGroupBox(u" Datos de la cuenta: "_qs, this);
    GroupBox1->setObjectName(u"GroupBox1"_qs);
    GroupBox1->setGeometry(8, 8, 241, 136);
    auto* login = new LoginFields(GroupBox1, {u"edtUserName"_qs, u"edtPassword"_qs, u"edtServidor"_qs, u"edtPuerto"_qs},
                                  {24, 145, 93});
    edtUserName = login->user;
    edtPassword = login->password;
    edtServidor = login->server;
    edtPuerto = login->port;
    lblUserName = login->userLabel;
    lblPassword = login->passwordLabel;
    lblServidor = login->serverLabel;
    lblPuerto = login->portLabel;
    // How the account logs in, beside the port; without the window's login data it cannot be kept.
    btnAcceso = login->acceso;
    btnAcceso->setEnabled(m_logins != nullptr);
    connect(btnAcceso, &QPushButton::clicked, this, &TfrmCuentas::btnAccesoClick);
    frmAcceso = new TfrmAcceso(context, this, m_logins != nullptr);

    PanelBotones = new QFrame(this);
    PanelBotones->setObjectName(u"PanelBotones"_qs);
    PanelBotones->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    PanelBotones->setGeometry(256, 14, 116, 130);
    auto button = [this](const QString& name, const QString& caption, int top, void (TfrmCuentas::*handler)()) {
        auto* b = new QPushButton(caption, PanelBotones);
        b->setObjectName(name);
        b->setGeometry(6, top, 104, 25);
        b->setAutoDefault(false); // Enter in a field presses nothing
        connect(b, &QPushButton::clicked, this, handler);
        return b;
    };
    btnAdd = button(u"btnAdd"_qs, u"&Añadir cuenta"_qs, 6, &TfrmCuentas::btnAddClick);
    btnModificar = button(u"btnModificar"_qs, u"&Modificar cuenta"_qs, 34, &TfrmCuentas::btnModificarClick);
    btnEliminar = button(u"btnEliminar"_qs, u"&Eliminar cuenta"_qs, 62, &TfrmCuentas::btnEliminarClick);
    btnCiao = button(u"btnCiao"_qs, u"&Salir"_qs, 99, &TfrmCuentas::btnCiaoClick);
    btnAdd->setEnabled(false);
    btnModificar->setEnabled(false);
    btnEliminar->setEnabled(false);
    for (QLineEdit* edit : {edtUserName, edtPassword, edtServidor, edtPuerto})
        connect(edit, &QLineEdit::textChanged, this, &TfrmCuentas::edtUserNameChange);

    ListView = new QTreeWidget(this);
    ListView->setObjectName(u"ListView"_qs);
    ListView->setGeometry(8, 151, 363, 162);
    ListView->setHeaderLabels({u"PASS"_qs, u"Port"_qs, u"Servidor"_qs, u"User Name"_qs});
    ListView->setColumnHidden(ColPass, true);
    // Wide enough for any port number.
    ListView->setColumnWidth(ColPort, std::max(40, ListView->fontMetrics().horizontalAdvance(u"65535"_qs) + 14));
    ListView->setColumnWidth(ColServer, 150);
    SetUpReportList(ListView);
    ListView->viewport()->installEventFilter(this);

    // "Acceso..." is as wide as its caption needs (a larger font): the group, and all right of it, widen with it.
    const int growth = login->fitAccesoCaption();
    GroupBox1->resize(GroupBox1->width() + growth, GroupBox1->height());
    PanelBotones->move(PanelBotones->x() + growth, PanelBotones->y());
    ListView->resize(ListView->width() + growth, ListView->height());
    setFixedSize(width() + growth, height());
    FitToFont(this);
    FitToScreen(this);

    // FormCreate.
    try {
        LoadAccountList();
        m_listLoaded = true;
    } catch (const AppError& e) {
        m_reportError(e);
    }
}

void TfrmCuentas::showModal() {
    // A new account keeps its password in the keyring where storing there asks the user nothing
    // (a Secret Service with its default collection unlocked); elsewhere in Cuentas.dat, as before.
    if (m_logins) {
        m_logins->secrets()->askKeyringReady(this, [this](bool ready) {
            m_keyringReady = ready;
            if (!firstSelectedRow() && m_access == AccountAccess{}) m_access.passwordInKeyring = ready;
        });
    }
    exec();
}

QMessageBox::StandardButton TfrmCuentas::message(QMessageBox::Icon icon, const QString& caption, const QString& text,
                                                 QMessageBox::StandardButtons buttons) {
    return m_messageBox(this, icon, caption, text, buttons, QMessageBox::NoButton);
}

bool TfrmCuentas::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ListView->viewport()) {
        bool released = false;
        if (FilterReportListClick(ListView, event, released)) return true;
        if (released) ListViewClick();
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmCuentas::edtUserNameChange() {
    btnAdd->setEnabled(!edtUserName->text().isEmpty() && !edtServidor->text().isEmpty() &&
                       !edtPuerto->text().isEmpty());
}

QTreeWidgetItem* TfrmCuentas::firstSelectedRow() const {
    for (int i = 0; i < ListView->topLevelItemCount(); ++i)
        if (ListView->topLevelItem(i)->isSelected()) return ListView->topLevelItem(i);
    return nullptr;
}

void TfrmCuentas::ListViewClick() {
    QTreeWidgetItem* row = firstSelectedRow();
    CurrentIndex = row ? ListView->indexOfTopLevelItem(row) : ListView->topLevelItemCount();
    const bool found = row != nullptr;
    const int click = ++m_clicks;
    m_access = {};
    m_access.passwordInKeyring = !found && m_keyringReady; // a new account: see showModal
    m_passwordPending = false;
    if (found && m_logins) {
        try {
            m_access = LoadAccountAccessFile(m_logins->accessFilePath()).find(keyOfRow(row));
        } catch (const AppError& e) {
            m_reportError(e);
        }
    }
    m_storedAccess = m_access;
    // A password kept in the secret store comes when the store answers, unless something was typed by then.
    const bool passwordInStore = found && m_access.passwordInKeyring && row->text(ColPass).isEmpty();
    edtUserName->setText(found ? row->text(ColUser) : QString());
    edtPassword->setText(found && !passwordInStore ? DecodeStoredPassword(row->text(ColPass)).value_or(QString())
                                                   : QString());
    if (passwordInStore) {
        m_passwordPending = true;
        m_logins->secrets()->read(PasswordKey(keyOfRow(row)), this, [this, click](const SecretResult& result) {
            if (click != m_clicks || !m_passwordPending) return;
            m_passwordPending = false;
            if (result.status == SecretResult::Done && edtPassword->text().isEmpty())
                edtPassword->setText(result.secret);
            if (result.status == SecretResult::Failed) secretStored(result);
        });
    }
    edtServidor->setText(found ? row->text(ColServer) : QString());
    edtPuerto->setText(found ? row->text(ColPort) : QString());
    btnModificar->setEnabled(found);
    btnEliminar->setEnabled(found);
}

bool TfrmCuentas::portAcceptable() {
    // "Añadir cuenta" is enabled only with a port typed; "Modificar cuenta" is not, so it is asked here.
    const QString text = edtPuerto->text();
    if (!text.isEmpty() && !isNumberOutsidePortRange(text)) return true;
    message(QMessageBox::Critical, u"Error"_qs,
            text.isEmpty() ? u"Debe introducir un Puerto"_qs : u"El Puerto debe ser un número entre 1 y 65535"_qs,
            QMessageBox::Ok);
    edtPuerto->setFocus();
    return false;
}

bool TfrmCuentas::fieldsAcceptable() {
    for (QLineEdit* field : {edtUserName, edtPassword, edtServidor, edtPuerto}) {
        if (RefuseUnwritableText(m_messageBox, this, field->text())) {
            field->setFocus(); // the text stays as typed
            return false;
        }
    }
    return portAcceptable();
}

void TfrmCuentas::fillRow(QTreeWidgetItem* row) {
    row->setText(ColPass, EncodePassword(edtPassword->text()));
    row->setText(ColPort, edtPuerto->text());
    row->setText(ColServer, edtServidor->text());
    row->setText(ColUser, edtUserName->text());
}

void TfrmCuentas::btnAddClick() {
    if (!fieldsAcceptable()) return;
    // Nothing stops the same account from being added twice.
    auto* row = new QTreeWidgetItem;
    fillRow(row);
    ListView->addTopLevelItem(row);
    storeAccess(row, keyOfRow(row), false);
    btnModificar->setEnabled(false);
    m_changed = true;
    SaveAccountList();
}

void TfrmCuentas::btnModificarClick() {
    QTreeWidgetItem* row = ListView->topLevelItem(CurrentIndex);
    if (!row || !fieldsAcceptable()) return;
    const QString oldKey = keyOfRow(row);
    fillRow(row); // empty fields too: modify insists on nothing but a possible port
    storeAccess(row, oldKey, otherRowHasKey(row, oldKey));
    m_storedAccess = m_access;
    ListView->scrollToItem(row);
    ListView->setCurrentItem(row);
    ListView->setFocus();
    m_changed = true;
    SaveAccountList();
}

void TfrmCuentas::btnEliminarClick() {
    QTreeWidgetItem* row = firstSelectedRow();
    if (!row) return;
    const QString text = u"¿Está seguro de que desea eliminar la cuenta: \r\r\""_qs + row->text(ColUser) +
                         u"\" en \""_qs + row->text(ColServer) + u"\"?"_qs;
    if (message(QMessageBox::Question, u"Confirmación de eliminación"_qs, text,
                QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
        return;
    const QString key = keyOfRow(row);
    delete row;
    if (!otherRowHasKey(nullptr, key)) forgetAccess(key); // duplicates share one entry
    ListView->clearSelection();
    btnModificar->setEnabled(false);
    btnEliminar->setEnabled(false);
    m_changed = true;
    SaveAccountList();
}

void TfrmCuentas::btnCiaoClick() {
    close();
}

bool TfrmCuentas::selectAccount(const QString& key) {
    for (int i = 0; i < ListView->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = ListView->topLevelItem(i);
        if (keyOfRow(row) != key) continue;
        ListView->clearSelection();
        ListView->setCurrentItem(row);
        row->setSelected(true);
        ListViewClick();
        return true;
    }
    return false;
}

void TfrmCuentas::btnAccesoClick() {
    frmAcceso->Edit(m_access);
}

QString TfrmCuentas::keyOfRow(const QTreeWidgetItem* row) {
    return AccountKey(AccountRecord{row->text(ColServer), row->text(ColPort), row->text(ColUser), row->text(ColPass)});
}

bool TfrmCuentas::otherRowHasKey(const QTreeWidgetItem* row, const QString& key) const {
    for (int i = 0; i < ListView->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* other = ListView->topLevelItem(i);
        if (other != row && keyOfRow(other) == key) return true;
    }
    return false;
}

void TfrmCuentas::storeAccess(QTreeWidgetItem* row, const QString& oldKey, bool sharedOldKey) {
    if (!m_logins) return;
    const QString key = keyOfRow(row);
    const bool follow = oldKey != key && !sharedOldKey; // the entry and the secrets go with the account
    SecretStore* secrets = m_logins->secrets();
    auto reported = [this](const SecretResult& result) { secretStored(result); };
    const AccountAccess access = m_access;
    changeAccessFile([&](AccountAccessList& list) {
        bool changed = follow && list.rename(oldKey, key);
        // The default needs no entry: a file is not created for it.
        if (access == AccountAccess{})
            changed = list.remove(key) || changed;
        else if (list.find(key) != access) {
            list.set(key, access);
            changed = true;
        }
        return changed;
    });
    std::function<void()> storePassword;
    if (access.passwordInKeyring) {
        row->setText(ColPass, QString()); // Cuentas.dat keeps an empty password
        // Still being read and nothing typed: the stored one stays.
        const QString password = edtPassword->text();
        if (!(m_passwordPending && password.isEmpty()))
            storePassword = [this, secrets, key, password, reported] {
                secrets->write(PasswordKey(key), password, this, reported);
            };
    } else if (m_storedAccess.passwordInKeyring) {
        // It is in Cuentas.dat now.
        storePassword = [this, secrets, key, reported] { secrets->remove(PasswordKey(key), this, reported); };
    }
    if (!follow) {
        if (storePassword) storePassword();
        return;
    }
    // A move is a read, a write and a removal, each asked for when the one before has answered: the
    // password's own call waits for the end of its move, or the old secret would come over it.
    secrets->move(RefreshTokenKey(oldKey), RefreshTokenKey(key), this, reported);
    secrets->move(PasswordKey(oldKey), PasswordKey(key), this, [reported, storePassword](const SecretResult& result) {
        reported(result);
        if (storePassword) storePassword();
    });
}

void TfrmCuentas::forgetAccess(const QString& key) {
    if (!m_logins) return;
    auto reported = [this](const SecretResult& result) { secretStored(result); };
    m_logins->secrets()->remove(RefreshTokenKey(key), this, reported);
    m_logins->secrets()->remove(PasswordKey(key), this, reported);
    changeAccessFile([&](AccountAccessList& list) { return list.remove(key); });
}

void TfrmCuentas::changeAccessFile(const std::function<bool(AccountAccessList& list)>& change) {
    const QString path = m_logins->accessFilePath();
    try {
        AccountAccessList list = LoadAccountAccessFile(path);
        if (!change(list)) return;
        SaveAccountAccessFile(path, list);
    } catch (const AppError& e) {
        m_reportError(e);
    }
    m_logins->reload();
}

void TfrmCuentas::secretStored(const SecretResult& result) {
    if (result.status == SecretResult::Failed) m_reportError(EInOutError(u"Secreto de la cuenta: "_qs + result.error));
    if (!result.note.isEmpty()) message(QMessageBox::Information, u"Llavero"_qs, result.note, QMessageBox::Ok);
}

void TfrmCuentas::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (!event->spontaneous()) FormHide();
}

void TfrmCuentas::FormHide() {
    // A file that could not be read is not overwritten with an empty list, unless the user changed it.
    if (m_listLoaded || m_changed) SaveAccountList();
}

void TfrmCuentas::LoadAccountList() {
    ListView->clear();
    for (const AccountRecord& r : LoadAccountsFile(m_accountsPath)) {
        auto* row = new QTreeWidgetItem;
        row->setText(ColPass, r.password);
        row->setText(ColPort, r.puerto); // kept as text, unchecked
        row->setText(ColServer, r.servidor);
        row->setText(ColUser, r.usuario);
        ListView->addTopLevelItem(row);
    }
}

void TfrmCuentas::SaveAccountList() {
    QList<AccountRecord> records;
    for (int i = 0; i < ListView->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = ListView->topLevelItem(i);
        records.append({row->text(ColServer), row->text(ColPort), row->text(ColUser), row->text(ColPass)});
    }
    // A port that is not a number is written as it is; the window's account then connects on 110.
    m_accountsChanged(records);
    try {
        SaveAccountsFile(m_accountsPath, records);
    } catch (const AppError& e) {
        m_reportError(e);
    }
}
