#pragma once

#include "control/CommandHandler.h"

// `url TUNNEL`: waits until it is active and replies with its URL; with --follow, replies
// at once and sends each new URL until the tunnel is removed.
class UrlHandler : public CommandHandler {
public:
    using CommandHandler::CommandHandler;
    void execute(ControlConnection& connection, const ControlRequest& request) override;
};
