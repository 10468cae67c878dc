#include "SettingsDialog.h"

#include "Artwork.h"
#include "DialogFit.h"
#include "Errors.h"
#include "Settings.h"
#include "TextAndTime.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyle>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeWidget>

namespace {

constexpr int kPathColumn = 1; // "Ruta": the row's file, never visible
constexpr int kHasSound = Qt::UserRole;

const QString kSoundWithMail = u"Conexión a Buzón, hay mensajes"_qs;
const QString kSoundNoMail = u"Conexión a Buzón, no hay mensajes"_qs;
const QString kSoundFailure = u"Fallo durante la conexión"_qs;
enum SoundRow { RowWithMail = 0, RowNoMail = 1, RowFailure = 3 }; // row 2 is a blank spacer

/** A line edit `width` wide, wider where `widest` (the longest text it must show whole) needs it. */
QLineEdit* makeEdit(QWidget* parent, const QString& name, const QString& text, int width, const QString& widest = {}) {
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(name);
    const int needed = widest.isEmpty() ? 0 : edit->fontMetrics().horizontalAdvance(widest) + 16;
    edit->setFixedWidth(std::max(width, needed));
    return edit;
}

template <class Button> Button* makeButton(QWidget* parent, const QString& name, const QString& text) {
    auto* button = new Button(parent);
    button->setObjectName(name);
    button->setText(text);
    return button;
}

} // namespace

TfrmConfig::TfrmConfig(const DialogContext& context, TConfig& config, TAdvancedSettings& advanced,
                       std::function<void()> settingsChanged)
    : QDialog(context.owner), m_messageBox(context.messageBox), m_openFileName(context.openFileName), m_config(config),
      m_advanced(advanced), m_settingsChanged(std::move(settingsChanged)) {
    setModal(true);
    setWindowTitle(u"Configuración"_qs);
    m_loudspeaker = QIcon(MakeLoudspeakerImage());
    // Rows without a sound show an empty picture of the same size, so that every caption lines up.
    QPixmap blank(13, 14);
    blank.fill(Qt::transparent);
    m_noSound = QIcon(blank);

    PageControl = new QTabWidget(this);
    PageControl->setObjectName(u"PageControl"_qs);
    PageControl->addTab(buildGeneralPage(), u"General"_qs);
    PageControl->addTab(buildSoundsPage(), u"Sonidos"_qs);

    btnAceptar = makeButton<QPushButton>(this, u"btnAceptar"_qs, u" &Aceptar "_qs);
    btnAceptar->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    btnCancelar = makeButton<QPushButton>(this, u"btnCancelar"_qs, u" &Cancelar "_qs);
    btnCancelar->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
    // Enter does not accept: only the buttons do. Escape cancels, as in every dialog.
    for (QPushButton* b : {btnAceptar, btnCancelar})
        b->setAutoDefault(false);
    connect(btnAceptar, &QPushButton::clicked, this, &TfrmConfig::btnAceptarClick);
    connect(btnCancelar, &QPushButton::clicked, this, &TfrmConfig::btnCancelarClick);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnAceptar);
    buttons->addWidget(btnCancelar);
    auto* root = new QVBoxLayout(this);
    root->addWidget(PageControl);
    root->addLayout(buttons);
    // A fixed border: the dialog takes the size its contents need.
    root->setSizeConstraint(QLayout::SetFixedSize);
    adjustSize();
    FitToScreen(this);
}

QWidget* TfrmConfig::buildGeneralPage() {
    TabSheet1 = new QWidget;
    TabSheet1->setObjectName(u"TabSheet1"_qs);
    auto* page = new QVBoxLayout(TabSheet1);

    Label1 = new QLabel(u"Al conectar con una Cuenta, mostrar..."_qs, TabSheet1);
    Label1->setObjectName(u"Label1"_qs);
    page->addWidget(Label1);
    auto* views = new QVBoxLayout;
    views->setContentsMargins(12, 0, 0, 0);
    rbMostrar1 = makeButton<QRadioButton>(TabSheet1, u"rbMostrar1"_qs, u"Sólo la lista de mensajes"_qs);
    rbMostrar2 =
        makeButton<QRadioButton>(TabSheet1, u"rbMostrar2"_qs, u"La lista de mensajes y el texto de los mensajes"_qs);
    rbMostrar3 = makeButton<QRadioButton>(TabSheet1, u"rbMostrar3"_qs,
                                          u"La lista de mensajes, el texto, y el diálogo con el Serv."_qs);
    rbMostrar3->setChecked(true);
    for (QRadioButton* rb : {rbMostrar1, rbMostrar2, rbMostrar3})
        views->addWidget(rb);
    page->addLayout(views);
    page->addSpacing(6);

    // The line count is typed into the gap of the sentence around it.
    auto* topLine = new QWidget(TabSheet1);
    Label2 = new QLabel(u"Al conectar al Buzón, cargar            líneas de cada mensaje"_qs, topLine);
    Label2->setObjectName(u"Label2"_qs);
    edtIniTop = makeEdit(topLine, u"edtIniTop"_qs, u"20"_qs, 28);
    placeLineCount();
    page->addWidget(topLine);

    chkConectarTodas = makeButton<QCheckBox>(TabSheet1, u"chkConectarTodas"_qs,
                                             u"Conectar con todas las cuentas al iniciar el programa"_qs);
    chkMinimizarAlTray = makeButton<QCheckBox>(TabSheet1, u"chkMinimizarAlTray"_qs, u"Minimizar al Tray"_qs);
    page->addWidget(chkConectarTodas);
    page->addWidget(chkMinimizarAlTray);
    page->addSpacing(6);

    auto* delays = new QGridLayout;
    Label3 = new QLabel(u"Refrescar el contenido del Buzón cada:"_qs, TabSheet1);
    Label3->setObjectName(u"Label3"_qs);
    edtRefrescar = makeEdit(TabSheet1, u"edtRefrescar"_qs, u"6:66:66"_qs, 50, u"00:00:00"_qs);
    Label4 = new QLabel(u"Si no se puede conectar, reintenta cada:"_qs, TabSheet1);
    Label4->setObjectName(u"Label4"_qs);
    edtReintentar = makeEdit(TabSheet1, u"edtReintentar"_qs, u"6:66:66"_qs, 50, u"00:00:00"_qs);
    delays->addWidget(Label3, 0, 0);
    delays->addWidget(edtRefrescar, 0, 1);
    delays->addWidget(Label4, 1, 0);
    delays->addWidget(edtReintentar, 1, 1);
    delays->setColumnStretch(2, 1);
    page->addLayout(delays);
    page->addSpacing(6);

    chkPipelining = makeButton<QCheckBox>(TabSheet1, u"chkPipelining"_qs,
                                          u"Pedir las cabeceras en bloque (más rápido con servidores lejanos)"_qs);
    page->addWidget(chkPipelining);
    chkNotificaciones =
        makeButton<QCheckBox>(TabSheet1, u"chkNotificaciones"_qs, u"Avisar en el escritorio cuando llega correo"_qs);
    page->addWidget(chkNotificaciones);
    // The Papelera: a copy of each message before the server deletes it, kept so many days.
    chkCopiaAntesDeBorrar = makeButton<QCheckBox>(TabSheet1, u"chkCopiaAntesDeBorrar"_qs,
                                                  u"&Guardar una copia antes de borrar un mensaje"_qs);
    page->addWidget(chkCopiaAntesDeBorrar);
    // A number with its caption on one line.
    const auto numberLine = [&](QLabel*& label, QSpinBox*& spin, const QString& name, const QString& caption, int least,
                                int most) {
        auto* line = new QHBoxLayout;
        label = new QLabel(caption, TabSheet1);
        label->setObjectName(u"lbl"_qs + name);
        spin = new QSpinBox(TabSheet1);
        spin->setObjectName(u"spn"_qs + name);
        spin->setRange(least, most);
        label->setBuddy(spin);
        line->addWidget(label);
        line->addWidget(spin);
        line->addStretch();
        page->addLayout(line);
    };
    numberLine(lblDiasPapelera, spnDiasPapelera, u"DiasPapelera"_qs,
               u"&Días que se guarda cada copia en la papelera:"_qs, kMinDiasPapelera, kMaxDiasPapelera);
    // Each tab's dialogue log keeps so much text: past it the oldest lines go.
    numberLine(lblLimiteDialogo, spnLimiteDialogo, u"LimiteDialogo"_qs,
               u"&Límite del registro de diálogo de cada cuenta (MB):"_qs, kMinLimiteDialogoMB, kMaxLimiteDialogoMB);
    page->addStretch();

    for (QLineEdit* edit : {edtIniTop, edtRefrescar, edtReintentar})
        edit->installEventFilter(this);
    return TabSheet1;
}

void TfrmConfig::placeLineCount() {
    QWidget* topLine = Label2->parentWidget();
    const QString caption = Label2->text();
    const qsizetype gapStart = caption.indexOf(u"  "_qs);
    qsizetype gapEnd = gapStart;
    while (caption[gapEnd] == u' ')
        ++gapEnd;
    const QFontMetrics metrics = Label2->fontMetrics();
    const int gapCentre =
        (metrics.horizontalAdvance(caption.left(gapStart)) + metrics.horizontalAdvance(caption.left(gapEnd))) / 2;
    const int lineHeight = std::max(edtIniTop->sizeHint().height(), Label2->sizeHint().height());
    Label2->setGeometry(0, (lineHeight - Label2->sizeHint().height()) / 2, Label2->sizeHint().width(),
                        Label2->sizeHint().height());
    edtIniTop->setGeometry(gapCentre - edtIniTop->width() / 2, 0, edtIniTop->width(), lineHeight);
    topLine->setFixedHeight(lineHeight);
    topLine->setMinimumWidth(Label2->sizeHint().width());
}

void TfrmConfig::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() != QEvent::FontChange) return;
    // A change of the desktop's font: what was measured for the old one is measured again.
    placeLineCount();
    for (QLineEdit* delay : {edtRefrescar, edtReintentar})
        delay->setFixedWidth(std::max(50, delay->fontMetrics().horizontalAdvance(u"00:00:00"_qs) + 16));
}

QWidget* TfrmConfig::buildSoundsPage() {
    TabSheet4 = new QWidget;
    TabSheet4->setObjectName(u"TabSheet4"_qs);
    auto* page = new QVBoxLayout(TabSheet4);

    ListViewSonidos = new QTreeWidget(TabSheet4);
    ListViewSonidos->setObjectName(u"ListViewSonidos"_qs);
    ListViewSonidos->setHeaderLabels({u"Nombre"_qs, u"Ruta"_qs});
    ListViewSonidos->setHeaderHidden(true);
    ListViewSonidos->header()->setStretchLastSection(false);
    ListViewSonidos->setRootIsDecorated(false);
    ListViewSonidos->setItemsExpandable(false);
    ListViewSonidos->setSelectionMode(QAbstractItemView::SingleSelection);
    ListViewSonidos->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListViewSonidos->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListViewSonidos->setIconSize(QSize(13, 14));
    ListViewSonidos->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ListViewSonidos->installEventFilter(this);
    connect(ListViewSonidos, &QTreeWidget::itemClicked, this, &TfrmConfig::ListViewSonidosClick);
    connect(ListViewSonidos, &QTreeWidget::itemDoubleClicked, this, &TfrmConfig::ListViewSonidosDblClick);
    page->addWidget(ListViewSonidos);

    edtRutaSonido = new QLineEdit(TabSheet4);
    edtRutaSonido->setObjectName(u"edtRutaSonido"_qs);
    btnEscogerSonido = makeButton<QToolButton>(TabSheet4, u"btnEscogerSonido"_qs, u"..."_qs);
    btnEscogerSonido->setToolTip(u"Escoger archivo de Sonido..."_qs);
    btnEscogerSonido->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton));
    btnEliminarSonido = makeButton<QToolButton>(TabSheet4, u"btnEliminarSonido"_qs, u"X"_qs);
    btnEliminarSonido->setToolTip(u"Eliminar Sonido..."_qs);
    btnEliminarSonido->setIcon(style()->standardIcon(QStyle::SP_TrashIcon));
    btnEliminarSonido->setEnabled(false);
    for (QToolButton* b : {btnEscogerSonido, btnEliminarSonido})
        b->setAutoRaise(true);
    connect(btnEscogerSonido, &QToolButton::clicked, this, &TfrmConfig::btnEscogerSonidoClick);
    connect(btnEliminarSonido, &QToolButton::clicked, this, &TfrmConfig::btnEliminarSonidoClick);
    auto* pathLine = new QHBoxLayout;
    pathLine->addWidget(edtRutaSonido);
    pathLine->addWidget(btnEscogerSonido);
    pathLine->addWidget(btnEliminarSonido);
    page->addLayout(pathLine);
    page->addStretch();
    return TabSheet4;
}

// --- Showing -------------------------------------------------------------------------------------

void TfrmConfig::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Only the program's own showings reload; a window restored by the desktop keeps its edits.
    if (!event->spontaneous()) FormShow();
}

void TfrmConfig::FormShow() {
    m_initialDir = QCoreApplication::applicationDirPath();
    LoadFromSettings();
}

QString TfrmConfig::TextOfDelay(int seconds) {
    const int n = std::max(0, seconds);
    return u"%1:%2:%3"_qs.arg(n / 3600)
        .arg(n % 3600 / 60, 2, 10, QLatin1Char('0'))
        .arg(n % 60, 2, 10, QLatin1Char('0'));
}

int TfrmConfig::DelayOfText(const QString& text) {
    try {
        return SegundosDeTexto(text);
    } catch (const EConvertError&) {
        return -1; // an empty or non-numeric field ("5:", "1::0", "1:x") is no time either
    }
}

void TfrmConfig::LoadFromSettings() {
    const TConfig& c = m_config;
    (c.ElementosEnVentana == 1 ? rbMostrar1 : c.ElementosEnVentana == 2 ? rbMostrar2 : rbMostrar3)->setChecked(true);
    edtIniTop->setText(QString::number(c.iniTop));
    chkConectarTodas->setChecked(c.ConectarTodosAlArrancar);
    chkMinimizarAlTray->setChecked(c.MinimizarAlTray);
    edtRefrescar->setText(TextOfDelay(c.segsRechequeoSiConectado));
    edtReintentar->setText(TextOfDelay(c.segsReconexionSiDesconectado));
    chkPipelining->setChecked(m_advanced.Pipelining);
    chkNotificaciones->setChecked(m_advanced.Notificaciones);
    chkCopiaAntesDeBorrar->setChecked(m_advanced.CopiaAntesDeBorrar);
    spnDiasPapelera->setValue(m_advanced.DiasPapelera);
    spnLimiteDialogo->setValue(m_advanced.LimiteDialogoMB);
    FillSoundList();
}

// --- The sound list ------------------------------------------------------------------------------

void TfrmConfig::FillSoundList() {
    ListViewSonidos->clear();
    fitSoundColumns();
    const TConfig& c = m_config;
    AddSoundRow(kSoundWithMail, c.wavSiTieneMensajes);
    AddSoundRow(kSoundNoMail, c.wavNoTieneMensajes);
    AddSoundRow(QString(), QString());
    AddSoundRow(kSoundFailure, c.wavFalloDuranteConexion);
}

void TfrmConfig::fitSoundColumns() {
    ListViewSonidos->setColumnWidth(0, ListViewSonidos->width() - 20);
    ListViewSonidos->setColumnWidth(kPathColumn, 0);
}

void TfrmConfig::AddSoundRow(const QString& caption, const QString& path) {
    auto* row = new QTreeWidgetItem(ListViewSonidos, QStringList{caption});
    setRowSound(row, path);
}

void TfrmConfig::setRowSound(QTreeWidgetItem* row, const QString& path) {
    row->setText(kPathColumn, path);
    row->setData(0, kHasSound, !path.isEmpty());
    row->setIcon(0, path.isEmpty() ? m_noSound : m_loudspeaker);
}

bool TfrmConfig::ShowsLoudspeaker(const QTreeWidgetItem* row) {
    return row->data(0, kHasSound).toBool();
}

QTreeWidgetItem* TfrmConfig::selectedRow() const {
    for (int r = 0; r < ListViewSonidos->topLevelItemCount(); ++r)
        if (ListViewSonidos->topLevelItem(r)->isSelected()) return ListViewSonidos->topLevelItem(r);
    return nullptr;
}

void TfrmConfig::ListViewSonidosClick() {
    const QTreeWidgetItem* row = selectedRow();
    if (!row) return;
    edtRutaSonido->setText(row->text(kPathColumn));
    btnEliminarSonido->setEnabled(ShowsLoudspeaker(row));
    btnEscogerSonido->setEnabled(!row->text(0).isEmpty());
}

void TfrmConfig::ListViewSonidosDblClick() {
    ListViewSonidosClick();
    if (!edtRutaSonido->text().isEmpty())
        ReproducirSonido(edtRutaSonido->text());
    else if (btnEscogerSonido->isEnabled())
        btnEscogerSonidoClick();
}

void TfrmConfig::btnEscogerSonidoClick() {
    QTreeWidgetItem* row = selectedRow();
    if (!row) return;
    const QString current = edtRutaSonido->text();
    QString start = m_initialDir;
    if (!current.isEmpty()) {
        // Open where the current file is, with that file proposed.
        m_initialDir = QFileInfo(current).path();
        start = current;
    }
    const QString chosen = m_openFileName(this, u"Escoja archivo de Sonido para: "_qs + row->text(0), start,
                                          u"Archivos de Sonido (*.wav);;Todos (*.*)"_qs);
    if (chosen.isEmpty()) return;
    edtRutaSonido->setText(chosen);
    setRowSound(row, chosen);
    ReproducirSonido(chosen);
}

void TfrmConfig::btnEliminarSonidoClick() {
    // The path field and the button keep their state until the next row click.
    if (QTreeWidgetItem* row = selectedRow()) setRowSound(row, QString());
}

// --- Key filters ---------------------------------------------------------------------------------

void TfrmConfig::edtKeyPressSoloNumeros(QChar& key) {
    const char16_t c = key.unicode();
    if (c != u'\b' && (c < u'0' || c > u'9')) key = QChar();
}

void TfrmConfig::edtKeyPressHora(QChar& key) {
    if (key != u':') edtKeyPressSoloNumeros(key);
}

bool TfrmConfig::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ListViewSonidos && event->type() == QEvent::Resize) {
        fitSoundColumns();
    } else if (event->type() == QEvent::KeyPress &&
               (watched == edtIniTop || watched == edtRefrescar || watched == edtReintentar)) {
        // Only typed characters are filtered: control keys, shortcuts (Ctrl+V pastes) and editing
        // keys pass, so pasted text is not checked here but by "Aceptar".
        const auto* key = static_cast<QKeyEvent*>(event);
        const QString text = key->text();
        if (text.size() != 1 || (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)))
            return QDialog::eventFilter(watched, event);
        QChar typed = text.front();
        if (!typed.isPrint() && typed != u'\b') return QDialog::eventFilter(watched, event);
        if (watched == edtIniTop)
            edtKeyPressSoloNumeros(typed);
        else
            edtKeyPressHora(typed);
        if (typed.isNull()) return true;
    }
    return QDialog::eventFilter(watched, event);
}

// --- Accepting -----------------------------------------------------------------------------------

void TfrmConfig::refuse(QLineEdit* field, const QString& text) {
    m_messageBox(this, QMessageBox::Critical, u"Error de conversión"_qs, text, QMessageBox::Ok, QMessageBox::NoButton);
    // The three fields live on the first page: bring it to the front before focusing.
    PageControl->setCurrentWidget(TabSheet1);
    field->setFocus();
    field->selectAll();
}

void TfrmConfig::btnAceptarClick() {
    try {
        ParseInt32(edtIniTop->text());
    } catch (const EConvertError&) {
        refuse(edtIniTop, u"El texto introducido no corresponde a un número válido : "_qs + edtIniTop->text());
        return;
    }
    for (QLineEdit* field : {edtRefrescar, edtReintentar}) {
        if (DelayOfText(field->text()) < 0) {
            refuse(field, u"El texto introducido no corresponde a una hora válida : "_qs + field->text() +
                              u"\rEl formato correcto es HH:MM:SS, por ejemplo: 0:05:00"_qs);
            return;
        }
    }
    ApplyToSettings();
    accept();
    m_settingsChanged();
}

void TfrmConfig::ApplyToSettings() {
    TConfig& c = m_config;
    c.ElementosEnVentana = rbMostrar1->isChecked() ? 1 : rbMostrar2->isChecked() ? 2 : 3;
    c.iniTop = ParseInt32(edtIniTop->text());
    c.ConectarTodosAlArrancar = chkConectarTodas->isChecked();
    c.MinimizarAlTray = chkMinimizarAlTray->isChecked();
    c.segsRechequeoSiConectado = DelayOfText(edtRefrescar->text());
    c.segsReconexionSiDesconectado = DelayOfText(edtReintentar->text());
    ApplySounds();
    m_advanced.Pipelining = chkPipelining->isChecked();
    m_advanced.Notificaciones = chkNotificaciones->isChecked();
    m_advanced.CopiaAntesDeBorrar = chkCopiaAntesDeBorrar->isChecked();
    m_advanced.DiasPapelera = spnDiasPapelera->value();
    m_advanced.LimiteDialogoMB = spnLimiteDialogo->value();
}

void TfrmConfig::ApplySounds() {
    TConfig& c = m_config;
    c.wavSiTieneMensajes = ListViewSonidos->topLevelItem(RowWithMail)->text(kPathColumn);
    c.wavNoTieneMensajes = ListViewSonidos->topLevelItem(RowNoMail)->text(kPathColumn);
    c.wavFalloDuranteConexion = ListViewSonidos->topLevelItem(RowFailure)->text(kPathColumn);
}

void TfrmConfig::btnCancelarClick() {
    reject();
}
