#pragma once

#include <QString>
#include <QStringView>
#include <optional>

// Why a request failed: a stable code for scripts and a sentence for people. The server sends
// the code's name in its reply ({"ok": false, "error": "no-match", "message": ...}); the
// command line reads it back and exits with the status the code stands for.
struct ControlError {
    enum class Code {
        Malformed,       // not one JSON object on one line
        Version,         // another protocol version
        UnknownCommand,  // no such command
        TooLarge,        // longer than ControlRequest::maxLineBytes
        InvalidArgument, // a field missing, of the wrong type or out of range
        NoMatch,         // no tunnel has that name, port or id
        Ambiguous,       // several have it
        NoClient,        // cloudflared is not installed
        StartFailed,     // the child did not start
        Stopped,         // the tunnel is not running, stopped while waited for, or was removed
        NotActive,       // not active yet, and no wait was asked for
        Timeout,         // not active within the wait
    };

    Code code;
    QString message;

    // The code's name on the wire, such as "no-match".
    static QString nameOf(Code code);
    // Nothing for a name this version does not know.
    static std::optional<Code> codeNamed(QStringView name);
};
