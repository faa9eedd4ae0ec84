#pragma once

#include "proxy/GatewayState.h"
#include "proxy/HttpExchange.h"

#include <QString>
#include <functional>
#include <memory>

// An HTTP/1.1 reverse proxy on 127.0.0.1 (an ephemeral port) in front of a dev server on
// 127.0.0.1 or ::1. Its sockets run on the shared gateway thread (GatewayLoop); the handlers
// are called there, never after stop() returned.
//
// Forwarding keeps the request as received unless Host rewriting is on (HostRewrite); bodies
// are streamed in both directions and never held whole, keep-alive, chunked transfer,
// 100-continue, and Upgrade passed through as raw bytes after 101 (a captured WebSocket's
// messages read from them on the way, see WebSocketFrameReader). A request that does not
// parse gets 400 and never reaches the dev server; a refused dev server gets a 502 page.
// Exchanges are captured only while capture is on; the counts, and what the tunnel service's
// edge would do to visitors (GatewayStatus), are kept always.
class ProxyServer {
public:
    using ExchangeHandler = std::function<void(HttpExchange)>;
    using StatusHandler = std::function<void(GatewayStatus)>;
    using MessageHandler = std::function<void(WebSocketMessage)>;

    explicit ProxyServer(ExchangeHandler onExchange, StatusHandler onStatus = nullptr,
                         MessageHandler onMessage = nullptr);
    ~ProxyServer();
    ProxyServer(const ProxyServer&) = delete;
    ProxyServer& operator=(const ProxyServer&) = delete;

    // False, with a reason, when the listening socket cannot be set up.
    bool start(quint16 originPort, QString* error = nullptr);
    void stop();
    bool isListening() const { return m_state != nullptr; }
    quint16 port() const { return m_port; }

    // Live: each takes effect from the next request on.
    void setOriginPort(quint16 port);
    void setCapture(bool on);
    void setRewriteHost(bool on);
    // A quick tunnel's edge holds server-sent events back: only then is such an answer told.
    void setQuickTunnel(bool on);
    // From the next start on; tests make them small.
    void setEdgeLimits(const EdgeLimits& limits) { m_limits = limits; }
    // Asked per request from the next start on (see BasicAuthGuard's contract).
    void setAccessGuard(std::shared_ptr<BasicAuthGuard> guard) { m_guard = std::move(guard); }
    quint16 originPort() const { return m_originPort; }
    // The next refusal is told even when it is the one told last.
    void forgetRefusal();

    quint64 requests() const;
    // Milliseconds since the epoch; 0 when no request came yet.
    qint64 lastRequestMs() const;

    // Sends a captured request to the dev server again, as a session with no visitor. Returns
    // the id of the new exchange, which arrives once answered (or refused); 0 while stopped.
    quint64 replay(const HttpExchange& exchange);

private:
    ExchangeHandler m_onExchange;
    StatusHandler m_onStatus;
    MessageHandler m_onMessage;
    std::shared_ptr<GatewayState> m_state;
    std::shared_ptr<BasicAuthGuard> m_guard;
    // Shared with every run's state, so that an id is never given twice.
    std::shared_ptr<std::atomic<quint64>> m_ids = std::make_shared<std::atomic<quint64>>(1);
    EdgeLimits m_limits;
    quint16 m_port = 0;
    quint16 m_originPort = 0;
    bool m_capture = false;
    bool m_rewriteHost = true;
    bool m_quickTunnel = false;
    quint64 m_requests = 0; // of runs before the current one
    qint64 m_lastRequestMs = 0;
};
