// CuentasAcceso.dat: the accounts' login data. Whatever the bytes, what is read from them is
// written and read back unchanged, with nothing reported the second time.
#include "AccountAccess.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const AccountAccessList list =
        ParseAccountAccessData(QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)));
    QStringList problems;
    FUZZ_CHECK(ParseAccountAccessData(FormatAccountAccessData(list), &problems) == list);
    FUZZ_CHECK(problems.isEmpty());
    return 0;
}
