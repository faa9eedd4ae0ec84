#pragma once

#include "proxy/HttpExchange.h"

#include <QString>

// A captured request as a curl command for a POSIX shell: the same method, the path on
// baseUrl (the tunnel's public URL), every header field as captured and no other that curl
// would add on its own, and the same body bytes. Text bodies go inline; others, and long
// ones, come from printf with octal escapes through a pipe, so that any byte survives any sh.
namespace CurlCommand {

QString of(const HttpExchange& exchange, const QString& baseUrl);
// text as one word for a POSIX shell: in single quotes, each ' written as '\''
QString quoted(const QString& text);

} // namespace CurlCommand
