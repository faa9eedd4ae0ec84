#include "control/CommandHandler.h"

#include "control/ControlConnection.h"
#include "control/TunnelJson.h"
#include "model/TunnelLookup.h"
#include "model/TunnelName.h"
#include "model/TunnelStore.h"

#include <QJsonArray>

TunnelInstance* CommandHandler::resolve(ControlConnection& connection, const QString& text) const {
    const QString wanted = trimTunnelName(text);
    QList<TunnelConfig> configs;
    for (const TunnelInstance* tunnel : m_store->instances())
        configs.append(tunnel->config());
    const QList<qsizetype> matches = lookUpTunnels(configs, text);
    if (matches.size() == 1)
        return m_store->instances()[size_t(matches.front())];
    if (matches.isEmpty()) {
        connection.fail({ControlError::Code::NoMatch,
                         tr("No tunnel has the name, port or id \"%1\".").arg(wanted)});
        return nullptr;
    }
    QJsonArray listed;
    for (const qsizetype index : matches)
        listed.append(TunnelJson::describe(*m_store->instances()[size_t(index)]));
    connection.fail(
        {ControlError::Code::Ambiguous,
         tr("\"%1\" matches %n tunnels; name one by its id:", nullptr, int(matches.size()))
             .arg(wanted)},
        {{QStringLiteral("matches"), listed}});
    return nullptr;
}

bool CommandHandler::start(ControlConnection& connection, TunnelInstance* tunnel) const {
    if (tunnel->isRunning())
        return true;
    const auto& findClient = m_store->services().findClient;
    if (findClient && !findClient()) {
        connection.fail(
            {ControlError::Code::NoClient,
             tr("cloudflared is not installed, so %1 cannot start.").arg(quoted(*tunnel))});
        return false;
    }
    tunnel->start();
    if (!tunnel->isRunning()) {
        // Setting a named tunnel up can fail before anything runs; the problem says why.
        const QString problem = tunnel->problem();
        connection.fail({ControlError::Code::StartFailed,
                         problem.isEmpty()
                             ? tr("%1 failed to start.").arg(quoted(*tunnel))
                             : tr("%1 failed to start: %2").arg(quoted(*tunnel), problem)});
        return false;
    }
    return true;
}

QString CommandHandler::quoted(const TunnelInstance& tunnel) {
    return QLatin1Char('\'') + tunnel.config().name + QLatin1Char('\'');
}

ControlError CommandHandler::emptyName() {
    return {ControlError::Code::InvalidArgument, tr("The name is empty.")};
}
