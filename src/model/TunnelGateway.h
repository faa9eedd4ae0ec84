#pragma once

#include "model/RequestLog.h"
#include "proxy/Gateway.h"

#include <QObject>
#include <memory>

// The gateway of one tunnel as the model sees it: the proxy every request through the tunnel
// passes on its way to the local server, with its live options, its counts, the log of what it
// captured while inspection was on and what it found out about the server.
class TunnelGateway : public QObject {
    Q_OBJECT

public:
    // Everything the tunnel's switches decide, handed over at once; applied live.
    struct Options {
        qint64 port = 0; // the local server's; a number that is no port is not applied
        bool inspect = false;
        bool rewriteHost = true;
        std::shared_ptr<BasicAuthGuard> guard = {}; // who may pass, asked per request
        // A quick tunnel's edge holds server-sent events back; one on the user's own domain
        // streams them.
        bool quickTunnel = true;
    };

    explicit TunnelGateway(QObject* parent = nullptr);

    RequestLog* log() { return &m_log; }
    bool isListening() const { return m_gateway.isListening(); }
    quint16 port() const { return m_gateway.port(); }

    void setOptions(const Options& options);
    const Options& options() const { return m_options; }
    // Starts the gateway in front of the local server's port (kept when it already runs) and
    // returns the URL the client is to forward to; empty, with the reason, when it cannot listen.
    QString start(QString* error);
    void stop();

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

    Options m_options;
    RequestLog m_log;
    Gateway m_gateway;
    GatewayStatus m_status;
};
