#pragma once

#include "control/CommandHandler.h"

// `login [--wait SECONDS]`: signs in through the application's account, as the window does.
// Replies at once and follows with events: {"event": "signInUrl", "url"} when the client names
// the page, then {"event": "signedIn", "ok": true}, or "ok": false with the error's code and
// message (timeout, no-client, start-failed).
class LoginHandler : public CommandHandler {
public:
    using CommandHandler::CommandHandler;
    void execute(ControlConnection& connection, const ControlRequest& request) override;
};
