#include "cli/ControlCommand.h"

#include "control/CommandSpec.h"
#include "control/ControlClient.h"
#include "control/ControlRequest.h"
#include "control/SingleInstance.h"
#include "model/PortText.h"
#include "model/TunnelInstance.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>

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

// What a command prints when it succeeds.
void printReply(QTextStream& out, Command command, const QJsonObject& reply, bool json) {
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
        out << reply[QLatin1String("url")].toString() << '\n';
        break;
    case Command::Add:
        out << reply[QLatin1String("tunnel")][QLatin1String("id")].toString() << '\n';
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
    parser.addPositionalArgument(commandName, tr("The command."),
                                 commandName + QLatin1String(" [options]"));
    QList<Field> positionalFields;
    for (const CommandSpec::Parameter& parameter : spec.parameters) {
        if (parameter.field == Field::None)
            continue;
        const CommandSpec::FieldText& field = CommandSpec::textOf(parameter.field);
        const QString help = tr(parameter.help ? parameter.help : field.help);
        if (parameter.form == Form::Argument) {
            parser.addPositionalArgument(QString::fromLatin1(field.name).toUpper(), help);
            positionalFields.append(parameter.field);
        } else {
            parser.addOption(QCommandLineOption(QLatin1String(field.name), help,
                                                QLatin1String(field.valueName)));
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
        // The usage line names the program as it was called; people call it quillby.
        QString text = parser.helpText();
        const qsizetype command = text.indexOf(QLatin1String(" [options] ")) + 11;
        text.replace(0, command, QStringLiteral("Usage: quillby "));
        out << text;
        return Done;
    }

    // A field's value as given: its argument or its option.
    const QStringList positional = parser.positionalArguments().mid(1);
    auto given = [&](Field field) {
        const qsizetype index = positionalFields.indexOf(field);
        return index >= 0 ? positional.value(index)
                          : parser.value(QLatin1String(CommandSpec::textOf(field).name));
    };
    auto isSet = [&](Field field) {
        return spec.parameter(field) &&
               parser.isSet(QLatin1String(CommandSpec::textOf(field).name));
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
    printReply(out, spec.command, *reply, isSet(Field::Json));
    return Done;
}

} // namespace ControlCommand
