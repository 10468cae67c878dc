// The header of one message as the rules read it: unfolded once and split into its fields, each
// value decoded and folded only when a rule first asks for it. Internal to FilterRules.
#pragma once

#include "FilterRules.h"

#include <QString>
#include <QStringView>
#include <optional>
#include <vector>

class RuleHeader final {
public:
    /** @short The header text with CR LF or LF line ends, folded or not, up to the blank line that
     *  ends it (the whole text when there is none). `cut` when it is only the start of the
     *  message's header, `lastLineCut` when its last line is cut short too (RuleSubject). */
    explicit RuleHeader(QStringView header, bool cut = false, bool lastLineCut = false);

    /** True when the text is only the start of the header: fields may be missing after it. */
    bool isCut() const { return m_cut; }
    /** True for the field the text was cut in (the last one, when the cut fell inside its line). */
    bool isCutField(qsizetype i) const { return m_fields[size_t(i)].cut; }
    /** The name of the field the text was cut in, or empty. */
    QString cutFieldName() const;

    /** The unfolded header: one field a line, LF between lines, not decoded. */
    const QString& text() const { return m_text; }
    /** The unfolded header folded with MayusculasSinAcentos (made at the first call). */
    const QString& foldedText() const;

    /** Every field in header order (the topmost first). */
    qsizetype fieldCount() const { return qsizetype(m_fields.size()); }
    bool nameIs(qsizetype i, QStringView name) const;
    /** The value after the colon without its leading blanks, not decoded. */
    const QString& rawValue(qsizetype i) const { return m_fields[size_t(i)].raw; }
    /** The value with its MIME encoded words decoded and its quotes taken off (DecodificarTexto). */
    const QString& decodedValue(qsizetype i) const;
    /** decodedValue folded with MayusculasSinAcentos. */
    const QString& foldedValue(qsizetype i) const;
    /** The raw value of the first field of that name, or nothing. */
    std::optional<QString> firstRawValue(QStringView name) const;
    /** False when the first field of that name is missing or cut while the text is cut: what is
     *  read of it would not be what the whole header says. */
    bool firstIsWhole(QStringView name) const;

private:
    struct Field {
        QString name;
        QString raw;
        mutable std::optional<QString> decoded;
        mutable std::optional<QString> folded;
        bool cut = false;
    };
    bool m_cut = false;
    QString m_text;
    mutable std::optional<QString> m_foldedText;
    std::vector<Field> m_fields;
};

/** @short True for a valid header field name (RFC 5322, 3.6.8: printable US-ASCII but ':'). */
bool IsFieldName(QStringView name);
/** @short HasHint on a header already read. */
bool HeaderHasHint(const RuleHeader& header, AuthenticityHint hint);
/** @short False when the hint reads a field that the header's cut leaves missing or cut, so that
 *  HeaderHasHint could not tell. */
bool HintIsDecidable(const RuleHeader& header, AuthenticityHint hint);
