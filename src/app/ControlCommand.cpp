#include "app/ControlCommand.h"

#include "app/ControlClient.h"
#include "app/ControlRequest.h"
#include "app/SingleInstance.h"
#include "model/PortText.h"
#include "model/TunnelInstance.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <array>

namespace ControlCommand {
namespace {

using Command = ControlRequest::Command;

QString tr(const char* text) {
    return QCoreApplication::translate("ControlCommand", text);
}

struct Spec {
    Command command;
    const char* name;
    const char* summary;
};

constexpr std::array<Spec, 7> specs{{
    {Command::List, "list",
     QT_TRANSLATE_NOOP("ControlCommand",
                       "Print every tunnel: id, port, state, name, URL and problem.")},
    {Command::Start, "start", QT_TRANSLATE_NOOP("ControlCommand", "Start a tunnel.")},
    {Command::Stop, "stop", QT_TRANSLATE_NOOP("ControlCommand", "Stop a tunnel, or every tunnel.")},
    {Command::Url, "url",
     QT_TRANSLATE_NOOP("ControlCommand", "Print the public URL of an active tunnel; with --wait, "
                                         "wait for it to become active.")},
    {Command::Add, "add",
     QT_TRANSLATE_NOOP("ControlCommand", "Add a tunnel for a local port; it is saved at once.")},
    {Command::Remove, "remove",
     QT_TRANSLATE_NOOP("ControlCommand", "Remove a tunnel, stopping it first.")},
    {Command::Share, "share",
     QT_TRANSLATE_NOOP("ControlCommand", "Start the tunnel on a port (added when there is none), "
                                         "wait until it is active and print its URL.")},
}};

const Spec* findSpec(QStringView word) {
    for (const Spec& spec : specs) {
        if (word == QLatin1String(spec.name))
            return &spec;
    }
    return nullptr;
}

// The status of a reply's error code.
int statusOf(const QString& code) {
    if (code == QLatin1String("no-match"))
        return NoMatch;
    if (code == QLatin1String("ambiguous"))
        return Ambiguous;
    if (code == QLatin1String("timeout"))
        return TimedOut;
    if (code == QLatin1String("no-client"))
        return NoClient;
    if (code == QLatin1String("invalid-argument"))
        return Usage;
    return Failed;
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

std::optional<qint64> parseWait(const QString& text) {
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    if (!ok || !(seconds >= 0) || seconds * 1000 > double(ControlRequest::maxWaitMs))
        return std::nullopt;
    return qint64(seconds * 1000);
}

} // namespace

bool isCommand(QStringView word) {
    return findSpec(word) != nullptr;
}

int run(const QStringList& arguments, QTextStream& out, QTextStream& err,
        const QString& socketPath) {
    const Spec& spec = *findSpec(arguments.value(1));
    QCommandLineParser parser;
    parser.setApplicationDescription(tr(spec.summary));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  tr("Print this help and exit."));
    const QCommandLineOption json(QStringLiteral("json"),
                                  tr("Print one JSON document (fields: see quillby(1))."));
    const QCommandLineOption all(QStringLiteral("all"), tr("Every tunnel."));
    const QCommandLineOption wait(
        QStringLiteral("wait"),
        spec.command == Command::Share
            ? tr("Wait up to SECONDS for the tunnel to become active (default 60).")
            : tr("Wait up to SECONDS for the tunnel to become active (default: do not wait)."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption port(QStringLiteral("port"), tr("The local port, 1 to 65535."),
                                  QStringLiteral("N"));
    const QCommandLineOption name(QStringLiteral("name"),
                                  tr("The tunnel's name (default \"Tunnel\")."),
                                  QStringLiteral("NAME"));
    const QCommandLineOption start(QStringLiteral("start"), tr("Start it at once."));
    parser.addOption(help);
    parser.addPositionalArgument(QString::fromLatin1(spec.name), tr("The command."),
                                 QString::fromLatin1(spec.name) + QLatin1String(" [options]"));
    const QString tunnelHelp = tr("A tunnel's name, port or id (or the id's first 8 or more "
                                  "characters).");
    switch (spec.command) {
    case Command::List:
        parser.addOption(json);
        break;
    case Command::Stop:
        parser.addOption(all);
        [[fallthrough]];
    case Command::Start:
    case Command::Remove:
    case Command::Url:
        parser.addPositionalArgument(QStringLiteral("TUNNEL"), tunnelHelp);
        if (spec.command == Command::Url)
            parser.addOption(wait);
        break;
    case Command::Add:
        parser.addOptions({port, name, start});
        break;
    case Command::Share:
        parser.addPositionalArgument(QStringLiteral("PORT"), tr("The local port, 1 to 65535."));
        parser.addOption(wait);
        break;
    case Command::Show:
        break;
    }

    auto usage = [&](const QString& problem) {
        err << "quillby " << spec.name << ": " << problem << '\n'
            << tr("Try 'quillby %1 --help'.").arg(QLatin1String(spec.name)) << '\n';
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
    const QStringList positional = parser.positionalArguments().mid(1);

    ControlRequest request(spec.command);
    qsizetype wanted = 0; // positional arguments after the command
    switch (spec.command) {
    case Command::List:
        break;
    case Command::Stop:
        request.all = parser.isSet(all);
        wanted = request.all ? 0 : 1;
        break;
    case Command::Start:
    case Command::Remove:
    case Command::Url:
        wanted = 1;
        break;
    case Command::Add: {
        const auto number = parsePortText(parser.value(port));
        if (!number)
            return usage(tr("--port needs a port from 1 to 65535."));
        request.port = *number;
        if (parser.isSet(name))
            request.name = parser.value(name);
        request.startNow = parser.isSet(start);
        break;
    }
    case Command::Share: {
        const auto number = parsePortText(positional.value(0));
        if (!number)
            return usage(tr("PORT must be a port from 1 to 65535."));
        request.port = *number;
        request.waitMs = 60000;
        wanted = 1;
        break;
    }
    case Command::Show:
        break;
    }
    if (positional.size() != wanted)
        return usage(positional.size() > wanted
                         ? tr("unexpected argument '%1'.").arg(positional.value(wanted))
                         : tr("which tunnel? Name it by its name, port or id."));
    if (spec.command != Command::Share && spec.command != Command::Add)
        request.tunnel = positional.value(0);
    if ((spec.command == Command::Url || spec.command == Command::Share) && parser.isSet(wait)) {
        const auto ms = parseWait(parser.value(wait));
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
        return statusOf((*reply)[QLatin1String("error")].toString());
    }

    switch (spec.command) {
    case Command::List:
        if (parser.isSet(json)) {
            const QJsonObject document{
                {QStringLiteral("tunnels"), (*reply)[QLatin1String("tunnels")]},
                {QStringLiteral("client"), (*reply)[QLatin1String("client")]}};
            out << QJsonDocument(document).toJson(QJsonDocument::Indented);
        } else {
            printTunnels(out, (*reply)[QLatin1String("tunnels")].toArray());
        }
        break;
    case Command::Url:
    case Command::Share:
        out << (*reply)[QLatin1String("url")].toString() << '\n';
        break;
    case Command::Add:
        out << (*reply)[QLatin1String("tunnel")][QLatin1String("id")].toString() << '\n';
        break;
    default:
        break;
    }
    return Done;
}

} // namespace ControlCommand
