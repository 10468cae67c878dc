// Placeholder main window until the real one lands: a bare window with the program's title.
#pragma once

#include <QMainWindow>

class MainWindowStub final : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindowStub(QWidget* parent = nullptr);
};
