#include "control/ControlServer.h"

#include "model/ClientVersion.h"
#include "model/TunnelLookup.h"
#include "model/TunnelName.h"
#include "model/TunnelStore.h"
#include "platform/PeerCredentials.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>
#include <algorithm>

namespace {

// Marks a socket whose one reply has gone out.
constexpr char repliedProperty[] = "quillbyReplied";

QString idText(const TunnelInstance& tunnel) {
    return tunnel.id().toString(QUuid::WithoutBraces).toUpper();
}

QString quoted(const QString& name) {
    return QLatin1Char('\'') + name + QLatin1Char('\'');
}

// Ends the connection if the client does not keep up.
void armIdleTimer(QLocalSocket* socket) {
    auto* timer = socket->findChild<QTimer*>(QString(), Qt::FindDirectChildrenOnly);
    if (!timer) {
        timer = new QTimer(socket);
        timer->setSingleShot(true);
        timer->setInterval(ControlServer::idleTimeoutMs);
        QObject::connect(timer, &QTimer::timeout, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
    }
    timer->start();
}

void stopIdleTimer(QLocalSocket* socket) {
    if (auto* timer = socket->findChild<QTimer*>(QString(), Qt::FindDirectChildrenOnly))
        timer->stop();
}

} // namespace

ControlServer::ControlServer(QLocalServer* server, TunnelStore* store, QObject* parent)
    : QObject(parent)
    , m_server(server)
    , m_store(store) {
    connect(m_server, &QLocalServer::newConnection, this, &ControlServer::accept);
}

ControlServer::~ControlServer() {
    if (!m_server)
        return;
    // Their waits call back into this object; none may outlive it.
    for (QLocalSocket* socket : m_server->findChildren<QLocalSocket*>())
        delete socket;
}

QString ControlServer::stateName(const TunnelInstance& tunnel) {
    switch (tunnel.state()) {
    case TunnelInstance::State::Stopped:
        return QStringLiteral("stopped");
    case TunnelInstance::State::Connecting:
        return QStringLiteral("connecting");
    case TunnelInstance::State::Active:
        return QStringLiteral("active");
    case TunnelInstance::State::Reconnecting:
        return QStringLiteral("reconnecting");
    case TunnelInstance::State::Stopping:
        return QStringLiteral("stopping");
    }
    return {};
}

QJsonObject ControlServer::describe(const TunnelInstance& tunnel) {
    const QString problem = tunnel.problem();
    const QDateTime last = tunnel.inspector()->lastRequestAt();
    return {{QStringLiteral("id"), idText(tunnel)},
            {QStringLiteral("name"), tunnel.config().name},
            {QStringLiteral("port"), tunnel.config().port},
            {QStringLiteral("state"), stateName(tunnel)},
            {QStringLiteral("url"),
             tunnel.tunnelURL() ? QJsonValue(*tunnel.tunnelURL()) : QJsonValue(QJsonValue::Null)},
            {QStringLiteral("problem"),
             problem.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(problem)},
            {QStringLiteral("rewriteHost"), tunnel.config().rewriteHost},
            {QStringLiteral("inspect"), tunnel.config().inspect},
            {QStringLiteral("requests"), qint64(tunnel.inspector()->requests())},
            {QStringLiteral("lastRequestAt"), last.isValid()
                                                  ? QJsonValue(last.toString(Qt::ISODateWithMs))
                                                  : QJsonValue(QJsonValue::Null)}};
}

QJsonObject ControlServer::client() const {
    auto text = [](const QString& value) {
        return value.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(value);
    };
    ClientVersion* version = m_store->services().clientVersion;
    if (!version)
        return {};
    version->refresh();
    return {{QStringLiteral("path"), text(version->path())},
            {QStringLiteral("version"), text(version->version())}};
}

void ControlServer::accept() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // Another user reached the socket despite its permissions: say nothing, hang up.
        if (!peerIsThisUser(socket->socketDescriptor())) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // The buffer stops filling at the bound, so a flood costs no more than this.
        socket->setReadBufferSize(ControlRequest::maxLineBytes + 2);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { read(socket); });
        armIdleTimer(socket);
        if (socket->bytesAvailable() > 0)
            read(socket);
    }
}

void ControlServer::read(QLocalSocket* socket) {
    if (socket->property(repliedProperty).toBool())
        return;
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > ControlRequest::maxLineBytes)
            fail(socket, ControlRequest::tooLarge());
        return;
    }
    QByteArray line = socket->readLine(ControlRequest::maxLineBytes + 2);
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.endsWith('\r'))
        line.chop(1);
    stopIdleTimer(socket);
    const ControlRequest::Parsed parsed = ControlRequest::parse(line);
    if (const auto* error = std::get_if<ControlError>(&parsed))
        fail(socket, *error);
    else
        execute(socket, std::get<ControlRequest>(parsed));
}

void ControlServer::execute(QLocalSocket* socket, const ControlRequest& request) {
    using Command = ControlRequest::Command;
    switch (request.command()) {
    case Command::Show:
        emit showRequested();
        reply(socket, {});
        return;
    case Command::List: {
        QJsonArray tunnels;
        for (const TunnelInstance* tunnel : m_store->instances())
            tunnels.append(describe(*tunnel));
        reply(socket, {{QStringLiteral("tunnels"), tunnels}, {QStringLiteral("client"), client()}});
        return;
    }
    case Command::Start:
        if (TunnelInstance* tunnel = resolve(socket, request.tunnel)) {
            if (startTunnel(socket, tunnel))
                reply(socket, {{QStringLiteral("tunnel"), describe(*tunnel)}});
        }
        return;
    case Command::Stop:
        if (request.all) {
            replyWhenStopped(socket, m_store->instances());
        } else if (TunnelInstance* tunnel = resolve(socket, request.tunnel)) {
            replyWhenStopped(socket, {tunnel});
        }
        return;
    case Command::Url:
        if (TunnelInstance* tunnel = resolve(socket, request.tunnel))
            replyWhenActive(socket, tunnel, request.waitMs);
        return;
    case Command::Remove:
        if (TunnelInstance* tunnel = resolve(socket, request.tunnel)) {
            const QJsonObject removed = describe(*tunnel);
            m_store->removeTunnel(tunnel->id());
            reply(socket, {{QStringLiteral("tunnel"), removed}});
        }
        return;
    case Command::Add: {
        // As the window's "+": the default name, or the given one trimmed and not empty.
        const QString name = request.name ? trimTunnelName(*request.name) : tr("Tunnel");
        if (name.isEmpty()) {
            fail(socket, {ControlError::Code::InvalidArgument, tr("The name is empty.")});
            return;
        }
        m_store->addTunnel(name, request.port);
        TunnelInstance* tunnel = m_store->instances().back();
        if (!request.startNow || startTunnel(socket, tunnel))
            reply(socket, {{QStringLiteral("tunnel"), describe(*tunnel)}});
        return;
    }
    case Command::Share: {
        // The tunnel already on that port (an active one first, then a running one), else a
        // new one named as the port scanner names them.
        auto rank = [](const TunnelInstance& tunnel) {
            return tunnel.state() == TunnelInstance::State::Active ? 2 : tunnel.isRunning() ? 1 : 0;
        };
        TunnelInstance* chosen = nullptr;
        for (TunnelInstance* tunnel : m_store->instances()) {
            if (tunnel->config().port == request.port && (!chosen || rank(*tunnel) > rank(*chosen)))
                chosen = tunnel;
        }
        if (!chosen) {
            m_store->addTunnel(tr("Port %1").arg(request.port), request.port);
            chosen = m_store->instances().back();
        }
        if (startTunnel(socket, chosen))
            replyWhenActive(socket, chosen, request.waitMs);
        return;
    }
    }
}

TunnelInstance* ControlServer::resolve(QLocalSocket* socket, const QString& text) {
    const QString wanted = trimTunnelName(text);
    QList<TunnelConfig> configs;
    for (const TunnelInstance* tunnel : m_store->instances())
        configs.append(tunnel->config());
    QList<TunnelInstance*> matches;
    for (const qsizetype index : lookUpTunnels(configs, text))
        matches.append(m_store->instances()[size_t(index)]);
    if (matches.size() == 1)
        return matches.front();
    if (matches.isEmpty()) {
        fail(socket, {ControlError::Code::NoMatch,
                      tr("No tunnel has the name, port or id \"%1\".").arg(wanted)});
        return nullptr;
    }
    QJsonArray listed;
    for (const TunnelInstance* tunnel : matches)
        listed.append(describe(*tunnel));
    fail(socket,
         {ControlError::Code::Ambiguous,
          tr("\"%1\" matches %n tunnels; name one by its id:", nullptr, int(matches.size()))
              .arg(wanted)},
         {{QStringLiteral("matches"), listed}});
    return nullptr;
}

bool ControlServer::startTunnel(QLocalSocket* socket, TunnelInstance* tunnel) {
    if (tunnel->isRunning())
        return true;
    const auto& findClient = m_store->services().findClient;
    if (findClient && !findClient()) {
        fail(socket,
             {ControlError::Code::NoClient, tr("cloudflared is not installed, so %1 cannot start.")
                                                .arg(quoted(tunnel->config().name))});
        return false;
    }
    tunnel->start();
    if (!tunnel->isRunning()) {
        fail(socket, {ControlError::Code::StartFailed,
                      tr("%1 failed to start.").arg(quoted(tunnel->config().name))});
        return false;
    }
    return true;
}

void ControlServer::replyWhenActive(QLocalSocket* socket, TunnelInstance* tunnel, qint64 waitMs) {
    // Lives as long as the wait: deleting it ends the connections and the timer.
    auto* wait = new QObject(socket);
    const QPointer<TunnelInstance> watched(tunnel);
    const QString name = quoted(tunnel->config().name);
    auto settle = [this, socket, wait, watched, name, waitMs](bool timedOut) {
        if (!watched) {
            fail(socket, {ControlError::Code::Stopped, tr("%1 was removed.").arg(name)});
        } else if (watched->state() == TunnelInstance::State::Active) {
            reply(socket, {{QStringLiteral("tunnel"), describe(*watched)},
                           {QStringLiteral("url"), *watched->tunnelURL()}});
        } else if (!watched->isRunning()) {
            const QString problem = watched->problem();
            fail(socket,
                 {ControlError::Code::Stopped,
                  problem.isEmpty() ? tr("%1 is not running.").arg(name)
                                    : tr("%1 is not running: %2").arg(name, problem)},
                 {{QStringLiteral("tunnel"), describe(*watched)}});
        } else if (timedOut) {
            const QString problem = watched->problem();
            const QString state = stateName(*watched);
            fail(socket,
                 {waitMs > 0 ? ControlError::Code::Timeout : ControlError::Code::NotActive,
                  problem.isEmpty() ? tr("%1 is still %2.").arg(name, state)
                                    : tr("%1 is still %2: %3").arg(name, state, problem)},
                 {{QStringLiteral("tunnel"), describe(*watched)}});
        } else {
            return;
        }
        wait->deleteLater();
    };
    settle(false);
    if (socket->property(repliedProperty).toBool())
        return;
    if (waitMs <= 0) {
        settle(true);
        return;
    }
    connect(tunnel, &TunnelInstance::changed, wait, [settle] { settle(false); });
    connect(tunnel, &QObject::destroyed, wait, [settle] { settle(false); });
    auto* timer = new QTimer(wait);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, wait, [settle] { settle(true); });
    timer->start(std::chrono::milliseconds(waitMs));
}

void ControlServer::replyWhenStopped(QLocalSocket* socket,
                                     const std::vector<TunnelInstance*>& tunnels) {
    // Answered once every child has exited, so that a start right after finds them stopped.
    auto* wait = new QObject(socket);
    QList<QPointer<TunnelInstance>> watched;
    for (TunnelInstance* tunnel : tunnels) {
        watched.append(tunnel);
        tunnel->stop();
    }
    auto settle = [this, socket, wait, watched] {
        if (std::any_of(watched.begin(), watched.end(),
                        [](const QPointer<TunnelInstance>& t) { return t && t->hasChild(); }))
            return;
        reply(socket, {});
        wait->deleteLater();
    };
    for (TunnelInstance* tunnel : tunnels)
        connect(tunnel, &TunnelInstance::childGone, wait, settle);
    settle();
}

void ControlServer::reply(QLocalSocket* socket, QJsonObject fields) {
    if (socket->property(repliedProperty).toBool())
        return;
    socket->setProperty(repliedProperty, true);
    fields.insert(QStringLiteral("v"), ControlRequest::version);
    if (!fields.contains(QStringLiteral("ok")))
        fields.insert(QStringLiteral("ok"), true);
    socket->write(QJsonDocument(fields).toJson(QJsonDocument::Compact) + '\n');
    // Closed once the reply is out; a client that does not read it is dropped.
    socket->disconnectFromServer();
    if (socket->state() != QLocalSocket::UnconnectedState)
        armIdleTimer(socket);
}

void ControlServer::fail(QLocalSocket* socket, const ControlError& error, QJsonObject fields) {
    fields.insert(QStringLiteral("ok"), false);
    fields.insert(QStringLiteral("error"), ControlError::nameOf(error.code));
    fields.insert(QStringLiteral("message"), error.message);
    reply(socket, std::move(fields));
}
