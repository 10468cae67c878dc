// Filtros.dat byte for byte, loading and saving the two lists, and the folded substring test that
// decides which messages a filtering run proposes for deletion.
#include "Errors.h"
#include "FilterLists.h"
#include "TestFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

namespace {

TFiltros lists(const QStringList& from, const QStringList& subj) {
    TFiltros f;
    f.From = from;
    f.Subj = subj;
    return f;
}

} // namespace

class TestFilters : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString path(const QString& name = u"Filtros.dat"_qs) const { return m_dir.filePath(name); }

private slots:
    void init() { QVERIFY(m_dir.isValid()); }
    void cleanup() {
        for (const QString& f : QDir(m_dir.path()).entryList(QDir::Files))
            QFile::remove(path(f));
    }

    void readerKeepsMarkedLinesOnly_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QStringList>("from");
        QTest::addColumn<QStringList>("subj");
        QTest::newRow("two FROM one SUBJ")
            << QByteArray("[FROM]a\r\n[FROM]b\r\n[SUBJ]c\r\n") << QStringList{u"a"_qs, u"b"_qs} << QStringList{u"c"_qs};
        QTest::newRow("lower-case marker, blank line, broken marker")
            << QByteArray("[subj]x\r\n\r\nFROM]y\r\n") << QStringList{} << QStringList{};
        QTest::newRow("interleaved lines keep their order")
            << QByteArray("[SUBJ]a\r\n[FROM]b\r\n[SUBJ]c\r\n") << QStringList{u"b"_qs} << QStringList{u"a"_qs, u"c"_qs};
        QTest::newRow("blanks kept") << QByteArray("[FROM] spam \r\n") << QStringList{u" spam "_qs} << QStringList{};
        QTest::newRow("LF only is one line")
            << QByteArray("[FROM]a\n[SUBJ]b\n") << QStringList{u"a\n[SUBJ]b\n"_qs} << QStringList{};
        QTest::newRow("ctrl-z ends the data")
            << QByteArray("[FROM]a\r\n\x1A[FROM]b\r\n") << QStringList{u"a"_qs} << QStringList{};
        QTest::newRow("bare markers give empty fragments")
            << QByteArray("[FROM]\r\n[SUBJ]\r\n") << QStringList{QString()} << QStringList{QString()};
        QTest::newRow("line shorter than a marker") << QByteArray("[FROM\r\n[SU") << QStringList{} << QStringList{};
        QTest::newRow("marker not at the start") << QByteArray(" [FROM]x\r\n") << QStringList{} << QStringList{};
        QTest::newRow("second marker is text")
            << QByteArray("[FROM][SUBJ]x\r\n") << QStringList{u"[SUBJ]x"_qs} << QStringList{};
        QTest::newRow("windows-1252 bytes") << QByteArray("[SUBJ]Oferta \xFAnica \x80\r\n") << QStringList{}
                                            << QStringList{u"Oferta \u00FAnica \u20AC"_qs};
    }
    void readerKeepsMarkedLinesOnly() {
        QFETCH(QByteArray, data);
        QFETCH(QStringList, from);
        QFETCH(QStringList, subj);
        TFiltros f;
        ParseFiltersData(data, f);
        QCOMPARE(f.From, from);
        QCOMPARE(f.Subj, subj);
    }

    void writerPutsFromBeforeSubj_data() {
        QTest::addColumn<QStringList>("from");
        QTest::addColumn<QStringList>("subj");
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("empty lists are zero bytes") << QStringList{} << QStringList{} << QByteArray();
        QTest::newRow("two FROM one SUBJ")
            << QStringList{u"a"_qs, u"b"_qs} << QStringList{u"c"_qs} << QByteArray("[FROM]a\r\n[FROM]b\r\n[SUBJ]c\r\n");
        QTest::newRow("empty fragment and blanks")
            << QStringList{QString(), u" x "_qs} << QStringList{} << QByteArray("[FROM]\r\n[FROM] x \r\n");
        QTest::newRow("windows-1252 bytes") << QStringList{u"se\u00F1or"_qs} << QStringList{u"\u20AC"_qs}
                                            << QByteArray("[FROM]se\xF1or\r\n[SUBJ]\x80\r\n");
    }
    void writerPutsFromBeforeSubj() {
        QFETCH(QStringList, from);
        QFETCH(QStringList, subj);
        QFETCH(QByteArray, data);
        QCOMPARE(FormatFiltersData(lists(from, subj)), data);
        TFiltros back;
        ParseFiltersData(data, back);
        QCOMPARE(back.From, from);
        QCOMPARE(back.Subj, subj);
    }

    void loadThenSaveGroupsTheLists() {
        writeBytes(path(), "[SUBJ]a\r\n[FROM]b\r\n[SUBJ]c\r\n");
        TFiltros f;
        f.LoadFilters(path());
        f.SaveFilters(path());
        QCOMPARE(fileBytes(path()), QByteArray("[FROM]b\r\n[SUBJ]a\r\n[SUBJ]c\r\n"));
    }

    void loadReplacesBothLists() {
        writeBytes(path(), "[FROM]a\r\n");
        TFiltros f = lists({u"old"_qs}, {u"old subject"_qs});
        f.LoadFilters(path());
        QCOMPARE(f.From, QStringList{u"a"_qs});
        QCOMPARE(f.Subj, QStringList{});
    }

    void missingFileLeavesListsUntouched() {
        TFiltros f = lists({u"x"_qs}, {u"y"_qs});
        f.LoadFilters(path());
        QCOMPARE(f.From, QStringList{u"x"_qs});
        QCOMPARE(f.Subj, QStringList{u"y"_qs});
        QVERIFY(!QFile::exists(path()));
    }

    void loadOfUnreadablePathThrows() {
        QVERIFY(QDir(m_dir.path()).mkdir(u"Filtros.dat"_qs));
        TFiltros f;
        QVERIFY_THROWS_EXCEPTION(EInOutError, f.LoadFilters(path()));
        QVERIFY(QDir(m_dir.path()).rmdir(u"Filtros.dat"_qs));
    }

    void failedSaveKeepsOldFile_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("oldFile");
        QTest::newRow("directory missing") << u"missing/Filtros.dat"_qs << false;
        // The name leaves no room for the temporary file beside it.
        QTest::newRow("no room for the temporary file") << QString(250, u'f') << true;
    }
    void failedSaveKeepsOldFile() {
        QFETCH(QString, name);
        QFETCH(bool, oldFile);
        if (oldFile) writeBytes(path(name), "[FROM]old\r\n");
        try {
            lists({u"new"_qs}, {}).SaveFilters(path(name));
            QFAIL("no error");
        } catch (const EInOutError& e) {
            QVERIFY2(e.message().contains(path(name)), qPrintable(e.message()));
        }
        QCOMPARE(fileBytes(path(name)), oldFile ? QByteArray("[FROM]old\r\n") : QByteArray("<unreadable>"));
    }

    // With no umask at all, the lists (senders and subjects the user turns away) are the owner's only.
    void savedFileIsItsOwnersOnly_data() {
        QTest::addColumn<bool>("oldFile"); // one open to everybody
        QTest::newRow("new file") << false;
        QTest::newRow("file open to others") << true;
    }
    void savedFileIsItsOwnersOnly() {
        QFETCH(bool, oldFile);
        const mode_t previous = ::umask(0);
        const auto restore = qScopeGuard([previous] { ::umask(previous); });
        if (oldFile) {
            writeBytes(path(), "[FROM]old\r\n");
            QCOMPARE(modeOf(path()), 0666);
        }
        lists({u"new"_qs}, {}).SaveFilters(path());
        QCOMPARE(modeOf(path()), 0600);
        QCOMPARE(fileBytes(path()), QByteArray("[FROM]new\r\n"));
    }

    void containsTextOnFoldedTexts_data() {
        QTest::addColumn<QString>("fragment");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("contains");
        QTest::newRow("at the end") << u"AB"_qs << u"XAB"_qs << true;
        QTest::newRow("at the start") << u"AB"_qs << u"ABX"_qs << true;
        QTest::newRow("whole text") << u"AB"_qs << u"AB"_qs << true;
        QTest::newRow("longer than the text") << u"ABC"_qs << u"AB"_qs << false;
        QTest::newRow("restart after a partial match") << u"AAB"_qs << u"AAAB"_qs << true;
        QTest::newRow("interrupted") << u"AB"_qs << u"AXB"_qs << false;
        QTest::newRow("case counts") << u"AB"_qs << u"ab"_qs << false;
        QTest::newRow("accented capital is its own letter") << u"E"_qs << u"\u00C9"_qs << false;
        QTest::newRow("both empty") << QString() << QString() << true;
        QTest::newRow("empty text") << u"A"_qs << QString() << false;
        QTest::newRow("empty fragment, text not empty") << QString() << u"ANYTHING"_qs << false;
    }
    void containsTextOnFoldedTexts() {
        QFETCH(QString, fragment);
        QFETCH(QString, text);
        QFETCH(bool, contains);
        QCOMPARE(ContainsText(fragment, text), contains);
    }

    // Each row runs on the FROM list and on the SUBJ list in turn; the other list stays empty.
    void matchingFoldsBothSides_data() {
        QTest::addColumn<QStringList>("fragments");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("matches");
        QTest::newRow("accent folded in the text") << QStringList{u"UNICA"_qs} << u"Oferta \u00FAnica"_qs << true;
        QTest::newRow("accented capital not folded") << QStringList{u"UNICA"_qs} << u"Oferta \u00DAnica"_qs << false;
        QTest::newRow("blanks around a word") << QStringList{u" spam "_qs} << u"X SPAM Y"_qs << true;
        QTest::newRow("blanks keep a longer word out") << QStringList{u" spam "_qs} << u"SPAMMER"_qs << false;
        QTest::newRow("accented fragment, plain text") << QStringList{u"\u00E9"_qs} << u"caf\u0045"_qs << true;
        QTest::newRow("accented fragment, lower text") << QStringList{u"\u00E9"_qs} << u"cafe"_qs << true;
        QTest::newRow("accented fragment, accented capital") << QStringList{u"\u00E9"_qs} << u"CAF\u00C9"_qs << false;
        QTest::newRow("n tilde both cases") << QStringList{u"\u00F1"_qs} << u"ESPA\u00D1A"_qs << true;
        QTest::newRow("second fragment matches")
            << QStringList{u"zzz"_qs, u"example"_qs} << u"ana@Example.com"_qs << true;
        QTest::newRow("empty list") << QStringList{} << u"anything"_qs << false;
        QTest::newRow("empty fragment, text not empty") << QStringList{QString()} << u"anything"_qs << false;
        QTest::newRow("empty fragment, empty text") << QStringList{QString()} << QString() << true;
    }
    void matchingFoldsBothSides() {
        QFETCH(QStringList, fragments);
        QFETCH(QString, text);
        QFETCH(bool, matches);
        const TFiltros onFrom = lists(fragments, {});
        QCOMPARE(onFrom.MatchesFrom(text), matches);
        QVERIFY(!onFrom.MatchesSubj(text));
        const TFiltros onSubj = lists({}, fragments);
        QCOMPARE(onSubj.MatchesSubj(text), matches);
        QVERIFY(!onSubj.MatchesFrom(text));
    }

    void readingIsLinearInTheSize_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("fragments");
        QTest::newRow("many lines") << QByteArray("[FROM]spam\r\n").repeated(400000) << 400000;
        QTest::newRow("one huge line") << QByteArray("[SUBJ]") + QByteArray(20 << 20, 'x') << 1;
    }
    void readingIsLinearInTheSize() {
        QFETCH(QByteArray, data);
        QFETCH(int, fragments);
        QElapsedTimer timer;
        timer.start();
        TFiltros f;
        ParseFiltersData(data, f);
        QCOMPARE(f.From.size() + f.Subj.size(), fragments);
        // Linear work takes well under a second here; a quadratic reader takes minutes.
        QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
    }
};

QTEST_GUILESS_MAIN(TestFilters)
#include "tst_filters.moc"
