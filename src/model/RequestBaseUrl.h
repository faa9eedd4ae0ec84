#pragma once

#include <QString>

class TunnelInstance;

// Where the requests in a tunnel's log came to, for curl commands and HAR files: its public
// URL, or, with none (stopped), the local server.
namespace RequestBaseUrl {

QString of(const TunnelInstance& tunnel);

} // namespace RequestBaseUrl
