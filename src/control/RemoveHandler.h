#pragma once

#include "control/CommandHandler.h"

// `remove TUNNEL`: replies with the tunnel as it was.
class RemoveHandler : public CommandHandler {
public:
    using CommandHandler::CommandHandler;
    void execute(ControlConnection& connection, const ControlRequest& request) override;
};
