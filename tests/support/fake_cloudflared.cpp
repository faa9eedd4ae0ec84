// A stand-in for the cloudflared quick-tunnel client, for tests and benchmarks. It accepts
// `tunnel [--no-autoupdate] [--config PATH] --url http://127.0.0.1:PORT` and `--version`,
// writes log lines to standard error the way the real client does, and behaves as its
// environment asks. Every generation's lines are tst_clientlog's table; here only what tests
// with a real child need:
//
//   FAKE_CF_VERSION     what --version names, X.Y.Z (default 2023.7.3); from 2024.12 on, a
//                       metrics address that cannot be bound is worded as then.
//   FAKE_CF_MODE        url (default)   banner, box with the URL, a registered connection,
//                                       then runs until signalled
//                       api-failure     no internet: the service cannot be reached, exit 1
//                       origin-refused  URL, registered, then a refused request every interval
//                       vanish          URL, registered; after one interval /ready counts no
//                                       connection, and no line says so
//                       no-url          banner only, then runs until signalled
//                       flood           FAKE_CF_FLOOD_MIB MiB of log lines, URL in the middle
//   FAKE_CF_LABEL       the random label of the URL (default fare-write-waste-gadgets)
//   FAKE_CF_IGNORE_TERM 1: SIGTERM is ignored
//   FAKE_CF_STDOUT_MIB  MiB written to standard output first
//   FAKE_CF_PIDFILE     append "<pid> <port>\n" to this file at start
//   FAKE_CF_EXIT_AFTER_FLOOD 1: mode flood exits 0 when done instead of running on
//   FAKE_CF_INTERVAL_MS pause between repeated lines (default 5000, as the real client)
//   FAKE_CF_WORDING     unknown: registrations worded as no client words them
//   FAKE_CF_BOX         unknown: the URL given in a layout no client has, without https://
// SIGUSR1 makes it exit with status 1 (a crash on demand).
// `--metrics ADDRESS`: it serves /ready and /quicktunnel there once the URL exists, as the real
// client does (metrics/metrics.go, metrics/readiness.go), unless FAKE_CF_METRICS=off; an address
// that cannot be bound ends it at once with the client's lines and status 1.
// Named tunnels: `tunnel run --credentials-file PATH --url URL UUID` registers four
// connections; the account's commands (`tunnel login`, `create`, `route dns`, `delete`) are
// tests/support/account_api.py's, run in this process's place.
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <netinet/in.h>
#include <pthread.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

volatile sig_atomic_t crashRequested = 0;

void writeAll(int fd, const char* data, size_t size) {
    for (ssize_t n; size > 0; data += n, size -= size_t(n)) {
        if ((n = ::write(fd, data, size)) < 0 && errno != EINTR)
            std::_Exit(3);
        n = std::max<ssize_t>(n, 0);
    }
}

// Writes text to standard error and returns status, for the lines that end a run.
int writeErr(const std::string& text, int status = 1) {
    writeAll(2, text.data(), text.size());
    return status;
}

const char* env(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

bool envIs(const char* name, const char* value) {
    return std::strcmp(env(name, ""), value) == 0;
}

std::string stamp(const char* level = "INF") {
    return std::string("2026-12-06T19:10:57Z ") + level + " ";
}

std::string url() {
    return std::string("https://") + env("FAKE_CF_LABEL", "fare-write-waste-gadgets") +
           ".trycloudflare.com";
}

// Connections registered now, as /ready counts them.
std::atomic<int> connected{0};
std::string metricsAddress, hostname;

std::string metricsAnswer(const std::string& requestLine) {
    // Quillby asks /ready and /quicktunnel only; any other path is answered as the latter.
    const bool readiness = requestLine.find(" /ready ") != std::string::npos;
    const int ready = connected;
    const std::string status = readiness && !ready ? "503 Service Unavailable" : "200 OK";
    const std::string body = readiness
                                 ? "{\"status\":" + status.substr(0, 3) +
                                       ",\"readyConnections\":" + std::to_string(ready) +
                                       ",\"connectorId\":\"0c5d9e3a-7b21-4f6e-9d84-2a1f6b3c8e57\"}"
                                 : "{\"hostname\":\"" + hostname + "\"}";
    return "HTTP/1.1 " + status +
           "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

// One request per connection, in turn: enough for the few asks a test makes.
void serveMetrics(int listener) {
    for (int fd;
         (fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0 || errno != EBADF;) {
        std::string request;
        char chunk[4096];
        for (ssize_t n; request.find("\r\n\r\n") == std::string::npos && request.size() < 65536 &&
                        (n = ::recv(fd, chunk, sizeof chunk, 0)) > 0;)
            request.append(chunk, size_t(n));
        const std::string reply = metricsAnswer(request.substr(0, request.find('\r')));
        if (::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL) >= 0)
            ::shutdown(fd, SHUT_WR);
        ::close(fd);
    }
}

// The client's end when its explicit address cannot be bound, as its version words it.
[[noreturn]] void failToBind(int error) {
    std::string why = std::strerror(error); // in Go's words: "address already in use"
    why[0] = char(std::tolower(why[0]));
    std::string reason = "listen tcp " + metricsAddress + ": bind: " + why;
    int year = 0, month = 0;
    std::sscanf(env("FAKE_CF_VERSION", "2023.7.3"), "%d.%d", &year, &month);
    if (year * 100 + month >= 202412)
        reason = "failed to bind to address (" + metricsAddress + "): " + reason;
    std::_Exit(writeErr(stamp("ERR") + "Error opening metrics server listener error=\"" + reason +
                        "\"\nError opening metrics server listener: " + reason + "\n"));
}

// Serves from the first call on: the real client starts it once the quick tunnel exists.
void startMetrics() {
    if (!hostname.empty() || metricsAddress.empty() || envIs("FAKE_CF_METRICS", "off"))
        return;
    hostname = url().substr(8);
    const size_t colon = metricsAddress.rfind(':');
    sockaddr_in at{AF_INET, htons(uint16_t(std::atoi(metricsAddress.c_str() + colon + 1))), {}, {}};
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on); // as Go's listeners do
    if (::inet_pton(AF_INET, metricsAddress.substr(0, colon).c_str(), &at.sin_addr) != 1 ||
        ::bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
        ::listen(listener, 16) != 0)
        failToBind(errno);
    writeErr(stamp() + "Starting metrics server on " + metricsAddress + "/metrics\n");
    // Its thread takes no signals: the main thread waits for them in sigsuspend.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    std::thread(serveMetrics, listener).detach();
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

// A line of a box the client draws: "|  TEXT", padded, "|"; or its border.
std::string boxLine(const std::string& inner) {
    std::string line = "|  " + inner;
    line.resize(std::max<size_t>(94, line.size()), ' ');
    return stamp() + line + "|\n";
}

const std::string boxBorder = "+" + std::string(92, '-') + "+\n";

void urlBox() {
    if (envIs("FAKE_CF_BOX", "unknown"))
        writeErr(stamp() + "Quick Tunnel ready hostname=" + url().substr(8) + "\n");
    else
        writeErr(stamp() + boxBorder +
                 boxLine("Your quick Tunnel has been created! Visit it at (it may take some time "
                         "to be reachable):") +
                 boxLine(url()) + stamp() + boxBorder);
    startMetrics();
}

void registered(int index = 0) {
    ++connected;
    if (envIs("FAKE_CF_WORDING", "unknown"))
        writeErr(stamp() + "Edge connection " + std::to_string(index) +
                 " is up location=ams01 protocol=quic\n");
    else
        writeErr(stamp() + "Registered tunnel connection connIndex=" + std::to_string(index) +
                 " connection=3f1c0a52-2f7e-4b8e-9a41-0c6d2f9e1b7" + std::to_string(index) +
                 " event=0 ip=198.41.200.1" + std::to_string(3 + index) +
                 " location=ams01 protocol=quic\n");
}

// The pair every request prints while nothing answers on the local port.
std::string originRefused(const std::string& port, unsigned long ray = 0x8173fa0bd1e6b397) {
    char cfRay[17];
    std::snprintf(cfRay, sizeof cfRay, "%016lx", ray);
    const std::string error =
        "error=\"Unable to reach the origin service. The service may be down or it may not be "
        "responding to traffic from cloudflared: dial tcp 127.0.0.1:" +
        port + ": connect: connection refused\"";
    return stamp("ERR") + " " + error + " cfRay=" + cfRay +
           "-AMS event=1 ingressRule=0 originService=http://127.0.0.1:" + port + "\n" +
           stamp("ERR") + "Request failed " + error + " connIndex=0 dest=" + url() +
           "/ event=0 ip=198.41.200.13 type=http\n";
}

// FAKE_CF_FLOOD_MIB of a busy tunnel whose server is down, the URL in the middle.
void flood(const std::string& port) {
    const size_t total = static_cast<size_t>(std::atof(env("FAKE_CF_FLOOD_MIB", "1")) * 1048576);
    std::string block;
    unsigned long n = 0;
    for (size_t written = 0, urlDone = 0; written < total || !urlDone; written += block.size()) {
        if (!urlDone && written >= total / 2)
            urlBox(), registered(), urlDone = 1;
        block.clear();
        while (block.size() < 64 * 1024 && written < total)
            block += originRefused(port, n++);
        writeAll(2, block.data(), block.size());
    }
}

void answerSignals() {
    if (crashRequested)
        std::_Exit(writeErr(stamp("ERR") + "connection lost\n"));
}

// Sleeps one interval; a signal that came meanwhile is answered.
void pause(long ms) {
    answerSignals();
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR && !crashRequested) {
    }
    answerSignals();
}

[[noreturn]] void runUntilSignalled() {
    // Signals stay blocked except inside sigsuspend, so one that arrives between the check and
    // the wait still ends the wait (pause() would sleep through it).
    sigset_t blocked, waiting;
    sigfillset(&blocked);
    sigprocmask(SIG_BLOCK, &blocked, &waiting);
    for (;;) {
        answerSignals();
        sigsuspend(&waiting);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        const char* version = env("FAKE_CF_VERSION", "2023.7.3");
        std::printf("cloudflared version %s (built %.4s-01-01-0000 UTC)\n", version, version);
        return 0;
    }
    // tunnel [--no-autoupdate] [--config PATH] --url URL, as Quillby starts it; or tunnel with
    // a command: login, create, route dns, list, delete, run.
    std::string config, originUrl, credentials;
    std::vector<std::string> words;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--metrics" && i + 1 < argc)
            metricsAddress = argv[++i];
        else if ((arg == "--config" || arg == "--url" || arg == "--credentials-file") &&
                 i + 1 < argc)
            (arg == "--url" ? originUrl : arg == "--config" ? config : credentials) = argv[++i];
        else if (arg != "--no-autoupdate") // the only one; it always runs so
            words.push_back(arg);
    }
    if (argc >= 2 && std::strcmp(argv[1], "tunnel") == 0 && !words.empty() && words[0] != "run") {
        // The account's side is played beside the stand-in account API.
        std::vector<char*> python{const_cast<char*>("python3"),
                                  const_cast<char*>(QUILLBY_ACCOUNT_API)};
        python.insert(python.end(), argv + 1, argv + argc);
        python.push_back(nullptr);
        ::execv("/usr/bin/python3", python.data());
        return writeErr("stand-in cloudflared: cannot run /usr/bin/python3\n");
    }
    const std::string port = originUrl.substr(originUrl.rfind(':') + 1);
    if (argc < 2 || std::strcmp(argv[1], "tunnel") != 0 || originUrl.empty())
        return writeErr("stand-in cloudflared: expected `tunnel [--no-autoupdate] [--config PATH] "
                        "--url http://127.0.0.1:PORT`\n",
                        2);

    std::signal(SIGUSR1, [](int) { crashRequested = 1; });
    if (envIs("FAKE_CF_IGNORE_TERM", "1"))
        std::signal(SIGTERM, SIG_IGN);

    if (const char* pidfile = std::getenv("FAKE_CF_PIDFILE"))
        std::ofstream(pidfile, std::ios::app) << getpid() << " " << port << std::endl;
    if (!config.empty() && std::ifstream(config).peek() == EOF) // Quillby's /dev/null
        writeErr(stamp("ERR") + "Configuration file " + config + " was empty\n");

    const std::string block = std::string(64 * 1024 - 1, 'o') + "\n";
    for (size_t done = 0; done < std::atof(env("FAKE_CF_STDOUT_MIB", "0")) * 1048576;
         done += block.size())
        writeAll(1, block.data(), block.size());

    if (!words.empty()) { // `run --credentials-file PATH --url URL UUID`: no URL printed
        if (!std::ifstream(credentials).good())
            return writeErr("Tunnel credentials file '" + credentials +
                            "' doesn't exist or is not a file\n");
        writeErr(stamp() + "Starting tunnel tunnelID=" + (words.size() > 1 ? words[1] : "") + "\n");
        for (int index = 0; index < 4; ++index)
            registered(index);
        runUntilSignalled();
    }
    const long intervalMs = std::atol(env("FAKE_CF_INTERVAL_MS", "5000"));

    // Each mode writes its lines after the banner, then answers an exit status, or -1 to run
    // until signalled.
    constexpr int runOn = -1;
    const std::pair<const char*, std::function<int()>> modes[] = {
        {"url", [] { return urlBox(), registered(), runOn; }},
        {"api-failure",
         [] {
             return writeErr(
                 "failed to request quick Tunnel: Post \"https://api.trycloudflare.com/"
                 "tunnel\": dial tcp: lookup api.trycloudflare.com on 127.0.0.53:53: no "
                 "such host\n");
         }},
        {"origin-refused",
         [&]() -> int {
             for (urlBox(), registered();;)
                 pause(intervalMs), writeErr(originRefused(port));
         }},
        {"vanish", [&] { return urlBox(), registered(), pause(intervalMs), connected = 0, runOn; }},
        {"no-url", [] { return runOn; }}, // connecting for as long as it runs
        {"flood", [&] { return flood(port), envIs("FAKE_CF_EXIT_AFTER_FLOOD", "1") ? 0 : runOn; }},
    };
    writeErr("2026-01-01T00:00:00Z INF Thank you for trying Cloudflare Tunnel. Doing so, without a "
             "Cloudflare account, is a quick way to experiment and try it out.\n"
             "2026-01-01T00:00:00Z INF Requesting new quick Tunnel on trycloudflare.com...\n");
    const std::string mode = env("FAKE_CF_MODE", "url");
    for (const auto& [name, steps] : modes) {
        if (mode == name) {
            if (const int status = steps(); status != runOn)
                return status;
            runUntilSignalled();
        }
    }
    return writeErr("stand-in cloudflared: unknown FAKE_CF_MODE " + mode + "\n", 2);
}
