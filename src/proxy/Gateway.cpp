#include "proxy/Gateway.h"

Gateway::Gateway(QObject* parent)
    : QObject(parent)
    , m_server([this](HttpExchange exchange) { enqueue(std::move(exchange)); },
               [this](GatewayStatus status) { enqueueStatus(status); },
               [this](WebSocketMessage message) { enqueueMessage(std::move(message)); }) {
    m_flushTimer.setSingleShot(true);
    connect(&m_flushTimer, &QTimer::timeout, this, &Gateway::flush);
}

Gateway::~Gateway() {
    m_server.stop();
}

bool Gateway::start(quint16 originPort, QString* error) {
    m_status = {};
    return m_server.start(originPort, error);
}

void Gateway::stop() {
    m_server.stop();
    flush();
}

void Gateway::setRewriteHost(bool on) {
    m_server.setRewriteHost(on);
    // What refused under the other setting is to be seen again before it is told again.
    m_server.forgetRefusal();
    if (m_status.refusal != HostCheck::None) {
        m_status.refusal = HostCheck::None;
        emit statusChanged();
    }
}

QDateTime Gateway::lastRequestAt() const {
    const qint64 ms = m_server.lastRequestMs();
    return ms ? QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC) : QDateTime();
}

// On the gateway's thread.
void Gateway::enqueue(HttpExchange exchange) {
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
    postFlush();
}

// On the gateway's thread.
void Gateway::enqueueStatus(GatewayStatus status) {
    std::lock_guard lock(m_mutex);
    m_pendingStatus = status;
    postFlush();
}

// On the gateway's thread.
void Gateway::enqueueMessage(WebSocketMessage message) {
    std::lock_guard lock(m_mutex);
    m_pendingMessages.append(std::move(message));
    if (m_pendingMessages.size() > maxPendingMessages)
        m_pendingMessages.removeFirst();
    postFlush();
}

void Gateway::postFlush() {
    if (m_flushPosted)
        return;
    m_flushPosted = true;
    QMetaObject::invokeMethod(this, &Gateway::scheduleFlush, Qt::QueuedConnection);
}

void Gateway::scheduleFlush() {
    const qint64 since = m_sinceFlush.isValid() ? m_sinceFlush.elapsed() : batchIntervalMs;
    m_flushTimer.start(int(qMax<qint64>(0, batchIntervalMs - since)));
}

void Gateway::flush() {
    m_flushTimer.stop();
    QList<HttpExchange> batch;
    QList<WebSocketMessage> messages;
    std::optional<GatewayStatus> status;
    {
        std::lock_guard lock(m_mutex);
        batch.swap(m_pending);
        messages.swap(m_pendingMessages);
        m_pendingBytes = 0;
        status.swap(m_pendingStatus);
        m_flushPosted = false;
    }
    m_sinceFlush.start();
    if (!batch.isEmpty())
        emit exchangesCaptured(batch);
    if (!messages.isEmpty())
        emit messagesCaptured(messages);
    if (status && *status != m_status) {
        m_status = *status;
        emit statusChanged();
    }
}
