#pragma once

#include <QObject>
#include <QPointer>

class ControlConnection;
class TunnelInstance;
class TunnelStore;

// `url --follow` after its reply: sends {"event": "active", "url": ...} at each start's first
// active moment (with credentials, also when the password is turned on or off) and
// {"event": "removed"} when the tunnel leaves the store, then closes. A child of the
// connection.
class TunnelFollower : public QObject {
    Q_OBJECT

public:
    TunnelFollower(ControlConnection& connection, TunnelStore* store, TunnelInstance* tunnel,
                   bool credentials);

private:
    void sendActive(bool always);
    void checkRemoved();

    ControlConnection& m_connection;
    TunnelStore* m_store;
    QPointer<TunnelInstance> m_tunnel;
    bool m_credentials;
    QString m_lastSent;
    bool m_ended = false;
};
