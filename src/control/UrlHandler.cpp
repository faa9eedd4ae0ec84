#include "control/UrlHandler.h"

#include "control/ActiveWait.h"
#include "control/ControlConnection.h"
#include "control/TunnelFollower.h"
#include "control/TunnelJson.h"

void UrlHandler::execute(ControlConnection& connection, const ControlRequest& request) {
    TunnelInstance* tunnel = resolve(connection, request.tunnel);
    if (!tunnel)
        return;
    if (!request.follow) {
        ActiveWait::start(connection, tunnel, request.waitMs, request.credentials);
        return;
    }
    connection.follow();
    connection.reply({{QStringLiteral("tunnel"), TunnelJson::describe(*tunnel)}});
    new TunnelFollower(connection, m_store, tunnel, request.credentials);
}
