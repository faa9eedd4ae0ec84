#include "proxy/RequestProxy.h"

RequestProxy::RequestProxy(QObject* parent)
    : QObject(parent)
    , m_server([this](HttpExchange exchange) { enqueue(std::move(exchange)); }) {
    m_flushTimer.setSingleShot(true);
    connect(&m_flushTimer, &QTimer::timeout, this, &RequestProxy::flush);
}

RequestProxy::~RequestProxy() {
    m_server.stop();
}

bool RequestProxy::start(const QString& originHost, quint16 originPort, QString* error) {
    return m_server.start(originHost, originPort, error);
}

void RequestProxy::stop() {
    m_server.stop();
    flush();
}

// On the proxy's thread.
void RequestProxy::enqueue(HttpExchange exchange) {
    // Captures grow their bodies piece by piece; what stays is held at its size.
    exchange.requestBody.squeeze();
    exchange.responseBody.squeeze();
    const qint64 bytes = exchange.heldBytes();
    std::lock_guard lock(m_mutex);
    m_pending.append(std::move(exchange));
    m_pendingBytes += bytes;
    while (m_pending.size() > maxPending || m_pendingBytes > maxPendingBytes) {
        m_pendingBytes -= m_pending.first().heldBytes();
        m_pending.removeFirst();
    }
    if (m_flushPosted)
        return;
    m_flushPosted = true;
    QMetaObject::invokeMethod(this, &RequestProxy::scheduleFlush, Qt::QueuedConnection);
}

void RequestProxy::scheduleFlush() {
    const qint64 since = m_sinceFlush.isValid() ? m_sinceFlush.elapsed() : batchIntervalMs;
    m_flushTimer.start(int(qMax<qint64>(0, batchIntervalMs - since)));
}

void RequestProxy::flush() {
    m_flushTimer.stop();
    QList<HttpExchange> batch;
    {
        std::lock_guard lock(m_mutex);
        batch.swap(m_pending);
        m_pendingBytes = 0;
        m_flushPosted = false;
    }
    m_sinceFlush.start();
    if (!batch.isEmpty())
        emit exchangesCaptured(batch);
}
