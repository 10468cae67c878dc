// The way into the main window for the tests and the window benchmark: its state, controls,
// timers and handlers, under the names the window gives them, and a tab's splitters. Nothing else outside the window
// uses them, so they are not part of its public interface.
#pragma once

#include "AccountTab.h"
#include "MainWindow.h"
#include "TextAndTime.h"

struct WindowProbe {
    // State.
    static const QList<TAccountTab*>& Tabs(const TfrmPrincipal* w) { return w->Tabs; }
    static const QList<TCuenta*>& Accounts(const TfrmPrincipal* w) { return w->Accounts; }
    static TConfig& Config(TfrmPrincipal* w) { return w->Config; }
    static TAdvancedSettings& Advanced(TfrmPrincipal* w) { return w->Advanced; }
    static TFiltros& Filtros(TfrmPrincipal* w) { return w->Filtros; }
    static const FilterRules& Rules(TfrmPrincipal* w) { return w->Rules; }
    static TfrmReglas* frmReglas(TfrmPrincipal* w) { return w->frmReglas; }
    static const QString& AccountsPath(const TfrmPrincipal* w) { return w->AccountsPath; }
    static int CommandStyle(const TfrmPrincipal* w) { return w->CommandStyle; }
    static int ServerStyle(const TfrmPrincipal* w) { return w->ServerStyle; }
    static int CommentStyle(const TfrmPrincipal* w) { return w->CommentStyle; }
    static int PendingSocketErrors(const TfrmPrincipal* w) { return w->PendingSocketErrors; }
    static bool TrayFlag(const TfrmPrincipal* w) { return w->TrayFlag; }
    static bool& SettingsChanged(TfrmPrincipal* w) { return w->SettingsChanged; }
    static bool FiltersChanged(const TfrmPrincipal* w) { return w->FiltersChanged; }
    static const WindowSeams& seams(const TfrmPrincipal* w) { return w->seams(); }
    static TAccountLogins* logins(const TfrmPrincipal* w) { return w->m_logins; }
    static constexpr qsizetype kLogLineCap = TAccountTab::kLogLineCap;

    // Controls, menus, timers and dialogs.
    static QTabWidget* Page95Control(const TfrmPrincipal* w) { return w->Page95Control; }
    static QFrame* PanelBotonera(const TfrmPrincipal* w) { return w->PanelBotonera; }
    static QToolButton* btnRefrescar(const TfrmPrincipal* w) { return w->btnRefrescar; }
    static QToolButton* btnEliminar(const TfrmPrincipal* w) { return w->btnEliminar; }
    static QToolButton* btnRestaurar(const TfrmPrincipal* w) { return w->btnRestaurar; }
    static QToolButton* btnPrimerasLineas(const TfrmPrincipal* w) { return w->btnPrimerasLineas; }
    static QToolButton* btnSoloLista(const TfrmPrincipal* w) { return w->btnSoloLista; }
    static QToolButton* btnDesconectar(const TfrmPrincipal* w) { return w->btnDesconectar; }
    static QFrame* PanelArroba(const TfrmPrincipal* w) { return w->PanelArroba; }
    static QLabel* imgArroba(const TfrmPrincipal* w) { return w->imgArroba; }
    static QMenu* mnuConectarCuentas(const TfrmPrincipal* w) { return w->mnuConectarCuentas; }
    static QAction* action(const TfrmPrincipal* w, const QString& objectName) { return w->action(objectName); }
    static QTimer& TimerSocketExc(TfrmPrincipal* w) { return w->TimerSocketExc; }
    static QTimer& TimerReconexiones(TfrmPrincipal* w) { return w->TimerReconexiones; }
    static QTimer& TimerTray(TfrmPrincipal* w) { return w->TimerTray; }
    static QTimer& TimerArroba(TfrmPrincipal* w) { return w->TimerArroba; }
    static QTimer& TimerPapelera(TfrmPrincipal* w) { return w->TimerPapelera; }
    static TfrmConfig* frmConfig(const TfrmPrincipal* w) { return w->frmConfig; }
    static TfrmPapelera* frmPapelera(const TfrmPrincipal* w) { return w->frmPapelera; }
    static TPapelera& Papelera(const TfrmPrincipal* w) { return *w->m_papelera; }

    // Connecting, the accounts, settings and filter files, errors.
    static void QuickConnect(TfrmPrincipal* w, const QString& server, const QString& user,
                             const QString& scrambledPassword, int port, const AccountAccess& access = {}) {
        w->QuickConnect(server, user, scrambledPassword, port, access);
    }
    static void mnuConectarCuentaClick(TfrmPrincipal* w, QAction* sender) { w->mnuConectarCuentaClick(sender); }
    static void mnuConectarConectarTodasClick(TfrmPrincipal* w) { w->mnuConectarConectarTodasClick(); }
    static void ReplaceAccounts(TfrmPrincipal* w, const QList<AccountRecord>& r) { w->ReplaceAccounts(r); }
    static void KeepSettings(TfrmPrincipal* w) { w->KeepSettings(); }
    static void KeepFilters(TfrmPrincipal* w) { w->KeepFilters(); }
    static void AppException(TfrmPrincipal* w, const AppError& error) { w->AppException(error); }
    static void SweepSocketErrors(TfrmPrincipal* w) { w->SweepSocketErrors(); }

    // The button bar.
    static void btnRefrescarClick(TfrmPrincipal* w) { w->btnRefrescarClick(); }
    static void btnDesconectarClick(TfrmPrincipal* w) { w->btnDesconectarClick(); }
    static void btnSoloListaClick(TfrmPrincipal* w) { w->btnSoloListaClick(); }
    static void btnListaTextoClick(TfrmPrincipal* w) { w->btnListaTextoClick(); }
    static void btnListaTextoDialogoClick(TfrmPrincipal* w) { w->btnListaTextoDialogoClick(); }
    static void btnPrimerasLineasClick(TfrmPrincipal* w) { w->btnPrimerasLineasClick(); }
    static void btnEliminarClick(TfrmPrincipal* w) { w->btnEliminarClick(); }
    static void btnRestaurarClick(TfrmPrincipal* w) { w->btnRestaurarClick(); }

    // The message list's menu and filtering.
    static void PopupListViewPopup(TfrmPrincipal* w) { w->PopupListViewPopup(); }
    static void PopupListViewEnviarEMailClick(TfrmPrincipal* w) { w->PopupListViewEnviarEMailClick(); }
    static void ListViewResize(TfrmPrincipal* w, MessageList* list) { w->ListViewResize(list); }
    static void RunFilter(TfrmPrincipal* w, TAccountTab* tab, bool report) { w->RunFilter(tab, report); }
    static bool AddFilter(TfrmPrincipal* w, const QString& field, const QString& text) {
        return w->AddFilter(field, text);
    }
    static void PopupListViewFiltradoFiltrarAhoraClick(TfrmPrincipal* w) {
        w->PopupListViewFiltradoFiltrarAhoraClick();
    }
    static void PopupListViewFiltradoProbarClick(TfrmPrincipal* w) { w->PopupListViewFiltradoProbarClick(); }
    static void PopupListViewFiltradoAddRemitenteClick(TfrmPrincipal* w) {
        w->PopupListViewFiltradoAddRemitenteClick();
    }
    static void PopupListViewFiltradoAddSubjClick(TfrmPrincipal* w) { w->PopupListViewFiltradoAddSubjClick(); }

    // Timers and tray.
    static void TimerReconexionesTimer(TfrmPrincipal* w) { w->TimerReconexionesTimer(); }
    static void TimerTrayTimer(TfrmPrincipal* w) { w->TimerTrayTimer(); }
    static void RestoreFromTray(TfrmPrincipal* w) { w->RestoreFromTray(); }
    static void HandleMinimize(TfrmPrincipal* w) { w->HandleMinimize(); }
    static void mnuTraySalirClick(TfrmPrincipal* w) { w->mnuTraySalirClick(); }
    static int TrayImageShown(const TfrmPrincipal* w) { return w->TrayImageShown(); }

    // Text helpers.
    static QString FormatThousands(qint64 n) { return ::FormatThousands(n); }

    // A tab's splitters and the sizes its view modes keep.
    static QSplitter* ListSplitter(const TAccountTab* t) { return t->m_listSplitter; }
    static QSplitter* DialogueSplitter(const TAccountTab* t) { return t->m_dialogueSplitter; }
    static QWidget* LowerPanel(const TAccountTab* t) { return t->m_lowerPanel; }
    static QFrame* DialoguePanel(const TAccountTab* t) { return t->m_dialoguePanel; }
    static int SavedLowerHeight(const TAccountTab* t) { return t->m_savedLowerHeight; }
};
