#include "control/CommandSpec.h"

namespace {

using Command = ControlRequest::Command;
using Field = CommandSpec::Field;
using Form = CommandSpec::Form;

constexpr std::array<CommandSpec::FieldText, 20> fieldTexts{{
    {Field::None, "", nullptr, ""},
    {Field::Tunnel, "tunnel", nullptr,
     QT_TRANSLATE_NOOP("ControlCommand", "A tunnel's name, port or id (or the id's first 8 or "
                                         "more characters).")},
    {Field::All, "all", nullptr, QT_TRANSLATE_NOOP("ControlCommand", "Every tunnel.")},
    {Field::Port, "port", "N", QT_TRANSLATE_NOOP("ControlCommand", "The local port, 1 to 65535.")},
    {Field::Name, "name", "NAME",
     QT_TRANSLATE_NOOP("ControlCommand", "The tunnel's name (default \"Tunnel\").")},
    {Field::Start, "start", nullptr, QT_TRANSLATE_NOOP("ControlCommand", "Start it at once.")},
    {Field::Wait, "wait", "SECONDS",
     QT_TRANSLATE_NOOP("ControlCommand",
                       "Wait up to SECONDS for the tunnel to become active (default: do not "
                       "wait).")},
    {Field::Json, "json", nullptr,
     QT_TRANSLATE_NOOP("ControlCommand", "Print one JSON document (fields: see quillby(1)).")},
    {Field::RewriteHost, "rewriteHost", "on|off",
     QT_TRANSLATE_NOOP("ControlCommand", "Show the local server its own host name, localhost:PORT "
                                         "(on or off).")},
    {Field::Inspect, "inspect", "on|off",
     QT_TRANSLATE_NOOP("ControlCommand", "Record the requests through the tunnel (on or off).")},
    {Field::Password, "password", "on|off",
     QT_TRANSLATE_NOOP("ControlCommand", "Ask visitors for a password, a new one at every start "
                                         "(on or off).")},
    {Field::For, "for", "DURATION",
     QT_TRANSLATE_NOOP("ControlCommand", "Stop the tunnel by itself after DURATION, such as 90s, "
                                         "30m, 2h or 1h30m; off: until stopped.")},
    {Field::Credentials, "credentials", nullptr,
     QT_TRANSLATE_NOOP("ControlCommand",
                       "Print the URL with the user name and the password in it, when the "
                       "tunnel asks for a password.")},
    {Field::Follow, "follow", nullptr,
     QT_TRANSLATE_NOOP("ControlCommand", "Keep running: print the URL each time the tunnel "
                                         "becomes active, until it is removed.")},
    {Field::Har, "har", nullptr,
     QT_TRANSLATE_NOOP("ControlCommand", "Print an HTTP Archive (HAR 1.2) document.")},
    {Field::Limit, "limit", "N", QT_TRANSLATE_NOOP("ControlCommand", "Only the newest N.")},
    {Field::RequestId, "requestId", nullptr,
     QT_TRANSLATE_NOOP("ControlCommand", "A request's id, as quillby requests prints it.")},
    {Field::Hostname, "hostname", "HOST",
     QT_TRANSLATE_NOOP("ControlCommand",
                       "Its address on your own domain, such as dev.example.com, kept across "
                       "restarts (sign in first with quillby login); quick: a new random "
                       "address at every start.")},
    {Field::DeleteRemote, "deleteRemote", nullptr,
     QT_TRANSLATE_NOOP("ControlCommand", "Also delete its named tunnel from your account, and "
                                         "its credentials.")},
    {Field::Again, "again", nullptr,
     QT_TRANSLATE_NOOP("ControlCommand",
                       "Sign in anew even though a certificate is there, such as for another "
                       "domain; the old one is kept beside it as cert.pem.old.")},
}};

constexpr bool inFieldOrder() {
    for (size_t i = 0; i < fieldTexts.size(); ++i) {
        if (fieldTexts[i].field != Field(i))
            return false;
    }
    return true;
}
static_assert(inFieldOrder(), "fieldTexts is indexed by Field");

constexpr std::array<CommandSpec, 12> commands{{
    {Command::Show, "show", nullptr, nullptr, {}},
    {Command::List,
     "list",
     QT_TRANSLATE_NOOP("ControlCommand",
                       "Print every tunnel: id, port, state, name, URL and problem."),
     QT_TRANSLATE_NOOP("ControlCommand", "every tunnel and its state"),
     {{{Field::Json, Form::Switch}}}},
    {Command::Start,
     "start",
     QT_TRANSLATE_NOOP("ControlCommand", "Start a tunnel."),
     QT_TRANSLATE_NOOP("ControlCommand", "start or stop tunnels"),
     {{{Field::Tunnel, Form::Argument},
       {Field::For, Form::Option,
        QT_TRANSLATE_NOOP("ControlCommand",
                          "Stop it by itself after DURATION, such as 90s, 30m, 2h or 1h30m.")}}}},
    {Command::Stop,
     "stop",
     QT_TRANSLATE_NOOP("ControlCommand", "Stop a tunnel, or every tunnel."),
     QT_TRANSLATE_NOOP("ControlCommand", "start or stop tunnels"),
     {{{Field::Tunnel, Form::Argument}, {Field::All, Form::Option}}}},
    {Command::Url,
     "url",
     QT_TRANSLATE_NOOP("ControlCommand", "Print the public URL of an active tunnel; with --wait, "
                                         "wait for it to become active."),
     QT_TRANSLATE_NOOP("ControlCommand", "the public URL of an active tunnel"),
     {{{Field::Tunnel, Form::Argument},
       {Field::Wait, Form::Option},
       {Field::Credentials, Form::Switch},
       {Field::Follow, Form::Switch}}}},
    {Command::Add,
     "add",
     QT_TRANSLATE_NOOP("ControlCommand", "Add a tunnel for a local port; it is saved at once."),
     nullptr,
     {{{Field::Port, Form::RequiredOption},
       {Field::Name, Form::Option},
       {Field::Hostname, Form::Option},
       {Field::Start, Form::Switch}}}},
    {Command::Remove,
     "remove",
     QT_TRANSLATE_NOOP("ControlCommand", "Remove a tunnel, stopping it first."),
     nullptr,
     {{{Field::Tunnel, Form::Argument}, {Field::DeleteRemote, Form::Switch}}}},
    {Command::Share,
     "share",
     QT_TRANSLATE_NOOP("ControlCommand", "Start the tunnel on a port (added when there is none), "
                                         "wait until it is active and print its URL."),
     QT_TRANSLATE_NOOP("ControlCommand", "start a tunnel on PORT and print its URL"),
     {{{Field::Port, Form::Argument},
       {Field::Wait, Form::Option,
        QT_TRANSLATE_NOOP("ControlCommand",
                          "Wait up to SECONDS for the tunnel to become active (default 60).")},
       {Field::For, Form::Option},
       {Field::Password, Form::Switch,
        QT_TRANSLATE_NOOP("ControlCommand", "Turn the tunnel's password on and print the URL "
                                            "with the user name and the password in it.")}}},
     60000},
    {Command::Set,
     "set",
     QT_TRANSLATE_NOOP("ControlCommand", "Change a tunnel's name, port or switches, as the window "
                                         "does; a running tunnel keeps its URL, and the change "
                                         "is saved at once."),
     QT_TRANSLATE_NOOP("ControlCommand", "change a tunnel"),
     {{{Field::Tunnel, Form::Argument},
       {Field::Name, Form::Option, QT_TRANSLATE_NOOP("ControlCommand", "The tunnel's new name.")},
       {Field::Port, Form::Option},
       {Field::RewriteHost, Form::Option},
       {Field::Inspect, Form::Option},
       {Field::Password, Form::Option},
       {Field::For, Form::Option},
       {Field::Hostname, Form::Option}}}},
    {Command::Requests,
     "requests",
     QT_TRANSLATE_NOOP("ControlCommand", "Print the requests recorded through a tunnel, oldest "
                                         "first: id, time, method, path, status, duration and "
                                         "sizes."),
     QT_TRANSLATE_NOOP("ControlCommand", "the requests recorded, or one sent again"),
     {{{Field::Tunnel, Form::Argument},
       {Field::Json, Form::Switch},
       {Field::Har, Form::Switch},
       {Field::Limit, Form::Option}}}},
    {Command::Replay,
     "replay",
     QT_TRANSLATE_NOOP("ControlCommand", "Send a recorded request to the local server again and "
                                         "print the new entry's status line and id."),
     QT_TRANSLATE_NOOP("ControlCommand", "the requests recorded, or one sent again"),
     {{{Field::Tunnel, Form::Argument}, {Field::RequestId, Form::Argument}}},
     30000},
    {Command::Login,
     "login",
     QT_TRANSLATE_NOOP("ControlCommand",
                       "Sign in to your account with the tunnel service, once, for tunnels on "
                       "your own domain: prints the page to open and waits until the browser "
                       "is done."),
     QT_TRANSLATE_NOOP("ControlCommand", "sign in for tunnels on your own domain"),
     {{{Field::Wait, Form::Option,
        QT_TRANSLATE_NOOP("ControlCommand", "Wait up to SECONDS for the browser (default 600).")},
       {Field::Again, Form::Switch}}},
     600000},
}};

} // namespace

std::span<const CommandSpec> CommandSpec::all() {
    return commands;
}

const CommandSpec* CommandSpec::find(QStringView name) {
    for (const CommandSpec& spec : commands) {
        if (name == QLatin1String(spec.name))
            return &spec;
    }
    return nullptr;
}

const CommandSpec::FieldText& CommandSpec::textOf(Field field) {
    return fieldTexts[size_t(field)];
}

const CommandSpec::Parameter* CommandSpec::parameter(Field field) const {
    for (const Parameter& parameter : parameters) {
        if (parameter.field == field && field != Field::None)
            return &parameter;
    }
    return nullptr;
}

QString CommandSpec::optionName(Field field) {
    QString name;
    for (const char* c = textOf(field).name; *c; ++c) {
        if (*c >= 'A' && *c <= 'Z')
            name += QLatin1Char('-');
        name += QLatin1Char(char(*c >= 'A' && *c <= 'Z' ? *c - 'A' + 'a' : *c));
    }
    return name;
}

QString CommandSpec::argumentName(Field field) {
    return optionName(field).replace(QLatin1Char('-'), QLatin1Char('_')).toUpper();
}

QString CommandSpec::synopsis() const {
    QString text = QLatin1String(name);
    for (const Parameter& parameter : parameters) {
        if (parameter.field == Field::None)
            continue;
        const FieldText& field = textOf(parameter.field);
        QString option = QLatin1String("--") + optionName(parameter.field);
        if (field.valueName && parameter.form != Form::Switch)
            option += QLatin1Char(' ') + QLatin1String(field.valueName);
        if (parameter.form == Form::Argument)
            text += QLatin1Char(' ') + argumentName(parameter.field);
        else if (parameter.form == Form::RequiredOption)
            text += QLatin1Char(' ') + option;
        else if (parameter.field == Field::All)
            text += QLatin1Char('|') + option;
        else
            text += QLatin1String(" [") + option + QLatin1Char(']');
    }
    return text;
}
