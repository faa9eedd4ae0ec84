#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

// How often the client's metrics server is asked.
struct ClientMetricsTiming {
    int pollMs = 30000; // while polling, an ask this long after the last one
    int gapMs = 1000;   // asks on demand closer than this are merged into one
    // A fall to no connection counts once a second ask this much later still says so; the
    // client replaces a dropped connection within a few seconds.
    int blipMs = 5000;
    int timeoutMs = 2000; // per request, on loopback
};

// The client's second witness beside its log lines, whose wording changes between releases:
// the metrics server of one child. Each launch gets a loopback port of its own, free just
// before the launch (the client's default range, 20241 to 20245, would be shared by two
// children), handed to the client as --metrics 127.0.0.1:PORT. Asked GET /ready (the
// connections registered with the tunnel network, since client 2020.12) and GET /quicktunnel
// (the quick tunnel's hostname, since 2021.7), on demand and every pollMs while polling,
// one ask at a time, on the GUI thread. A client that serves nothing leaves both unknown and
// shows no error: the log stays the only witness.
class ClientMetrics : public QObject {
    Q_OBJECT

public:
    using Timing = ClientMetricsTiming;

    // network: shared by every tunnel (each manager has a thread of its own), its proxy turned
    // off here, for loopback; nullptr: one of its own.
    explicit ClientMetrics(QNetworkAccessManager* network = nullptr, Timing timing = {},
                           QObject* parent = nullptr);
    ~ClientMetrics() override;

    // Just before each launch: "--metrics", "127.0.0.1:PORT" on a port free now; nothing when
    // no loopback port can be had. Forgets what the previous child said.
    QStringList launchArguments();
    quint16 port() const { return m_port; }
    // The child's exit line says it could not bind the address it was given: launch again,
    // on another port, without telling anyone. Both generations of the line name the address.
    bool couldNotBind(QStringView exitLine) const;

    // A log line suggests a change: asks soon (at once unless an ask is under way or was made
    // less than gapMs ago).
    void ask();
    // While on, at most one ask every pollMs; on-demand asks push the next poll back.
    void setPolling(bool on);
    // The child is stopping or gone: no more asks, both answers unknown.
    void stop();

    // The client's count of registered connections; a fall to 0 only once it outlasted blipMs.
    std::optional<int> readyConnections() const { return m_ready; }
    // https://HOSTNAME of the quick tunnel, once the client named it.
    std::optional<QString> tunnelURL() const { return m_tunnelURL; }

signals:
    // readyConnections() or tunnelURL() changed.
    void changed();

private:
    void send();
    void get(const char* path, void (ClientMetrics::*onAnswer)(QNetworkReply*));
    void readReady(QNetworkReply* reply);
    void readQuickTunnel(QNetworkReply* reply);
    void setReady(std::optional<int> count);
    void askIn(int ms);

    QNetworkAccessManager* m_network;
    Timing m_timing;
    quint16 m_port = 0;
    bool m_live = false;                      // a child was launched with the port and not stopped
    bool m_askAgain = false;                  // asked while an ask was under way
    QList<QPointer<QNetworkReply>> m_replies; // under way
    QElapsedTimer m_lastAsk;
    QElapsedTimer m_zeroSince; // /ready said 0 since then, not yet reported
    QTimer m_nextAsk;          // a merged or confirming ask
    QTimer m_poll;
    std::optional<int> m_ready;
    std::optional<QString> m_tunnelURL;
};
