// The two lists of filter fragments (senders and subjects), their file Filtros.dat and the test
// that decides whether a text contains a fragment.
//
// Filtros.dat holds one fragment a line: "[FROM]" or "[SUBJ]" and the fragment right after it,
// CR LF after every line, Windows-1252 on disk. Lines with neither marker are skipped on reading.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

/** @short Substring test on two texts already folded with MayusculasSinAcentos, character for
 *  character. An empty fragment matches only an empty text: a stray empty line in the filter file
 *  must not mark every message of a mailbox. */
bool ContainsText(const QString& fragment, const QString& text);

/** @short The sender and subject fragments, kept as entered (case, accents and blanks included),
 *  in file order and then in the order they were added. */
class TFiltros final {
public:
    QStringList From;
    QStringList Subj;

    /** @short Refills both lists from the file. A missing file leaves both lists as they are; when
     *  the file cannot be read, both are left empty. Throws EInOutError. */
    void LoadFilters(const QString& path);
    /** @short Replaces the file in one step (a failure leaves the old file). Throws EInOutError. */
    void SaveFilters(const QString& path) const;
    /** @short True when the text contains a FROM fragment, both folded; false for an empty list. */
    bool MatchesFrom(const QString& text) const;
    /** @short True when the text contains a SUBJ fragment, both folded; false for an empty list. */
    bool MatchesSubj(const QString& text) const;
    /** @short The first FROM fragment the text contains (both folded), or null. */
    const QString* FromMatch(const QString& text) const;
    /** @short The first SUBJ fragment the text contains (both folded), or null. */
    const QString* SubjMatch(const QString& text) const;
};

/** @short Appends the fragments of the file's bytes to the lists. Markers are compared exactly,
 *  upper case; line ends and Ctrl+Z as in DataFileLines; no limit on lines or their length. */
void ParseFiltersData(QByteArrayView data, TFiltros& filters);
/** @short The file's bytes: every FROM line, then every SUBJ line; empty lists give zero bytes. */
QByteArray FormatFiltersData(const TFiltros& filters);
