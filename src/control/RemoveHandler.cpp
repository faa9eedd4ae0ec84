#include "control/RemoveHandler.h"

#include "control/ControlConnection.h"
#include "control/ControlRequest.h"
#include "control/TunnelJson.h"
#include "model/AccountFiles.h"
#include "model/TunnelStore.h"

#include <QFile>

void RemoveHandler::execute(ControlConnection& connection, const ControlRequest& request) {
    TunnelInstance* tunnel = resolve(connection, request.tunnel);
    if (!tunnel)
        return;
    const QUuid id = tunnel->id();
    const QJsonObject removed{{QStringLiteral("tunnel"), TunnelJson::describe(*tunnel)}};
    const QString name = quoted(*tunnel);
    const bool named =
        !tunnel->config().remote.isNull() || QFile::exists(AccountFiles::credentialsPath(id));
    if (!named || !request.deleteRemote) {
        m_store->removeTunnel(id);
        QJsonObject reply = removed;
        if (named)
            reply.insert(QStringLiteral("note"),
                         tr("Its named tunnel stays in your account, and its credentials in %1.")
                             .arg(AccountFiles::credentialsPath(id)));
        connection.reply(reply);
        return;
    }
    // Answered once the account has said whether the named tunnel is gone.
    auto* wait = new QObject(&connection);
    QObject::connect(m_store, &TunnelStore::remoteDeleted, wait,
                     [&connection, removed, name, id, wait](const QUuid& of, const QString&,
                                                            const AccountOutcome& outcome) {
                         if (of != id)
                             return;
                         wait->deleteLater();
                         if (outcome.kind == AccountOutcome::Kind::Done)
                             return connection.reply(removed);
                         connection.fail({ControlError::Code::StartFailed,
                                          tr("%1 is removed, but its named tunnel is still in "
                                             "your account: %2")
                                              .arg(name, outcome.text())},
                                         removed);
                     });
    m_store->removeTunnel(id, true);
}
