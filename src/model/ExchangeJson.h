#pragma once

#include "proxy/HttpExchange.h"

#include <QJsonArray>
#include <QJsonObject>

// A captured exchange as `quillby requests` and `quillby replay` print it, without headers or
// bodies (HarWriter has those): one line of the log, with an upgraded entry's WebSocket
// messages.
namespace ExchangeJson {

QJsonObject summary(const HttpExchange& exchange);
// The messages oldest first; text frames as text, others as base64.
QJsonArray messages(const HttpExchange& exchange);

} // namespace ExchangeJson
