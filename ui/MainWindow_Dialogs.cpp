// The dialogs and windows of the program: created once, in order, after the main window, and
// shown modally, centred over it, by their menu entries.
#include "AboutBox.h"
#include "AccountTab.h"
#include "AccountWidgets.h"
#include "AccountsDialog.h"
#include "DialogContext.h"
#include "Errors.h"
#include "FiltersDialog.h"
#include "MainWindow.h"
#include "QuickConnectDialog.h"
#include "RecipientsWindow.h"
#include "RulesDialog.h"
#include "SettingsDialog.h"
#include "ShownText.h"
#include "TrashWindow.h"

#include <QLabel>

void TfrmPrincipal::CreateForms() {
    // Each dialog gets what it edits and a callback for what the window must do about a change.
    const DialogContext context{this,
                                m_seams.messageBox,
                                m_seams.openFileName,
                                m_seams.saveFileName,
                                m_seams.openUrl,
                                [this](const AppError& e) { AppException(e); },
                                m_logins};
    frmCuentas = new TfrmCuentas(context, AccountsPath, [this](const QList<AccountRecord>& r) { ReplaceAccounts(r); });
    frmFiltros = new TfrmFiltros(context, Filtros, [this] { KeepFilters(); });
    frmDestinatarios = new TfrmDestinatarios(context);
    frmConexionRapida = new TfrmConexionRapida(
        context, [this](const QString& server, const QString& user, const QString& scrambledPassword, int port,
                        const AccountAccess& access) { QuickConnect(server, user, scrambledPassword, port, access); });
    frmAbout = new TfrmAbout(context);
    frmConfig = new TfrmConfig(context, Config, Advanced, [this] { KeepSettings(); });
    frmReglas = new TfrmReglas(context, RulesPath, Filtros, [this] { LoadRules(false); });
    frmPapelera = new TfrmPapelera(context, *m_papelera);
}

void TfrmPrincipal::ReplaceAccounts(const QList<AccountRecord>& records) {
    ClearAccounts();
    for (const AccountRecord& r : records) {
        int port = 110;
        try {
            port = ParseInt32(r.puerto);
        } catch (const EConvertError&) {
        }
        AddAccount(r.servidor, r.usuario, r.password, port);
    }
}

void TfrmPrincipal::mnuConfigurarCuentasDeCorreoClick() {
    CenterOverMain(frmCuentas);
    frmCuentas->showModal();
}

void TfrmPrincipal::ReviewAccount(TAccountTab* tab) {
    const QPointer<TAccountTab> shown(tab);
    CenterOverMain(frmCuentas);
    frmCuentas->selectAccount(AccountKey(tab->server(), tab->port(), tab->user()));
    frmCuentas->showModal();
    // The accounts built again from the dialog's rows keep their tabs (AddAccount): the account
    // is tried with what it holds now.
    if (shown && shown->accessDenied() && AccountOfTab(shown)) connectAgain(shown);
}

void TfrmPrincipal::PopupListViewFiltradoConfigurarClick() {
    CenterOverMain(frmFiltros);
    frmFiltros->showModal();
}

void TfrmPrincipal::mnuConfigurarFiltradoReglasClick() {
    CenterOverMain(frmReglas);
    frmReglas->showModal();
}

void TfrmPrincipal::mnuConectarConexionRapidaClick() {
    CenterOverMain(frmConexionRapida);
    frmConexionRapida->ClearFields();
    frmConexionRapida->showModal();
}

void TfrmPrincipal::mnuConfigurarProgramaClick() {
    CenterOverMain(frmConfig);
    frmConfig->ShowModal();
}

void TfrmPrincipal::mnuAboutClick() {
    frmAbout->lblVersion->setText(u"Tavelo v2.0"_qs);
    frmAbout->lblFecha->setText(u"5-Agosto-2002"_qs);
    CenterOverMain(frmAbout);
    frmAbout->ShowModal();
}

void TfrmPrincipal::PopupListViewDestinatariosClick() {
    TAccountTab* tab = ActiveTab();
    if (!tab) return;
    const QList<int> rows = tab->list()->selectedPositions();
    if (rows.isEmpty()) return;
    CenterOverMain(frmDestinatarios);
    const TMensaje m = tab->message(tab->list()->row(rows.first()).number);
    frmDestinatarios->setWindowTitle(u"Destinatarios del mensaje "_qs + QString::number(m.Num));
    frmDestinatarios->lblFrom->setText(ShownText(m.Cabecera.From));
    frmDestinatarios->lblSubject->setText(ShownText(m.Cabecera.Subj));
    frmDestinatarios->lblDate->setText(ShownText(m.Cabecera.Fecha));
    frmDestinatarios->SetRecipients(m.Cabecera.Destinatarios);
    frmDestinatarios->ShowModal();
}
