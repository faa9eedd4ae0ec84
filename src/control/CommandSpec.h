#pragma once

#include "control/ControlRequest.h"

#include <QString>
#include <QStringView>
#include <array>
#include <span>

// Every command of the control socket and the command line, described once, in one table
// (CommandSpec.cpp): its name, the fields its request carries and how the command line takes
// them, and the texts of its help. ControlRequest checks requests against it; the command
// line builds its parser, its --help and the list in `quillby --help` from it; the build
// generates the bash completion from it, and the packaging check holds the man page to it.
// A new command is a row there plus its CommandHandler in ControlServer's table (and in
// ControlCommand when it prints more than its status).
struct CommandSpec {
    // A field of a request: a key of the JSON request and, on the command line, an argument or
    // an option of the same name.
    enum class Field : quint8 {
        None,
        Tunnel,       // "tunnel": a name, port or id; the argument TUNNEL
        All,          // "all": every tunnel instead of the one; --all, shown as TUNNEL|--all
        Port,         // "port": 1 to 65535; the argument PORT or --port N
        Name,         // "name": text; --name NAME
        Start,        // "start": true or false; --start
        Wait,         // "wait": seconds, a decimal number; --wait SECONDS
        Json,         // the command line's --json; never sent
        RewriteHost,  // "rewriteHost": true or false; --rewrite-host on|off
        Inspect,      // "inspect": true or false; --inspect on|off
        Password,     // "password": true or false; --password on|off, or the switch --password
        For,          // "for": whole seconds, or null for no limit; --for DURATION|off
        Credentials,  // "credentials": true; --credentials
        Follow,       // "follow": true; --follow
        Har,          // "har": true; --har
        Limit,        // "limit": a whole number from 1; --limit N
        RequestId,    // "requestId": a whole number from 1; the argument REQUEST_ID
        Hostname,     // "hostname": a host name, "" for quick; --hostname HOST|quick
        DeleteRemote, // "deleteRemote": true; --delete-remote
        Again,        // "again": true; --again
    };
    // How the command line takes a field. A request must carry it unless it is an Option or
    // a Switch (an option without a value: true when given).
    enum class Form : quint8 { Argument, Option, RequiredOption, Switch };

    struct Parameter {
        Field field = Field::None;
        Form form = Form::Option;
        const char* help = nullptr; // in context "ControlCommand"; nullptr: the field's own
    };

    // What the command line shows of a field.
    struct FieldText {
        Field field;
        const char* name; // the JSON key; as words with '-', the option; with '_', the argument
        const char* valueName; // an option's value, such as SECONDS; nullptr for a switch
        const char* help;      // in context "ControlCommand"
    };

    ControlRequest::Command command;
    const char* name;
    // Its --help description, in context "ControlCommand"; nullptr for a request that only
    // the application sends (show).
    const char* summary;
    // Its line in `quillby --help`, in context "ControlCommand". Neighbours with the same
    // line (or none) share it.
    const char* overview;
    std::array<Parameter, 8> parameters;
    // How long it waits for the tunnel to become active when --wait is not given.
    qint64 defaultWaitMs = 0;

    // In the order `quillby --help` lists them.
    static std::span<const CommandSpec> all();
    static const CommandSpec* find(QStringView name);
    static const FieldText& textOf(Field field);
    // The option's name ("rewrite-host" for rewriteHost) and the argument's ("REQUEST_ID").
    static QString optionName(Field field);
    static QString argumentName(Field field);

    // How this command takes the field; nullptr when it takes none.
    const Parameter* parameter(Field field) const;
    // As in `quillby --help`: "url TUNNEL [--wait SECONDS]".
    QString synopsis() const;
};
