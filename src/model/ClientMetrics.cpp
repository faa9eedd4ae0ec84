#include "model/ClientMetrics.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTcpServer>
#include <memory>
#include <set>
#include <utility>
#include <vector>

namespace {

// Where the client binds when no address is given; two children would share them.
constexpr quint16 clientDefaultFirst = 20241, clientDefaultLast = 20245;
// More than either answer.
constexpr qint64 maxAnswer = 4096;

// Ports handed to this process's children, which bind them only once their tunnel exists.
std::set<quint16>& portsHandedOut() {
    static std::set<quint16> ports;
    return ports;
}

quint16 freeLoopbackPort() {
    // Each probe stays open until the end, so a retry is handed another port.
    std::vector<std::unique_ptr<QTcpServer>> probes;
    for (int attempt = 0; attempt < 8; ++attempt) {
        auto& probe = probes.emplace_back(std::make_unique<QTcpServer>());
        if (!probe->listen(QHostAddress::LocalHost, 0))
            return 0;
        const quint16 port = probe->serverPort();
        if ((port < clientDefaultFirst || port > clientDefaultLast) &&
            !portsHandedOut().contains(port))
            return port;
    }
    return 0;
}

int httpStatus(QNetworkReply* reply) {
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

QJsonValue field(QNetworkReply* reply, QStringView name) {
    return QJsonDocument::fromJson(reply->read(maxAnswer)).object().value(name);
}

} // namespace

ClientMetrics::ClientMetrics(QNetworkAccessManager* network, Timing timing, QObject* parent)
    : QObject(parent)
    , m_network(network ? network : new QNetworkAccessManager(this))
    , m_timing(timing) {
    // Loopback only: a proxy named by the environment must not carry the asks away.
    m_network->setProxy(QNetworkProxy::NoProxy);
    m_nextAsk.setSingleShot(true);
    connect(&m_nextAsk, &QTimer::timeout, this, &ClientMetrics::ask);
    m_poll.setInterval(m_timing.pollMs);
    connect(&m_poll, &QTimer::timeout, this, &ClientMetrics::ask);
}

ClientMetrics::~ClientMetrics() {
    for (const QPointer<QNetworkReply>& reply : std::exchange(m_replies, {}))
        if (reply)
            reply->abort();
    portsHandedOut().erase(m_port);
}

QStringList ClientMetrics::launchArguments() {
    stop();
    portsHandedOut().erase(m_port);
    m_port = freeLoopbackPort();
    if (m_port == 0)
        return {};
    portsHandedOut().insert(m_port);
    m_live = true;
    m_lastAsk.invalidate();
    return {QStringLiteral("--metrics"), QStringLiteral("127.0.0.1:%1").arg(m_port)};
}

bool ClientMetrics::couldNotBind(QStringView exitLine) const {
    // Since 2024.12 "failed to bind to address (127.0.0.1:P): listen tcp 127.0.0.1:P: bind:
    // address already in use"; before, the part from "listen tcp" only.
    const QRegularExpression address(QStringLiteral("127\\.0\\.0\\.1:%1(?!\\d)").arg(m_port));
    return m_port != 0 && exitLine.contains(u"bind") && address.match(exitLine).hasMatch();
}

void ClientMetrics::ask() {
    if (!m_live)
        return;
    if (!m_replies.isEmpty()) {
        m_askAgain = true; // once these are answered
        return;
    }
    const qint64 since = m_lastAsk.isValid() ? m_lastAsk.elapsed() : m_timing.gapMs;
    if (since < m_timing.gapMs)
        return askIn(int(m_timing.gapMs - since));
    send();
}

void ClientMetrics::setPolling(bool on) {
    if (!on || !m_live)
        m_poll.stop();
    else if (!m_poll.isActive())
        m_poll.start();
}

void ClientMetrics::stop() {
    m_live = false;
    m_askAgain = false;
    m_poll.stop();
    m_nextAsk.stop();
    m_zeroSince.invalidate();
    // Aborted replies finish at once, no longer among those under way: they count for nothing.
    for (const QPointer<QNetworkReply>& reply : std::exchange(m_replies, {}))
        if (reply)
            reply->abort();
    if (!m_ready && !m_tunnelURL)
        return;
    m_ready.reset();
    m_tunnelURL.reset();
    emit changed();
}

void ClientMetrics::send() {
    m_nextAsk.stop();
    m_lastAsk.start();
    if (m_poll.isActive())
        m_poll.start(); // the next poll counts from this ask
    get("/ready", &ClientMetrics::readReady);
    if (!m_tunnelURL) // a quick tunnel keeps its hostname for as long as it runs
        get("/quicktunnel", &ClientMetrics::readQuickTunnel);
}

void ClientMetrics::get(const char* path, void (ClientMetrics::*onAnswer)(QNetworkReply*)) {
    QNetworkRequest request(
        QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(QLatin1StringView(path))));
    request.setTransferTimeout(m_timing.timeoutMs);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    // Asked rarely: no idle connection is kept between asks.
    request.setRawHeader("Connection", "close");
    QNetworkReply* reply = m_network->get(request);
    m_replies.append(reply);
    connect(reply, &QNetworkReply::finished, this, [this, reply, onAnswer] {
        reply->deleteLater();
        if (!m_replies.removeOne(reply))
            return; // aborted: a child stopped or replaced since
        (this->*onAnswer)(reply);
        if (m_replies.isEmpty() && std::exchange(m_askAgain, false))
            ask();
    });
}

void ClientMetrics::readReady(QNetworkReply* reply) {
    // 200 with at least one connection, 503 with none; anything else is no answer, and a client
    // that serves nothing leaves the log as the only witness.
    const int status = httpStatus(reply);
    const QJsonValue count = field(reply, u"readyConnections");
    if ((status != 200 && status != 503) || !count.isDouble())
        return;
    if (const int ready = count.toInt(); ready > 0 || m_ready == 0) {
        m_zeroSince.invalidate();
        return setReady(ready);
    }
    if (!m_zeroSince.isValid())
        m_zeroSince.start();
    if (const qint64 zeroFor = m_zeroSince.elapsed(); zeroFor < m_timing.blipMs)
        return askIn(int(m_timing.blipMs - zeroFor)); // to see whether it lasts
    setReady(0);
}

void ClientMetrics::readQuickTunnel(QNetworkReply* reply) {
    // {"hostname":"NAME.trycloudflare.com"}; empty for a tunnel that is not a quick one.
    static const QRegularExpression hostname(QStringLiteral("^[a-z0-9-]+(\\.[a-z0-9-]+)+$"));
    const QString host = field(reply, u"hostname").toString().toLower();
    if (m_tunnelURL || httpStatus(reply) != 200 || !hostname.match(host).hasMatch())
        return;
    m_tunnelURL = QStringLiteral("https://") + host;
    emit changed();
}

void ClientMetrics::setReady(std::optional<int> count) {
    if (m_ready == count)
        return;
    m_ready = count;
    emit changed();
}

void ClientMetrics::askIn(int ms) {
    if (!m_nextAsk.isActive() || m_nextAsk.remainingTime() > ms)
        m_nextAsk.start(ms);
}
