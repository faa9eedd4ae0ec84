// Wall time of a port scan in two situations, in one run:
//  1. every port refused: the median scan against the floor (the same 36 non-blocking connects
//     in a bare loop) and against `nmap -sT -Pn -n` on the same ports, both as whole processes
//     timed by hyperfine (this program's `--scan-once` mode stands for the scanner's process);
//  2. every port pending on both loopback addresses: the scan against two time-outs (300 ms).
// The 18 common ports are used when all of them are free on both addresses; otherwise 18
// ephemeral ports, and the program says so. Usage: bench_port_scan [--runs N]
//                                                    bench_port_scan --scan-once PORT,PORT,...
#include "ports/PortScanner.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

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

class Fd {
public:
    explicit Fd(int fd = -1)
        : m_fd(fd) {}
    Fd(Fd&& other) noexcept
        : m_fd(std::exchange(other.m_fd, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    ~Fd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }

private:
    int m_fd;
};

// A port held on 127.0.0.1 and ::1 by bound sockets that do not listen: connects are refused.
struct HeldPort {
    quint16 port = 0;
    Fd v4, v6;
};

std::optional<HeldPort> hold(quint16 port) {
    HeldPort held;
    held.v4 = Fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const Address a4 = loopback(AF_INET, port);
    if (::bind(held.v4.get(), a4.get(), a4.length) != 0)
        return std::nullopt;
    if (port == 0) {
        sockaddr_in bound{};
        socklen_t length = sizeof bound;
        ::getsockname(held.v4.get(), reinterpret_cast<sockaddr*>(&bound), &length);
        port = ntohs(bound.sin_port);
    }
    held.v6 = Fd(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int on = 1;
    ::setsockopt(held.v6.get(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    const Address a6 = loopback(AF_INET6, port);
    if (::bind(held.v6.get(), a6.get(), a6.length) != 0)
        return std::nullopt;
    held.port = port;
    return held;
}

// The 18 common ports if every one is free on both addresses, else 18 ephemeral ones.
std::vector<HeldPort> holdPorts(bool& common) {
    std::vector<HeldPort> held;
    for (qint64 port : PortScanner::commonPorts) {
        std::optional<HeldPort> one = hold(static_cast<quint16>(port));
        if (!one)
            break;
        held.push_back(std::move(*one));
    }
    common = held.size() == PortScanner::commonPorts.size();
    if (common)
        return held;
    held.clear();
    while (held.size() < PortScanner::commonPorts.size()) {
        if (std::optional<HeldPort> one = hold(0))
            held.push_back(std::move(*one));
    }
    return held;
}

// Turns a held port into one whose connects stay pending: a listener whose only accept-queue
// slot is taken by a connection nobody accepts, so the kernel drops every further SYN.
bool makePending(HeldPort& held, std::vector<Fd>& fillers) {
    for (int family : {AF_INET, AF_INET6}) {
        const int listener = family == AF_INET ? held.v4.get() : held.v6.get();
        if (::listen(listener, 0) != 0)
            return false;
        Fd filler(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const Address address = loopback(family, held.port);
        if (::connect(filler.get(), address.get(), address.length) != 0)
            return false;
        pollfd queued{listener, POLLIN, 0};
        if (::poll(&queued, 1, 2000) != 1)
            return false;
        fillers.push_back(std::move(filler));
    }
    return true;
}

// The least a scan of refused ports can cost: one non-blocking connect per port and family.
void floorLoop(const QList<qint64>& ports) {
    for (qint64 port : ports) {
        for (int family : {AF_INET, AF_INET6}) {
            const int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            const Address address = loopback(family, static_cast<quint16>(port));
            ::connect(fd, address.get(), address.length);
            ::close(fd);
        }
    }
}

template <typename F> std::vector<double> timeRuns(int runs, F&& body) {
    std::vector<double> microseconds;
    for (int run = 0; run < runs; ++run) {
        const Clock::time_point start = Clock::now();
        body();
        microseconds.push_back(
            std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    return microseconds;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// hyperfine's median of a command, in microseconds; negative when it could not run.
double hyperfineMedian(const QStringList& command, int runs) {
    QTemporaryDir dir;
    const QString json = dir.filePath(QStringLiteral("result.json"));
    QProcess hyperfine;
    hyperfine.start(QStringLiteral("hyperfine"),
                    {QStringLiteral("--shell=none"), QStringLiteral("--style=none"),
                     QStringLiteral("--warmup"), QStringLiteral("3"), QStringLiteral("--runs"),
                     QString::number(runs), QStringLiteral("--export-json"), json,
                     command.join(QLatin1Char(' '))});
    if (!hyperfine.waitForFinished(600000) || hyperfine.exitCode() != 0) {
        std::fprintf(stderr, "%s", hyperfine.readAllStandardError().constData());
        return -1;
    }
    QFile file(json);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QJsonObject result =
        QJsonDocument::fromJson(file.readAll()).object()[QStringLiteral("results")][0].toObject();
    return result[QStringLiteral("median")].toDouble() * 1e6;
}

QString joined(const QList<qint64>& ports) {
    QStringList texts;
    for (qint64 port : ports)
        texts.append(QString::number(port));
    return texts.join(QLatin1Char(','));
}

const char* verdict(bool met) {
    return met ? "met" : "MISSED";
}

} // namespace

int main(int argc, char* argv[]) {
    // One scan and nothing else, for timing as a whole process.
    if (argc == 3 && std::strcmp(argv[1], "--scan-once") == 0) {
        QList<qint64> ports;
        for (const QByteArray& text : QByteArray(argv[2]).split(','))
            ports.append(text.toLongLong());
        PortScanner::scanPortsBlocking(ports);
        return 0;
    }

    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int runs = args.size() == 3 && args[1] == QLatin1String("--runs") ? args[2].toInt() : 201;

    bool common = false;
    std::vector<HeldPort> held = holdPorts(common);
    QList<qint64> ports;
    for (const HeldPort& one : held)
        ports.append(one.port);
    std::printf("ports: %s (%s)\n", qPrintable(joined(ports)),
                common ? "the 18 common ports, all free here"
                       : "18 ephemeral ports: some common port is in use or cannot be bound here");

    // 1. Every port refused.
    for (int warm = 0; warm < 10; ++warm) {
        PortScanner::scanPortsBlocking(ports);
        floorLoop(ports);
    }
    if (!PortScanner::scanPortsBlocking(ports).isEmpty()) {
        std::printf("a held port answered; aborting\n");
        return 1;
    }
    // Interleaved, so that both see the same load on the machine.
    std::vector<double> scans, floors;
    for (int run = 0; run < runs; ++run) {
        scans.push_back(timeRuns(1, [&] { PortScanner::scanPortsBlocking(ports); }).front());
        floors.push_back(timeRuns(1, [&] { floorLoop(ports); }).front());
    }
    const double scan = median(scans);
    const double floor = median(floors);
    const int processRuns = 30;
    const double scanProcess = hyperfineMedian(
        {app.applicationFilePath(), QStringLiteral("--scan-once"), joined(ports)}, processRuns);
    const double nmap = hyperfineMedian(
        {QStringLiteral("nmap"), QStringLiteral("-sT"), QStringLiteral("-Pn"), QStringLiteral("-n"),
         QStringLiteral("-p"), joined(ports), QStringLiteral("127.0.0.1")},
        processRuns);
    std::printf("\n1. all 18 ports refused (median of %d in-process runs, %d process runs)\n", runs,
                processRuns);
    std::printf("   scan (in process)      %10.1f us\n", scan);
    std::printf("   floor (36 connects)    %10.1f us   scan/floor = %.2fx (target <= 3x: %s)\n",
                floor, scan / floor, verdict(scan <= 3 * floor));
    if (nmap > 0 && scanProcess > 0) {
        std::printf("   scan (whole process)   %10.1f us\n", scanProcess);
        std::printf("   nmap -sT -Pn -n        %10.1f us\n", nmap);
        std::printf("   nmap/scan in process   %10.1fx (target >= 10x: %s)\n", nmap / scan,
                    verdict(nmap >= 10 * scan));
        std::printf("   nmap/scan process      %10.1fx (process against process)\n",
                    nmap / scanProcess);
    } else {
        std::printf("   nmap or hyperfine did not run (bench/port_scan/run.sh installs them)\n");
    }

    // 2. Every port pending on both addresses.
    std::vector<Fd> fillers;
    for (HeldPort& one : held) {
        if (!makePending(one, fillers)) {
            std::printf("could not make port %d pending; aborting\n", one.port);
            return 1;
        }
    }
    const int pendingRuns = 7;
    std::vector<double> pending = timeRuns(pendingRuns, [&] {
        if (!PortScanner::scanPortsBlocking(ports).isEmpty())
            std::printf("   a pending port was reported open\n");
    });
    const double pendingMedian = median(pending) / 1000;
    const double pendingWorst = *std::max_element(pending.begin(), pending.end()) / 1000;
    std::printf("\n2. all 18 ports pending on both addresses (%d runs)\n", pendingRuns);
    std::printf("   scan median %.1f ms, worst %.1f ms; median/300 ms = %.3f "
                "(target < 330 ms: %s)\n",
                pendingMedian, pendingWorst, pendingMedian / 300, verdict(pendingWorst < 330));
    return 0;
}
