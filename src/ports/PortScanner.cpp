#include "ports/PortScanner.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace PortScanner {

namespace {

using Clock = std::chrono::steady_clock;

// A loopback address of either family, with the length that connect wants.
struct LoopbackAddress {
    union {
        sockaddr any;
        sockaddr_in v4;
        sockaddr_in6 v6;
    };
    socklen_t length = 0;
};

LoopbackAddress loopbackAddress(int family, qint64 port) {
    LoopbackAddress address;
    std::memset(&address.v6, 0, sizeof address.v6);
    if (family == AF_INET) {
        address.v4.sin_family = AF_INET;
        address.v4.sin_port = htons(static_cast<uint16_t>(port));
        address.v4.sin_addr.s_addr = inet_addr("127.0.0.1");
        address.length = sizeof(sockaddr_in);
    } else {
        address.v6.sin6_family = AF_INET6;
        address.v6.sin6_port = htons(static_cast<uint16_t>(port));
        address.v6.sin6_flowinfo = 0;
        address.v6.sin6_addr = in6addr_loopback;
        address.v6.sin6_scope_id = 0;
        address.length = sizeof(sockaddr_in6);
    }
    return address;
}

// One connect of a round: decided at once, or still in progress on `fd`.
struct Attempt {
    qint64 port = 0;
    int fd = -1;
    bool isOpen = false;
};

// A port in the ephemeral range with no listener can, rarely, be picked as the source port of
// our own connect, which then completes with itself (simultaneous open). That is no listener.
bool isConnectedToItself(int fd) {
    sockaddr_in6 local{}, peer{};
    socklen_t localLength = sizeof local, peerLength = sizeof peer;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0 ||
        ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0)
        return false;
    return localLength == peerLength && std::memcmp(&local, &peer, localLength) == 0;
}

// Opens a non-blocking socket and starts the connect. Every path that does not leave the
// connect in progress has closed the socket.
Attempt startConnect(int family, qint64 port) {
    Attempt attempt{port};
    // Anything else would not fit the 16-bit port field.
    if (port < 0 || port > 65535)
        return attempt;
    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return attempt;
    const int flags = ::fcntl(fd, F_GETFL, 0);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
        ::close(fd);
        return attempt;
    }
    const LoopbackAddress address = loopbackAddress(family, port);
    if (::connect(fd, &address.any, address.length) == 0) {
        ::close(fd);
        attempt.isOpen = true;
        return attempt;
    }
    if (errno != EINPROGRESS) {
        ::close(fd);
        return attempt;
    }
    attempt.fd = fd;
    return attempt;
}

// The socket became writable or failed: the pending error tells which. Closes the socket.
void finishConnect(Attempt& attempt) {
    int error = 0;
    socklen_t length = sizeof error;
    const bool read = ::getsockopt(attempt.fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0;
    attempt.isOpen = read && error == 0 && !isConnectedToItself(attempt.fd);
    ::close(attempt.fd);
    attempt.fd = -1;
}

// One round on one loopback address: starts every connect at once, then waits for all of those
// in progress with a single poll, until each has finished or `timeoutMs` has run out. A connect
// still pending then counts as closed. Returns the open ports, in the order given.
QList<qint64> openPortsOn(int family, const QList<qint64>& ports, int timeoutMs) {
    std::vector<Attempt> attempts;
    attempts.reserve(ports.size());
    for (qint64 port : ports)
        attempts.push_back(startConnect(family, port));

    std::vector<pollfd> waiting;
    std::vector<size_t> waitingAttempt;
    for (size_t i = 0; i < attempts.size(); ++i) {
        if (attempts[i].fd >= 0) {
            waiting.push_back(pollfd{attempts[i].fd, POLLOUT, 0});
            waitingAttempt.push_back(i);
        }
    }

    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!waiting.empty()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        const int ready = ::poll(waiting.data(), waiting.size(),
                                 static_cast<int>(std::max<qint64>(left.count(), 0)));
        // A signal only interrupts the wait; the loop resumes it with the time left.
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 1)
            break;
        size_t kept = 0;
        for (size_t i = 0; i < waiting.size(); ++i) {
            if (waiting[i].revents != 0) {
                finishConnect(attempts[waitingAttempt[i]]);
                continue;
            }
            waiting[kept] = waiting[i];
            waitingAttempt[kept] = waitingAttempt[i];
            ++kept;
        }
        waiting.resize(kept);
        waitingAttempt.resize(kept);
    }
    for (size_t i : waitingAttempt) {
        ::close(attempts[i].fd);
        attempts[i].fd = -1;
    }

    QList<qint64> open;
    for (const Attempt& attempt : attempts) {
        if (attempt.isOpen)
            open.append(attempt.port);
    }
    return open;
}

// Waits for the scan threads that are still running when the application goes away, so that
// none outlives it. Lives in the application's thread, as a child of the application.
class ScanThreadKeeper final : public QObject {
public:
    using QObject::QObject;
    ~ScanThreadKeeper() override {
        for (QThread* thread : findChildren<QThread*>(Qt::FindDirectChildrenOnly))
            thread->wait();
    }
};

QObject* scanThreadKeeper() {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread())
        return nullptr;
    static QPointer<ScanThreadKeeper> keeper;
    if (!keeper)
        keeper = new ScanThreadKeeper(app);
    return keeper;
}

} // namespace

bool probeIPv4(qint64 port, int timeoutMs) {
    return !openPortsOn(AF_INET, {port}, timeoutMs).isEmpty();
}

bool probeIPv6(qint64 port, int timeoutMs) {
    return !openPortsOn(AF_INET6, {port}, timeoutMs).isEmpty();
}

QList<PortResult> scanPortsBlocking(const QList<qint64>& ports) {
    QList<qint64> wanted = ports;
    std::sort(wanted.begin(), wanted.end());
    wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());

    // IPv6 only for the ports that IPv4 reported closed.
    QList<qint64> open = openPortsOn(AF_INET, wanted, probeTimeoutMs);
    QList<qint64> closedOnIPv4;
    std::set_difference(wanted.begin(), wanted.end(), open.begin(), open.end(),
                        std::back_inserter(closedOnIPv4));
    if (!closedOnIPv4.isEmpty())
        open.append(openPortsOn(AF_INET6, closedOnIPv4, probeTimeoutMs));
    std::sort(open.begin(), open.end());

    QList<PortResult> results;
    results.reserve(open.size());
    for (qint64 port : open)
        results.append(PortResult{port, true});
    return results;
}

void scanPorts(QObject* context, std::function<void(QList<PortResult>)> done, QList<qint64> ports) {
    auto results = std::make_shared<QList<PortResult>>();
    QThread* thread = QThread::create(
        [results, ports = std::move(ports)] { *results = scanPortsBlocking(ports); });
    thread->setObjectName(QStringLiteral("Port scan"));
    thread->setParent(scanThreadKeeper());
    // Queued to the thread of `context`, and dropped with it.
    QObject::connect(thread, &QThread::finished, context,
                     [results, done = std::move(done)] { done(std::move(*results)); });
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}

} // namespace PortScanner
