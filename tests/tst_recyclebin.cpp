// The Papelera's Maildir and its index: what a copy holds and what the index says of it, expiry,
// and a list that follows the files rather than the index.
#include "Errors.h"
#include "RecycleBin.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QDateTime kNow(QDate(2025, 3, 10), QTime(12, 0));

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

class TestRecycleBin : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    QString root() const { return dir->filePath(u"Papelera"_qs); }

private slots:
    void init() { dir = std::make_unique<QTemporaryDir>(); }

    void copyIsKeptWithItsIndexLine_data() {
        QTest::addColumn<QByteArray>("message"); // as the server sent it
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QByteArray>("file");  // what the Maildir file holds
        QTest::addColumn<QByteArray>("index"); // the index line after the name
        QTest::newRow("plain") << QByteArray("From: Ana <ana@x.es>\r\nSubject: Hola\r\nDate: Mon, 05 Aug 2002 "
                                             "10:20:30 +0200\r\n\r\nCuerpo\r\n.punto\r\n")
                               << u"Eliminado por el usuario"_qs
                               << QByteArray("From: Ana <ana@x.es>\nSubject: Hola\nDate: Mon, 05 Aug 2002 "
                                             "10:20:30 +0200\n\nCuerpo\n.punto\n")
                               << QByteArray("ana@pop.x.es\tAna <ana@x.es>\tHola\tMon, 05 Aug 2002 10:20:30 "
                                             "+0200\tEliminado por el usuario");
        QTest::newRow("encoded, folded, tabs and line breaks")
            << QByteArray("Subject: =?iso-8859-1?q?Caf=E9?=\r\n\tcon\tleche\r\nFrom: a@x.es\r\n\r\nx\r\n")
            << u"Filtro:\tSUBJ\r\noferta"_qs
            << QByteArray("Subject: =?iso-8859-1?q?Caf=E9?=\n\tcon\tleche\nFrom: a@x.es\n\nx\n")
            << QByteArray("ana@pop.x.es\ta@x.es\tCaf\xC3\xA9 con leche\t\tFiltro: SUBJ  oferta");
        QTest::newRow("no header, a lone CR kept")
            << QByteArray("\r\nsolo\rcuerpo\r\n") << QString() << QByteArray("\nsolo\rcuerpo\n")
            << QByteArray("ana@pop.x.es\t\t\t\t");
    }
    void copyIsKeptWithItsIndexLine() {
        QFETCH(QByteArray, message);
        QFETCH(QString, reason);
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, index);
        TPapelera bin(dir->path());
        const QString name = bin.Guardar(u"ana@pop.x.es"_qs, message, reason, kNow);
        QCOMPARE(readAll(root() + u"/new/"_qs + name), file);
        QVERIFY(QDir(root() + u"/tmp"_qs).isEmpty());
        QCOMPARE(readAll(root() + u"/Indice.dat"_qs), name.toUtf8() + '\t' + index + "\r\n");
        const QList<TCopiaPapelera> copies = bin.Copias();
        QCOMPARE(copies.size(), 1);
        const QStringList fields = QString::fromUtf8(index).split(u'\t');
        const TCopiaPapelera& c = copies[0];
        QCOMPARE((QStringList{c.Cuenta, c.Remitente, c.Asunto, c.Fecha, c.Motivo}), fields);
        QCOMPARE(c.Guardada, kNow);
        QCOMPARE(bin.Ruta(c.Archivo), root() + u"/new/"_qs + name);
    }

    // Copies kept 40, 31 and 2 days ago: those older than the days given go, with their lines.
    void expiryRemovesOldCopiesAndTheirLines_data() {
        QTest::addColumn<int>("days");
        QTest::addColumn<QStringList>("left"); // subjects, newest first
        QTest::newRow("a month") << 30 << QStringList{u"2"_qs};
        QTest::newRow("five weeks") << 35 << QStringList{u"2"_qs, u"31"_qs};
        QTest::newRow("a day") << 1 << QStringList{};
        QTest::newRow("ten years") << 3650 << QStringList{u"2"_qs, u"31"_qs, u"40"_qs};
    }
    void expiryRemovesOldCopiesAndTheirLines() {
        QFETCH(int, days);
        QFETCH(QStringList, left);
        TPapelera bin(dir->path());
        for (int age : {40, 2, 31})
            bin.Guardar(u"a@b"_qs, "Subject: " + QByteArray::number(age) + "\r\n\r\n", {}, kNow.addDays(-age));
        QCOMPARE(bin.Caducar(days, kNow), 3 - int(left.size()));
        QStringList subjects;
        for (const TCopiaPapelera& c : bin.Copias())
            subjects << c.Asunto;
        QCOMPARE(subjects, left);
        const int files = int(QDir(root() + u"/new"_qs).entryList(QDir::Files).size());
        QCOMPARE(files, int(left.size()));
        QCOMPARE(readAll(root() + u"/Indice.dat"_qs).count("\r\n"), int(left.size()));
    }

    // A file a mail reader moved to cur is still listed; one put there by hand shows its header;
    // an index line without its file is left out.
    void listFollowsTheFiles() {
        TPapelera bin(dir->path());
        const QString seen = bin.Guardar(u"a@b"_qs, "Subject: Visto\r\n\r\n", u"m"_qs, kNow.addDays(-1));
        const QString gone = bin.Guardar(u"a@b"_qs, "Subject: Borrado\r\n\r\n", u"m"_qs, kNow);
        QVERIFY(QFile::rename(root() + u"/new/"_qs + seen, root() + u"/cur/"_qs + seen + u":2,S"_qs));
        QVERIFY(QFile::remove(root() + u"/new/"_qs + gone));
        QFile byHand(root() + u"/cur/1700000000.1_1.host:2,"_qs);
        QVERIFY(byHand.open(QIODevice::WriteOnly));
        byHand.write("From: x@y.es\nSubject: A mano\n\ncuerpo\n");
        byHand.close();
        QStringList rows;
        for (const TCopiaPapelera& c : bin.Copias())
            rows << c.Archivo + u'|' + c.Cuenta + u'|' + c.Remitente + u'|' + c.Asunto;
        QCOMPARE(rows, (QStringList{seen + u"|a@b||Visto"_qs, u"1700000000.1_1.host||x@y.es|A mano"_qs}));
        QCOMPARE(bin.Ruta(seen), root() + u"/cur/"_qs + seen + u":2,S"_qs);
        QVERIFY(bin.Ruta(gone).isEmpty());
    }

    // The index names the account with its port; lines an earlier version wrote, without one, are
    // still read, and kept as they are when a copy is added.
    void indexNamesTheAccountWithItsPort_data() {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("server");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("named");
        QTest::newRow("name") << u"ana"_qs << u"pop.x.es"_qs << 995 << u"ana@pop.x.es:995"_qs;
        QTest::newRow("address") << u"ana@x.es"_qs << u"192.0.2.7"_qs << 110 << u"ana@x.es@192.0.2.7:110"_qs;
        QTest::newRow("IPv6 address") << u"ana"_qs << u"::1"_qs << 1110 << u"ana@[::1]:1110"_qs;
    }
    void indexNamesTheAccountWithItsPort() {
        QFETCH(QString, user);
        QFETCH(QString, server);
        QFETCH(int, port);
        QFETCH(QString, named);
        QVERIFY(QDir(dir->path()).mkpath(u"Papelera/new"_qs));
        const QString old = u"1700000000.1_1.host"_qs;
        const QByteArray oldLine = old.toUtf8() + "\tana@pop.x.es\tb@x.es\tAntiguo\t\tEliminado por el usuario\r\n";
        QFile oldFile(root() + u"/new/"_qs + old);
        QVERIFY(oldFile.open(QIODevice::WriteOnly));
        oldFile.write("Subject: Antiguo\n\n");
        oldFile.close();
        QFile index(root() + u"/Indice.dat"_qs);
        QVERIFY(index.open(QIODevice::WriteOnly));
        index.write(oldLine);
        index.close();
        TPapelera bin(dir->path());
        const QString name = bin.Guardar(CuentaPapelera(user, server, port), "Subject: Nuevo\r\n\r\n", {}, kNow);
        QStringList accounts;
        for (const TCopiaPapelera& c : bin.Copias())
            accounts << c.Archivo + u'|' + c.Cuenta;
        QCOMPARE(accounts, (QStringList{name + u'|' + named, old + u"|ana@pop.x.es"_qs}));
        QVERIFY(readAll(root() + u"/Indice.dat"_qs).startsWith(oldLine));
    }

    // With no umask at all, whatever the Papelera makes is its owner's only; a folder the user made
    // keeps its mode. "%1" stands for the copy's name.
    void whatItKeepsIsItsOwnersOnly_data() {
        QTest::addColumn<QString>("dataDir"); // under the test's folder, whose mode is 0755
        QTest::addColumn<bool>("oldIndex");   // an index of an earlier run, open to everybody
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<int>("mode");
        QTest::newRow("the Papelera and its Maildir folders")
            << QString() << false
            << QStringList{u"Papelera"_qs, u"Papelera/tmp"_qs, u"Papelera/new"_qs, u"Papelera/cur"_qs} << 0700;
        QTest::newRow("the copy") << QString() << false << QStringList{u"Papelera/new/%1"_qs} << 0600;
        QTest::newRow("the index") << QString() << false << QStringList{u"Papelera/Indice.dat"_qs} << 0600;
        QTest::newRow("an index of an earlier run")
            << QString() << true << QStringList{u"Papelera/Indice.dat"_qs} << 0600;
        QTest::newRow("a data folder made for it, and the one above")
            << u"nueva/datos"_qs << false << QStringList{u"nueva"_qs, u"nueva/datos"_qs} << 0700;
        QTest::newRow("the user's folder keeps its mode") << QString() << false << QStringList{QString()} << 0755;
    }
    void whatItKeepsIsItsOwnersOnly() {
        QFETCH(QString, dataDir);
        QFETCH(bool, oldIndex);
        QFETCH(QStringList, paths);
        QFETCH(int, mode);
        const mode_t previous = ::umask(0);
        const auto restore = qScopeGuard([previous] { ::umask(previous); });
        QVERIFY(QFile::setPermissions(dir->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                       QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                                       QFile::ExeOther));
        if (oldIndex) {
            QVERIFY(QDir(dir->path()).mkpath(u"Papelera"_qs));
            QFile index(root() + u"/Indice.dat"_qs);
            QVERIFY(index.open(QIODevice::WriteOnly));
            QVERIFY(index.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup |
                                         QFile::ReadOther | QFile::WriteOther));
        }
        TPapelera bin(dir->filePath(dataDir));
        const QString name = bin.Guardar(u"a@b"_qs, "Subject: x\r\n\r\ncuerpo\r\n", {}, kNow);
        for (const QString& path : paths) {
            const QString file = dir->filePath(path.contains(u"%1") ? path.arg(name) : path);
            QVERIFY2(modeOf(file) == mode, qPrintable(u"%1: %2"_qs.arg(file).arg(modeOf(file), 0, 8)));
        }
    }

    void folderThatCannotBeMadeKeepsNothing() {
        QFile blocker(root());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        TPapelera bin(dir->path());
        QVERIFY_THROWS_EXCEPTION(EInOutError, bin.Guardar(u"a@b"_qs, "Subject: x\r\n\r\n", {}, kNow));
        QVERIFY(bin.Copias().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestRecycleBin)
#include "tst_recyclebin.moc"
