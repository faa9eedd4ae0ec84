#include "model/TunnelGateway.h"

namespace {

bool isPort(qint64 port) {
    return port >= 1 && port <= 65535;
}

} // namespace

TunnelGateway::TunnelGateway(QObject* parent)
    : QObject(parent) {
    connect(&m_gateway, &Gateway::exchangesCaptured, this, &TunnelGateway::take);
    connect(&m_gateway, &Gateway::messagesCaptured, &m_log, &RequestLog::appendMessages);
    connect(&m_gateway, &Gateway::statusChanged, this, &TunnelGateway::takeStatus);
    m_gateway.setCapture(m_options.inspect);
    m_gateway.setRewriteHost(m_options.rewriteHost);
}

void TunnelGateway::setOptions(const Options& options) {
    if (isPort(options.port))
        m_gateway.setOriginPort(quint16(options.port));
    m_gateway.setCapture(options.inspect);
    if (options.rewriteHost != m_options.rewriteHost)
        m_gateway.setRewriteHost(options.rewriteHost);
    if (options.guard != m_options.guard)
        m_gateway.setAccessGuard(options.guard);
    m_options = options;
}

QString TunnelGateway::start(QString* error) {
    if (m_gateway.isListening())
        return m_gateway.url();
    m_status = {};
    if (!isPort(m_options.port) || !m_gateway.start(quint16(m_options.port), error))
        return {};
    return m_gateway.url();
}

void TunnelGateway::stop() {
    m_gateway.stop();
}

void TunnelGateway::replay(const HttpExchange& exchange) {
    m_gateway.replay(exchange);
}

void TunnelGateway::take(const QList<HttpExchange>& batch) {
    m_log.append(batch);
}

void TunnelGateway::takeStatus() {
    const GatewayStatus status = m_gateway.status();
    const GatewayStatus before = std::exchange(m_status, status);
    if (status.answers != before.answers)
        emit originChanged(status.answers);
    if (status.refusal != before.refusal)
        emit refusalChanged();
}
