#include "MainWindowStub.h"

MainWindowStub::MainWindowStub(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(u"Tavelo v2.0"_qs);
    resize(640, 480);
}
