// Reglas.dat, the rules beside the two filter lists: which messages are never marked (permitir),
// which are marked (marcar), on any header field, the whole header or a hint of forgery, and for
// every decision the reason, which the user sees.
//
// One rule a line, "ACCION CAMPO MODO TEXTO", single blanks between the first three words, TEXTO
// the rest of the line:
//   permitir From contiene @amigos.example
//   marcar Subject expresion ^\s*\[?publicidad
//   marcar autenticidad es dkim-fallido
// UTF-8 (a byte-order mark is skipped), LF or CR LF; a line starting with "#" (blanks may come
// first) is a comment, blank lines are ignored.
#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

class TFiltros;

/** One rule as read from its line. */
struct FilterRule {
    enum class Action { Allow, Mark };
    enum class Mode { Contains, Expression, Is };
    Action action = Action::Mark;
    /** A header field's name as written ("From", "List-Id"), or "cabecera" (the whole header) or
     *  "autenticidad" (a hint, with Mode::Is). */
    QString field;
    Mode mode = Mode::Contains;
    QString text;
    int line = 0;    ///< 1-based line number in the file
    QString written; ///< the line as written, without surrounding blanks: the reason shown
};

/** The header of one message as the rules see it. */
struct RuleSubject {
    /** The header text as received (unfolded or not; the matcher unfolds it). */
    QString header;
    /** From and Subject as the message list shows them (decoded by the header pass): what the
     *  FROM and SUBJ lists of Filtros.dat are compared with. */
    QString from;
    QString subject;
    /** True when `header` is only the start of the message's header (a field was too long to
     *  keep): the fields after it are missing. The rules never decide on what may be missing. */
    bool headerCut = false;
    /** With headerCut: the last line of `header` is cut short too (its field is not whole). */
    bool lastLineCut = false;
};

/** What decided about one message. */
struct RuleDecision {
    enum class Kind { None, Allowed, Marked };
    Kind kind = Kind::None;
    /** Empty for None; otherwise the deciding rule's line as written ("marcar Subject contiene
     *  oferta"), or for the lists the fragment with its section ("[FROM]oferta"). */
    QString reason;
    /** With None, when the header was cut: the fields (as the rules name them, "cabecera" and
     *  "autenticidad" too, each once) of the rules that could not be judged on what was kept. */
    QStringList unjudged = {};
    /** With unjudged: the name of the field the header was cut in, or empty when the cut fell
     *  between two fields. */
    QString cutField = {};
    bool marked() const { return kind == Kind::Marked; }
};

/** @short What the dialogue log says of message `num` when some of its rules could not be judged
 *  (decision.unjudged is not empty): one Spanish sentence naming the field too long to judge. */
QString UnjudgedSentence(int num, const RuleDecision& decision);

class FilterRules final {
public:
    FilterRules();
    ~FilterRules();
    FilterRules(FilterRules&&) noexcept;
    FilterRules& operator=(FilterRules&&) noexcept;

    /** @short The rules of a file's bytes. Every line that does not parse, and every expression
     *  that does not compile, adds one Spanish sentence with its line number and the position in
     *  the line where the fault is to `problems` ("Línea 4, posición 8: ..."; for an expression,
     *  PCRE2's English words follow in parentheses) and is left out; the other rules still apply. */
    static FilterRules Parse(QByteArrayView data, QStringList* problems = nullptr);
    /** @short The file's rules; a missing file gives no rules. Throws EInOutError. */
    static FilterRules Load(const QString& path, QStringList* problems = nullptr);

    const QList<FilterRule>& rules() const;
    bool isEmpty() const;
    /** @short True when there is any rule: the rules read the header text itself (their From is
     *  the From field, where the list shows Resent-From when there is one), so it must be kept for
     *  the decision. Without it, rules on From and Subject read the list's values. */
    bool needsHeaderText() const;

    /** @short The decision for one message: the first permitir rule that matches allows it (and is
     *  its reason); otherwise the first match marks it, looked for in this order: the FROM list,
     *  the SUBJ list (both folded with MayusculasSinAcentos, as the lists always were), then the
     *  marcar rules in file order. An expression is bounded in the work it may do per message:
     *  one that reaches the bound counts as no match, and `problems` (when given) gets one
     *  sentence for it. An expression that reached the bound by itself with three messages is not
     *  tried again by these rules (it counts as no match, and is reported so).
     *  Where the header text was cut, no rule decides on what is not whole: a rule on a field that
     *  may have an occurrence cut short or left out decides only on a whole occurrence that
     *  matches, a rule on the whole header or a hint whose field is not whole not at all. Such a
     *  marcar rule counts as no match; such a permitir rule might have allowed the message, so
     *  nothing marks it. The rules left undecided are named in the decision. One thread at a
     *  time. */
    RuleDecision decide(const RuleSubject& message, const TFiltros& lists, QStringList* problems = nullptr) const;

private:
    struct Compiled;
    std::unique_ptr<Compiled> d;
};

/** The hints of forgery `autenticidad es ...` can name. */
enum class AuthenticityHint { DkimFailed, SpfFailed, DmarcFailed, MisleadingName, ReplyToOtherDomain };
/** @short The hint's word in the rules ("dkim-fallido", "spf-fallido", "dmarc-fallido",
 *  "nombre-engañoso", "responder-a-otro-dominio"). */
QString HintName(AuthenticityHint hint);
/** @short Whether the (folded or unfolded) header text shows the hint:
 *  - dkim/spf/dmarc-fallido: the topmost Authentication-Results field (the one the receiving
 *    server added last) gives "fail" for that method (softfail, temperror, permerror are not fail);
 *  - nombre-engañoso: From's display name holds an e-mail address other than the sender's own;
 *  - responder-a-otro-dominio: Reply-To's domain differs from From's (case aside; a subdomain is
 *    another domain); never when either is missing. */
bool HasHint(const QString& header, AuthenticityHint hint);
