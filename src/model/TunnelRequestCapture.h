#pragma once

#include "model/RequestLog.h"
#include "proxy/Gateway.h"

#include <QObject>

// The request inspector of one tunnel: the proxy between the client and the local server and
// the log of what went through it. Inspection off, nothing runs and the client forwards to the
// server directly.
class TunnelRequestCapture : public QObject {
    Q_OBJECT

public:
    explicit TunnelRequestCapture(QObject* parent = nullptr);

    RequestLog* log() { return &m_log; }
    bool isListening() const { return m_proxy.isListening(); }
    quint16 port() const { return m_proxy.port(); }

    // Where the client is to forward: with inspection on, the proxy (started, or moved, in front
    // of host:port), else directURL. When the proxy cannot listen: directURL, and
    // startProblem() says why.
    QString clientOrigin(bool inspect, const QString& host, qint64 port, const QString& directURL);
    void stop();
    // Sends a captured request to the local server again, as a new entry of the log.
    void replay(const HttpExchange& exchange);

    // Why the last clientOrigin() left inspection off, in plain words; empty when it did not.
    QString startProblem() const { return m_startProblem; }

signals:
    // The latest request through the tunnel found the local server answering, or not.
    void originChanged(bool answers);

private:
    void take(const QList<HttpExchange>& batch);

    RequestLog m_log;
    Gateway m_proxy;
    QString m_host;
    qint64 m_port = 0;
    QString m_startProblem;
    int m_answers = -1; // the last request's outcome: 1 answered, 0 refused, -1 none yet
};
