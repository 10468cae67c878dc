// The filters dialog on a real main window: edits change only its rows; "&Salir" writes them back
// into the main window's two lists and into Filtros.dat, byte for byte.
#include "FiltersDialog.h"
#include "RulesDialog.h"
#include "TestFiles.h"
#include "WindowDialogs.h"
#include "WindowHarness.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>
#include <QTreeWidget>

namespace {

const QByteArray kInitial = "[FROM]a\r\n[FROM]b\r\n[SUBJ]c\r\n";

QStringList rows(const QTreeWidget* list) {
    QStringList out;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        out << list->topLevelItem(i)->text(0) + u'|' + list->topLevelItem(i)->text(1);
    return out;
}

void clickRow(QTreeWidget* list, int row) {
    const QPoint at =
        row < 0 ? QPoint(5, list->viewport()->height() - 3) : list->visualItemRect(list->topLevelItem(row)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
}

} // namespace

class TestFiltersDialog : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowHarness> h;
    TfrmPrincipal* w = nullptr;
    TfrmFiltros* d = nullptr;

    void openWith(const QByteArray& file) {
        h->write(u"Filtros.dat"_qs, file);
        w = &h->open();
        d = NewFiltersDialog(w); // owned by the main window
        d->show();
        QVERIFY(QTest::qWaitForWindowExposed(d));
    }

    /** "text=" types into the text field, "text+=" inserts into it (what QTest cannot type), "enter"
     *  presses Enter there, "field=" chooses FROM, SUBJECT or nothing, "click N" (-1: no row), "add",
     *  "modify", "delete", "cancel" (answers the next box). */
    void run(const QStringList& steps) {
        for (const QString& step : steps) {
            if (step.startsWith(u"text="_qs)) {
                d->edtTexto->selectAll();
                QTest::keyClick(d->edtTexto, Qt::Key_Backspace);
                QTest::keyClicks(d->edtTexto, step.mid(5));
            } else if (step.startsWith(u"text+="_qs)) {
                d->edtTexto->insert(step.mid(6));
            } else if (step == u"enter"_qs)
                QTest::keyClick(d->edtTexto, Qt::Key_Return);
            else if (step.startsWith(u"field="_qs))
                d->cbCampo->setCurrentIndex(d->cbCampo->findText(step.mid(6)));
            else if (step.startsWith(u"click "_qs))
                clickRow(d->ListView, step.mid(6).toInt());
            else if (step == u"add"_qs)
                QTest::mouseClick(d->btnAdd, Qt::LeftButton);
            else if (step == u"modify"_qs)
                QTest::mouseClick(d->btnModificar, Qt::LeftButton);
            else if (step == u"delete"_qs)
                QTest::mouseClick(d->btnEliminar, Qt::LeftButton);
            else if (step == u"cancel"_qs)
                h->boxAnswer = QMessageBox::Cancel;
            else
                QFAIL(qPrintable(u"unknown step "_qs + step));
        }
    }

    QStringList boxTexts() const {
        QStringList out;
        for (const WindowHarness::Box& b : h->boxes)
            out << b.caption + u'|' + b.text;
        return out;
    }

private slots:
    void init() { h = std::make_unique<WindowHarness>(); }
    void cleanup() {
        h->close(); // while the harness can still record what the window reports on closing
        h.reset();
    }

    // A selected row shows as a band of the highlight colour with its text in the highlighted
    // text's colour, also while the focus is elsewhere (the text field, a question box).
    void selectedRowIsReadable() {
        openWith(kInitial);
        run({u"click 1"_qs});
        d->edtTexto->setFocus();
        const QRect row = d->ListView->visualItemRect(d->ListView->topLevelItem(1));
        const QImage image = d->ListView->viewport()->grab(row).toImage();
        const QPalette palette = d->ListView->palette();
        const QColor band = palette.color(QPalette::Inactive, QPalette::Highlight);
        const QColor ink = palette.color(QPalette::Inactive, QPalette::HighlightedText);
        int bandPixels = 0, inkPixels = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                bandPixels += c == band;
                inkPixels += std::abs(c.red() - ink.red()) + std::abs(c.green() - ink.green()) +
                                 std::abs(c.blue() - ink.blue()) <
                             60;
            }
        QVERIFY2(bandPixels > image.width() * image.height() / 2, qPrintable(QString::number(bandPixels)));
        QVERIFY2(inkPixels > 3, qPrintable(QString::number(inkPixels)));
    }

    void showingStartsFromTheLists() {
        openWith(kInitial);
        QCOMPARE(rows(d->ListView), (QStringList{u"FROM|a"_qs, u"FROM|b"_qs, u"SUBJ|c"_qs}));
        QCOMPARE(d->edtTexto->text(), QString());
        QCOMPARE(d->focusWidget(), d->edtTexto);
        QCOMPARE(d->cbCampo->currentText(), u"FROM"_qs);
        QVERIFY(!d->btnAdd->isEnabled() && !d->btnModificar->isEnabled() && !d->btnEliminar->isEnabled());
        QTest::keyClicks(d->edtTexto, u"x"_qs);
        QVERIFY(d->btnAdd->isEnabled());
        // Esc does not leave; a new showing forgets the rows of the last one.
        run({u"add"_qs, u"click 0"_qs, u"field=SUBJECT"_qs});
        QTest::keyClick(d, Qt::Key_Escape);
        QVERIFY(d->isVisible());
        d->hide();
        WindowProbe::Filtros(w).Subj << u"d"_qs;
        d->show();
        QCOMPARE(rows(d->ListView), (QStringList{u"FROM|a"_qs, u"FROM|b"_qs, u"SUBJ|c"_qs, u"SUBJ|d"_qs}));
        QCOMPARE(d->edtTexto->text(), QString());
        QCOMPARE(d->cbCampo->currentText(), u"FROM"_qs);
        QVERIFY(!d->btnModificar->isEnabled() && !d->btnEliminar->isEnabled());
        QCOMPARE(h->read(u"Filtros.dat"_qs), kInitial);
    }

    void enterAddsAndLeavesTheTextSelected() {
        openWith({});
        run({u"text=spam"_qs, u"enter"_qs});
        QCOMPARE(rows(d->ListView), QStringList{u"FROM|spam"_qs});
        QCOMPARE(d->edtTexto->selectedText(), u"spam"_qs);
        QTest::keyClicks(d->edtTexto, u"ofertas"_qs); // typing replaces it
        run({u"enter"_qs});
        QCOMPARE(rows(d->ListView), (QStringList{u"FROM|spam"_qs, u"FROM|ofertas"_qs}));
        // Enter on an empty text adds nothing.
        run({u"text="_qs, u"enter"_qs});
        QCOMPARE(d->ListView->topLevelItemCount(), 2);
    }

    void noFieldChosen() {
        openWith(kInitial);
        run({u"click 1"_qs, u"click -1"_qs});
        QCOMPARE(d->edtTexto->text(), QString());
        QCOMPARE(d->cbCampo->currentIndex(), -1);
        QCOMPARE(d->CurrentIndex, 3);
        QVERIFY(!d->btnModificar->isEnabled() && !d->btnEliminar->isEnabled());
        run({u"text=x"_qs, u"enter"_qs});
        QCOMPARE(d->focusWidget(), d->cbCampo); // Enter goes to the field list, adds nothing
        QVERIFY(h->boxes.isEmpty());
        run({u"add"_qs});
        QCOMPARE(boxTexts(), QStringList{u"Imposible añadir|Debe escoger un Campo (from, subj)"_qs});
        QCOMPARE(h->boxes[0].icon, QMessageBox::Critical);
        QCOMPARE(d->ListView->topLevelItemCount(), 3);
        QCOMPARE(d->focusWidget(), d->cbCampo);
    }

    void salirWritesTheRowsBack_data() {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("buttons"); // add, modify, delete before leaving
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QByteArray>("file");
        const QString askB =
            u"Confirmación de eliminación|¿Está seguro de que desea eliminar el filtro: \r\r\"FROM: b\"?"_qs;
        QTest::newRow("nothing changed") << QStringList() << u"000"_qs << QStringList() << kInitial;
        QTest::newRow("Enter twice adds twice")
            << QStringList{u"text=spam"_qs, u"enter"_qs, u"enter"_qs} << u"100"_qs << QStringList()
            << QByteArray("[FROM]a\r\n[FROM]b\r\n[FROM]spam\r\n[FROM]spam\r\n[SUBJ]c\r\n");
        QTest::newRow("SUBJECT is stored as SUBJ")
            << QStringList{u"field=SUBJECT"_qs, u"text=oferta"_qs, u"add"_qs} << u"100"_qs << QStringList()
            << QByteArray("[FROM]a\r\n[FROM]b\r\n[SUBJ]c\r\n[SUBJ]oferta\r\n");
        QTest::newRow("a clicked SUBJ row chooses SUBJECT")
            << QStringList{u"click 2"_qs, u"text= d "_qs, u"add"_qs} << u"101"_qs << QStringList()
            << QByteArray("[FROM]a\r\n[FROM]b\r\n[SUBJ]c\r\n[SUBJ] d \r\n");
        QTest::newRow("no field chosen adds nothing")
            << QStringList{u"click -1"_qs, u"text=x"_qs, u"add"_qs} << u"100"_qs
            << QStringList{u"Imposible añadir|Debe escoger un Campo (from, subj)"_qs} << kInitial;
        QTest::newRow("modify FROM into SUBJ")
            << QStringList{u"click 0"_qs, u"field=SUBJECT"_qs, u"text=z"_qs, u"modify"_qs} << u"111"_qs << QStringList()
            << QByteArray("[FROM]b\r\n[SUBJ]z\r\n[SUBJ]c\r\n");
        QTest::newRow("modify to an empty text") << QStringList{u"click 2"_qs, u"text="_qs, u"modify"_qs} << u"011"_qs
                                                 << QStringList() << QByteArray("[FROM]a\r\n[FROM]b\r\n[SUBJ]\r\n");
        QTest::newRow("delete") << QStringList{u"click 1"_qs, u"delete"_qs} << u"100"_qs << QStringList{askB}
                                << QByteArray("[FROM]a\r\n[SUBJ]c\r\n");
        QTest::newRow("delete cancelled")
            << QStringList{u"cancel"_qs, u"click 1"_qs, u"delete"_qs} << u"111"_qs << QStringList{askB} << kInitial;
        const QString chars = u"Caracteres no admitidos|El texto contiene caracteres que no se pueden guardar: %1\r"
                              u"Sólo se admiten los caracteres de Europa occidental (Windows-1252)."_qs;
        QTest::newRow("add text outside Windows-1252") << QStringList{u"text+=Łódź"_qs, u"enter"_qs} << u"100"_qs
                                                       << QStringList{chars.arg(u"Ł, ź"_qs)} << kInitial;
        QTest::newRow("modify to text outside Windows-1252")
            << QStringList{u"click 0"_qs, u"text="_qs, u"text+=ő"_qs, u"modify"_qs} << u"111"_qs
            << QStringList{chars.arg(u"ő"_qs)} << kInitial;
        QTest::newRow("delete every row")
            << QStringList{u"click 0"_qs, u"delete"_qs, u"click 0"_qs, u"delete"_qs, u"click 0"_qs, u"delete"_qs}
            << u"100"_qs
            << QStringList{u"Confirmación de eliminación|¿Está seguro de que desea eliminar el filtro: \r\r\"FROM: a\"?"_qs,
                           askB,
                           u"Confirmación de eliminación|¿Está seguro de que desea eliminar el filtro: \r\r\"SUBJ: c\"?"_qs}
            << QByteArray();
    }
    void salirWritesTheRowsBack() {
        QFETCH(QStringList, steps);
        QFETCH(QString, buttons);
        QFETCH(QStringList, boxes);
        QFETCH(QByteArray, file);
        openWith(kInitial);
        run(steps);
        QString states;
        for (const QPushButton* b : {d->btnAdd, d->btnModificar, d->btnEliminar})
            states += b->isEnabled() ? u'1' : u'0';
        QCOMPARE(states, buttons);
        QCOMPARE(boxTexts(), boxes);
        // Adding and modifying leave the text as typed.
        QString typed;
        for (const QString& step : steps) {
            if (step.startsWith(u"text="_qs))
                typed = step.mid(5);
            else if (step.startsWith(u"text+="_qs))
                typed += step.mid(6);
        }
        if (!typed.isEmpty()) QCOMPARE(d->edtTexto->text(), typed);
        // Until "&Salir" nothing outside the dialog changed.
        QCOMPARE(h->read(u"Filtros.dat"_qs), kInitial);
        QCOMPARE(WindowProbe::Filtros(w).From, (QStringList{u"a"_qs, u"b"_qs}));
        QVERIFY(!WindowProbe::FiltersChanged(w));
        QTest::mouseClick(d->btnSalir, Qt::LeftButton);
        QVERIFY(!d->isVisible());
        QCOMPARE(h->read(u"Filtros.dat"_qs), file);
        QVERIFY(WindowProbe::FiltersChanged(w));
        TFiltros expected;
        ParseFiltersData(file, expected);
        QCOMPARE(WindowProbe::Filtros(w).From, expected.From);
        QCOMPARE(WindowProbe::Filtros(w).Subj, expected.Subj);
    }

    void failedSaveIsReportedAndTheListsKeepTheRows() {
        openWith(kInitial);
        QVERIFY(QFile::remove(h->path(u"Filtros.dat"_qs)));
        QVERIFY(QDir(h->path({})).mkdir(u"Filtros.dat"_qs));
        run({u"click 0"_qs, u"delete"_qs});
        h->boxes.clear();
        QTest::mouseClick(d->btnSalir, Qt::LeftButton);
        QCOMPARE(h->boxes.size(), 1);
        QCOMPARE(h->boxes[0].caption, u"Excepción no manejada"_qs);
        QVERIFY(h->boxes[0].text.startsWith(u"E.ClassName : EInOutError\r"_qs));
        QCOMPARE(WindowProbe::Filtros(w).From, QStringList{u"b"_qs});
        QVERIFY(!d->isVisible());
        // The changed lists are saved again at the end of the run.
        QVERIFY(QDir(h->path({})).rmdir(u"Filtros.dat"_qs));
        h->close();
        QCOMPARE(h->read(u"Filtros.dat"_qs), QByteArray("[FROM]b\r\n[SUBJ]c\r\n"));
    }

    void rulesDialogListsBadLinesTestsAHeaderAndSaves() {
        w = &h->open();
        WindowProbe::Filtros(w).Subj = {u"oferta"_qs};
        TfrmReglas* r = WindowProbe::frmReglas(w);
        r->edtReglas->setPlainText(u"# lo de siempre\nmarcar Subject contiene grande\npermitir Frm\n"
                                   "marcar Subject expresion (\n"_qs);
        r->edtCabecera->setPlainText(u"From: a@x.es\nSubject: Oferta grande\n"_qs);
        r->checkNow();
        QCOMPARE(r->lstProblemas->count(), 2);
        QVERIFY(r->lstProblemas->item(0)->text().startsWith(u"Línea 3"_qs));
        QVERIFY(r->lstProblemas->item(1)->text().startsWith(u"Línea 4, posición 27: la expresión no es válida ("_qs));
        // The lists come before the rules.
        QCOMPARE(r->lblResultado->text(), u"Se marcaría para borrar por: [SUBJ]oferta"_qs);
        const mode_t previous = ::umask(0);
        const auto restore = qScopeGuard([previous] { ::umask(previous); });
        r->btnGuardarClick();
        QCOMPARE(h->read(u"Reglas.dat"_qs), QByteArray("# lo de siempre\nmarcar Subject contiene grande\npermitir "
                                                       "Frm\nmarcar Subject expresion (\n"));
        QCOMPARE(modeOf(h->path(u"Reglas.dat"_qs)), 0600); // with no umask at all
        QCOMPARE(WindowProbe::Rules(w).rules().size(), 1); // the window applies what was saved
        QVERIFY(h->boxes.isEmpty());                       // the dialog showed the problems: no box about them
    }
};

QTEST_MAIN(TestFiltersDialog)
#include "tst_dialogs_filters.moc"
