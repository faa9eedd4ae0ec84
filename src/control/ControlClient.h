#pragma once

#include "control/ControlRequest.h"

#include <QJsonObject>
#include <QString>
#include <memory>
#include <optional>

class QLocalSocket;

// The command line's side of the control socket: connects, sends one request and waits for
// its one reply, and for a request that follows a tunnel, for the lines after it. Blocks its
// caller, which is fine in a command-line process and never happens in the GUI.
class ControlClient {
public:
    enum class Failure { None, NotRunning, NoReply, BadReply };

    explicit ControlClient(QString socketPath);
    ~ControlClient();

    // The reply, or nothing when there is none within timeoutMs (see failure()).
    std::optional<QJsonObject> send(const ControlRequest& request, int timeoutMs);
    // The next line on the same connection, waiting as long as it takes; nothing once the
    // server has closed it.
    std::optional<QJsonObject> next();
    Failure failure() const { return m_failure; }

private:
    std::optional<QJsonObject> readLine(int timeoutMs);

    QString m_socketPath;
    std::unique_ptr<QLocalSocket> m_socket;
    Failure m_failure = Failure::None;
};
