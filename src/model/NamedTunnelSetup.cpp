#include "model/NamedTunnelSetup.h"

#include "model/AccountFiles.h"
#include "model/NamedTunnelCommand.h"
#include "platform/ChildLifetime.h"

#include <QProcess>
#include <QTimer>

using Kind = AccountOutcome::Kind;

NamedTunnelSetup::NamedTunnelSetup(ClientLocator findClient, QObject* parent)
    : QObject(parent)
    , m_findClient(findClient ? std::move(findClient) : ClientLocator(findCloudflared)) {}

NamedTunnelSetup::~NamedTunnelSetup() {
    cancel();
}

bool NamedTunnelSetup::isReady(const QUuid& tunnel, const QUuid& remote) {
    return !remote.isNull() && AccountFiles::credentialsTunnelId(tunnel) == remote;
}

void NamedTunnelSetup::start(const Request& request) {
    cancel();
    m_request = request;
    if (isReady(request.tunnel, request.remote)) {
        AccountOutcome ready = AccountOutcome::of(Kind::Done);
        ready.remote = request.remote;
        return finishLater(ready);
    }
    const std::optional<QString> client = m_findClient();
    if (!client)
        return finishLater(AccountOutcome::of(Kind::ClientMissing));
    m_client = *client;
    if (!request.remote.isNull() && !request.recreate)
        return finishLater(AccountOutcome::of(Kind::CredentialsMissing));
    if (!request.remote.isNull()) // without its credentials the old one can never run again
        return runStep(Step::Deleting,
                       NamedTunnelCommand::remove(request.remote,
                                                  AccountFiles::credentialsPath(request.tunnel)),
                       [this](int, const QString&) { create(); });
    const QUuid created = AccountFiles::credentialsTunnelId(request.tunnel);
    created.isNull() ? create() : route(created);
}

void NamedTunnelSetup::create() {
    // An unreadable leftover would stop the client from writing the new credentials.
    AccountFiles::removeCredentials(m_request.tunnel);
    runStep(
        Step::Creating,
        NamedTunnelCommand::create(NamedTunnelCommand::remoteName(m_request.name, m_request.tunnel),
                                   AccountFiles::credentialsPath(m_request.tunnel)),
        [this](int exitCode, const QString& output) {
            AccountOutcome outcome = AccountOutcome::ofCreate(exitCode, output);
            if (outcome.kind == Kind::Done &&
                AccountFiles::credentialsTunnelId(m_request.tunnel) != outcome.remote)
                outcome = AccountOutcome::of(Kind::CredentialsMissing);
            if (outcome.kind != Kind::Done)
                return emit finished(outcome);
            AccountFiles::secureCredentials(m_request.tunnel);
            route(outcome.remote);
        });
}

void NamedTunnelSetup::route(const QUuid& remote) {
    runStep(
        Step::Routing, NamedTunnelCommand::routeDns(remote, m_request.hostname, m_request.takeOver),
        [this, remote](int exitCode, const QString& output) {
            AccountOutcome outcome = AccountOutcome::ofRoute(exitCode, output, m_request.hostname);
            if (outcome.kind == Kind::Done) // to be saved with the tunnel: ready to run
                outcome.remote = remote;
            emit finished(outcome);
        });
}

void NamedTunnelSetup::deleteRemote(const QUuid& tunnel, const QUuid& remote) {
    cancel();
    const QUuid named = remote.isNull() ? AccountFiles::credentialsTunnelId(tunnel) : remote;
    const std::optional<QString> client = m_findClient();
    if (named.isNull() || !client) {
        if (named.isNull())
            AccountFiles::removeCredentials(tunnel);
        return finishLater(AccountOutcome::of(named.isNull() ? Kind::Done : Kind::ClientMissing));
    }
    m_client = *client;
    runStep(Step::Deleting,
            NamedTunnelCommand::remove(named, AccountFiles::credentialsPath(tunnel)),
            [this, tunnel](int exitCode, const QString& output) {
                // Kept when the account still has the tunnel: deleting can be tried again.
                const AccountOutcome outcome = AccountOutcome::ofDelete(exitCode, output);
                if (outcome.kind == Kind::Done)
                    AccountFiles::removeCredentials(tunnel);
                emit finished(outcome);
            });
}

void NamedTunnelSetup::cancel() {
    NamedTunnelCommand::abandon(std::exchange(m_child, nullptr), this);
}

void NamedTunnelSetup::runStep(Step step, const QStringList& arguments, Reader read) {
    m_child = new QProcess(this);
    m_child->setProcessChannelMode(QProcess::MergedChannels);
    bindChildLifetimeToParent(*m_child);
    connect(m_child, &QProcess::finished, this,
            [this, read](int exitCode, QProcess::ExitStatus status) {
                QProcess* child = std::exchange(m_child, nullptr);
                child->deleteLater();
                read(status == QProcess::NormalExit ? exitCode : -1,
                     QString::fromUtf8(child->readAll()));
            });
    connect(m_child, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        QProcess* child = std::exchange(m_child, nullptr);
        child->deleteLater();
        emit finished(AccountOutcome::of(Kind::Failed, child->errorString()));
    });
    emit stepChanged(step);
    m_child->start(m_client, arguments);
}

void NamedTunnelSetup::finishLater(const AccountOutcome& outcome) {
    QTimer::singleShot(0, this, [this, outcome] { emit finished(outcome); });
}
