#pragma once

#include "control/CommandHandler.h"

// `share PORT`: starts the tunnel the store picks for the port and waits until it is
// active; --password turns the password on, and the reply carries the URL with it.
class ShareHandler : public CommandHandler {
public:
    using CommandHandler::CommandHandler;
    void execute(ControlConnection& connection, const ControlRequest& request) override;
};
