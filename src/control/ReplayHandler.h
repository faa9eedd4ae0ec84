#pragma once

#include "control/CommandHandler.h"

#include <functional>

class RequestLog;
struct HttpExchange;

// `replay TUNNEL REQUEST_ID`: sends a logged request again through the tunnel's gateway and
// replies with the new entry once it is answered.
class ReplayHandler : public CommandHandler {
public:
    using CommandHandler::CommandHandler;
    void execute(ControlConnection& connection, const ControlRequest& request) override;

private:
    // Which entry of the log is the one waited for.
    using EntryMatch = std::function<bool(const HttpExchange&)>;
    // Replies with the first entry that arrives in the log and matches, or fails when none
    // has come within the command's wait.
    void waitFor(ControlConnection& connection, RequestLog* log, EntryMatch match,
                 const QString& name);
};
