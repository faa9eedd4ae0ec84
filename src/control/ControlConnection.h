#pragma once

#include "control/ControlError.h"
#include "control/ControlRequest.h"

#include <QJsonObject>
#include <QObject>
#include <QTimer>

class QLocalSocket;

// One client of the control socket: reads its one request line, writes its one reply and
// closes, or, once it follows a tunnel, writes events after the reply until it is closed.
// A client that does not deliver its request, or take its reply, within idleTimeoutMs is
// dropped; so is a follower that leaves more than followBufferBytes unread. Deletes itself
// once the socket is gone; what waits on its behalf is made its child so that it goes too.
class ControlConnection : public QObject {
    Q_OBJECT

public:
    static constexpr int idleTimeoutMs = 5000;
    static constexpr qint64 followBufferBytes = 64 * 1024;

    // socket: connected, from the server; becomes this connection's child.
    explicit ControlConnection(QLocalSocket* socket, QObject* parent = nullptr);
    // Reads what has arrived and what follows; connect to received() first.
    void start();

    // The one reply, {"v": 1, "ok": true, ...fields}; later calls do nothing.
    void reply(QJsonObject fields = {});
    // {"v": 1, "ok": false, "error": code, "message": text, ...fields}.
    void fail(const ControlError& error, QJsonObject fields = {});
    bool hasReplied() const { return m_replied; }

    // Keeps the connection open after the reply, for events (url --follow).
    void follow() { m_following = true; }
    bool isFollowing() const { return m_following; }
    // One line {"v": 1, ...fields} after the reply.
    void sendEvent(QJsonObject fields);
    // Hangs up once what was written has gone out.
    void close();

signals:
    // The request line, parsed; a line that does not parse is answered here.
    void received(const ControlRequest& request);

private:
    void read();
    void drop();

    QLocalSocket* m_socket;
    QTimer m_idle;
    bool m_replied = false;
    bool m_following = false;
};
