#pragma once

#include "control/CommandHandler.h"

// `list`: every tunnel, and the client that runs them.
class ListHandler : public CommandHandler {
public:
    using CommandHandler::CommandHandler;
    void execute(ControlConnection& connection, const ControlRequest& request) override;
};
