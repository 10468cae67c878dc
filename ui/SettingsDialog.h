// The settings dialog "Configuración": what a new tab shows, the lines of each header request,
// start-up and tray behaviour, the re-check and reconnection delays, the three sounds, whether
// headers are asked for in blocks, and the copies kept before deleting. Every showing reloads the
// controls from the settings records it is given; only "Aceptar" writes them back, and has the
// settings file saved at once.
#pragma once

#include "DialogContext.h"

#include <QDialog>
#include <QIcon>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
struct TAdvancedSettings;
struct TConfig;

class TfrmConfig final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TfrmConfig)
public:
    /** @short Builds the dialog, hidden and modal, owned by context.owner, over the settings
     *  `config` and `advanced`; `settingsChanged` is called once "Aceptar" has written them (to
     *  save them). Sound files are chosen through context.openFileName. */
    TfrmConfig(const DialogContext& context, TConfig& config, TAdvancedSettings& advanced,
               std::function<void()> settingsChanged);

    /** @short Shows the dialog modally; Accepted when the settings were applied. */
    int ShowModal() { return exec(); }

    /** @short A delay as "h:mm:ss", hours as many as it takes (90000 is "25:00:00"); a delay of
     *  0 or less (never) as "0:00:00". */
    static QString TextOfDelay(int seconds);
    /** @short The seconds of "H:MM:SS", "M:SS" or "S" (fields add up without range limits); a
     *  negative result for a text that is no such time: empty, three colons, an empty or
     *  non-numeric field. */
    static int DelayOfText(const QString& text);
    /** @short Whether the row shows the loudspeaker, i.e. has a sound file. */
    static bool ShowsLoudspeaker(const QTreeWidgetItem* row);

    void FormShow();
    void ListViewSonidosClick();
    void ListViewSonidosDblClick();
    void btnEscogerSonidoClick();
    void btnEliminarSonidoClick();
    /** Key filters: a key set to null is dropped. */
    void edtKeyPressSoloNumeros(QChar& key);
    void edtKeyPressHora(QChar& key);
    void btnAceptarClick();
    void btnCancelarClick();

    QTabWidget* PageControl = nullptr;
    QWidget* TabSheet1 = nullptr;
    QLabel* Label1 = nullptr;
    QRadioButton* rbMostrar1 = nullptr;
    QRadioButton* rbMostrar2 = nullptr;
    QRadioButton* rbMostrar3 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* edtIniTop = nullptr;
    QCheckBox* chkConectarTodas = nullptr;
    QCheckBox* chkMinimizarAlTray = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* edtRefrescar = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* edtReintentar = nullptr;
    QCheckBox* chkPipelining = nullptr;
    QCheckBox* chkNotificaciones = nullptr;
    QCheckBox* chkCopiaAntesDeBorrar = nullptr;
    QLabel* lblDiasPapelera = nullptr;
    QSpinBox* spnDiasPapelera = nullptr;
    QLabel* lblLimiteDialogo = nullptr;
    QSpinBox* spnLimiteDialogo = nullptr;
    QWidget* TabSheet4 = nullptr;
    QTreeWidget* ListViewSonidos = nullptr;
    QLineEdit* edtRutaSonido = nullptr;
    QToolButton* btnEscogerSonido = nullptr;
    QToolButton* btnEliminarSonido = nullptr;
    QPushButton* btnAceptar = nullptr;
    QPushButton* btnCancelar = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QWidget* buildGeneralPage();
    QWidget* buildSoundsPage();
    /** The line count's field in the gap of the sentence around it. */
    void placeLineCount();
    void LoadFromSettings();
    void FillSoundList();
    void AddSoundRow(const QString& caption, const QString& path);
    void setRowSound(QTreeWidgetItem* row, const QString& path);
    void fitSoundColumns();
    QTreeWidgetItem* selectedRow() const;
    void ApplyToSettings();
    void ApplySounds();
    /** @short The conversion error box, then the focus into the field. */
    void refuse(QLineEdit* field, const QString& text);

    MessageBoxSeam m_messageBox;
    decltype(DialogContext::openFileName) m_openFileName;
    TConfig& m_config;
    TAdvancedSettings& m_advanced;
    std::function<void()> m_settingsChanged;
    QString m_initialDir; ///< where the file dialog opens when the row has no sound yet
    QIcon m_loudspeaker;
    QIcon m_noSound;
};
