// Desktop notifications (org.freedesktop.Notifications on the session bus): one when a connection
// or a re-check finds mail, with an action that brings its account to the front. Without a
// notification service nothing is shown and nothing is reported.
#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <functional>

class DesktopNotifier final : public QObject {
    Q_OBJECT
public:
    explicit DesktopNotifier(QObject* parent = nullptr);

    /** @short Shows a notification; `onOpen` runs when the user picks it (its default action). A
     *  later notification with the same `key` (an account) replaces the earlier one. */
    void notify(const QString& key, const QString& summary, const QString& body, std::function<void()> onOpen);

private slots:
    void actionInvoked(uint id, const QString& action);
    void notificationClosed(uint id, uint reason);

private:
    struct Shown {
        QString key;
        std::function<void()> onOpen;
    };
    QHash<uint, Shown> m_shown;   ///< by the service's id
    QHash<QString, uint> m_byKey; ///< the id shown for each key
};
