// The settings dialog on a real main window: what a showing loads, the key filters, the sound list,
// what "Aceptar" refuses (message, focus) and stores, and that every way out but "Aceptar" discards.
#include "AccountsDialog.h"
#include "FiltersDialog.h"
#include "LoginDialog.h"
#include "QuickConnectDialog.h"
#include "SettingsDialog.h"
#include "WindowDialogs.h"
#include "WindowHarness.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

namespace {
const QString kBadTime =
    u"El texto introducido no corresponde a una hora válida : %1\rEl formato correcto es HH:MM:SS, "
    u"por ejemplo: 0:05:00"_qs;
const QString kBadNumber = u"El texto introducido no corresponde a un número válido : "_qs;
} // namespace

class TestConfig : public QObject {
    Q_OBJECT
    std::unique_ptr<WindowHarness> h;
    TfrmPrincipal* main = nullptr;
    TfrmConfig* d = nullptr;

    QTreeWidgetItem* row(int r) const { return d->ListViewSonidos->topLevelItem(r); }
    void clickRow(int r) {
        d->ListViewSonidos->setCurrentItem(row(r));
        d->ListViewSonidosClick();
    }
    QStringList rows() const {
        QStringList out;
        for (int r = 0; r < d->ListViewSonidos->topLevelItemCount(); ++r)
            out << row(r)->text(0) + u'|' + row(r)->text(1) + u'|' +
                       (TfrmConfig::ShowsLoudspeaker(row(r)) ? u"*"_qs : u""_qs);
        return out;
    }

private slots:
    void init() {
        h = std::make_unique<WindowHarness>();
        main = &h->open();
        d = NewSettingsDialog(main);
    }
    void cleanup() { h.reset(); }

    // Texts seen cut off: each fits its control, with the usual font and with a larger one.
    void textsFitTheirControls_data() {
        QTest::addColumn<int>("pointSize"); // 0: the usual font
        QTest::newRow("usual font") << 0;
        QTest::newRow("larger font") << 14;
    }
    void textsFitTheirControls() {
        QFETCH(int, pointSize);
        const QFont usual = QApplication::font();
        QFont font = usual;
        if (pointSize > 0) font.setPointSize(pointSize);
        QApplication::setFont(font);
        TfrmFiltros* filters = NewFiltersDialog(main);
        TfrmCuentas* accounts = NewAccountsDialog(main);
        TfrmConfig* settings = NewSettingsDialog(main);
        TfrmConexionRapida* quick = NewQuickConnectDialog(main);
        TfrmAcceso* login = accounts->frmAcceso;
        login->cbMetodo->setCurrentIndex(1); // every field shown
        login->cbProveedor->setCurrentIndex(2);
        QApplication::setFont(usual);
        QStringList cut;
        for (QLabel* label : login->labels)
            if (label->sizeHint().width() > label->width()) cut << label->objectName();
        for (QLabel* label : {filters->lblTexto, filters->lblCampo})
            if (label->sizeHint().width() > label->width()) cut << label->objectName();
        for (QPushButton* button : {filters->btnAdd, filters->btnModificar, filters->btnEliminar, filters->btnSalir,
                                    accounts->btnAcceso, quick->btnAcceso})
            if (button->fontMetrics().horizontalAdvance(button->text().remove(u'&')) + 12 > button->width())
                cut << button->objectName();
        for (QLineEdit* delay : {settings->edtRefrescar, settings->edtReintentar})
            if (delay->fontMetrics().horizontalAdvance(u"15:30:00"_qs) + 8 > delay->width()) cut << delay->objectName();
        if (accounts->ListView->fontMetrics().horizontalAdvance(u"65535"_qs) + 8 > accounts->ListView->columnWidth(1))
            cut << u"accounts' port column"_qs;
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(u", "_qs)));
    }

    void defaultsAreShown() {
        d->show();
        QVERIFY(d->rbMostrar3->isChecked());
        QCOMPARE(d->edtIniTop->text(), u"20"_qs);
        QVERIFY(!d->chkConectarTodas->isChecked() && !d->chkMinimizarAlTray->isChecked());
        QVERIFY(d->chkCopiaAntesDeBorrar->isChecked());
        QCOMPARE(d->spnDiasPapelera->value(), 30);
        QCOMPARE(d->spnLimiteDialogo->value(), 16);
        QCOMPARE(d->edtRefrescar->text(), u"0:05:00"_qs);
        QCOMPARE(d->edtReintentar->text(), u"0:10:00"_qs);
        QCOMPARE(rows(), (QStringList{u"Conexión a Buzón, hay mensajes||"_qs, u"Conexión a Buzón, no hay mensajes||"_qs,
                                      u"||"_qs, u"Fallo durante la conexión||"_qs}));
    }

    void settingsAreShownAndStoredBack_data() {
        QTest::addColumn<int>("elementos");
        QTest::addColumn<int>("checked");
        QTest::addColumn<int>("seconds");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("days"); // in the Papelera
        QTest::newRow("list only") << 1 << 1 << 3723 << u"1:02:03"_qs << 1;
        QTest::newRow("list and text") << 2 << 2 << 59 << u"0:00:59"_qs << 30;
        QTest::newRow("anything else is all three") << 7 << 3 << 86399 << u"23:59:59"_qs << 3650;
        QTest::newRow("a day and more") << 3 << 3 << 90000 << u"25:00:00"_qs << 7;
        QTest::newRow("never") << 3 << 3 << 0 << u"0:00:00"_qs << 365;
    }
    void settingsAreShownAndStoredBack() {
        QFETCH(int, elementos);
        QFETCH(int, checked);
        QFETCH(int, seconds);
        QFETCH(QString, shown);
        QFETCH(int, days);
        WindowProbe::Config(main).ElementosEnVentana = elementos;
        WindowProbe::Config(main).segsRechequeoSiConectado = seconds;
        WindowProbe::Config(main).segsReconexionSiDesconectado = seconds + 1;
        WindowProbe::Advanced(main).Pipelining = checked == 1;
        WindowProbe::Advanced(main).CopiaAntesDeBorrar = checked == 2;
        WindowProbe::Advanced(main).DiasPapelera = days;
        WindowProbe::Advanced(main).LimiteDialogoMB = days % 100 + 1;
        d->show();
        QCOMPARE(d->spnLimiteDialogo->value(), days % 100 + 1);
        d->spnLimiteDialogo->setValue(days % 100 + 2);
        QCOMPARE(d->chkPipelining->isChecked(), checked == 1);
        QCOMPARE(d->chkCopiaAntesDeBorrar->isChecked(), checked == 2);
        QCOMPARE(d->spnDiasPapelera->value(), days);
        const QList<QRadioButton*> radios{d->rbMostrar1, d->rbMostrar2, d->rbMostrar3};
        for (int i = 0; i < 3; ++i)
            QCOMPARE(radios[i]->isChecked(), i + 1 == checked);
        QCOMPARE(d->edtRefrescar->text(), shown);
        d->btnAceptar->click();
        QVERIFY(h->boxes.isEmpty());
        QCOMPARE(WindowProbe::Config(main).ElementosEnVentana, checked);
        QCOMPARE(WindowProbe::Config(main).segsRechequeoSiConectado, seconds);
        QCOMPARE(WindowProbe::Config(main).segsReconexionSiDesconectado, seconds + 1);
        QCOMPARE(WindowProbe::Advanced(main).Pipelining, checked == 1);
        QCOMPARE(WindowProbe::Advanced(main).CopiaAntesDeBorrar, checked == 2);
        QCOMPARE(WindowProbe::Advanced(main).DiasPapelera, days);
        QCOMPARE(WindowProbe::Advanced(main).LimiteDialogoMB, days % 100 + 2);
    }

    void textFieldsAreCheckedOnAccept_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("stored"); // -1: refused
        QTest::newRow("line count") << u"edtIniTop"_qs << u"40"_qs << 40;
        QTest::newRow("no line count") << u"edtIniTop"_qs << QString() << -1;
        QTest::newRow("pasted line count") << u"edtIniTop"_qs << u"4O"_qs << -1;
        QTest::newRow("line count too big") << u"edtIniTop"_qs << u"2147483648"_qs << -1;
        QTest::newRow("h:mm:ss") << u"edtRefrescar"_qs << u"1:02:03"_qs << 3723;
        QTest::newRow("m:ss") << u"edtRefrescar"_qs << u"5:00"_qs << 300;
        QTest::newRow("seconds") << u"edtReintentar"_qs << u"300"_qs << 300;
        QTest::newRow("leading colon") << u"edtRefrescar"_qs << u":30"_qs << 30;
        QTest::newRow("minutes add up") << u"edtRefrescar"_qs << u"0:90:00"_qs << 5400;
        QTest::newRow("more than a day") << u"edtReintentar"_qs << u"25:00:00"_qs << 90000;
        QTest::newRow("three colons") << u"edtRefrescar"_qs << u"1:2:3:4"_qs << -1;
        QTest::newRow("empty") << u"edtReintentar"_qs << QString() << -1;
        QTest::newRow("empty seconds") << u"edtRefrescar"_qs << u"5:"_qs << -1;
        QTest::newRow("empty minutes") << u"edtReintentar"_qs << u"1::0"_qs << -1;
        QTest::newRow("pasted letters") << u"edtRefrescar"_qs << u"1:x"_qs << -1;
        QTest::newRow("negative") << u"edtReintentar"_qs << u"-5"_qs << -1;
    }
    void textFieldsAreCheckedOnAccept() {
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(int, stored);
        d->show();
        d->PageControl->setCurrentWidget(d->TabSheet4);
        auto* edit = d->findChild<QLineEdit*>(field);
        edit->setText(text);
        const TConfig before = WindowProbe::Config(main);
        d->btnAceptar->click();
        if (stored < 0) {
            QCOMPARE(h->boxes.size(), 1);
            QCOMPARE(h->boxes[0].icon, QMessageBox::Critical);
            QCOMPARE(h->boxes[0].caption, u"Error de conversión"_qs);
            QCOMPARE(h->boxes[0].text, edit == d->edtIniTop ? kBadNumber + text : kBadTime.arg(text));
            QCOMPARE(d->focusWidget(), edit);
            QCOMPARE(d->PageControl->currentWidget(), d->TabSheet1);
            QVERIFY(d->isVisible());
            QVERIFY(WindowProbe::Config(main) == before && !WindowProbe::SettingsChanged(main));
        } else {
            QVERIFY(h->boxes.isEmpty() && !d->isVisible());
            const TConfig& c = WindowProbe::Config(main);
            QCOMPARE(edit == d->edtIniTop      ? c.iniTop
                     : edit == d->edtRefrescar ? c.segsRechequeoSiConectado
                                               : c.segsReconexionSiDesconectado,
                     stored);
        }
    }

    void keyFilters_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("kept");
        QTest::newRow("digits") << u"edtIniTop"_qs << u"1a2:3 "_qs << u"123"_qs;
        QTest::newRow("time") << u"edtRefrescar"_qs << u"1:0a5-:x00"_qs << u"1:05:00"_qs;
        QTest::newRow("other time") << u"edtReintentar"_qs << u"2;:/30"_qs << u"2:30"_qs;
    }
    void keyFilters() {
        QFETCH(QString, field);
        QFETCH(QString, typed);
        QFETCH(QString, kept);
        d->show();
        auto* edit = d->findChild<QLineEdit*>(field);
        edit->clear();
        QTest::keyClicks(edit, typed);
        QCOMPARE(edit->text(), kept);
        QTest::keyClick(edit, Qt::Key_Backspace);
        QCOMPARE(edit->text(), kept.chopped(1));
        // Pasting is not filtered.
        QGuiApplication::clipboard()->setText(u"a:b"_qs);
        QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(edit->text(), kept.chopped(1) + u"a:b"_qs);
    }

    void soundRowsShowTheirFiles() {
        WindowProbe::Config(main).wavSiTieneMensajes = u"/s/si.wav"_qs;
        WindowProbe::Config(main).wavFalloDuranteConexion = u"/s/fallo.wav"_qs;
        d->show();
        QCOMPARE(rows(), (QStringList{u"Conexión a Buzón, hay mensajes|/s/si.wav|*"_qs,
                                      u"Conexión a Buzón, no hay mensajes||"_qs, u"||"_qs,
                                      u"Fallo durante la conexión|/s/fallo.wav|*"_qs}));
        // A real click on a row, then on the blank spacer row.
        d->PageControl->setCurrentWidget(d->TabSheet4);
        const QRect first = d->ListViewSonidos->visualItemRect(row(0));
        QTest::mouseClick(d->ListViewSonidos->viewport(), Qt::LeftButton, {}, first.center());
        QCOMPARE(d->edtRutaSonido->text(), u"/s/si.wav"_qs);
        QVERIFY(d->btnEliminarSonido->isEnabled() && d->btnEscogerSonido->isEnabled());
        clickRow(2);
        QCOMPARE(d->edtRutaSonido->text(), QString());
        QVERIFY(!d->btnEliminarSonido->isEnabled() && !d->btnEscogerSonido->isEnabled());
        h->fileAnswer = h->soundFile(u"never.wav"_qs);
        d->ListViewSonidosDblClick();
        QCOMPARE(row(2)->text(1), QString()); // the spacer row asks for no file
    }

    void removingASoundStoresAnEmptyPath() {
        WindowProbe::Config(main).wavSiTieneMensajes = u"/s/si.wav"_qs;
        WindowProbe::Config(main).wavNoTieneMensajes = u"/s/no.wav"_qs;
        d->show();
        clickRow(1);
        d->btnEliminarSonido->click();
        QVERIFY(!TfrmConfig::ShowsLoudspeaker(row(1)));
        QCOMPARE(d->edtRutaSonido->text(), u"/s/no.wav"_qs); // kept until the next row click
        QVERIFY(d->btnEliminarSonido->isEnabled());
        d->btnAceptar->click();
        QCOMPARE(WindowProbe::Config(main).wavNoTieneMensajes, QString());
        QCOMPARE(WindowProbe::Config(main).wavSiTieneMensajes, u"/s/si.wav"_qs);
    }

    void choosingASoundPlaysAndStoresIt() {
        const QString chosen = h->soundFile(u"fallo.wav"_qs);
        d->show();
        clickRow(3);
        d->btnEscogerSonido->click(); // cancelled: nothing changes
        QVERIFY(!TfrmConfig::ShowsLoudspeaker(row(3)));
        h->fileAnswer = chosen;
        d->ListViewSonidosDblClick(); // no sound yet: the double click chooses one
        QCOMPARE(d->edtRutaSonido->text(), chosen);
        QVERIFY(TfrmConfig::ShowsLoudspeaker(row(3)));
        QCOMPARE(h->sounds, QStringList{chosen});
        d->ListViewSonidosDblClick(); // now it plays it
        QCOMPARE(h->sounds, (QStringList{chosen, chosen}));
        d->btnAceptar->click();
        QCOMPARE(WindowProbe::Config(main).wavFalloDuranteConexion, chosen);
    }

    void everyControlReachesTheSettingsOnAccept() {
        d->show();
        d->rbMostrar2->setChecked(true);
        d->edtIniTop->setText(u"35"_qs);
        d->chkConectarTodas->setChecked(true);
        d->chkMinimizarAlTray->setChecked(true);
        d->edtRefrescar->setText(u"0:01:00"_qs);
        d->edtReintentar->setText(u"2:00"_qs);
        d->chkPipelining->setChecked(false);
        TConfig expected = WindowProbe::Config(main);
        expected.ElementosEnVentana = 2;
        expected.iniTop = 35;
        expected.ConectarTodosAlArrancar = expected.MinimizarAlTray = true;
        expected.segsRechequeoSiConectado = 60;
        expected.segsReconexionSiDesconectado = 120;
        d->btnAceptar->click();
        QVERIFY(WindowProbe::Config(main) == expected);
        QVERIFY(WindowProbe::SettingsChanged(main));
        QVERIFY(!WindowProbe::Advanced(main).Pipelining);
    }

    void everyOtherWayOutDiscards_data() {
        QTest::addColumn<int>("how");
        QTest::newRow("cancel button") << 0;
        QTest::newRow("escape") << 1;
        QTest::newRow("close box") << 2;
    }
    void everyOtherWayOutDiscards() {
        QFETCH(int, how);
        const TConfig before = WindowProbe::Config(main);
        d->show();
        d->rbMostrar1->setChecked(true);
        d->edtIniTop->setText(u"99"_qs);
        d->chkPipelining->setChecked(false); // on by default
        clickRow(0);
        h->fileAnswer = h->soundFile(u"si.wav"_qs);
        d->btnEscogerSonido->click();
        if (how == 0)
            d->btnCancelar->click();
        else if (how == 1)
            QTest::keyClick(d->edtIniTop, Qt::Key_Escape);
        else
            d->close();
        QVERIFY(!d->isVisible());
        QVERIFY(WindowProbe::Config(main) == before && !WindowProbe::SettingsChanged(main) &&
                WindowProbe::Advanced(main).Pipelining);
        // The next showing starts again from the settings; the page and the path field stay.
        d->show();
        QVERIFY(d->rbMostrar3->isChecked() && d->chkPipelining->isChecked());
        QCOMPARE(d->edtIniTop->text(), u"20"_qs);
        QVERIFY(!TfrmConfig::ShowsLoudspeaker(row(0)) && d->ListViewSonidos->selectedItems().isEmpty());
        QCOMPARE(d->edtRutaSonido->text(), h->fileAnswer);
    }
};

QTEST_MAIN(TestConfig)
#include "tst_config.moc"
