#include "model/TunnelRequestCapture.h"

TunnelRequestCapture::TunnelRequestCapture(QObject* parent)
    : QObject(parent) {
    m_gateway.setQuickTunnel(true);
    connect(&m_gateway, &Gateway::exchangesCaptured, this, &TunnelRequestCapture::take);
    connect(&m_gateway, &Gateway::messagesCaptured, &m_log, &RequestLog::appendMessages);
    connect(&m_gateway, &Gateway::statusChanged, this, &TunnelRequestCapture::takeStatus);
}

QString TunnelRequestCapture::start(qint64 port, QString* error) {
    if (m_gateway.isListening()) {
        setPort(port);
        return m_gateway.url();
    }
    // A new run starts knowing nothing of the edge.
    if (!std::exchange(m_status, {}).sameEdgeFacts({}))
        emit edgeLimitsChanged();
    if (port < 1 || port > 65535 || !m_gateway.start(quint16(port), error))
        return {};
    return m_gateway.url();
}

void TunnelRequestCapture::stop() {
    m_gateway.stop();
}

void TunnelRequestCapture::setPort(qint64 port) {
    if (port >= 1 && port <= 65535)
        m_gateway.setOriginPort(quint16(port));
}

quint64 TunnelRequestCapture::replay(const HttpExchange& exchange) {
    return m_gateway.replay(exchange);
}

void TunnelRequestCapture::take(const QList<HttpExchange>& batch) {
    m_log.append(batch);
}

void TunnelRequestCapture::takeStatus() {
    const GatewayStatus status = m_gateway.status();
    const GatewayStatus before = std::exchange(m_status, status);
    if (status.answers != before.answers)
        emit originChanged(status.answers);
    if (status.refusal != before.refusal)
        emit refusalChanged();
    if (!status.sameEdgeFacts(before))
        emit edgeLimitsChanged();
}
