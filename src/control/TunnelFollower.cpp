#include "control/TunnelFollower.h"

#include "control/ControlConnection.h"
#include "control/TunnelJson.h"
#include "model/TunnelStore.h"

#include <algorithm>

TunnelFollower::TunnelFollower(ControlConnection& connection, TunnelStore* store,
                               TunnelInstance* tunnel, bool credentials)
    : QObject(&connection)
    , m_connection(connection)
    , m_store(store)
    , m_tunnel(tunnel)
    , m_credentials(credentials) {
    connect(tunnel, &TunnelInstance::becameActive, this, [this] { sendActive(true); });
    if (credentials)
        connect(tunnel, &TunnelInstance::changed, this, [this] { sendActive(false); });
    connect(store, &TunnelStore::instancesChanged, this, &TunnelFollower::checkRemoved);
    connect(tunnel, &QObject::destroyed, this, &TunnelFollower::checkRemoved);
    sendActive(true);
}

void TunnelFollower::sendActive(bool always) {
    if (!m_tunnel || m_tunnel->state() != TunnelInstance::State::Active)
        return;
    const QString url = *m_tunnel->tunnelURL();
    const QString shown =
        m_credentials ? TunnelJson::withCredentials(url, m_tunnel->password()) : url;
    if (!always && shown == m_lastSent)
        return;
    m_lastSent = shown;
    QJsonObject fields{{QStringLiteral("event"), QStringLiteral("active")},
                       {QStringLiteral("url"), url}};
    if (m_credentials)
        fields.insert(QStringLiteral("credentialsUrl"), shown);
    m_connection.sendEvent(fields);
}

void TunnelFollower::checkRemoved() {
    const auto& listed = m_store->instances();
    if (m_ended || (m_tunnel && std::find(listed.begin(), listed.end(), m_tunnel) != listed.end()))
        return;
    m_ended = true;
    m_connection.sendEvent({{QStringLiteral("event"), QStringLiteral("removed")}});
    m_connection.close();
}
