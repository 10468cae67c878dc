// tavelo-scramble: prints the scrambled form of the password read from stdin (one line), as
// Cuentas.dat stores it. For scripts that prepare an accounts file.
#include "PasswordScrambling.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTextStream in(stdin);
    QTextStream out(stdout);
    out << EncodePassword(in.readLine()) << '\n';
    return 0;
}
