// The inspector under a flood: ROUNDS rounds of REQUESTS uploads of 1 MiB each, echoed back
// by the test suite's origin (tests/proxy/origin.py), so that every capture holds 2 MiB of
// bodies, sent by curl (8 at a time) through a tunnel's inspector as the app runs it, with
// its window open on the log. Prints the process's resident memory after each round, then
// how long the filter takes over the full list (a text found nowhere: every body searched).
// Usage: bench_capture_memory [rounds, default 6] [requests a round, default 200]
#include "model/RequestFilter.h"
#include "model/RequestLog.h"
#include "model/TunnelGateway.h"
#include "ui/RequestsWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <cstdio>

namespace {

qint64 residentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? QByteArray(argv[1]).toInt() : 6;
    const int perRound = argc > 2 ? QByteArray(argv[2]).toInt() : 200;

    QProcess origin;
    origin.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(QUILLBY_PROXY_ORIGIN)});
    while (!origin.canReadLine())
        if (!origin.waitForReadyRead(10000))
            return 1;
    const qint64 originPort = origin.readLine().mid(5).trimmed().toLongLong();
    TunnelGateway capture;
    QString error;
    capture.setOptions({.port = originPort, .inspect = true});
    const QString proxy = capture.start(&error);
    if (proxy.isEmpty())
        return std::fprintf(stderr, "%s\n", qPrintable(error)), 1;
    RequestsWindow window(
        capture.log(), [&capture](const HttpExchange& e) { return capture.replay(e); },
        [] { return QStringLiteral("https://quiet-river.example"); });
    window.show();

    QTemporaryDir dir;
    QFile body(dir.filePath(QStringLiteral("body")));
    body.open(QIODevice::WriteOnly);
    QByteArray mib(1 << 20, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(mib.data()), mib.size() / 4);
    body.write(mib);
    body.close();
    QFile config(dir.filePath(QStringLiteral("curl.conf")));
    config.open(QIODevice::WriteOnly);
    for (int i = 0; i < perRound; ++i)
        config.write(QStringLiteral("url = \"%1/echo?n=%2\"\noutput = \"/dev/null\"\n")
                         .arg(proxy)
                         .arg(i)
                         .toUtf8());
    config.close();

    std::printf("round  requests  log entries  held MiB  dropped  RSS MiB\n");
    std::printf("%5d  %8d  %11d  %8.1f  %7lld  %7.1f\n", 0, 0, 0, 0.0, 0LL,
                double(residentKiB()) / 1024);
    qint64 sent = 0;
    for (int round = 1; round <= rounds; ++round) {
        QProcess curl;
        curl.start(QStringLiteral("curl"),
                   {"-s", "-Z", "--parallel-max", "8", "--data-binary", '@' + body.fileName(), "-H",
                    "Content-Type: application/octet-stream", "-K", config.fileName()});
        while (!curl.waitForFinished(50))
            app.processEvents();
        sent += perRound;
        // Let the last batches reach the log.
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 300)
            app.processEvents();
        RequestLog* log = capture.log();
        std::printf("%5d  %8lld  %11d  %8.1f  %7lld  %7.1f\n", round, sent, log->rowCount(),
                    double(log->heldBytes()) / (1 << 20), log->droppedCount(),
                    double(residentKiB()) / 1024);
        std::fflush(stdout);
    }

    RequestFilter filter;
    filter.setText(QStringLiteral("no such text anywhere"));
    RequestLog* log = capture.log();
    QElapsedTimer timer;
    timer.start();
    int shown = 0;
    for (int row = 0; row < log->rowCount(); ++row)
        shown += filter.matches(log->exchangeAt(row)) ? 1 : 0;
    std::printf("filter over the full list (%d entries, %.1f MiB): %.1f ms, %d shown\n",
                log->rowCount(), double(log->heldBytes()) / (1 << 20),
                double(timer.nsecsElapsed()) / 1e6, shown);
    capture.stop();
    origin.kill();
    origin.waitForFinished();
    return 0;
}
