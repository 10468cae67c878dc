// Cuentas.dat: five-line account records. Whatever the bytes, the records read from them are
// written and read back unchanged.
#include "AccountsFile.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QList<AccountRecord> records =
        ParseAccountsData(QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)));
    FUZZ_CHECK(ParseAccountsData(FormatAccountsData(records)) == records);
    return 0;
}
