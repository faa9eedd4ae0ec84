#pragma once

#include "proxy/HttpExchange.h"

#include <QString>

// How a captured exchange reads in the inspector: the start line, the header fields as they
// came, then the body: JSON and XML pretty-printed (when they do not parse: as sent, after
// where they stop parsing), form data as one field a line, text as text, anything else as its
// size and its first bytes in hex.
namespace ExchangeText {

QString request(const HttpExchange& exchange);
QString response(const HttpExchange& exchange);
QString body(const QByteArray& body, const QByteArray& contentType, qint64 fullSize);
// Time to the first byte of the answer and in all.
QString timing(const HttpExchange& exchange);

} // namespace ExchangeText
