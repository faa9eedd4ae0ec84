#include "ports/PortScanner.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSet>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace PortScanner;

namespace {

// Generous: a scan of ports that stay pending takes about two time-outs.
constexpr qint64 scanUpperBoundMs = 2000;

class Socket {
public:
    Socket() = default;
    explicit Socket(int fd)
        : m_fd(fd) {}
    Socket(Socket&& other) noexcept
        : m_fd(std::exchange(other.m_fd, -1)) {}
    Socket& operator=(Socket&& other) noexcept {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    ~Socket() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int fd() const { return m_fd; }

private:
    int m_fd = -1;
};

struct Address {
    sockaddr_storage storage{};
    socklen_t length = 0;
    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
};

Address loopback(int family, quint16 port) {
    Address address;
    if (family == AF_INET) {
        auto* in = reinterpret_cast<sockaddr_in*>(&address.storage);
        in->sin_family = AF_INET;
        in->sin_port = htons(port);
        in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.length = sizeof(sockaddr_in);
    } else {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&address.storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        in6->sin6_addr = in6addr_loopback;
        address.length = sizeof(sockaddr_in6);
    }
    return address;
}

// A port held on both loopback addresses by sockets that are bound but not listening: connects
// to it are refused, and nothing else on the machine can take it while the test runs (not even
// as the source port of a probe's own connect).
class TestPort {
public:
    TestPort() {
        for (int attempt = 0; attempt < 100 && m_number == 0; ++attempt) {
            Socket v4(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
            const Address any4 = loopback(AF_INET, 0);
            if (::bind(v4.fd(), any4.get(), any4.length) != 0)
                continue;
            sockaddr_in bound{};
            socklen_t length = sizeof bound;
            ::getsockname(v4.fd(), reinterpret_cast<sockaddr*>(&bound), &length);
            const quint16 port = ntohs(bound.sin_port);

            Socket v6(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
            const int on = 1;
            ::setsockopt(v6.fd(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
            const Address same6 = loopback(AF_INET6, port);
            if (::bind(v6.fd(), same6.get(), same6.length) != 0)
                continue;
            m_v4 = std::move(v4);
            m_v6 = std::move(v6);
            m_number = port;
        }
    }

    qint64 number() const { return m_number; }
    bool isValid() const { return m_number != 0; }

    // Turns the held socket of a family into a listener.
    bool listen(int family, int backlog = 16) { return ::listen(held(family).fd(), backlog) == 0; }

    // Listens with an accept queue that is already full and never served: the kernel then drops
    // every further SYN, so a connect to this port stays pending until the client gives up.
    bool listenWithFullQueue(int family) {
        if (::listen(held(family).fd(), 0) != 0)
            return false;
        Socket filler(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const Address address = loopback(family, static_cast<quint16>(m_number));
        if (::connect(filler.fd(), address.get(), address.length) != 0)
            return false;
        // The listener turns readable once the connection sits in its accept queue.
        pollfd queued{held(family).fd(), POLLIN, 0};
        if (::poll(&queued, 1, 2000) != 1)
            return false;
        m_fillers.push_back(std::move(filler));
        return true;
    }

    // The connections waiting in a family's accept queue, taken out of it.
    std::vector<Socket> acceptAll(int family) {
        std::vector<Socket> accepted;
        pollfd waiting{held(family).fd(), POLLIN, 0};
        while (::poll(&waiting, 1, 0) == 1) {
            const int fd = ::accept4(held(family).fd(), nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                break;
            accepted.emplace_back(fd);
        }
        return accepted;
    }

private:
    Socket& held(int family) { return family == AF_INET ? m_v4 : m_v6; }

    qint64 m_number = 0;
    Socket m_v4, m_v6;
    std::vector<Socket> m_fillers;
};

QList<qint64> portsOf(const QList<PortResult>& results) {
    QList<qint64> ports;
    for (const PortResult& result : results) {
        if (!result.isOpen)
            return {-1};
        ports.append(result.port);
    }
    return ports;
}

QList<qint64> sorted(QList<qint64> ports) {
    std::sort(ports.begin(), ports.end());
    return ports;
}

int openDescriptorCount() {
    return QDir(QStringLiteral("/proc/self/fd")).count();
}
int threadCount() {
    return QDir(QStringLiteral("/proc/self/task")).count();
}

void ignoreSignal(int) {}

} // namespace

class PortScannerTest : public QObject {
    Q_OBJECT

private slots:
    void reportsListenersOnEitherLoopbackAddress();
    void listenerOnIPv4IsNotProbedOnIPv6();
    void pendingConnectsCountAsClosedAfterOneTimeOutPerFamily();
    void signalsDoNotCutTheWaitShort();
    void resultsAreSortedUniqueAndFromTheListOnly();
    void noDescriptorOutlivesAScan();
    void scanPortsDeliversOnTheCallersThreadWithoutBlockingIt();
    void scanPortsDropsTheResultWhenTheContextIsGone();
    void resultsCompareAndHashByPortAndFlag();
};

void PortScannerTest::reportsListenersOnEitherLoopbackAddress() {
    TestPort v4Only, v6Only, both, refused, unlisted;
    QVERIFY(v4Only.isValid() && v6Only.isValid() && both.isValid() && refused.isValid() &&
            unlisted.isValid());
    QVERIFY(v4Only.listen(AF_INET));
    QVERIFY(v6Only.listen(AF_INET6));
    QVERIFY(both.listen(AF_INET) && both.listen(AF_INET6));
    QVERIFY(unlisted.listen(AF_INET) && unlisted.listen(AF_INET6));

    QCOMPARE(probeIPv4(v4Only.number(), probeTimeoutMs), true);
    QCOMPARE(probeIPv6(v4Only.number(), probeTimeoutMs), false);
    QCOMPARE(probeIPv4(v6Only.number(), probeTimeoutMs), false);
    QCOMPARE(probeIPv6(v6Only.number(), probeTimeoutMs), true);
    QCOMPARE(probeIPv4(both.number(), probeTimeoutMs), true);
    QCOMPARE(probeIPv6(both.number(), probeTimeoutMs), true);
    QCOMPARE(probeIPv4(refused.number(), probeTimeoutMs), false);
    QCOMPARE(probeIPv6(refused.number(), probeTimeoutMs), false);

    QCOMPARE(checkPort(v4Only.number()), (PortResult{v4Only.number(), true}));
    QCOMPARE(checkPort(v6Only.number()), (PortResult{v6Only.number(), true}));
    QCOMPARE(checkPort(both.number()), (PortResult{both.number(), true}));
    QCOMPARE(checkPort(refused.number()), (PortResult{refused.number(), false}));

    const QList<qint64> listed{refused.number(), both.number(), v6Only.number(), v4Only.number()};
    QCOMPARE(portsOf(scanPortsBlocking(listed)),
             sorted({v4Only.number(), v6Only.number(), both.number()}));

    // Nothing listening on any port of the list.
    QCOMPARE(scanPortsBlocking({refused.number()}), QList<PortResult>());
    QCOMPARE(scanPortsBlocking({}), QList<PortResult>());
}

void PortScannerTest::listenerOnIPv4IsNotProbedOnIPv6() {
    TestPort port;
    QVERIFY(port.isValid());
    QVERIFY(port.listen(AF_INET) && port.listen(AF_INET6));

    QCOMPARE(portsOf(scanPortsBlocking({port.number()})), QList<qint64>{port.number()});

    // One connection on 127.0.0.1, opened and closed without a byte; none on ::1.
    std::vector<Socket> onIPv4 = port.acceptAll(AF_INET);
    QCOMPARE(onIPv4.size(), size_t(1));
    QCOMPARE(port.acceptAll(AF_INET6).size(), size_t(0));
    pollfd closed{onIPv4.front().fd(), POLLIN, 0};
    QCOMPARE(::poll(&closed, 1, 2000), 1);
    char byte = 0;
    QCOMPARE(::read(onIPv4.front().fd(), &byte, 1), ssize_t(0));
}

void PortScannerTest::pendingConnectsCountAsClosedAfterOneTimeOutPerFamily() {
    TestPort pending, open, refused;
    QVERIFY(pending.isValid() && open.isValid() && refused.isValid());
    QVERIFY(pending.listenWithFullQueue(AF_INET) && pending.listenWithFullQueue(AF_INET6));
    QVERIFY(open.listen(AF_INET6));

    QElapsedTimer timer;
    timer.start();
    QCOMPARE(probeIPv4(pending.number(), probeTimeoutMs), false);
    QVERIFY2(timer.elapsed() >= probeTimeoutMs, "the probe gave up before its time-out");
    QCOMPARE(checkPort(pending.number()), (PortResult{pending.number(), false}));

    timer.start();
    QCOMPARE(portsOf(scanPortsBlocking({pending.number(), open.number(), refused.number()})),
             QList<qint64>{open.number()});
    const qint64 elapsed = timer.elapsed();
    QVERIFY2(elapsed >= 2 * probeTimeoutMs, qPrintable(QString::number(elapsed)));
    QVERIFY2(elapsed < scanUpperBoundMs, qPrintable(QString::number(elapsed)));

    // Many pending ports still cost two time-outs in all, not two per port.
    std::vector<TestPort> many(18);
    QList<qint64> manyPorts;
    for (TestPort& port : many) {
        QVERIFY(port.isValid());
        QVERIFY(port.listenWithFullQueue(AF_INET) && port.listenWithFullQueue(AF_INET6));
        manyPorts.append(port.number());
    }
    timer.start();
    QCOMPARE(scanPortsBlocking(manyPorts), QList<PortResult>());
    QVERIFY2(timer.elapsed() < scanUpperBoundMs, qPrintable(QString::number(timer.elapsed())));
}

void PortScannerTest::signalsDoNotCutTheWaitShort() {
    TestPort pending, open;
    QVERIFY(pending.isValid() && open.isValid());
    QVERIFY(pending.listenWithFullQueue(AF_INET) && pending.listenWithFullQueue(AF_INET6));
    QVERIFY(open.listen(AF_INET));

    // A handler without SA_RESTART: every signal makes poll fail with EINTR.
    struct sigaction action {
    }, previous{};
    action.sa_handler = ignoreSignal;
    sigemptyset(&action.sa_mask);
    QCOMPARE(::sigaction(SIGUSR1, &action, &previous), 0);

    const pthread_t scanning = ::pthread_self();
    std::atomic<bool> stop{false};
    std::atomic<int> sent{0};
    std::thread interrupter([&] {
        while (!stop) {
            ::pthread_kill(scanning, SIGUSR1);
            ++sent;
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    });

    QElapsedTimer timer;
    timer.start();
    const QList<PortResult> results = scanPortsBlocking({pending.number(), open.number()});
    const qint64 elapsed = timer.elapsed();
    stop = true;
    interrupter.join();
    ::sigaction(SIGUSR1, &previous, nullptr);

    QVERIFY2(elapsed >= 2 * probeTimeoutMs, qPrintable(QString::number(elapsed)));
    QCOMPARE(portsOf(results), QList<qint64>{open.number()});
    QVERIFY(sent > 10);
}

void PortScannerTest::resultsAreSortedUniqueAndFromTheListOnly() {
    std::vector<TestPort> ports(4);
    for (TestPort& port : ports) {
        QVERIFY(port.isValid());
        QVERIFY(port.listen(AF_INET) && port.listen(AF_INET6));
    }
    TestPort v6Only, unlisted;
    QVERIFY(v6Only.isValid() && unlisted.isValid());
    QVERIFY(v6Only.listen(AF_INET6));
    QVERIFY(unlisted.listen(AF_INET) && unlisted.listen(AF_INET6));

    QList<qint64> listed;
    QList<qint64> expected;
    for (const TestPort& port : ports)
        expected.append(port.number());
    expected.append(v6Only.number());
    // Descending, every port twice, and numbers that fit no port field: one of them is a
    // listening port plus 65536, which must not be taken for that port.
    for (qint64 port : sorted(expected))
        listed.prepend(port);
    listed += listed;
    listed += {-1, 65536 + ports.front().number(), 70000};

    const QList<PortResult> results = scanPortsBlocking(listed);
    QCOMPARE(portsOf(results), sorted(expected));
    QVERIFY(!portsOf(results).contains(unlisted.number()));
}

void PortScannerTest::noDescriptorOutlivesAScan() {
    TestPort open, v6Only, refused, pending;
    QVERIFY(open.isValid() && v6Only.isValid() && refused.isValid() && pending.isValid());
    QVERIFY(open.listen(AF_INET));
    QVERIFY(v6Only.listen(AF_INET6));
    QVERIFY(pending.listenWithFullQueue(AF_INET) && pending.listenWithFullQueue(AF_INET6));
    const QList<qint64> listed{open.number(), v6Only.number(), refused.number(), pending.number()};

    const int before = openDescriptorCount();
    for (int round = 0; round < 3; ++round)
        QCOMPARE(scanPortsBlocking(listed).size(), 2);
    QCOMPARE(checkPort(pending.number()).isOpen, false);
    QCOMPARE(checkPort(v6Only.number()).isOpen, true);
    QCOMPARE(openDescriptorCount(), before);
}

void PortScannerTest::scanPortsDeliversOnTheCallersThreadWithoutBlockingIt() {
    TestPort open, pending;
    QVERIFY(open.isValid() && pending.isValid());
    QVERIFY(open.listen(AF_INET));
    QVERIFY(pending.listenWithFullQueue(AF_INET) && pending.listenWithFullQueue(AF_INET6));

    // Ticks of the caller's event loop while the scan waits out its time-outs.
    int ticks = 0;
    QTimer ticker;
    ticker.setInterval(10);
    connect(&ticker, &QTimer::timeout, this, [&] { ++ticks; });
    ticker.start();

    QObject context;
    bool delivered = false;
    QThread* deliveredOn = nullptr;
    QList<PortResult> results;
    scanPorts(&context,
              [&](QList<PortResult> scanned) {
                  delivered = true;
                  deliveredOn = QThread::currentThread();
                  results = std::move(scanned);
              },
              {pending.number(), open.number()});
    QVERIFY(!delivered);
    QTRY_VERIFY_WITH_TIMEOUT(delivered, 5000);
    QCOMPARE(deliveredOn, QThread::currentThread());
    QCOMPARE(portsOf(results), QList<qint64>{open.number()});
    QVERIFY2(ticks >= 3, qPrintable(QString::number(ticks)));
}

void PortScannerTest::scanPortsDropsTheResultWhenTheContextIsGone() {
    TestPort open, pending;
    QVERIFY(open.isValid() && pending.isValid());
    QVERIFY(open.listen(AF_INET));
    QVERIFY(pending.listenWithFullQueue(AF_INET) && pending.listenWithFullQueue(AF_INET6));

    const int threadsBefore = threadCount();
    int delivered = 0;
    {
        QObject context;
        scanPorts(&context, [&](QList<PortResult>) { ++delivered; }, {pending.number()});
        scanPorts(&context, [&](QList<PortResult>) { ++delivered; }, {open.number()});
    }
    QObject kept;
    int keptDelivered = 0;
    scanPorts(&kept, [&](QList<PortResult>) { ++keptDelivered; }, {pending.number()});
    QTRY_COMPARE_WITH_TIMEOUT(keptDelivered, 1, 5000);
    QTest::qWait(100);
    QCOMPARE(delivered, 0);
    // Every scan thread has ended and gone.
    QTRY_COMPARE_WITH_TIMEOUT(threadCount(), threadsBefore, 5000);
}

void PortScannerTest::resultsCompareAndHashByPortAndFlag() {
    const PortResult open3000{3000, true};
    QCOMPARE(open3000, (PortResult{3000, true}));
    QCOMPARE(qHash(open3000), qHash(PortResult{3000, true}));
    QCOMPARE(qHash(open3000, 7), qHash(PortResult{3000, true}, 7));
    QVERIFY(open3000 != (PortResult{3000, false}));
    QVERIFY(open3000 != (PortResult{3001, true}));
    QCOMPARE(open3000.id(), qint64(3000));

    const QSet<PortResult> set{open3000, {3000, true}, {3000, false}, {8080, true}};
    QCOMPARE(set.size(), 3);
    QVERIFY(set.contains(PortResult{3000, false}));
    QVERIFY(!set.contains(PortResult{8080, false}));
}

QTEST_GUILESS_MAIN(PortScannerTest)
#include "PortScannerTest.moc"
