#include "control/ControlClient.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QLocalSocket>

ControlClient::ControlClient(QString socketPath)
    : m_socketPath(std::move(socketPath)) {}

ControlClient::~ControlClient() = default;

std::optional<QJsonObject> ControlClient::send(const ControlRequest& request, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    m_socket = std::make_unique<QLocalSocket>();
    m_socket->connectToServer(m_socketPath);
    // No socket file, or one left by an instance that is gone: nobody listens.
    if (!m_socket->waitForConnected(int(qMax<qint64>(1, deadline.remainingTime())))) {
        m_failure = Failure::NotRunning;
        return std::nullopt;
    }
    m_socket->write(request.encode());
    return readLine(int(qMax<qint64>(1, deadline.remainingTime())));
}

std::optional<QJsonObject> ControlClient::next() {
    return m_socket ? readLine(-1) : std::nullopt;
}

std::optional<QJsonObject> ControlClient::readLine(int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    QByteArray line;
    while (!line.endsWith('\n') && line.size() <= ControlRequest::maxReplyBytes) {
        if (m_socket->bytesAvailable() == 0 &&
            !m_socket->waitForReadyRead(
                deadline.isForever() ? -1 : int(qMax<qint64>(1, deadline.remainingTime()))))
            break;
        line += m_socket->readLine(ControlRequest::maxReplyBytes + 2 - line.size());
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
