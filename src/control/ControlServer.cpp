#include "control/ControlServer.h"

#include "control/AddHandler.h"
#include "control/ControlConnection.h"
#include "control/ListHandler.h"
#include "control/LoginHandler.h"
#include "control/RemoveHandler.h"
#include "control/ReplayHandler.h"
#include "control/RequestsHandler.h"
#include "control/SetHandler.h"
#include "control/ShareHandler.h"
#include "control/ShowHandler.h"
#include "control/StartHandler.h"
#include "control/StopHandler.h"
#include "control/UrlHandler.h"
#include "platform/PeerCredentials.h"

#include <QLocalServer>
#include <QLocalSocket>

ControlServer::ControlServer(QLocalServer* server, TunnelStore* store, QObject* parent)
    : QObject(parent)
    , m_server(server) {
    using Command = ControlRequest::Command;
    m_handlers[Command::Show] =
        std::make_unique<ShowHandler>(store, [this] { emit showRequested(); });
    m_handlers[Command::List] = std::make_unique<ListHandler>(store);
    m_handlers[Command::Start] = std::make_unique<StartHandler>(store);
    m_handlers[Command::Stop] = std::make_unique<StopHandler>(store);
    m_handlers[Command::Url] = std::make_unique<UrlHandler>(store);
    m_handlers[Command::Add] = std::make_unique<AddHandler>(store);
    m_handlers[Command::Remove] = std::make_unique<RemoveHandler>(store);
    m_handlers[Command::Share] = std::make_unique<ShareHandler>(store);
    m_handlers[Command::Set] = std::make_unique<SetHandler>(store);
    m_handlers[Command::Requests] = std::make_unique<RequestsHandler>(store);
    m_handlers[Command::Replay] = std::make_unique<ReplayHandler>(store);
    m_handlers[Command::Login] = std::make_unique<LoginHandler>(store);
    connect(m_server, &QLocalServer::newConnection, this, &ControlServer::accept);
}

ControlServer::~ControlServer() {
    // Their waits watch the store's tunnels; none may outlive the server.
    for (ControlConnection* connection :
         findChildren<ControlConnection*>(Qt::FindDirectChildrenOnly)) {
        if (connection->isFollowing()) {
            connection->sendEvent({{QStringLiteral("event"), QStringLiteral("quit")}});
            connection->close();
        }
        delete connection;
    }
}

void ControlServer::accept() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        // Another user reached the socket despite its permissions: say nothing, hang up.
        if (!peerIsThisUser(socket->socketDescriptor())) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto* connection = new ControlConnection(socket, this);
        connect(
            connection, &ControlConnection::received, this,
            [this, connection](const ControlRequest& request) { execute(*connection, request); });
        connection->start();
    }
}

void ControlServer::execute(ControlConnection& connection, const ControlRequest& request) {
    // Every command of the table has its handler (tst_control runs each).
    m_handlers.at(request.command())->execute(connection, request);
}
