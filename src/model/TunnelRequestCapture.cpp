#include "model/TunnelRequestCapture.h"

TunnelRequestCapture::TunnelRequestCapture(QObject* parent)
    : QObject(parent) {
    m_proxy.setCapture(true);
    m_proxy.setRewriteHost(false);
    connect(&m_proxy, &Gateway::exchangesCaptured, this, &TunnelRequestCapture::take);
}

QString TunnelRequestCapture::clientOrigin(bool inspect, const QString& host, qint64 port,
                                           const QString& directURL) {
    m_startProblem.clear();
    m_answers = -1;
    if (!inspect) {
        stop();
        return directURL;
    }
    // The proxy stays up while the tunnel is stopped, so that Replay still works.
    if (m_proxy.isListening() && host == m_host && port == m_port)
        return QStringLiteral("http://127.0.0.1:%1").arg(m_proxy.port());
    QString error;
    if (port < 1 || port > 65535 || !m_proxy.start(quint16(port), &error)) {
        m_startProblem = tr("Requests are not inspected: the inspector cannot listen (%1)")
                             .arg(error.isEmpty() ? tr("port %1 out of range").arg(port) : error);
        return directURL;
    }
    m_host = host;
    m_port = port;
    return QStringLiteral("http://127.0.0.1:%1").arg(m_proxy.port());
}

void TunnelRequestCapture::stop() {
    m_proxy.stop();
}

void TunnelRequestCapture::replay(const HttpExchange& exchange) {
    m_proxy.replay(exchange);
}

void TunnelRequestCapture::take(const QList<HttpExchange>& batch) {
    m_log.append(batch);
    // The latest request through the tunnel tells whether the local server answers.
    for (auto it = batch.crbegin(); it != batch.crend(); ++it) {
        if (it->replayed)
            continue;
        const int answers = it->originRefused ? 0 : 1;
        if (answers != m_answers) {
            m_answers = answers;
            emit originChanged(answers == 1);
        }
        break;
    }
}
