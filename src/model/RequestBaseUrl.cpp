#include "model/RequestBaseUrl.h"

#include "model/TunnelInstance.h"

namespace RequestBaseUrl {

QString of(const TunnelInstance& tunnel) {
    return tunnel.tunnelURL().value_or(
        QStringLiteral("http://localhost:%1").arg(tunnel.config().port));
}

} // namespace RequestBaseUrl
