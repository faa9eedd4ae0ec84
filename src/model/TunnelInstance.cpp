#include "model/TunnelInstance.h"

#include "model/ClientVersion.h"
#include "model/RefusalText.h"
#include "model/SharePassword.h"
#include "platform/ChildErrorReader.h"
#include "platform/ChildLifetime.h"
#include "proxy/BasicAuthGuard.h"

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
    , m_inspector(new TunnelRequestCapture(this))
    , m_guard(std::make_shared<BasicAuthGuard>()) {
    m_guard->setRealm(utf8(m_config.name));
    m_inspector->setAccessGuard(m_guard);
    updateGuard();
    if (!m_services.findClient)
        m_services.findClient = findCloudflared;
    m_inspector->setInspect(m_config.inspect);
    m_inspector->setRewriteHost(m_config.rewriteHost);
    connect(m_inspector, &TunnelRequestCapture::refusalChanged, this,
            &TunnelInstance::applyRefusal);
    // Requests through the gateway tell precisely whether the local server answers.
    connect(m_inspector, &TunnelRequestCapture::originChanged, this, [this](bool answers) {
        const qint64 port = m_config.port;
        if (!answers && (m_problem.isEmpty() || m_problemSource == Source::Origin))
            setProblem(tr("Nothing answers on port %1").arg(port),
                       tr("A request through the tunnel found nothing listening on port %1 on "
                          "this computer")
                           .arg(port),
                       Source::Origin);
        else if (answers && m_problemSource == Source::Origin)
            setProblem(QString(), QString());
    });

    // Precise: a coarse timer may fire up to 5% early, and both delays are promises.
    m_killTimer.setSingleShot(true);
    m_killTimer.setTimerType(Qt::PreciseTimer);
    m_killTimer.setInterval(killGraceMs);
    connect(&m_killTimer, &QTimer::timeout, this, [this] {
        if (hasChild())
            m_process->kill();
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
    if (!m_process)
        return;
    // Nothing may reach this object any more; end the child here, briefly waiting for a
    // graceful exit before QProcess's own teardown kills it.
    m_process->disconnect(this);
    delete m_reader;
    m_reader = nullptr;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        m_process->waitForFinished(500);
    }
}

void TunnelInstance::setConfig(const TunnelConfig& config) {
    if (config.name == m_config.name && config.port == m_config.port)
        return;
    m_config.name = config.name;
    m_config.port = config.port;
    m_guard->setRealm(utf8(m_config.name));
    emit configChanged();
    emit changed();
}

void TunnelInstance::setName(const QString& name) {
    TunnelConfig edited = m_config;
    edited.name = name;
    setConfig(edited);
}

bool TunnelInstance::hasChild() const {
    return m_process && m_process->state() != QProcess::NotRunning;
}

qint64 TunnelInstance::childPid() const {
    return m_process ? m_process->processId() : 0;
}

void TunnelInstance::start() {
    if (isRunning())
        return;
    clearStopAfter();
    launch();
}

void TunnelInstance::launch() {
    if (isRunning())
        return;
    const std::optional<QString> client = m_services.findClient();
    if (!client)
        return;

    if (m_process)
        cleanup();
    // A saved list may hold a number that is no port: it is kept, but never handed to a client.
    if (m_config.port < 1 || m_config.port > 65535) {
        setProblem(tr("Port %1 is outside 1 to 65535; enter another to start").arg(m_config.port),
                   QString());
        return;
    }
    // Known only once read; a client that has not answered yet is given its chance.
    if (const QString version =
            m_services.clientVersion ? m_services.clientVersion->versionOf(*client) : QString();
        ClientVersion::isTooOld(version)) {
        setProblem(tr("cloudflared %1 is too old for quick tunnels; update it to %2 or newer")
                       .arg(version, QLatin1StringView(ClientVersion::oldestSupported)),
                   QString());
        return;
    }
    // The client always forwards to the gateway, which finds the server on 127.0.0.1 or ::1.
    QString error;
    const QString gatewayURL = m_inspector->start(m_config.port, &error);
    if (gatewayURL.isEmpty()) {
        setProblem(tr("Cannot start: the gateway cannot listen (%1)").arg(error), QString());
        return;
    }
    auto* process = new QProcess(this);
    process->setProgram(*client);
    // The client never replaces itself while it runs (it would end the tunnel), and reads an
    // empty configuration of ours, never the user's own, whose ingress rules would win over
    // --url and serve something else than the local server.
    process->setArguments({QStringLiteral("tunnel"), QStringLiteral("--no-autoupdate"),
                           QStringLiteral("--config"), QProcess::nullDevice(),
                           QStringLiteral("--url"), gatewayURL});
    // Standard output is never read; an unread pipe would fill up and block the child.
    process->setStandardOutputFile(QProcess::nullDevice());
    bindChildLifetimeToParent(*process);
    m_reader = new ChildErrorReader(
        *process, [this](QByteArrayView chunk) { handleOutput(chunk); }, process);
    connect(process, &QProcess::finished, this, &TunnelInstance::handleExit);

    m_process = process;
    m_classifier.reset(m_config.port);
    m_logProblem = {};
    m_stopRequested = false;
    m_connected = false;
    m_everConnected = false;
    m_activeAnnounced = false;
    setProblem(QString(), QString()); // a new start: earlier problems no longer apply
    // In place before the child can bring any visitor.
    setPassword(m_config.password ? SharePassword::generate() : QString());
    process->start();
    m_reader->started();
    // Waits only for the exec hand-over, not for the client to do anything.
    if (!process->waitForStarted(-1)) {
        const QString reason = process->errorString();
        setPassword(QString());
        cleanup();
        if (!m_retired)
            emit failedToStart(reason);
        emit childGone();
        return;
    }
    m_launched = true;
    updateState();
    applyOrigin(OriginProbe::chooseOrigin(m_config.port), false);
}

void TunnelInstance::stop() {
    clearStopAfter();
    terminateChild();
}

void TunnelInstance::terminateChild() {
    if (!hasChild())
        return;
    // Whatever the child prints or however it ends from now on, it was asked to stop.
    m_stopRequested = true;
    m_process->terminate();
    setPassword(QString());
    setTunnelURL(std::nullopt);
    updateState();
    if (!m_killTimer.isActive())
        m_killTimer.start();
}

void TunnelInstance::updatePort(qint64 port) {
    if (m_config.port == port)
        return;
    m_config.port = port;
    emit configChanged();
    emit changed();
    // The gateway turns to the new port; the child and its URL stay.
    m_inspector->setPort(port);
    if (isRunning() && !m_stopRequested) {
        if (m_problemSource == Source::Refusal)
            setProblem(QString(), QString());
        applyOrigin(OriginProbe::chooseOrigin(port), true);
    }
}

void TunnelInstance::checkOrigin() {
    if (isRunning() && !m_stopRequested)
        applyOrigin(OriginProbe::chooseOrigin(m_config.port), true);
}

void TunnelInstance::applyOrigin(const OriginAddress& found, bool mayClear) {
    const qint64 port = m_config.port;
    const bool aboutOrigin = m_problemSource == Source::Origin ||
                             (m_problemSource == Source::Log &&
                              m_logProblem.kind == ClientLogClassifier::Kind::OriginRefused);
    if (!found.listening) {
        // The server may come up later; the client's own words, or a deeper problem, stay.
        if (m_problem.isEmpty() || m_problemSource == Source::Origin)
            setProblem(tr("Nothing answers on port %1").arg(port),
                       tr("Nothing accepts connections on 127.0.0.1:%1 or [::1]:%1").arg(port),
                       Source::Origin);
    } else if (mayClear && aboutOrigin) {
        m_classifier.clearProblem();
        m_logProblem = {};
        setProblem(QString(), QString());
    }
}

void TunnelInstance::setInspect(bool on) {
    if (m_config.inspect == on)
        return;
    m_config.inspect = on;
    m_inspector->setInspect(on);
    emit configChanged();
    emit changed();
    // Stopped, the gateway stays only for Replay.
    if (!on && !isRunning())
        m_inspector->stop();
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
    m_inspector->setRewriteHost(on);
    emit configChanged();
    emit changed();
}

void TunnelInstance::setPassword(QString password) {
    m_password = std::move(password);
    updateGuard();
}

void TunnelInstance::updateGuard() {
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

void TunnelInstance::applyRefusal() {
    const HostCheck check = m_inspector->refusal();
    if (check == HostCheck::None) {
        if (m_problemSource == Source::Refusal)
            setProblem(QString(), QString());
        return;
    }
    // The client's own words about the connection matter more.
    if (!m_problem.isEmpty() && m_problemSource == Source::Log)
        return;
    setProblem(RefusalText::problem(check, m_config.rewriteHost),
               RefusalText::detail(check, m_config.rewriteHost, m_config.name, m_config.port),
               Source::Refusal);
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
    if (!m_stopRequested)
        applyLog(m_classifier.feed(chunk));
}

void TunnelInstance::applyLog(const std::optional<QString>& url) {
    if (url && !m_tunnelURL)
        setTunnelURL(url); // shown and copyable at once, but not yet reachable

    m_connected = m_classifier.connections() > 0;
    m_everConnected = m_classifier.everConnected();
    updateState();

    const ClientLogClassifier::Problem& problem = m_classifier.problem();
    if (problem.sameAs(m_logProblem))
        return;
    m_logProblem = problem;
    if (problem.kind == ClientLogClassifier::Kind::None) {
        if (m_problemSource == Source::Log)
            setProblem(QString(), QString());
        return;
    }
    // The client dials the gateway: the port its line names is not the one the user knows.
    const bool refused = problem.kind == ClientLogClassifier::Kind::OriginRefused;
    setProblem(refused ? tr("Nothing answers on port %1").arg(m_config.port) : problem.text(),
               problem.line, Source::Log);
    if (problem.kind == ClientLogClassifier::Kind::OriginRefused)
        applyOrigin(OriginProbe::chooseOrigin(m_config.port), false);
}

void TunnelInstance::handleExit(int exitCode, QProcess::ExitStatus) {
    if (!m_process)
        return;
    // Output still in the pipe, and a last line without a line break, count as output.
    if (!m_stopRequested) {
        m_reader->drain();
        applyLog(m_classifier.finish());
    }

    // A child ended by a signal reports the signal's number: 15 for our terminate request.
    const int status = exitCode;
    const bool failed = status != 0 && status != 15 && !m_stopRequested;
    QString reason;
    if (failed) {
        const ClientLogClassifier::Problem problem = m_classifier.exitProblem();
        if (problem.kind != ClientLogClassifier::Kind::None) {
            reason = problem.text();
            setProblem(reason, problem.line, Source::Log);
        }
    }
    m_launched = false;
    m_tunnelURL.reset();
    setPassword(QString());
    clearStopAfter(); // an end of its own ends the limit too
    updateState();
    if (failed && !m_retired)
        emit endedUnexpectedly(status, reason);
    cleanup();
    if (!m_config.inspect)
        m_inspector->stop();
    emit childGone();
}

void TunnelInstance::cleanup() {
    m_killTimer.stop();
    m_classifier.reset();
    if (m_process) {
        m_process->disconnect(this);
        delete m_reader;
        m_reader = nullptr;
        m_process->deleteLater();
        m_process = nullptr;
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
    else if (m_launched)
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

void TunnelInstance::setProblem(const QString& text, const QString& detail, Source source) {
    m_problemSource = source;
    if (m_problem == text && m_problemDetail == detail)
        return;
    m_problem = text;
    m_problemDetail = detail;
    emit changed();
}

void TunnelInstance::setTunnelURL(std::optional<QString> url) {
    if (m_tunnelURL == url)
        return;
    m_tunnelURL = std::move(url);
    emit changed();
}
