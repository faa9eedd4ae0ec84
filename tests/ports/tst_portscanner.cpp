// The port scanner against real loopback sockets: ports open on either address or both, a
// refused one, ones that stay pending, numbers that are no port, repeats, under a storm of
// signals; the answer sorted and unique, and no descriptor left open.
#include "ports/PortScanner.h"

#include <QDir>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace PortScanner;

namespace {

// Binds or connects `fd` to the loopback address of `family`.
int onLoopback(int (*call)(int, const sockaddr*, socklen_t), int fd, int family, qint64 port) {
    const sockaddr_in v4{AF_INET, htons(quint16(port)), {htonl(INADDR_LOOPBACK)}, {}};
    const sockaddr_in6 v6{AF_INET6, htons(quint16(port)), 0, in6addr_loopback, 0};
    return family == AF_INET ? call(fd, reinterpret_cast<const sockaddr*>(&v4), sizeof v4)
                             : call(fd, reinterpret_cast<const sockaddr*>(&v6), sizeof v6);
}

// A port held on both loopback addresses by bound sockets that do not listen: connects to it are
// refused, and nothing else can take it while the test runs (not even as a probe's source port).
class TestPort {
public:
    TestPort() {
        for (int attempt = 0; attempt < 100 && number == 0; ++attempt) {
            const int v4 = open(AF_INET), v6 = open(AF_INET6);
            sockaddr_in bound{};
            socklen_t length = sizeof bound;
            if (onLoopback(::bind, v4, AF_INET, 0) == 0 &&
                ::getsockname(v4, reinterpret_cast<sockaddr*>(&bound), &length) == 0 &&
                onLoopback(::bind, v6, AF_INET6, ntohs(bound.sin_port)) == 0)
                m_v4 = v4, m_v6 = v6, number = ntohs(bound.sin_port);
        }
    }
    ~TestPort() { std::for_each(m_fds.begin(), m_fds.end(), ::close); }

    int held(int family) const { return family == AF_INET ? m_v4 : m_v6; }
    bool listen(int family) { return ::listen(held(family), 16) == 0; }
    // An accept queue that is full and never served: the kernel drops every further SYN, so a
    // connect to this port stays pending until the client gives up.
    bool listenWithFullQueue(int family) {
        pollfd queued{held(family), POLLIN, 0};
        return ::listen(held(family), 0) == 0 &&
               onLoopback(::connect, open(family), family, number) == 0 &&
               ::poll(&queued, 1, 2000) == 1;
    }
    qint64 number = 0;

private:
    int open(int family) {
        const int fd = m_fds.emplace_back(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0)), on = 1;
        // An IPv6 socket sees ::1 only; on an IPv4 one the call fails and changes nothing.
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
        return fd;
    }

    int m_v4 = -1, m_v6 = -1;
    std::vector<int> m_fds;
};

} // namespace

class PortScannerTest : public QObject {
    Q_OBJECT

private slots:
    // How long a scan of pending ports takes (one time-out per family) is in bench/port_scan.
    void scanIsSortedAndUniqueEvenUnderSignals() {
        // As many ports that stay pending as the app probes; open ones on either address or both,
        // a refused one, and a listener left out of the list.
        std::vector<TestPort> pending(commonPorts.size());
        TestPort on4, on6, both, refused, unlisted;
        QVERIFY(on4.listen(AF_INET) && on6.listen(AF_INET6) && refused.number);
        QVERIFY(both.listen(AF_INET) && both.listen(AF_INET6) && unlisted.listen(AF_INET));
        // Numbers that fit no port field too, one of them a listening port plus 65536.
        QList<qint64> listed{on4.number, on6.number, both.number, refused.number};
        listed += {-1, 70000, 65536 + on4.number};
        for (TestPort& port : pending) {
            QVERIFY(port.listenWithFullQueue(AF_INET) && port.listenWithFullQueue(AF_INET6));
            listed.append(port.number);
        }
        // Descending, and every port twice.
        std::sort(listed.rbegin(), listed.rend());
        listed += listed;

        // A handler without SA_RESTART: every signal makes poll fail with EINTR, which must only
        // resume the wait.
        struct sigaction action {};
        action.sa_handler = [](int) {};
        QCOMPARE(::sigaction(SIGUSR1, &action, nullptr), 0);
        std::jthread interrupter([scanning = ::pthread_self()](std::stop_token stop) {
            for (; !stop.stop_requested(); ::usleep(3000))
                ::pthread_kill(scanning, SIGUSR1);
        });
        const int descriptors = QDir(QStringLiteral("/proc/self/fd")).count();
        const QList<PortResult> results = scanPortsBlocking(listed);
        interrupter.request_stop();
        interrupter.join();

        QList<qint64> open{on4.number, on6.number, both.number};
        std::sort(open.begin(), open.end());
        QCOMPARE(results, (QList<PortResult>{{open[0], true}, {open[1], true}, {open[2], true}}));
        QCOMPARE(QDir(QStringLiteral("/proc/self/fd")).count(), descriptors);
    }
};

QTEST_GUILESS_MAIN(PortScannerTest)
#include "tst_portscanner.moc"
