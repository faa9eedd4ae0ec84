#include "control/ControlConnection.h"

#include <QJsonDocument>
#include <QLocalSocket>

ControlConnection::ControlConnection(QLocalSocket* socket, QObject* parent)
    : QObject(parent)
    , m_socket(socket) {
    m_socket->setParent(this);
    // The buffer stops filling at the bound, so a flood costs no more than this.
    m_socket->setReadBufferSize(ControlRequest::maxLineBytes + 2);
    m_idle.setSingleShot(true);
    m_idle.setInterval(idleTimeoutMs);
    connect(&m_idle, &QTimer::timeout, this, &ControlConnection::drop);
    connect(m_socket, &QLocalSocket::disconnected, this, &QObject::deleteLater);
}

void ControlConnection::start() {
    connect(m_socket, &QLocalSocket::readyRead, this, &ControlConnection::read);
    m_idle.start();
    if (m_socket->bytesAvailable() > 0)
        read();
}

void ControlConnection::read() {
    if (m_replied)
        return;
    if (!m_socket->canReadLine()) {
        if (m_socket->bytesAvailable() > ControlRequest::maxLineBytes)
            fail(ControlRequest::tooLarge());
        return;
    }
    QByteArray line = m_socket->readLine(ControlRequest::maxLineBytes + 2);
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.endsWith('\r'))
        line.chop(1);
    m_idle.stop();
    const ControlRequest::Parsed parsed = ControlRequest::parse(line);
    if (const auto* error = std::get_if<ControlError>(&parsed))
        fail(*error);
    else
        emit received(std::get<ControlRequest>(parsed));
}

void ControlConnection::reply(QJsonObject fields) {
    if (m_replied)
        return;
    m_replied = true;
    fields.insert(QStringLiteral("v"), ControlRequest::version);
    if (!fields.contains(QStringLiteral("ok")))
        fields.insert(QStringLiteral("ok"), true);
    m_socket->write(QJsonDocument(fields).toJson(QJsonDocument::Compact) + '\n');
    if (m_following)
        return;
    // Closed once the reply is out; a client that does not read it is dropped.
    close();
    if (m_socket->state() != QLocalSocket::UnconnectedState)
        m_idle.start();
}

void ControlConnection::fail(const ControlError& error, QJsonObject fields) {
    fields.insert(QStringLiteral("ok"), false);
    fields.insert(QStringLiteral("error"), ControlError::nameOf(error.code));
    fields.insert(QStringLiteral("message"), error.message);
    reply(std::move(fields));
}

void ControlConnection::sendEvent(QJsonObject fields) {
    if (m_socket->state() != QLocalSocket::ConnectedState)
        return;
    fields.insert(QStringLiteral("v"), ControlRequest::version);
    m_socket->write(QJsonDocument(fields).toJson(QJsonDocument::Compact) + '\n');
    // Hands what it can to the system now; what is left waits for the reader.
    m_socket->flush();
    if (m_socket->bytesToWrite() > followBufferBytes)
        drop();
}

void ControlConnection::close() {
    m_socket->disconnectFromServer();
}

void ControlConnection::drop() {
    m_socket->abort();
    deleteLater();
}
