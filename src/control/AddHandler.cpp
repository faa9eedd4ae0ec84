#include "control/AddHandler.h"

#include "control/ControlConnection.h"
#include "control/TunnelJson.h"
#include "model/TunnelName.h"
#include "model/TunnelStore.h"

void AddHandler::execute(ControlConnection& connection, const ControlRequest& request) {
    const QString name = request.name ? trimTunnelName(*request.name) : TunnelName::defaultName();
    if (name.isEmpty()) {
        connection.fail(emptyName());
        return;
    }
    TunnelInstance* tunnel = m_store->addTunnel(name, request.port);
    if (request.hostname)
        tunnel->setHostname(*request.hostname);
    if (!request.startNow || start(connection, tunnel))
        connection.reply({{QStringLiteral("tunnel"), TunnelJson::describe(*tunnel)}});
}
