#pragma once

#include "control/ControlRequest.h"

#include <QObject>
#include <QPointer>
#include <map>
#include <memory>

class CommandHandler;
class ControlConnection;
class QLocalServer;
class TunnelStore;

// Answers the requests of `quillby list`, `start`, `url` and the other commands, and the
// hand-over of a second launch, on the single instance's local socket: a ControlConnection
// per client, and a CommandHandler per command, picked from the request's command. Runs on
// the GUI thread and never blocks it: sockets are read as data arrives, a wait is a signal
// connection plus a timer, and a client that does not finish its request in time is dropped.
//
// One request per connection: the client writes one line, reads one line, and the server
// closes. Replies are {"v": 1, "ok": true, ...} or {"v": 1, "ok": false, "error": code,
// "message": text}. A tunnel is shown with its state: stopped, connecting, active,
// reconnecting or stopping. Only `url --follow` keeps the connection: after its reply the
// server writes a line {"v": 1, "event": "active", "url": ...} each time the tunnel becomes
// active, and a last one, "removed" or "quit", before it closes. A follower that lets more
// than ControlConnection::followBufferBytes pile up unread is dropped.
class ControlServer : public QObject {
    Q_OBJECT

public:
    // server: listening already (not owned); store: the application's store (not owned).
    ControlServer(QLocalServer* server, TunnelStore* store, QObject* parent = nullptr);
    // Hangs up on every client, waiting or not; followers hear "quit".
    ~ControlServer() override;

signals:
    void showRequested();

private:
    void accept();
    void execute(ControlConnection& connection, const ControlRequest& request);

    QPointer<QLocalServer> m_server;
    std::map<ControlRequest::Command, std::unique_ptr<CommandHandler>> m_handlers;
};
