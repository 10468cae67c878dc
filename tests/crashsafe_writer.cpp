// crashsafe_writer DIR [ROUNDS]: saves Cuentas.dat, Filtros.dat and Tavelo.ini in DIR through the
// store's own functions, version 0 and version 1 in turn, ROUNDS times (forever without a count),
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
        std::fprintf(stderr, "usage: crashsafe_writer DIR [ROUNDS]\n");
        return 2;
    }
    // With no umask at all, a file the store forgets to restrict would come out world-readable.
    umask(0);
    const QDir dir(args[1]);
    const qint64 rounds = args.size() > 2 ? args[2].toLongLong() : -1;
    const QList<AccountRecord> accounts[] = {crashsafe::accounts(0), crashsafe::accounts(1)};
    const TFiltros filters[] = {crashsafe::filters(0), crashsafe::filters(1)};
    const TConfig settings[] = {crashsafe::settings(0), crashsafe::settings(1)};
    std::puts("writing");
    std::fflush(stdout);
    try {
        for (qint64 i = 0; rounds < 0 || i < rounds; ++i) {
            const int v = int(i % 2);
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
