#pragma once

#include "control/CommandHandler.h"

#include <functional>

// `show`, the hand-over of a second launch: brings the window up.
class ShowHandler : public CommandHandler {
public:
    ShowHandler(TunnelStore* store, std::function<void()> show)
        : CommandHandler(store)
        , m_show(std::move(show)) {}
    void execute(ControlConnection& connection, const ControlRequest& request) override;

private:
    std::function<void()> m_show;
};
