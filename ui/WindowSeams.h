// Everything the main window takes from its surroundings, in one place, so that tests can drive
// the real window: message boxes and prompts, sounds, web pages, sockets, files, settings, clock.
#pragma once

#include "ClientSocket.h"

#include <QMessageBox>
#include <QString>
#include <QUrl>
#include <functional>

class IDesktop;

struct WindowSeams {
    /** A modal message box; returns the button pressed. Line breaks in `text` are single CRs.
     *  `defaultButton` is what Enter presses (NoButton: the box's own choice). */
    std::function<QMessageBox::StandardButton(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                                              const QString& text, QMessageBox::StandardButtons buttons,
                                              QMessageBox::StandardButton defaultButton)>
        messageBox;
    /** A one-line prompt; false when cancelled. `value` holds the proposal and receives the answer. */
    std::function<bool(QWidget* parent, const QString& caption, const QString& prompt, QString& value)> inputQuery;
    /** The file-open dialog; an empty result when cancelled. */
    std::function<QString(QWidget* parent, const QString& caption, const QString& directory, const QString& filter)>
        openFileName;
    /** The file-save dialog, `proposal` the name it starts with; an empty result when cancelled. */
    std::function<QString(QWidget* parent, const QString& caption, const QString& proposal, const QString& filter)>
        saveFileName;
    /** Plays a sound file in the background. */
    std::function<void(const QString& file)> playSound;
    std::function<bool(const QUrl& url)> openUrl; ///< false: no program took it
    /** The socket of every new session. */
    std::function<SocketFactory(IDesktop* desktop)> socketFactory;
    /** Whether the desktop has a notification area. */
    std::function<bool()> trayAvailable;
    /** Local date and time, days since 30 December 1899. */
    std::function<double()> clock;
    /** Where Cuentas.dat and Filtros.dat live. */
    QString dataDir;
    /** The settings file. */
    QString settingsPath;
    /** How long an awaited reply may bring no byte. */
    int replyTimeoutMs = 60000;
    /** The port that means POP3 over TLS from the first byte. */
    int implicitTlsPort = 995;
    /** Passwords may go in clear to any server without TLS, as if every account allowed it (the
     *  tests' fake servers stand for remote ones). Off: only accounts that allow it, and servers on
     *  this computer. */
    bool allowPlaintext = false;

    /** @short The real desktop: Qt dialogs, QSoundEffect, QDesktopServices, Qt sockets, the
     *  executable's directory (or the per-user data directory when it is not writable). */
    static WindowSeams defaults();
    /** @short The directory for the data files of a program installed at `executableDir`. */
    static QString defaultDataDir(const QString& executableDir);
};

/** @short The message-box text as shown: the single CRs become line breaks. */
QString DisplayText(QString text);

class QCoreApplication;
class QTranslator;
/** @short Qt's own texts (the buttons of message boxes, edit menus, file dialogs) in Spanish, like the
 *  rest of the interface, whatever the desktop's language. Returns the translator installed, owned by
 *  the application, or null when Qt's Spanish translations are not installed (Qt's English stays). */
QTranslator* LoadSpanishQtTexts(QCoreApplication& app);
