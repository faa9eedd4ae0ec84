#include "platform/SignalWatcher.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

// The handler only writes the signal number into a socket pair, which the event loop reads.
namespace {

int signalFds[2] = {-1, -1};
constexpr int watchedSignals[] = {SIGTERM, SIGINT, SIGHUP};

void onSignal(int number) {
    const int savedErrno = errno;
    const char byte = static_cast<char>(number);
    // Nothing else is safe here; a full pipe only loses a repeat of a signal already queued.
    [[maybe_unused]] const ssize_t written = ::write(signalFds[0], &byte, 1);
    errno = savedErrno;
}

} // namespace

SignalWatcher::SignalWatcher(QObject* parent)
    : QObject(parent) {
    Q_ASSERT(signalFds[0] < 0);
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalFds) != 0)
        return;
    m_notifier = new QSocketNotifier(signalFds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalWatcher::readSignals);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : watchedSignals)
        ::sigaction(number, &action, nullptr);
}

SignalWatcher::~SignalWatcher() {
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    for (int number : watchedSignals)
        ::sigaction(number, &action, nullptr);
    for (int& fd : signalFds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void SignalWatcher::readSignals() {
    char byte = 0;
    while (::read(signalFds[1], &byte, 1) == 1)
        emit received(static_cast<unsigned char>(byte));
}
