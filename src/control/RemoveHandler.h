#pragma once

#include "control/CommandHandler.h"

// `remove TUNNEL [--delete-remote]`: replies with the tunnel as it was. A tunnel on a hostname
// keeps its named tunnel in the account and its credentials (the reply's note says where),
// unless deleting was asked for: then the reply waits for the account's answer.
class RemoveHandler : public CommandHandler {
public:
    using CommandHandler::CommandHandler;
    void execute(ControlConnection& connection, const ControlRequest& request) override;
};
