#pragma once

#include "control/ControlRequest.h"

#include <QJsonObject>
#include <QString>
#include <optional>

// The command line's side of the control socket: connects, sends one request and waits for
// its one reply. Blocks its caller, which is fine in a command-line process and never happens
// in the GUI.
class ControlClient {
public:
    enum class Failure { None, NotRunning, NoReply, BadReply };

    explicit ControlClient(QString socketPath);

    // The reply, or nothing when there is none within timeoutMs (see failure()).
    std::optional<QJsonObject> send(const ControlRequest& request, int timeoutMs);
    Failure failure() const { return m_failure; }

private:
    QString m_socketPath;
    Failure m_failure = Failure::None;
};
