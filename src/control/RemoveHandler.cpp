#include "control/RemoveHandler.h"

#include "control/ControlConnection.h"
#include "control/TunnelJson.h"
#include "model/TunnelStore.h"

void RemoveHandler::execute(ControlConnection& connection, const ControlRequest& request) {
    TunnelInstance* tunnel = resolve(connection, request.tunnel);
    if (!tunnel)
        return;
    const QJsonObject removed = TunnelJson::describe(*tunnel);
    m_store->removeTunnel(tunnel->id());
    connection.reply({{QStringLiteral("tunnel"), removed}});
}
