// Scale of the application, built from the same parts as main() (a test build):
//
//   bench_scale seed N                      writes N tunnels to Quillby's settings
//   bench_scale window N                    N tunnels: time to open the status window
//                                           (first and later opens) and to save the list
//   bench_scale flood N SECONDS CLIENT      N tunnels running CLIENT: the event loop's
//                                           lateness, sampled by a 5 ms timer, and RSS
//                                           growth; N = 0 measures the idle app
//
// Needs a display with a tray host (scripts/desktop-session.sh --tray).
#include "app/QuillbyApp.h"
#include "app/StatusWindow.h"
#include "model/SettingsKeys.h"
#include "model/TunnelStore.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

void seed(int count) {
    QList<TunnelConfig> list;
    for (int i = 0; i < count; ++i)
        list.append(TunnelConfig::create(QStringLiteral("Tunnel %1").arg(i), 3000 + i));
    QSettings settings;
    settings.clear();
    settings.setValue(SettingsKeys::tunnelConfigs, encodeTunnelConfigs(list));
    settings.sync();
}

long rssKib() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

// Bytes the tunnels' clients have written so far.
double clientWrittenMib(QuillbyApp& app) {
    double total = 0;
    for (TunnelInstance* tunnel : app.store()->instances()) {
        QFile io(QStringLiteral("/proc/%1/io").arg(tunnel->childPid()));
        if (!tunnel->hasChild() || !io.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : io.readAll().split('\n')) {
            if (line.startsWith("wchar:"))
                total += line.mid(6).trimmed().toDouble() / (1024 * 1024);
        }
    }
    return total;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, static_cast<size_t>(p * values.size()));
    return values[index];
}

double median(std::vector<double> values) {
    return percentile(std::move(values), 0.5);
}

void settle(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Milliseconds from showWindow() until the window is on screen and has painted.
double openWindow(QuillbyApp& app) {
    StatusWindow* window = app.statusWindow();
    bool painted = false;
    struct PaintWatch : QObject {
        bool* flag;
        explicit PaintWatch(bool* f)
            : flag(f) {}
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint)
                *flag = true;
            return false;
        }
    } watch(&painted);
    window->installEventFilter(&watch);
    QElapsedTimer timer;
    timer.start();
    app.showWindow();
    while (!(painted && window->windowHandle() && window->windowHandle()->isExposed()) &&
           timer.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    window->removeEventFilter(&watch);
    return ms;
}

int runWindow(QuillbyApp& app, int count) {
    settle(1000);
    const double first = openWindow(app);
    std::vector<double> later;
    for (int i = 0; i < 10; ++i) {
        app.statusWindow()->hide();
        settle(200);
        later.push_back(openWindow(app));
    }
    app.statusWindow()->hide();
    std::vector<double> saves;
    for (int i = 0; i < 20; ++i) {
        QElapsedTimer timer;
        timer.start();
        app.store()->saveTunnels();
        saves.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    std::printf("tunnels=%d window_first_ms=%.1f window_median_ms=%.1f save_median_ms=%.2f "
                "rss_kib=%ld\n",
                count, first, median(later), median(saves), rssKib());
    return 0;
}

int runFlood(QuillbyApp& app, int seconds) {
    for (TunnelInstance* tunnel : app.store()->instances())
        tunnel->start();
    settle(3000); // every client has printed its URL and is flooding
    int active = 0;
    for (TunnelInstance* tunnel : app.store()->instances())
        active += tunnel->tunnelURL().has_value();
    const long rssStart = rssKib();
    long rssHalf = 0;
    const double writtenStart = clientWrittenMib(app);

    constexpr int intervalMs = 5;
    std::vector<double> lateness;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(intervalMs);
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        lateness.push_back(std::max(0.0, static_cast<double>(now - last) / 1e6 - intervalMs));
        last = now;
        if (rssHalf == 0 && now > qint64(seconds) * 500000000LL)
            rssHalf = rssKib();
        if (now > qint64(seconds) * 1000000000LL)
            QCoreApplication::exit(0);
    });
    probe.start();
    QApplication::exec();
    const double throughput = (clientWrittenMib(app) - writtenStart) / seconds;
    std::printf("running=%zu active=%d read_mib_per_s=%.1f seconds=%d samples=%zu "
                "lateness_p50_ms=%.2f "
                "lateness_p99_ms=%.2f lateness_max_ms=%.2f rss_start_kib=%ld rss_half_kib=%ld "
                "rss_end_kib=%ld\n",
                app.store()->instances().size(), active, throughput, seconds, lateness.size(),
                percentile(lateness, 0.5), percentile(lateness, 0.99), percentile(lateness, 1.0),
                rssStart, rssHalf, rssKib());

    app.quit();
    QObject::connect(&app, &QuillbyApp::finished, [] { QCoreApplication::exit(0); });
    return QApplication::exec();
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication::setOrganizationName(QStringLiteral("Quillby"));
    QCoreApplication::setApplicationName(QStringLiteral("Quillby"));
    if (argc == 3 && std::strcmp(argv[1], "seed") == 0) {
        seed(std::atoi(argv[2]));
        return 0;
    }
    const bool window = argc == 3 && std::strcmp(argv[1], "window") == 0;
    const bool flood = argc == 5 && std::strcmp(argv[1], "flood") == 0;
    if (!window && !flood) {
        std::fputs("usage: bench_scale seed N | window N | flood N SECONDS CLIENT\n", stderr);
        return 2;
    }
    const int count = std::atoi(argv[2]);
    seed(count);

    QApplication qapp(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QSettings settings;
    const QString client = flood ? QString::fromLocal8Bit(argv[4]) : QString();
    QuillbyApp app({&settings, nullptr, nullptr,
                    [client] { return client.isEmpty() ? findCloudflared() : client; }});
    app.start();
    return window ? runWindow(app, count) : runFlood(app, std::atoi(argv[3]));
}
