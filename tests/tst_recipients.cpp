// The recipients window on a real main window: rows, the window height, the address of a row and
// what the pop-up menu does with it, closing with Enter and Esc.
#include "AccountWidgets.h"
#include "RecipientsWindow.h"
#include "WindowDialogs.h"
#include "WindowHarness.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QTest>

class TestRecipients : public QObject {
    Q_OBJECT
    std::unique_ptr<WindowHarness> h;
    TfrmDestinatarios* w = nullptr;

    static QStringList manyRecipients(int n) {
        QStringList out;
        for (int i = 0; i < n; ++i)
            out << u"r%1@example.es"_qs.arg(i);
        return out;
    }

private slots:
    void init() {
        h = std::make_unique<WindowHarness>();
        w = NewRecipientsDialog(&h->open());
    }
    void cleanup() { h.reset(); }

    void heightFollowsTheRecipientCount_data() {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("height");
        QTest::newRow("one") << 1 << 200;
        QTest::newRow("six") << 6 << 200;
        QTest::newRow("seven") << 7 << 204;
        QTest::newRow("sixteen") << 16 << 330;
        QTest::newRow("twenty") << 20 << 330;
    }
    void heightFollowsTheRecipientCount() {
        QFETCH(int, rows);
        QFETCH(int, height);
        w->SetRecipients(manyRecipients(rows));
        QCOMPARE(w->ListView->rowCount(), rows);
        QCOMPARE(w->height(), height);
        // Without recipients the rows go and the size stays.
        w->SetRecipients({});
        QCOMPARE(w->ListView->rowCount(), 0);
        QCOMPARE(w->height(), height);
    }

    void layoutFollowsTheSizeAndStopsAt400By200() {
        w->show();
        w->resize(300, 100);
        QCOMPARE(w->size(), QSize(400, 200));
        w->resize(500, 300);
        QCOMPARE(w->ListView->geometry(), QRect(4, 84, 492, 199));
        QCOMPARE(w->ListView->columnWidth(0), 472);
        QCOMPARE(w->lblFrom->width(), 492 - 54);
    }

    void selectedRowGivesItsAddress_data() {
        QTest::addColumn<QString>("recipient");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("link"); // empty: nothing opened, a box says why
        QTest::newRow("angle brackets") << u"Ana <ana@x.es>"_qs << u"Ana <ana@x.es>"_qs << u"ana@x.es"_qs
                                        << u"mailto:ana@x.es"_qs;
        QTest::newRow("bare") << u"bea@x.es"_qs << u"bea@x.es"_qs << u"bea@x.es"_qs << u"mailto:bea@x.es"_qs;
        QTest::newRow("no closing bracket")
            << u"Carla <carla@x.es"_qs << u"Carla <carla@x.es"_qs << u"carla@x.e"_qs << u"mailto:carla@x.es"_qs;
        QTest::newRow("bracket last") << u"Dora <"_qs << u"Dora <"_qs << QString() << QString();
        QTest::newRow("blanks around") << u"  eva@x.es  "_qs << u"eva@x.es"_qs << u"eva@x.es"_qs
                                       << u"mailto:eva@x.es"_qs;
        QTest::newRow("tab shown as a mark")
            << u"\tfe@x.es "_qs << u"\uFFFDfe@x.es"_qs << u"\tfe@x.es"_qs << u"mailto:fe@x.es"_qs;
        QTest::newRow("blanks only") << u"   "_qs << QString() << QString() << QString();
        QTest::newRow("encoded name") << u"=?iso-8859-1?q?Jos=E9?= <j@x.es>"_qs << u"José <j@x.es>"_qs << u"j@x.es"_qs
                                      << u"mailto:j@x.es"_qs;
        QTest::newRow("parameters after it")
            << u"Banco <s@b.example?bcc=t@evil.example>"_qs << u"Banco <s@b.example?bcc=t@evil.example>"_qs
            << u"s@b.example?bcc=t@evil.example"_qs << QString();
    }
    void selectedRowGivesItsAddress() {
        QFETCH(QString, recipient);
        QFETCH(QString, caption);
        QFETCH(QString, address);
        QFETCH(QString, link);
        w->SetRecipients({u"first@x.es"_qs, recipient});
        QCOMPARE(w->ListView->row(1)->text(0), caption);
        w->ListView->setCurrentItem(w->ListView->row(1));
        QCOMPARE(w->SelectedAddress(), address);
        w->mnuPopupListViewEnviarEMail->trigger();
        QCOMPARE(h->urls, link.isEmpty() ? QList<QUrl>() : QList<QUrl>{QUrl(link)});
        QCOMPARE(h->boxes.size(), link.isEmpty() ? 1 : 0);
        QGuiApplication::clipboard()->setText(u"before"_qs);
        w->mnuPopupListViewCopiarDireccion->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), address);
    }

    void menuEntriesNeedASelectedRow() {
        w->SetRecipients({u"a@x.es"_qs, u"b@x.es"_qs});
        w->show();
        for (bool select : {false, true}) {
            w->ListView->setCurrentItem(select ? w->ListView->row(1) : nullptr);
            QContextMenuEvent right(QContextMenuEvent::Mouse, QPoint(5, 5),
                                    w->ListView->viewport()->mapToGlobal(QPoint(5, 5)));
            QCoreApplication::sendEvent(w->ListView->viewport(), &right);
            QVERIFY(w->PopupListView->isVisible());
            QCOMPARE(w->mnuPopupListViewEnviarEMail->isEnabled(), select);
            QCOMPARE(w->mnuPopupListViewCopiarDireccion->isEnabled(), select);
            w->PopupListView->hide();
        }
        w->ListView->clearSelection();
        QCOMPARE(w->SelectedAddress(), QString());
    }

    void enterAndEscClose_data() {
        QTest::addColumn<int>("key");
        QTest::newRow("enter") << int(Qt::Key_Return);
        QTest::newRow("keypad enter") << int(Qt::Key_Enter);
        QTest::newRow("esc") << int(Qt::Key_Escape);
    }
    void enterAndEscClose() {
        QFETCH(int, key);
        w->SetRecipients({u"a@x.es"_qs});
        w->open();
        QVERIFY(w->isVisible());
        QTest::keyClick(w->ListView, Qt::Key(key), key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        QVERIFY(!w->isVisible());
    }
};

QTEST_MAIN(TestRecipients)
#include "tst_recipients.moc"
