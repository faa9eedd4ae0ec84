#pragma once

#include <QStringList>
#include <QTextStream>

// `quillby COMMAND ...` for each command of the table in CommandSpec: drives the running
// Quillby through its control socket, without a display. Each command has its own --help.
namespace ControlCommand {

// Exit statuses, as the man page lists them.
enum Status {
    Done = 0,
    Failed = 1, // the tunnel stopped, failed or is not active; the app refused the request
    Usage = 2,  // a wrong command line
    NotRunning = 3,
    NoMatch = 4,
    Ambiguous = 5,
    TimedOut = 6,
    NoClient = 7, // cloudflared is not installed
};

bool isCommand(QStringView word);
// The commands as `quillby --help` lists them, a line each (neighbours may share one).
QString commandList();
// arguments: the whole command line, program name first. socketPath: where the running
// Quillby listens; empty for the usual place.
int run(const QStringList& arguments, QTextStream& out, QTextStream& err,
        const QString& socketPath = {});

} // namespace ControlCommand
