// The program's entry: the application, its windows in order, and the message loop.
#include "Errors.h"
#include "Unit1.h"

#include <QApplication>

namespace {

// Errors that nothing caught reach the main window's report instead of ending the program.
class TaveloApplication final : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const AppError& error) {
            if (!ReportUnhandledError(error)) qWarning("%s: %s", error.className(), error.what());
        } catch (const std::exception& error) {
            qWarning("Exception: %s", error.what());
        }
        return false;
    }
};

} // namespace

int main(int argc, char* argv[]) {
    TaveloApplication app(argc, argv);
    QApplication::setApplicationName(u"Tavelo"_qs);
    QApplication::setOrganizationName(u"Quenmar"_qs);
    LoadSpanishQtTexts(app);
    TfrmPrincipal frmPrincipal;
    frmPrincipal.show();
    return QApplication::exec();
}
