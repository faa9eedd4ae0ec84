// Pushes a flood of client log lines through a running TunnelInstance and reports this
// process's CPU time per GiB scanned and its peak memory growth. The stand-in client is
// given as the first argument; FAKE_CF_FLOOD_MIB sets the volume (default 256).
#include "model/TunnelInstance.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>
#include <cstdio>
#include <sys/resource.h>

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A field of /proc/self/status in KiB (VmRSS, VmHWM).
long statusKiB(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    // /proc files report no size: read them whole.
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').first().toLong();
    }
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PATH-TO-STAND-IN-CLIENT\n", argv[0]);
        return 2;
    }
    const QString client = QString::fromLocal8Bit(argv[1]);
    const double mib = qEnvironmentVariableIsSet("FAKE_CF_FLOOD_MIB")
                           ? qEnvironmentVariable("FAKE_CF_FLOOD_MIB").toDouble()
                           : 256.0;
    qputenv("FAKE_CF_MODE", "flood");
    qputenv("FAKE_CF_FLOOD_MIB", QByteArray::number(mib));
    qputenv("FAKE_CF_EXIT_AFTER_FLOOD", "1");

    TunnelInstance tunnel(TunnelConfig::create(QStringLiteral("Bench"), 3000),
                          {[client] { return std::optional<QString>(client); }});
    const long rssBefore = statusKiB("VmRSS");
    const long peakBefore = statusKiB("VmHWM");
    const double cpuBefore = cpuSeconds();
    QString url;
    QObject::connect(&tunnel, &TunnelInstance::changed, &tunnel, [&] {
        if (tunnel.tunnelURL())
            url = *tunnel.tunnelURL();
    });
    QObject::connect(&tunnel, &TunnelInstance::childGone, &app, &QCoreApplication::quit);
    QTimer::singleShot(0, &tunnel, &TunnelInstance::start);
    app.exec();

    const double cpu = cpuSeconds() - cpuBefore;
    const long growth = statusKiB("VmHWM") - std::max(rssBefore, 0L);
    std::printf("scanned_mib=%.0f url=%s cpu_s=%.3f cpu_s_per_gib=%.3f peak_growth_kib=%ld "
                "(peak before %ld KiB)\n",
                mib, qPrintable(url), cpu, cpu / (mib / 1024.0), growth, peakBefore);
    return url.isEmpty() ? 1 : 0;
}
