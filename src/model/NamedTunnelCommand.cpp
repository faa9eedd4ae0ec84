#include "model/NamedTunnelCommand.h"

#include <QProcess>
#include <QRegularExpression>

namespace {

QStringList tunnel(const QStringList& command) {
    return QStringList{QStringLiteral("tunnel"), QStringLiteral("--no-autoupdate"),
                       QStringLiteral("--config"), QStringLiteral("/dev/null")} +
           command;
}

QString idText(const QUuid& id) {
    return id.toString(QUuid::WithoutBraces);
}

} // namespace

QStringList NamedTunnelCommand::login() {
    return tunnel({QStringLiteral("login")});
}

QStringList NamedTunnelCommand::create(const QString& name, const QString& credentialsPath) {
    return tunnel(
        {QStringLiteral("create"), QStringLiteral("--credentials-file"), credentialsPath, name});
}

QStringList NamedTunnelCommand::routeDns(const QUuid& remote, const QString& hostname,
                                         bool takeOver) {
    QStringList command{QStringLiteral("route"), QStringLiteral("dns")};
    if (takeOver)
        command << QStringLiteral("--overwrite-dns");
    return tunnel(command << idText(remote) << hostname);
}

QStringList NamedTunnelCommand::run(const QString& credentialsPath, quint16 gatewayPort,
                                    const QUuid& remote) {
    return tunnel({QStringLiteral("run"), QStringLiteral("--credentials-file"), credentialsPath,
                   QStringLiteral("--url"), QStringLiteral("http://127.0.0.1:%1").arg(gatewayPort),
                   idText(remote)});
}

QStringList NamedTunnelCommand::remove(const QUuid& remote, const QString& credentialsPath) {
    return tunnel({QStringLiteral("delete"), QStringLiteral("-f"),
                   QStringLiteral("--credentials-file"), credentialsPath, idText(remote)});
}

QString NamedTunnelCommand::remoteName(const QString& name, const QUuid& tunnel) {
    static const QRegularExpression others(QStringLiteral("[^a-z0-9]+"));
    QString part = name.toLower().replace(others, QStringLiteral("-")).left(40);
    while (part.startsWith(u'-'))
        part.remove(0, 1);
    while (part.endsWith(u'-'))
        part.chop(1);
    return QStringLiteral("quillby-") + (part.isEmpty() ? QString() : part + u'-') +
           idText(tunnel).left(8);
}

void NamedTunnelCommand::abandon(QProcess* child, QObject* listener) {
    if (!child)
        return;
    child->disconnect(listener);
    child->setParent(nullptr); // outlives its owner until it has ended
    QObject::connect(child, &QProcess::finished, child, &QObject::deleteLater);
    if (child->state() != QProcess::NotRunning)
        child->kill();
    else
        child->deleteLater();
}
