#include "MainWindow.h"

#include "AccountLogins.h"
#include "AccountTab.h"
#include "AccountWidgets.h"
#include "Artwork.h"
#include "DialogFit.h"
#include "Errors.h"
#include "QtClientSocket.h"
#include "StyledTextView.h"
#include "TextAndTime.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QSettings>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
std::function<void(const AppError&)>& unhandledErrorHandler() {
    static std::function<void(const AppError&)> handler;
    return handler;
}
} // namespace

void SetUnhandledErrorHandler(std::function<void(const AppError&)> handler) {
    unhandledErrorHandler() = std::move(handler);
}

bool ReportUnhandledError(const AppError& error) {
    if (!unhandledErrorHandler()) return false;
    unhandledErrorHandler()(error);
    return true;
}

TfrmPrincipal::TfrmPrincipal(WindowSeams seams, QWidget* parent) : QMainWindow(parent), m_seams(std::move(seams)) {
    resize(800, 600);
    m_lamps = MakeLampImages();
    RVStyle = new TRVStyle(this);
    auto* central = new QWidget(this);
    setCentralWidget(central);
    Page95Control = new QTabWidget(central);
    Page95Control->setGeometry(2, 8, 788, 544);
    Page95Control->setDocumentMode(false);
    Page95Control->setUsesScrollButtons(true);
    connect(Page95Control, &QTabWidget::currentChanged, this, [this] {
        Page95ControlChange();
        placeButtonBar();
        followTabs(); // the first tab opened, or the last one closed
    });
    buildButtonBar();
    buildWelcome();
    followPalette();
    buildMenus();

    TimerSocketExc.setInterval(5000);
    connect(&TimerSocketExc, &QTimer::timeout, this, &TfrmPrincipal::TimerSocketExcTimer);
    TimerReconexiones.setInterval(1000);
    connect(&TimerReconexiones, &QTimer::timeout, this, &TfrmPrincipal::TimerReconexionesTimer);
    TimerTray.setInterval(500);
    connect(&TimerTray, &QTimer::timeout, this, &TfrmPrincipal::TimerTrayTimer);
    TimerArroba.setInterval(100);
    connect(&TimerArroba, &QTimer::timeout, this, &TfrmPrincipal::TimerArrobaTimer);
    TimerPapelera.setInterval(24 * 60 * 60 * 1000);
    connect(&TimerPapelera, &QTimer::timeout, this, [this] { guarded([this] { CaducarPapelera(); }); });

    FormCreate();
    CreateForms();
    followAccounts();
    TimerReconexiones.start();
    TimerPapelera.start();
}

TfrmPrincipal::~TfrmPrincipal() {
    FormDestroy();
    SetUnhandledErrorHandler({});
    SetSoundPlayer({});
}

QAction* TfrmPrincipal::addItem(QMenu* menu, const QString& name, const QString& caption) {
    QAction* a = caption == u"-" ? menu->addSeparator() : menu->addAction(caption);
    a->setObjectName(name);
    return a;
}

QAction* TfrmPrincipal::action(const QString& objectName) const {
    return findChild<QAction*>(objectName);
}

void TfrmPrincipal::buildMenus() {
    QMenuBar* bar = menuBar();
    QMenu* conectar = bar->addMenu(u"&Conectar"_qs);
    conectar->menuAction()->setObjectName(u"mnuConectar"_qs);
    QAction* rapida = addItem(conectar, u"mnuConectarConexionRapida"_qs, u"Conexión &Rápida"_qs);
    rapida->setShortcut(QKeySequence(u"Ctrl+R"_qs));
    connect(rapida, &QAction::triggered, this, &TfrmPrincipal::mnuConectarConexionRapidaClick);
    QAction* todas = addItem(conectar, u"mnuConectarConectarTodas"_qs, u"Conectar &Todas"_qs);
    todas->setShortcut(QKeySequence(u"Ctrl+T"_qs));
    connect(todas, &QAction::triggered, this, &TfrmPrincipal::mnuConectarConectarTodasClick);
    mnuConectarCuentas = conectar->addMenu(u"&Cuentas..."_qs);
    mnuConectarCuentas->menuAction()->setObjectName(u"mnuConectarCuentas"_qs);
    // In the submenu only while there is no account (followAccounts).
    mnuConectarCuentasNinguna = new QAction(u"(ninguna cuenta)"_qs, this);
    mnuConectarCuentasNinguna->setObjectName(u"mnuConectarCuentasNinguna"_qs);
    mnuConectarCuentasNinguna->setEnabled(false);
    mnuConectarCuentasAnadir = new QAction(u"&Añadir una cuenta..."_qs, this);
    mnuConectarCuentasAnadir->setObjectName(u"mnuConectarCuentasAnadir"_qs);
    connect(mnuConectarCuentasAnadir, &QAction::triggered, this, &TfrmPrincipal::mnuConfigurarCuentasDeCorreoClick);

    QMenu* configurar = bar->addMenu(u"Con&figurar"_qs);
    configurar->menuAction()->setObjectName(u"mnuConfigurar"_qs);
    connect(addItem(configurar, u"mnuConfigurarCuentasDeCorreo"_qs, u"&Cuentas de correo"_qs), &QAction::triggered,
            this, &TfrmPrincipal::mnuConfigurarCuentasDeCorreoClick);
    QMenu* filtrado = configurar->addMenu(u"&Filtrado de mensajes"_qs);
    filtrado->menuAction()->setObjectName(u"mnuConfigurarFiltrado"_qs);
    addItem(filtrado, u"mnuConfigurarFiltradoFiltrarAlConectar"_qs, u"Filtrar &al conectar"_qs)->setCheckable(true);
    addItem(filtrado, u"mnuConfigurarFiltradoPreguntar"_qs, u"&Preguntar antes de borrar"_qs)->setCheckable(true);
    // The main menu's entry does what the pop-up's does.
    connect(addItem(filtrado, u"mnuConfigurarFiltradoConfigurar"_qs, u"&Configurar filtrado..."_qs),
            &QAction::triggered, this, &TfrmPrincipal::PopupListViewFiltradoConfigurarClick);
    connect(addItem(filtrado, u"mnuConfigurarFiltradoReglas"_qs, u"&Reglas de filtrado..."_qs), &QAction::triggered,
            this, &TfrmPrincipal::mnuConfigurarFiltradoReglasClick);
    addItem(configurar, u"mnuConfigurarSep1"_qs, u"-"_qs);
    connect(addItem(configurar, u"mnuConfigurarPrograma"_qs, u"&Programa"_qs), &QAction::triggered, this,
            &TfrmPrincipal::mnuConfigurarProgramaClick);
    connect(addItem(configurar, u"mnuConfigurarPapelera"_qs, u"Pape&lera..."_qs), &QAction::triggered, this,
            &TfrmPrincipal::mnuConfigurarPapeleraClick);
    QAction* about = bar->addAction(u"&Acerca de"_qs);
    about->setObjectName(u"mnuAbout"_qs);
    connect(about, &QAction::triggered, this, &TfrmPrincipal::mnuAboutClick);

    PopupListView = new QMenu(this);
    PopupListView->setObjectName(u"PopupListView"_qs);
    addItem(PopupListView, u"PopupListViewEnviarEMail"_qs, u"Enviar E-&Mail al remitente"_qs);
    addItem(PopupListView, u"PopupListViewSep1"_qs, u"-"_qs);
    addItem(PopupListView, u"PopupListViewEliminar"_qs, u"&Eliminar mensaje(s) del buzón"_qs);
    addItem(PopupListView, u"PopupListViewRestaurar"_qs, u"&Reset: Abortar cambios en el buzón"_qs);
    addItem(PopupListView, u"PopupListViewSep2"_qs, u"-"_qs);
    addItem(PopupListView, u"PopupListViewPrimerasLineas"_qs, u"Ver &Primeras líneas del mensaje"_qs);
    addItem(PopupListView, u"PopupListViewDestinatarios"_qs, u"Ver &Destinatarios del mensaje"_qs);
    addItem(PopupListView, u"PopupListViewSep3"_qs, u"-"_qs);
    QMenu* pf = PopupListView->addMenu(u"&Filtrado de mensajes"_qs);
    pf->menuAction()->setObjectName(u"PopupListViewFiltrado"_qs);
    addItem(pf, u"PopupListViewFiltradoFiltrarAhora"_qs, u"&Filtrar ahora los mensajes"_qs);
    addItem(pf, u"PopupListViewFiltradoProbar"_qs, u"Pro&bar filtros (sin borrar)"_qs);
    addItem(pf, u"PopupListViewFiltradoSep1"_qs, u"-"_qs);
    addItem(pf, u"PopupListViewFiltradoFiltrarAlConectar"_qs, u"Filtrar &al conectar"_qs)->setCheckable(true);
    addItem(pf, u"PopupListViewFiltradoPreguntar"_qs, u"&Preguntar antes de borrar"_qs)->setCheckable(true);
    addItem(pf, u"PopupListViewFiltradoConfigurar"_qs, u"&Configurar filtrado..."_qs);
    addItem(pf, u"PopupListViewFiltradoSep2"_qs, u"-"_qs);
    addItem(pf, u"PopupListViewFiltradoAddRemitente"_qs, u"Añadir &remitente(s)"_qs);
    addItem(pf, u"PopupListViewFiltradoAddSubj"_qs, u"Añadir &subject(s)"_qs);

    const std::pair<const char16_t*, void (TfrmPrincipal::*)()> handlers[] = {
        {u"PopupListViewEnviarEMail", &TfrmPrincipal::PopupListViewEnviarEMailClick},
        {u"PopupListViewEliminar", &TfrmPrincipal::btnEliminarClick},
        {u"PopupListViewRestaurar", &TfrmPrincipal::btnRestaurarClick},
        {u"PopupListViewPrimerasLineas", &TfrmPrincipal::btnPrimerasLineasClick},
        {u"PopupListViewDestinatarios", &TfrmPrincipal::PopupListViewDestinatariosClick},
        {u"PopupListViewFiltradoFiltrarAhora", &TfrmPrincipal::PopupListViewFiltradoFiltrarAhoraClick},
        {u"PopupListViewFiltradoProbar", &TfrmPrincipal::PopupListViewFiltradoProbarClick},
        {u"PopupListViewFiltradoConfigurar", &TfrmPrincipal::PopupListViewFiltradoConfigurarClick},
        {u"PopupListViewFiltradoAddRemitente", &TfrmPrincipal::PopupListViewFiltradoAddRemitenteClick},
        {u"PopupListViewFiltradoAddSubj", &TfrmPrincipal::PopupListViewFiltradoAddSubjClick},
    };
    for (const auto& [name, handler] : handlers)
        connect(action(QString::fromUtf16(name)), &QAction::triggered, this, handler);
    for (const char16_t* name : {u"PopupListViewFiltradoFiltrarAlConectar", u"PopupListViewFiltradoPreguntar",
                                 u"mnuConfigurarFiltradoFiltrarAlConectar", u"mnuConfigurarFiltradoPreguntar"}) {
        QAction* item = action(QString::fromUtf16(name));
        connect(item, &QAction::triggered, this, [this, item] { filterCheckClicked(item); });
    }
}

void TfrmPrincipal::buildButtonBar() {
    PanelBotonera = new QFrame(centralWidget());
    PanelBotonera->setObjectName(u"PanelBotonera"_qs);
    PanelBotonera->setFrameStyle(QFrame::Panel | QFrame::Raised);
    PanelBotonera->setGeometry(6, 34, 780, 35);
    PanelBotonera->hide();
    auto button = [this](const QString& name, const QString& caption, const QString& hint, QRect geometry) {
        auto* b = new QToolButton(PanelBotonera);
        b->setObjectName(name);
        b->setText(caption);
        b->setToolTip(hint);
        b->setAutoRaise(true);
        b->setGeometry(geometry);
        return b;
    };
    btnRefrescar = button(u"btnRefrescar"_qs, u" Refrescar "_qs, {}, {6, 5, 83, 25});
    btnEliminar = button(u"btnEliminar"_qs, u" Eliminar "_qs, {}, {89, 5, 76, 25});
    btnRestaurar = button(u"btnRestaurar"_qs, u" Restaurar "_qs, {}, {165, 5, 86, 25});
    btnPrimerasLineas = button(u"btnPrimerasLineas"_qs, u" Primeras Líneas "_qs, {}, {252, 5, 113, 25});
    btnSoloLista = button(u"btnSoloLista"_qs, u"1"_qs, u"Ver sólo la lista"_qs, {558, 5, 25, 25});
    btnListaTexto = button(u"btnListaTexto"_qs, u"2"_qs, u"Ver lista y texto"_qs, {583, 5, 25, 25});
    btnListaTextoDialogo =
        button(u"btnListaTextoDialogo"_qs, u"3"_qs, u"Ver lista, texto y diálogo"_qs, {608, 5, 25, 25});
    btnDesconectar = button(u"btnDesconectar"_qs, u"Desconectar "_qs, {}, {633, 5, 101, 25});
    btnDesconectar->setIcon(m_lamps[0]);
    const QList<QIcon> modes = MakeViewModeImages();
    btnSoloLista->setIcon(modes[0]);
    btnListaTexto->setIcon(modes[1]);
    btnListaTextoDialogo->setIcon(modes[2]);
    for (QToolButton* b : {btnSoloLista, btnListaTexto, btnListaTextoDialogo}) {
        b->setToolButtonStyle(Qt::ToolButtonIconOnly);
        b->setAccessibleName(b->toolTip()); // a screen reader would say "1", "2", "3"
    }
    btnDesconectar->setToolTip(u"Desconectar"_qs);
    btnDesconectar->setAccessibleName(u"Desconectar"_qs);
    connect(btnRefrescar, &QToolButton::clicked, this, &TfrmPrincipal::btnRefrescarClick);
    connect(btnEliminar, &QToolButton::clicked, this, &TfrmPrincipal::btnEliminarClick);
    connect(btnRestaurar, &QToolButton::clicked, this, &TfrmPrincipal::btnRestaurarClick);
    connect(btnPrimerasLineas, &QToolButton::clicked, this, &TfrmPrincipal::btnPrimerasLineasClick);
    connect(btnDesconectar, &QToolButton::clicked, this, &TfrmPrincipal::btnDesconectarClick);
    connect(btnSoloLista, &QToolButton::clicked, this, &TfrmPrincipal::btnSoloListaClick);
    connect(btnListaTexto, &QToolButton::clicked, this, &TfrmPrincipal::btnListaTextoClick);
    connect(btnListaTextoDialogo, &QToolButton::clicked, this, &TfrmPrincipal::btnListaTextoDialogoClick);

    BevelArroba = new QFrame(PanelBotonera);
    BevelArroba->setFrameStyle(QFrame::VLine | QFrame::Sunken);
    BevelArroba->setGeometry(738, 1, 42, 32);
    PanelArroba = new QFrame(PanelBotonera);
    PanelArroba->setGeometry(740, 2, 37, 31);
    imgArroba = new QLabel(PanelArroba);
    imgArroba->setAccessibleName(u"Actividad"_qs);
    imgArroba->setAccessibleDescription(u"Se mueve mientras una cuenta trabaja"_qs);
    fitButtonBar();
}

void TfrmPrincipal::buildWelcome() {
    PanelBienvenida = new QWidget(centralWidget());
    PanelBienvenida->setObjectName(u"PanelBienvenida"_qs);
    PanelBienvenida->hide();
    // A column of lines short enough to read at a glance, in the middle of the client area.
    auto* column = new QWidget(PanelBienvenida);
    column->setFixedWidth(column->fontMetrics().averageCharWidth() * 64);
    auto* title = new QLabel(u"Bienvenido a Tavelo"_qs, column);
    title->setObjectName(u"lblBienvenida"_qs);
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 1.5);
    big.setBold(true);
    title->setFont(big);
    auto* what = new QLabel(u"Tavelo muestra lo que espera en cada buzón POP3 del servidor y borra el correo no "
                            u"deseado antes de que ningún programa de correo lo descargue."_qs,
                            column);
    what->setObjectName(u"lblQueHace"_qs);
    auto* add = new QPushButton(u"Añadir una cuenta..."_qs, column);
    add->setObjectName(u"btnAnadirCuenta"_qs);
    connect(add, &QPushButton::clicked, this, &TfrmPrincipal::mnuConfigurarCuentasDeCorreoClick);
    auto* once = new QLabel(
        u"Para conectar una sola vez sin guardar la cuenta: Conectar\u00A0>\u00A0Conexión\u00A0Rápida."_qs, column);
    once->setObjectName(u"lblConexionRapida"_qs);
    once->setForegroundRole(QPalette::PlaceholderText);
    for (QLabel* label : {title, what, once}) {
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignCenter);
    }

    // The labels fill the column's width (a wrapped label given an alignment in its layout would
    // be cut to its one-line height); the button keeps its own.
    auto* lines = new QVBoxLayout(column);
    lines->setContentsMargins(0, 0, 0, 0);
    lines->addStretch(2);
    lines->addWidget(title);
    lines->addSpacing(12);
    lines->addWidget(what);
    lines->addSpacing(18);
    lines->addWidget(add, 0, Qt::AlignHCenter);
    lines->addSpacing(18);
    lines->addWidget(once);
    lines->addStretch(3);
    auto* centre = new QHBoxLayout(PanelBienvenida);
    centre->addStretch();
    centre->addWidget(column);
    centre->addStretch();
}

void TfrmPrincipal::followAccounts() {
    const bool none = Accounts.isEmpty();
    for (QAction* item : {mnuConectarCuentasNinguna, mnuConectarCuentasAnadir}) {
        if (none)
            mnuConectarCuentas->addAction(item); // at the end, once
        else
            mnuConectarCuentas->removeAction(item);
    }
    action(u"mnuConectarConectarTodas"_qs)->setEnabled(!none);
    followTabs();
}

void TfrmPrincipal::followTabs() {
    if (m_closing) return;
    const bool welcome = Accounts.isEmpty() && Page95Control->count() == 0;
    if (welcome == PanelBienvenida->isVisibleTo(this)) return;
    PanelBienvenida->setGeometry(Page95Control->geometry());
    PanelBienvenida->setVisible(welcome);
    Page95Control->setVisible(!welcome);
    if (welcome) PanelBienvenida->findChild<QPushButton*>(u"btnAnadirCuenta"_qs)->setFocus();
}

void TfrmPrincipal::fitButtonBar() {
    // The drawn sizes are the least a button takes; a larger font makes it as wide as its caption.
    struct Placed {
        QToolButton* button;
        int least, gapBefore;
    };
    int x = 6;
    for (const Placed& p : {Placed{btnRefrescar, 83, 0}, Placed{btnEliminar, 76, 0}, Placed{btnRestaurar, 86, 0},
                            Placed{btnPrimerasLineas, 113, 1}}) {
        x += p.gapBefore;
        p.button->setGeometry(x, 5, std::max(p.least, p.button->sizeHint().width()), 25);
        x += p.button->width();
    }
    m_barLeftEnd = x;
    btnDesconectar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    btnDesconectar->resize(std::max(101, btnDesconectar->sizeHint().width()), 25);
    // Where the screen cannot hold the bar with such a font but can with Desconectar showing its
    // lamp alone, it does (its name is still in its tooltip and for screen readers).
    const int room = screen() ? WindowRoom(screen()->availableGeometry()).width() : INT_MAX;
    const int rest = m_barLeftEnd + 75 + 45 + 12;
    if (rest + btnDesconectar->width() > room && std::max(620, rest + 25) <= room) {
        btnDesconectar->setToolButtonStyle(Qt::ToolButtonIconOnly);
        btnDesconectar->resize(25, 25);
    }
}

void TfrmPrincipal::followPalette() {
    // Colours that are fixed in the pictures are made readable on what they are drawn on, light or
    // dark: the "@" on the tab widget's pane, the inactive tabs' captions on those tabs.
    // The "@" is drawn smooth: its edges are lighter than its ink, which is kept a little above 3:1.
    const QColor ink = ReadableColor(QColor(30, 60, 160), TabPaneColor(Page95Control), 3.5);
    const QPixmap strip = MakeArrobaStrip(ink, devicePixelRatioF());
    imgArroba->setPixmap(strip);
    imgArroba->resize(strip.deviceIndependentSize().toSize());
    const QColor dimmed = ReadableOnAll(QColor(85, 85, 85), InactiveTabColors(Page95Control), 4.5);
    Page95Control->setStyleSheet(u"QTabBar::tab:!selected { color: %1; }"_qs.arg(dimmed.name()));
}

bool TfrmPrincipal::guarded(const std::function<void()>& step) {
    try {
        step();
        return true;
    } catch (const AppError& e) {
        AppException(e);
        return false;
    }
}

void TfrmPrincipal::FormCreate() {
    // Every step runs even when one before it failed; what failed to load is not written back.
    SetUnhandledErrorHandler([this](const AppError& e) { AppException(e); });
    SetSoundPlayer(m_seams.playSound);
    setWindowTitle(u"Tavelo v2.0"_qs);
    m_settingsLoaded = guarded([this] { LoadSettings(); });
    const QString dir = m_seams.dataDir.endsWith(u'/') ? m_seams.dataDir : m_seams.dataDir + u'/';
    AccountsPath = dir + u"Cuentas.dat"_qs;
    guarded([this] { LoadAccounts(); });
    m_logins = new TAccountLogins(dir, m_seams.openUrl, this, [this](const QString& problem) {
        m_seams.messageBox(this, QMessageBox::Warning, u"Tavelo"_qs, problem, QMessageBox::Ok, QMessageBox::NoButton);
    });
    FiltersPath = dir + u"Filtros.dat"_qs;
    m_filtersLoaded = guarded([this] { LoadFilters(); });
    RulesPath = dir + u"Reglas.dat"_qs;
    LoadRules(true);
    m_papelera = std::make_unique<TPapelera>(dir);
    guarded([this] { CaducarPapelera(); });
    CommandStyle = RVStyle->AddStyle(u"Courier New"_qs, 8, QColor(221, 0, 0));
    ServerStyle = RVStyle->AddStyle(u"MS Sans Serif"_qs, 8, QColor(0, 0, 221));
    CommentStyle = RVStyle->AddStyle(u"MS Sans Serif"_qs, 8, QColor(0, 153, 0));
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        setGeometry(PlaceOnScreen(size(), screen->availableGeometry()));
    PendingSocketErrors = 0;
    TrayFlag = false;
    if (Config.ConectarTodosAlArrancar) guarded([this] { mnuConectarConectarTodasClick(); });
}

void TfrmPrincipal::FormDestroy() {
    if (m_closing) return;
    if (m_settingsLoaded || SettingsChanged) guarded([this] { SaveSettings(); });
    if (m_filtersLoaded || FiltersChanged) guarded([this] { SaveFilters(); });
    while (!Tabs.isEmpty())
        CloseAccountTab(Tabs.first());
    for (TCuenta* a : std::as_const(Accounts))
        delete a;
    Accounts.clear();
    if (TrayFlag) RemoveTrayIcon();
    m_closing = true;
}

void TfrmPrincipal::closeEvent(QCloseEvent* event) {
    CloseOrderly();
    QMainWindow::closeEvent(event);
}

void TfrmPrincipal::CloseOrderly() {
    if (m_closing) return;
    // Off the screen at once: the servers' answers may take a moment.
    hide();
    for (QTimer* timer : {&TimerSocketExc, &TimerReconexiones, &TimerTray, &TimerArroba, &TimerPapelera})
        timer->stop();
    FormDestroy();
    // The server deletes only on QUIT, and the sockets write from the event loop.
    QtClientSocket::waitForClosingConnections(QtClientSocket::kExitWaitMs);
}

void TfrmPrincipal::LoadSettings() {
    Advanced = LoadAdvancedSettings(m_seams.settingsPath);
    ::LoadSettings(Config, m_seams.settingsPath);
    action(u"PopupListViewFiltradoFiltrarAlConectar"_qs)->setChecked(Config.FiltrarAlConectar);
    action(u"mnuConfigurarFiltradoFiltrarAlConectar"_qs)->setChecked(Config.FiltrarAlConectar);
    action(u"PopupListViewFiltradoPreguntar"_qs)->setChecked(Config.PreguntarAntesDeBorrarEnFiltrado);
    action(u"mnuConfigurarFiltradoPreguntar"_qs)->setChecked(Config.PreguntarAntesDeBorrarEnFiltrado);
}

void TfrmPrincipal::SaveSettings() {
    ::SaveSettings(Config, m_seams.settingsPath);
    SaveAdvancedSettings(Advanced, m_seams.settingsPath);
}

void TfrmPrincipal::LoadFilters() {
    Filtros.LoadFilters(FiltersPath);
}
void TfrmPrincipal::SaveFilters() {
    Filtros.SaveFilters(FiltersPath);
}

void TfrmPrincipal::KeepSettings() {
    SettingsChanged = true;
    guarded([this] { SaveSettings(); });
    // The copy option and the log's bound reach the tabs already open.
    for (TAccountTab* tab : std::as_const(Tabs)) {
        applyKeepCopy(tab);
        tab->applyLogLimit();
    }
}

void TfrmPrincipal::KeepFilters() {
    FiltersChanged = true;
    guarded([this] { SaveFilters(); });
}

void TfrmPrincipal::LoadAccounts() {
    // An account whose port does not convert is still listed and connects on 110; all such
    // accounts are named in one box. The file stays as it is until the user changes it.
    QStringList unreadable;
    for (const AccountRecord& r : LoadAccountsFile(AccountsPath)) {
        int port = 110;
        try {
            port = ParseInt32(r.puerto);
        } catch (const EConvertError&) {
            unreadable << r.usuario + u" ("_qs + r.servidor + u"): \""_qs + r.puerto + u'"';
        }
        AddAccount(r.servidor, r.usuario, r.password, port);
    }
    if (unreadable.isEmpty()) return;
    const QString head = unreadable.size() == 1
                             ? u"El Puerto de esta cuenta no es un número; se conectará al puerto 110"_qs
                             : u"El Puerto de estas cuentas no es un número; se conectarán al puerto 110"_qs;
    ShowMessage(QMessageBox::Warning, u"Cuentas de correo"_qs,
                head + u" hasta que lo corrija en Configurar > Cuentas de correo:\r\r"_qs + unreadable.join(u'\r'));
}

void TfrmPrincipal::AddAccount(const QString& server, const QString& user, const QString& scrambledPassword, int port) {
    auto* account = new TCuenta{user, scrambledPassword, server, port, nullptr, nullptr};
    // A mailbox still open in a tab stays that account's tab when the accounts are rebuilt.
    for (auto it = m_openBeforeClear.begin(); it != m_openBeforeClear.end(); ++it) {
        if (it->tab && it->server == server && it->user == user && it->port == port) {
            account->Tab = it->tab;
            m_openBeforeClear.erase(it);
            break;
        }
    }
    account->MenuItem = new QAction(user + u" ("_qs + server + u')', this);
    connect(account->MenuItem, &QAction::triggered, this,
            [this, item = account->MenuItem] { mnuConectarCuentaClick(item); });
    Accounts.append(account);
    mnuConectarCuentas->addAction(account->MenuItem);
    followAccounts();
}

void TfrmPrincipal::ClearAccounts() {
    m_openBeforeClear.clear();
    for (TCuenta* a : std::as_const(Accounts)) {
        if (a->Tab) m_openBeforeClear.append({a->Servidor, a->Usuario, a->Puerto, a->Tab});
        delete a->MenuItem;
        delete a;
    }
    Accounts.clear();
    followAccounts();
}

QMessageBox::StandardButton TfrmPrincipal::ShowMessage(QMessageBox::Icon icon, const QString& caption,
                                                       const QString& text, QMessageBox::StandardButtons buttons,
                                                       QMessageBox::StandardButton defaultButton) {
    return m_seams.messageBox(this, icon, caption, text, buttons, defaultButton);
}

bool TfrmPrincipal::askYesNo(const QString& caption, const QString& text, bool defaultYes) {
    return ShowMessage(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No,
                       defaultYes ? QMessageBox::Yes : QMessageBox::No) == QMessageBox::Yes;
}

void TfrmPrincipal::openUrl(const QUrl& url) {
    m_seams.openUrl(url);
}

std::optional<QString> TfrmPrincipal::trustedCertificate(const QString& hostPort) {
    const QVariant v = readOwnSetting(u"CertificadosConfiados/"_qs + hostPort);
    if (!v.isValid()) return std::nullopt;
    return v.toString();
}

void TfrmPrincipal::trustCertificate(const QString& hostPort, const QString& sha256) {
    writeOwnSetting(u"CertificadosConfiados/"_qs + hostPort, sha256);
}

bool TfrmPrincipal::offeredTls(const QString& hostPort) {
    return readOwnSetting(u"ServidoresTLS/"_qs + hostPort).toInt() != 0;
}

void TfrmPrincipal::rememberTls(const QString& hostPort) {
    writeOwnSetting(u"ServidoresTLS/"_qs + hostPort, 1);
}

QVariant TfrmPrincipal::readOwnSetting(const QString& key) const {
    return QSettings(m_seams.settingsPath, QSettings::IniFormat).value(key);
}

void TfrmPrincipal::writeOwnSetting(const QString& key, const QVariant& value) {
    // Written at once, so that a killed process loses no decision.
    const SettingsFileWrite writing(m_seams.settingsPath);
    QSettings s(m_seams.settingsPath, QSettings::IniFormat);
    s.setValue(key, value);
    s.sync();
}

void TfrmPrincipal::reportUnhandledError(const AppError& error) {
    AppException(error);
}

void TfrmPrincipal::AppException(const AppError& error) {
    if (QByteArrayView(error.className()) == "ESocketError") {
        ++PendingSocketErrors;
        SweepSocketErrors();
        return;
    }
    ShowMessage(QMessageBox::Critical, u"Excepción no manejada"_qs,
                u"E.ClassName : "_qs + QString::fromLatin1(error.className()) + u"\rMessage : "_qs + error.message());
}

void TfrmPrincipal::CenterOverMain(QWidget* form) {
    form->move(x() + (width() - form->width()) / 2, y() + (height() - form->height()) / 2);
}

void TfrmPrincipal::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    FormResize();
}

void TfrmPrincipal::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // What start-up found wrong is told over the window, once the window manager has placed it.
    if (!m_ruleProblems.isEmpty()) QTimer::singleShot(0, this, [this] { TellRuleProblems(); });
}

QRect PlaceOnScreen(QSize window, const QRect& available) {
    // Room for the title bar and the frame, which the window manager adds around the window.
    constexpr int kFrameTop = 32, kFrameSide = 8;
    const QSize room(std::max(1, available.width() - 2 * kFrameSide),
                     std::max(1, available.height() - kFrameTop - kFrameSide));
    window = window.boundedTo(room);
    const int x = available.x() + kFrameSide + (room.width() - window.width()) / 2;
    const int y = available.y() + kFrameTop + (room.height() - window.height()) / 2;
    return QRect(QPoint(x, y), window);
}

void TfrmPrincipal::FormResize() {
    // Heights from 450 to 499 are kept as they are; below 450 the window grows to 450.
    // A larger font may need a wider window for the button bar than the usual 620.
    const int barLeast = m_barLeftEnd + 75 + btnDesconectar->width() + 45 + 12;
    if (width() < 600 || width() < barLeast || height() < 450) {
        resize(std::max(width() < 600 ? 620 : width(), barLeast), std::max(450, height()));
        return; // the resize comes back here
    }
    const QWidget* client = centralWidget();
    Page95Control->setGeometry(2, 8, client->width() - 4, client->height() - 10);
    PanelBienvenida->setGeometry(Page95Control->geometry());
    const int w = Page95Control->width() - 8;
    PanelBotonera->resize(w, PanelBotonera->height());
    PanelArroba->move(w - 40, PanelArroba->y());
    BevelArroba->move(w - 42, BevelArroba->y());
    // The view modes and Desconectar keep to the right, and never over the buttons on the left.
    const int right = std::max(w - 45, m_barLeftEnd + 75 + btnDesconectar->width());
    btnDesconectar->move(right - btnDesconectar->width(), btnDesconectar->y());
    btnListaTextoDialogo->move(btnDesconectar->x() - 25, btnListaTextoDialogo->y());
    btnListaTexto->move(btnDesconectar->x() - 50, btnListaTexto->y());
    btnSoloLista->move(btnDesconectar->x() - 75, btnSoloLista->y());
    if (!m_closing) {
        for (TAccountTab* tab : std::as_const(Tabs)) {
            tab->page()->placeContent();
            tab->fitCountdownPanel();
        }
    }
    placeButtonBar();
}

void TfrmPrincipal::placeButtonBar() {
    if (Page95Control->count() == 0) return;
    const QWidget* page = Page95Control->currentWidget();
    PanelBotonera->move(PanelBotonera->x(), Page95Control->height() - page->height() + 5);
    PanelBotonera->raise();
}
