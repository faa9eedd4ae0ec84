#pragma once

#include "platform/Notifier.h"

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <optional>

class QDBusServiceWatcher;

// Desktop notifications through org.freedesktop.Notifications on the session bus. Every call
// is asynchronous; when no server is there, nothing is shown and nothing fails. Actions go
// only to a server that lists the "actions" capability, and only our own notifications' actions
// are followed.
class FreedesktopNotifier : public QObject, public Notifier {
    Q_OBJECT

public:
    explicit FreedesktopNotifier(QDBusConnection bus = QDBusConnection::sessionBus(),
                                 QObject* parent = nullptr);

    using Notifier::notify;
    void notify(const QString& title, const QString& body,
                const QList<NotificationAction>& actions) override;

    // Text for a server that reads markup, shown exactly as typed.
    static QString escapeMarkup(const QString& text);

private Q_SLOTS:
    // Signals of the server, connected by name as QtDBus requires.
    void actionInvoked(uint id, const QString& key);
    void notificationClosed(uint id, uint reason);

private:
    void fetchCapabilities();

    QDBusConnection m_bus;
    QDBusServiceWatcher* m_watcher = nullptr;
    // Unknown until the server answered; markup is assumed meanwhile, which only costs
    // a server without markup support a literal "&amp;".
    std::optional<QStringList> m_capabilities;
    // Our notifications that carry actions, by the id the server gave them.
    QHash<uint, QList<NotificationAction>> m_actions;
    bool m_subscribed = false;
};
