#include "WindowSeams.h"

#include "DataFile.h"
#include "QtClientSocket.h"
#include "Settings.h"
#include "ShownText.h"
#include "TextAndTime.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLibraryInfo>
#include <QSoundEffect>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTemporaryFile>
#include <QTranslator>

QString DisplayText(QString text) {
    text.replace(u"\r\n"_qs, u"\n"_qs);
    text.replace(u'\r', u'\n');
    return text;
}

namespace {

void playWithSoundEffect(const QString& file) {
    // The effect must live until it has played: it frees itself when it stops or fails.
    auto* effect = new QSoundEffect(qApp);
    QObject::connect(effect, &QSoundEffect::playingChanged, effect, [effect] {
        if (!effect->isPlaying()) effect->deleteLater();
    });
    QObject::connect(effect, &QSoundEffect::statusChanged, effect, [effect] {
        if (effect->status() == QSoundEffect::Error)
            effect->deleteLater();
        else if (effect->status() == QSoundEffect::Ready)
            effect->play();
    });
    effect->setSource(QUrl::fromLocalFile(file));
}

bool directoryIsWritable(const QString& dir) {
    QTemporaryFile probe(dir + u"/.tavelo-probe-XXXXXX"_qs);
    return probe.open();
}

} // namespace

QString WindowSeams::defaultDataDir(const QString& executableDir) {
    if (!executableDir.isEmpty() && directoryIsWritable(executableDir)) return executableDir;
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    // Made here, the data folder is its owner's only: the mail of the Papelera lies in it.
    MakeOwnerOnlyPath(dir);
    return dir;
}

WindowSeams WindowSeams::defaults() {
    WindowSeams s;
    s.messageBox = [](QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text,
                      QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton) {
        // Boxes quote senders and subjects: their control characters are made visible.
        QMessageBox box(icon, ShownText(caption), ShownText(DisplayText(text), KeepLayout::TabsAndLineBreaks), buttons,
                        parent);
        // A subject or a sender from a server may read as HTML: Qt would render it, and a link in
        // it would open with a click. Every box of the program comes through here.
        box.setTextFormat(Qt::PlainText);
        if (defaultButton != QMessageBox::NoButton) box.setDefaultButton(defaultButton);
        return QMessageBox::StandardButton(box.exec());
    };
    s.inputQuery = [](QWidget* parent, const QString& caption, const QString& prompt, QString& value) {
        bool ok = false;
        const QString answer =
            QInputDialog::getText(parent, ShownText(caption), ShownText(prompt), QLineEdit::Normal, value, &ok);
        if (ok) value = answer;
        return ok;
    };
    s.openFileName = [](QWidget* parent, const QString& caption, const QString& directory, const QString& filter) {
        return QFileDialog::getOpenFileName(parent, caption, directory, filter);
    };
    s.saveFileName = [](QWidget* parent, const QString& caption, const QString& proposal, const QString& filter) {
        return QFileDialog::getSaveFileName(parent, caption, proposal, filter);
    };
    s.playSound = &playWithSoundEffect;
    s.openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    s.socketFactory = [](IDesktop* desktop) { return QtClientSocket::factory(desktop); };
    s.trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    s.clock = &CurrentDateTime;
    s.dataDir = defaultDataDir(QCoreApplication::applicationDirPath());
    s.settingsPath = SettingsFilePath();
    return s;
}

QTranslator* LoadSpanishQtTexts(QCoreApplication& app) {
    auto* translator = new QTranslator(&app);
    if (!translator->load(u"qtbase_es"_qs, QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return nullptr;
    }
    return translator;
}
