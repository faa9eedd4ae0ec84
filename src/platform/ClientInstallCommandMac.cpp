#include "platform/ClientInstallCommand.h"

namespace {

// Homebrew carries the client on macOS.
class HomebrewInstallCommand : public ClientInstallCommand {
public:
    QString command() const override { return QStringLiteral("brew install cloudflared"); }
};

} // namespace

std::unique_ptr<ClientInstallCommand> createPlatformInstallCommand() {
    return std::make_unique<HomebrewInstallCommand>();
}
