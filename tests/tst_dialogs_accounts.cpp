// The accounts dialog on a real main window, typed into and clicked like a user would: what each
// command leaves in Cuentas.dat, CuentasAcceso.dat, the secret store and the main window's connect
// menu; what the login dialog refuses.
#include "AccountLogins.h"
#include "AccountsDialog.h"
#include "PasswordScrambling.h"
#include "SecretStore.h"
#include "WindowDialogs.h"
#include "WindowHarness.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

namespace {

using Records = QList<QStringList>; // server, port, user, clear password

QByteArray accountsFile(const Records& records, bool upperPasswords = false) {
    QByteArray out;
    for (const QStringList& r : records) {
        const QString pass = EncodePassword(r[3]);
        out += "SERV:" + r[0].toLatin1() + "\r\nPORT:" + r[1].toLatin1() + "\r\nUSER:" + r[2].toLatin1() +
               "\r\nPASS:" + (upperPasswords ? pass.toUpper() : pass).toLatin1() + "\r\n-----\r\n";
    }
    return out;
}

const Records kTwo = {{u"pop.a"_qs, u"110"_qs, u"ana"_qs, u"x"_qs}, {u"pop.b"_qs, u"995"_qs, u"bea"_qs, u"y"_qs}};

/** The file holds exactly these records; scrambled passwords come in random letter case, so their
 *  lines are compared without it and must decode to the clear password. */
void compareAccountsFile(const QByteArray& actual, const Records& expected) {
    QByteArrayList lines = actual.split('\n');
    QStringList decoded;
    for (QByteArray& line : lines) {
        if (!line.startsWith("PASS:")) continue;
        decoded << DecodePassword(QString::fromLatin1(line.mid(5).chopped(1)));
        line = line.toUpper();
    }
    QCOMPARE(lines.join('\n'), accountsFile(expected, true));
    QStringList clear;
    for (const QStringList& r : expected)
        clear << r[3];
    QCOMPARE(decoded, clear);
}

QStringList menuEntries(const TfrmPrincipal& w) {
    QStringList out;
    for (const QAction* a : WindowProbe::mnuConectarCuentas(&w)->actions())
        out << a->text();
    return out;
}

QList<int> ports(const TfrmPrincipal& w) {
    QList<int> out;
    for (const TCuenta* a : WindowProbe::Accounts(&w))
        out << a->Puerto;
    return out;
}

/** Replaces the field's text by typing. */
void retype(QLineEdit* field, const QString& text) {
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, text);
}

/** Clicks a row, or with -1 an empty part of the list. */
void clickRow(QTreeWidget* list, int row) {
    const QPoint at =
        row < 0 ? QPoint(5, list->viewport()->height() - 3) : list->visualItemRect(list->topLevelItem(row)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
}

QString buttonStates(const TfrmCuentas* d) {
    QString out;
    for (const QPushButton* b : {d->btnAdd, d->btnModificar, d->btnEliminar})
        out += b->isEnabled() ? u'1' : u'0';
    return out;
}

} // namespace

class TestAccountsDialog : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowHarness> h;
    TfrmPrincipal* w = nullptr;
    TfrmCuentas* d = nullptr;

    void openWith(const QByteArray& file) {
        h->write(u"Cuentas.dat"_qs, file);
        w = &h->open();
        d = NewAccountsDialog(w); // owned by the main window
        d->show();
        QVERIFY(QTest::qWaitForWindowExposed(d));
    }

    /** Runs a user's steps: "user=", "pass=", "server=", "port=" type into a field, "port+=" pastes
     *  at its end, "click N" (-1: no row), "add", "modify", "delete", "cancel" (answers the next box),
     *  "access=CHOICE" chooses in the login dialog (ChooseAccess). */
    void run(const QStringList& steps) {
        const QHash<QString, QLineEdit*> fields = {{u"user"_qs, d->edtUserName},
                                                   {u"pass"_qs, d->edtPassword},
                                                   {u"server"_qs, d->edtServidor},
                                                   {u"port"_qs, d->edtPuerto}};
        for (const QString& step : steps) {
            if (step.startsWith(u"click "_qs))
                clickRow(d->ListView, step.mid(6).toInt());
            else if (step == u"add"_qs)
                QTest::mouseClick(d->btnAdd, Qt::LeftButton);
            else if (step == u"modify"_qs)
                QTest::mouseClick(d->btnModificar, Qt::LeftButton);
            else if (step == u"delete"_qs)
                QTest::mouseClick(d->btnEliminar, Qt::LeftButton);
            else if (step == u"cancel"_qs)
                h->boxAnswer = QMessageBox::Cancel;
            else if (step.startsWith(u"access="_qs))
                ChooseAccess(d->btnAcceso, d->frmAcceso, step.mid(7));
            else if (const qsizetype eq = step.indexOf(u"+="_qs); eq > 0)
                fields[step.left(eq)]->insert(step.mid(eq + 2));
            else if (const qsizetype is = step.indexOf(u'='); is > 0)
                retype(fields[step.left(is)], step.mid(is + 1));
            else
                QFAIL(qPrintable(u"unknown step "_qs + step));
        }
    }

    /** CuentasAcceso.dat in short, an entry a line: "key method [provider client id] [keyring]". */
    QStringList accessEntries() const {
        const QByteArray data = h->read(u"CuentasAcceso.dat"_qs);
        if (data == "<missing>") return {QString::fromLatin1(data)};
        QStringList out;
        for (const AccountAccessList::Entry& e : ParseAccountAccessData(data).entries) {
            QString line = e.key;
            if (e.access.method == LoginMethod::OAuth2)
                line += u" oauth2 "_qs + QString::number(int(e.access.provider)) + u' ' + e.access.clientId;
            else
                line += u" password"_qs;
            if (e.access.passwordInKeyring) line += u" keyring"_qs;
            out << line;
        }
        return out;
    }

    /** The secret under that name in the window's store, "<none>" when there is none. */
    QString secret(const QString& name) const {
        auto answer = std::make_shared<std::optional<QString>>();
        WindowProbe::logins(w)->secrets()->read(name, nullptr, [answer](const SecretResult& r) {
            *answer = r.status == SecretResult::Done       ? r.secret
                      : r.status == SecretResult::NotFound ? u"<none>"_qs
                                                           : u"<failed> "_qs + r.error;
        });
        return QTest::qWaitFor([answer] { return answer->has_value(); }) ? **answer : u"<no answer>"_qs;
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

    void addNeedsUserServerAndPort_data() {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("pass");
        QTest::addColumn<QString>("server");
        QTest::addColumn<int>("portBackspaces");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("nothing typed") << QString() << QString() << QString() << 0 << false;
        QTest::newRow("user and server") << u"ana"_qs << QString() << u"pop.a"_qs << 0 << true;
        QTest::newRow("user only") << u"ana"_qs << u"x"_qs << QString() << 0 << false;
        QTest::newRow("server only") << QString() << u"x"_qs << u"pop.a"_qs << 0 << false;
        QTest::newRow("port emptied") << u"ana"_qs << u"x"_qs << u"pop.a"_qs << 3 << false;
        QTest::newRow("port shortened") << u"ana"_qs << QString() << u"pop.a"_qs << 2 << true;
    }
    void addNeedsUserServerAndPort() {
        QFETCH(QString, user);
        QFETCH(QString, pass);
        QFETCH(QString, server);
        QFETCH(int, portBackspaces);
        QFETCH(bool, enabled);
        openWith({});
        QCOMPARE(buttonStates(d), u"000"_qs);
        QCOMPARE(d->edtPuerto->text(), u"110"_qs);
        QTest::keyClicks(d->edtUserName, user);
        QTest::keyClicks(d->edtPassword, pass);
        QTest::keyClicks(d->edtServidor, server);
        for (int i = 0; i < portBackspaces; ++i)
            QTest::keyClick(d->edtPuerto, Qt::Key_Backspace);
        QCOMPARE(d->btnAdd->isEnabled(), enabled);
        QVERIFY(!d->btnModificar->isEnabled());
        if (!enabled) return;
        // Emptying any of the three again disables it.
        for (QLineEdit* f : {d->edtUserName, d->edtServidor, d->edtPuerto}) {
            const QString kept = f->text();
            retype(f, {});
            QVERIFY(!d->btnAdd->isEnabled());
            QTest::keyClicks(f, kept);
            QVERIFY(d->btnAdd->isEnabled());
        }
    }

    void portFieldTakesOnlyDigitsFromTheKeyboard_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<QString>("port");
        QTest::newRow("letter") << u"a"_qs << QString() << u"110"_qs;
        QTest::newRow("digits") << u"12"_qs << QString() << u"11012"_qs;
        QTest::newRow("mixed") << u"x9 -."_qs << QString() << u"1109"_qs;
        QTest::newRow("backspace") << u"\b\b5"_qs << QString() << u"15"_qs;
        QTest::newRow("pasted letters pass") << QString() << u"abc"_qs << u"110abc"_qs;
    }
    void portFieldTakesOnlyDigitsFromTheKeyboard() {
        QFETCH(QString, typed);
        QFETCH(QString, pasted);
        QFETCH(QString, port);
        openWith({});
        d->edtPuerto->setFocus();
        d->edtPuerto->end(false);
        QTest::keyClicks(d->edtPuerto, typed);
        if (!pasted.isEmpty()) {
            QGuiApplication::clipboard()->setText(pasted);
            QTest::keyClick(d->edtPuerto, Qt::Key_V, Qt::ControlModifier);
        }
        QCOMPARE(d->edtPuerto->text(), port);
    }

    void clickingTheListLoadsTheRow_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QStringList>("fields"); // user, password, server, port
        QTest::addColumn<QString>("buttons");    // add, modify, delete
        QTest::newRow("first") << 0 << QStringList{u"ana"_qs, u"x"_qs, u"pop.a"_qs, u"110"_qs} << u"111"_qs;
        QTest::newRow("second") << 1 << QStringList{u"bea"_qs, u"y"_qs, u"pop.b"_qs, u"995"_qs} << u"111"_qs;
        QTest::newRow("invalid scrambled form")
            << 2 << QStringList{u"eva"_qs, QString(), u"pop.e"_qs, u"110"_qs} << u"111"_qs;
        QTest::newRow("no row") << -1 << QStringList{QString(), QString(), QString(), QString()} << u"000"_qs;
    }
    void clickingTheListLoadsTheRow() {
        QFETCH(int, row);
        QFETCH(QStringList, fields);
        QFETCH(QString, buttons);
        openWith(accountsFile(kTwo) + "SERV:pop.e\r\nPORT:110\r\nUSER:eva\r\nPASS:QQ\r\n-----\r\n");
        run({u"user=zz"_qs, u"click 1"_qs});
        clickRow(d->ListView, row);
        QCOMPARE(
            (QStringList{d->edtUserName->text(), d->edtPassword->text(), d->edtServidor->text(), d->edtPuerto->text()}),
            fields);
        QCOMPARE(d->edtPassword->echoMode(), QLineEdit::Password);
        QCOMPARE(buttonStates(d), buttons);
        QCOMPARE(d->CurrentIndex, row < 0 ? 3 : row);
        QCOMPARE(d->ListView->selectedItems().size(), row < 0 ? 0 : 1);
        if (row < 0) return;
        // Moving the selection with the keyboard loads nothing.
        QTest::keyClick(d->ListView, row == 0 ? Qt::Key_Down : Qt::Key_Up);
        QCOMPARE(d->edtUserName->text(), fields[0]);
        QCOMPARE(d->CurrentIndex, row);
    }

    void changesReachTheFileAndTheMenu_data() {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<Records>("records");
        QTest::addColumn<QList<int>>("mainPorts");
        QTest::addColumn<QString>("buttons");
        QTest::addColumn<QStringList>("boxes");
        const QStringList eva = {u"user=eva"_qs, u"pass=clave"_qs, u"server=pop.e"_qs, u"port=995"_qs};
        const QStringList evaRecord = {u"pop.e"_qs, u"995"_qs, u"eva"_qs, u"clave"_qs};
        const QString askAna =
            u"Confirmación de eliminación|¿Está seguro de que desea eliminar la cuenta: \r\r\"ana\" en \"pop.a\"?"_qs;
        QTest::newRow("add") << eva + QStringList{u"add"_qs} << kTwo + Records{evaRecord} << QList<int>{110, 995, 995}
                             << u"100"_qs << QStringList();
        QTest::newRow("add twice") << eva + QStringList{u"add"_qs, u"add"_qs} << kTwo + Records{evaRecord, evaRecord}
                                   << QList<int>{110, 995, 995, 995} << u"100"_qs << QStringList();
        QTest::newRow("add without password") << QStringList{u"user=eva"_qs, u"server=pop.e"_qs, u"add"_qs}
                                              << kTwo + Records{{u"pop.e"_qs, u"110"_qs, u"eva"_qs, QString()}}
                                              << QList<int>{110, 995, 110} << u"100"_qs << QStringList();
        QTest::newRow("add with a pasted bad port")
            << QStringList{u"user=eva"_qs, u"server=pop.e"_qs, u"port+=O"_qs, u"add"_qs}
            << kTwo + Records{{u"pop.e"_qs, u"110O"_qs, u"eva"_qs, QString()}} << QList<int>{110, 995, 110} << u"100"_qs
            << QStringList();
        QTest::newRow("add after a click") << QStringList{u"click 1"_qs, u"user=eva"_qs, u"add"_qs}
                                           << kTwo + Records{{u"pop.b"_qs, u"995"_qs, u"eva"_qs, u"y"_qs}}
                                           << QList<int>{110, 995, 995} << u"101"_qs << QStringList();
        QTest::newRow("modify") << QStringList{u"click 1"_qs, u"user=bel"_qs, u"pass=z"_qs, u"modify"_qs}
                                << Records{kTwo[0], {u"pop.b"_qs, u"995"_qs, u"bel"_qs, u"z"_qs}}
                                << QList<int>{110, 995} << u"111"_qs << QStringList();
        QTest::newRow("modify to empty fields but the port")
            << QStringList{u"click 0"_qs, u"user="_qs, u"pass="_qs, u"server="_qs, u"modify"_qs}
            << Records{{QString(), u"110"_qs, QString(), QString()}, kTwo[1]} << QList<int>{110, 995} << u"011"_qs
            << QStringList();
        QTest::newRow("delete") << QStringList{u"click 0"_qs, u"delete"_qs} << Records{kTwo[1]} << QList<int>{995}
                                << u"100"_qs << QStringList{askAna};
        QTest::newRow("delete cancelled") << QStringList{u"cancel"_qs, u"click 0"_qs, u"delete"_qs} << kTwo
                                          << QList<int>{110, 995} << u"111"_qs << QStringList{askAna};
    }
    void changesReachTheFileAndTheMenu() {
        QFETCH(QStringList, steps);
        QFETCH(Records, records);
        QFETCH(QList<int>, mainPorts);
        QFETCH(QString, buttons);
        QFETCH(QStringList, boxes);
        openWith(accountsFile(kTwo));
        run(steps);
        compareAccountsFile(h->read(u"Cuentas.dat"_qs), records);
        QStringList entries;
        for (const QStringList& r : records)
            entries << r[2] + u" ("_qs + r[0] + u')';
        QCOMPARE(menuEntries(*w), entries);
        QCOMPARE(ports(*w), mainPorts);
        QCOMPARE(buttonStates(d), buttons);
        QCOMPARE(boxTexts(), boxes);
        QCOMPARE(d->ListView->topLevelItemCount(), records.size());
    }

    void modifyLeavesItsRowSelectedInTheFocusedList() {
        openWith(accountsFile(kTwo));
        run({u"click 1"_qs, u"server=pop.z"_qs});
        d->ListView->clearSelection();
        run({u"modify"_qs});
        QCOMPARE(d->ListView->selectedItems(), QList<QTreeWidgetItem*>{d->ListView->topLevelItem(1)});
        QCOMPARE(d->ListView->currentItem(), d->ListView->topLevelItem(1));
        QCOMPARE(d->focusWidget(), d->ListView);
    }

    // Steps after a click on the first row ("+=" also stands for typing what QTest cannot type);
    // the field named is the one that must keep the focus and what was typed into it.
    void inputTheFileCannotTakeIsRefused_data() {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("kept");
        QTest::addColumn<QString>("box"); // caption|text; empty: accepted
        const QString range = u"Error|El Puerto debe ser un número entre 1 y 65535"_qs;
        const QString chars = u"Caracteres no admitidos|El texto contiene caracteres que no se pueden guardar: %1\r"
                              u"Sólo se admiten los caracteres de Europa occidental (Windows-1252)."_qs;
        QTest::newRow("add 65536") << QStringList{u"port=65536"_qs, u"add"_qs} << u"edtPuerto"_qs << u"65536"_qs
                                   << range;
        QTest::newRow("add 0") << QStringList{u"port=0"_qs, u"add"_qs} << u"edtPuerto"_qs << u"0"_qs << range;
        QTest::newRow("add beyond 32 bits")
            << QStringList{u"port=99999999999"_qs, u"add"_qs} << u"edtPuerto"_qs << u"99999999999"_qs << range;
        QTest::newRow("add pasted -1") << QStringList{u"port="_qs, u"port+=-1"_qs, u"add"_qs} << u"edtPuerto"_qs
                                       << u"-1"_qs << range;
        QTest::newRow("add 65535") << QStringList{u"port=65535"_qs, u"add"_qs} << u"edtPuerto"_qs << u"65535"_qs
                                   << QString();
        QTest::newRow("modify 70000") << QStringList{u"port=70000"_qs, u"modify"_qs} << u"edtPuerto"_qs << u"70000"_qs
                                      << range;
        QTest::newRow("modify pasted text")
            << QStringList{u"port="_qs, u"port+=abc"_qs, u"modify"_qs} << u"edtPuerto"_qs << u"abc"_qs << QString();
        QTest::newRow("modify empty port") << QStringList{u"port="_qs, u"modify"_qs} << u"edtPuerto"_qs << QString()
                                           << u"Error|Debe introducir un Puerto"_qs;
        QTest::newRow("add user outside Windows-1252") << QStringList{u"user="_qs, u"user+=Łukasz"_qs, u"add"_qs}
                                                       << u"edtUserName"_qs << u"Łukasz"_qs << chars.arg(u"Ł"_qs);
        QTest::newRow("modify password, each character once")
            << QStringList{u"pass="_qs, u"pass+=hasło ő ł"_qs, u"modify"_qs} << u"edtPassword"_qs << u"hasło ő ł"_qs
            << chars.arg(u"ł, ő"_qs);
        QTest::newRow("modify server") << QStringList{u"server="_qs, u"server+=pop.gdańsk.pl"_qs, u"modify"_qs}
                                       << u"edtServidor"_qs << u"pop.gdańsk.pl"_qs << chars.arg(u"ń"_qs);
        QTest::newRow("add pasted port, a character beyond U+FFFF")
            << QStringList{u"port+=\U0001F600"_qs, u"add"_qs} << u"edtPuerto"_qs << u"110\U0001F600"_qs
            << chars.arg(u"\U0001F600"_qs);
    }
    void inputTheFileCannotTakeIsRefused() {
        QFETCH(QStringList, steps);
        QFETCH(QString, field);
        QFETCH(QString, kept);
        QFETCH(QString, box);
        const QByteArray before = accountsFile(kTwo);
        openWith(before);
        run(QStringList{u"click 0"_qs} + steps);
        auto* edit = d->findChild<QLineEdit*>(field);
        QCOMPARE(edit->text(), kept);
        if (!box.isEmpty()) {
            QCOMPARE(boxTexts(), QStringList{box});
            QCOMPARE(h->boxes[0].icon, QMessageBox::Critical);
            QCOMPARE(d->focusWidget(), edit);
            QCOMPARE(h->read(u"Cuentas.dat"_qs), before);
            QCOMPARE(d->ListView->topLevelItemCount(), 2);
            QCOMPARE(d->ListView->topLevelItem(0)->text(1), u"110"_qs);
            QCOMPARE(d->ListView->topLevelItem(0)->text(3), u"ana"_qs);
        } else {
            QVERIFY(h->boxes.isEmpty());
            QVERIFY(h->read(u"Cuentas.dat"_qs).contains("PORT:" + kept.toLatin1() + "\r\n"));
        }
    }

    void everyWayOutRewritesTheFile_data() {
        QTest::addColumn<QString>("way");
        QTest::newRow("Salir") << u"salir"_qs;
        QTest::newRow("Esc") << u"esc"_qs;
        QTest::newRow("Esc in the port field") << u"esc port"_qs;
        QTest::newRow("close") << u"close"_qs;
        QTest::newRow("hide") << u"hide"_qs;
        QTest::newRow("Salir while shown modally") << u"modal"_qs;
    }
    void everyWayOutRewritesTheFile() {
        QFETCH(QString, way);
        const QByteArray before = accountsFile(kTwo);
        openWith(before);
        QVERIFY(QFile::remove(h->path(u"Cuentas.dat"_qs)));
        if (way == u"salir")
            QTest::mouseClick(d->btnCiao, Qt::LeftButton);
        else if (way == u"esc")
            QTest::keyClick(d, Qt::Key_Escape);
        else if (way == u"esc port")
            QTest::keyClick(d->edtPuerto, Qt::Key_Escape);
        else if (way == u"close")
            d->close();
        else if (way == u"hide")
            d->hide();
        else {
            d->hide();
            QFile::remove(h->path(u"Cuentas.dat"_qs));
            QTimer::singleShot(0, d->btnCiao, &QPushButton::click);
            d->showModal();
        }
        QVERIFY(!d->isVisible());
        QCOMPARE(h->read(u"Cuentas.dat"_qs), before); // unchanged rows keep their scrambled form
        QCOMPARE(menuEntries(*w), (QStringList{u"ana (pop.a)"_qs, u"bea (pop.b)"_qs}));
    }

    // The accounts start as kTwo, bea logging in with OAuth2 (Microsoft) and a refresh token kept,
    // unless "fresh" (no CuentasAcceso.dat, no secrets). `secrets`: "name=value" of some names.
    void accessGoesWithTheAccount_data() {
        QTest::addColumn<bool>("fresh");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<Records>("records");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QStringList>("secrets");
        const QString bea = u"bea@pop.b:995 oauth2 0 cid-b"_qs;
        const QString beaToken = RefreshTokenKey(u"bea@pop.b:995"_qs) + u"=rt-b"_qs;
        const QString beaNoToken = RefreshTokenKey(u"bea@pop.b:995"_qs) + u"=<none>"_qs;
        const QStringList eva = {u"user=eva"_qs, u"server=pop.e"_qs};
        const QStringList evaRecord = {u"pop.e"_qs, u"110"_qs, u"eva"_qs, QString()};
        const Records anaInKeyring = {{u"pop.a"_qs, u"110"_qs, u"ana"_qs, QString()}, kTwo[1]};
        QTest::newRow("add with OAuth2") << false << eva + QStringList{u"access=oauth2:1:cid-e"_qs, u"add"_qs}
                                         << kTwo + Records{evaRecord}
                                         << QStringList{bea, u"eva@pop.e:110 oauth2 1 cid-e"_qs}
                                         << QStringList{beaToken};
        QTest::newRow("the password login makes no file")
            << true << eva + QStringList{u"access=password"_qs, u"add"_qs,     u"click 2"_qs, u"pass=z"_qs,
                                         u"modify"_qs,          u"click 0"_qs, u"delete"_qs}
            << Records{kTwo[1], {u"pop.e"_qs, u"110"_qs, u"eva"_qs, u"z"_qs}} << QStringList{u"<missing>"_qs}
            << QStringList();
        QTest::newRow("cancelled choice")
            << false << QStringList{u"click 1"_qs, u"access=cancel:password"_qs, u"modify"_qs} << kTwo
            << QStringList{bea} << QStringList{beaToken};
        QTest::newRow("modify keeping the key") << false << QStringList{u"click 1"_qs, u"pass=z"_qs, u"modify"_qs}
                                                << Records{kTwo[0], {u"pop.b"_qs, u"995"_qs, u"bea"_qs, u"z"_qs}}
                                                << QStringList{bea} << QStringList{beaToken};
        QTest::newRow("modify the user") << false << QStringList{u"click 1"_qs, u"user=bel"_qs, u"modify"_qs}
                                         << Records{kTwo[0], {u"pop.b"_qs, u"995"_qs, u"bel"_qs, u"y"_qs}}
                                         << QStringList{u"bel@pop.b:995 oauth2 0 cid-b"_qs}
                                         << QStringList{beaNoToken, RefreshTokenKey(u"bel@pop.b:995"_qs) + u"=rt-b"_qs};
        QTest::newRow("modify the port and the access")
            << false << QStringList{u"click 1"_qs, u"port=110"_qs, u"access=oauth2:1:cid-g"_qs, u"modify"_qs}
            << Records{kTwo[0], {u"pop.b"_qs, u"110"_qs, u"bea"_qs, u"y"_qs}}
            << QStringList{u"bea@pop.b:110 oauth2 1 cid-g"_qs}
            << QStringList{beaNoToken, RefreshTokenKey(u"bea@pop.b:110"_qs) + u"=rt-b"_qs};
        QTest::newRow("back to the password")
            << false << QStringList{u"click 1"_qs, u"access=password"_qs, u"modify"_qs} << kTwo << QStringList()
            << QStringList{beaToken};
        QTest::newRow("delete") << false << QStringList{u"click 1"_qs, u"delete"_qs} << Records{kTwo[0]}
                                << QStringList() << QStringList{beaNoToken};
        QTest::newRow("a duplicate shares the entry")
            << false << QStringList{u"click 1"_qs, u"add"_qs, u"click 2"_qs, u"delete"_qs} << kTwo << QStringList{bea}
            << QStringList{beaToken};
        QTest::newRow("the last duplicate takes it")
            << false << QStringList{u"click 1"_qs, u"add"_qs, u"click 2"_qs, u"delete"_qs, u"click 1"_qs, u"delete"_qs}
            << Records{kTwo[0]} << QStringList() << QStringList{beaNoToken};
        QTest::newRow("a duplicate changed leaves the other its entry")
            << false << QStringList{u"click 1"_qs, u"add"_qs, u"click 2"_qs, u"user=bel"_qs, u"modify"_qs}
            << kTwo + Records{{u"pop.b"_qs, u"995"_qs, u"bel"_qs, u"y"_qs}}
            << QStringList{bea, u"bel@pop.b:995 oauth2 0 cid-b"_qs}
            << QStringList{beaToken, RefreshTokenKey(u"bel@pop.b:995"_qs) + u"=<none>"_qs};
        QTest::newRow("password into the keyring")
            << false << QStringList{u"click 0"_qs, u"pass=clave"_qs, u"access=keyring"_qs, u"modify"_qs} << anaInKeyring
            << QStringList{bea, u"ana@pop.a:110 password keyring"_qs}
            << QStringList{PasswordKey(u"ana@pop.a:110"_qs) + u"=clave"_qs};
        QTest::newRow("added with the password in the keyring")
            << true << eva + QStringList{u"pass=clave"_qs, u"access=keyring"_qs, u"add"_qs} << kTwo + Records{evaRecord}
            << QStringList{u"eva@pop.e:110 password keyring"_qs}
            << QStringList{PasswordKey(u"eva@pop.e:110"_qs) + u"=clave"_qs};
        QTest::newRow("the keyring's password follows the server, then changes")
            << false << QStringList{u"click 0"_qs,      u"access=keyring"_qs, u"modify"_qs,
                                    u"server=pop.z"_qs, u"pass=nueva"_qs,     u"modify"_qs}
            << Records{{u"pop.z"_qs, u"110"_qs, u"ana"_qs, QString()}, kTwo[1]}
            << QStringList{bea, u"ana@pop.z:110 password keyring"_qs}
            << QStringList{PasswordKey(u"ana@pop.a:110"_qs) + u"=<none>"_qs,
                           PasswordKey(u"ana@pop.z:110"_qs) + u"=nueva"_qs};
        QTest::newRow("out of the keyring")
            << false
            << QStringList{u"click 0"_qs, u"access=keyring"_qs, u"modify"_qs, u"access=password"_qs, u"modify"_qs}
            << kTwo << QStringList{bea} << QStringList{PasswordKey(u"ana@pop.a:110"_qs) + u"=<none>"_qs};
        QTest::newRow("the keyring's password goes with the account")
            << false << QStringList{u"click 0"_qs, u"access=keyring"_qs, u"modify"_qs, u"delete"_qs} << Records{kTwo[1]}
            << QStringList{bea} << QStringList{PasswordKey(u"ana@pop.a:110"_qs) + u"=<none>"_qs};
    }
    void accessGoesWithTheAccount() {
        QFETCH(bool, fresh);
        QFETCH(QStringList, steps);
        QFETCH(Records, records);
        QFETCH(QStringList, entries);
        QFETCH(QStringList, secrets);
        if (!fresh)
            h->write(u"CuentasAcceso.dat"_qs, "[bea@pop.b:995]\nAcceso=oauth2\nProveedor=microsoft\nClienteId=cid-b\n");
        openWith(accountsFile(kTwo));
        if (!fresh)
            WindowProbe::logins(w)->secrets()->write(RefreshTokenKey(u"bea@pop.b:995"_qs), u"rt-b"_qs, nullptr, {});
        run(steps);
        compareAccountsFile(h->read(u"Cuentas.dat"_qs), records);
        QCOMPARE(accessEntries(), entries);
        // A move in the store is several calls: its end is waited for.
        auto secretsNow = [&] {
            QStringList out;
            for (const QString& s : secrets)
                out << s.section(u'=', 0, 0) + u'=' + secret(s.section(u'=', 0, 0));
            return out;
        };
        QTRY_COMPARE(secretsNow(), secrets);
        // The window logs in as the file says now.
        const AccountAccessList file = ParseAccountAccessData(h->read(u"CuentasAcceso.dat"_qs));
        QStringList keys{u"bea@pop.b:995"_qs};
        for (const AccountAccessList::Entry& e : file.entries)
            keys << e.key;
        for (const QString& key : keys)
            QCOMPARE(WindowProbe::logins(w)->access(key), file.find(key));
        for (const QString& box : boxTexts())
            QVERIFY2(box.startsWith(u"Confirmación de eliminación|"_qs), qPrintable(box));
    }

    void clickShowsThePasswordKeptInTheKeyring() {
        h->write(u"CuentasAcceso.dat"_qs, "[ana@pop.a:110]\nAcceso=password\nPasswordEnLlavero=1\n");
        openWith(accountsFile({{u"pop.a"_qs, u"110"_qs, u"ana"_qs, QString()}}));
        WindowProbe::logins(w)->secrets()->write(PasswordKey(u"ana@pop.a:110"_qs), u"clave"_qs, nullptr, {});
        run({u"click 0"_qs});
        QTRY_COMPARE(d->edtPassword->text(), u"clave"_qs);
        run({u"user=ana2"_qs, u"modify"_qs}); // what was read is stored under the new key
        QTRY_COMPARE(secret(PasswordKey(u"ana2@pop.a:110"_qs)), u"clave"_qs);
    }

    // The login dialog's "Aceptar": what OAuth2 cannot go without is refused, the focus in the field
    // and everything typed kept. Fields: method, provider (0 Microsoft, 1 Google, 2 Otro), client id,
    // authorization URL, token URL, scope.
    void loginDialogRefusesWhatOAuth2Needs_data() {
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QString>("focus"); // empty: accepted
        QTest::addColumn<QString>("box");
        const QString https = u" debe empezar por https:// (http:// sólo en 127.0.0.1 o localhost)"_qs;
        const QString noClient = u"Debe introducir el Id. de cliente que le dio el proveedor"_qs;
        const QString a = u"https://login.x.es/auth"_qs, t = u"https://login.x.es/token"_qs;
        QTest::newRow("password") << QStringList{u"0"_qs, u"0"_qs, {}, {}, {}, {}} << QString() << QString();
        QTest::newRow("no client id") << QStringList{u"1"_qs, u"2"_qs, {}, {}, {}, {}} << u"edtClienteId"_qs
                                      << noClient;
        QTest::newRow("blank client id") << QStringList{u"1"_qs, u"2"_qs, u"  "_qs, {}, {}, {}} << u"edtClienteId"_qs
                                         << noClient;
        QTest::newRow("preset") << QStringList{u"1"_qs, u"1"_qs, u"cid"_qs, {}, {}, {}} << QString() << QString();
        QTest::newRow("custom without URLs")
            << QStringList{u"1"_qs, u"2"_qs, u"cid"_qs, {}, {}, {}} << u"edtUrlAutorizacion"_qs
            << u"Debe introducir la URL de autorización"_qs;
        QTest::newRow("custom without token URL") << QStringList{u"1"_qs, u"2"_qs, u"cid"_qs, a, {}, u"s"_qs}
                                                  << u"edtUrlToken"_qs << u"Debe introducir la URL de token"_qs;
        QTest::newRow("custom without scope")
            << QStringList{u"1"_qs, u"2"_qs, u"cid"_qs, a, t, {}} << u"edtAlcance"_qs
            << u"Debe introducir el alcance que pide el proveedor para leer el correo"_qs;
        QTest::newRow("plain http") << QStringList{u"1"_qs, u"2"_qs, u"cid"_qs, u"http://login.x.es/auth"_qs,
                                                   t,       u"s"_qs}
                                    << u"edtUrlAutorizacion"_qs << u"La URL de autorización"_qs + https;
        QTest::newRow("not a web address")
            << QStringList{u"1"_qs, u"2"_qs, u"cid"_qs, a, u"login.x.es/token"_qs, u"s"_qs} << u"edtUrlToken"_qs
            << u"La URL de token"_qs + https;
        QTest::newRow("http on this computer")
            << QStringList{u"1"_qs, u"2"_qs, u"cid"_qs, u"http://127.0.0.1:8080/a"_qs, u"http://localhost/t"_qs,
                           u"s"_qs}
            << QString() << QString();
    }
    void loginDialogRefusesWhatOAuth2Needs() {
        QFETCH(QStringList, fields);
        QFETCH(QString, focus);
        QFETCH(QString, box);
        openWith({});
        TfrmAcceso* a = d->frmAcceso;
        a->show();
        a->cbMetodo->setCurrentIndex(fields[0].toInt());
        a->cbProveedor->setCurrentIndex(fields[1].toInt());
        const QList<QLineEdit*> edits = {a->edtClienteId, a->edtUrlAutorizacion, a->edtUrlToken, a->edtAlcance};
        for (int i = 0; i < edits.size(); ++i)
            edits[i]->insert(fields[i + 2]);
        QTest::mouseClick(a->btnAceptar, Qt::LeftButton);
        QCOMPARE(boxTexts(), focus.isEmpty() ? QStringList() : QStringList{u"Error|"_qs + box});
        QCOMPARE(a->isVisible(), !focus.isEmpty());
        if (focus.isEmpty()) {
            QCOMPARE(a->result(), int(QDialog::Accepted));
            return;
        }
        QCOMPARE(a->focusWidget()->objectName(), focus);
        for (int i = 0; i < edits.size(); ++i)
            QCOMPARE(edits[i]->text(), fields[i + 2]);
    }

    void badPortSurvivesSavingAndARestart() {
        openWith({});
        run({u"user=eva"_qs, u"server=pop.e"_qs, u"port=1"_qs, u"port+=1O"_qs, u"add"_qs, u"user=fin"_qs, u"port=2"_qs,
             u"add"_qs});
        compareAccountsFile(h->read(u"Cuentas.dat"_qs), {{u"pop.e"_qs, u"11O"_qs, u"eva"_qs, QString()},
                                                         {u"pop.e"_qs, u"2"_qs, u"fin"_qs, QString()}});
        QCOMPARE(ports(*w), (QList<int>{110, 2}));
        h->close();
        w = &h->open();
        QCOMPARE(menuEntries(*w), (QStringList{u"eva (pop.e)"_qs, u"fin (pop.e)"_qs}));
        d = NewAccountsDialog(w);
        QCOMPARE(d->ListView->topLevelItemCount(), 2);
        QCOMPARE(d->ListView->topLevelItem(0)->text(1), u"11O"_qs);
        QCOMPARE(d->ListView->topLevelItem(1)->text(3), u"fin"_qs);
    }

    void failedWriteIsReportedAndTheMenuStillFollows() {
        openWith(accountsFile(kTwo));
        // A directory where the new file must go: the write cannot take its place.
        QVERIFY(QFile::remove(h->path(u"Cuentas.dat"_qs)));
        QVERIFY(QDir(h->path({})).mkdir(u"Cuentas.dat"_qs));
        run({u"user=eva"_qs, u"server=pop.e"_qs, u"add"_qs});
        QCOMPARE(h->boxes.size(), 1);
        QCOMPARE(h->boxes[0].caption, u"Excepción no manejada"_qs);
        QVERIFY(h->boxes[0].text.startsWith(u"E.ClassName : EInOutError\r"_qs));
        QVERIFY(QFileInfo(h->path(u"Cuentas.dat"_qs)).isDir());
        QCOMPARE(menuEntries(*w), (QStringList{u"ana (pop.a)"_qs, u"bea (pop.b)"_qs, u"eva (pop.e)"_qs}));
    }

    void unreadableFileIsNotRewrittenUnlessChanged() {
        QVERIFY(QDir(h->path({})).mkdir(u"Cuentas.dat"_qs));
        w = &h->open();
        const qsizetype atStart = h->boxes.size();
        d = NewAccountsDialog(w);
        QCOMPARE(h->boxes.size(), atStart + 1); // the dialog's own load
        QVERIFY(h->boxes.last().text.startsWith(u"E.ClassName : EInOutError\r"_qs));
        d->show();
        d->hide();
        QCOMPARE(h->boxes.size(), atStart + 1); // leaving wrote nothing
        d->show();
        run({u"user=eva"_qs, u"server=pop.e"_qs, u"add"_qs});
        QCOMPARE(h->boxes.size(), atStart + 2); // a change is written (and fails here)
    }
};

QTEST_MAIN(TestAccountsDialog)
#include "tst_dialogs_accounts.moc"
