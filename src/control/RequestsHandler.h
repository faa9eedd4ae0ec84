#pragma once

#include "control/CommandHandler.h"

// `requests TUNNEL [--har] [--limit N]`: the newest entries of its log, oldest first, as
// many as fit in one reply: bodies are cut first, then older entries left out.
class RequestsHandler : public CommandHandler {
public:
    using CommandHandler::CommandHandler;
    void execute(ControlConnection& connection, const ControlRequest& request) override;
};
