#include "cli/ControlCommand.h"

#include "control/CommandSpec.h"
#include "control/ControlClient.h"
#include "control/ControlRequest.h"
#include "control/SingleInstance.h"
#include "model/PortText.h"
#include "model/TunnelInstance.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <csignal>

namespace ControlCommand {
namespace {

using Command = ControlRequest::Command;
using Field = CommandSpec::Field;
using Form = CommandSpec::Form;

QString tr(const char* text) {
    return QCoreApplication::translate("ControlCommand", text);
}

// The commands the command line offers; show is the application's own.
const CommandSpec* findSpec(QStringView word) {
    const CommandSpec* spec = CommandSpec::find(word);
    return spec && spec->summary ? spec : nullptr;
}

// The status of a reply's error code; a code this version does not know is a failure.
int statusOf(std::optional<ControlError::Code> code) {
    using Code = ControlError::Code;
    if (!code)
        return Failed;
    switch (*code) {
    case Code::NoMatch:
        return NoMatch;
    case Code::Ambiguous:
        return Ambiguous;
    case Code::Timeout:
        return TimedOut;
    case Code::NoClient:
        return NoClient;
    case Code::InvalidArgument:
        return Usage;
    default:
        return Failed;
    }
}

// id (first 8), port, state, name, then the URL and the problem, aligned in columns.
void printTunnels(QTextStream& out, const QJsonArray& tunnels, const QString& indent = {}) {
    qsizetype nameWidth = 0;
    for (const QJsonValue& tunnel : tunnels)
        nameWidth = qMax(nameWidth, tunnel[QLatin1String("name")].toString().size());
    nameWidth = qMin<qsizetype>(nameWidth, 30);
    for (const QJsonValue& tunnel : tunnels) {
        QString line =
            tunnel[QLatin1String("id")].toString().left(8) + QLatin1String("  ") +
            QString::number(tunnel[QLatin1String("port")].toInteger()).rightJustified(5) +
            QLatin1String("  ") + tunnel[QLatin1String("state")].toString().leftJustified(12) +
            tunnel[QLatin1String("name")].toString().leftJustified(nameWidth);
        if (const QString url = tunnel[QLatin1String("url")].toString(); !url.isEmpty())
            line += QLatin1String("  ") + url;
        if (const QString problem = tunnel[QLatin1String("problem")].toString(); !problem.isEmpty())
            line += QLatin1String("  (") + problem + QLatin1Char(')');
        out << indent << line.trimmed() << '\n';
    }
}

// id, time, method, path, status, duration and the sizes sent and received, aligned.
void printRequests(QTextStream& out, const QJsonArray& requests) {
    qsizetype idWidth = 1, pathWidth = 0;
    for (const QJsonValue& request : requests) {
        idWidth = qMax(idWidth, QString::number(request[QLatin1String("id")].toInteger()).size());
        pathWidth = qMax(pathWidth, request[QLatin1String("path")].toString().size());
    }
    pathWidth = qMin<qsizetype>(pathWidth, 40);
    for (const QJsonValue& request : requests) {
        const int status = request[QLatin1String("status")].toInt();
        const QDateTime time =
            QDateTime::fromString(request[QLatin1String("time")].toString(), Qt::ISODateWithMs);
        const QString line =
            QString::number(request[QLatin1String("id")].toInteger()).rightJustified(idWidth) +
            QLatin1String("  ") + time.toLocalTime().toString(QStringLiteral("HH:mm:ss")) +
            QLatin1String("  ") + request[QLatin1String("method")].toString().leftJustified(7) +
            QLatin1Char(' ') + request[QLatin1String("path")].toString().leftJustified(pathWidth) +
            QLatin1String("  ") + (status ? QString::number(status) : QStringLiteral("---")) +
            QLatin1String("  ") +
            (QString::number(qRound64(request[QLatin1String("durationMs")].toDouble())) +
             QLatin1String(" ms"))
                .rightJustified(8) +
            QLatin1String("  ") +
            QString::number(request[QLatin1String("requestBytes")].toInteger()).rightJustified(7) +
            QLatin1String(" / ") +
            QString::number(request[QLatin1String("responseBytes")].toInteger());
        out << line << '\n';
    }
}

// A URL line: with the credentials when they were asked for and there are some.
QString urlOf(const QJsonObject& reply) {
    const QString credentials = reply[QLatin1String("credentialsUrl")].toString();
    return credentials.isEmpty() ? reply[QLatin1String("url")].toString() : credentials;
}

// url --follow: the URL of each active moment, until the tunnel is removed or Quillby quits.
int follow(QTextStream& out, ControlClient& client) {
    // Interrupted, the command has done what it was for; what it printed is flushed.
    for (const int signal : {SIGINT, SIGTERM})
        std::signal(signal, [](int) { std::_Exit(Done); });
    while (const std::optional<QJsonObject> event = client.next()) {
        const QString kind = (*event)[QLatin1String("event")].toString();
        if (kind == QLatin1String("active")) {
            out << urlOf(*event) << '\n';
            out.flush();
        } else if (kind == QLatin1String("removed")) {
            return Done;
        } else if (kind == QLatin1String("quit")) {
            break;
        }
    }
    return NotRunning;
}

// login: the page to open on standard error, then how signing in ended.
int signIn(QTextStream& out, QTextStream& err, ControlClient& client) {
    while (const std::optional<QJsonObject> event = client.next()) {
        if ((*event)[QLatin1String("event")].toString() == QLatin1String("signInUrl")) {
            err << tr("Open this page to sign in: %1").arg(urlOf(*event)) << '\n';
            err.flush();
        } else if ((*event)[QLatin1String("ok")].toBool()) {
            out << tr("Signed in") << '\n';
            return Done;
        } else {
            err << "quillby: " << (*event)[QLatin1String("message")].toString() << '\n';
            return statusOf(ControlError::codeNamed((*event)[QLatin1String("error")].toString()));
        }
    }
    return Failed;
}

// What a command prints when it succeeds.
void printReply(QTextStream& out, QTextStream& err, Command command, const QJsonObject& reply,
                bool json) {
    switch (command) {
    case Command::List:
        if (json) {
            const QJsonObject document{{QStringLiteral("tunnels"), reply[QLatin1String("tunnels")]},
                                       {QStringLiteral("client"), reply[QLatin1String("client")]}};
            out << QJsonDocument(document).toJson(QJsonDocument::Indented);
        } else {
            printTunnels(out, reply[QLatin1String("tunnels")].toArray());
        }
        break;
    case Command::Url:
    case Command::Share:
        out << urlOf(reply) << '\n';
        break;
    case Command::Requests: {
        if (reply.contains(QLatin1String("har")))
            out << QJsonDocument(reply[QLatin1String("har")].toObject())
                       .toJson(QJsonDocument::Indented);
        else if (json)
            out << QJsonDocument(reply[QLatin1String("requests")].toArray())
                       .toJson(QJsonDocument::Indented);
        else
            printRequests(out, reply[QLatin1String("requests")].toArray());
        const int omitted = reply[QLatin1String("omitted")].toInt();
        const int cut = reply[QLatin1String("bodiesCut")].toInt();
        if (omitted > 0 || cut > 0)
            err << tr("quillby: to stay within %1 MiB, %2 older requests were left out and %3 "
                      "bodies cut.")
                       .arg(ControlRequest::maxReplyBytes / (1024 * 1024))
                       .arg(omitted)
                       .arg(cut)
                << '\n';
        break;
    }
    case Command::Replay: {
        const QJsonObject request = reply[QLatin1String("request")].toObject();
        const int status = request[QLatin1String("status")].toInt();
        out << request[QLatin1String("id")].toInteger() << "  "
            << (status ? QStringLiteral("HTTP/1.1 %1 %2")
                             .arg(status)
                             .arg(request[QLatin1String("reason")].toString())
                             .trimmed()
                       : tr("no response"))
            << '\n';
        break;
    }
    case Command::Add:
        out << reply[QLatin1String("tunnel")][QLatin1String("id")].toString() << '\n';
        break;
    case Command::Remove:
        if (const QString note = reply[QLatin1String("note")].toString(); !note.isEmpty())
            err << note << '\n';
        break;
    default:
        break;
    }
}

} // namespace

bool isCommand(QStringView word) {
    return findSpec(word) != nullptr;
}

QString commandList() {
    QStringList lines;
    QString synopses;
    const char* overview = nullptr;
    auto endLine = [&] {
        if (synopses.isEmpty())
            return;
        lines.append(overview ? QLatin1String("  ") + synopses.leftJustified(31) +
                                    QLatin1String("  ") + tr(overview)
                              : QLatin1String("  ") + synopses);
    };
    for (const CommandSpec& spec : CommandSpec::all()) {
        if (!spec.summary)
            continue;
        if (!synopses.isEmpty() && qstrcmp(spec.overview, overview) == 0) {
            synopses += QLatin1String(", ") + spec.synopsis();
            continue;
        }
        endLine();
        synopses = spec.synopsis();
        overview = spec.overview;
    }
    endLine();
    return lines.join(QLatin1Char('\n'));
}

int run(const QStringList& arguments, QTextStream& out, QTextStream& err,
        const QString& socketPath) {
    const CommandSpec& spec = *findSpec(arguments.value(1));
    const QString commandName = QLatin1String(spec.name);
    QCommandLineParser parser;
    parser.setApplicationDescription(tr(spec.summary));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  tr("Print this help and exit."));
    parser.addOption(help);
    const QString syntax = commandName + QLatin1Char(' ') + tr("[options]");
    parser.addPositionalArgument(commandName, tr("The command."), syntax);
    QList<Field> positionalFields;
    for (const CommandSpec::Parameter& parameter : spec.parameters) {
        if (parameter.field == Field::None)
            continue;
        const CommandSpec::FieldText& field = CommandSpec::textOf(parameter.field);
        const QString help = tr(parameter.help ? parameter.help : field.help);
        if (parameter.form == Form::Argument) {
            parser.addPositionalArgument(CommandSpec::argumentName(parameter.field), help);
            positionalFields.append(parameter.field);
        } else {
            parser.addOption(QCommandLineOption(
                CommandSpec::optionName(parameter.field), help,
                parameter.form == Form::Switch ? QString() : QLatin1String(field.valueName)));
        }
    }

    auto usage = [&](const QString& problem) {
        err << "quillby " << commandName << ": " << problem << '\n'
            << tr("Try 'quillby %1 --help'.").arg(commandName) << '\n';
        return Usage;
    };
    if (!parser.parse(arguments))
        return usage(parser.errorText());
    if (parser.isSet(help)) {
        // Qt's usage line names the program by its path and adds its own (translated) options
        // mark before the command; people call it quillby. Qt's word for "Usage:" is kept.
        QString text = parser.helpText();
        const qsizetype command = text.indexOf(QLatin1Char(' ') + syntax);
        text.replace(0, command + 1,
                     text.left(text.indexOf(QLatin1Char(':')) + 1) + QLatin1String(" quillby "));
        out << text;
        return Done;
    }

    // A field's value as given: its argument or its option.
    const QStringList positional = parser.positionalArguments().mid(1);
    auto given = [&](Field field) {
        const qsizetype index = positionalFields.indexOf(field);
        return index >= 0 ? positional.value(index) : parser.value(CommandSpec::optionName(field));
    };
    auto isSet = [&](Field field) {
        return spec.parameter(field) && parser.isSet(CommandSpec::optionName(field));
    };
    ControlRequest request(spec.command);
    request.all = isSet(Field::All);
    const CommandSpec::Parameter* port = spec.parameter(Field::Port);
    if (port && (port->form != Form::Option || isSet(Field::Port))) {
        const auto number = parsePortText(given(Field::Port));
        if (!number)
            return usage(port->form == Form::Argument ? tr("PORT must be a port from 1 to 65535.")
                                                      : tr("--port needs a port from 1 to 65535."));
        request.port = *number;
    }
    if (isSet(Field::Name))
        request.name = given(Field::Name);
    request.startNow = isSet(Field::Start);
    // --all stands in for the tunnel.
    const qsizetype wanted = positionalFields.size() - (request.all ? 1 : 0);
    if (positional.size() != wanted)
        return usage(positional.size() > wanted
                         ? tr("unexpected argument '%1'.").arg(positional.value(wanted))
                     : positional.size() == 1
                         ? tr("which request? Give its id, as quillby requests prints it.")
                         : tr("which tunnel? Name it by its name, port or id."));
    if (spec.parameter(Field::Tunnel) && !request.all)
        request.tunnel = given(Field::Tunnel);
    request.waitMs = spec.defaultWaitMs;
    if (isSet(Field::Wait)) {
        bool ok = false;
        const double seconds = given(Field::Wait).toDouble(&ok);
        const auto ms = ok ? ControlRequest::waitMsOf(seconds) : std::nullopt;
        if (!ms)
            return usage(tr("--wait needs a number of seconds."));
        request.waitMs = *ms;
    }
    // on|off, or a switch that turns it on.
    for (const Field field : {Field::RewriteHost, Field::Inspect, Field::Password}) {
        if (!isSet(field))
            continue;
        std::optional<bool>& value = field == Field::RewriteHost ? request.rewriteHost
                                     : field == Field::Inspect   ? request.inspect
                                                                 : request.password;
        const QString text = given(field);
        if (spec.parameter(field)->form == Form::Switch || text == QLatin1String("on"))
            value = true;
        else if (text == QLatin1String("off"))
            value = false;
        else
            return usage(tr("--%1 takes on or off.").arg(CommandSpec::optionName(field)));
    }
    if (isSet(Field::For)) {
        request.stopAfter = ShareDuration::parse(given(Field::For));
        if (!request.stopAfter)
            return usage(tr("--for needs a duration such as 90s, 30m, 2h or 1h30m, or off."));
    }
    request.credentials = isSet(Field::Credentials);
    request.follow = isSet(Field::Follow);
    request.har = isSet(Field::Har);
    if (request.har && isSet(Field::Json))
        return usage(tr("--json and --har do not go together."));
    if (isSet(Field::Limit)) {
        request.limit = given(Field::Limit).toLongLong();
        if (request.limit < 1)
            return usage(tr("--limit needs a whole number from 1."));
    }
    if (isSet(Field::Hostname)) {
        const QString host = given(Field::Hostname);
        request.hostname = host == QLatin1String("quick") ? QString() : host;
    }
    request.deleteRemote = isSet(Field::DeleteRemote);
    request.again = isSet(Field::Again);
    if (spec.parameter(Field::RequestId)) {
        request.requestId = given(Field::RequestId).toLongLong();
        if (request.requestId < 1)
            return usage(tr("REQUEST_ID must be a request's id, as quillby requests prints it."));
    }

    ControlClient client(socketPath.isEmpty() ? SingleInstance().socketPath() : socketPath);
    // Long enough for the wait asked for, and for a stubborn child to be killed on stop.
    const int timeoutMs = int(request.waitMs) + TunnelInstance::killGraceMs + 5000;
    const std::optional<QJsonObject> reply = client.send(request, timeoutMs);
    if (!reply) {
        if (client.failure() == ControlClient::Failure::NotRunning) {
            err << tr("quillby: Quillby is not running.") << '\n';
            return NotRunning;
        }
        err << tr("quillby: Quillby did not answer.") << '\n';
        return Failed;
    }
    if (!(*reply)[QLatin1String("ok")].toBool()) {
        err << "quillby: " << (*reply)[QLatin1String("message")].toString() << '\n';
        printTunnels(err, (*reply)[QLatin1String("matches")].toArray(), QStringLiteral("  "));
        return statusOf(ControlError::codeNamed((*reply)[QLatin1String("error")].toString()));
    }
    if (request.follow)
        return follow(out, client);
    if (spec.command == Command::Login)
        return signIn(out, err, client);
    printReply(out, err, spec.command, *reply, isSet(Field::Json));
    return Done;
}

} // namespace ControlCommand
