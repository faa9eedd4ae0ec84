#include "platform/ChildLifetime.h"

#include <QProcess>
#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

void bindChildLifetimeToParent(QProcess& process) {
    const pid_t parent = ::getpid();
    // Runs in the child between fork and exec: async-signal-safe calls only.
    process.setChildProcessModifier([parent] {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        // The parent may have died before the request took effect.
        if (::getppid() != parent)
            ::raise(SIGTERM);
    });
}
