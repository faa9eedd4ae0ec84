// A stand-in for the cloudflared quick-tunnel client, for tests and benchmarks. It accepts
// `tunnel --url http://127.0.0.1:PORT`, writes log lines to standard error the way the real
// client does, and behaves as its environment asks:
//
//   FAKE_CF_MODE        url (default)   banner, box with the URL, a registered connection,
//                                       then runs until signalled
//                       api-failure     no internet: the service cannot be reached, exit 1
//                       rate-limited    HTTP 429 from the service, exit 1
//                       rate-limited-old  the same as an older client words it, exit 1
//                       service-failed  HTTP 500 from the service, exit 1
//                       edge-timeout    URL, then quic dial time-outs every interval, for ever
//                       edge-dns        URL, then the edge lookup fails, exit 1
//                       origin-refused  URL, registered, then a refused request every interval
//                       lost            URL, registered, connection lost after one interval
//                                       and registered again FAKE_CF_OUTAGE_MS later
//                       split           the URL line written in two pieces, with a pause,
//                                       then a registered connection
//                       no-url          banner only, then runs until signalled
//                       flood           FAKE_CF_FLOOD_MIB MiB of log lines, URL in the middle
//                       exit            URL, then exits with FAKE_CF_EXIT_STATUS
//   FAKE_CF_MODE_<PORT> overrides FAKE_CF_MODE for one local port
//   FAKE_CF_LABEL       the random label of the URL (default fare-write-waste-gadgets)
//   FAKE_CF_EXIT_STATUS status for mode exit (default 0)
//   FAKE_CF_IGNORE_TERM 1: SIGTERM is ignored
//   FAKE_CF_STDOUT_MIB  MiB written to standard output first
//   FAKE_CF_PAUSE_MS    pause between split writes (default 200)
//   FAKE_CF_PIDFILE     append "<pid> <port>\n" to this file at start
//   FAKE_CF_EXIT_AFTER_FLOOD 1: mode flood exits 0 when done instead of running on
//   FAKE_CF_INTERVAL_MS pause between repeated lines (default 5000, as the real client)
//   FAKE_CF_OUTAGE_MS   length of the outage of mode lost (default 1000)
//   FAKE_CF_ON_TERM     graceful: the shutdown line, then exit 0; url: the URL box and a
//                       registration first; fail: exit 1. Unset: the signal ends it.
// SIGUSR1 makes it exit with status 1 (a crash on demand).
// FAKE_CF_EDGE_PORT or FAKE_CF_EDGE: it also plays the edge in front of --url (FakeEdge.h).
#include "FakeEdge.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <unistd.h>

namespace {

volatile sig_atomic_t crashRequested = 0;
volatile sig_atomic_t termRequested = 0;

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
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR && !crashRequested && !termRequested) {
    }
}

std::string stamp(const char* level = "INF") {
    return std::string("2026-12-06T19:10:57Z ") + level + " ";
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

void registered() {
    writeErr(stamp() + "Registered tunnel connection connIndex=0 "
                       "connection=3f1c0a52-2f7e-4b8e-9a41-0c6d2f9e1b77 event=0 ip=198.41.200.13 "
                       "location=ams01 protocol=quic\n");
}

void unregistered() {
    writeErr(stamp() + "Unregistered tunnel connection connIndex=0 event=0 ip=198.41.200.13\n");
    writeErr(stamp("ERR") + "Serve tunnel error error=\"timeout: no recent network activity\" "
                            "connIndex=0 event=0 ip=198.41.200.13\n");
    writeErr(stamp() + "Retrying connection in up to 1s connIndex=0 event=0 ip=198.41.200.13\n");
}

void edgeTimeout() {
    writeErr(stamp("ERR") + "Failed to create new quic connection error=\"failed to dial to edge "
                            "with quic: timeout: no recent network activity\" connIndex=0 "
                            "event=0 ip=198.41.192.77\n");
}

// One per request while nothing answers on the local port.
std::string originRefused(const std::string& port, unsigned long ray = 0x8173fa0bd1e6b397) {
    char cfRay[17];
    std::snprintf(cfRay, sizeof cfRay, "%016lx", ray);
    return stamp("ERR") +
           " error=\"Unable to reach the origin service. The service may be down or it may not "
           "be responding to traffic from cloudflared: dial tcp 127.0.0.1:" +
           port + ": connect: connection refused\" cfRay=" + cfRay +
           "-AMS event=1 ingressRule=0 originService=http://127.0.0.1:" + port + "\n";
}

// The client's own upkeep: never a problem of the tunnel.
void upkeep() {
    writeErr(stamp("ERR") + "update check failed error=\"Get \\\"https://update.argotunnel.com?"
                            "arch=amd64&clientVersion=2023.7.3&os=linux\\\": dial tcp: lookup "
                            "update.argotunnel.com on 127.0.0.53:53: no such host\"\n");
    writeErr(stamp("WRN") + "Unable to lookup protocol percentage.\n");
}

void quickTunnelAnswer(const char* code, const char* status) {
    writeErr(stamp("ERR") + "Error unmarshaling QuickTunnel response: error code: " + code +
             " error=\"invalid character 'e' looking for beginning of value\" status_code=\"" +
             status + "\"\n");
    writeErr("failed to unmarshal quick Tunnel: invalid character 'e' looking for beginning of "
             "value\n");
}

void flood(double mib, const std::string& port) {
    const size_t total = static_cast<size_t>(mib * 1024 * 1024);
    std::string block;
    unsigned long n = 0;
    bool urlDone = false;
    for (size_t written = 0; written < total || !urlDone; written += block.size()) {
        if (!urlDone && written >= total / 2) {
            urlBox();
            registered();
            urlDone = true;
        }
        block.clear();
        while (block.size() < 64 * 1024 && written < total)
            block += originRefused(port, n++); // a busy tunnel whose server is down
        writeAll(2, block.data(), block.size());
    }
}

void answerSignals() {
    if (crashRequested) {
        writeErr(stamp("ERR") + "connection lost\n");
        std::_Exit(1);
    }
    if (termRequested) {
        const std::string onTerm = env("FAKE_CF_ON_TERM", "");
        writeErr(stamp() + "Initiating graceful shutdown due to signal terminated ...\n");
        if (onTerm == "url") {
            urlBox();
            registered();
        }
        std::_Exit(onTerm == "fail" ? 1 : 0);
    }
}

// Runs until signalled, calling `tick` after every interval.
template <typename Tick> [[noreturn]] void runUntilSignalled(long intervalMs, Tick tick) {
    for (;;) {
        answerSignals();
        sleepMs(intervalMs);
        answerSignals();
        tick();
    }
}

[[noreturn]] void runUntilSignalled() {
    // The signals stay blocked except inside sigsuspend, so one that arrives between the check
    // and the wait still ends the wait (pause() would sleep through it).
    sigset_t blocked, waiting;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    sigaddset(&blocked, SIGTERM);
    sigprocmask(SIG_BLOCK, &blocked, &waiting);
    for (;;) {
        answerSignals();
        sigsuspend(&waiting);
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
    if (std::strcmp(env("FAKE_CF_IGNORE_TERM", "0"), "1") == 0) {
        std::signal(SIGTERM, SIG_IGN);
    } else if (*env("FAKE_CF_ON_TERM", "")) {
        struct sigaction term {};
        term.sa_handler = [](int) { termRequested = 1; };
        sigaction(SIGTERM, &term, nullptr);
    }

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

    startFakeEdgeIfAsked(argv[3], url());

    const std::string modeKey = "FAKE_CF_MODE_" + port;
    const std::string mode = env(modeKey.c_str(), env("FAKE_CF_MODE", "url"));
    const long pauseMs = std::atol(env("FAKE_CF_PAUSE_MS", "200"));
    const double floodMib = std::atof(env("FAKE_CF_FLOOD_MIB", "1"));
    const long intervalMs = std::atol(env("FAKE_CF_INTERVAL_MS", "5000"));

    banner();
    if (mode == "url") {
        urlBox();
        upkeep();
        registered();
    } else if (mode == "api-failure") {
        writeErr("failed to request quick Tunnel: Post \"https://api.trycloudflare.com/tunnel\": "
                 "dial tcp: lookup api.trycloudflare.com on 127.0.0.53:53: no such host\n");
        return 1;
    } else if (mode == "rate-limited" || mode == "rate-limited-old") {
        if (mode == "rate-limited")
            quickTunnelAnswer("1015", "429 Too Many Requests");
        else
            writeErr("failed to unmarshal quick Tunnel: invalid character 'e' looking for "
                     "beginning of value\n");
        return 1;
    } else if (mode == "service-failed") {
        quickTunnelAnswer("1101", "500 Internal Server Error");
        return 1;
    } else if (mode == "edge-timeout") {
        urlBox();
        upkeep();
        runUntilSignalled(intervalMs, edgeTimeout);
    } else if (mode == "edge-dns") {
        urlBox();
        writeErr(stamp("ERR") + "edge discovery: error looking up Cloudflare edge IPs: the DNS "
                                "query failed error=\"lookup _v2-origintunneld._tcp.argotunnel.com "
                                "on 127.0.0.53:53: no such host\" event=0\n");
        writeErr(stamp("ERR") + "Please try the following things to diagnose this issue\n");
        writeErr(stamp("ERR") + "1. ensure that argotunnel.com is returning \"origintunneld\" "
                                "service records.\n");
        writeErr("Could not lookup srv records on _v2-origintunneld._tcp.argotunnel.com: lookup "
                 "_v2-origintunneld._tcp.argotunnel.com on 127.0.0.53:53: no such host\n");
        return 1;
    } else if (mode == "origin-refused") {
        urlBox();
        registered();
        runUntilSignalled(intervalMs, [&port] { writeErr(originRefused(port)); });
    } else if (mode == "lost") {
        urlBox();
        registered();
        sleepMs(intervalMs);
        answerSignals();
        unregistered();
        sleepMs(std::atol(env("FAKE_CF_OUTAGE_MS", "1000")));
        answerSignals();
        registered();
    } else if (mode == "split") {
        const std::string line = boxLine(url());
        const size_t cut = line.find("trycloud");
        writeErr(boxTop());
        writeErr(line.substr(0, cut));
        sleepMs(pauseMs);
        writeErr(line.substr(cut));
        writeErr(boxTop());
        registered();
    } else if (mode == "no-url") {
        // Nothing more: connecting for as long as it runs.
    } else if (mode == "flood") {
        flood(floodMib, port);
        if (std::strcmp(env("FAKE_CF_EXIT_AFTER_FLOOD", "0"), "1") == 0)
            return 0;
    } else if (mode == "exit") {
        urlBox();
        registered();
        return std::atoi(env("FAKE_CF_EXIT_STATUS", "0"));
    } else {
        writeErr("stand-in cloudflared: unknown FAKE_CF_MODE " + mode + "\n");
        return 2;
    }
    runUntilSignalled();
}
