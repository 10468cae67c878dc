// The commands of a tab's message list and the filtering run, on the real window with fake sockets.
#include "AccountWidgets.h"
#include "FakeMailbox.h"
#include "ListRows.h"
#include "PasswordScrambling.h"
#include "Pop3Session.h"
#include "RecipientsWindow.h"
#include "RulesDialog.h"
#include "SettingsDialog.h"
#include "StyledTextView.h"
#include "WindowHarness.h"

#include <QCheckBox>
#include <QDir>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

class TestListCommands : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowHarness> h;
    TfrmPrincipal* w = nullptr;
    FakeSocket* s = nullptr;
    TAccountTab* tab = nullptr;

    /** The window, its sessions deleting with DELE alone: the copies before it are tested apart. */
    TfrmPrincipal* openWindow() {
        w = &h->open();
        WindowProbe::Advanced(w).CopiaAntesDeBorrar = false;
        return w;
    }
    void openWith(const QList<FakeMessage>& box) {
        openWindow();
        WindowProbe::QuickConnect(w, u"pop.x.es"_qs, u"ana"_qs, EncodePassword(u"p"_qs), 110);
        s = h->sockets.last();
        tab = WindowProbe::Tabs(w).first();
        serveLogin(s, box);
        h->sounds.clear();
    }
    void select(const QList<int>& rows) {
        tab->list()->clearSelection();
        for (int r : rows)
            SelectRow(tab->list(), r);
    }
    QStringList captions() const {
        QStringList out;
        for (int r = 0; r < tab->list()->rowCount(); ++r)
            out << RowText(tab->list(), r, 0);
        return out;
    }

private slots:
    void init() { h = std::make_unique<WindowHarness>(); }
    void cleanup() { h.reset(); }

    void firstLinesAreShownAndFetchedOnlyWhenMoreAreAsked() {
        openWith(numberedBox(3));
        select({1});
        QCOMPARE(tab->textPane()->toPlainText(), u"linea 1\nlinea 2"_qs);
        h->promptAnswer = u"50"_qs;
        WindowProbe::btnPrimerasLineasClick(w);
        QCOMPARE(h->prompts.last(),
                 u"Primeras líneas de: \"Asunto 2\"|¿Cuántas líneas a mostrar? (Actualmente 20)|20"_qs);
        QCOMPARE(s->takeWritten(), QByteArray("TOP 2 50\r\n"));
        s->serverSends("+OK\r\nA: b\r\n\r\nuno\r\ndos\r\ntres\r\n.\r\n");
        QCOMPARE(tab->textPane()->toPlainText(), u"uno\ndos\ntres"_qs);
        for (const QString& again : {u"50"_qs, u"10"_qs}) {
            h->promptAnswer = again;
            WindowProbe::btnPrimerasLineasClick(w);
            QCOMPARE(s->takeWritten(), QByteArray());
        }
        h->promptAnswer = u"muchas"_qs;
        WindowProbe::btnPrimerasLineasClick(w);
        QCOMPARE(h->boxes.last().caption, u"Error de conversión"_qs);
        QCOMPARE(h->boxes.last().text, u"Error al convertir a número. Escribió: muchas"_qs);
        QCOMPARE(s->takeWritten(), QByteArray());
    }

    void deleteSendsTheSelectedRowsInOrder() {
        openWith(numberedBox(8));
        select({6, 1, 4}); // rows 2, 5 and 7
        h->boxAnswer = QMessageBox::Ok;
        WindowProbe::btnEliminarClick(w);
        QCOMPARE(h->boxes.size(), 1);
        QCOMPARE(h->boxes[0].caption, u"Confirmación de eliminación"_qs);
        QCOMPARE(s->takeWritten(), QByteArray("DELE 2\r\n"));
        s->serverSends("+OK\r\n");
        QCOMPARE(captions(), (QStringList{u"1"_qs, u"3"_qs, u"4"_qs, u"5"_qs, u"6"_qs, u"7"_qs, u"8"_qs}));
        QCOMPARE(s->takeWritten(), QByteArray("DELE 5\r\n"));
        s->serverSends("+OK\r\n");
        QCOMPARE(s->takeWritten(), QByteArray("DELE 7\r\n"));
        s->serverSends("+OK\r\n");
        QCOMPARE(captions(), (QStringList{u"1"_qs, u"3"_qs, u"4"_qs, u"6"_qs, u"8"_qs}));
        QCOMPARE(WindowProbe::Tabs(w).first()->session()->Estado(), 6);
        QVERIFY(h->sounds.isEmpty());
    }

    void deleteDoesNothingWithoutSelectionOrWhenCancelled() {
        openWith(numberedBox(3));
        WindowProbe::btnEliminarClick(w);
        QVERIFY(h->boxes.isEmpty());
        select({0});
        h->boxAnswer = QMessageBox::Cancel;
        WindowProbe::btnEliminarClick(w);
        QCOMPARE(h->boxes.size(), 1);
        QCOMPARE(s->takeWritten(), QByteArray());
    }

    // A server may list numbers in any order, even twice: a number names its first row, also
    // after rows before it were deleted.
    void rowsAreFoundByTheirFirstNumber_data() {
        QTest::addColumn<QList<int>>("numbers");
        QTest::addColumn<QList<int>>("deleted"); // positions, one after the other
        QTest::addColumn<QList<int>>("wanted");
        QTest::addColumn<QList<int>>("found");
        QTest::newRow("ascending") << QList<int>{1, 2, 5, 9} << QList<int>{1} << QList<int>{1, 2, 5, 9, 3}
                                   << QList<int>{0, -1, 1, 2, -1};
        QTest::newRow("out of order") << QList<int>{4, 2, 7, 1} << QList<int>{} << QList<int>{4, 2, 7, 1, 3}
                                      << QList<int>{0, 1, 2, 3, -1};
        QTest::newRow("repeated") << QList<int>{3, 5, 3, 5} << QList<int>{} << QList<int>{3, 5} << QList<int>{0, 1};
        QTest::newRow("repeated, first deleted")
            << QList<int>{3, 5, 3, 8} << QList<int>{0, 0} << QList<int>{3, 5, 8} << QList<int>{0, -1, 1};
    }
    void rowsAreFoundByTheirFirstNumber() {
        QFETCH(QList<int>, numbers);
        QFETCH(QList<int>, deleted);
        QFETCH(QList<int>, wanted);
        QFETCH(QList<int>, found);
        MessageList list;
        QList<MessageRow> rows;
        for (int n : numbers)
            rows.append(MessageRow{n, 100, {}, {}, {}, RowVerdict::None, {}});
        list.appendRows(rows);
        list.positionOf(numbers.first()); // an index worked out before the deletions
        for (int p : deleted)
            list.deleteRow(p);
        QList<int> positions;
        for (int n : wanted)
            positions << list.positionOf(n);
        QCOMPARE(positions, found);
    }

    void resetEmptiesAtOnceAndListsAgain() {
        openWith(numberedBox(2));
        select({0});
        h->boxAnswer = QMessageBox::Ok;
        WindowProbe::btnRestaurarClick(w);
        QCOMPARE(h->boxes[0].caption, u"Confirmar Reset"_qs);
        QCOMPARE(h->boxes[0].text,
                 u"¿Está seguro que desea enviar el comando RESET?\r\r(El comando Reset hará que los mensajes que se "
                 "hayan\rmarcado para borrar durante esta sesión NO se borren,\ry por tanto todos \"volverán a "
                 "aparecer\" en su buzón"_qs);
        QCOMPARE(tab->list()->rowCount(), 0);
        QCOMPARE(tab->textPane()->toPlainText(), QString());
        QCOMPARE(s->takeWritten(), QByteArray("RSET\r\n"));
        StyledTextView* log = tab->dialogueView();
        QCOMPARE(log->paragraphText(log->paragraphCount() - 4), u"// Restaurando mensajes eliminados..."_qs);
        s->serverSends("+OK\r\n");
        s->serverSends(listReply(numberedBox(2)));
        s->serverSends(topReply(numberedBox(2)[0]));
        s->serverSends(topReply(numberedBox(2)[1]));
        QCOMPARE(tab->list()->rowCount(), 2);
    }

    void resetWaitsForABusySession() {
        openWith(numberedBox(2));
        h->boxAnswer = QMessageBox::Ok;
        h->whileBoxOpen = [&] { tab->session()->ComprobarDeNuevo(); }; // a re-check starts under the box
        WindowProbe::btnRestaurarClick(w);
        QCOMPARE(s->takeWritten(), QByteArray("UIDL\r\n"));
        QTest::qWait(250);
        QCOMPARE(s->takeWritten(), QByteArray());
        serveRecheck(s, numberedBox(2), numberedBox(2));
        s->takeWritten();
        QTRY_COMPARE(s->written, QByteArray("RSET\r\n"));
    }

    void resetGivesUpWhenTheTabCloses() {
        openWith(numberedBox(2));
        h->boxAnswer = QMessageBox::Ok;
        h->whileBoxOpen = [&] { tab->session()->ComprobarDeNuevo(); };
        WindowProbe::btnRestaurarClick(w);
        WindowProbe::btnDesconectarClick(w);
        QTest::qWait(250); // the retries find no tab and stop
        QVERIFY(WindowProbe::Tabs(w).isEmpty());
    }

    // The keyboard reaches what the mouse does on the rows.
    void keysOnTheRows_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("opens"); // the box's caption, or the menu
        QTest::newRow("Delete") << int(Qt::Key_Delete) << int(Qt::NoModifier) << u"Confirmación de eliminación"_qs;
        QTest::newRow("menu key") << int(Qt::Key_Menu) << int(Qt::NoModifier) << u"menu"_qs;
        QTest::newRow("Shift+F10") << int(Qt::Key_F10) << int(Qt::ShiftModifier) << u"menu"_qs;
    }
    void keysOnTheRows() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, opens);
        openWith(numberedBox(2));
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w));
        tab->list()->setFocus();
        select({1});
        tab->list()->setCurrentIndex(tab->list()->model()->index(1, 0));
        QString menuShown;
        QTimer::singleShot(0, [&] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                menuShown = menu->actions().value(0) ? u"menu"_qs : QString();
                menu->close();
            }
        });
        h->boxAnswer = QMessageBox::Cancel;
        QTest::keyClick(tab->list(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QStringList captions;
        for (const WindowHarness::Box& b : h->boxes)
            captions << b.caption;
        QCOMPARE(opens == u"menu" ? menuShown : captions.value(0), opens);
    }

    // The window keeps a message's To and Cc, decoded when the recipients are shown.
    void recipientsOfTheSelectedMessage() {
        openWith({{"Ana <a@x.es>\r\nTo: =?UTF-8?Q?Jos=C3=A9?= <j@x.es>, b@x.es\r\nCc: c@x.es", "Hola"}});
        select({0});
        QStringList shown;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<TfrmDestinatarios*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            for (int r = 0; r < dialog->ListView->rowCount(); ++r)
                shown << dialog->ListView->row(r)->text(0);
            dialog->reject();
        });
        WindowProbe::action(w, u"PopupListViewDestinatarios"_qs)->trigger();
        QCOMPARE(shown, (QStringList{u"José <j@x.es>"_qs, u"b@x.es"_qs, u"c@x.es"_qs}));
    }

    void popupEnablesByStateAndSelection() {
        openWith(numberedBox(2));
        WindowProbe::PopupListViewPopup(w);
        auto enabled = [&](const char16_t* name) {
            return WindowProbe::action(w, QString::fromUtf16(name))->isEnabled();
        };
        QVERIFY(!enabled(u"PopupListViewEnviarEMail"));
        QVERIFY(!enabled(u"PopupListViewEliminar"));
        QVERIFY(enabled(u"PopupListViewRestaurar"));
        QVERIFY(!enabled(u"PopupListViewPrimerasLineas"));
        QVERIFY(!enabled(u"PopupListViewDestinatarios"));
        QVERIFY(enabled(u"PopupListViewFiltradoFiltrarAhora"));
        select({1});
        tab->session()->ComprobarDeNuevo();
        WindowProbe::PopupListViewPopup(w);
        QVERIFY(enabled(u"PopupListViewEliminar"));
        QVERIFY(!enabled(u"PopupListViewRestaurar"));
        QVERIFY(!enabled(u"PopupListViewFiltradoFiltrarAhora"));
        QVERIFY(enabled(u"PopupListViewFiltradoConfigurar"));
    }

    void writeToTheSender_data() {
        QTest::addColumn<QString>("cell");
        QTest::addColumn<QString>("url");
        QTest::newRow("name and address") << u"Ana <ana@x.es>"_qs << u"mailto:ana@x.es"_qs;
        QTest::newRow("bare address") << u"ana@x.es"_qs << u"mailto:ana@x.es"_qs;
        QTest::newRow("no closing bracket") << u"Ana <ana@x.es"_qs << u"mailto:ana@x.es"_qs;
        QTest::newRow("parameters after it")
            << u"Banco <soporte@banco.example?attach=/root/.ssh/id_rsa&bcc=t@evil.example>"_qs << QString();
        QTest::newRow("a ? and & in the local part") << u"<a?bcc=t&x@x.es>"_qs << u"mailto:a%3Fbcc%3Dt%26x@x.es"_qs;
        QTest::newRow("two addresses") << u"<ana@x.es,bcc@evil.example>"_qs << QString();
        QTest::newRow("blank inside") << u"Ana <ana @x.es>"_qs << QString();
        QTest::newRow("no address") << u"Ana"_qs << QString();
        QTest::newRow("international") << u"<jos\u00E9@ba\u00F1o.es>"_qs << u"mailto:jos%C3%A9@ba%C3%B1o.es"_qs;
    }
    void writeToTheSender() {
        QFETCH(QString, cell);
        QFETCH(QString, url);
        openWith(numberedBox(1));
        tab->list()->setRowHeader(0, cell, {}, {});
        select({0});
        WindowProbe::PopupListViewEnviarEMailClick(w);
        if (url.isEmpty()) {
            // Nothing is opened, and the user is told why.
            QVERIFY(h->urls.isEmpty());
            QCOMPARE(h->boxes.size(), 1);
            QVERIFY(h->boxes.first().text.contains(u"dirección de correo válida"_qs));
            return;
        }
        QCOMPARE(h->urls.size(), 1);
        QCOMPARE(h->urls.first().toEncoded(), url.toUtf8());
    }

    void subjectColumnTakesTheRest() {
        openWith(numberedBox(2));
        MessageList* list = tab->list();
        list->resize(800, 300);
        WindowProbe::ListViewResize(w, list);
        QCOMPARE(list->columnWidth(4), 376);
        list->resize(800, 30); // more rows than fit
        WindowProbe::ListViewResize(w, list);
        QCOMPARE(list->columnWidth(4), 360);
    }

    // Filtering.

    void filterAsksAboutEachCandidateOnce() {
        openWith({{"Ofertas del mes <o@x.es>", "Oferta"}, {"Amigo <a@x.es>", "Hola"}, {"b@x.es", "oferta única"}});
        WindowProbe::Filtros(w).From = {u"oferta"_qs};
        WindowProbe::Filtros(w).Subj = {u"OFERTA"_qs};
        WindowProbe::Config(w).PreguntarAntesDeBorrarEnFiltrado = true;
        h->boxAnswer = QMessageBox::No;
        WindowProbe::PopupListViewFiltradoFiltrarAhoraClick(w);
        QCOMPARE(h->boxes.size(), 3); // two candidates, then "nothing to delete"
        QCOMPARE(h->boxes[0].caption, u"ana (pop.x.es)"_qs);
        QCOMPARE(h->boxes[0].text, u"Se encontró un mensaje no deseado:\r\rFROM: Ofertas del mes <o@x.es>\rSUBJ: "
                                   "Oferta\rMotivo: [FROM]oferta\r\r¿Desea borrarlo de su buzón?"_qs);
        QCOMPARE(h->boxes[2].text, u"El filtro no encontró mensajes a borrar"_qs);
        QCOMPARE(s->takeWritten(), QByteArray());
    }

    void filterDeletesWhatWasAccepted_data() {
        QTest::addColumn<bool>("ask");
        QTest::addColumn<QList<int>>("answers"); // per question: 1 yes, 0 no
        QTest::addColumn<QByteArray>("dele");
        QTest::newRow("no, yes, no") << true << QList<int>{0, 1, 0} << QByteArray("DELE 3\r\n");
        QTest::newRow("without asking") << false << QList<int>{} << QByteArray("DELE 1\r\n");
    }
    void filterDeletesWhatWasAccepted() {
        QFETCH(bool, ask);
        QFETCH(QList<int>, answers);
        QFETCH(QByteArray, dele);
        openWith({{"spam1@x", "a"}, {"ok@x", "b"}, {"spam2@x", "c"}, {"ok@x", "spam"}});
        WindowProbe::Filtros(w).From = {u"SPAM"_qs};
        WindowProbe::Filtros(w).Subj = {u"spam"_qs};
        WindowProbe::Config(w).PreguntarAntesDeBorrarEnFiltrado = ask;
        int question = 0;
        std::function<void()> answerNext = [&] {
            if (question < answers.size()) h->boxAnswer = answers[question++] ? QMessageBox::Yes : QMessageBox::No;
            h->whileBoxOpen = answerNext;
        };
        h->whileBoxOpen = answerNext;
        WindowProbe::RunFilter(w, tab, true);
        QCOMPARE(s->takeWritten(), dele);
        QCOMPARE(h->boxes.size(), ask ? 3 : 0);
    }

    void filterAfterConnectingIsSilent() {
        openWindow();
        WindowProbe::Filtros(w).From = {u"nadie"_qs};
        WindowProbe::Config(w).FiltrarAlConectar = true;
        WindowProbe::QuickConnect(w, u"h"_qs, u"a"_qs, EncodePassword(u"p"_qs), 110);
        serveLogin(h->sockets.last(), numberedBox(2));
        QVERIFY(h->boxes.isEmpty());
        WindowProbe::Filtros(w).From = {u"Remitente 2"_qs};
        WindowProbe::Config(w).PreguntarAntesDeBorrarEnFiltrado = false;
        WindowProbe::QuickConnect(w, u"g"_qs, u"b"_qs, EncodePassword(u"p"_qs), 110);
        FakeSocket* other = h->sockets.last();
        other->connectNow();
        for (const QByteArray& r : {QByteArray("+OK\r\n"), QByteArray("-ERR\r\n"), QByteArray("+OK\r\n"),
                                    QByteArray("+OK\r\n"), listReply(numberedBox(2)), topReply(numberedBox(2)[0])})
            other->serverSends(r);
        other->takeWritten();
        other->serverSends(topReply(numberedBox(2)[1]));
        QCOMPARE(other->takeWritten(), QByteArray("DELE 2\r\n"));
    }

    void rulesDecideWithTheirReasonAndTheTestRunDeletesNothing() {
        h->write(u"Reglas.dat"_qs, "permitir From contiene @amigos.example\n"
                                   "marcar List-Id contiene promo\n"
                                   "marcar Subject\n");
        openWith({{"Oferta <o@amigos.example>", "oferta"},
                  {"b@x.es", "Hola\r\nList-Id: <promo.example>"},
                  {"c@x.es", "nada"},
                  {"d@x.es", "Oferta grande"}});
        QVERIFY(h->boxes.isEmpty()); // the line that does not apply is told once the window shows
        w->show();
        QTRY_COMPARE(h->boxes.size(), 1);
        QVERIFY2(h->boxes[0].text.contains(u"Línea 3, posición 15: "_qs), qPrintable(h->boxes[0].text));
        WindowProbe::Filtros(w).Subj = {u"oferta"_qs};
        WindowProbe::PopupListViewFiltradoProbarClick(w);
        QCOMPARE(s->takeWritten(), QByteArray());
        QVERIFY2(h->boxes.last().text.startsWith(u"Un filtrado borraría 2 de 4 mensajes"_qs),
                 qPrintable(h->boxes.last().text));
        const QStringList tips = {u"Permitido por: permitir From contiene @amigos.example"_qs,
                                  u"Se borraría por: marcar List-Id contiene promo"_qs, QString(),
                                  u"Se borraría por: [SUBJ]oferta"_qs};
        for (int r = 0; r < tips.size(); ++r)
            QCOMPARE(tab->list()->model()->index(r, ColumnSubject).data(Qt::ToolTipRole).toString(), tips[r]);
        // A run asks with the same reasons.
        WindowProbe::Config(w).PreguntarAntesDeBorrarEnFiltrado = true;
        h->boxAnswer = QMessageBox::No;
        h->boxes.clear();
        WindowProbe::RunFilter(w, tab, false);
        QCOMPARE(h->boxes.size(), 2);
        QVERIFY(h->boxes[0].text.contains(u"\rMotivo: marcar List-Id contiene promo\r"_qs));
        QVERIFY(h->boxes[1].text.contains(u"\rMotivo: [SUBJ]oferta\r"_qs));
    }

    void aFieldTooLongToKeepIsNeverJudgedOnItsStart() {
        h->write(u"Reglas.dat"_qs, "marcar X-Relleno expresion (a+)+$\n");
        openWith(
            {{"a@x.es", "uno\r\nX-Relleno: " + QByteArray(1 << 20, 'a') + '!'}, {"b@x.es", "dos\r\nX-Relleno: aaa"}});
        WindowProbe::Config(w).PreguntarAntesDeBorrarEnFiltrado = false;
        WindowProbe::RunFilter(w, tab, false);
        QCOMPARE(s->takeWritten(), QByteArray("DELE 2\r\n"));
        StyledTextView* log = tab->dialogueView();
        QStringList comments;
        for (int i = 0; i < log->paragraphCount(); ++i)
            if (log->paragraphText(i).contains(u"demasiado largo"_qs)) comments << log->paragraphText(i);
        QCOMPARE(comments, QStringList{u"// El campo X-Relleno del mensaje 1 es demasiado largo para juzgarlo: las "
                                       "reglas sobre él no se aplican"_qs});
    }

    void rulesSavedWhileConnectedSayTheListedHeadersAreNotKept() {
        openWith(numberedBox(1));
        TfrmReglas* r = WindowProbe::frmReglas(w);
        r->edtReglas->setPlainText(u"marcar List-Id contiene x\n"_qs);
        r->btnGuardarClick();
        QCOMPARE(h->boxes.size(), 1);
        QVERIFY2(h->boxes[0].text.contains(u"vuelva a conectar"_qs), qPrintable(h->boxes[0].text));
        r->edtReglas->setPlainText(u"marcar List-Id contiene y\n"_qs);
        r->btnGuardarClick(); // the header text is kept from now on: nothing more to say
        QCOMPARE(h->boxes.size(), 1);
    }

    void filterOnAnEmptyListShowsNothing() {
        openWith({});
        WindowProbe::Filtros(w).From = {u"x"_qs};
        WindowProbe::PopupListViewFiltradoFiltrarAhoraClick(w);
        QVERIFY(h->boxes.isEmpty());
    }

    void listRebuiltWhileAQuestionIsOpenDeletesNoWrongMessage() {
        openWith({{"spam@x", "1"}, {"ok@x", "2"}, {"spam@x", "3"}});
        WindowProbe::Filtros(w).From = {u"spam"_qs};
        h->boxAnswer = QMessageBox::Yes;
        // While the first question is open, a re-check finds another mailbox: message 3 is now other mail.
        h->whileBoxOpen = [&] {
            tab->session()->ComprobarDeNuevo();
            serveRecheck(s, {{"spam@x", "1"}, {"ok@x", "2"}, {"spam@x", "3"}}, numberedBox(4));
            s->serverSends(listReply(numberedBox(4)));
            for (const FakeMessage& m : numberedBox(4))
                s->serverSends(topReply(m));
            s->takeWritten();
        };
        WindowProbe::RunFilter(w, tab, true);
        QCOMPARE(s->takeWritten(), QByteArray());
        QCOMPARE(tab->list()->rowCount(), 4);
    }

    void addingFilters() {
        openWith({{"Spam <s@x>", "Uno"}, {"Otro <o@x>", "Dos"}, {"Tercero <t@x>", "Tres"}});
        WindowProbe::Filtros(w).From = {u"SPAM"_qs};
        select({0});
        h->promptAnswer = u"Spam"_qs;
        WindowProbe::PopupListViewFiltradoAddRemitenteClick(w);
        QCOMPARE(h->prompts[0], u"Añadir filtro - FROM|Escriba el texto del nuevo filtro:|Spam <s@x>"_qs);
        QCOMPARE(h->boxes[0].caption, u"Filtro ya existe - FROM"_qs);
        QCOMPARE(h->boxes[0].text, u"Spam"_qs);
        QCOMPARE(WindowProbe::Filtros(w).From, QStringList{u"SPAM"_qs});
        QVERIFY(!WindowProbe::AddFilter(w, u"from"_qs, u"spám"_qs));
        QVERIFY(!WindowProbe::AddFilter(w, u"TO"_qs, u"x"_qs));
        QVERIFY(WindowProbe::AddFilter(w, u"SUBJ"_qs, u"x"_qs));
        QVERIFY(WindowProbe::AddFilter(w, u"subj"_qs, u"y"_qs));
        QCOMPARE(WindowProbe::Filtros(w).Subj, (QStringList{u"x"_qs, u"y"_qs}));
    }

    void addingSummarisesWhatWasAdded_data() {
        QTest::addColumn<QStringList>("answers");   // one per prompt; a null text cancels it
        QTest::addColumn<QStringList>("proposals"); // what each prompt showed
        QTest::addColumn<QStringList>("boxes");     // caption|text
        QTest::addColumn<QStringList>("added");
        const QString refused = u"Caracteres no admitidos|El texto contiene caracteres que no se pueden guardar: "
                                u"ő\rSólo se admiten los caracteres de Europa occidental (Windows-1252)."_qs;
        const QString one = u"1 filtros añadidos - SUBJ|Se añadieron los siguientes filtros:\r\r"_qs;
        QTest::newRow("two")
            << QStringList{u"x"_qs, u"y"_qs} << QStringList{u"Uno"_qs, u"Dos"_qs}
            << QStringList{u"2 filtros añadidos - SUBJ|Se añadieron los siguientes filtros:\r\rx\ry"_qs}
            << QStringList{u"x"_qs, u"y"_qs};
        QTest::newRow("text outside Windows-1252 asked for again as typed")
            << QStringList{u"oferta ő"_qs, u"oferta"_qs, QString()} << QStringList{u"Uno"_qs, u"oferta ő"_qs, u"Dos"_qs}
            << QStringList{refused, one + u"oferta"_qs} << QStringList{u"oferta"_qs};
        QTest::newRow("refused, then cancelled")
            << QStringList{u"ő"_qs, QString(), u"y"_qs} << QStringList{u"Uno"_qs, u"ő"_qs, u"Dos"_qs}
            << QStringList{refused, one + u"y"_qs} << QStringList{u"y"_qs};
    }
    void addingSummarisesWhatWasAdded() {
        QFETCH(QStringList, answers);
        QFETCH(QStringList, proposals);
        QFETCH(QStringList, boxes);
        QFETCH(QStringList, added);
        QStringList shown;
        // Each prompt gets the next answer.
        WindowSeams custom = h->seams();
        custom.inputQuery = [&](QWidget*, const QString&, const QString&, QString& value) {
            shown << value;
            value = answers.value(shown.size() - 1);
            return !value.isNull();
        };
        h->window = std::make_unique<TfrmPrincipal>(custom);
        w = h->window.get();
        WindowProbe::QuickConnect(w, u"pop.x.es"_qs, u"ana"_qs, EncodePassword(u"p"_qs), 110);
        serveLogin(h->sockets.last(), {{"a@x", "Uno"}, {"b@x", "Dos"}});
        tab = WindowProbe::Tabs(w).first();
        select({0, 1});
        WindowProbe::PopupListViewFiltradoAddSubjClick(w);
        QCOMPARE(shown, proposals);
        QStringList got;
        for (const WindowHarness::Box& b : h->boxes)
            got << b.caption + u'|' + b.text;
        QCOMPARE(got, boxes);
        QCOMPARE(WindowProbe::Filtros(w).Subj, added);
        TFiltros expected;
        expected.Subj = added;
        QCOMPARE(h->read(u"Filtros.dat"_qs), FormatFiltersData(expected));
    }

    void checkItemsKeepTheirTwinsAndTheSettings() {
        w = &h->open();
        QAction* mainAsk = WindowProbe::action(w, u"mnuConfigurarFiltradoPreguntar"_qs);
        QAction* popupAsk = WindowProbe::action(w, u"PopupListViewFiltradoPreguntar"_qs);
        QVERIFY(mainAsk->isChecked() && popupAsk->isChecked());
        mainAsk->trigger();
        QVERIFY(!popupAsk->isChecked());
        QVERIFY(!WindowProbe::Config(w).PreguntarAntesDeBorrarEnFiltrado);
        WindowProbe::action(w, u"PopupListViewFiltradoFiltrarAlConectar"_qs)->trigger();
        QVERIFY(WindowProbe::action(w, u"mnuConfigurarFiltradoFiltrarAlConectar"_qs)->isChecked());
        QVERIFY(WindowProbe::Config(w).FiltrarAlConectar);
        h->close();
        QVERIFY(h->read(u"Tavelo.ini"_qs).contains("FiltrarAlConectar=1"));
    }

    // A decision reaches its file when it is made, the window still open. A write that fails is
    // reported; the decision stays and is written at exit.
    void decisionsAreWrittenAtOnce_data() {
        QTest::addColumn<QString>("way"); // a menu item, or what is done in a dialog or the list
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<bool>("blocked"); // the file cannot be written until the window closes
        const QString ini = u"Tavelo.ini"_qs;
        QTest::newRow("settings dialog") << u"settings"_qs << ini << QByteArray("iniTop=35\n") << false;
        QTest::newRow("settings dialog, advanced option")
            << u"pipelining"_qs << ini << QByteArray("Notificaciones=1\nPipelining=0\n") << false;
        QTest::newRow("filter on connecting, main menu")
            << u"mnuConfigurarFiltradoFiltrarAlConectar"_qs << ini << QByteArray("FiltrarAlConectar=1\n") << false;
        QTest::newRow("asking, pop-up menu") << u"PopupListViewFiltradoPreguntar"_qs << ini
                                             << QByteArray("PreguntarAntesDeBorrarEnFiltrado=0\n") << false;
        QTest::newRow("sender added from the list")
            << u"sender"_qs << u"Filtros.dat"_qs << QByteArray("[FROM]Spam\r\n") << false;
        QTest::newRow("settings dialog, file blocked") << u"settings"_qs << ini << QByteArray("iniTop=35\n") << true;
        QTest::newRow("sender added, file blocked")
            << u"sender"_qs << u"Filtros.dat"_qs << QByteArray("[FROM]Spam\r\n") << true;
    }
    void decisionsAreWrittenAtOnce() {
        QFETCH(QString, way);
        QFETCH(QString, file);
        QFETCH(QByteArray, written);
        QFETCH(bool, blocked);
        openWith({{"Spam <s@x>", "Uno"}});
        if (blocked) QVERIFY(QDir(h->path({})).mkdir(file));
        if (way == u"settings" || way == u"pipelining") {
            WindowProbe::frmConfig(w)->show();
            if (way == u"settings")
                WindowProbe::frmConfig(w)->edtIniTop->setText(u"35"_qs);
            else
                WindowProbe::frmConfig(w)->chkPipelining->setChecked(false); // on by default
            WindowProbe::frmConfig(w)->btnAceptar->click();
        } else if (way == u"sender") {
            select({0});
            h->promptAnswer = u"Spam"_qs;
            WindowProbe::PopupListViewFiltradoAddRemitenteClick(w);
        } else {
            WindowProbe::action(w, way)->trigger();
        }
        qsizetype reported = 0;
        for (const WindowHarness::Box& b : h->boxes)
            reported += b.caption == u"Excepción no manejada";
        QCOMPARE(reported, blocked ? 1 : 0);
        if (blocked) {
            QVERIFY(QDir(h->path({})).rmdir(file));
            h->close();
        }
        QVERIFY2(h->read(file).contains(written), h->read(file).constData());
    }
};

QTEST_MAIN(TestListCommands)
#include "tst_listcommands.moc"
