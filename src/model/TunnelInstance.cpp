#include "model/TunnelInstance.h"

#include "model/AccountFiles.h"
#include "model/ClientVersion.h"
#include "model/NamedTunnelCommand.h"
#include "model/NamedTunnelSetup.h"
#include "model/QProcessClient.h"
#include "model/SharePassword.h"
#include "proxy/BasicAuthGuard.h"

#include <QProcess>
#include <climits>

namespace {

std::string utf8(const QString& text) {
    return text.toStdString();
}

} // namespace

TunnelInstance::TunnelInstance(TunnelConfig config, Services services, QObject* parent)
    : QObject(parent)
    , m_config(std::move(config))
    , m_services(std::move(services))
    , m_gateway(new TunnelGateway(this))
    , m_guard(std::make_shared<BasicAuthGuard>()) {
    m_guard->setRealm(utf8(m_config.name));
    updateGateway();
    setPassword(QString());
    if (!m_services.findClient)
        m_services.findClient = findCloudflared;
    if (!m_services.newClient)
        m_services.newClient = [](QObject* parent) {
            return std::make_unique<QProcessClient>(parent);
        };
    connect(&m_board, &ProblemBoard::changed, this, &TunnelInstance::changed);
    connect(m_gateway, &TunnelGateway::refusalChanged, this,
            [this] { m_board.gatewayRefused(m_gateway->refusal()); });
    // Requests through the gateway tell precisely whether the local server answers.
    connect(m_gateway, &TunnelGateway::originChanged, &m_board, &ProblemBoard::gatewayReached);
    // What the edge does to visitors, told before they complain.
    connect(m_gateway, &TunnelGateway::edgeLimitsChanged, this, [this] {
        const QString slowRequest = m_gateway->slowMethod().isEmpty()
                                        ? QString()
                                        : m_gateway->slowMethod() + u' ' + m_gateway->slowPath();
        m_board.gatewaySawEdge(m_gateway->eventStreamHeldBack(), slowRequest,
                               m_gateway->inFlightLimitReached());
    });

    // One single-shot timer per limit; precise, since hours at 5% would be minutes early.
    m_limitTimer.setSingleShot(true);
    m_limitTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_limitTimer, &QTimer::timeout, this, &TunnelInstance::stopAtLimit);

    m_outageTimer.setSingleShot(true);
    m_outageTimer.setInterval(m_services.outageNoticeMs);
    connect(&m_outageTimer, &QTimer::timeout, this, [this] {
        if (m_state == State::Reconnecting && !m_retired)
            emit outageContinues();
    });
}

TunnelInstance::~TunnelInstance() {
    // Nothing may reach this object any more; the client ends its child itself.
    if (m_client)
        m_client->disconnect(this);
    if (m_metrics)
        m_metrics->disconnect(this);
    m_board.disconnect(this);
}

void TunnelInstance::setConfig(const TunnelConfig& config) {
    if (config.name == m_config.name && config.port == m_config.port)
        return;
    m_config.name = config.name;
    m_config.port = config.port;
    m_guard->setRealm(utf8(m_config.name));
    m_board.refresh();
    emit configChanged();
    emit changed();
}

void TunnelInstance::setName(const QString& name) {
    TunnelConfig edited = m_config;
    edited.name = name;
    setConfig(edited);
}

bool TunnelInstance::hasChild() const {
    return m_client && m_client->isRunning();
}

qint64 TunnelInstance::childPid() const {
    return m_client ? m_client->pid() : 0;
}

void TunnelInstance::start() {
    if (isRunning())
        return;
    clearStopAfter();
    m_bindRetries = 0;
    launch();
}

void TunnelInstance::launch() {
    const std::optional<QString> client = m_services.findClient();
    if (!client)
        return;

    cleanup();
    m_board.clear(); // a new start: earlier problems no longer apply
    m_accountProblem.reset();
    using Check = ProblemBoard::LaunchCheck;
    // A saved list may hold a number that is no port: it is kept, but never handed to a client.
    if (m_config.port < 1 || m_config.port > 65535) {
        m_board.launchFailed(Check::PortOutOfRange);
        return;
    }
    // Known only once read; a client that has not answered yet is given its chance.
    if (const QString version =
            m_services.clientVersion ? m_services.clientVersion->versionOf(*client) : QString();
        ClientVersion::isTooOld(version)) {
        m_board.launchFailed(Check::ClientTooOld, version);
        return;
    }
    if (!m_config.hostname.isEmpty() && !NamedTunnelSetup::isReady(m_config.id, m_config.remote))
        return setUpNamed(false, false);
    launchChild();
}

void TunnelInstance::launchChild() {
    const std::optional<QString> client = m_services.findClient();
    if (!client)
        return;
    // The client always forwards to the gateway, which finds the server on 127.0.0.1 or ::1.
    QString error;
    const QString gatewayURL = m_gateway->start(&error);
    if (gatewayURL.isEmpty()) {
        m_board.launchFailed(ProblemBoard::LaunchCheck::GatewayCannotListen, error);
        return;
    }
    // In place before the child can bring any visitor.
    setPassword(m_config.password ? SharePassword::generate() : QString());
    launchClient(*client, gatewayURL);
}

void TunnelInstance::launchClient(const QString& program, const QString& gatewayURL) {
    m_client = m_services.newClient(this);
    connect(m_client.get(), &ClientProcess::errorOutput, this, &TunnelInstance::handleOutput);
    connect(m_client.get(), &ClientProcess::exited, this, &TunnelInstance::handleExit);
    m_classifier.reset();
    m_stopRequested = false;
    m_connected = false;
    m_everConnected = false;
    m_activeAnnounced = false;
    QStringList arguments = clientArguments(gatewayURL);
    // The `tunnel` command's own flag: a named tunnel's `run` takes flags only before its id.
    const qsizetype run = arguments.indexOf(QStringLiteral("run"));
    const QStringList metrics = metricsArguments();
    for (qsizetype i = 0; i < metrics.size(); ++i)
        arguments.insert(run < 0 ? arguments.size() : run + i, metrics[i]);
    QString reason;
    if (!m_client->launch(program, arguments, &reason)) {
        m_metrics->stop();
        m_launched = false;
        updateState(); // from Connecting when launched again on another port
        setPassword(QString());
        cleanup();
        if (!m_config.inspect)
            m_gateway->stop();
        if (!m_retired)
            emit failedToStart(reason);
        emit childGone();
        return;
    }
    m_launched = true;
    // A named tunnel's client prints no URL: the address is the hostname's.
    if (!m_config.hostname.isEmpty())
        setTunnelURL(QStringLiteral("https://") + m_config.hostname);
    m_metrics->setPolling(true);
    updateState();
    m_board.lookAtOrigin(false);
}

QStringList TunnelInstance::clientArguments(const QString& gatewayURL) const {
    if (!m_config.hostname.isEmpty())
        return NamedTunnelCommand::run(AccountFiles::credentialsPath(m_config.id),
                                       m_gateway->port(), m_config.remote);
    // The client never replaces itself while it runs (it would end the tunnel), and reads an
    // empty configuration of ours, never the user's own, whose ingress rules would win over
    // --url and serve something else than the local server.
    return {QStringLiteral("tunnel"), QStringLiteral("--no-autoupdate"), QStringLiteral("--config"),
            QProcess::nullDevice(),   QStringLiteral("--url"),           gatewayURL};
}

void TunnelInstance::setHostname(const QString& host) {
    const QString hostname = host.trimmed().toLower();
    if (hostname == m_config.hostname)
        return;
    m_config.hostname = hostname;
    // Routed anew; the named tunnel its credentials name is reused, not made again.
    m_config.remote = {};
    updateGateway();
    emit configChanged();
    emit changed();
    if (!isRunning())
        return;
    // A new address needs a new child.
    m_restart = true;
    terminateChild();
}

TunnelInstance::ProblemAction TunnelInstance::problemAction() const {
    if (!m_accountProblem || m_board.shown() != ProblemBoard::Source::Launch)
        return ProblemAction::None;
    switch (*m_accountProblem) {
    case AccountOutcome::Kind::HostTaken:
        return ProblemAction::TakeOver;
    case AccountOutcome::Kind::CredentialsMissing:
        return ProblemAction::CreateAgain;
    case AccountOutcome::Kind::NotSignedIn:
    case AccountOutcome::Kind::Refused:
        return ProblemAction::SignIn;
    default:
        return ProblemAction::None;
    }
}

void TunnelInstance::takeOver() {
    if (!m_config.hostname.isEmpty() && !isRunning())
        setUpNamed(true, false);
}

void TunnelInstance::createAgain() {
    if (!m_config.hostname.isEmpty() && !isRunning())
        setUpNamed(false, true);
}

void TunnelInstance::setUpNamed(bool takeOver, bool recreate) {
    clearStopAfter();
    m_board.clear();
    m_accountProblem.reset();
    // Told at once, so that a command that starts the tunnel can say why it did not.
    if (!m_config.remote.isNull() && !recreate)
        return namedSetUp(AccountOutcome::of(AccountOutcome::Kind::CredentialsMissing));
    if (!AccountFiles::signedIn())
        return namedSetUp(AccountOutcome::of(AccountOutcome::Kind::NotSignedIn));
    if (!m_setup) {
        m_setup = new NamedTunnelSetup(m_services.findClient, this);
        connect(m_setup, &NamedTunnelSetup::finished, this, &TunnelInstance::namedSetUp);
        connect(m_setup, &NamedTunnelSetup::stepChanged, this, [this](NamedTunnelSetup::Step step) {
            m_stepText = step == NamedTunnelSetup::Step::Creating ? tr("Creating the tunnel…")
                         : step == NamedTunnelSetup::Step::Routing
                             ? tr("Pointing %1 at it…").arg(m_config.hostname)
                             : tr("Deleting the tunnel whose credentials are gone…");
            emit changed();
        });
    }
    m_setup->start(
        {m_config.id, m_config.name, m_config.hostname, m_config.remote, takeOver, recreate});
    updateState();
}

void TunnelInstance::namedSetUp(const AccountOutcome& outcome) {
    m_stepText.clear();
    if (outcome.kind == AccountOutcome::Kind::Done) {
        if (m_config.remote != outcome.remote) {
            m_config.remote = outcome.remote;
            emit configChanged();
        }
        launchChild();
    } else {
        m_accountProblem = outcome.kind;
        m_board.accountFailed(outcome.text(), outcome.detail);
    }
    emit accountAnswered(outcome);
    updateState();
    emit changed();
    if (!m_launched)
        emit childGone();
}

void TunnelInstance::stop() {
    m_restart = false;
    clearStopAfter();
    terminateChild();
}

void TunnelInstance::terminateChild() {
    if (m_setup && m_setup->isRunning()) {
        m_setup->cancel();
        m_stepText.clear();
        restartIfAsked();
        return;
    }
    if (!hasChild())
        return;
    // Whatever the child prints or however it ends from now on, it was asked to stop.
    m_stopRequested = true;
    m_metrics->stop();
    m_board.stopLooking();
    setPassword(QString());
    setTunnelURL(std::nullopt);
    updateState();
    m_client->stop();
}

void TunnelInstance::updatePort(qint64 port) {
    if (m_config.port == port)
        return;
    m_config.port = port;
    // The gateway turns to the new port; the child and its URL stay.
    updateGateway();
    m_board.portChanged();
    emit configChanged();
    emit changed();
    if (isRunning() && !m_stopRequested)
        m_board.lookAtOrigin();
}

void TunnelInstance::checkOrigin() {
    if (isRunning() && !m_stopRequested)
        m_board.lookAtOrigin();
}

void TunnelInstance::updateGateway() {
    m_gateway->setOptions({m_config.port, m_config.inspect, m_config.rewriteHost, m_guard,
                           m_config.hostname.isEmpty()});
}

void TunnelInstance::setInspect(bool on) {
    if (m_config.inspect == on)
        return;
    m_config.inspect = on;
    updateGateway();
    emit configChanged();
    emit changed();
    // Stopped, the gateway stays only for Replay.
    if (!on && !isRunning())
        m_gateway->stop();
}

void TunnelInstance::setRequirePassword(bool on) {
    if (m_config.password == on)
        return;
    m_config.password = on;
    // The child and its URL stay; only the gateway's answer changes.
    const bool live = isRunning() && !m_stopRequested;
    setPassword(on && live ? SharePassword::generate() : QString());
    emit configChanged();
    emit changed();
}

void TunnelInstance::setRewriteHost(bool on) {
    if (m_config.rewriteHost == on)
        return;
    m_config.rewriteHost = on;
    updateGateway();
    m_board.refresh();
    emit configChanged();
    emit changed();
}

void TunnelInstance::setPassword(QString password) {
    m_password = std::move(password);
    // On without a password (while stopping): nobody passes.
    if (m_config.password)
        m_guard->requireCredentials(utf8(SharePassword::userName.toString()), utf8(m_password));
    else
        m_guard->allowEveryone();
}

void TunnelInstance::setStopAfter(std::optional<std::chrono::seconds> limit) {
    if (!limit) {
        clearStopAfter();
        return;
    }
    if (!isRunning() || m_stopRequested || *limit <= std::chrono::seconds::zero())
        return;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(*limit);
    m_stopAfter = limit;
    m_stopsAt = QDateTime::currentDateTimeUtc().addMSecs(ms.count());
    m_limitDeadline = QDeadlineTimer(ms);
    m_limitTimer.start(int(std::min<qint64>(ms.count(), INT_MAX)));
    emit changed();
}

void TunnelInstance::clearStopAfter() {
    m_limitTimer.stop();
    if (!m_stopAfter)
        return;
    m_stopAfter.reset();
    m_stopsAt = QDateTime();
    emit changed();
}

void TunnelInstance::stopAtLimit() {
    if (!m_stopAfter)
        return;
    // A limit beyond one timer's reach, or a timer a little early, waits for the rest.
    if (const qint64 left = m_limitDeadline.remainingTime(); left > 0) {
        m_limitTimer.start(int(std::min<qint64>(left, INT_MAX)));
        return;
    }
    const std::chrono::seconds sharedFor = *m_stopAfter;
    stop();
    if (!m_retired)
        emit stoppedAtLimit(sharedFor);
}

void TunnelInstance::retire() {
    m_retired = true;
    stop();
    if (hasChild())
        connect(this, &TunnelInstance::childGone, this, &QObject::deleteLater);
    else
        deleteLater();
}

void TunnelInstance::handleOutput(QByteArrayView chunk) {
    if (m_stopRequested)
        return;
    const int connections = m_classifier.connections();
    const bool everConnected = m_classifier.everConnected();
    const std::optional<QString> url = m_classifier.feed(chunk);
    askMetrics(connections, url.has_value());
    // Only a change the log tells counts as its word: a line it no longer prints says nothing.
    if (m_classifier.connections() != connections || m_classifier.everConnected() != everConnected)
        m_connected = m_classifier.connections() > 0;
    applyLog(url);
}

void TunnelInstance::applyLog(const std::optional<QString>& url) {
    if (url && !m_tunnelURL)
        setTunnelURL(url); // shown and copyable at once, but not yet reachable

    m_everConnected = m_everConnected || m_classifier.everConnected();
    updateState();
    m_board.readClient();
}

void TunnelInstance::handleExit(int status) {
    if (!m_client)
        return;
    // A last line without a line break counts as output.
    if (!m_stopRequested)
        applyLog(m_classifier.finish());
    if (relaunchOnAnotherPort(status))
        return;
    m_metrics->stop();
    // 15: our own request to stop, or a client that ended as if it were one.
    const bool failed =
        status != 0 && status != ClientProcess::terminatedStatus && !m_stopRequested;
    const QString reason = failed ? m_board.clientFailed() : QString();
    m_board.stopLooking();
    m_launched = false;
    m_tunnelURL.reset();
    setPassword(QString());
    clearStopAfter(); // an end of its own ends the limit too
    updateState();
    if (failed && !m_retired)
        emit endedUnexpectedly(status, reason);
    cleanup();
    if (!m_config.inspect)
        m_gateway->stop();
    emit childGone();
    restartIfAsked();
}

void TunnelInstance::restartIfAsked() {
    // Connecting throughout: a restart for a new address is no stop.
    if (std::exchange(m_restart, false) && !m_retired)
        launch();
    updateState();
}

void TunnelInstance::cleanup() {
    m_classifier.reset();
    if (m_client) {
        m_client->disconnect(this);
        // It may be in the middle of telling its exit.
        m_client.release()->deleteLater();
    }
}

void TunnelInstance::updateState() {
    State state = State::Stopped;
    if (m_launched && m_stopRequested)
        state = State::Stopping;
    else if (m_launched && m_everConnected && !m_connected)
        state = State::Reconnecting;
    else if (m_launched && m_connected && m_tunnelURL)
        state = State::Active;
    else if (m_launched || m_restart || (m_setup && m_setup->isRunning()))
        state = State::Connecting;
    if (state == m_state)
        return;
    m_state = state;

    if (state == State::Reconnecting)
        m_outageTimer.start();
    else
        m_outageTimer.stop();
    emit changed();
    if (state == State::Active && !std::exchange(m_activeAnnounced, true) && !m_retired)
        emit becameActive(*m_tunnelURL);
}

void TunnelInstance::setTunnelURL(std::optional<QString> url) {
    if (m_tunnelURL == url)
        return;
    m_tunnelURL = std::move(url);
    emit changed();
}

std::optional<int> TunnelInstance::connections() const {
    return m_metrics && m_launched ? m_metrics->readyConnections() : std::nullopt;
}

QStringList TunnelInstance::metricsArguments() {
    if (!m_metrics) {
        m_metrics = new ClientMetrics(m_services.network ? m_services.network() : nullptr,
                                      m_services.metricsTiming, this);
        connect(m_metrics, &ClientMetrics::changed, this, &TunnelInstance::applyMetrics);
    }
    m_metricsReady.reset();
    return m_metrics->launchArguments();
}

void TunnelInstance::askMetrics(int logConnections, bool urlSeen) {
    // Every chunk while the tunnel is on its way (asks close together are merged); once it is
    // up, a line that changed what the log tells.
    if (m_state == State::Connecting || m_state == State::Reconnecting || urlSeen ||
        m_classifier.connections() != logConnections)
        m_metrics->ask();
}

void TunnelInstance::applyMetrics() {
    if (!m_launched || m_stopRequested)
        return;
    if (const std::optional<int> ready = m_metrics->readyConnections();
        ready && ready != m_metricsReady) {
        // Its count changed: the newest word about the connections.
        m_connected = *ready > 0;
        m_everConnected = m_everConnected || m_connected;
    }
    m_metricsReady = m_metrics->readyConnections();
    // The box in a layout the log does not know: the hostname the client serves.
    if (!m_tunnelURL && m_metrics->tunnelURL())
        setTunnelURL(m_metrics->tunnelURL());
    updateState();
    emit changed(); // the count of connections
}

bool TunnelInstance::relaunchOnAnotherPort(int status) {
    // The metrics address was taken between its pick and the launch: the client ended at
    // once, and runs again on another port without a word.
    constexpr int maxBindRetries = 3;
    if (m_stopRequested || status == 0 || m_bindRetries >= maxBindRetries || !m_metrics ||
        !m_metrics->couldNotBind(m_classifier.exitProblem().line))
        return false;
    const std::optional<QString> program = m_services.findClient();
    const QString gatewayURL = m_gateway->isListening() ? m_gateway->start(nullptr) : QString();
    if (!program || gatewayURL.isEmpty())
        return false;
    ++m_bindRetries;
    m_launched = false;
    cleanup();
    m_board.clear();
    setTunnelURL(std::nullopt); // the ended child's
    launchClient(*program, gatewayURL);
    return true;
}
