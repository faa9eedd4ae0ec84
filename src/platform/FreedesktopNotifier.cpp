#include "platform/FreedesktopNotifier.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QVariantMap>
#include <utility>

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");
const QString appName = QStringLiteral("Quillby");
const QString appId = QStringLiteral("app.quillby.Quillby");

} // namespace

std::unique_ptr<Notifier> createPlatformNotifier() {
    return std::make_unique<FreedesktopNotifier>();
}

FreedesktopNotifier::FreedesktopNotifier(QDBusConnection bus, QObject* parent)
    : QObject(parent)
    , m_bus(std::move(bus)) {
    if (!m_bus.isConnected())
        return;
    // A server that starts, stops or is replaced may support other things.
    m_watcher =
        new QDBusServiceWatcher(service, m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, [this] {
        m_capabilities.reset();
        // Ids are the old server's; a new one may hand them out again.
        m_actions.clear();
        fetchCapabilities();
    });
    fetchCapabilities();
}

QString FreedesktopNotifier::escapeMarkup(const QString& text) {
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'&':
            escaped += QLatin1String("&amp;");
            break;
        case u'<':
            escaped += QLatin1String("&lt;");
            break;
        case u'>':
            escaped += QLatin1String("&gt;");
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

void FreedesktopNotifier::fetchCapabilities() {
    if (!m_bus.isConnected())
        return;
    const auto call =
        QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("GetCapabilities"));
    m_asking = true;
    const int request = ++m_capabilitiesRequest;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, capabilitiesTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, request](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                // A later request (the server changed meanwhile) answers for itself.
                if (request != m_capabilitiesRequest)
                    return;
                QDBusPendingReply<QStringList> reply = *w;
                if (!reply.isError())
                    m_capabilities = reply.value();
                m_asking = false;
                for (const Pending& waiting : std::exchange(m_waiting, {}))
                    post(waiting.title, waiting.body, waiting.actions);
                emit ready();
            });
}

void FreedesktopNotifier::notify(const QString& title, const QString& body,
                                 const QList<NotificationAction>& actions) {
    if (!m_bus.isConnected())
        return;
    if (m_asking) {
        m_waiting.append({title, body, actions});
        return;
    }
    post(title, body, actions);
}

void FreedesktopNotifier::post(const QString& title, const QString& body,
                               const QList<NotificationAction>& actions) {
    const bool withActions =
        !actions.isEmpty() && m_capabilities && m_capabilities->contains(QStringLiteral("actions"));
    QStringList actionList;
    if (withActions) {
        // The first action also under "default", run by a click on the notification. Servers
        // that show no button for "default" still show one under its own key.
        actionList << QStringLiteral("default") << actions.first().label;
        for (const NotificationAction& action : actions)
            actionList << action.key << action.label;
    }
    const bool markup = !m_capabilities || m_capabilities->contains(QStringLiteral("body-markup"));
    QVariantMap hints{{QStringLiteral("desktop-entry"), appId}};
    if (!m_capabilities || m_capabilities->contains(QStringLiteral("sound")))
        hints.insert(QStringLiteral("sound-name"), QStringLiteral("message-new-instant"));

    auto call = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Notify"));
    // replaces_id 0: always a fresh notification; expire_timeout -1: the server's default.
    // The summary is plain text by definition; only the body may be read as markup.
    call << appName << quint32(0) << appId << title << (markup ? escapeMarkup(body) : body)
         << actionList << hints << qint32(-1);
    if (withActions && !m_subscribed) {
        // Subscribed through the service name, so only its current owner is heard: no other
        // program on the bus can make us act. Not at start: each subscription is a blocking
        // round trip to the bus.
        m_subscribed = true;
        m_bus.connect(service, path, interface, QStringLiteral("ActionInvoked"), this,
                      SLOT(actionInvoked(uint, QString)));
        m_bus.connect(service, path, interface, QStringLiteral("NotificationClosed"), this,
                      SLOT(notificationClosed(uint, uint)));
    }
    // A refusal or a missing server changes nothing for the application.
    const QDBusPendingCall pending = m_bus.asyncCall(call);
    if (!withActions)
        return;
    // The reply names the notification, and only then can its actions be told apart.
    auto* watcher = new QDBusPendingCallWatcher(pending, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, actions](QDBusPendingCallWatcher* w) {
                QDBusPendingReply<uint> reply = *w;
                if (!reply.isError())
                    m_actions.insert(reply.value(), actions);
                w->deleteLater();
            });
}

void FreedesktopNotifier::actionInvoked(uint id, const QString& key) {
    const auto found = m_actions.constFind(id);
    if (found == m_actions.cend() || found->isEmpty())
        return;
    // Copied: an action may post a notification of its own.
    const QList<NotificationAction> actions = *found;
    const NotificationAction* chosen = key == QLatin1String("default") ? &actions.first() : nullptr;
    for (const NotificationAction& action : actions) {
        if (action.key == key)
            chosen = &action;
    }
    if (chosen && chosen->run)
        chosen->run();
}

void FreedesktopNotifier::notificationClosed(uint id, uint) {
    m_actions.remove(id);
}
