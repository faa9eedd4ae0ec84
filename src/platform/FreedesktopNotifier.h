#pragma once

#include "platform/Notifier.h"

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <optional>

class QDBusServiceWatcher;

// Desktop notifications through org.freedesktop.Notifications on the session bus. Every call
// is asynchronous; when no server is there, nothing is shown and nothing fails.
class FreedesktopNotifier : public QObject, public Notifier {
    Q_OBJECT

public:
    explicit FreedesktopNotifier(QDBusConnection bus = QDBusConnection::sessionBus(),
                                 QObject* parent = nullptr);

    void notify(const QString& title, const QString& body) override;

    // Text for a server that reads markup, shown exactly as typed.
    static QString escapeMarkup(const QString& text);

private:
    void fetchCapabilities();

    QDBusConnection m_bus;
    QDBusServiceWatcher* m_watcher = nullptr;
    // Unknown until the server answered; markup is assumed meanwhile, which only costs
    // a server without markup support a literal "&amp;".
    std::optional<QStringList> m_capabilities;
};
