#pragma once

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QTimer>

class ControlConnection;
class TunnelInstance;

// `url` and `share`: replies once the tunnel is active (with its URL), has stopped or was
// removed, or waitMs have passed; with credentials, adds the URL with the user name and
// password in it. A child of the connection, gone once it has replied.
class ActiveWait : public QObject {
    Q_OBJECT

public:
    static void start(ControlConnection& connection, TunnelInstance* tunnel, qint64 waitMs,
                      bool credentials);

private:
    ActiveWait(ControlConnection& connection, TunnelInstance* tunnel, qint64 waitMs,
               bool credentials);
    // Replies if it can, or when timedOut, must; true once replied.
    bool settle(bool timedOut);

    ControlConnection& m_connection;
    QPointer<TunnelInstance> m_tunnel;
    QString m_name;
    qint64 m_waitMs;
    bool m_credentials;
    QTimer m_timer;
};
