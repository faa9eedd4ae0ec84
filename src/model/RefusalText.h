#pragma once

#include "proxy/HostCheck.h"

#include <QString>

// The row's words for a dev server's host check that refused requests through the tunnel:
// which check, and what fixes it.
namespace RefusalText {

// With rewriting off, the switch fixes it; with it on, only the dev server's own setting.
QString problem(HostCheck check, bool rewriteHost);
QString detail(HostCheck check, bool rewriteHost, const QString& tunnelName, qint64 port);

} // namespace RefusalText
