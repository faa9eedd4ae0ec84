#include "control/ControlRequest.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <array>
#include <cmath>

namespace {

using Command = ControlRequest::Command;

constexpr std::array<std::pair<Command, const char*>, 8> commandNames{{
    {Command::Show, "show"},
    {Command::List, "list"},
    {Command::Start, "start"},
    {Command::Stop, "stop"},
    {Command::Url, "url"},
    {Command::Add, "add"},
    {Command::Remove, "remove"},
    {Command::Share, "share"},
}};

ControlError invalid(const QString& message) {
    return {QStringLiteral("invalid-argument"), message};
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

} // namespace

QString ControlRequest::commandName(Command command) {
    for (const auto& [known, name] : commandNames) {
        if (known == command)
            return QString::fromLatin1(name);
    }
    return {};
}

ControlError ControlRequest::tooLarge() {
    return {QStringLiteral("too-large"),
            QStringLiteral("a request may hold at most %1 bytes").arg(maxLineBytes)};
}

ControlRequest::Parsed ControlRequest::parse(QByteArrayView line) {
    if (line.size() > maxLineBytes)
        return tooLarge();
    // The hand-over of a second launch, as earlier versions send it.
    if (line == "show")
        return ControlRequest(Command::Show);

    QJsonParseError jsonError;
    const QJsonDocument document = QJsonDocument::fromJson(line.toByteArray(), &jsonError);
    if (!document.isObject())
        return ControlError{QStringLiteral("malformed"),
                            QStringLiteral("a request is one JSON object on one line")};
    const QJsonObject object = document.object();
    if (wholeNumber(object.value(QLatin1String("v")), version, version) != version)
        return ControlError{QStringLiteral("version"),
                            QStringLiteral("this Quillby speaks protocol version %1").arg(version)};

    const QString name = object.value(QLatin1String("cmd")).toString();
    std::optional<Command> command;
    for (const auto& [known, knownName] : commandNames) {
        if (name == QLatin1String(knownName))
            command = known;
    }
    if (!command)
        return ControlError{QStringLiteral("unknown-command"),
                            QStringLiteral("unknown command \"%1\"").arg(name.left(40))};
    ControlRequest request(*command);

    const QJsonValue tunnel = object.value(QLatin1String("tunnel"));
    const QJsonValue all = object.value(QLatin1String("all"));
    const QJsonValue port = object.value(QLatin1String("port"));
    const QJsonValue wait = object.value(QLatin1String("wait"));
    const bool needsTunnel = *command == Command::Start || *command == Command::Url ||
                             *command == Command::Remove ||
                             (*command == Command::Stop && !all.toBool());
    if (needsTunnel) {
        if (!tunnel.isString() || tunnel.toString().isEmpty())
            return invalid(QStringLiteral("\"tunnel\" must be a name, a port or an id"));
        request.tunnel = tunnel.toString();
    }
    if (*command == Command::Stop && !all.isUndefined()) {
        if (!all.isBool() || (all.toBool() && !tunnel.isUndefined()))
            return invalid(QStringLiteral("\"all\" is true, without \"tunnel\""));
        request.all = all.toBool();
    }
    if (*command == Command::Add || *command == Command::Share) {
        const auto number = wholeNumber(port, 1, 65535);
        if (!number)
            return invalid(QStringLiteral("\"port\" must be a whole number from 1 to 65535"));
        request.port = *number;
    }
    if (*command == Command::Add) {
        const QJsonValue given = object.value(QLatin1String("name"));
        const QJsonValue start = object.value(QLatin1String("start"));
        if (!given.isUndefined() && !given.isString())
            return invalid(QStringLiteral("\"name\" must be text"));
        if (!start.isUndefined() && !start.isBool())
            return invalid(QStringLiteral("\"start\" must be true or false"));
        if (given.isString())
            request.name = given.toString();
        request.startNow = start.toBool();
    }
    if ((*command == Command::Url || *command == Command::Share) && !wait.isUndefined()) {
        const double seconds = wait.toDouble(-1);
        if (!wait.isDouble() || !(seconds >= 0 && seconds * 1000 <= double(maxWaitMs)))
            return invalid(
                QStringLiteral("\"wait\" must be from 0 to %1 seconds").arg(maxWaitMs / 1000));
        request.waitMs = std::llround(seconds * 1000);
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
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}
