#include "control/ListHandler.h"

#include "control/ControlConnection.h"
#include "control/TunnelJson.h"
#include "model/TunnelStore.h"

#include <QJsonArray>

void ListHandler::execute(ControlConnection& connection, const ControlRequest&) {
    QJsonArray tunnels;
    for (const TunnelInstance* tunnel : m_store->instances())
        tunnels.append(TunnelJson::describe(*tunnel));
    connection.reply(
        {{QStringLiteral("tunnels"), tunnels},
         {QStringLiteral("client"), TunnelJson::client(m_store->services().clientVersion)}});
}
