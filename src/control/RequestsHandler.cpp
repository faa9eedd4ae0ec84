#include "control/RequestsHandler.h"

#include "control/ControlConnection.h"
#include "control/ReplyBudget.h"
#include "model/ExchangeJson.h"
#include "model/HarWriter.h"
#include "model/TunnelStore.h"

#include <QJsonArray>

namespace {

// Drops what is heavy and may go: the bodies and the messages' payloads. Whether there was any.
bool dropPayloads(HttpExchange& exchange, bool har) {
    const bool any = !exchange.messages.isEmpty() ||
                     (har && !(exchange.requestBody.isEmpty() && exchange.responseBody.isEmpty()));
    exchange.requestBody.clear();
    exchange.responseBody.clear();
    for (WebSocketMessage& message : exchange.messages)
        message.payload.clear();
    return any;
}

} // namespace

void RequestsHandler::execute(ControlConnection& connection, const ControlRequest& request) {
    TunnelInstance* tunnel = resolve(connection, request.tunnel);
    if (!tunnel)
        return;
    const RequestLog* log = tunnel->gateway()->log();
    const int count = log->rowCount();
    const int wanted = request.limit > 0 ? int(qMin<qint64>(request.limit, count)) : count;
    const QString base = tunnel->tunnelURL().value_or(
        QStringLiteral("http://localhost:%1").arg(tunnel->config().port));
    auto itemOf = [&](const HttpExchange& exchange) {
        return request.har ? HarWriter::entry(exchange, base) : ExchangeJson::summary(exchange);
    };
    ReplyBudget budget;
    int omitted = 0;
    int bodiesCut = 0;
    QList<QJsonObject> taken;
    for (int row = 0; row < wanted; ++row) {
        HttpExchange exchange = log->exchangeAt(row);
        QJsonObject item = itemOf(exchange);
        qint64 size = ReplyBudget::sizeOf(item);
        if (!budget.fits(size) && dropPayloads(exchange, request.har)) {
            item = itemOf(exchange);
            size = ReplyBudget::sizeOf(item);
            ++bodiesCut;
        }
        if (!budget.fits(size)) {
            omitted = wanted - row;
            break;
        }
        budget.spend(size);
        taken.prepend(item);
    }
    QJsonArray items;
    for (const QJsonObject& item : taken)
        items.append(item);
    connection.reply({{request.har ? QStringLiteral("har") : QStringLiteral("requests"),
                       request.har ? QJsonValue(HarWriter::archive(items)) : QJsonValue(items)},
                      {QStringLiteral("omitted"), omitted},
                      {QStringLiteral("bodiesCut"), bodiesCut}});
}
