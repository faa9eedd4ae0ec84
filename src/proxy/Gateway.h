#pragma once

#include "proxy/HttpExchange.h"
#include "proxy/ProxyServer.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <mutex>

// The gateway of one tunnel as the GUI thread sees it: the proxy every request through the
// tunnel passes, its live options, its counts, and what it found out about the dev server.
// Exchanges and WebSocket messages (captured only while capture is on) and status changes arrive
// from the gateway's thread in batches, at most one batch per batchIntervalMs, so that a flood of
// requests never floods the event loop.
class Gateway : public QObject {
    Q_OBJECT

public:
    static constexpr int batchIntervalMs = 33;
    // Exchanges waiting for the GUI thread beyond this are dropped, oldest first.
    static constexpr qsizetype maxPending = 500;
    static constexpr qint64 maxPendingBytes = 64 * 1024 * 1024;
    // WebSocket messages waiting beyond this are dropped, oldest first (about 9 MiB at most).
    static constexpr qsizetype maxPendingMessages = 2000;

    explicit Gateway(QObject* parent = nullptr);
    ~Gateway() override;

    bool start(quint16 originPort, QString* error = nullptr);
    void stop();
    bool isListening() const { return m_server.isListening(); }
    quint16 port() const { return m_server.port(); }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(port()); }
    // The id of the new entry, which arrives with a later batch; 0 while stopped.
    quint64 replay(const HttpExchange& exchange) { return m_server.replay(exchange); }

    void setOriginPort(quint16 port) { m_server.setOriginPort(port); }
    void setCapture(bool on) { m_server.setCapture(on); }
    void setRewriteHost(bool on);
    void setQuickTunnel(bool on) { m_server.setQuickTunnel(on); }
    void setEdgeLimits(const EdgeLimits& limits) { m_server.setEdgeLimits(limits); }
    void setAccessGuard(std::shared_ptr<BasicAuthGuard> guard) {
        m_server.setAccessGuard(std::move(guard));
    }

    quint64 requests() const { return m_server.requests(); }
    // Invalid when no request came yet.
    QDateTime lastRequestAt() const;
    GatewayStatus status() const { return m_status; }

signals:
    // Oldest first.
    void exchangesCaptured(const QList<HttpExchange>& batch);
    // Oldest first; after the batch of exchanges that holds their entry.
    void messagesCaptured(const QList<WebSocketMessage>& batch);
    void statusChanged();

private:
    void enqueue(HttpExchange exchange);
    void enqueueStatus(GatewayStatus status);
    void enqueueMessage(WebSocketMessage message);
    void postFlush();
    void scheduleFlush();
    void flush();

    std::mutex m_mutex;
    QList<HttpExchange> m_pending;
    qint64 m_pendingBytes = 0;
    QList<WebSocketMessage> m_pendingMessages;
    std::optional<GatewayStatus> m_pendingStatus;
    bool m_flushPosted = false;
    QTimer m_flushTimer;
    QElapsedTimer m_sinceFlush;
    GatewayStatus m_status;
    // Last, so that it has stopped calling back before the members above go.
    ProxyServer m_server;
};
