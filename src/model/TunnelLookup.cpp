#include "model/TunnelLookup.h"

#include "model/PortText.h"
#include "model/TunnelName.h"

#include <algorithm>

namespace {

bool isAsciiHexDigit(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

} // namespace

QList<qsizetype> lookUpTunnels(const QList<TunnelConfig>& tunnels, const QString& text) {
    const QString wanted = trimTunnelName(text);
    QString id = wanted;
    if (id.startsWith(QLatin1Char('{')) && id.endsWith(QLatin1Char('}')))
        id = id.mid(1, id.size() - 2);
    const std::optional<qint64> port = parsePortText(wanted);
    // An id's first 8 or more characters are enough, as a name or a port is.
    const bool mayBeId = id.size() >= 8 && std::all_of(id.begin(), id.end(), [](QChar c) {
                             return c == u'-' || isAsciiHexDigit(c.unicode());
                         });
    QList<qsizetype> matches;
    for (qsizetype i = 0; i < tunnels.size(); ++i) {
        const TunnelConfig& tunnel = tunnels[i];
        const QString idText = tunnel.id.toString(QUuid::WithoutBraces).toUpper();
        if (idText.compare(id, Qt::CaseInsensitive) == 0)
            return {i};
        if (tunnel.name == wanted || (port && tunnel.port == *port) ||
            (mayBeId && idText.startsWith(id, Qt::CaseInsensitive)))
            matches.append(i);
    }
    return matches;
}
