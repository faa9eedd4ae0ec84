// A stand-in client for the scale benchmark: prints the quick-tunnel banner and URL to
// standard error like the real client, registers a connection, then keeps logging at a fixed rate
// (FLOOD_RATE_MIB MiB/s, default 10) until it is signalled.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <unistd.h>

namespace {

void writeAll(const std::string& text) {
    const char* data = text.data();
    size_t size = text.size();
    while (size > 0) {
        const ssize_t n = ::write(2, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            std::_Exit(3);
        data += n;
        size -= static_cast<size_t>(n);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4 || std::strcmp(argv[1], "tunnel") != 0)
        return 2;
    const char* colon = std::strrchr(argv[3], ':');
    const std::string port = colon ? colon + 1 : "0";
    const char* rateText = std::getenv("FLOOD_RATE_MIB");
    const double rate = rateText ? std::atof(rateText) : 10.0;

    writeAll("2026-01-01T00:00:00Z INF Requesting new quick Tunnel on trycloudflare.com...\n");
    writeAll("2026-01-01T00:00:01Z INF |  https://flood-" + port +
             ".trycloudflare.com                                        |\n");
    writeAll("2026-01-01T00:00:02Z INF Registered tunnel connection connIndex=0 "
             "connection=3f1c0a52-2f7e-4b8e-9a41-0c6d2f9e1b77 event=0 ip=198.41.200.13 "
             "location=ams01 protocol=quic\n");

    std::string block;
    for (unsigned long n = 0; block.size() < 64 * 1024; ++n) {
        char line[200];
        std::snprintf(line, sizeof line,
                      "2026-01-01T00:00:02Z DBG update event=%lu connIndex=%lu ip=198.41.200.13 "
                      "location=ams01 protocol=quic bytes=%lu\n",
                      n, n % 4, n * 1021);
        block += line;
    }
    // Paced on absolute times so that a late write is caught up, never drifts.
    const double blocksPerSecond = rate * 1024 * 1024 / static_cast<double>(block.size());
    const long periodNs = static_cast<long>(1e9 / blocksPerSecond);
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (;;) {
        writeAll(block);
        next.tv_nsec += periodNs;
        while (next.tv_nsec >= 1000000000L) {
            next.tv_nsec -= 1000000000L;
            ++next.tv_sec;
        }
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) == EINTR) {
        }
    }
}
