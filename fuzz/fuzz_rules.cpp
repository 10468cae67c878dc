// Reglas.dat and the decision on one message. The bytes before the first NUL are the rules file,
// the rest (or, without a NUL, the same bytes) the header they judge. A rule read from a file says
// the same when its own line is read again, and a decision names its reason.
#include "FilterLists.h"
#include "FilterRules.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype nul = bytes.indexOf('\0');
    const QByteArrayView file = nul < 0 ? bytes : bytes.first(nul);
    const QString header = nul < 0 ? textOf(data, size) : textOf(data + nul + 1, size_t(bytes.size() - nul - 1));

    QStringList problems;
    const FilterRules rules = FilterRules::Parse(file, &problems);
    QByteArray again;
    for (const FilterRule& rule : rules.rules())
        again += rule.written.toUtf8() + '\n';
    QStringList problemsAgain;
    const FilterRules reread = FilterRules::Parse(again, &problemsAgain);
    FUZZ_CHECK(problemsAgain.isEmpty());
    FUZZ_CHECK(reread.rules().size() == rules.rules().size());
    for (qsizetype i = 0; i < rules.rules().size(); ++i)
        FUZZ_CHECK(reread.rules()[i].written == rules.rules()[i].written);

    TFiltros lists;
    lists.From = {QStringLiteral("oferta")};
    lists.Subj = {QStringLiteral("gratis")};
    const RuleDecision decision = rules.decide({header, header.left(200), header.right(200)}, lists);
    FUZZ_CHECK((decision.kind == RuleDecision::Kind::None) == decision.reason.isEmpty());
    for (AuthenticityHint hint :
         {AuthenticityHint::DkimFailed, AuthenticityHint::MisleadingName, AuthenticityHint::ReplyToOtherDomain})
        (void)HasHint(header, hint);
    return 0;
}
