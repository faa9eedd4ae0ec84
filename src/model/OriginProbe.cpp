#include "model/OriginProbe.h"

#include "ports/PortScanner.h"

QString OriginAddress::url(qint64 port) const {
    const QString shown =
        host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return QStringLiteral("http://%1:%2").arg(shown).arg(port);
}

OriginAddress OriginProbe::chooseOrigin(qint64 port) {
    const QString ipv4 = QStringLiteral("127.0.0.1");
    if (PortScanner::probeIPv4(port, probeTimeoutMs))
        return {ipv4, true};
    if (PortScanner::probeIPv6(port, probeTimeoutMs))
        return {QStringLiteral("::1"), true};
    return {ipv4, false};
}

bool OriginProbe::answers(const QString& host, qint64 port) {
    return host.contains(QLatin1Char(':')) ? PortScanner::probeIPv6(port, probeTimeoutMs)
                                           : PortScanner::probeIPv4(port, probeTimeoutMs);
}
