#pragma once

#include <QList>
#include <QString>
#include <functional>
#include <memory>

// Something the user can do straight from a notification.
struct NotificationAction {
    QString key;   // stable, never shown
    QString label; // shown
    std::function<void()> run;
};

// Posts desktop notifications. Each call shows a fresh notification, never replacing another.
// Titles and bodies are plain text. Failures are not reported: a missing notification
// service must never stop the application.
class Notifier {
public:
    virtual ~Notifier() = default;
    // The first action is the default one (a click on the notification itself). Actions are
    // offered only where the notification service supports them; otherwise the notification
    // is posted without them.
    virtual void notify(const QString& title, const QString& body,
                        const QList<NotificationAction>& actions) = 0;
    void notify(const QString& title, const QString& body) { notify(title, body, {}); }
};

// The implementation for this operating system.
std::unique_ptr<Notifier> createPlatformNotifier();
