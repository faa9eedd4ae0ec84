#include "control/CommandSpec.h"

namespace {

using Command = ControlRequest::Command;
using Field = CommandSpec::Field;
using Form = CommandSpec::Form;

constexpr std::array<CommandSpec::FieldText, 8> fieldTexts{{
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
}};

constexpr bool inFieldOrder() {
    for (size_t i = 0; i < fieldTexts.size(); ++i) {
        if (fieldTexts[i].field != Field(i))
            return false;
    }
    return true;
}
static_assert(inFieldOrder(), "fieldTexts is indexed by Field");

constexpr std::array<CommandSpec, 8> commands{{
    {Command::Show, "show", nullptr, nullptr, {}},
    {Command::List,
     "list",
     QT_TRANSLATE_NOOP("ControlCommand",
                       "Print every tunnel: id, port, state, name, URL and problem."),
     QT_TRANSLATE_NOOP("ControlCommand", "every tunnel and its state"),
     {{{Field::Json, Form::Option}}}},
    {Command::Start,
     "start",
     QT_TRANSLATE_NOOP("ControlCommand", "Start a tunnel."),
     QT_TRANSLATE_NOOP("ControlCommand", "start or stop tunnels"),
     {{{Field::Tunnel, Form::Argument}}}},
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
     {{{Field::Tunnel, Form::Argument}, {Field::Wait, Form::Option}}}},
    {Command::Add,
     "add",
     QT_TRANSLATE_NOOP("ControlCommand", "Add a tunnel for a local port; it is saved at once."),
     nullptr,
     {{{Field::Port, Form::RequiredOption},
       {Field::Name, Form::Option},
       {Field::Start, Form::Option}}}},
    {Command::Remove,
     "remove",
     QT_TRANSLATE_NOOP("ControlCommand", "Remove a tunnel, stopping it first."),
     nullptr,
     {{{Field::Tunnel, Form::Argument}}}},
    {Command::Share,
     "share",
     QT_TRANSLATE_NOOP("ControlCommand", "Start the tunnel on a port (added when there is none), "
                                         "wait until it is active and print its URL."),
     QT_TRANSLATE_NOOP("ControlCommand", "start a tunnel on PORT and print its URL"),
     {{{Field::Port, Form::Argument},
       {Field::Wait, Form::Option,
        QT_TRANSLATE_NOOP("ControlCommand",
                          "Wait up to SECONDS for the tunnel to become active (default 60).")}}},
     60000},
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

QString CommandSpec::synopsis() const {
    QString text = QLatin1String(name);
    for (const Parameter& parameter : parameters) {
        if (parameter.field == Field::None)
            continue;
        const FieldText& field = textOf(parameter.field);
        QString option = QLatin1String("--") + QLatin1String(field.name);
        if (field.valueName)
            option += QLatin1Char(' ') + QLatin1String(field.valueName);
        if (parameter.form == Form::Argument)
            text += QLatin1Char(' ') + QString::fromLatin1(field.name).toUpper();
        else if (parameter.form == Form::RequiredOption)
            text += QLatin1Char(' ') + option;
        else if (parameter.field == Field::All)
            text += QLatin1Char('|') + option;
        else
            text += QLatin1String(" [") + option + QLatin1Char(']');
    }
    return text;
}
