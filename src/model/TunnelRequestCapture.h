#pragma once

#include "model/RequestLog.h"
#include "proxy/Gateway.h"

#include <QObject>

// The gateway of one tunnel as the model sees it: the proxy every request through the tunnel
// passes on its way to the local server, with its live options, its counts, the log of what it
// captured while inspection was on and what it found out about the server.
class TunnelRequestCapture : public QObject {
    Q_OBJECT

public:
    explicit TunnelRequestCapture(QObject* parent = nullptr);

    RequestLog* log() { return &m_log; }
    bool isListening() const { return m_gateway.isListening(); }
    quint16 port() const { return m_gateway.port(); }

    // Starts the gateway in front of the local server's port (kept when it already runs) and
    // returns the URL the client is to forward to; empty, with the reason, when it cannot listen.
    QString start(qint64 port, QString* error);
    void stop();
    // Live, while the client keeps running.
    void setPort(qint64 port);
    void setInspect(bool on) { m_gateway.setCapture(on); }
    void setRewriteHost(bool on) { m_gateway.setRewriteHost(on); }
    // Who may pass, asked per request; set once, before the first start.
    void setAccessGuard(std::shared_ptr<BasicAuthGuard> guard) {
        m_gateway.setAccessGuard(std::move(guard));
    }

    quint64 requests() const { return m_gateway.requests(); }
    QDateTime lastRequestAt() const { return m_gateway.lastRequestAt(); }
    // The dev server's host check that refused the latest requests it looks at; None otherwise.
    HostCheck refusal() const { return m_gateway.status().refusal; }

    // Sends a captured request to the local server again, as a new entry of the log.
    void replay(const HttpExchange& exchange);

signals:
    // The latest request through the tunnel found the local server answering, or not.
    void originChanged(bool answers);
    void refusalChanged();

private:
    void take(const QList<HttpExchange>& batch);
    void takeStatus();

    RequestLog m_log;
    Gateway m_gateway;
    GatewayStatus m_status;
};
