#include "control/StopHandler.h"

#include "control/ControlConnection.h"
#include "model/TunnelStore.h"

#include <QPointer>
#include <algorithm>

void StopHandler::execute(ControlConnection& connection, const ControlRequest& request) {
    std::vector<TunnelInstance*> tunnels = m_store->instances();
    if (!request.all) {
        TunnelInstance* tunnel = resolve(connection, request.tunnel);
        if (!tunnel)
            return;
        tunnels = {tunnel};
    }
    auto* wait = new QObject(&connection);
    QList<QPointer<TunnelInstance>> watched;
    for (TunnelInstance* tunnel : tunnels) {
        watched.append(tunnel);
        tunnel->stop();
    }
    auto settle = [&connection, wait, watched] {
        if (std::any_of(watched.begin(), watched.end(),
                        [](const QPointer<TunnelInstance>& t) { return t && t->hasChild(); }))
            return;
        connection.reply();
        wait->deleteLater();
    };
    for (TunnelInstance* tunnel : tunnels)
        QObject::connect(tunnel, &TunnelInstance::childGone, wait, settle);
    settle();
}
