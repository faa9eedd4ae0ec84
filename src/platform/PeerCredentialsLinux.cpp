#include "platform/PeerCredentials.h"

#include <sys/socket.h>
#include <unistd.h>

bool peerIsThisUser(qintptr socketDescriptor) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(static_cast<int>(socketDescriptor), SOL_SOCKET, SO_PEERCRED, &credentials,
                     &size) != 0)
        return false;
    return credentials.uid == ::geteuid();
}
