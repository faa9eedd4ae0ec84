#include "control/TunnelJson.h"

#include "model/ClientVersion.h"
#include "model/SharePassword.h"
#include "model/TunnelInstance.h"

#include <QUrl>

namespace {

QJsonValue timeOrNull(const QDateTime& time) {
    return time.isValid() ? QJsonValue(time.toUTC().toString(Qt::ISODate))
                          : QJsonValue(QJsonValue::Null);
}

QJsonValue textOrNull(const QString& text) {
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

// As the client's metrics server last counted them; null when it did not say.
QJsonValue connectionsOrNull(const TunnelInstance& tunnel) {
    const std::optional<int> count = tunnel.connections();
    return count ? QJsonValue(*count) : QJsonValue(QJsonValue::Null);
}

} // namespace

QString TunnelJson::stateName(const TunnelInstance& tunnel) {
    switch (tunnel.state()) {
    case TunnelInstance::State::Stopped:
        return QStringLiteral("stopped");
    case TunnelInstance::State::Connecting:
        return QStringLiteral("connecting");
    case TunnelInstance::State::Active:
        return QStringLiteral("active");
    case TunnelInstance::State::Reconnecting:
        return QStringLiteral("reconnecting");
    case TunnelInstance::State::Stopping:
        return QStringLiteral("stopping");
    }
    return {};
}

QJsonObject TunnelJson::describe(const TunnelInstance& tunnel) {
    return {{QStringLiteral("id"), tunnel.id().toString(QUuid::WithoutBraces).toUpper()},
            {QStringLiteral("name"), tunnel.config().name},
            {QStringLiteral("port"), tunnel.config().port},
            {QStringLiteral("state"), stateName(tunnel)},
            {QStringLiteral("url"),
             tunnel.tunnelURL() ? QJsonValue(*tunnel.tunnelURL()) : QJsonValue(QJsonValue::Null)},
            {QStringLiteral("problem"), textOrNull(tunnel.problem())},
            {QStringLiteral("rewriteHost"), tunnel.config().rewriteHost},
            {QStringLiteral("inspect"), tunnel.config().inspect},
            {QStringLiteral("requests"), qint64(tunnel.gateway()->requests())},
            {QStringLiteral("lastRequestAt"), timeOrNull(tunnel.gateway()->lastRequestAt())},
            {QStringLiteral("password"), tunnel.config().password},
            {QStringLiteral("stopsAt"), timeOrNull(tunnel.stopsAt())},
            {QStringLiteral("hostname"), textOrNull(tunnel.publicHostname())},
            {QStringLiteral("connections"), connectionsOrNull(tunnel)}};
}

QJsonObject TunnelJson::client(ClientVersion* version) {
    if (!version)
        return {};
    version->refresh();
    return {{QStringLiteral("path"), textOrNull(version->path())},
            {QStringLiteral("version"), textOrNull(version->version())}};
}

QString TunnelJson::withCredentials(const QString& url, const QString& password) {
    const qsizetype host = url.indexOf(QLatin1String("://")) + 3;
    if (password.isEmpty() || host < 3)
        return url;
    const QByteArray subDelims = "!$&'()*+,;=";
    return url.left(host) +
           QString::fromLatin1(
               QUrl::toPercentEncoding(SharePassword::userName.toString(), subDelims)) +
           QLatin1Char(':') + QString::fromLatin1(QUrl::toPercentEncoding(password, subDelims)) +
           QLatin1Char('@') + url.mid(host);
}
