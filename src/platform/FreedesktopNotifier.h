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
// are followed. What the server supports is asked at start and whenever another server takes
// the name; notifications posted before it answered wait for the answer (at most
// capabilitiesTimeoutMs), so that none loses its buttons.
class FreedesktopNotifier : public QObject, public Notifier {
    Q_OBJECT

public:
    // How long a server may take to say what it supports before notifications go out anyway.
    static constexpr int capabilitiesTimeoutMs = 2000;

    explicit FreedesktopNotifier(QDBusConnection bus = QDBusConnection::sessionBus(),
                                 QObject* parent = nullptr);

    // The server has said what it supports, or did not answer in time, or there is none.
    bool isReady() const { return !m_asking; }

    using Notifier::notify;
    void notify(const QString& title, const QString& body,
                const QList<NotificationAction>& actions) override;

    // Text for a server that reads markup, shown exactly as typed.
    static QString escapeMarkup(const QString& text);

Q_SIGNALS:
    void ready();

private Q_SLOTS:
    // Signals of the server, connected by name as QtDBus requires.
    void actionInvoked(uint id, const QString& key);
    void notificationClosed(uint id, uint reason);

private:
    struct Pending {
        QString title, body;
        QList<NotificationAction> actions;
    };
    void fetchCapabilities();
    void post(const QString& title, const QString& body, const QList<NotificationAction>& actions);

    QDBusConnection m_bus;
    QDBusServiceWatcher* m_watcher = nullptr;
    // Unknown until the server answered, and after it did not in time; markup is assumed then,
    // which only costs a server without markup support a literal "&amp;".
    std::optional<QStringList> m_capabilities;
    // Our notifications that carry actions, by the id the server gave them.
    QHash<uint, QList<NotificationAction>> m_actions;
    bool m_subscribed = false;
    // A capabilities request is out; notifications wait in m_waiting meanwhile.
    bool m_asking = false;
    int m_capabilitiesRequest = 0;
    QList<Pending> m_waiting;
};
