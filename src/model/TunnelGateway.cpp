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
    m_gateway.setQuickTunnel(m_options.quickTunnel);
}

void TunnelGateway::setOptions(const Options& options) {
    if (isPort(options.port))
        m_gateway.setOriginPort(quint16(options.port));
    m_gateway.setCapture(options.inspect);
    if (options.rewriteHost != m_options.rewriteHost)
        m_gateway.setRewriteHost(options.rewriteHost);
    if (options.guard != m_options.guard)
        m_gateway.setAccessGuard(options.guard);
    if (options.quickTunnel != m_options.quickTunnel)
        m_gateway.setQuickTunnel(options.quickTunnel);
    m_options = options;
}

QString TunnelGateway::start(QString* error) {
    if (m_gateway.isListening())
        return m_gateway.url();
    // A new run starts knowing nothing of the edge.
    if (!std::exchange(m_status, {}).sameEdgeFacts({}))
        emit edgeLimitsChanged();
    if (!isPort(m_options.port) || !m_gateway.start(quint16(m_options.port), error))
        return {};
    return m_gateway.url();
}

void TunnelGateway::stop() {
    m_gateway.stop();
}

quint64 TunnelGateway::replay(const HttpExchange& exchange) {
    return m_gateway.replay(exchange);
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
    if (!status.sameEdgeFacts(before))
        emit edgeLimitsChanged();
}
