#include "model/TunnelConfig.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QVariant>
#include <cmath>

TunnelConfig TunnelConfig::create(const QString& name, qint64 port) {
    return TunnelConfig{QUuid::createUuid(), name, port};
}

QJsonObject TunnelConfig::toJson() const {
    QJsonObject object{
        {QStringLiteral("id"), id.toString(QUuid::WithoutBraces).toUpper()},
        {QStringLiteral("name"), name},
        {QStringLiteral("port"), QJsonValue(port)},
    };
    if (inspect)
        object.insert(QStringLiteral("inspect"), true);
    if (!rewriteHost)
        object.insert(QStringLiteral("rewriteHost"), false);
    if (password)
        object.insert(QStringLiteral("password"), true);
    if (!hostname.isEmpty())
        object.insert(QStringLiteral("hostname"), hostname);
    if (!remote.isNull())
        object.insert(QStringLiteral("namedTunnel"), remote.toString(QUuid::WithoutBraces));
    return object;
}

namespace {

// A JSON number that is a whole number within 64 bits. Integers the parser kept exact
// arrive as qlonglong; anything else arrived as a double and is accepted only where a
// double still holds it exactly.
std::optional<qint64> integerValue(const QJsonValue& value) {
    if (!value.isDouble())
        return std::nullopt;
    const QVariant variant = value.toVariant();
    if (variant.typeId() == QMetaType::LongLong)
        return variant.toLongLong();
    const double number = value.toDouble();
    constexpr double exactLimit = 9007199254740992.0; // 2^53
    if (!std::isfinite(number) || std::trunc(number) != number || std::fabs(number) > exactLimit)
        return std::nullopt;
    return static_cast<qint64>(number);
}

// The 36-character form, either case, nothing around it.
std::optional<QUuid> uuidValue(const QJsonValue& value) {
    if (!value.isString())
        return std::nullopt;
    const QString text = value.toString();
    if (text.size() != 36)
        return std::nullopt;
    const QUuid uuid = QUuid::fromString(text);
    if (uuid.isNull() && text != QStringLiteral("00000000-0000-0000-0000-000000000000"))
        return std::nullopt;
    return uuid;
}

} // namespace

std::optional<TunnelConfig> TunnelConfig::fromJson(const QJsonValue& value) {
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const auto id = uuidValue(object.value(QStringLiteral("id")));
    if (!id)
        return std::nullopt;
    const QJsonValue name = object.value(QStringLiteral("name"));
    if (!name.isString())
        return std::nullopt;
    const auto port = integerValue(object.value(QStringLiteral("port")));
    if (!port)
        return std::nullopt;
    const bool inspect = object.value(QStringLiteral("inspect")).toBool(false);
    const bool rewriteHost = object.value(QStringLiteral("rewriteHost")).toBool(true);
    const bool password = object.value(QStringLiteral("password")).toBool(false);
    const QString hostname = object.value(QStringLiteral("hostname")).toString();
    const QUuid remote = uuidValue(object.value(QStringLiteral("namedTunnel"))).value_or(QUuid());
    return TunnelConfig{*id,         name.toString(), *port,    inspect,
                        rewriteHost, password,        hostname, remote};
}

bool operator==(const TunnelConfig& a, const TunnelConfig& b) {
    if (a.id != b.id)
        return false;
    if (a.name != b.name && a.name.normalized(QString::NormalizationForm_C) !=
                                b.name.normalized(QString::NormalizationForm_C))
        return false;
    return a.port == b.port;
}

size_t qHash(const TunnelConfig& config, size_t seed) noexcept {
    return qHashMulti(seed, config.id, config.name.normalized(QString::NormalizationForm_C),
                      config.port);
}

QByteArray encodeTunnelConfigs(const QList<TunnelConfig>& configs) {
    QJsonArray array;
    for (const TunnelConfig& config : configs)
        array.append(config.toJson());
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<QList<TunnelConfig>> decodeTunnelConfigs(const QByteArray& json) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    QList<TunnelConfig> configs;
    const QJsonArray array = document.array();
    configs.reserve(array.size());
    for (const QJsonValue& element : array) {
        auto config = TunnelConfig::fromJson(element);
        if (!config)
            return std::nullopt;
        configs.append(std::move(*config));
    }
    return configs;
}
