#include "control/SetHandler.h"

#include "control/ControlConnection.h"
#include "control/TunnelJson.h"
#include "model/TunnelName.h"
#include "model/TunnelStore.h"

void SetHandler::execute(ControlConnection& connection, const ControlRequest& request) {
    using Code = ControlError::Code;
    TunnelInstance* tunnel = resolve(connection, request.tunnel);
    if (!tunnel)
        return;
    const QString name = request.name ? trimTunnelName(*request.name) : QString();
    if (request.name && name.isEmpty()) {
        connection.fail(emptyName());
        return;
    }
    if (!request.name && request.port == 0 && !request.rewriteHost && !request.inspect &&
        !request.password && !request.stopAfter && !request.hostname) {
        connection.fail({Code::InvalidArgument,
                         tr("Nothing to change: give --name, --port, --rewrite-host, --inspect, "
                            "--password, --for or --hostname.")});
        return;
    }
    // Checked before anything changes, so that a refused request changes nothing.
    if (request.stopAfter && *request.stopAfter && !tunnel->isRunning()) {
        connection.fail(
            {Code::Stopped,
             tr("%1 is not running; a time limit needs a running tunnel.").arg(quoted(*tunnel))});
        return;
    }
    // Each saves through the store at once.
    if (request.name)
        tunnel->setName(name);
    if (request.password)
        tunnel->setRequirePassword(*request.password);
    if (request.stopAfter)
        tunnel->setStopAfter(*request.stopAfter);
    if (request.port != 0)
        tunnel->updatePort(request.port);
    if (request.inspect)
        tunnel->setInspect(*request.inspect);
    if (request.rewriteHost)
        tunnel->setRewriteHost(*request.rewriteHost);
    // Last: a running tunnel starts over on the new address.
    if (request.hostname)
        tunnel->setHostname(*request.hostname);
    connection.reply({{QStringLiteral("tunnel"), TunnelJson::describe(*tunnel)}});
}
