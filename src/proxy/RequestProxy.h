#pragma once

#include "proxy/HttpExchange.h"
#include "proxy/ProxyServer.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <mutex>

// The inspecting proxy of one tunnel as the GUI thread sees it. Exchanges captured on the
// proxy's thread are handed over in batches, at most one batch per batchIntervalMs, so that
// a flood of requests never floods the event loop.
class RequestProxy : public QObject {
    Q_OBJECT

public:
    static constexpr int batchIntervalMs = 33;
    // Exchanges waiting for the GUI thread beyond these bounds are dropped, oldest first.
    static constexpr qsizetype maxPending = 500;
    static constexpr qint64 maxPendingBytes = 64 * 1024 * 1024;

    explicit RequestProxy(QObject* parent = nullptr);
    ~RequestProxy() override;

    bool start(const QString& originHost, quint16 originPort, QString* error = nullptr);
    void stop();
    bool isListening() const { return m_server.isListening(); }
    quint16 port() const { return m_server.port(); }
    void replay(const HttpExchange& exchange) { m_server.replay(exchange); }

signals:
    // Oldest first.
    void exchangesCaptured(const QList<HttpExchange>& batch);

private:
    void enqueue(HttpExchange exchange);
    void scheduleFlush();
    void flush();

    std::mutex m_mutex;
    QList<HttpExchange> m_pending;
    qint64 m_pendingBytes = 0;
    bool m_flushPosted = false;
    QTimer m_flushTimer;
    QElapsedTimer m_sinceFlush;
    // Last, so that its thread has stopped before the members above go.
    ProxyServer m_server;
};
