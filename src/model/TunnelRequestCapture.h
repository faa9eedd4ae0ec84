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
    // On by default: every tunnel started here is a quick one, whose edge holds server-sent
    // events back; a tunnel on the user's own domain streams them and turns it off.
    void setQuickTunnel(bool on) { m_gateway.setQuickTunnel(on); }
    // Who may pass, asked per request; set once, before the first start.
    void setAccessGuard(std::shared_ptr<BasicAuthGuard> guard) {
        m_gateway.setAccessGuard(std::move(guard));
    }

    quint64 requests() const { return m_gateway.requests(); }
    QDateTime lastRequestAt() const { return m_gateway.lastRequestAt(); }
    // The dev server's host check that refused the latest requests it looks at; None otherwise.
    HostCheck refusal() const { return m_gateway.status().refusal; }

    // What the edge did or does to visitors lately, from status lines and headers; each goes by
    // itself a while after it was last seen (GatewayStatus says the rule).
    // An answer was a stream of server-sent events, held back by a quick tunnel's edge.
    bool eventStreamHeldBack() const { return m_status.eventStream; }
    // A request waited past the edge's limit for its first byte (its visitor got 524): its
    // method and path, empty when none did.
    QString slowMethod() const { return QString::fromStdString(m_status.slowMethod); }
    QString slowPath() const { return QString::fromStdString(m_status.slowPath); }
    // As many requests were in flight at once as a quick tunnel takes (more got 429).
    bool inFlightLimitReached() const { return m_status.inFlightLimit; }

    // Sends a captured request to the local server again. Returns the id of the new entry of
    // the log, which is appended once the answer came; 0 when the gateway is not running.
    quint64 replay(const HttpExchange& exchange);

signals:
    // The latest request through the tunnel found the local server answering, or not.
    void originChanged(bool answers);
    void refusalChanged();
    void edgeLimitsChanged();

private:
    void take(const QList<HttpExchange>& batch);
    void takeStatus();

    RequestLog m_log;
    Gateway m_gateway;
    GatewayStatus m_status;
};
