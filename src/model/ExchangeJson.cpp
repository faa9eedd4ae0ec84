#include "model/ExchangeJson.h"

QJsonArray ExchangeJson::messages(const HttpExchange& exchange) {
    QJsonArray list;
    for (const WebSocketMessage& message : exchange.messages) {
        QJsonObject item{{QStringLiteral("direction"), message.toServer
                                                           ? QStringLiteral("toServer")
                                                           : QStringLiteral("toClient")},
                         {QStringLiteral("time"), message.time.toUTC().toString(Qt::ISODateWithMs)},
                         {QStringLiteral("opcode"), message.opcode},
                         {QStringLiteral("size"), message.size}};
        if (message.isText())
            item.insert(QStringLiteral("text"), message.text());
        else
            item.insert(QStringLiteral("base64"), QString::fromLatin1(message.payload.toBase64()));
        if (message.unreadable)
            item.insert(QStringLiteral("unreadable"), true);
        list.append(item);
    }
    return list;
}

QJsonObject ExchangeJson::summary(const HttpExchange& exchange) {
    QJsonObject summary{{QStringLiteral("id"), qint64(exchange.id)},
                        {QStringLiteral("time"), exchange.time.toUTC().toString(Qt::ISODateWithMs)},
                        {QStringLiteral("method"), QString::fromUtf8(exchange.method)},
                        {QStringLiteral("path"), QString::fromUtf8(exchange.target)},
                        {QStringLiteral("status"), exchange.status},
                        {QStringLiteral("reason"), QString::fromUtf8(exchange.reason)},
                        {QStringLiteral("durationMs"), double(exchange.durationUs) / 1000},
                        {QStringLiteral("requestBytes"), exchange.requestBodySize},
                        {QStringLiteral("responseBytes"), exchange.responseBodySize},
                        {QStringLiteral("replayed"), exchange.replayed}};
    if (!exchange.messages.isEmpty())
        summary.insert(QStringLiteral("messages"), messages(exchange));
    if (exchange.messagesDropped > 0)
        summary.insert(QStringLiteral("messagesDropped"), exchange.messagesDropped);
    return summary;
}
