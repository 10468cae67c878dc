// Reglas.dat: which lines are rules and which are reported, what each rule sees of a header, the
// order of a decision and its reason, the hints of forgery, and the time bound on expressions.
#include "FilterLists.h"
#include "FilterRules.h"
#include "TestFiles.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

/** A rule in one line of text, to compare parsed rules whole. */
QString describe(const FilterRule& r) {
    const char* modes[] = {"contiene", "expresion", "es"};
    return u"%1|%2|%3|%4|%5|%6"_qs.arg(r.action == FilterRule::Action::Allow ? u"permitir"_qs : u"marcar"_qs, r.field,
                                       QString::fromLatin1(modes[int(r.mode)]), r.text, QString::number(r.line),
                                       r.written);
}

QStringList describeAll(const FilterRules& rules) {
    QStringList out;
    for (const FilterRule& r : rules.rules())
        out << describe(r);
    return out;
}

/** The line numbers the problems name ("Línea 4: ..." or "Línea 4, posición 8: ..."). */
QList<int> problemLines(const QStringList& problems) {
    QList<int> out;
    for (const QString& p : problems) {
        const qsizetype end = p.indexOf(QRegularExpression(u"[:,]"_qs));
        out << (p.startsWith(u"Línea "_qs) && end > 6 ? p.mid(6, end - 6).toInt() : -1);
    }
    return out;
}

RuleDecision decideOne(const QString& rulesText, const QString& header, QStringList* problems = nullptr) {
    return FilterRules::Parse(rulesText.toUtf8()).decide(RuleSubject{header, {}, {}}, TFiltros(), problems);
}

const QString kTrace = u"Received: from mx.example.org by mail.example.net\r\n"
                       "Received: from relay.example.com by mx.example.org\r\n"_qs;

} // namespace

class TestRules : public QObject {
    Q_OBJECT

private slots:
    void parserReadsRules_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QStringList>("rules");
        QTest::newRow("each kind") << QByteArray("permitir From contiene @amigos.example\n"
                                                 "marcar Subject expresion ^\\s*\\[?publicidad\n"
                                                 "marcar cabecera contiene X-Spam: yes\n"
                                                 "marcar autenticidad es dkim-fallido\n")
                                   << QStringList{u"permitir|From|contiene|@amigos.example|1|permitir From contiene "
                                                  "@amigos.example"_qs,
                                                  u"marcar|Subject|expresion|^\\s*\\[?publicidad|2|marcar Subject "
                                                  "expresion ^\\s*\\[?publicidad"_qs,
                                                  u"marcar|cabecera|contiene|X-Spam: yes|3|marcar cabecera contiene "
                                                  "X-Spam: yes"_qs,
                                                  u"marcar|autenticidad|es|dkim-fallido|4|marcar autenticidad es "
                                                  "dkim-fallido"_qs};
        QTest::newRow("comments, blank lines, leading blanks")
            << QByteArray("# comentario\n\n   \t\n  # otro\n \tmarcar List-Id contiene ofertas\n")
            << QStringList{u"marcar|List-Id|contiene|ofertas|5|marcar List-Id contiene ofertas"_qs};
        QTest::newRow("BOM, CR LF, a stray CR")
            << QByteArray("\xEF\xBB\xBFmarcar To contiene a\r\n\r\nmarcar Cc contiene b\r\r\n")
            << QStringList{u"marcar|To|contiene|a|1|marcar To contiene a"_qs,
                           u"marcar|Cc|contiene|b|3|marcar Cc contiene b"_qs};
        QTest::newRow("words in any case")
            << QByteArray("PERMITIR CABECERA Contiene x\nMarcar AUTENTICIDAD ES "
                          "spf-fallido\nmarcar X-Mailer EXPRESION y")
            << QStringList{u"permitir|cabecera|contiene|x|1|PERMITIR CABECERA "
                           "Contiene x"_qs,
                           u"marcar|autenticidad|es|spf-fallido|2|Marcar AUTENTICIDAD ES "
                           "spf-fallido"_qs,
                           u"marcar|X-Mailer|expresion|y|3|marcar X-Mailer EXPRESION y"_qs};
        QTest::newRow("text keeps inner blanks, not trailing ones")
            << QByteArray("marcar Subject contiene  dos  espacios \t \n")
            << QStringList{u"marcar|Subject|contiene| dos  espacios|1|marcar Subject contiene  dos  espacios"_qs};
        QTest::newRow("UTF-8 text and hint") << QByteArray("marcar Subject contiene camión\nmarcar autenticidad es "
                                                           "nombre-engañoso\n")
                                             << QStringList{u"marcar|Subject|contiene|camión|1|marcar Subject contiene "
                                                            "camión"_qs,
                                                            u"marcar|autenticidad|es|nombre-engañoso|2|marcar "
                                                            "autenticidad es nombre-engañoso"_qs};
    }
    void parserReadsRules() {
        QFETCH(QByteArray, data);
        QFETCH(QStringList, rules);
        QStringList problems;
        QCOMPARE(describeAll(FilterRules::Parse(data, &problems)), rules);
        QCOMPARE(problems, QStringList());
    }

    void parserReportsEachBadLineOnce_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("position"); // in the line, where the fault is
        QTest::newRow("unknown action") << QByteArray("borrar Subject contiene x") << 1;
        QTest::newRow("unknown mode") << QByteArray("marcar Subject parece x") << 16;
        QTest::newRow("action alone") << QByteArray("marcar") << 7;
        QTest::newRow("no mode") << QByteArray("marcar Subject") << 15;
        QTest::newRow("no text") << QByteArray("marcar Subject contiene") << 24;
        QTest::newRow("blank text") << QByteArray("marcar Subject contiene   ") << 24;
        QTest::newRow("two blanks between words") << QByteArray("marcar  Subject contiene x") << 8;
        QTest::newRow("es with a field") << QByteArray("marcar From es dkim-fallido") << 13;
        QTest::newRow("autenticidad with contiene") << QByteArray("marcar autenticidad contiene dkim-fallido") << 21;
        QTest::newRow("unknown hint") << QByteArray("marcar autenticidad es arc-fallido") << 24;
        QTest::newRow("colon in field name") << QByteArray("marcar Subject: contiene x") << 8;
        QTest::newRow("accent in field name") << QByteArray("marcar Asúnto contiene x") << 8;
        QTest::newRow("pattern does not compile") << QByteArray("marcar Subject expresion (abc") << 30;
        QTest::newRow("pattern after leading blanks") << QByteArray(" \tmarcar Subject expresion a)b") << 29;
        QTest::newRow("pattern after a character beyond the BMP")
            << QByteArray("marcar Subject expresion \xF0\x9F\x98\x80(x") << 29;
    }
    void parserReportsEachBadLineOnce() {
        QFETCH(QByteArray, line);
        QFETCH(int, position);
        QStringList problems;
        const FilterRules rules =
            FilterRules::Parse("marcar To contiene a\n# c\n" + line + "\nmarcar Cc contiene b\n", &problems);
        QCOMPARE(problemLines(problems), QList<int>{3});
        const QString where = u"Línea 3, posición %1: "_qs.arg(position);
        QVERIFY2(problems[0].startsWith(where), qPrintable(problems[0]));
        // An expression's fault is said in Spanish; PCRE2's English words follow in parentheses.
        if (line.contains("expresion")) {
            const QRegularExpression said(u"^la expresión no es válida \\([a-z][^()]+\\)$"_qs);
            QVERIFY2(said.match(problems[0].mid(where.size())).hasMatch(), qPrintable(problems[0]));
        }
        QCOMPARE(rules.rules().size(), 2); // the lines around it still apply
        QCOMPARE(rules.rules().at(1).line, 4);
    }

    void ruleSeesFieldValues_data() {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<QString>("header");
        QTest::addColumn<bool>("marked");
        const QString base = u"From: Ana <ana@example.org>\r\nTo: luis@example.net\r\nCc: eva@example.com\r\n"
                             "Reply-To: ventas@example.com\r\nList-Id: <ofertas.example.com>\r\nSubject: Hola\r\n"_qs;
        QTest::newRow("To") << u"marcar To contiene luis@"_qs << base << true;
        QTest::newRow("Cc") << u"marcar Cc contiene eva@"_qs << base << true;
        QTest::newRow("Reply-To") << u"marcar Reply-To contiene ventas@"_qs << base << true;
        QTest::newRow("List-Id") << u"marcar List-Id contiene ofertas.example"_qs << base << true;
        QTest::newRow("field name in any case") << u"marcar list-id contiene ofertas"_qs << base << true;
        QTest::newRow("another field's value") << u"marcar To contiene eva@"_qs << base << false;
        QTest::newRow("missing field") << u"marcar X-Spam contiene a"_qs << base << false;
        QTest::newRow("repeated field, lower occurrence")
            << u"marcar Received contiene relay.example.com"_qs << kTrace << true;
        QTest::newRow("folded value") << u"marcar Subject contiene oferta de verano"_qs
                                      << u"Subject: oferta de\r\n \t verano\r\n"_qs << true;
        QTest::newRow("Q encoded word") << u"marcar Subject contiene camión"_qs
                                        << u"Subject: =?utf-8?Q?cami=C3=B3n?=\r\n"_qs << true;
        QTest::newRow("B encoded word") << u"marcar Subject contiene camión"_qs
                                        << u"Subject: =?utf-8?B?Y2FtacOzbg==?=\r\n"_qs << true;
        QTest::newRow("contiene folds accents and case")
            << u"marcar Subject contiene OFERTA única"_qs << u"Subject: oférta unica\r\n"_qs << true;
        QTest::newRow("display name in quotes")
            << u"marcar From contiene Juan Pérez <"_qs
            << u"From: \"Juan =?utf-8?Q?P=C3=A9rez?=\" <j@example.org>\r\n"_qs << true;
        QTest::newRow("From is not Resent-From")
            << u"marcar From contiene reenvio@"_qs << u"Resent-From: reenvio@example.org\r\nFrom: a@b.example\r\n"_qs
            << false;
        QTest::newRow("LF only") << u"marcar Cc contiene eva"_qs << u"To: a\nCc: eva\n"_qs << true;
        QTest::newRow("the header ends at the blank line")
            << u"marcar X-Body contiene si"_qs << u"To: a\r\n\r\nX-Body: si\r\n"_qs << false;
        QTest::newRow("expression ignores case")
            << u"marcar Subject expresion ^\\[?PUBLI"_qs << u"Subject:   [publicidad] algo\r\n"_qs << true;
        QTest::newRow("expression on the decoded value")
            << u"marcar Subject expresion ^camión$"_qs << u"Subject: =?utf-8?Q?cami=C3=B3n?=\r\n"_qs << true;
        QTest::newRow("expression, Unicode classes")
            << u"marcar Subject expresion ^\\w+$"_qs << u"Subject: =?utf-8?Q?cami=C3=B3n?=\r\n"_qs << true;
        QTest::newRow("expression on a repeated field")
            << u"marcar Received expresion ^from relay\\."_qs << kTrace << true;
        QTest::newRow("expression, no match") << u"marcar Subject expresion ^Adiós"_qs << base << false;
        QTest::newRow("cabecera contiene spans name and value")
            << u"marcar cabecera contiene list-id: <ofertas"_qs << base << true;
        QTest::newRow("cabecera is unfolded")
            << u"marcar cabecera contiene oferta de verano"_qs << u"Subject: oferta de\r\n verano\r\n"_qs << true;
        QTest::newRow("cabecera is not decoded")
            << u"marcar cabecera contiene =?utf-8?Q?cami"_qs << u"Subject: =?utf-8?Q?cami=C3=B3n?=\r\n"_qs << true;
        QTest::newRow("cabecera expression across lines")
            << u"marcar cabecera expresion To: a\\nCc: b"_qs << u"To: a\r\nCc: b\r\n"_qs << true;
        // The header comes as the server's bytes, one character each: raw UTF-8 reads as UTF-8.
        QTest::newRow("raw UTF-8 field value")
            << u"marcar From contiene núñez"_qs << u"From: Se\u00C3\u00B1ora N\u00C3\u00BA\u00C3\u00B1ez <n@x>\r\n"_qs
            << true;
        QTest::newRow("raw UTF-8 in cabecera")
            << u"marcar cabecera contiene año nuevo"_qs << u"Subject: A\u00C3\u00B1o nuevo\r\n"_qs << true;
    }
    void ruleSeesFieldValues() {
        QFETCH(QString, rule);
        QFETCH(QString, header);
        QFETCH(bool, marked);
        QCOMPARE(decideOne(rule, header).marked(), marked);
    }

    void decisionFollowsTheOrder_data() {
        QTest::addColumn<QString>("rules");
        QTest::addColumn<QStringList>("fromList");
        QTest::addColumn<QStringList>("subjList");
        QTest::addColumn<QString>("header");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("reason");
        const QString header = u"From: Tienda <tienda@example.com>\r\nSubject: Oferta gratis\r\n"_qs;
        const int none = int(RuleDecision::Kind::None), allowed = int(RuleDecision::Kind::Allowed),
                  marked = int(RuleDecision::Kind::Marked);
        QTest::newRow("nothing matches") << u"marcar Subject contiene nada"_qs << QStringList{u"otro"_qs}
                                         << QStringList{u"nada"_qs} << header << none << QString();
        QTest::newRow("allow beats the FROM list")
            << u"marcar Subject contiene oferta\n  permitir From contiene tienda@  "_qs << QStringList{u"tienda"_qs}
            << QStringList{} << header << allowed << u"permitir From contiene tienda@"_qs;
        QTest::newRow("first allow rule is the reason")
            << u"permitir Subject contiene gratis\npermitir Subject contiene oferta"_qs << QStringList{}
            << QStringList{} << header << allowed << u"permitir Subject contiene gratis"_qs;
        QTest::newRow("FROM list before SUBJ list, first fragment")
            << QString() << QStringList{u"nadie"_qs, u"TIENDA"_qs, u"example"_qs} << QStringList{u"gratis"_qs} << header
            << marked << u"[FROM]TIENDA"_qs;
        QTest::newRow("SUBJ list before the rules, folded")
            << u"marcar Subject contiene oferta"_qs << QStringList{} << QStringList{u"grátis"_qs} << header << marked
            << u"[SUBJ]grátis"_qs;
        QTest::newRow("rules in file order")
            << u"marcar Subject contiene nada\nmarcar Subject contiene gratis\nmarcar From contiene tienda"_qs
            << QStringList{} << QStringList{} << header << marked << u"marcar Subject contiene gratis"_qs;
        QTest::newRow("empty fragment matches an empty subject only")
            << QString() << QStringList{} << QStringList{QString()} << u"From: a@b.example\r\n"_qs << marked
            << u"[SUBJ]"_qs;
        QTest::newRow("empty fragment, some subject")
            << QString() << QStringList{} << QStringList{QString()} << header << none << QString();
        QTest::newRow("without the header text, From rules read the list's sender")
            << u"marcar From contiene tienda@"_qs << QStringList{} << QStringList{} << QString() << marked
            << u"marcar From contiene tienda@"_qs;
    }
    void decisionFollowsTheOrder() {
        QFETCH(QString, rules);
        QFETCH(QStringList, fromList);
        QFETCH(QStringList, subjList);
        QFETCH(QString, header);
        QFETCH(int, kind);
        QFETCH(QString, reason);
        TFiltros lists;
        lists.From = fromList;
        lists.Subj = subjList;
        // What the list shows: From and Subject as the header pass decodes them.
        const RuleSubject message{header, u"Tienda <tienda@example.com>"_qs,
                                  header.contains(u"Subject"_qs) ? u"Oferta gratis"_qs : QString()};
        const RuleDecision d = FilterRules::Parse(rules.toUtf8()).decide(message, lists);
        QCOMPARE(int(d.kind), kind);
        QCOMPARE(d.reason, reason);
    }

    // A header too long to keep arrives cut: the rules never decide on a field cut short, nor on
    // one the cut may have left out, and a permitir rule they cannot judge holds back every mark.
    void cutHeaderDecidesNothingOnWhatIsMissing_data() {
        QTest::addColumn<QString>("rules");
        QTest::addColumn<QString>("header");
        QTest::addColumn<bool>("lastLineCut");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("log"); // what the log says of message 12
        const int none = int(RuleDecision::Kind::None), allowed = int(RuleDecision::Kind::Allowed),
                  marked = int(RuleDecision::Kind::Marked);
        const QString top = u"From: a@x.es\r\nSubject: Hola\r\n"_qs;
        const QString cut = top + u"X-Relleno: aaaa"_qs;
        const QString tooLong = u"El campo X-Relleno del mensaje 12 es demasiado largo para juzgarlo: las reglas "
                                "sobre él no se aplican"_qs;
        QTest::newRow("expression on the cut field")
            << u"marcar X-Relleno expresion (a+)+$"_qs << cut << true << none << QString() << tooLong;
        QTest::newRow("contiene on the cut field")
            << u"marcar x-relleno contiene aaa"_qs << cut << true << none << QString() << tooLong;
        QTest::newRow("negative expression on the cut field")
            << u"marcar X-Relleno expresion ^(?!.*!)"_qs << cut << true << none << QString() << tooLong;
        QTest::newRow("a whole occurrence above the cut decides")
            << u"marcar X-Relleno contiene b"_qs << u"X-Relleno: b\r\n"_qs + cut << true << marked
            << u"marcar X-Relleno contiene b"_qs << QString();
        QTest::newRow("a field the cut may have left out")
            << u"marcar Date contiene 2024"_qs << cut << true << none << QString()
            << u"La cabecera del mensaje 12 es demasiado larga para juzgarla entera (el campo X-Relleno no cabe): "
               "las reglas sobre Date no se aplican"_qs;
        QTest::newRow("a missing field over the whole header, cut between lines")
            << u"marcar cabecera expresion (?s)\\A(?!.*\\nDate:)"_qs << top << false << none << QString()
            << u"La cabecera del mensaje 12 es demasiado larga para juzgarla entera: las reglas sobre cabecera no "
               "se aplican"_qs;
        QTest::newRow("cut between lines: the last field is whole")
            << u"marcar X-Relleno contiene aaa"_qs << cut << false << marked << u"marcar X-Relleno contiene aaa"_qs
            << QString();
        QTest::newRow("permitir on the cut field holds back the marks")
            << u"permitir X-Relleno contiene zzz\nmarcar Subject contiene hola"_qs << cut << true << none << QString()
            << tooLong;
        QTest::newRow("permitir on a whole field allows")
            << u"permitir From contiene a@x\nmarcar X-Relleno contiene a"_qs << cut << true << allowed
            << u"permitir From contiene a@x"_qs << QString();
        QTest::newRow("marcar on a whole field marks")
            << u"marcar X-Relleno contiene a\nmarcar Subject contiene hola"_qs << cut << true << marked
            << u"marcar Subject contiene hola"_qs << QString();
        QTest::newRow("hint on the cut field")
            << u"marcar autenticidad es dkim-fallido"_qs << top + u"Authentication-Results: mx; dkim=fail"_qs << true
            << none << QString()
            << u"La cabecera del mensaje 12 es demasiado larga para juzgarla entera (el campo Authentication-Results "
               "no cabe): las reglas sobre autenticidad no se aplican"_qs;
        QTest::newRow("hint on a whole field above the cut")
            << u"marcar autenticidad es dkim-fallido"_qs << u"Authentication-Results: mx; dkim=fail\r\n"_qs + cut
            << true << marked << u"marcar autenticidad es dkim-fallido"_qs << QString();
    }
    void cutHeaderDecidesNothingOnWhatIsMissing() {
        QFETCH(QString, rules);
        QFETCH(QString, header);
        QFETCH(bool, lastLineCut);
        QFETCH(int, kind);
        QFETCH(QString, reason);
        QFETCH(QString, log);
        const RuleSubject message{header, u"a@x.es"_qs, u"Hola"_qs, true, lastLineCut};
        const RuleDecision d = FilterRules::Parse(rules.toUtf8()).decide(message, TFiltros());
        QCOMPARE(int(d.kind), kind);
        QCOMPARE(d.reason, reason);
        QCOMPARE(d.unjudged.isEmpty() ? QString() : UnjudgedSentence(12, d), log);
    }

    void hintsOnRealHeaders_data() {
        QTest::addColumn<QString>("header");
        QTest::addColumn<int>("hint");
        QTest::addColumn<bool>("shown");
        const int dkim = int(AuthenticityHint::DkimFailed), spf = int(AuthenticityHint::SpfFailed),
                  dmarc = int(AuthenticityHint::DmarcFailed), name = int(AuthenticityHint::MisleadingName),
                  replyTo = int(AuthenticityHint::ReplyToOtherDomain);
        const QString gmail =
            u"Delivered-To: ana@gmail.example\r\n"
            "Authentication-Results: mx.google.com;\r\n"
            "       dkim=pass header.i=@example.com header.s=s1 header.b=AbCd;\r\n"
            "       spf=fail (google.com: domain of x@example.com does not designate 1.2.3.4 as permitted sender)"
            " smtp.mailfrom=x@example.com;\r\n"
            "       dmarc=pass (p=NONE sp=NONE dis=NONE) header.from=example.com\r\n"
            "From: x@example.com\r\n"_qs;
        QTest::newRow("gmail: spf fails") << gmail << spf << true;
        QTest::newRow("gmail: dkim passes") << gmail << dkim << false;
        QTest::newRow("gmail: dmarc passes, comment aside") << gmail << dmarc << false;
        const QString outlook = u"Authentication-Results: spf=pass (sender IP is 1.2.3.4)\r\n"
                                " smtp.mailfrom=example.com; dkim=none (message not signed)\r\n"
                                " header.d=none;dmarc=FAIL action=none header.from=example.com;compauth=fail "
                                "reason=001\r\n"_qs;
        QTest::newRow("outlook, no server id: dmarc fails") << outlook << dmarc << true;
        QTest::newRow("outlook: dkim none") << outlook << dkim << false;
        QTest::newRow("only the lower field fails")
            << u"Authentication-Results: mx.example.net; dkim=pass header.d=example.com\r\n"
               "Authentication-Results: mx.example.net; dkim=fail header.d=example.com\r\n"_qs
            << dkim << false;
        QTest::newRow("method and result in any case")
            << u"Authentication-Results: mx.example.net; DKIM=Fail header.d=example.com\r\n"_qs << dkim << true;
        QTest::newRow("method with a version")
            << u"Authentication-Results: mx.example.net 1; dkim/1=fail header.d=example.com\r\n"_qs << dkim << true;
        QTest::newRow("softfail is not fail")
            << u"Authentication-Results: mx.example.net; spf=softfail smtp.mailfrom=example.com\r\n"_qs << spf << false;
        QTest::newRow("temperror is not fail")
            << u"Authentication-Results: mx.example.net; dkim=temperror\r\n"_qs << dkim << false;
        QTest::newRow("fail inside a comment")
            << u"Authentication-Results: mx.example.net; dkim=pass (was dkim=fail; then; dkim=fail)\r\n"_qs << dkim
            << false;
        QTest::newRow("fail inside a property value")
            << u"Authentication-Results: mx.example.net; spf=pass reason=\"dkim=fail; x\" smtp.mailfrom=dkim=fail\r\n"_qs
            << dkim << false;
        QTest::newRow("spaces around the equals sign")
            << u"Authentication-Results: mx.example.net; dmarc = fail header.from=example.com\r\n"_qs << dmarc << true;
        QTest::newRow("no results field") << u"From: a@example.com\r\n"_qs << dkim << false;

        QTest::newRow("another address as display name")
            << u"From: \"soporte@banco.example\" <avisos@otro.example>\r\n"_qs << name << true;
        QTest::newRow("address with angles inside the quotes")
            << u"From: \"Banco <soporte@banco.example>\" <avisos@otro.example>\r\n"_qs << name << true;
        QTest::newRow("encoded display name")
            << u"From: =?utf-8?B?c29wb3J0ZUBiYW5jby5leGFtcGxl?= <avisos@otro.example>\r\n"_qs << name << true;
        QTest::newRow("own address as display name, other case")
            << u"From: \"Avisos@Otro.example\" <avisos@otro.example>\r\n"_qs << name << false;
        QTest::newRow("plain display name") << u"From: Banco <avisos@otro.example>\r\n"_qs << name << false;
        QTest::newRow("no display name") << u"From: avisos@otro.example\r\n"_qs << name << false;

        QTest::newRow("reply-to another domain")
            << u"From: Banco <avisos@banco.example>\r\nReply-To: cobros@otro.example\r\n"_qs << replyTo << true;
        QTest::newRow("reply-to a subdomain")
            << u"From: avisos@banco.example\r\nReply-To: <x@mail.banco.example>\r\n"_qs << replyTo << true;
        QTest::newRow("reply-to same domain, other case")
            << u"From: avisos@banco.example\r\nReply-To: Cobros <cobros@BANCO.Example>\r\n"_qs << replyTo << false;
        QTest::newRow("no reply-to") << u"From: avisos@banco.example\r\n"_qs << replyTo << false;
        QTest::newRow("sender without a domain")
            << u"From: avisos\r\nReply-To: cobros@otro.example\r\n"_qs << replyTo << false;
    }
    void hintsOnRealHeaders() {
        QFETCH(QString, header);
        QFETCH(int, hint);
        QFETCH(bool, shown);
        QCOMPARE(HasHint(header, AuthenticityHint(hint)), shown);
        // The same through a rule.
        const QString rule = u"marcar autenticidad es "_qs + HintName(AuthenticityHint(hint));
        QCOMPARE(decideOne(rule, header).marked(), shown);
    }

    // Patterns that backtrack without end on a long line, each step of some costing the whole line.
    // The last two run on the whole header, whose last line holds what they need: on the Subject
    // alone PCRE2 would see at once that the '=' or 'b' they require is missing.
    void expressionOnAHugeLineIsBounded_data() {
        QTest::addColumn<QString>("rule");
        QTest::newRow("back reference") << u"marcar Subject expresion ^(a+)\\1+$"_qs;
        QTest::newRow("nested repeat") << u"marcar Subject expresion (a+)+$"_qs;
        QTest::newRow("repeated empty-able group") << u"marcar cabecera expresion (.*)*b"_qs;
        QTest::newRow("three wildcards") << u"marcar cabecera expresion .*.*.*="_qs;
    }
    void expressionOnAHugeLineIsBounded() {
        QFETCH(QString, rule);
        const QString subject = u"Subject: "_qs + QString(1 << 20, u'a') + u"!\r\n"_qs;
        QStringList problems;
        // Twice the field: still one problem for the rule.
        const RuleDecision d =
            decideOne(rule + u"\nmarcar To contiene x"_qs, subject + subject + u"X-Tail: b=\r\n"_qs, &problems);
        QVERIFY(!d.marked());
        QCOMPARE(problemLines(problems), QList<int>{1});
    }

    void anExpressionThatKeepsRunningOutOfTimeIsNoLongerTried() {
        QStringList problems;
        const FilterRules rules =
            FilterRules::Parse("marcar Subject expresion ^(a+)\\1+$\nmarcar Subject contiene zzz\n");
        const QString header = u"Subject: "_qs + QString(1 << 20, u'a') + u"!zzz\r\n"_qs;
        for (int i = 0; i < 4; ++i) {
            problems.clear();
            QVERIFY(rules.decide({header, {}, {}}, TFiltros(), &problems).marked()); // the next rule still applies
        }
        QCOMPARE(problems.size(), 1);
        QVERIFY2(problems[0].contains(u"ya no se prueba"_qs), qPrintable(problems[0]));
    }

    void loadOfAMissingFileGivesNoRules() {
        QTemporaryDir dir;
        QStringList problems;
        QVERIFY(FilterRules::Load(dir.filePath(u"Reglas.dat"_qs), &problems).isEmpty());
        QCOMPARE(problems, QStringList());
        writeBytes(dir.filePath(u"Reglas.dat"_qs), "marcar Subject contiene x\nmal\n");
        QCOMPARE(FilterRules::Load(dir.filePath(u"Reglas.dat"_qs), &problems).rules().size(), 1);
        QCOMPARE(problemLines(problems), QList<int>{2});
    }
};

QTEST_GUILESS_MAIN(TestRules)
#include "tst_rules.moc"
