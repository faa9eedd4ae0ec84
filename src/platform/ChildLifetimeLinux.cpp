#include "platform/ChildLifetime.h"

#include <QProcess>
#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

void bindChildLifetimeToParent(QProcess& process) {
    const pid_t parent = ::getpid();
    // Runs in the child between fork and exec: async-signal-safe calls only.
    process.setChildProcessModifier([parent] {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        // A larger pipe for standard error: fewer, larger reads when the client is chatty.
        ::fcntl(STDERR_FILENO, F_SETPIPE_SZ, 1 << 20);
        // The parent may have died before the request took effect.
        if (::getppid() != parent)
            ::raise(SIGTERM);
    });
}
