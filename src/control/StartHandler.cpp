#include "control/StartHandler.h"

#include "control/ControlConnection.h"
#include "control/TunnelJson.h"
#include "model/TunnelStore.h"

void StartHandler::execute(ControlConnection& connection, const ControlRequest& request) {
    TunnelInstance* tunnel = resolve(connection, request.tunnel);
    if (!tunnel || !start(connection, tunnel))
        return;
    if (request.stopAfter)
        tunnel->setStopAfter(*request.stopAfter);
    connection.reply({{QStringLiteral("tunnel"), TunnelJson::describe(*tunnel)}});
}
