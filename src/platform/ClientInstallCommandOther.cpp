#include "platform/ClientInstallCommand.h"

namespace {

// Where no package manager is known to carry the client: its download page.
class DownloadPageInstallCommand : public ClientInstallCommand {
public:
    QString command() const override { return clientDownloadPage(); }
};

} // namespace

std::unique_ptr<ClientInstallCommand> createPlatformInstallCommand() {
    return std::make_unique<DownloadPageInstallCommand>();
}
