// CuentasAcceso.dat, how each account logs in: what the reader makes of each kind of line, that
// what is written reads back the same, and that an entry follows its account when the accounts
// dialog renames or removes it, with Cuentas.dat left as it was.
#include "AccountAccess.h"
#include "AccountsFile.h"
#include "TestFiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

Q_DECLARE_METATYPE(AccountAccessList)

namespace {

const QString kAna = AccountKey(u"pop.x.es"_qs, 995, u"ana"_qs);
const QString kLuis = AccountKey(u"pop.y.es"_qs, 110, u"luis"_qs);

AccountAccess microsoft() {
    AccountAccess a;
    a.method = LoginMethod::OAuth2;
    a.provider = OAuthProvider::Microsoft;
    a.clientId = u"9e5f94bc-e8a4-4e73-b8be-63364c29d753"_qs;
    return a;
}

AccountAccess custom() {
    AccountAccess a;
    a.method = LoginMethod::OAuth2;
    a.clientId = u"tavelo"_qs;
    a.clientSecret = u"s3=cr3t"_qs;
    a.authorizeUrl = u"https://id.x.es/authorize?tenant=a"_qs;
    a.tokenUrl = u"https://id.x.es/token"_qs;
    a.scope = u"pop offline_access"_qs;
    return a;
}

AccountAccess passwordInKeyring() {
    AccountAccess a;
    a.passwordInKeyring = true;
    return a;
}

AccountAccessList listOf(const QList<AccountAccessList::Entry>& entries) {
    AccountAccessList list;
    list.entries = entries;
    return list;
}

} // namespace

class TestAccountAccess : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString path() const { return AccountAccessFilePath(m_dir.path()); }

private slots:
    void init() {
        QVERIFY(m_dir.isValid());
        QFile::remove(path());
    }

    void keyKeepsUserServerAndPortApart_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("key");
        QTest::newRow("plain") << u"pop.x.es"_qs << u"995"_qs << u"ana"_qs << u"ana@pop.x.es:995"_qs;
        QTest::newRow("address as user") << u"pop.x.es"_qs << u"110"_qs << u"ana@x.es"_qs
                                         << u"ana%40x.es@pop.x.es:110"_qs;
        QTest::newRow("port as the window reads it")
            << u"pop.x.es"_qs << u" +995"_qs << u"ana"_qs << u"ana@pop.x.es:995"_qs;
        QTest::newRow("bad port is 110") << u"pop.x.es"_qs << u"pop3"_qs << u"ana"_qs << u"ana@pop.x.es:110"_qs;
        QTest::newRow("colon and slash") << u"a:b"_qs << u"1"_qs << u"c/d"_qs << u"c%2Fd@a%3Ab:1"_qs;
    }
    void keyKeepsUserServerAndPortApart() {
        QFETCH(QString, server);
        QFETCH(QString, port);
        QFETCH(QString, user);
        QFETCH(QString, key);
        QCOMPARE(AccountKey(AccountRecord{server, port, user, {}}), key);
    }

    void writtenListReadsBackTheSame_data() {
        QTest::addColumn<AccountAccessList>("list");
        QTest::newRow("empty") << AccountAccessList{};
        QTest::newRow("defaults") << listOf({{kAna, {}}});
        QTest::newRow("microsoft") << listOf({{kAna, microsoft()}});
        QTest::newRow("custom, every field") << listOf({{kAna, custom()}});
        QTest::newRow("password in keyring") << listOf({{kAna, passwordInKeyring()}});
        QTest::newRow("clear text allowed") << listOf({{kAna, [] {
                                                            AccountAccess a;
                                                            a.allowPlaintext = true;
                                                            return a;
                                                        }()}});
        QTest::newRow("google, two accounts, file order")
            << listOf({{kLuis, passwordInKeyring()}, {kAna, [] {
                                                          AccountAccess a = microsoft();
                                                          a.provider = OAuthProvider::Google;
                                                          return a;
                                                      }()}});
        AccountAccessList withOthers = listOf({{kAna, microsoft()}});
        withOthers.leadingLines = {u"# escrito a mano"_qs};
        withOthers.entries[0].access.otherLines = {u"; nota"_qs, u"Caducidad=3600"_qs};
        QTest::newRow("comments and other keys") << withOthers;
    }
    void writtenListReadsBackTheSame() {
        QFETCH(AccountAccessList, list);
        SaveAccountAccessFile(path(), list);
        QStringList problems;
        QCOMPARE(LoadAccountAccessFile(path(), &problems), list);
        QCOMPARE(problems, QStringList());
        QCOMPARE(modeOf(path()), 0600); // the client secret is in it
    }

    void missingFileOrEntryMeansPasswordLogin() {
        QStringList problems;
        const AccountAccessList list = LoadAccountAccessFile(path(), &problems);
        QVERIFY(!QFile::exists(path()));
        QCOMPARE(list.find(kAna), AccountAccess{});
        QCOMPARE(list.find(kAna).method, LoginMethod::Password);
        SaveAccountAccessFile(path(), listOf({{kLuis, microsoft()}}));
        QCOMPARE(LoadAccountAccessFile(path()).find(kAna), AccountAccess{});
        QCOMPARE(problems, QStringList());
    }

    void unknownKeysAndCommentsAreKeptWhenWritingBack() {
        writeBytes(path(), "# hecho a mano\n"
                           "[ana@pop.x.es:995]\n"
                           "Acceso=oauth2\n"
                           "Caducidad=3600\n"
                           "; el proveedor de la empresa\n"
                           "Proveedor=microsoft\n");
        AccountAccessList list = LoadAccountAccessFile(path());
        AccountAccess a = list.find(kAna);
        a.clientId = u"nuevo"_qs;
        list.set(kAna, a);
        SaveAccountAccessFile(path(), list);
        QCOMPARE(fileBytes(path()), QByteArray("# hecho a mano\n\n"
                                               "[ana@pop.x.es:995]\n"
                                               "Acceso=oauth2\n"
                                               "Proveedor=microsoft\n"
                                               "ClienteId=nuevo\n"
                                               "PasswordEnLlavero=0\n"
                                               "Caducidad=3600\n"
                                               "; el proveedor de la empresa\n"));
    }

    void badLinesAreReportedAndSkipped_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<AccountAccessList>("list");
        QTest::addColumn<QStringList>("problems");
        QTest::newRow("CR LF line ends") << QByteArray("[ana@pop.x.es:995]\r\nPasswordEnLlavero=1\r\n")
                                         << listOf({{kAna, passwordInKeyring()}}) << QStringList();
        QTest::newRow("blanks around = and values") << QByteArray("  [ ana@pop.x.es:995 ]\n  PasswordEnLlavero = 1  \n")
                                                    << listOf({{kAna, passwordInKeyring()}}) << QStringList();
        QTest::newRow("no =") << QByteArray("[ana@pop.x.es:995]\nAcceso oauth2\nPasswordEnLlavero=1\n")
                              << listOf({{kAna, passwordInKeyring()}})
                              << QStringList{u"Línea 2: falta \"clave=valor\""_qs};
        QTest::newRow("unknown method") << QByteArray("[ana@pop.x.es:995]\nAcceso=kerberos\nPasswordEnLlavero=1\n")
                                        << listOf({{kAna, passwordInKeyring()}})
                                        << QStringList{
                                               u"Línea 2: \"kerberos\" no es un modo de acceso (password u oauth2)"_qs};
        QTest::newRow("unknown provider")
            << QByteArray("[ana@pop.x.es:995]\nProveedor=yahoo\n") << listOf({{kAna, {}}})
            << QStringList{u"Línea 2: \"yahoo\" no es un proveedor (microsoft, google o custom)"_qs};
        QTest::newRow("flag not 0 or 1") << QByteArray("[ana@pop.x.es:995]\nPasswordEnLlavero=si\n")
                                         << listOf({{kAna, {}}})
                                         << QStringList{u"Línea 2: PasswordEnLlavero debe ser 0 o 1"_qs};
        QTest::newRow("clear-text flag not 0 or 1")
            << QByteArray("[ana@pop.x.es:995]\nPasswordSinCifrar=2\n") << listOf({{kAna, {}}})
            << QStringList{u"Línea 2: PasswordSinCifrar debe ser 0 o 1"_qs};
        QTest::newRow("value before any section")
            << QByteArray("Acceso=oauth2\n[ana@pop.x.es:995]\n") << listOf({{kAna, {}}})
            << QStringList{u"Línea 1: fuera de la sección de una cuenta"_qs};
        // Its lines must not land in the account before it.
        QTest::newRow("bad header") << QByteArray("[ana@pop.x.es:995]\nPasswordEnLlavero=1\n[luis@pop.y.es:110\n"
                                                  "Acceso=oauth2\n")
                                    << listOf({{kAna, passwordInKeyring()}})
                                    << QStringList{u"Línea 3: encabezado de cuenta mal formado; se pasan por alto "
                                                   "sus líneas"_qs};
        QTest::newRow("account twice")
            << QByteArray("[ana@pop.x.es:995]\nAcceso=oauth2\n[luis@pop.y.es:110]\n[ana@pop.x.es:995]\n"
                          "PasswordEnLlavero=1\n")
            << listOf({{kAna,
                        [] {
                            AccountAccess a = passwordInKeyring();
                            a.method = LoginMethod::OAuth2;
                            return a;
                        }()},
                       {kLuis, {}}})
            << QStringList{u"Línea 4: la cuenta ana@pop.x.es:995 ya apareció antes; sus líneas se suman a las de "
                           "entonces"_qs};
    }
    void badLinesAreReportedAndSkipped() {
        QFETCH(QByteArray, data);
        QFETCH(AccountAccessList, list);
        QFETCH(QStringList, problems);
        QStringList reported;
        QCOMPARE(ParseAccountAccessData(data, &reported), list);
        QCOMPARE(reported, problems);
    }

    void entryFollowsItsAccountAndCuentasDatIsUntouched() {
        const QString accountsPath = m_dir.filePath(u"Cuentas.dat"_qs);
        const QByteArray accounts = "SERV:pop.x.es\r\nPORT:995\r\nUSER:ana\r\nPASS:IAOBAB\r\n-----\r\n";
        writeBytes(accountsPath, accounts);
        SaveAccountAccessFile(path(), listOf({{kAna, microsoft()}, {kLuis, passwordInKeyring()}}));

        const QString renamed = AccountKey(u"pop.x.es"_qs, 110, u"ana"_qs);
        RenameAccountAccess(path(), kAna, renamed);
        AccountAccessList list = LoadAccountAccessFile(path());
        QCOMPARE(list.find(renamed), microsoft());
        QCOMPARE(list.find(kAna), AccountAccess{});
        QCOMPARE(list.find(kLuis), passwordInKeyring());

        // Renamed onto another account's key: the moved entry replaces that one.
        RenameAccountAccess(path(), renamed, kLuis);
        QCOMPARE(LoadAccountAccessFile(path()), listOf({{kLuis, microsoft()}}));

        RemoveAccountAccess(path(), kLuis);
        QCOMPARE(LoadAccountAccessFile(path()), AccountAccessList{});
        QCOMPARE(fileBytes(accountsPath), accounts);
    }

    void renameOrRemoveOfNoEntryWritesNothing() {
        RenameAccountAccess(path(), kAna, kLuis);
        RemoveAccountAccess(path(), kAna);
        QVERIFY(!QFile::exists(path()));
    }
};

QTEST_GUILESS_MAIN(TestAccountAccess)
#include "tst_accountaccess.moc"
