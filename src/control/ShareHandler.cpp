#include "control/ShareHandler.h"

#include "control/ActiveWait.h"
#include "control/ControlConnection.h"
#include "model/TunnelStore.h"

void ShareHandler::execute(ControlConnection& connection, const ControlRequest& request) {
    TunnelInstance* tunnel = m_store->tunnelToShare(request.port);
    if (!start(connection, tunnel))
        return;
    const bool password = request.password.value_or(false);
    if (password)
        tunnel->setRequirePassword(true);
    if (request.stopAfter)
        tunnel->setStopAfter(*request.stopAfter);
    ActiveWait::start(connection, tunnel, request.waitMs, password);
}
