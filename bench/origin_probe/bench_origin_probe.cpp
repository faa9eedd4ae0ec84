// The cost the origin choice adds to a tunnel's Start: wall time of OriginProbe::chooseOrigin
// on the GUI thread, with a server on 127.0.0.1, on ::1 only, and on neither (each a real
// listener on an ephemeral port). Usage: bench_origin_probe [runs, default 2000]
#include "model/OriginProbe.h"

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::atoi(argv[1]) : 2000;
    struct Case {
        const char* name;
        QHostAddress address;
        bool keep;
    };
    const Case cases[] = {{"127.0.0.1 listening", QHostAddress::LocalHost, true},
                          {"::1 only", QHostAddress::LocalHostIPv6, true},
                          {"nothing listening", QHostAddress::LocalHost, false}};
    for (const Case& c : cases) {
        QTcpServer server;
        server.listen(c.address);
        const qint64 port = server.serverPort();
        if (!c.keep)
            server.close();
        std::vector<double> us;
        for (int i = 0; i < runs; ++i) {
            const auto start = std::chrono::steady_clock::now();
            const OriginAddress origin = OriginProbe::chooseOrigin(port);
            us.push_back(
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                    .count());
            // Accept and drop, so the listen queue never fills.
            while (QTcpSocket* s = server.nextPendingConnection())
                delete s;
            server.waitForNewConnection(0);
            if (origin.listening != c.keep)
                return 1;
        }
        std::sort(us.begin(), us.end());
        std::printf("%-20s median %.0f us, p99 %.0f us, max %.0f us (%d runs)\n", c.name,
                    us[us.size() / 2], us[us.size() * 99 / 100], us.back(), runs);
    }
    return 0;
}
