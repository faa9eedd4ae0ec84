#pragma once

#include "control/CommandHandler.h"

// `login [--wait SECONDS] [--again]`: signs in through the application's account, as the window
// does; a certificate the account refused, or any with --again, is replaced.
// Replies at once and follows with events: {"event": "signInUrl", "url"} when the client names
// the page, then {"event": "signedIn", "ok": true}, or "ok": false with the error's code and
// message (timeout, no-client, start-failed).
class LoginHandler : public CommandHandler {
public:
    using CommandHandler::CommandHandler;
    void execute(ControlConnection& connection, const ControlRequest& request) override;
};
