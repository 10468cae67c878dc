// The main window: accounts, filter lists and settings for the whole run, one tab per connected
// account with its message list, text pane and dialogue log, and everything the sessions' events
// show in them.
#pragma once

#include "AccountAccess.h"
#include "AccountsFile.h"
#include "Desktop.h"
#include "FilterLists.h"
#include "FilterRules.h"
#include "RecycleBin.h"
#include "Settings.h"
#include "WindowSeams.h"

#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <memory>

class MessageList;
class QAction;
class QFrame;
class QLabel;
class QMenu;
class QTabWidget;
class QToolButton;
class QTreeWidgetItem;
class TAccountTab;
class TPop3;
class TRVStyle;
class TfrmCuentas;
class TfrmFiltros;
class TfrmDestinatarios;
class TfrmConexionRapida;
class TfrmAbout;
class TfrmConfig;
class TfrmReglas;
class TfrmPapelera;

/** One configured account (a record of Cuentas.dat) and its place in the window. */
struct TCuenta {
    QString Usuario;
    QString Password; ///< scrambled
    QString Servidor;
    int Puerto = 110;
    QAction* MenuItem = nullptr;
    TAccountTab* Tab = nullptr;
};

class TfrmPrincipal final : public QMainWindow, public IDesktop {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TfrmPrincipal)
public:
    explicit TfrmPrincipal(WindowSeams seams = WindowSeams::defaults(), QWidget* parent = nullptr);
    ~TfrmPrincipal() override;

    // IDesktop, for the sessions.
    bool askYesNo(const QString& caption, const QString& text, bool defaultYes) override;
    void openUrl(const QUrl& url) override;
    void reportUnhandledError(const AppError& error) override;
    /** Certificates the user trusted live in the settings file, group CertificadosConfiados. */
    std::optional<QString> trustedCertificate(const QString& hostPort) override;
    void trustCertificate(const QString& hostPort, const QString& sha256) override;
    /** Servers that gave TLS live beside them, group ServidoresTLS. */
    bool offeredTls(const QString& hostPort) override;
    void rememberTls(const QString& hostPort) override;

    // For main: a second start of the program, and every way the run ends.
    /** @short Brings the window back in front of the others: out of the notification area when
     *  hidden there, restored when minimised (a second start of the program asks for this). */
    void BringToFront();
    /** @short The end of the run, whatever asked for it (the window closed, the tray's Salir, a
     *  signal, the desktop session ending): settings and filters saved, a QUIT to every session, and
     *  the event loop runs until the servers have answered and closed (a few seconds at most). Once. */
    void CloseOrderly();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    friend struct WindowProbe; // how the tests and the window benchmark reach inside (tests/support/WindowProbe.h)

    /** @short The report of every error nothing else handled (also installed for the whole
     *  application): socket lookup failures are swept, anything else is shown in a box. */
    void AppException(const AppError& error);

    // Connecting.
    void mnuConectarCuentaClick(QAction* sender);
    void mnuConectarConectarTodasClick();
    /** `access`: how to log in (password, or OAuth2 with a provider), for this run only. */
    void QuickConnect(const QString& server, const QString& user, const QString& scrambledPassword, int port,
                      const AccountAccess& access = {});

    // Buttons of the bar.
    void btnRefrescarClick();
    void btnDesconectarClick();
    void btnSoloListaClick();
    void btnListaTextoClick();
    void btnListaTextoDialogoClick();

    // Accounts (the accounts file) and filters.
    /** @short The accounts and the connect menu become these records, in order (what the accounts
     *  dialog holds after every change); a port that is not a number connects on 110. */
    void ReplaceAccounts(const QList<AccountRecord>& records);
    void LoadFilters();
    void SaveFilters();
    void LoadSettings();
    void SaveSettings();
    /** @short A decision about the settings or the filter lists was made: it is written at once
     *  (and again at exit). A failed write goes to AppException; the values stay as they are. */
    void KeepSettings();
    void KeepFilters();

    // Message list commands.
    void btnPrimerasLineasClick();
    void btnEliminarClick();
    void btnRestaurarClick();
    void PopupListViewPopup();
    void PopupListViewEnviarEMailClick();
    void ListViewResize(MessageList* list);
    void SweepSocketErrors();

    // Filtering.
    void RunFilter(TAccountTab* tab, bool report);
    bool AddFilter(const QString& field, const QString& text);
    void PopupListViewFiltradoFiltrarAhoraClick();
    /** @short The verdict of a filtering run on every row of the active tab, shown in the list
     *  (struck out, with the reason as a tooltip), without deleting anything. */
    void PopupListViewFiltradoProbarClick();
    /** @short Reglas.dat read again; `reportProblems`: its lines that do not apply are shown in a
     *  box over the window once it is on the screen (the rules dialog lists them itself). A file
     *  that cannot be read leaves no rules. */
    void LoadRules(bool reportProblems);
    /** @short The box of the lines of Reglas.dat that do not apply, if any wait to be told. */
    void TellRuleProblems();
    QStringList m_ruleProblems; ///< lines of Reglas.dat not told yet: the window was not shown
    void mnuConfigurarFiltradoReglasClick();
    void PopupListViewFiltradoAddRemitenteClick() { addSelectedToFilters(u"FROM"_qs); }
    void PopupListViewFiltradoAddSubjClick() { addSelectedToFilters(u"SUBJ"_qs); }

    // Timers and tray.
    void TimerReconexionesTimer();
    void TimerTrayTimer();
    void RestoreFromTray();
    void HandleMinimize();
    void mnuTraySalirClick();
    /** @short The tray image shown now (0 or 1), or -1 without an icon. */
    int TrayImageShown() const;

    // The run's accounts, settings, filter lists and state.
    QList<TAccountTab*> Tabs;
    QList<TCuenta*> Accounts;
    TConfig Config;
    TAdvancedSettings Advanced;
    TFiltros Filtros;
    FilterRules Rules;
    QString AccountsPath;
    QString FiltersPath;
    QString RulesPath;
    int CommandStyle = 0;
    int ServerStyle = 0;
    int CommentStyle = 0;
    int PendingSocketErrors = 0;
    bool TrayFlag = false;
    /** Settings or filters changed in this run (they are then saved at exit even if loading failed). */
    bool SettingsChanged = false;
    bool FiltersChanged = false;

    // Controls.
    QTabWidget* Page95Control = nullptr;
    QFrame* PanelBotonera = nullptr;
    QToolButton* btnRefrescar = nullptr;
    QToolButton* btnEliminar = nullptr;
    QToolButton* btnRestaurar = nullptr;
    QToolButton* btnPrimerasLineas = nullptr;
    QToolButton* btnSoloLista = nullptr;
    QToolButton* btnListaTexto = nullptr;
    QToolButton* btnListaTextoDialogo = nullptr;
    QToolButton* btnDesconectar = nullptr;
    QFrame* BevelArroba = nullptr;
    QFrame* PanelArroba = nullptr;
    QLabel* imgArroba = nullptr;
    QMenu* mnuConectarCuentas = nullptr;
    // While there is no account: the Cuentas submenu says so and offers to add one.
    QAction* mnuConectarCuentasNinguna = nullptr;
    QAction* mnuConectarCuentasAnadir = nullptr;
    /** The welcome of a window with no account and no tab, where the tabs would be. */
    QWidget* PanelBienvenida = nullptr;
    QMenu* PopupListView = nullptr;
    QTimer TimerSocketExc;
    QTimer TimerReconexiones;
    QTimer TimerTray;
    QTimer TimerArroba;
    QTimer TimerPapelera; ///< once a day: expired copies leave the Papelera
    TRVStyle* RVStyle = nullptr;
    /** @short The menu action of that object name (every menu item has the name it is known by). */
    QAction* action(const QString& objectName) const;

    const WindowSeams& seams() const { return m_seams; }
    QMessageBox::StandardButton ShowMessage(QMessageBox::Icon icon, const QString& caption, const QString& text,
                                            QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                            QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

    QMenu* PopupMenuTray = nullptr;

    // The dialogs, created once after the window, in this order, and kept for the whole run.
    TfrmCuentas* frmCuentas = nullptr;
    TfrmFiltros* frmFiltros = nullptr;
    TfrmDestinatarios* frmDestinatarios = nullptr;
    TfrmConexionRapida* frmConexionRapida = nullptr;
    TfrmAbout* frmAbout = nullptr;
    TfrmConfig* frmConfig = nullptr;
    TfrmReglas* frmReglas = nullptr;
    TfrmPapelera* frmPapelera = nullptr;

    // The Papelera: a copy of each message before its DELE (when CopiaAntesDeBorrar is on).
    std::unique_ptr<TPapelera> m_papelera;
    /** @short Gives the tab's session the hook that keeps each copy in the Papelera, or takes it away,
     *  as the settings say. */
    void applyKeepCopy(TAccountTab* tab);
    /** @short Removes the copies older than DiasPapelera days (at start-up and once a day). */
    void CaducarPapelera();
    void mnuConfigurarPapeleraClick();
    /** @short The account a copy of the tab's mailbox came from, as the Papelera's index names it. */
    QString copySource(const TAccountTab* tab) const;
    /** @short One box for the messages of the tab whose copies failed in the batch just ended. */
    void reportFailedCopies(TAccountTab* tab);

    /** A value of the program's own groups in the settings file (certificates, servers that gave TLS). */
    QVariant readOwnSetting(const QString& key) const;
    void writeOwnSetting(const QString& key, const QVariant& value);

    // Tabs.
    TAccountTab* CreateAccountTab(const QString& userName);
    void CloseAccountTab(TAccountTab* tab);
    TAccountTab* TabOfSheet(QWidget* page) const;
    TAccountTab* ActiveTab() const;
    void SetBusyAnimation(QWidget* page, bool on);
    void CenterOverMain(QWidget* form);

    // Accounts and menu commands the window's own menus and lists call.
    TCuenta* FindAccount(const QString& server, const QString& user, const QString& scrambledPassword, int port);
    TCuenta* AccountOfMenuItem(QAction* item);
    /** @short The account the tab was opened for, or nullptr (a quick connection to no account). */
    TCuenta* AccountOfTab(const TAccountTab* tab) const;
    /** @short A failed tab connects again now: with what its account holds now (its password may
     *  have been put right meanwhile), or with what it had when it is no account's. */
    void connectAgain(TAccountTab* tab);
    void LoadAccounts();
    void AddAccount(const QString& server, const QString& user, const QString& scrambledPassword, int port);
    void ClearAccounts();
    /** The accounts' open tabs when they were last cleared, for the same accounts added again. */
    struct OpenAccount {
        QString server, user;
        int port;
        QPointer<TAccountTab> tab;
    };
    QList<OpenAccount> m_openBeforeClear;
    void mnuConectarConexionRapidaClick();
    void PopupListViewDestinatariosClick();
    void mnuAboutClick();
    void PopupListViewFiltradoConfigurarClick();
    void mnuConfigurarCuentasDeCorreoClick();
    void mnuConfigurarProgramaClick();
    void AddTrayIcon();
    /** @short The desktop notification of a connection or re-check that found mail (if wanted). */
    void NotifyMail(TAccountTab* tab);
    void RemoveTrayIcon();

    void FormCreate();
    void CreateForms();
    void FormDestroy();
    void FormResize();
    void buildMenus();
    void buildButtonBar();
    void buildWelcome();
    /** @short The connect menu, Conectar Todas and the welcome follow the accounts there are now. */
    void followAccounts();
    /** @short The welcome shows while there is no account and no tab; otherwise the tabs do. */
    void followTabs();
    QAction* addItem(QMenu* menu, const QString& name, const QString& caption);
    void TimerArrobaTimer();
    void Page95ControlChange();
    void TimerSocketExcTimer();
    void addSelectedToFilters(const QString& field);
    void filterCheckClicked(QAction* item);
    void placeButtonBar();
    /** Bar buttons as wide as their captions need at the current font (the drawn sizes the least). */
    void fitButtonBar();
    /** The "@" picture and the inactive tabs' text redrawn readable on the current palette. */
    void followPalette();
    void connectAccount(TCuenta* account);
    void startSession(TAccountTab* tab, const QString& server, const QString& user, const QString& password, int port);
    /** @short Runs a step; an error it raises goes to AppException and the next step still runs. */
    bool guarded(const std::function<void()>& step);

    // What a tab tells the window.
    /** @short The box of a connection that could not be made (a host name that cannot be resolved,
     *  a refusal, no answer), one per tab at a time, none while the window is hidden in the
     *  notification area. */
    void TabConnectionFailed(TAccountTab* tab, const QString& caption, const QString& text);
    /** @short The accounts dialog at the account of a tab whose login was refused; the account is
     *  tried again when the dialog closes. */
    void ReviewAccount(TAccountTab* tab);
    void TabCompleted(TAccountTab* tab);

    WindowSeams m_seams;
    bool m_closing = false;
    bool m_settingsLoaded = false;
    bool m_filtersLoaded = false;
    QList<QIcon> m_lamps;
    int m_barLeftEnd = 365;     ///< where the buttons on the bar's left end (fitButtonBar)
    bool m_refitQueued = false; ///< a font or palette change is waiting to be followed
    QList<QIcon> m_trayImages;
    class QSystemTrayIcon* m_trayIcon = nullptr;
    class DesktopNotifier* m_notifier = nullptr;
    class TAccountLogins* m_logins = nullptr; ///< how each account logs in, its secrets and tokens
    int m_trayBlinkPhase = 0;
};

/** @short Where a window of that size opens on a screen with that free area (client geometry): centred,
 *  made smaller where the screen is smaller, its title bar and frame never off the screen. */
QRect PlaceOnScreen(QSize window, const QRect& available);

/** @short Where the whole application sends errors that reach its event loop uncaught. */
void SetUnhandledErrorHandler(std::function<void(const AppError&)> handler);
/** @short Passes an uncaught error to the installed handler; false when there is none. */
bool ReportUnhandledError(const AppError& error);
