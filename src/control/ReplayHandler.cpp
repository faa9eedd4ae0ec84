#include "control/ReplayHandler.h"

#include "control/CommandSpec.h"
#include "control/ControlConnection.h"
#include "model/ExchangeJson.h"
#include "model/TunnelStore.h"

#include <QTimer>

void ReplayHandler::execute(ControlConnection& connection, const ControlRequest& request) {
    using Code = ControlError::Code;
    TunnelInstance* tunnel = resolve(connection, request.tunnel);
    if (!tunnel)
        return;
    TunnelGateway* capture = tunnel->gateway();
    const int row = capture->log()->rowOf(quint64(request.requestId));
    const QString name = quoted(*tunnel);
    if (row < 0) {
        connection.fail({Code::NoMatch,
                         tr("%1 has no request %2 in its log.").arg(name).arg(request.requestId)});
        return;
    }
    // The new entry's id; none when the gateway is not running.
    const quint64 id = capture->replay(capture->log()->exchangeAt(row));
    if (!id) {
        connection.fail({Code::Stopped, tr("%1 does not inspect requests.").arg(name)});
        return;
    }
    // The entry arrives on a later turn of the event loop, never within the call.
    waitFor(
        connection, capture->log(), [id](const HttpExchange& entry) { return entry.id == id; },
        name);
}

void ReplayHandler::waitFor(ControlConnection& connection, RequestLog* log, EntryMatch match,
                            const QString& name) {
    auto* wait = new QObject(&connection);
    QObject::connect(
        log, &QAbstractItemModel::rowsInserted, wait,
        [&connection, wait, log, match](const QModelIndex&, int first, int last) {
            for (int row = first; row <= last; ++row) {
                const HttpExchange& entry = log->exchangeAt(row);
                if (match(entry)) {
                    connection.reply({{QStringLiteral("request"), ExchangeJson::summary(entry)}});
                    wait->deleteLater();
                    return;
                }
            }
        });
    auto* timer = new QTimer(wait);
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, wait, [&connection, name] {
        connection.fail(
            {ControlError::Code::Timeout,
             tr("The request sent again through %1 was not answered in time.").arg(name)});
    });
    const CommandSpec* spec =
        CommandSpec::find(ControlRequest::commandName(ControlRequest::Command::Replay));
    timer->start(int(spec->defaultWaitMs));
}
