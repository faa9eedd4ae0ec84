#include "platform/FreedesktopNotifier.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QVariantMap>

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
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        QDBusPendingReply<QStringList> reply = *w;
        if (!reply.isError())
            m_capabilities = reply.value();
        w->deleteLater();
    });
}

void FreedesktopNotifier::notify(const QString& title, const QString& body) {
    if (!m_bus.isConnected())
        return;
    const bool markup = !m_capabilities || m_capabilities->contains(QStringLiteral("body-markup"));
    QVariantMap hints{{QStringLiteral("desktop-entry"), appId}};
    if (!m_capabilities || m_capabilities->contains(QStringLiteral("sound")))
        hints.insert(QStringLiteral("sound-name"), QStringLiteral("message-new-instant"));

    auto call = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Notify"));
    // replaces_id 0: always a fresh notification; expire_timeout -1: the server's default.
    // The summary is plain text by definition; only the body may be read as markup.
    call << appName << quint32(0) << appId << title << (markup ? escapeMarkup(body) : body)
         << QStringList() << hints << qint32(-1);
    // Fire and forget: a refusal or a missing server changes nothing for the application.
    m_bus.asyncCall(call);
}
