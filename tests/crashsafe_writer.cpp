// crashsafe_writer DIR [ROUNDS [FIRST]]: saves Cuentas.dat, Filtros.dat and Tavelo.ini in DIR through
// the store's own functions, version FIRST (0 or 1, default 0) and then the other in turn, ROUNDS
// times (forever without a count or with a negative one),
// for tst_crashsafe to kill at random moments. Prints "writing" once it is about to start.
#include "Errors.h"
#include "crashsafe_contents.h"

#include <QCoreApplication>
#include <QDir>
#include <cstdio>
#include <sys/stat.h>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: crashsafe_writer DIR [ROUNDS [FIRST]]\n");
        return 2;
    }
    // With no umask at all, a file the store forgets to restrict would come out world-readable.
    umask(0);
    const QDir dir(args[1]);
    const qint64 rounds = args.size() > 2 ? args[2].toLongLong() : -1;
    const int first = args.size() > 3 && args[3] == u"1" ? 1 : 0;
    const QList<AccountRecord> accounts[] = {crashsafe::accounts(0), crashsafe::accounts(1)};
    const TFiltros filters[] = {crashsafe::filters(0), crashsafe::filters(1)};
    const TConfig settings[] = {crashsafe::settings(0), crashsafe::settings(1)};
    std::puts("writing");
    std::fflush(stdout);
    try {
        for (qint64 i = 0; rounds < 0 || i < rounds; ++i) {
            const int v = int((i + first) % 2);
            SaveAccountsFile(dir.filePath(u"Cuentas.dat"_qs), accounts[v]);
            filters[v].SaveFilters(dir.filePath(u"Filtros.dat"_qs));
            SaveSettings(settings[v], dir.filePath(u"Tavelo.ini"_qs));
        }
    } catch (const AppError& e) {
        std::fprintf(stderr, "%s: %s\n", e.className(), e.what());
        return 1;
    }
    return 0;
}
