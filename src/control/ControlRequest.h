#pragma once

#include "control/ControlError.h"
#include "model/ShareDuration.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>
#include <variant>

// One request to the running Quillby over its local socket: a single line of compact JSON,
// {"v": 1, "cmd": "...", ...}, at most maxLineBytes long. Parsing checks the shape only
// (types, required keys, ranges), as CommandSpec describes each command; what a request means
// is up to the server. Keys a request does not use are ignored, so that newer clients can add
// optional ones. Needs Qt Core only.
class ControlRequest {
public:
    // show: the hand-over of a second launch; the others are the command line's.
    enum class Command {
        Show,
        List,
        Start,
        Stop,
        Url,
        Add,
        Remove,
        Share,
        Set,
        Requests,
        Replay,
        Login,
    };

    static constexpr int version = 1;
    // Bound of one request line, line break excluded.
    static constexpr qsizetype maxLineBytes = 64 * 1024;
    // Bound of one reply line: a list of many long-named tunnels is larger than any request.
    static constexpr qsizetype maxReplyBytes = 4 * 1024 * 1024;
    // Longest wait a request may ask for (url, share).
    static constexpr qint64 maxWaitMs = 24LL * 3600 * 1000;

    using Parsed = std::variant<ControlRequest, ControlError>;

    explicit ControlRequest(Command command = Command::List)
        : m_command(command) {}

    // A line as read from the socket, without its line break.
    static Parsed parse(QByteArrayView line);
    // The error for a line longer than maxLineBytes.
    static ControlError tooLarge();
    // A wait of so many seconds, to the nearest millisecond; nothing when negative, not a
    // number or longer than maxWaitMs. The same for "wait" and for --wait.
    static std::optional<qint64> waitMsOf(double seconds);
    // The request's line, ending in a line break.
    QByteArray encode() const;

    Command command() const { return m_command; }
    static QString commandName(Command command);

    // start, stop, url, remove: a name, a port or an id (or an id's first 8 or more digits).
    QString tunnel;
    // stop: every tunnel instead of one.
    bool all = false;
    // add, share.
    qint64 port = 0;
    // add: the name (else the default); start it at once.
    std::optional<QString> name;
    bool startNow = false;
    // url, share: how long to wait for the tunnel to become active.
    qint64 waitMs = 0;
    // set: the switches to change; share: password on.
    std::optional<bool> rewriteHost;
    std::optional<bool> inspect;
    std::optional<bool> password;
    // set, start, share: the time limit to set (a limit, or none for "until stopped").
    std::optional<ShareDuration::Limit> stopAfter;
    // url: the URL with the credentials in it; keep the connection and send each new URL.
    bool credentials = false;
    bool follow = false;
    // requests: the HAR document instead of a summary; the newest so many (0: all).
    bool har = false;
    qint64 limit = 0;
    // replay: the request's id in the tunnel's log.
    qint64 requestId = 0;
    // add, set: the address on the user's own domain, lower case; empty: a quick tunnel.
    std::optional<QString> hostname;
    // remove: delete the named tunnel from the account too.
    bool deleteRemote = false;
    // login: replace the certificate that is there.
    bool again = false;

    friend bool operator==(const ControlRequest&, const ControlRequest&) = default;

private:
    Command m_command;
};
