#include "control/ControlClient.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QLocalSocket>

ControlClient::ControlClient(QString socketPath)
    : m_socketPath(std::move(socketPath)) {}

std::optional<QJsonObject> ControlClient::send(const ControlRequest& request, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    // No socket file, or one left by an instance that is gone: nobody listens.
    if (!socket.waitForConnected(int(qMax<qint64>(1, deadline.remainingTime())))) {
        m_failure = Failure::NotRunning;
        return std::nullopt;
    }
    socket.write(request.encode());
    QByteArray line;
    while (!line.endsWith('\n') && line.size() <= ControlRequest::maxReplyBytes) {
        if (socket.bytesAvailable() == 0 &&
            !socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
            break;
        line += socket.readLine(ControlRequest::maxReplyBytes + 2 - line.size());
    }
    if (!line.endsWith('\n')) {
        m_failure = Failure::NoReply;
        return std::nullopt;
    }
    const QJsonDocument reply = QJsonDocument::fromJson(line);
    if (!reply.isObject() ||
        reply.object().value(QLatin1String("v")).toInt() != ControlRequest::version) {
        m_failure = Failure::BadReply;
        return std::nullopt;
    }
    m_failure = Failure::None;
    return reply.object();
}
