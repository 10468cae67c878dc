#include "DesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
} // namespace

DesktopNotifier::DesktopNotifier(QObject* parent) : QObject(parent) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    bus.connect(kService, kPath, kInterface, u"ActionInvoked"_qs, this, SLOT(actionInvoked(uint, QString)));
    bus.connect(kService, kPath, kInterface, u"NotificationClosed"_qs, this, SLOT(notificationClosed(uint, uint)));
}

void DesktopNotifier::notify(const QString& key, const QString& summary, const QString& body,
                             std::function<void()> onOpen) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, u"Notify"_qs);
    const uint replaces = m_byKey.value(key, 0);
    call << u"Tavelo"_qs << replaces << u"io.github.quenmar.Tavelo"_qs << summary << body
         << QStringList{u"default"_qs, u"Ver"_qs} << QVariantMap{{u"desktop-entry"_qs, u"io.github.quenmar.Tavelo"_qs}}
         << -1;
    // Asked without waiting: a slow or missing service never holds the window up.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, key, onOpen = std::move(onOpen)](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                const QDBusPendingReply<uint> reply = *w;
                if (reply.isError()) return;
                const uint id = reply.value();
                if (const uint old = m_byKey.value(key, 0); old != 0 && old != id) m_shown.remove(old);
                m_byKey.insert(key, id);
                m_shown.insert(id, {key, onOpen});
            });
}

void DesktopNotifier::actionInvoked(uint id, const QString& action) {
    const auto it = m_shown.constFind(id);
    if (it == m_shown.cend() || action != u"default") return;
    const std::function<void()> open = it->onOpen;
    if (open) open();
}

void DesktopNotifier::notificationClosed(uint id, uint) {
    const auto it = m_shown.find(id);
    if (it == m_shown.end()) return;
    m_byKey.remove(it->key);
    m_shown.erase(it);
}
