// Filtros.dat: "[FROM]" and "[SUBJ]" lines. Whatever the bytes, the fragments read from them are
// written and read back unchanged.
#include "FilterLists.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TFiltros filters;
    ParseFiltersData(QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)), filters);
    TFiltros again;
    ParseFiltersData(FormatFiltersData(filters), again);
    FUZZ_CHECK(again.From == filters.From && again.Subj == filters.Subj);
    return 0;
}
