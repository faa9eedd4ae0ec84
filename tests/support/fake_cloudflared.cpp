// A stand-in for the cloudflared quick-tunnel client, for tests and benchmarks. It accepts
// `tunnel --url http://127.0.0.1:PORT`, writes log lines to standard error the way the real
// client does, and behaves as its environment asks:
//
//   FAKE_CF_MODE        url (default)   banner, box with the URL, then runs until signalled
//                       api-failure     the service cannot be reached: error line, exit 1
//                       split           the URL line written in two pieces, with a pause
//                       split-utf8      a multi-byte character split across writes, then url
//                       no-url          banner only, then runs until signalled
//                       flood           FAKE_CF_FLOOD_MIB MiB of log lines, URL in the middle
//                       exit            URL, then exits with FAKE_CF_EXIT_STATUS
//                       no-newline      writes FAKE_CF_FLOOD_MIB MiB without a line break
//   FAKE_CF_MODE_<PORT> overrides FAKE_CF_MODE for one local port
//   FAKE_CF_LABEL       the random label of the URL (default fare-write-waste-gadgets)
//   FAKE_CF_EXIT_STATUS status for mode exit (default 0)
//   FAKE_CF_IGNORE_TERM 1: SIGTERM is ignored
//   FAKE_CF_STDOUT_MIB  MiB written to standard output first
//   FAKE_CF_PAUSE_MS    pause between split writes (default 200)
//   FAKE_CF_PIDFILE     append "<pid> <port>\n" to this file at start
//   FAKE_CF_EXIT_AFTER_FLOOD 1: mode flood exits 0 when done instead of running on
// SIGUSR1 makes it exit with status 1 (a crash on demand); SIGTERM ends it as the real client.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <unistd.h>

namespace {

volatile sig_atomic_t crashRequested = 0;

void writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            std::_Exit(3);
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
}

void writeErr(const std::string& text) {
    writeAll(2, text.data(), text.size());
}

const char* env(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

void sleepMs(long ms) {
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR && !crashRequested) {
    }
}

std::string stamp() {
    return "2026-01-01T00:00:01Z INF ";
}

std::string url() {
    return std::string("https://") + env("FAKE_CF_LABEL", "fare-write-waste-gadgets") +
           ".trycloudflare.com";
}

std::string boxLine(const std::string& inner) {
    std::string line = "|  " + inner;
    line.resize(94, ' ');
    return stamp() + line + "|\n";
}

void banner() {
    writeErr("2026-01-01T00:00:00Z INF Thank you for trying Cloudflare Tunnel. Doing so, without a "
             "Cloudflare account, is a quick way to experiment and try it out.\n");
    writeErr("2026-01-01T00:00:00Z INF Requesting new quick Tunnel on trycloudflare.com...\n");
}

std::string boxTop() {
    return stamp() + "+" + std::string(92, '-') + "+\n";
}

void urlBox() {
    writeErr(boxTop());
    writeErr(boxLine("Your quick Tunnel has been created! Visit it at (it may take some time to be "
                     "reachable):"));
    writeErr(boxLine(url()));
    writeErr(boxTop());
}

std::string logLine(unsigned long n) {
    char buf[256];
    std::snprintf(buf, sizeof buf,
                  "2026-01-01T00:00:02Z INF Registered tunnel connection connIndex=%lu "
                  "connection=6b9c1f0e-3f1e-4d4c-9a43-%012lu event=0 ip=198.41.200.13 "
                  "location=ams01 protocol=quic\n",
                  n % 4, n);
    return buf;
}

void flood(double mib, bool withUrl) {
    const size_t total = static_cast<size_t>(mib * 1024 * 1024);
    std::string block;
    unsigned long n = 0;
    size_t written = 0;
    bool urlDone = !withUrl;
    while (written < total) {
        block.clear();
        while (block.size() < 64 * 1024)
            block += logLine(n++);
        writeAll(2, block.data(), block.size());
        written += block.size();
        if (!urlDone && written >= total / 2) {
            urlBox();
            urlDone = true;
        }
    }
    if (!urlDone)
        urlBox();
}

[[noreturn]] void runUntilSignalled() {
    for (;;) {
        pause();
        if (crashRequested) {
            writeErr("2026-01-01T00:00:09Z ERR connection lost\n");
            std::_Exit(1);
        }
    }
}

std::string portFromArgs(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--url") == 0) {
            const char* colon = std::strrchr(argv[i + 1], ':');
            return colon ? colon + 1 : "";
        }
    }
    return "";
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("cloudflared version 2026.1.0 (stand-in)");
        return 0;
    }
    const std::string port = portFromArgs(argc, argv);
    if (argc != 4 || std::strcmp(argv[1], "tunnel") != 0 || std::strcmp(argv[2], "--url") != 0 ||
        port.empty()) {
        writeErr("stand-in cloudflared: expected `tunnel --url http://127.0.0.1:PORT`\n");
        return 2;
    }

    struct sigaction usr1 {};
    usr1.sa_handler = [](int) { crashRequested = 1; };
    sigaction(SIGUSR1, &usr1, nullptr);
    if (std::strcmp(env("FAKE_CF_IGNORE_TERM", "0"), "1") == 0)
        std::signal(SIGTERM, SIG_IGN);

    if (const char* pidfile = std::getenv("FAKE_CF_PIDFILE")) {
        if (FILE* f = std::fopen(pidfile, "a")) {
            std::fprintf(f, "%ld %s\n", static_cast<long>(getpid()), port.c_str());
            std::fclose(f);
        }
    }

    const double stdoutMib = std::atof(env("FAKE_CF_STDOUT_MIB", "0"));
    if (stdoutMib > 0) {
        std::string block(64 * 1024, 'o');
        block.back() = '\n';
        for (size_t done = 0; done < stdoutMib * 1024 * 1024; done += block.size())
            writeAll(1, block.data(), block.size());
    }

    const std::string modeKey = "FAKE_CF_MODE_" + port;
    const std::string mode = env(modeKey.c_str(), env("FAKE_CF_MODE", "url"));
    const long pauseMs = std::atol(env("FAKE_CF_PAUSE_MS", "200"));
    const double floodMib = std::atof(env("FAKE_CF_FLOOD_MIB", "1"));

    banner();
    if (mode == "url") {
        urlBox();
    } else if (mode == "api-failure") {
        writeErr("2026-01-01T00:00:00Z ERR Error requesting quick Tunnel\n");
        writeErr("failed to request quick Tunnel: Post \"https://api.trycloudflare.com/tunnel\": "
                 "dial tcp: lookup api.trycloudflare.com: no such host\n");
        return 1;
    } else if (mode == "split") {
        const std::string line = boxLine(url());
        const size_t cut = line.find("trycloud");
        writeErr(boxTop());
        writeErr(line.substr(0, cut));
        sleepMs(pauseMs);
        writeErr(line.substr(cut));
        writeErr(boxTop());
    } else if (mode == "split-utf8") {
        // "Tunnel läuft": the two bytes of 'ä' land in separate writes, on the URL's line.
        const std::string line = stamp() + "Tunnel l\xc3\xa4uft " + url() + "\n";
        const size_t cut = line.find('\xc3') + 1;
        writeErr(line.substr(0, cut));
        sleepMs(pauseMs);
        writeErr(line.substr(cut));
    } else if (mode == "no-url") {
        // Nothing more: connecting for as long as it runs.
    } else if (mode == "flood") {
        flood(floodMib, true);
        if (std::strcmp(env("FAKE_CF_EXIT_AFTER_FLOOD", "0"), "1") == 0)
            return 0;
    } else if (mode == "no-newline") {
        std::string block(64 * 1024, 'x');
        for (size_t done = 0; done < floodMib * 1024 * 1024; done += block.size())
            writeAll(2, block.data(), block.size());
    } else if (mode == "exit") {
        urlBox();
        return std::atoi(env("FAKE_CF_EXIT_STATUS", "0"));
    } else {
        writeErr("stand-in cloudflared: unknown FAKE_CF_MODE " + mode + "\n");
        return 2;
    }
    runUntilSignalled();
}
