#include "FilterLists.h"

#include "Cp1252.h"
#include "DataFile.h"
#include "TextAndTime.h"

#include <QFileInfo>

namespace {

constexpr QByteArrayView kFromMarker = "[FROM]";
constexpr QByteArrayView kSubjMarker = "[SUBJ]";

const QString* firstMatch(const QStringList& fragments, const QString& text) {
    const QString folded = MayusculasSinAcentos(text);
    for (const QString& fragment : fragments)
        if (ContainsText(MayusculasSinAcentos(fragment), folded)) return &fragment;
    return nullptr;
}

void appendLines(QByteArray& out, QByteArrayView marker, const QStringList& fragments) {
    for (const QString& fragment : fragments) {
        out += marker;
        out += toCp1252(fragment);
        out += "\r\n";
    }
}

} // namespace

bool ContainsText(const QString& fragment, const QString& text) {
    if (fragment.isEmpty() || text.isEmpty()) return fragment.isEmpty() && text.isEmpty();
    return text.contains(fragment, Qt::CaseSensitive);
}

void TFiltros::LoadFilters(const QString& path) {
    if (!QFileInfo::exists(path)) return;
    From.clear();
    Subj.clear();
    ParseFiltersData(ReadDataFile(path), *this);
}

void TFiltros::SaveFilters(const QString& path) const {
    WriteDataFile(path, FormatFiltersData(*this), kOwnerOnlyFile);
}

bool TFiltros::MatchesFrom(const QString& text) const {
    return FromMatch(text) != nullptr;
}

bool TFiltros::MatchesSubj(const QString& text) const {
    return SubjMatch(text) != nullptr;
}

const QString* TFiltros::FromMatch(const QString& text) const {
    return firstMatch(From, text);
}

const QString* TFiltros::SubjMatch(const QString& text) const {
    return firstMatch(Subj, text);
}

void ParseFiltersData(QByteArrayView data, TFiltros& filters) {
    DataFileLines lines(data);
    while (!lines.atEnd()) {
        const QByteArrayView line = lines.next();
        if (line.startsWith(kFromMarker))
            filters.From.append(fromCp1252(line.sliced(kFromMarker.size())));
        else if (line.startsWith(kSubjMarker))
            filters.Subj.append(fromCp1252(line.sliced(kSubjMarker.size())));
    }
}

QByteArray FormatFiltersData(const TFiltros& filters) {
    QByteArray out;
    appendLines(out, kFromMarker, filters.From);
    appendLines(out, kSubjMarker, filters.Subj);
    return out;
}
