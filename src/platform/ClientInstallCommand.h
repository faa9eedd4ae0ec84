#pragma once

#include <QString>
#include <memory>

// The command that installs the cloudflared client on this system, as the missing-client alert
// shows and copies it.
class ClientInstallCommand {
public:
    virtual ~ClientInstallCommand() = default;
    virtual QString command() const = 0;
};

// Where the client's own documentation lists every download; offered where no command fits.
inline QString clientDownloadPage() {
    return QStringLiteral(
        "https://developers.cloudflare.com/cloudflare-one/connections/connect-networks/downloads/");
}

// The implementation for this operating system.
std::unique_ptr<ClientInstallCommand> createPlatformInstallCommand();
