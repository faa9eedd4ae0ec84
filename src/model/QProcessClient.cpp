#include "model/QProcessClient.h"

#include "platform/ChildErrorReader.h"
#include "platform/ChildLifetime.h"

QProcessClient::QProcessClient(QObject* parent)
    : ClientProcess(parent) {
    // Precise: a coarse timer may fire up to 5% early, and the grace is a promise.
    m_killTimer.setSingleShot(true);
    m_killTimer.setTimerType(Qt::PreciseTimer);
    m_killTimer.setInterval(killGraceMs);
    connect(&m_killTimer, &QTimer::timeout, &m_process, &QProcess::kill);
    connect(&m_process, &QProcess::finished, this, [this](int exitCode) { finish(exitCode); });
}

QProcessClient::~QProcessClient() {
    m_process.disconnect(this);
    delete m_reader;
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        m_process.waitForFinished(500);
    }
}

bool QProcessClient::launch(const QString& program, const QStringList& arguments, QString* reason) {
    m_process.setProgram(program);
    m_process.setArguments(arguments);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    bindChildLifetimeToParent(m_process);
    m_reader = new ChildErrorReader(
        m_process, [this](QByteArrayView chunk) { emit errorOutput(chunk); }, this);
    m_process.start();
    m_reader->started();
    // Waits only for the exec hand-over, not for the client to do anything.
    if (!m_process.waitForStarted(-1)) {
        if (reason)
            *reason = m_process.errorString();
        return false;
    }
    m_running = true;
    return true;
}

void QProcessClient::stop() {
    if (!m_running)
        return;
    m_process.terminate();
    if (!m_killTimer.isActive())
        m_killTimer.start();
}

bool QProcessClient::isRunning() const {
    return m_running;
}

qint64 QProcessClient::pid() const {
    return m_process.processId();
}

void QProcessClient::finish(int exitCode) {
    if (!m_running)
        return;
    // Output still in the pipe counts, before the exit.
    m_reader->drain();
    m_running = false;
    m_killTimer.stop();
    emit exited(exitCode);
}
