#include "model/TunnelInstance.h"

#include "platform/ChildLifetime.h"
#include "platform/Notifier.h"

TunnelInstance::TunnelInstance(TunnelConfig config, Services services, QObject* parent)
    : QObject(parent)
    , m_config(std::move(config))
    , m_services(std::move(services)) {
    if (!m_services.findClient)
        m_services.findClient = findCloudflared;

    // Precise: a coarse timer may fire up to 5% early, and both delays are promises.
    m_killTimer.setSingleShot(true);
    m_killTimer.setTimerType(Qt::PreciseTimer);
    m_killTimer.setInterval(killGraceMs);
    connect(&m_killTimer, &QTimer::timeout, this, [this] {
        if (hasChild()) {
            m_killedByUs = true;
            m_process->kill();
        }
    });

    m_restartTimer.setSingleShot(true);
    m_restartTimer.setTimerType(Qt::PreciseTimer);
    m_restartTimer.setInterval(restartDelayMs);
    connect(&m_restartTimer, &QTimer::timeout, this, [this] {
        // The old child may still be on its way out: start once its exit has been handled.
        if (m_isRunning)
            m_restartAfterExit = true;
        else
            start();
    });
}

TunnelInstance::~TunnelInstance() {
    if (!m_process)
        return;
    // Nothing may reach this object any more; end the child here, briefly waiting for a
    // graceful exit before QProcess's own teardown kills it.
    m_process->disconnect(this);
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
    if (m_isRunning)
        return;
    const std::optional<QString> client = m_services.findClient();
    if (!client)
        return;

    if (m_process)
        cleanup();
    auto* process = new QProcess(this);
    process->setProgram(*client);
    process->setArguments({QStringLiteral("tunnel"), QStringLiteral("--url"),
                           QStringLiteral("http://127.0.0.1:%1").arg(m_config.port)});
    // Standard output is never read; an unread pipe would fill up and block the child.
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setReadChannel(QProcess::StandardError);
    bindChildLifetimeToParent(*process);
    connect(process, &QProcess::readyReadStandardError, this, [this] {
        const QByteArray output = m_process->readAllStandardError();
        // Only the first URL after a launch counts; once known, output is not scanned.
        if (!m_tunnelURL)
            handleOutput(m_scanner.feed(output));
    });
    connect(process, &QProcess::finished, this, &TunnelInstance::handleExit);

    m_process = process;
    m_scanner.reset();
    m_killedByUs = false;
    process->start();
    // Waits only for the exec hand-over, not for the client to do anything.
    if (!process->waitForStarted(-1)) {
        setRunning(false);
        setConnecting(false);
        sendNotification(tr("'%1' Error").arg(m_config.name),
                         tr("Failed to start: %1").arg(process->errorString()));
        cleanup();
        emit childGone();
        return;
    }
    m_restartTimer.stop();
    m_restartAfterExit = false;
    setRunning(true);
    setConnecting(true);
}

void TunnelInstance::stop() {
    m_restartTimer.stop();
    m_restartAfterExit = false;
    terminateChild();
}

void TunnelInstance::terminateChild() {
    if (!hasChild())
        return;
    m_process->terminate();
    setTunnelURL(std::nullopt);
    if (!m_killTimer.isActive())
        m_killTimer.start();
}

void TunnelInstance::updatePort(qint64 port) {
    if (m_config.port == port)
        return;
    m_config.port = port;
    emit configChanged();
    emit changed();
    if (m_isRunning)
        restart();
}

void TunnelInstance::restart() {
    terminateChild();
    m_restartAfterExit = false;
    m_restartTimer.start();
}

void TunnelInstance::retire() {
    m_retired = true;
    stop();
    if (hasChild())
        connect(this, &TunnelInstance::childGone, this, &QObject::deleteLater);
    else
        deleteLater();
}

void TunnelInstance::handleOutput(const std::optional<QString>& url) {
    if (!url || m_tunnelURL)
        return;
    setTunnelURL(url);
    setConnecting(false);
    sendNotification(tr("'%1' Active").arg(m_config.name), *url);
}

void TunnelInstance::handleExit(int exitCode, QProcess::ExitStatus) {
    if (!m_process)
        return;
    // Output still buffered, and a last line without a line break, count as output.
    const QByteArray rest = m_process->readAllStandardError();
    if (!m_tunnelURL) {
        handleOutput(m_scanner.feed(rest));
        handleOutput(m_scanner.finish());
    }

    // A child ended by a signal reports the signal's number: 15 for our terminate request.
    const int status = exitCode;
    setRunning(false);
    setConnecting(false);
    if (status != 0 && status != 15 && !m_killedByUs)
        sendNotification(tr("'%1' Stopped").arg(m_config.name),
                         tr("Tunnel crashed (exit code: %1)").arg(status));
    setTunnelURL(std::nullopt);
    cleanup();
    emit childGone();

    if (m_restartAfterExit) {
        m_restartAfterExit = false;
        start();
    }
}

void TunnelInstance::cleanup() {
    m_killTimer.stop();
    m_scanner.reset();
    if (m_process) {
        m_process->disconnect(this);
        m_process->deleteLater();
        m_process = nullptr;
    }
}

void TunnelInstance::sendNotification(const QString& title, const QString& body) {
    if (m_retired || !m_services.notifier)
        return;
    m_services.notifier->notify(title, body);
}

void TunnelInstance::setRunning(bool value) {
    if (m_isRunning == value)
        return;
    m_isRunning = value;
    emit isRunningChanged();
    emit changed();
}

void TunnelInstance::setConnecting(bool value) {
    if (m_isConnecting == value)
        return;
    m_isConnecting = value;
    emit isConnectingChanged();
    emit changed();
}

void TunnelInstance::setTunnelURL(std::optional<QString> url) {
    if (m_tunnelURL == url)
        return;
    m_tunnelURL = std::move(url);
    emit tunnelURLChanged();
    emit changed();
}
