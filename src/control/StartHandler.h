#pragma once

#include "control/CommandHandler.h"

// `start TUNNEL [--for DURATION]`: starts it (a running one stays as it is) and replies at once.
class StartHandler : public CommandHandler {
public:
    using CommandHandler::CommandHandler;
    void execute(ControlConnection& connection, const ControlRequest& request) override;
};
