// The fields a mailbox is logged into with: user name, password, server and port, each with its
// label, and "Acceso..." beside the port. The accounts dialog and the quick connection both show
// them; each keeps pointers to the widgets and does its own checks and its own "Acceso...".
#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

/** @short The labelled login fields and "Acceso...", placed by coordinates on their parent. The port
 *  starts at "110" and takes digits only. The object is a child of the parent and lives as long. */
class LoginFields final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LoginFields)
public:
    /** The object names of the fields; each label is named "lbl" and the field's name from its
     *  fourth character on (edtPuerto: lblPuerto). */
    struct Names {
        QString user;
        QString password;
        QString server;
        QString port;
    };
    /** Where the group goes: the top of the user name field (each field 28 pixels below the one
     *  before, labels from x 8, fields from x 84), the width of the user name, password and server
     *  fields (the port's is 50) and the width "Acceso..." starts with. */
    struct Placement {
        int top = 0;
        int fieldWidth = 0;
        int accesoWidth = 0;
    };

    /** The port a new mailbox is on. */
    static QString defaultPort();

    /** @short Builds the group on `parent`, in tab order from the user name to "Acceso..." (never
     *  a default button: Enter does not press it). */
    LoginFields(QWidget* parent, const Names& names, const Placement& placement);

    /** @short Enter in the port field calls `enter` and goes no further; without it (the default)
     *  the field gets Enter as it gets Esc and Tab. */
    void setPortEnter(std::function<void()> enter);
    /** @short Empties user name, password and server and puts the default port back. */
    void reset();
    /** @short Widens "Acceso..." as much as its caption needs (a larger font) and returns by how
     *  much, for the caller to widen what surrounds it. */
    int fitAccesoCaption();

    QLineEdit* user = nullptr;
    QLineEdit* password = nullptr;
    QLineEdit* server = nullptr;
    QLineEdit* port = nullptr;
    QLabel* userLabel = nullptr;
    QLabel* passwordLabel = nullptr;
    QLabel* serverLabel = nullptr;
    QLabel* portLabel = nullptr;
    QPushButton* acceso = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    /** @short True when the key is dropped: every typed character but digits and Backspace. Shortcuts,
     *  and so pasting, pass; Enter is handed to the port's Enter when there is one. */
    bool portKeyPress(const QKeyEvent* key);

    std::function<void()> m_portEnter;
};
