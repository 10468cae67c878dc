// Fresh dialogs on a real main window, owned by it and wired to it the way the window wires its
// own (TfrmPrincipal::CreateForms): for tests that need a dialog made after the window.
#pragma once

#include "Errors.h"
#include "Unit1.h"
#include "Unit2.h"
#include "Unit3.h"
#include "Unit4.h"
#include "Unit5.h"
#include "Unit6.h"
#include "Unit7.h"

inline DialogContext DialogContextOf(TfrmPrincipal* w) {
    return {w, w->seams().messageBox, w->seams().openFileName, w->seams().openUrl,
            [w](const AppError& e) { w->AppException(e); }};
}

inline TfrmCuentas* NewAccountsDialog(TfrmPrincipal* w) {
    return new TfrmCuentas(DialogContextOf(w), w->AccountsPath,
                           [w](const QList<AccountRecord>& r) { w->ReplaceAccounts(r); });
}

inline TfrmFiltros* NewFiltersDialog(TfrmPrincipal* w) {
    return new TfrmFiltros(DialogContextOf(w), w->Filtros, [w] { w->KeepFilters(); });
}

inline TfrmDestinatarios* NewRecipientsDialog(TfrmPrincipal* w) {
    return new TfrmDestinatarios(DialogContextOf(w));
}

inline TfrmConexionRapida* NewQuickConnectDialog(TfrmPrincipal* w) {
    return new TfrmConexionRapida(DialogContextOf(w),
                                  [w](const QString& server, const QString& user, const QString& scrambledPassword,
                                      int port) { w->QuickConnect(server, user, scrambledPassword, port); });
}

inline TfrmAbout* NewAboutBox(TfrmPrincipal* w) {
    return new TfrmAbout(DialogContextOf(w));
}

inline TfrmConfig* NewSettingsDialog(TfrmPrincipal* w) {
    return new TfrmConfig(DialogContextOf(w), w->Config, w->Advanced, [w] { w->KeepSettings(); });
}
