// A real main window on the offscreen platform with every seam answered by the test: message boxes
// and prompts are recorded and answered, sounds recorded, sockets fake, files in a temporary
// directory, the clock in the test's hand.
#pragma once

#include "FakeSocket.h"
#include "MainWindow.h"
#include "WindowProbe.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

class WindowHarness {
public:
    struct Box {
        QMessageBox::Icon icon;
        QString caption;
        QString text;
        QMessageBox::StandardButton defaultButton;
        QWidget* parent; ///< what the box is shown over
    };

    WindowHarness() { QVERIFY(dir.isValid()); }
    // The window goes first: closing it may still show a box, which is recorded below.
    ~WindowHarness() { window.reset(); }

    WindowSeams seams() {
        WindowSeams s;
        s.messageBox = [this](QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text,
                              QMessageBox::StandardButtons, QMessageBox::StandardButton defaultButton) {
            boxes.append({icon, caption, text, defaultButton, parent});
            if (whileBoxOpen) {
                auto f = std::move(whileBoxOpen);
                whileBoxOpen = nullptr;
                f();
            }
            return boxAnswer;
        };
        s.inputQuery = [this](QWidget*, const QString& caption, const QString& prompt, QString& value) {
            prompts.append(caption + u'|' + prompt + u'|' + value);
            if (!promptAnswer) return false;
            value = *promptAnswer;
            return true;
        };
        s.openFileName = [this](QWidget*, const QString&, const QString&, const QString&) { return fileAnswer; };
        s.saveFileName = [this](QWidget*, const QString&, const QString& proposal, const QString&) {
            saveProposals.append(proposal);
            return fileAnswer;
        };
        s.playSound = [this](const QString& file) { sounds.append(file); };
        s.openUrl = [this](const QUrl& url) {
            urls.append(url);
            return true;
        };
        s.socketFactory = [this](IDesktop*) -> SocketFactory {
            return [this] {
                auto socket = std::make_unique<FakeSocket>();
                sockets.append(socket.get());
                return socket;
            };
        };
        s.trayAvailable = [this] { return trayAvailable; };
        s.clock = [this] { return now; };
        s.allowPlaintext = allowPlaintext;
        s.dataDir = dir.path();
        s.settingsPath = dir.filePath(u"Tavelo.ini"_qs);
        return s;
    }

    TfrmPrincipal& open() {
        window = std::make_unique<TfrmPrincipal>(seams());
        return *window;
    }
    void close() { window.reset(); }

    QString path(const QString& name) const { return dir.filePath(name); }
    void write(const QString& name, const QByteArray& bytes) {
        QFile f(path(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray read(const QString& name) const {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    /** A sound file that exists, so that playing it reaches the recorder. */
    QString soundFile(const QString& name) {
        write(name, "RIFF");
        return path(name);
    }

    QTemporaryDir dir;
    std::unique_ptr<TfrmPrincipal> window;
    QList<Box> boxes;
    QStringList prompts;
    QStringList sounds;
    QList<QUrl> urls;
    QList<FakeSocket*> sockets;
    QMessageBox::StandardButton boxAnswer = QMessageBox::Ok;
    std::optional<QString> promptAnswer;
    QString fileAnswer;
    QStringList saveProposals; ///< what each save dialog was opened with
    std::function<void()> whileBoxOpen;
    bool trayAvailable = false;
    double now = 46000.5;
    /** What WindowSeams::allowPlaintext is for the window opened next: on, the fakes stand for any server. */
    bool allowPlaintext = true;
};
