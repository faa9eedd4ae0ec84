#pragma once

#include "proxy/HttpExchange.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>

// Captured exchanges as an HTTP Archive (HAR 1.2), the format browsers' developer tools and
// HTTP tools import. URLs are the paths on baseUrl (the tunnel's public URL). Bodies that are
// not UTF-8 text go as base64 (content's "encoding"; "_encoding" in postData, which has no
// such field); bodies cut when captured say so in "_truncated" and a comment. An upgraded
// entry's WebSocket messages go in "_webSocketMessages", as Chromium's DevTools export them.
namespace HarWriter {

QJsonObject entry(const HttpExchange& exchange, const QString& baseUrl);
// The whole archive, {"log": {...}}, around entries made by entry()
QJsonObject archive(const QJsonArray& entries);
// exchanges in the order given; HAR readers expect oldest first
QByteArray document(const QList<HttpExchange>& exchanges, const QString& baseUrl);

} // namespace HarWriter
