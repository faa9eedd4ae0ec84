#include "control/SingleInstance.h"

#include "control/ControlClient.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QStandardPaths>
#include <QThread>

SingleInstance::SingleInstance(QString folder, QObject* parent)
    : QObject(parent)
    , m_folder(std::move(folder)) {
    if (m_folder.isEmpty())
        m_folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (m_folder.isEmpty())
        m_folder = QDir::tempPath();
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::socketPath() const {
    return m_folder + QStringLiteral("/quillby.socket");
}

QString SingleInstance::lockPath() const {
    return m_folder + QStringLiteral("/quillby.lock");
}

bool SingleInstance::claim() {
    QDir().mkpath(m_folder);
    m_lock = std::make_unique<QLockFile>(lockPath());
    // Never stale by age: only a lock whose process is gone is taken over.
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(0)) {
        m_lock.reset();
        return false;
    }
    // We hold the lock, so a socket file left here belongs to a dead instance.
    QLocalServer::removeServer(socketPath());
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // Without the socket we still run; only the hand-over and the commands are lost.
    if (!m_server->listen(socketPath())) {
        delete m_server;
        m_server = nullptr;
    }
    return true;
}

bool SingleInstance::handOver(int timeoutMs) {
    // The running instance may have just taken the lock and not be listening yet.
    const QDeadlineTimer deadline(timeoutMs);
    ControlClient client(socketPath());
    while (true) {
        const int left = int(qMax<qint64>(1, deadline.remainingTime()));
        if (client.send(ControlRequest(ControlRequest::Command::Show), left))
            return true;
        if (client.failure() != ControlClient::Failure::NotRunning || deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
}
