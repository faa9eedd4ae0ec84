#include "control/ControlRequest.h"

#include "control/CommandSpec.h"
#include "model/HostnameText.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace {

using Field = CommandSpec::Field;

ControlError invalid(const QString& message) {
    return {ControlError::Code::InvalidArgument, message};
}

// A JSON number that is a whole number in [low, high].
std::optional<qint64> wholeNumber(const QJsonValue& value, double low, double high) {
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!(number >= low && number <= high) || std::trunc(number) != number)
        return std::nullopt;
    return static_cast<qint64>(number);
}

// Reads one field the command takes into the request; the error when its value is wrong.
std::optional<ControlError> readField(ControlRequest& request, Field field,
                                      const QJsonObject& object) {
    const QJsonValue value = object.value(QLatin1String(CommandSpec::textOf(field).name));
    switch (field) {
    case Field::Tunnel:
        if (!value.isString() || value.toString().isEmpty())
            return invalid(QStringLiteral("\"tunnel\" must be a name, a port or an id"));
        request.tunnel = value.toString();
        break;
    case Field::All:
        if (!value.isBool() || (value.toBool() && object.contains(QLatin1String("tunnel"))))
            return invalid(QStringLiteral("\"all\" is true, without \"tunnel\""));
        request.all = value.toBool();
        break;
    case Field::Port: {
        const auto number = wholeNumber(value, 1, 65535);
        if (!number)
            return invalid(QStringLiteral("\"port\" must be a whole number from 1 to 65535"));
        request.port = *number;
        break;
    }
    case Field::Name:
        if (!value.isString())
            return invalid(QStringLiteral("\"name\" must be text"));
        request.name = value.toString();
        break;
    case Field::Start:
        if (!value.isBool())
            return invalid(QStringLiteral("\"start\" must be true or false"));
        request.startNow = value.toBool();
        break;
    case Field::Wait: {
        const auto ms = ControlRequest::waitMsOf(value.toDouble(-1));
        if (!value.isDouble() || !ms)
            return invalid(QStringLiteral("\"wait\" must be from 0 to %1 seconds")
                               .arg(ControlRequest::maxWaitMs / 1000));
        request.waitMs = *ms;
        break;
    }
    case Field::RewriteHost:
    case Field::Inspect:
    case Field::Password: {
        if (!value.isBool())
            return invalid(QStringLiteral("\"%1\" must be true or false")
                               .arg(QLatin1String(CommandSpec::textOf(field).name)));
        auto& member = field == Field::RewriteHost ? request.rewriteHost
                       : field == Field::Inspect   ? request.inspect
                                                   : request.password;
        member = value.toBool();
        break;
    }
    case Field::For: {
        const auto seconds = wholeNumber(value, 1, double(ShareDuration::longest.count()));
        if (!value.isNull() && !seconds)
            return invalid(QStringLiteral("\"for\" must be null or from 1 to %1 seconds")
                               .arg(ShareDuration::longest.count()));
        request.stopAfter =
            seconds ? ShareDuration::Limit(std::chrono::seconds(*seconds)) : ShareDuration::Limit();
        break;
    }
    case Field::Credentials:
    case Field::Follow:
    case Field::Har:
        if (!value.isBool())
            return invalid(QStringLiteral("\"%1\" must be true or false")
                               .arg(QLatin1String(CommandSpec::textOf(field).name)));
        (field == Field::Credentials ? request.credentials
         : field == Field::Follow    ? request.follow
                                     : request.har) = value.toBool();
        break;
    case Field::Limit:
    case Field::RequestId: {
        // Ids count up from 1 as doubles do exactly.
        const auto number = wholeNumber(value, 1, 9007199254740992.0);
        if (!number)
            return invalid(QStringLiteral("\"%1\" must be a whole number from 1")
                               .arg(QLatin1String(CommandSpec::textOf(field).name)));
        (field == Field::Limit ? request.limit : request.requestId) = *number;
        break;
    }
    case Field::Hostname: {
        // Empty for a quick tunnel.
        const std::optional<QString> host =
            value.isString() ? parseHostnameText(value.toString()) : std::nullopt;
        if (!host)
            return invalid(QStringLiteral("\"hostname\" must be a host name such as "
                                          "dev.example.com, or empty for a quick tunnel"));
        request.hostname = *host;
        break;
    }
    case Field::DeleteRemote:
    case Field::Again:
        if (!value.isBool())
            return invalid(QStringLiteral("\"%1\" must be true or false")
                               .arg(QLatin1String(CommandSpec::textOf(field).name)));
        (field == Field::Again ? request.again : request.deleteRemote) = value.toBool();
        break;
    case Field::None:
    case Field::Json:
        break;
    }
    return std::nullopt;
}

} // namespace

QString ControlRequest::commandName(Command command) {
    for (const CommandSpec& spec : CommandSpec::all()) {
        if (spec.command == command)
            return QString::fromLatin1(spec.name);
    }
    return {};
}

ControlError ControlRequest::tooLarge() {
    return {ControlError::Code::TooLarge,
            QStringLiteral("a request may hold at most %1 bytes").arg(maxLineBytes)};
}

std::optional<qint64> ControlRequest::waitMsOf(double seconds) {
    if (!(seconds >= 0 && seconds * 1000 <= double(maxWaitMs)))
        return std::nullopt;
    return std::llround(seconds * 1000);
}

ControlRequest::Parsed ControlRequest::parse(QByteArrayView line) {
    if (line.size() > maxLineBytes)
        return tooLarge();

    QJsonParseError jsonError;
    const QJsonDocument document = QJsonDocument::fromJson(line.toByteArray(), &jsonError);
    if (!document.isObject())
        return ControlError{ControlError::Code::Malformed,
                            QStringLiteral("a request is one JSON object on one line")};
    const QJsonObject object = document.object();
    if (wholeNumber(object.value(QLatin1String("v")), version, version) != version)
        return ControlError{ControlError::Code::Version,
                            QStringLiteral("this Quillby speaks protocol version %1").arg(version)};

    const QString name = object.value(QLatin1String("cmd")).toString();
    const CommandSpec* spec = CommandSpec::find(name);
    if (!spec)
        return ControlError{ControlError::Code::UnknownCommand,
                            QStringLiteral("unknown command \"%1\"").arg(name.left(40))};
    ControlRequest request(spec->command);
    // "all" stands in for "tunnel"; a request with both is refused when "all" is read.
    const bool all = spec->parameter(Field::All) && object.value(QLatin1String("all")).toBool();
    for (const CommandSpec::Parameter& parameter : spec->parameters) {
        if (parameter.field == Field::None || (parameter.field == Field::Tunnel && all))
            continue;
        const bool given =
            object.contains(QLatin1String(CommandSpec::textOf(parameter.field).name));
        const bool optional = parameter.form == CommandSpec::Form::Option ||
                              parameter.form == CommandSpec::Form::Switch;
        if (given || !optional) {
            if (const auto error = readField(request, parameter.field, object))
                return *error;
        }
    }
    return request;
}

QByteArray ControlRequest::encode() const {
    QJsonObject object{{QStringLiteral("v"), version},
                       {QStringLiteral("cmd"), commandName(m_command)}};
    if (!tunnel.isEmpty())
        object.insert(QStringLiteral("tunnel"), tunnel);
    if (all)
        object.insert(QStringLiteral("all"), true);
    if (port != 0)
        object.insert(QStringLiteral("port"), port);
    if (name)
        object.insert(QStringLiteral("name"), *name);
    if (startNow)
        object.insert(QStringLiteral("start"), true);
    if (waitMs != 0)
        object.insert(QStringLiteral("wait"), double(waitMs) / 1000);
    const std::pair<const char*, std::optional<bool>> switches[] = {
        {"rewriteHost", rewriteHost},
        {"inspect", inspect},
        {"password", password},
        {"credentials", credentials ? std::optional(true) : std::nullopt},
        {"follow", follow ? std::optional(true) : std::nullopt},
        {"har", har ? std::optional(true) : std::nullopt},
        {"deleteRemote", deleteRemote ? std::optional(true) : std::nullopt},
        {"again", again ? std::optional(true) : std::nullopt}};
    for (const auto& [key, value] : switches) {
        if (value)
            object.insert(QLatin1String(key), *value);
    }
    if (stopAfter)
        object.insert(QStringLiteral("for"), *stopAfter ? QJsonValue(qint64((*stopAfter)->count()))
                                                        : QJsonValue(QJsonValue::Null));
    if (limit != 0)
        object.insert(QStringLiteral("limit"), limit);
    if (hostname)
        object.insert(QStringLiteral("hostname"), *hostname);
    if (requestId != 0)
        object.insert(QStringLiteral("requestId"), requestId);
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}
