#pragma once

#include "control/CommandHandler.h"

// `stop TUNNEL|--all`: replies once none of them has a child left, so that a start right
// after finds them stopped.
class StopHandler : public CommandHandler {
public:
    using CommandHandler::CommandHandler;
    void execute(ControlConnection& connection, const ControlRequest& request) override;
};
