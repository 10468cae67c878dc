// Fresh dialogs on a real main window, owned by it and wired to it the way the window wires its
// own (TfrmPrincipal::CreateForms): for tests that need a dialog made after the window.
#pragma once

#include "AboutBox.h"
#include "AccountsDialog.h"
#include "Errors.h"
#include "FiltersDialog.h"
#include "LoginDialog.h"
#include "MainWindow.h"
#include "QuickConnectDialog.h"
#include "RecipientsWindow.h"
#include "SettingsDialog.h"
#include "WindowProbe.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>

inline DialogContext DialogContextOf(TfrmPrincipal* w) {
    return {w,
            WindowProbe::seams(w).messageBox,
            WindowProbe::seams(w).openFileName,
            WindowProbe::seams(w).saveFileName,
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

/** Clicks `opener` and, in the login dialog it opens, chooses as `choice` says, then leaves with
 *  "Aceptar" ("cancel:" in front: with "Cancelar"): "password", "keyring" (the password in the
 *  secret store) or "oauth2:PROVIDER:CLIENT ID" (PROVIDER 0 Microsoft, 1 Google, 2 Otro). */
inline void ChooseAccess(QPushButton* opener, TfrmAcceso* dialog, QString choice) {
    const bool cancel = choice.startsWith(u"cancel:"_qs);
    if (cancel) choice = choice.mid(7);
    QTimer::singleShot(0, dialog, [dialog, choice, cancel] {
        // A failed check here must not leave the dialog's loop running.
        const auto leave = qScopeGuard([dialog] {
            if (dialog->isVisible()) dialog->reject();
        });
        QVERIFY(dialog->isVisible());
        const QStringList parts = choice.split(u':');
        dialog->cbMetodo->setCurrentIndex(parts[0] == u"oauth2"_qs ? 1 : 0);
        dialog->chkLlavero->setChecked(parts[0] == u"keyring"_qs);
        if (parts[0] == u"oauth2"_qs) {
            dialog->cbProveedor->setCurrentIndex(parts[1].toInt());
            dialog->edtClienteId->clear();
            QTest::keyClicks(dialog->edtClienteId, parts[2]);
        }
        QTest::mouseClick(cancel ? dialog->btnCancelar : dialog->btnAceptar, Qt::LeftButton);
        QVERIFY(!dialog->isVisible());
    });
    QTest::mouseClick(opener, Qt::LeftButton);
}
