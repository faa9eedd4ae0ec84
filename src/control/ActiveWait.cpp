#include "control/ActiveWait.h"

#include "control/ControlConnection.h"
#include "control/TunnelJson.h"
#include "model/TunnelInstance.h"

void ActiveWait::start(ControlConnection& connection, TunnelInstance* tunnel, qint64 waitMs,
                       bool credentials) {
    auto* wait = new ActiveWait(connection, tunnel, waitMs, credentials);
    if (wait->settle(waitMs <= 0))
        delete wait;
}

ActiveWait::ActiveWait(ControlConnection& connection, TunnelInstance* tunnel, qint64 waitMs,
                       bool credentials)
    : QObject(&connection)
    , m_connection(connection)
    , m_tunnel(tunnel)
    , m_name(QLatin1Char('\'') + tunnel->config().name + QLatin1Char('\''))
    , m_waitMs(waitMs)
    , m_credentials(credentials) {
    auto look = [this](bool timedOut) {
        if (settle(timedOut))
            deleteLater();
    };
    // Looked at once the change is complete: a restart's launch announces changes while it is
    // neither running nor restarting yet.
    connect(
        tunnel, &TunnelInstance::changed, this, [look] { look(false); }, Qt::QueuedConnection);
    connect(tunnel, &QObject::destroyed, this, [look] { look(false); });
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [look] { look(true); });
    if (waitMs > 0)
        m_timer.start(std::chrono::milliseconds(waitMs));
}

bool ActiveWait::settle(bool timedOut) {
    using Code = ControlError::Code;
    if (!m_tunnel) {
        m_connection.fail({Code::Stopped, tr("%1 was removed.").arg(m_name)});
    } else if (m_tunnel->state() == TunnelInstance::State::Active) {
        const QString url = *m_tunnel->tunnelURL();
        QJsonObject fields{{QStringLiteral("tunnel"), TunnelJson::describe(*m_tunnel)},
                           {QStringLiteral("url"), url}};
        if (m_credentials)
            fields.insert(QStringLiteral("credentialsUrl"),
                          TunnelJson::withCredentials(url, m_tunnel->password()));
        m_connection.reply(fields);
    } else if (!m_tunnel->isRunning()) {
        const QString problem = m_tunnel->problem();
        m_connection.fail({Code::Stopped, problem.isEmpty()
                                              ? tr("%1 is not running.").arg(m_name)
                                              : tr("%1 is not running: %2").arg(m_name, problem)},
                          {{QStringLiteral("tunnel"), TunnelJson::describe(*m_tunnel)}});
    } else if (timedOut) {
        const QString problem = m_tunnel->problem();
        const QString state = TunnelJson::stateName(*m_tunnel);
        m_connection.fail({m_waitMs > 0 ? Code::Timeout : Code::NotActive,
                           problem.isEmpty()
                               ? tr("%1 is still %2.").arg(m_name, state)
                               : tr("%1 is still %2: %3").arg(m_name, state, problem)},
                          {{QStringLiteral("tunnel"), TunnelJson::describe(*m_tunnel)}});
    } else {
        return false;
    }
    return true;
}
