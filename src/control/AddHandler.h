#pragma once

#include "control/CommandHandler.h"

// `add --port N [--name NAME] [--hostname HOST] [--start]`: as the window's "+", the default name
// or the given one trimmed and not empty.
class AddHandler : public CommandHandler {
public:
    using CommandHandler::CommandHandler;
    void execute(ControlConnection& connection, const ControlRequest& request) override;
};
