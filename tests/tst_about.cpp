// The about box: the link to the project's page, and closing it; the program's icon it shows.
#include "AboutBox.h"
#include "Artwork.h"
#include "WindowDialogs.h"
#include "WindowHarness.h"

#include <QLabel>
#include <QTest>

class TestAbout : public QObject {
    Q_OBJECT
    std::unique_ptr<WindowHarness> h;
    TfrmAbout* w = nullptr;

private slots:
    void init() {
        h = std::make_unique<WindowHarness>();
        w = NewAboutBox(&h->open());
    }
    void cleanup() { h.reset(); }

    void linkOpensTheProjectPage() {
        w->show();
        QCOMPARE(w->Label9->text(), TfrmAbout::WebPage().host());
        QTest::mouseClick(w->Label9, Qt::RightButton);
        QVERIFY(h->urls.isEmpty());
        QTest::mouseClick(w->Label9, Qt::LeftButton);
        QCOMPARE(h->urls, QList<QUrl>{TfrmAbout::WebPage()});
    }

    void escAndCloseButtonClose_data() {
        QTest::addColumn<bool>("esc");
        QTest::newRow("esc") << true;
        QTest::newRow("close button") << false;
    }
    void escAndCloseButtonClose() {
        QFETCH(bool, esc);
        w->open();
        if (esc)
            QTest::keyClick(w, Qt::Key_Escape);
        else
            w->close();
        QVERIFY(!w->isVisible());
        QCOMPARE(w->result(), int(QDialog::Rejected));
    }

    // The program's icon (its windows', the about box's) is the launcher's SVG built into the program:
    // a picture at every size, not a blank.
    void applicationIconIsDrawnAtEverySize() {
        const QIcon icon = MakeApplicationIcon();
        QVERIFY(!icon.isNull());
        for (const int side : {16, 32, 48, 256}) {
            const QImage image = icon.pixmap(side, side).toImage();
            QCOMPARE(image.size(), QSize(side, side));
            QCOMPARE(qAlpha(image.pixel(0, 0)), 0);                               // around the envelope
            QCOMPARE(qAlpha(image.pixel(side * 30 / 128, side * 80 / 128)), 255); // its paper
            if (side < 32) continue; // the at-sign's badge is too small to hold a plain pixel
            const QRgb badge = image.pixel(side * 105 / 128, side * 101 / 128);
            QCOMPARE(qAlpha(badge), 255);
            QVERIFY2(qBlue(badge) > qRed(badge) + 60, qPrintable(QString::number(badge, 16)));
        }
    }
};

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
