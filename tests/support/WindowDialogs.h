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
#include "WindowProbe.h"

inline DialogContext DialogContextOf(TfrmPrincipal* w) {
    return {w,
            WindowProbe::seams(w).messageBox,
            WindowProbe::seams(w).openFileName,
            WindowProbe::seams(w).openUrl,
            [w](const AppError& e) { WindowProbe::AppException(w, e); },
            WindowProbe::logins(w)};
}

inline TfrmCuentas* NewAccountsDialog(TfrmPrincipal* w) {
    return new TfrmCuentas(DialogContextOf(w), WindowProbe::AccountsPath(w),
                           [w](const QList<AccountRecord>& r) { WindowProbe::ReplaceAccounts(w, r); });
}

inline TfrmFiltros* NewFiltersDialog(TfrmPrincipal* w) {
    return new TfrmFiltros(DialogContextOf(w), WindowProbe::Filtros(w), [w] { WindowProbe::KeepFilters(w); });
}

inline TfrmDestinatarios* NewRecipientsDialog(TfrmPrincipal* w) {
    return new TfrmDestinatarios(DialogContextOf(w));
}

inline TfrmConexionRapida* NewQuickConnectDialog(TfrmPrincipal* w) {
    return new TfrmConexionRapida(DialogContextOf(w),
                                  [w](const QString& server, const QString& user, const QString& scrambledPassword,
                                      int port, const AccountAccess& access) {
                                      WindowProbe::QuickConnect(w, server, user, scrambledPassword, port, access);
                                  });
}

inline TfrmAbout* NewAboutBox(TfrmPrincipal* w) {
    return new TfrmAbout(DialogContextOf(w));
}

inline TfrmConfig* NewSettingsDialog(TfrmPrincipal* w) {
    return new TfrmConfig(DialogContextOf(w), WindowProbe::Config(w), WindowProbe::Advanced(w),
                          [w] { WindowProbe::KeepSettings(w); });
}
