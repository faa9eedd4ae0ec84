#include "model/HarWriter.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStringDecoder>
#include <QUrlQuery>
#include <algorithm>

namespace {

QJsonArray nameValues(const HttpExchange::Headers& headers) {
    QJsonArray list;
    for (const auto& [name, value] : headers)
        list.append(QJsonObject{{QStringLiteral("name"), QString::fromUtf8(name)},
                                {QStringLiteral("value"), QString::fromUtf8(value)}});
    return list;
}

std::optional<QString> utf8Text(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError() || bytes.contains('\0'))
        return std::nullopt;
    return text;
}

// The body as text, or as base64 with encodingKey saying so; cut bodies marked.
void putBody(QJsonObject& object, const QByteArray& body, qint64 fullSize,
             const QString& encodingKey) {
    if (const auto text = utf8Text(body)) {
        object.insert(QStringLiteral("text"), *text);
    } else {
        object.insert(QStringLiteral("text"), QString::fromLatin1(body.toBase64()));
        object.insert(encodingKey, QStringLiteral("base64"));
    }
    if (fullSize > body.size()) {
        object.insert(QStringLiteral("_truncated"), true);
        object.insert(QStringLiteral("comment"),
                      QStringLiteral("Cut when captured: the first %1 of %2 bytes.")
                          .arg(body.size())
                          .arg(fullSize));
    }
}

double ms(qint64 us) {
    return double(us) / 1000.0;
}

// As Chromium's DevTools write them: "send" from the page (the visitor), seconds since the
// epoch; text frames as text, others as base64.
QJsonArray webSocketMessages(const HttpExchange& exchange) {
    QJsonArray list;
    for (const WebSocketMessage& message : exchange.messages)
        list.append(QJsonObject{
            {QStringLiteral("type"),
             message.toServer ? QStringLiteral("send") : QStringLiteral("receive")},
            {QStringLiteral("time"), double(message.time.toMSecsSinceEpoch()) / 1000.0},
            {QStringLiteral("opcode"), message.opcode},
            {QStringLiteral("data"),
             message.isText() ? message.text() : QString::fromLatin1(message.payload.toBase64())},
        });
    return list;
}

} // namespace

namespace HarWriter {

QJsonObject entry(const HttpExchange& exchange, const QString& baseUrl) {
    QString base = baseUrl;
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    const QString target = QString::fromUtf8(exchange.target);
    const QString url = target.startsWith(QLatin1Char('/')) ? base + target : target;

    QJsonArray query;
    const qsizetype mark = target.indexOf(QLatin1Char('?'));
    if (mark >= 0)
        for (const auto& [name, value] :
             QUrlQuery(target.mid(mark + 1)).queryItems(QUrl::FullyDecoded))
            query.append(
                QJsonObject{{QStringLiteral("name"), name}, {QStringLiteral("value"), value}});

    QJsonObject request{
        {QStringLiteral("method"), QString::fromLatin1(exchange.method)},
        {QStringLiteral("url"), url},
        {QStringLiteral("httpVersion"), QStringLiteral("HTTP/1.1")},
        {QStringLiteral("cookies"), QJsonArray()},
        {QStringLiteral("headers"), nameValues(exchange.requestHeaders)},
        {QStringLiteral("queryString"), query},
        {QStringLiteral("headersSize"), -1},
        {QStringLiteral("bodySize"), exchange.requestBodySize},
    };
    if (exchange.requestBodySize > 0) {
        QJsonObject postData{
            {QStringLiteral("mimeType"),
             QString::fromUtf8(HttpExchange::value(exchange.requestHeaders, "Content-Type"))}};
        putBody(postData, exchange.requestBody, exchange.requestBodySize,
                QStringLiteral("_encoding"));
        request.insert(QStringLiteral("postData"), postData);
    }
    if (exchange.replayed)
        request.insert(QStringLiteral("comment"),
                       exchange.edited ? QStringLiteral("Edited and replayed from Quillby")
                                       : QStringLiteral("Replayed from Quillby"));

    QJsonObject content{
        {QStringLiteral("size"), exchange.responseBodySize},
        {QStringLiteral("mimeType"),
         QString::fromUtf8(HttpExchange::value(exchange.responseHeaders, "Content-Type"))},
    };
    if (exchange.responseBodySize > 0)
        putBody(content, exchange.responseBody, exchange.responseBodySize,
                QStringLiteral("encoding"));
    const QJsonObject response{
        {QStringLiteral("status"), exchange.status},
        {QStringLiteral("statusText"), QString::fromLatin1(exchange.reason)},
        {QStringLiteral("httpVersion"), QStringLiteral("HTTP/1.1")},
        {QStringLiteral("cookies"), QJsonArray()},
        {QStringLiteral("headers"), nameValues(exchange.responseHeaders)},
        {QStringLiteral("content"), content},
        {QStringLiteral("redirectURL"),
         QString::fromUtf8(HttpExchange::value(exchange.responseHeaders, "Location"))},
        {QStringLiteral("headersSize"), -1},
        {QStringLiteral("bodySize"), exchange.status ? exchange.responseBodySize : -1},
    };

    // Until the answer's header: sent and waited for, not told apart here.
    const qint64 wait = exchange.status ? exchange.firstByteUs : exchange.durationUs;
    const QJsonObject timings{
        {QStringLiteral("send"), 0},
        {QStringLiteral("wait"), ms(wait)},
        {QStringLiteral("receive"), ms(qMax<qint64>(0, exchange.durationUs - wait))},
    };
    QJsonObject entry{
        {QStringLiteral("startedDateTime"), exchange.time.toUTC().toString(Qt::ISODateWithMs)},
        {QStringLiteral("time"), ms(exchange.durationUs)},
        {QStringLiteral("request"), request},
        {QStringLiteral("response"), response},
        {QStringLiteral("cache"), QJsonObject()},
        {QStringLiteral("timings"), timings},
    };
    if (!exchange.messages.isEmpty())
        entry.insert(QStringLiteral("_webSocketMessages"), webSocketMessages(exchange));
    return entry;
}

QJsonObject archive(const QJsonArray& entries) {
    // Oldest start first, the order HAR readers expect (DevTools sorts so on import); a log
    // holds its exchanges in the order they completed.
    QList<QJsonValue> byStart(entries.begin(), entries.end());
    std::stable_sort(byStart.begin(), byStart.end(), [](const QJsonValue& a, const QJsonValue& b) {
        return a[u"startedDateTime"].toString() < b[u"startedDateTime"].toString();
    });
    QJsonArray sorted;
    for (const QJsonValue& entry : byStart)
        sorted.append(entry);
    const QJsonObject log{
        {QStringLiteral("version"), QStringLiteral("1.2")},
        {QStringLiteral("creator"),
         QJsonObject{{QStringLiteral("name"), QStringLiteral("Quillby")},
                     {QStringLiteral("version"), QCoreApplication::applicationVersion()}}},
        {QStringLiteral("entries"), sorted},
    };
    return QJsonObject{{QStringLiteral("log"), log}};
}

QByteArray document(const QList<HttpExchange>& exchanges, const QString& baseUrl) {
    QJsonArray entries;
    for (const HttpExchange& exchange : exchanges)
        entries.append(entry(exchange, baseUrl));
    return QJsonDocument(archive(entries)).toJson(QJsonDocument::Indented);
}

} // namespace HarWriter
