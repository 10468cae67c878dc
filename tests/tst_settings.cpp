// The eleven settings in their INI file: first run, completing a partial file, integer forms of
// booleans, values of the wrong type, and strings that QSettings would otherwise mangle.
#include "Errors.h"
#include "Settings.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <climits>
#include <sys/stat.h>

Q_DECLARE_METATYPE(TConfig)

namespace {

// The values a first run starts with, written out rather than taken from the code.
TConfig firstRunValues() {
    TConfig c;
    c.iniTop = 20;
    c.ConectarTodosAlArrancar = false;
    c.MinimizarAlTray = false;
    c.ElementosEnVentana = 3;
    c.FiltrarAlConectar = false;
    c.PreguntarAntesDeBorrarEnFiltrado = true;
    c.wavNoTieneMensajes = c.wavSiTieneMensajes = c.wavFalloDuranteConexion = QString();
    c.segsReconexionSiDesconectado = 600;
    c.segsRechequeoSiConectado = 300;
    return c;
}

// How each default stands in the file.
const QMap<QString, QString> kDefaultText = {
    {u"iniTop"_qs, u"20"_qs},
    {u"ConectarTodosAlArrancar"_qs, u"0"_qs},
    {u"MinimizarAlTray"_qs, u"0"_qs},
    {u"ElementosEnVentana"_qs, u"3"_qs},
    {u"FiltrarAlConectar"_qs, u"0"_qs},
    {u"PreguntarAntesDeBorrarEnFiltrado"_qs, u"1"_qs},
    {u"wavNoTieneMensajes"_qs, QString()},
    {u"wavSiTieneMensajes"_qs, QString()},
    {u"wavFalloDuranteConexion"_qs, QString()},
    {u"segsReconexionSiDesconectado"_qs, u"600"_qs},
    {u"segsRechequeoSiConectado"_qs, u"300"_qs},
};

QString describe(const TConfig& c) {
    return u"%1 %2 %3 %4 %5 %6 [%7] [%8] [%9] %10 %11"_qs.arg(c.iniTop)
        .arg(c.ConectarTodosAlArrancar)
        .arg(c.MinimizarAlTray)
        .arg(c.ElementosEnVentana)
        .arg(c.FiltrarAlConectar)
        .arg(c.PreguntarAntesDeBorrarEnFiltrado)
        .arg(c.wavNoTieneMensajes, c.wavSiTieneMensajes, c.wavFalloDuranteConexion)
        .arg(c.segsReconexionSiDesconectado)
        .arg(c.segsRechequeoSiConectado);
}

// The key=value lines of the [General] group exactly as they stand in the file, sorted.
QStringList generalLines(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {u"<no file>"_qs};
    QStringList lines;
    bool inGeneral = false;
    for (const QString& line : QString::fromUtf8(f.readAll()).split(u'\n')) {
        if (line.startsWith(u'['))
            inGeneral = line == u"[General]";
        else if (inGeneral && !line.isEmpty())
            lines << line;
    }
    lines.sort();
    return lines;
}

QStringList defaultLines() {
    QStringList lines;
    for (auto it = kDefaultText.cbegin(); it != kDefaultText.cend(); ++it)
        lines << it.key() + u'=' + it.value();
    lines.sort();
    return lines;
}

int modeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

} // namespace

class TestSettings : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    int m_case = 0;
    // A fresh directory for every test and row: QSettings caches a file by name and tells a
    // rewrite from the old content only by size and modification time.
    QString caseDir() const { return m_dir.filePath(u"case%1"_qs.arg(m_case)); }
    QString ini() const { return caseDir() + u"/Quenmar/Tavelo.ini"_qs; }

private slots:
    void init() {
        QVERIFY(m_dir.isValid());
        ++m_case;
    }

    void settingsFileIsThePerUserIni() {
        const QString base = qEnvironmentVariableIsEmpty("XDG_CONFIG_HOME") ? QDir::homePath() + u"/.config"_qs
                                                                            : qEnvironmentVariable("XDG_CONFIG_HOME");
        QCOMPARE(SettingsFilePath(), base + u"/Quenmar/Tavelo.ini"_qs);
    }

    void firstRunKeepsDefaultsAndWritesNothing() {
        TConfig c;
        c.iniTop = 99;
        c.wavSiTieneMensajes = u"left over"_qs;
        LoadSettings(c, ini());
        QCOMPARE(describe(c), describe(firstRunValues()));
        QVERIFY(!QFileInfo::exists(ini()));
        QVERIFY(!QFileInfo::exists(caseDir()));
    }

    void saveCreatesAllElevenKeys() {
        SaveSettings(firstRunValues(), ini());
        QCOMPARE(generalLines(ini()), defaultLines());
    }

    // Each row is a [General] group on disk before loading; keysAdded must be written by the load
    // with their defaults, and every other missing key must still be missing afterwards.
    void loadReadsPresentKeysAndCompletesTheRest_data() {
        QTest::addColumn<QByteArray>("general");
        QTest::addColumn<TConfig>("expected");
        QTest::addColumn<QString>("badKey");
        QTest::addColumn<QStringList>("keysAdded");
        const QStringList allKeys = kDefaultText.keys();
        const auto allBut = [&allKeys](const QStringList& present) {
            QStringList keys = allKeys;
            for (const QString& k : present)
                keys.removeAll(k);
            return keys;
        };
        TConfig c;

        c = firstRunValues();
        c.iniTop = 40;
        QTest::newRow("only iniTop") << QByteArray("iniTop=40\n") << c << QString() << allBut({u"iniTop"_qs});

        QTest::newRow("empty group") << QByteArray() << firstRunValues() << QString() << allKeys;

        c = firstRunValues();
        c.MinimizarAlTray = true;
        c.FiltrarAlConectar = true;
        c.PreguntarAntesDeBorrarEnFiltrado = false;
        QTest::newRow("boolean true for any integer but 0")
            << QByteArray("MinimizarAlTray=5\nFiltrarAlConectar=-1\nPreguntarAntesDeBorrarEnFiltrado=0\n") << c
            << QString()
            << allBut({u"MinimizarAlTray"_qs, u"FiltrarAlConectar"_qs, u"PreguntarAntesDeBorrarEnFiltrado"_qs});

        c = firstRunValues();
        c.segsRechequeoSiConectado = 0;
        c.segsReconexionSiDesconectado = -5;
        QTest::newRow("zero and negative intervals")
            << QByteArray("segsRechequeoSiConectado=0\nsegsReconexionSiDesconectado=-5\n") << c << QString()
            << allBut({u"segsRechequeoSiConectado"_qs, u"segsReconexionSiDesconectado"_qs});

        c = firstRunValues();
        c.wavSiTieneMensajes = u"/snd/a,b.wav"_qs;
        c.wavNoTieneMensajes = u"/snd/vac\u00EDo.wav"_qs;
        QTest::newRow("strings, one with an unquoted comma")
            << QByteArray("wavSiTieneMensajes=/snd/a,b.wav\nwavNoTieneMensajes=/snd/vac\xC3\xADo.wav\n") << c
            << QString() << allBut({u"wavSiTieneMensajes"_qs, u"wavNoTieneMensajes"_qs});

        c = firstRunValues();
        c.wavFalloDuranteConexion = u"7"_qs;
        c.iniTop = 5;
        QTest::newRow("digits in a string, quoted number")
            << QByteArray("wavFalloDuranteConexion=7\niniTop=\"5\"\n") << c << QString()
            << allBut({u"wavFalloDuranteConexion"_qs, u"iniTop"_qs});

        c = TConfig{1, true, true, 2, true, false, u"a"_qs, u"b"_qs, u"c"_qs, 10, 20};
        QTest::newRow("every key present")
            << QByteArray("iniTop=1\nConectarTodosAlArrancar=1\nMinimizarAlTray=1\nElementosEnVentana=2\n"
                          "FiltrarAlConectar=1\nPreguntarAntesDeBorrarEnFiltrado=0\nwavNoTieneMensajes=a\n"
                          "wavSiTieneMensajes=b\nwavFalloDuranteConexion=c\nsegsReconexionSiDesconectado=10\n"
                          "segsRechequeoSiConectado=20\n")
            << c << QString() << QStringList{};

        QTest::newRow("first key not a number")
            << QByteArray("iniTop=abc\nElementosEnVentana=2\n") << firstRunValues() << u"iniTop"_qs << QStringList{};

        c = firstRunValues();
        c.ConectarTodosAlArrancar = true;
        QTest::newRow("bad key in the middle")
            << QByteArray("ConectarTodosAlArrancar=1\nElementosEnVentana=x\nFiltrarAlConectar=1\n") << c
            << u"ElementosEnVentana"_qs << QStringList{u"iniTop"_qs, u"MinimizarAlTray"_qs};

        QTest::newRow("boolean written as a word")
            << QByteArray("MinimizarAlTray=true\n") << firstRunValues() << u"MinimizarAlTray"_qs
            << QStringList{u"iniTop"_qs, u"ConectarTodosAlArrancar"_qs};

        c = firstRunValues();
        c.wavFalloDuranteConexion = u"x"_qs;
        QTest::newRow("empty number after the strings")
            << QByteArray("wavFalloDuranteConexion=x\nsegsReconexionSiDesconectado=\n") << c
            << u"segsReconexionSiDesconectado"_qs
            << QStringList{u"iniTop"_qs,
                           u"ConectarTodosAlArrancar"_qs,
                           u"MinimizarAlTray"_qs,
                           u"ElementosEnVentana"_qs,
                           u"FiltrarAlConectar"_qs,
                           u"PreguntarAntesDeBorrarEnFiltrado"_qs,
                           u"wavNoTieneMensajes"_qs,
                           u"wavSiTieneMensajes"_qs};

        QTest::newRow("list where a number belongs")
            << QByteArray("iniTop=1,2\n") << firstRunValues() << u"iniTop"_qs << QStringList{};
        QTest::newRow("number too big for 32 bits")
            << QByteArray("iniTop=4294967296\n") << firstRunValues() << u"iniTop"_qs << QStringList{};
    }
    void loadReadsPresentKeysAndCompletesTheRest() {
        QFETCH(QByteArray, general);
        QFETCH(TConfig, expected);
        QFETCH(QString, badKey);
        QFETCH(QStringList, keysAdded);
        writeBytes(ini(), "[General]\n" + general);
        const QSettings before(ini(), QSettings::IniFormat);
        const QStringList present = before.allKeys();

        TConfig c;
        try {
            LoadSettings(c, ini());
            QVERIFY2(badKey.isEmpty(), "no error");
        } catch (const ERegistryException& e) {
            QVERIFY2(!badKey.isEmpty(), qPrintable(e.message()));
            QCOMPARE(e.message(), u"Invalid data type for '%1'"_qs.arg(badKey));
        }
        QCOMPARE(describe(c), describe(expected));

        const QSettings after(ini(), QSettings::IniFormat);
        for (const QString& key : kDefaultText.keys()) {
            if (present.contains(key)) continue;
            QCOMPARE(after.contains(key), keysAdded.contains(key));
            if (keysAdded.contains(key)) QCOMPARE(after.value(key).toString(), kDefaultText[key]);
        }
    }

    void booleansAreSavedAsZeroOrOne() {
        writeBytes(ini(), "[General]\nMinimizarAlTray=5\nFiltrarAlConectar=-3\n");
        TConfig c;
        LoadSettings(c, ini());
        SaveSettings(c, ini());
        QStringList expected = defaultLines();
        expected.replaceInStrings(u"MinimizarAlTray=0"_qs, u"MinimizarAlTray=1"_qs);
        expected.replaceInStrings(u"FiltrarAlConectar=0"_qs, u"FiltrarAlConectar=1"_qs);
        QCOMPARE(generalLines(ini()), expected);
    }

    void savedValuesLoadBack_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("number");
        QTest::addColumn<bool>("flag");
        QTest::newRow("comma") << u"/snd/a,b.wav"_qs << 0 << true;
        QTest::newRow("leading and trailing blanks") << u"  /snd/x.wav  "_qs << 1 << true;
        QTest::newRow("INI specials") << u"a=b;c#d \"q\" [General]"_qs << INT_MIN << true;
        QTest::newRow("accents and euro") << u"/home/Jos\u00E9/\u20AC.wav"_qs << INT_MAX << false;
        QTest::newRow("empty") << QString() << 0 << false;
    }
    void savedValuesLoadBack() {
        QFETCH(QString, text);
        QFETCH(int, number);
        QFETCH(bool, flag);
        const TConfig saved{number, flag,        !flag,       number, flag,   !flag,
                            text,   text + u'2', u'3' + text, number, ~number}; // ~: every int, INT_MIN too
        SaveSettings(saved, ini());
        // Loaded from a copy, so the values come from the bytes on disk and not from QSettings' cache.
        const QString copy = caseDir() + u"/copy.ini"_qs;
        QVERIFY(QFile::copy(ini(), copy));
        TConfig loaded;
        LoadSettings(loaded, copy);
        QCOMPARE(describe(loaded), describe(saved));
    }

    void saveKeepsOtherGroups() {
        writeBytes(ini(), "[Certificados]\npop.example.com=AB:CD\n\n[General]\niniTop=7\n");
        SaveSettings(firstRunValues(), ini());
        const QSettings s(ini(), QSettings::IniFormat);
        QCOMPARE(s.value(u"Certificados/pop.example.com"_qs).toString(), u"AB:CD"_qs);
        QCOMPARE(generalLines(ini()), defaultLines());
    }

    // A save killed while QSettings held its lock leaves the lock file behind. The next save must
    // not wait for it (QSettings would, 30 seconds, with the window frozen); a lock of a running
    // process is left alone.
    void abandonedLockFileDoesNotHoldUpTheNextSave_data() {
        QTest::addColumn<QString>("lock"); // how the lock file was left
        QTest::newRow("empty: killed while making it") << u"empty"_qs;
        QTest::newRow("of a process no longer running") << u"dead"_qs;
        QTest::newRow("the same, and an empty lock for removing it") << u"dead+rmlock"_qs;
    }
    void abandonedLockFileDoesNotHoldUpTheNextSave() {
        QFETCH(QString, lock);
        SaveSettings(firstRunValues(), ini());
        const QString lockPath = ini() + u".lock"_qs;
        if (lock == u"empty") {
            writeBytes(lockPath, QByteArray());
        } else {
            // A lock file exactly as this Qt writes it, naming a process that has ended.
            QByteArray content;
            {
                QLockFile own(lockPath);
                QVERIFY(own.tryLock(0));
                QFile f(lockPath);
                QVERIFY(f.open(QIODevice::ReadOnly));
                content = f.readAll();
            }
            QProcess ended;
            ended.start(u"/bin/true"_qs);
            QVERIFY(ended.waitForStarted());
            const QByteArray pid = QByteArray::number(ended.processId());
            QVERIFY(ended.waitForFinished());
            content.replace(0, content.indexOf('\n'), pid);
            writeBytes(lockPath, content);
            // QLockFile takes "<lock>.rmlock" to remove a stale lock; a crash may leave it empty.
            if (lock.endsWith(u"+rmlock")) writeBytes(lockPath + u".rmlock"_qs, QByteArray());
        }
        TConfig changed = firstRunValues();
        changed.iniTop = 33;
        QElapsedTimer clock;
        clock.start();
        SaveSettings(changed, ini());
        QVERIFY2(clock.elapsed() < 10000, "the save waited for the abandoned lock");
        TConfig loaded;
        LoadSettings(loaded, ini());
        QCOMPARE(loaded.iniTop, 33);
        QVERIFY(!QFileInfo::exists(lockPath));
    }

    void lockOfARunningProcessStays() {
        SaveSettings(firstRunValues(), ini());
        QLockFile held(ini() + u".lock"_qs);
        QVERIFY(held.tryLock(0));
        ClearAbandonedSettingsLock(ini());
        qint64 pid = 0;
        QString host, application;
        QVERIFY(held.getLockInfo(&pid, &host, &application));
        QCOMPARE(pid, QCoreApplication::applicationPid());
    }

    // The recycle bin's and the log's options of [Avanzado]: a value that is no number, or out of
    // range, keeps the default; what is loaded is saved and loaded back the same.
    void papeleraOptionsLoadWithinBounds_data() {
        QTest::addColumn<QByteArray>("group");
        QTest::addColumn<bool>("copy");
        QTest::addColumn<int>("days");
        QTest::addColumn<int>("logMB");
        QTest::newRow("none") << QByteArray() << true << 30 << 16;
        QTest::newRow("off, a week") << QByteArray("CopiaAntesDeBorrar=0\nDiasPapelera=7\n") << false << 7 << 16;
        QTest::newRow("any other number is on") << QByteArray("CopiaAntesDeBorrar=2\n") << true << 30 << 16;
        QTest::newRow("bounds") << QByteArray("DiasPapelera=1\n") << true << 1 << 16;
        QTest::newRow("ten years") << QByteArray("DiasPapelera= 3650 \n") << true << 3650 << 16;
        QTest::newRow("no days") << QByteArray("DiasPapelera=0\n") << true << 30 << 16;
        QTest::newRow("negative") << QByteArray("DiasPapelera=-5\n") << true << 30 << 16;
        QTest::newRow("beyond ten years") << QByteArray("DiasPapelera=3651\n") << true << 30 << 16;
        QTest::newRow("not numbers") << QByteArray("CopiaAntesDeBorrar=no\nDiasPapelera=siete\n") << true << 30 << 16;
        // The dialogue log's bound, in the same group.
        QTest::newRow("log bound") << QByteArray("LimiteDialogoMB=64\n") << true << 30 << 64;
        QTest::newRow("log bound of none") << QByteArray("LimiteDialogoMB=0\n") << true << 30 << 16;
    }
    void papeleraOptionsLoadWithinBounds() {
        QFETCH(QByteArray, group);
        QFETCH(bool, copy);
        QFETCH(int, days);
        QFETCH(int, logMB);
        writeBytes(ini(), "[Avanzado]\nPipelining=0\n" + group);
        const TAdvancedSettings loaded = LoadAdvancedSettings(ini());
        QCOMPARE(loaded.CopiaAntesDeBorrar, copy);
        QCOMPARE(loaded.DiasPapelera, days);
        QCOMPARE(loaded.LimiteDialogoMB, logMB);
        QVERIFY(!loaded.Pipelining);
        const QString copyPath = caseDir() + u"/copy.ini"_qs;
        SaveAdvancedSettings(loaded, copyPath);
        QVERIFY(LoadAdvancedSettings(copyPath) == loaded);
    }

    // With no umask at all, the file names servers and certificates: its owner's only, and so is a
    // folder made for it; a folder that was there keeps its mode.
    void settingsFileIsItsOwnersOnly_data() {
        QTest::addColumn<QString>("write");
        QTest::addColumn<bool>("fileBefore"); // one open to everybody, in a folder open to everybody
        QTest::newRow("first save") << u"save"_qs << false;
        QTest::newRow("first save of [Avanzado]") << u"advanced"_qs << false;
        QTest::newRow("save over a file open to others") << u"save"_qs << true;
        QTest::newRow("load that completes a file open to others") << u"load"_qs << true;
    }
    void settingsFileIsItsOwnersOnly() {
        QFETCH(QString, write);
        QFETCH(bool, fileBefore);
        const mode_t previous = ::umask(0);
        const auto restore = qScopeGuard([previous] { ::umask(previous); });
        const QString folder = QFileInfo(ini()).absolutePath();
        if (fileBefore) writeBytes(ini(), "[General]\niniTop=7\n");
        const int folderBefore = modeOf(folder);
        if (fileBefore) QCOMPARE(modeOf(ini()), 0666);
        TConfig c;
        if (write == u"load")
            LoadSettings(c, ini());
        else if (write == u"advanced")
            SaveAdvancedSettings(TAdvancedSettings{}, ini());
        else
            SaveSettings(c, ini());
        QCOMPARE(modeOf(ini()), 0600);
        QCOMPARE(modeOf(folder), fileBefore ? folderBefore : 0700);
        QCOMPARE(::umask(previous), mode_t(0)); // the process' own umask is back
    }

    void saveWhereNoFileCanBeMadeThrows() {
        writeBytes(caseDir() + u"/Quenmar"_qs, "a file, not a directory");
        QVERIFY_THROWS_EXCEPTION(ERegistryException, SaveSettings(firstRunValues(), ini()));
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
