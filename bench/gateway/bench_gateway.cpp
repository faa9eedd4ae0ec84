// The tunnels' gateway (the Gateway class the app runs, on its shared I/O thread) for
// bench/gateway/run.sh:
//
//   bench_gateway serve ORIGIN_PORT      two gateways in front of the server on ORIGIN_PORT,
//                                        inspection off and on (the captures going through the
//                                        GUI thread's batches into a request log, as in the
//                                        app); prints "off <port> on <port>" and runs until its
//                                        standard input closes
//   bench_gateway idle N SECONDS ORIGIN_PORT
//                                        N gateways with their request logs, bound and idle:
//                                        resident memory before, bound, and with two kept-alive
//                                        connections each (after one request each, as a
//                                        tunnel's client keeps them); then the wake-ups of
//                                        every thread but the main one over SECONDS
#include "model/RequestLog.h"
#include "proxy/Gateway.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>
#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>
#include <vector>

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

// A field of /proc/self/status or /proc/self/task/TID/status, in its unit (kB for sizes).
long statusField(const QString& file, const QByteArray& name) {
    QFile status(file);
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(name + ':'))
            return line.mid(name.size() + 1).trimmed().split(' ').first().toLong();
    }
    return -1;
}

long rssKib() {
    return statusField(QStringLiteral("/proc/self/status"), "VmRSS");
}

// Context switches of every thread but the main one, which only measures.
long otherThreadsSwitches() {
    long total = 0;
    const QString main = QString::number(::getpid());
    for (const QString& tid :
         QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (tid == main)
            continue;
        const QString file = QStringLiteral("/proc/self/task/%1/status").arg(tid);
        total += statusField(file, "voluntary_ctxt_switches") +
                 statusField(file, "nonvoluntary_ctxt_switches");
    }
    return total;
}

struct Tunnel {
    RequestLog log;
    Gateway gateway;
    Tunnel() { QObject::connect(&gateway, &Gateway::exchangesCaptured, &log, &RequestLog::append); }
};

int serve(QCoreApplication& app, quint16 originPort) {
    Tunnel off, on;
    off.gateway.setCapture(false);
    on.gateway.setCapture(true);
    if (!off.gateway.start(originPort) || !on.gateway.start(originPort))
        return 1;
    std::printf("off %u on %u\n", unsigned(off.gateway.port()), unsigned(on.gateway.port()));
    std::fflush(stdout);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char byte;
        if (::read(STDIN_FILENO, &byte, 1) <= 0)
            app.quit();
    });
    return app.exec();
}

int idle(QCoreApplication& app, int count, int seconds, quint16 originPort) {
    const long before = rssKib();
    std::vector<std::unique_ptr<Tunnel>> tunnels;
    for (int i = 0; i < count; ++i) {
        tunnels.push_back(std::make_unique<Tunnel>());
        if (!tunnels.back()->gateway.start(originPort))
            return 1;
    }
    const long bound = rssKib();
    asio::io_context io;
    std::vector<tcp::socket> clients;
    for (const auto& tunnel : tunnels) {
        for (int i = 0; i < 2; ++i) {
            tcp::socket& socket = clients.emplace_back(io);
            socket.connect({asio::ip::address_v4::loopback(), tunnel->gateway.port()});
            asio::write(socket,
                        asio::buffer(std::string_view("GET / HTTP/1.1\r\nHost: bench\r\n\r\n")));
            asio::streambuf answer;
            asio::read_until(socket, answer, "\r\n\r\n");
        }
    }
    const long connected = rssKib();
    std::printf("gateways=%d rss_before_kib=%ld bound_kib_each=%.1f "
                "with_2_idle_connections_kib_each=%.1f\n",
                count, before, double(bound - before) / count, double(connected - before) / count);
    std::fflush(stdout);
    const long switches = otherThreadsSwitches();
    QTimer::singleShot(seconds * 1000, &app, [&] {
        std::printf("wakeups_other_threads_in_%ds=%ld\n", seconds,
                    otherThreadsSwitches() - switches);
        app.quit();
    });
    return app.exec();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "serve") == 0)
        return serve(app, quint16(std::atoi(argv[2])));
    if (argc == 5 && std::strcmp(argv[1], "idle") == 0)
        return idle(app, std::atoi(argv[2]), std::atoi(argv[3]), quint16(std::atoi(argv[4])));
    std::fputs("usage: bench_gateway serve ORIGIN_PORT | idle N SECONDS ORIGIN_PORT\n", stderr);
    return 2;
}
