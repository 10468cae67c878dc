// The program's entry: the application, its main window and the message loop.
#include <QApplication>

#include "MainWindowStub.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(u"Tavelo"_qs);
    QApplication::setOrganizationName(u"Quenmar"_qs);
    MainWindowStub window;
    window.show();
    return QApplication::exec();
}
