#pragma once

#include "control/CommandHandler.h"

// `set TUNNEL ...`: changes it live, as the window's controls do, with the same child and
// URL; a refused request changes nothing.
class SetHandler : public CommandHandler {
public:
    using CommandHandler::CommandHandler;
    void execute(ControlConnection& connection, const ControlRequest& request) override;
};
