#include "FilterRules.h"

#include "DataFile.h"
#include "FilterLists.h"
#include "RuleHeader.h"
#include "TextAndTime.h"

#include <QFileInfo>
#include <chrono>
#include <optional>
#include <vector>

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

namespace {

using Clock = std::chrono::steady_clock;

// What all the expressions of one decision may spend together, and PCRE2's own limits beside it:
// the limits alone do not bound a pattern whose every step is long (a back reference on a 1 MB
// line), the clock alone does not bound the memory.
constexpr auto kExpressionBudget = std::chrono::milliseconds(100);
constexpr uint32_t kMatchLimit = 10'000'000;
constexpr uint32_t kDepthLimit = 100'000;
constexpr uint32_t kHeapLimitKiB = 64 * 1024;
// An expression that ran out of time with this many messages is no longer tried: a filtering run
// over tens of thousands of messages must not spend the budget on each of them.
constexpr int kMaxOverruns = 3;

constexpr AuthenticityHint kHints[] = {AuthenticityHint::DkimFailed, AuthenticityHint::SpfFailed,
                                       AuthenticityHint::DmarcFailed, AuthenticityHint::MisleadingName,
                                       AuthenticityHint::ReplyToOtherDomain};

struct CodeFree {
    void operator()(pcre2_code* code) const { pcre2_code_free(code); }
};

QString lineProblem(int line, const QString& what) {
    return u"Línea %1: %2"_qs.arg(line).arg(what);
}

/** A line that is not a rule, and where in it (1-based, in characters as an editor counts them). */
QString placedProblem(int line, int column, const QString& what) {
    return u"Línea %1, posición %2: %3"_qs.arg(line).arg(column).arg(what);
}

/** The 1-based position of the character at `index` of `line`: a character outside the BMP is one. */
int columnOf(QStringView line, qsizetype index) {
    int column = 1;
    for (qsizetype i = 0; i < index && i < line.size(); ++i)
        if (!line[i].isLowSurrogate()) ++column;
    return column;
}

bool isWord(QStringView word, QStringView expected) {
    return word.compare(expected, Qt::CaseInsensitive) == 0;
}

const char16_t* units(QStringView s) {
    return reinterpret_cast<const char16_t*>(s.utf16());
}

} // namespace

/** The rules as parsed, each with what its matching needs made once: the folded text of a
 *  `contiene`, the compiled pattern of an `expresion`, the hint of `autenticidad`. */
struct FilterRules::Compiled {
    enum class Target { Field, WholeHeader, Hint };
    struct Matcher {
        Target target = Target::Field;
        QString folded;
        std::unique_ptr<pcre2_code, CodeFree> pattern;
        AuthenticityHint hint = AuthenticityHint::DkimFailed;
    };
    QList<FilterRule> rules;
    std::vector<Matcher> matchers; // one per rule, same order
    /** Per rule, the messages with which its expression ran out of time itself (not because an
     *  expression before it in the same decision had spent the budget). */
    mutable std::vector<int> overruns;
};

namespace {

// The per-decision state of the expressions: one clock budget for all of them, the match context
// that carries it into PCRE2, and a match data block, all made at the first expression matched.
class ExpressionRun {
public:
    ExpressionRun() = default;
    ExpressionRun(const ExpressionRun&) = delete;
    ExpressionRun& operator=(const ExpressionRun&) = delete;
    ~ExpressionRun() {
        if (m_data) pcre2_match_data_free(m_data);
        if (m_context) pcre2_match_context_free(m_context);
    }

    enum class Result { Match, NoMatch, TooLong };
    bool expired() const { return m_expired; }
    Result match(const pcre2_code* pattern, QStringView subject) {
        if (!m_context) start();
        const int rc = pcre2_match(pattern, reinterpret_cast<PCRE2_SPTR>(units(subject)), PCRE2_SIZE(subject.size()), 0,
                                   0, m_data, m_context);
        if (rc >= 0) return Result::Match;
        switch (rc) {
        case PCRE2_ERROR_CALLOUT:
        case PCRE2_ERROR_MATCHLIMIT:
        case PCRE2_ERROR_DEPTHLIMIT:
        case PCRE2_ERROR_HEAPLIMIT:
        case PCRE2_ERROR_NOMEMORY:
            return Result::TooLong;
        default:
            return Result::NoMatch; // PCRE2_ERROR_NOMATCH, or a text that is not valid UTF-16
        }
    }

private:
    // Called by PCRE2 at every item of the pattern (PCRE2_AUTO_CALLOUT): a negative answer ends
    // the match with that error. The clock is read every few calls; once out, it stays out.
    static int onCallout(pcre2_callout_block*, void* data) {
        auto* run = static_cast<ExpressionRun*>(data);
        if (!run->m_expired && (++run->m_calls & 0xF) == 0) run->m_expired = Clock::now() >= run->m_deadline;
        return run->m_expired ? PCRE2_ERROR_CALLOUT : 0;
    }
    void start() {
        m_deadline = Clock::now() + kExpressionBudget;
        m_context = pcre2_match_context_create(nullptr);
        pcre2_set_callout(m_context, &ExpressionRun::onCallout, this);
        pcre2_set_match_limit(m_context, kMatchLimit);
        pcre2_set_depth_limit(m_context, kDepthLimit);
        pcre2_set_heap_limit(m_context, kHeapLimitKiB);
        m_data = pcre2_match_data_create(1, nullptr);
    }

    Clock::time_point m_deadline;
    unsigned m_calls = 0;
    bool m_expired = false;
    pcre2_match_context* m_context = nullptr;
    pcre2_match_data* m_data = nullptr;
};

/** The rule of one line, or why it is not one and where (`at`, an index into `line`). */
std::optional<FilterRule> parseLine(QStringView line, int number, QString& problem, qsizetype& at) {
    FilterRule rule;
    rule.line = number;
    rule.written = line.toString();
    // "ACCION CAMPO MODO TEXTO": single blanks between the first three words, TEXTO the rest.
    QStringView words[3];
    qsizetype starts[3] = {};
    QStringView rest = line;
    for (int i = 0; i < 3; ++i) {
        starts[i] = line.size() - rest.size();
        const qsizetype blank = rest.indexOf(u' ');
        words[i] = blank < 0 ? rest : rest.left(blank);
        rest = blank < 0 ? QStringView() : rest.sliced(blank + 1);
        if (words[i].isEmpty() && blank >= 0) {
            problem = u"las palabras de una regla van separadas por un solo espacio"_qs;
            at = starts[i];
            return std::nullopt;
        }
    }
    if (words[1].isEmpty() || words[2].isEmpty()) {
        problem = u"a la regla le faltan partes; se escribe «ACCION CAMPO MODO TEXTO»"_qs;
        at = line.size();
        return std::nullopt;
    }
    if (isWord(words[0], u"permitir")) {
        rule.action = FilterRule::Action::Allow;
    } else if (isWord(words[0], u"marcar")) {
        rule.action = FilterRule::Action::Mark;
    } else {
        problem = u"acción desconocida «%1»; se esperaba permitir o marcar"_qs.arg(words[0]);
        at = starts[0];
        return std::nullopt;
    }
    const bool hint = isWord(words[1], u"autenticidad");
    const bool wholeHeader = isWord(words[1], u"cabecera");
    if (hint || wholeHeader) {
        rule.field = words[1].toString().toLower();
    } else if (IsFieldName(words[1])) {
        rule.field = words[1].toString();
    } else {
        problem = u"«%1» no es un nombre de campo de cabecera válido"_qs.arg(words[1]);
        at = starts[1];
        return std::nullopt;
    }
    if (isWord(words[2], u"contiene")) {
        rule.mode = FilterRule::Mode::Contains;
    } else if (isWord(words[2], u"expresion") || isWord(words[2], u"expresión")) {
        rule.mode = FilterRule::Mode::Expression;
    } else if (isWord(words[2], u"es")) {
        rule.mode = FilterRule::Mode::Is;
    } else {
        problem = u"modo desconocido «%1»; se esperaba contiene, expresion o es"_qs.arg(words[2]);
        at = starts[2];
        return std::nullopt;
    }
    if (hint != (rule.mode == FilterRule::Mode::Is)) {
        problem = hint ? u"autenticidad solo admite el modo «es»"_qs
                       : u"el modo «es» solo vale con autenticidad; para un campo, contiene o expresion"_qs;
        at = starts[2];
        return std::nullopt;
    }
    if (rest.isEmpty()) {
        problem = u"falta el texto que buscar"_qs;
        at = line.size();
        return std::nullopt;
    }
    rule.text = rest.toString();
    return rule;
}

/** A rule's answer on one message: Unknown where the header kept is cut and the part that would
 *  tell is missing. */
enum class Truth { No, Yes, Unknown };

Truth truthOf(bool b) {
    return b ? Truth::Yes : Truth::No;
}

/** Whether an occurrence of the rule's field matches. An occurrence cut short is never read; in a
 *  header that was cut, another occurrence may follow the cut, so no match there is no answer. */
Truth fieldMatches(const RuleHeader& header, const FilterRule& rule, const auto& onValue) {
    for (qsizetype i = 0; i < header.fieldCount(); ++i)
        if (header.nameIs(i, rule.field) && !header.isCutField(i) && onValue(i)) return Truth::Yes;
    return header.isCut() ? Truth::Unknown : Truth::No;
}

} // namespace

FilterRules::FilterRules() : d(std::make_unique<Compiled>()) {}
FilterRules::~FilterRules() = default;
FilterRules::FilterRules(FilterRules&&) noexcept = default;
FilterRules& FilterRules::operator=(FilterRules&&) noexcept = default;

FilterRules FilterRules::Parse(QByteArrayView data, QStringList* problems) {
    FilterRules result;
    Compiled& c = *result.d;
    QString text = QString::fromUtf8(data);
    if (text.startsWith(u'\uFEFF')) text.remove(0, 1);
    const QList<QStringView> lines = QStringView(text).split(u'\n');
    for (qsizetype n = 0; n < lines.size(); ++n) {
        const int number = int(n + 1);
        const QStringView raw = lines[n];
        QStringView line = raw;
        // Blanks, TABs and stray CRs around a rule are not part of it (a file written on one system
        // and edited on another may end its lines in "\r\r\n").
        auto blank = [](QChar c) { return c == u' ' || c == u'\t' || c == u'\r'; };
        while (!line.isEmpty() && blank(line.front()))
            line = line.sliced(1);
        while (!line.isEmpty() && blank(line.back()))
            line.chop(1);
        if (line.isEmpty() || line.startsWith(u'#')) continue;
        const qsizetype lead = line.data() - raw.data(); // the blanks before the rule
        QString problem;
        qsizetype at = 0; // where in `line` the problem is
        std::optional<FilterRule> rule = parseLine(line, number, problem, at);
        const qsizetype textStart = rule ? line.size() - rule->text.size() : 0;
        Compiled::Matcher m;
        if (rule && rule->mode == FilterRule::Mode::Is) {
            const auto* hint = std::find_if(std::begin(kHints), std::end(kHints),
                                            [&](AuthenticityHint h) { return isWord(rule->text, HintName(h)); });
            if (hint == std::end(kHints)) {
                problem = u"indicio desconocido «%1»; se esperaba dkim-fallido, spf-fallido, dmarc-fallido, "
                          "nombre-engañoso o responder-a-otro-dominio"_qs.arg(rule->text);
                at = textStart;
                rule.reset();
            } else {
                m.target = Compiled::Target::Hint;
                m.hint = *hint;
            }
        } else if (rule) {
            m.target = rule->field == u"cabecera" ? Compiled::Target::WholeHeader : Compiled::Target::Field;
            if (rule->mode == FilterRule::Mode::Contains) m.folded = MayusculasSinAcentos(rule->text);
        }
        if (rule && rule->mode == FilterRule::Mode::Expression) {
            // As QRegularExpression with CaseInsensitiveOption and UseUnicodePropertiesOption, and a
            // callout at every item so that the clock can stop a match.
            int error = 0;
            PCRE2_SIZE offset = 0;
            m.pattern.reset(
                pcre2_compile(reinterpret_cast<PCRE2_SPTR>(units(rule->text)), PCRE2_SIZE(rule->text.size()),
                              PCRE2_UTF | PCRE2_CASELESS | PCRE2_UCP | PCRE2_AUTO_CALLOUT, &error, &offset, nullptr));
            if (!m.pattern) {
                char16_t message[256] = {};
                pcre2_get_error_message(error, reinterpret_cast<PCRE2_UCHAR*>(message), 256);
                // PCRE2's own words, in English, after ours; the offset counts from the pattern.
                problem = u"la expresión no es válida (%1)"_qs.arg(QString::fromUtf16(message));
                at = textStart + qsizetype(offset);
                rule.reset();
            }
        }
        if (!rule) {
            if (problems) problems->append(placedProblem(number, columnOf(raw, lead + at), problem));
            continue;
        }
        c.rules.append(std::move(*rule));
        c.matchers.push_back(std::move(m));
        c.overruns.push_back(0);
    }
    return result;
}

FilterRules FilterRules::Load(const QString& path, QStringList* problems) {
    if (!QFileInfo::exists(path)) return FilterRules();
    return Parse(ReadDataFile(path), problems);
}

const QList<FilterRule>& FilterRules::rules() const {
    static const QList<FilterRule> none;
    return d ? d->rules : none;
}

bool FilterRules::isEmpty() const {
    return rules().isEmpty();
}

bool FilterRules::needsHeaderText() const {
    return !isEmpty();
}

RuleDecision FilterRules::decide(const RuleSubject& message, const TFiltros& lists, QStringList* problems) const {
    std::optional<RuleHeader> header; // read at the first rule that looks at the header
    ExpressionRun expressions;
    auto headerRead = [&]() -> const RuleHeader& {
        if (!header) header.emplace(message.header, message.headerCut, message.lastLineCut);
        return *header;
    };
    auto matches = [&](qsizetype index) -> Truth {
        const FilterRule& rule = d->rules[index];
        const Compiled::Matcher& m = d->matchers[size_t(index)];
        // Without the header text, From and Subject are the list's (the scanner keeps no text when
        // no rule needs it, and a caller may not have it).
        const bool listValue = message.header.isEmpty() && m.target == Compiled::Target::Field &&
                               (isWord(rule.field, u"From") || isWord(rule.field, u"Subject"));
        const QString& value = isWord(rule.field, u"From") ? message.from : message.subject;
        if (listValue && rule.mode == FilterRule::Mode::Contains)
            return truthOf(ContainsText(m.folded, MayusculasSinAcentos(value)));
        const RuleHeader& h = headerRead();
        if (m.target == Compiled::Target::Hint)
            return HintIsDecidable(h, m.hint) ? truthOf(HeaderHasHint(h, m.hint)) : Truth::Unknown;
        if (m.target == Compiled::Target::WholeHeader && h.isCut()) return Truth::Unknown;
        if (rule.mode == FilterRule::Mode::Contains) {
            if (m.target == Compiled::Target::WholeHeader) return truthOf(ContainsText(m.folded, h.foldedText()));
            return fieldMatches(h, rule, [&](qsizetype i) { return ContainsText(m.folded, h.foldedValue(i)); });
        }
        int& overruns = d->overruns[size_t(index)];
        if (overruns >= kMaxOverruns) {
            if (problems)
                problems->append(
                    lineProblem(rule.line, u"la expresión tardó demasiado con %1 mensajes y ya no se "
                                           "prueba (hasta que se lean de nuevo las reglas)."_qs.arg(kMaxOverruns)));
            return Truth::No;
        }
        const bool budgetLeft = !expressions.expired();
        bool tooLong = false;
        auto run = [&](QStringView subject) {
            const ExpressionRun::Result r = expressions.match(m.pattern.get(), subject);
            tooLong = tooLong || r == ExpressionRun::Result::TooLong;
            return r == ExpressionRun::Result::Match;
        };
        const Truth found = listValue ? truthOf(run(value))
                            : m.target == Compiled::Target::WholeHeader
                                ? truthOf(run(h.text()))
                                : fieldMatches(h, rule, [&](qsizetype i) { return run(h.decodedValue(i)); });
        if (tooLong && budgetLeft) ++overruns;
        if (tooLong && problems)
            problems->append(lineProblem(
                rule.line, u"la expresión tardó demasiado con un mensaje y se tomó como no coincidente."_qs));
        // An occurrence that matched before another ran out of time still matched.
        return found;
    };

    // The rules that a cut header left without an answer, named once each.
    RuleDecision undecided;
    auto unjudged = [&](qsizetype index) {
        const QString& field = d->rules[index].field;
        if (!undecided.unjudged.contains(field, Qt::CaseInsensitive)) undecided.unjudged.append(field);
        if (undecided.cutField.isEmpty()) undecided.cutField = headerRead().cutFieldName();
    };
    const qsizetype count = d ? d->rules.size() : 0;
    for (qsizetype i = 0; i < count; ++i) {
        if (d->rules[i].action != FilterRule::Action::Allow) continue;
        const Truth t = matches(i);
        if (t == Truth::Yes) return RuleDecision{RuleDecision::Kind::Allowed, d->rules[i].written};
        if (t == Truth::Unknown) unjudged(i);
    }
    // A permitir rule left without an answer might have allowed the message: nothing marks it.
    if (!undecided.unjudged.isEmpty()) return undecided;
    // The lists, naming the fragment found.
    if (const QString* fragment = lists.FromMatch(message.from))
        return RuleDecision{RuleDecision::Kind::Marked, u"[FROM]"_qs + *fragment};
    if (const QString* fragment = lists.SubjMatch(message.subject))
        return RuleDecision{RuleDecision::Kind::Marked, u"[SUBJ]"_qs + *fragment};
    for (qsizetype i = 0; i < count; ++i) {
        if (d->rules[i].action != FilterRule::Action::Mark) continue;
        const Truth t = matches(i);
        if (t == Truth::Yes) return RuleDecision{RuleDecision::Kind::Marked, d->rules[i].written};
        if (t == Truth::Unknown) unjudged(i);
    }
    return undecided;
}

QString UnjudgedSentence(int num, const RuleDecision& decision) {
    const QString& cut = decision.cutField;
    const QString message = QString::number(num);
    if (!cut.isEmpty() && decision.unjudged.size() == 1 &&
        decision.unjudged.front().compare(cut, Qt::CaseInsensitive) == 0)
        return u"El campo "_qs + cut + u" del mensaje "_qs + message +
               u" es demasiado largo para juzgarlo: las reglas sobre él no se aplican"_qs;
    const QString where = cut.isEmpty() ? QString() : u" (el campo "_qs + cut + u" no cabe)"_qs;
    return u"La cabecera del mensaje "_qs + message + u" es demasiado larga para juzgarla entera"_qs + where +
           u": las reglas sobre "_qs + decision.unjudged.join(u", "_qs) + u" no se aplican"_qs;
}
