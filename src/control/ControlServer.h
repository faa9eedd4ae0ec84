#pragma once

#include "control/ControlRequest.h"

#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <vector>

class QLocalServer;
class QLocalSocket;
class TunnelInstance;
class TunnelStore;

// Answers the requests of `quillby list`, `start`, `url` and the other commands, and the
// hand-over of a second launch, on the single instance's local socket. Every change goes
// through the store and instance operations the window uses, so the window, the tray icon
// and the notifications follow at once. Runs on the GUI thread and never blocks it: sockets
// are read as data arrives, a wait is a signal connection plus a timer, and a client that
// does not finish its request in time is dropped.
//
// One request per connection: the client writes one line, reads one line, and the server
// closes. Replies are {"v": 1, "ok": true, ...} or {"v": 1, "ok": false, "error": code,
// "message": text}. Only `url --follow` keeps the connection: after its reply the server
// writes a line {"v": 1, "event": "active", "url": ...} each time the tunnel becomes active,
// and a last one, "removed" or "quit", before it closes. A follower that lets more than
// followBufferBytes pile up unread is dropped.
class ControlServer : public QObject {
    Q_OBJECT

public:
    // A connection must deliver its whole request, and later take its reply, in this time.
    static constexpr int idleTimeoutMs = 5000;
    // What a follower may leave unread before it is dropped.
    static constexpr qint64 followBufferBytes = 64 * 1024;

    // server: listening already (not owned); store: the application's store (not owned).
    ControlServer(QLocalServer* server, TunnelStore* store, QObject* parent = nullptr);
    // Hangs up on every client, waiting or not.
    ~ControlServer() override;

    // The tunnel as the commands show it; state is stopped, connecting, active or
    // reconnecting.
    static QJsonObject describe(const TunnelInstance& tunnel);
    static QString stateName(const TunnelInstance& tunnel);
    // The client that runs the tunnels: its path and version, each null while unknown.
    QJsonObject client() const;

signals:
    void showRequested();

private:
    void accept();
    void read(QLocalSocket* socket);
    void execute(QLocalSocket* socket, const ControlRequest& request);
    // Replies once the tunnel is active, has stopped, or waitMs have passed; with credentials,
    // adds the URL with the user name and password in it.
    void replyWhenActive(QLocalSocket* socket, TunnelInstance* tunnel, qint64 waitMs,
                         bool credentials = false);
    // url --follow: replies, then sends each new active URL until the tunnel is removed.
    void follow(QLocalSocket* socket, TunnelInstance* tunnel, bool credentials);
    // Writes one line after the reply; drops a follower that has fallen too far behind.
    void sendEvent(QLocalSocket* socket, QJsonObject fields);
    void set(QLocalSocket* socket, TunnelInstance* tunnel, const ControlRequest& request);
    void listRequests(QLocalSocket* socket, TunnelInstance* tunnel, const ControlRequest& request);
    void replay(QLocalSocket* socket, TunnelInstance* tunnel, qint64 requestId);
    // Stops them and replies once none of them has a child left.
    void replyWhenStopped(QLocalSocket* socket, const std::vector<TunnelInstance*>& tunnels);
    // The one tunnel a name, port or id stands for; otherwise replies with the error.
    TunnelInstance* resolve(QLocalSocket* socket, const QString& text);
    // Starts it; replies with the error when it cannot.
    bool startTunnel(QLocalSocket* socket, TunnelInstance* tunnel);
    void reply(QLocalSocket* socket, QJsonObject fields);
    void fail(QLocalSocket* socket, const ControlError& error, QJsonObject fields = {});

    QPointer<QLocalServer> m_server;
    TunnelStore* m_store;
};
