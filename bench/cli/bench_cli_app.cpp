// The app's half of the command-line benchmark: the session's parts (QuillbyApp, the single
// instance's socket, the control server) with the tunnels saved in Quillby's settings, and a
// 5 ms precise timer as the probe of the GUI event loop. Prints "ready" once it listens; then
// each line "measure SECONDS" on standard input is answered with the lateness of the probe
// over that time: "samples=N lateness_p50_ms=.. lateness_p99_ms=.. lateness_max_ms=..
// app_cpu_ms=..", the last being the CPU time the whole app spent meanwhile.
#include "app/QuillbyApp.h"
#include "control/ControlServer.h"
#include "control/SingleInstance.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(p * values.size()))];
}

double cpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication::setOrganizationName(QStringLiteral("Quillby"));
    QCoreApplication::setApplicationName(QStringLiteral("Quillby"));
    QApplication qapp(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QSettings settings;
    QuillbyApp app({&settings, nullptr, nullptr, {}});
    app.start();
    SingleInstance instance;
    if (!instance.claim() || !instance.server()) {
        std::fputs("another Quillby runs here\n", stderr);
        return 1;
    }
    ControlServer control(instance.server(), app.store());

    constexpr int intervalMs = 5;
    std::vector<double> lateness;
    bool measuring = false;
    double cpuAtStart = 0;
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(intervalMs);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (measuring)
            lateness.push_back(std::max(0.0, double(now - last) / 1e6 - intervalMs));
        last = now;
    });
    probe.start();

    QTimer stop;
    stop.setSingleShot(true);
    QObject::connect(&stop, &QTimer::timeout, [&] {
        measuring = false;
        std::printf("samples=%zu lateness_p50_ms=%.2f lateness_p99_ms=%.2f lateness_max_ms=%.2f "
                    "app_cpu_ms=%.0f\n",
                    lateness.size(), percentile(lateness, 0.5), percentile(lateness, 0.99),
                    percentile(lateness, 1.0), cpuMs() - cpuAtStart);
        std::fflush(stdout);
    });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char line[64] = {};
        const ssize_t n = ::read(STDIN_FILENO, line, sizeof line - 1);
        double seconds = 0;
        if (n <= 0) {
            QCoreApplication::exit(0);
        } else if (std::sscanf(line, "measure %lf", &seconds) == 1) {
            lateness.clear();
            last = clock.nsecsElapsed();
            measuring = true;
            cpuAtStart = cpuMs();
            stop.start(int(seconds * 1000));
        }
    });
    std::puts("ready");
    std::fflush(stdout);
    return QApplication::exec();
}
