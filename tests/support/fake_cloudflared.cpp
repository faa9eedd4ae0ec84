// A stand-in for the cloudflared quick-tunnel client, for tests and benchmarks. It accepts
// `tunnel [--no-autoupdate] [--config PATH] --url http://127.0.0.1:PORT` and `--version`,
// reads its configuration file where the real client does, writes log lines to standard error
// the way the real client of the chosen generation does, and behaves as its environment asks:
//
//   FAKE_CF_VERSION     the client it stands in for, with that generation's lines:
//                       2022 (2022.10.3)    "Connection <uuid> registered"
//                       2023.2 (2023.2.1)   "Connection <uuid> registered with protocol: quic"
//                       2023.7 (2023.7.3, default)  "Registered tunnel connection",
//                                           a lost connection says "Unregistered"
//                       2026 (2026.8.2)     a lost connection says only "failed to serve",
//                                           "Serve tunnel error", "Retrying"; pre-checks
//                       or any version X.Y.Z, with the lines of the generation it falls in
//   FAKE_CF_MODE        url (default)   banner, box with the URL, a registered connection,
//                                       then runs until signalled
//                       api-failure     no internet: the service cannot be reached, exit 1
//                       rate-limited    HTTP 429 from the service, exit 1
//                       service-failed  HTTP 500 from the service, exit 1
//                       edge-timeout    URL, then quic dial time-outs every interval, for ever
//                       edge-dns        URL, then the edge lookup fails, exit 1
//                       origin-refused  URL, registered, then a refused request every interval
//                       lost            URL, registered, connection lost after one interval
//                                       and registered again FAKE_CF_OUTAGE_MS later
//                       autoupdate      URL; unless --no-autoupdate was given, it updates
//                                       itself after one interval and exits 11, else registered
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
//   FAKE_CF_SERVES      append what the tunnel serves to this file at start: the --url, or,
//                       when a configuration file has ingress rules (which win over --url, as
//                       in the real client), "ingress rules of PATH"
//   FAKE_CF_EXIT_AFTER_FLOOD 1: mode flood exits 0 when done instead of running on
//   FAKE_CF_INTERVAL_MS pause between repeated lines (default 5000, as the real client)
//   FAKE_CF_OUTAGE_MS   length of the outage of mode lost (default 1000)
//   FAKE_CF_ON_TERM     graceful: the shutdown line, then exit 0; url: the URL box and a
//                       registration first; fail: exit 1. Unset: the signal ends it.
// SIGUSR1 makes it exit with status 1 (a crash on demand).
// FAKE_CF_EDGE=1: it also plays the edge in front of --url (FakeEdge.h).
#include "FakeEdge.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>

namespace {

volatile sig_atomic_t crashRequested = 0;
volatile sig_atomic_t termRequested = 0;

// The client generations whose lines differ.
enum class Generation { Y2022, Y2023_2, Y2023_7, Y2026 };
Generation generation = Generation::Y2023_7;

void writeAll(int fd, const char* data, size_t size) {
    for (ssize_t n; size > 0; data += n, size -= size_t(n)) {
        if ((n = ::write(fd, data, size)) < 0 && errno != EINTR)
            std::_Exit(3);
        n = std::max<ssize_t>(n, 0);
    }
}

void writeErr(const std::string& text) {
    writeAll(2, text.data(), text.size());
}

const char* env(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

bool envIs(const char* name, const char* value) {
    return std::strcmp(env(name, ""), value) == 0;
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

// A line of a box the client draws: "|  TEXT", padded, "|".
std::string boxLine(const std::string& inner, size_t width = 94) {
    std::string line = "|  " + inner;
    line.resize(std::max(width, line.size()), ' ');
    return stamp() + line + "|\n";
}

std::string boxBorder(size_t width = 92) {
    return stamp() + "+" + std::string(width, '-') + "+\n";
}

// The connectivity pre-checks of 2026, logged while the tunnel comes up: a box with a centred
// title, as the client draws it, then the same as fields.
void prechecks() {
    if (generation != Generation::Y2026)
        return;
    const std::string rows[] = {
        "COMPONENT         TARGET                     STATUS  DETAILS",
        "DNS Resolution    region1.v2.argotunnel.com  PASS    DNS Resolved successfully",
        "UDP Connectivity  Port 7844 (QUIC)           PASS    QUIC connection successful", "",
        "SUMMARY: Environment is healthy. cloudflared will use 'quic' as primary protocol."};
    const std::string title = "CONNECTIVITY PRE-CHECKS";
    const size_t width = rows[4].size(); // the longest
    const std::string border = boxBorder(width + 4);
    std::string box =
        border + boxLine(std::string((width - title.size()) / 2, ' ') + title, width + 5) + border;
    for (const std::string& row : rows)
        box += boxLine(row, width + 5);
    writeErr(box + border + stamp() +
             "precheck component=\"DNS Resolution\" details=\"DNS Resolved successfully\" "
             "run_id=0b6f4c1e status=pass target=region1.v2.argotunnel.com\n" +
             stamp() +
             "precheck complete hard_fail=false run_id=0b6f4c1e suggested_protocol=quic\n");
}

void urlBox() {
    writeErr(boxBorder() +
             boxLine("Your quick Tunnel has been created! Visit it at (it may take some time to "
                     "be reachable):") +
             boxLine(url()) + boxBorder());
    prechecks();
}

void registered() {
    const std::string id = "3f1c0a52-2f7e-4b8e-9a41-0c6d2f9e1b77";
    if (generation == Generation::Y2022 || generation == Generation::Y2023_2)
        writeErr(stamp() + "Connection " + id + " registered " +
                 (generation == Generation::Y2022 ? "" : "with protocol: quic ") +
                 "connIndex=0 ip=198.41.200.13 location=AMS\n");
    else
        writeErr(stamp() + "Registered tunnel connection connIndex=0 connection=" + id +
                 " event=0 ip=198.41.200.13 location=ams01 protocol=quic\n");
}

// One attempt to reach the tunnel network, timed out.
void edgeTimeout() {
    const std::string timeout =
        "failed to dial to edge with quic: timeout: no recent network activity";
    if (generation != Generation::Y2026)
        return writeErr(stamp("ERR") + "Failed to create new quic connection error=\"" + timeout +
                        "\" connIndex=0 event=0 ip=198.41.192.77\n");
    writeErr(stamp("ERR") + "Failed to dial a quic connection error=\"" + timeout +
             "\" connIndex=0 event=0 ip=198.41.192.77\n" + stamp("ERR") +
             "Connection terminated error=\"" + timeout + "\" connIndex=0\n" + stamp() +
             "Retrying connection in up to 2s connIndex=0 event=0 ip=198.41.192.77\n");
}

// The connection dropped by the network. Since 2024.10 the client prints no "Unregistered"
// line: unregistering a dead connection fails before it would log.
void lostConnection() {
    const std::string where = "connIndex=0 event=0 ip=198.41.200.13\n";
    writeErr((generation == Generation::Y2026
                  ? stamp("ERR") +
                        "failed to serve tunnel connection error=\"timeout: no recent "
                        "network activity\" " +
                        where
                  : stamp() + "Unregistered tunnel connection " + where) +
             stamp("ERR") + "Serve tunnel error error=\"timeout: no recent network activity\" " +
             where + stamp() + "Retrying connection in up to 1s " + where);
    if (generation == Generation::Y2026)
        edgeTimeout(); // the first attempt to come back
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

// The client's own upkeep: never a problem of the tunnel.
void upkeep() {
    writeErr(stamp("ERR") +
             "update check failed error=\"Get \\\"https://update.argotunnel.com?"
             "arch=amd64&clientVersion=2023.7.3&os=linux\\\": dial tcp: lookup "
             "update.argotunnel.com on 127.0.0.53:53: no such host\"\n" +
             stamp("WRN") + "Unable to lookup protocol percentage.\n");
}

int fail(const std::string& text) {
    writeErr(text);
    return 1;
}

int quickTunnelAnswer(const char* code, const char* status) {
    return fail(stamp("ERR") + "Error unmarshaling QuickTunnel response: error code: " + code +
                " error=\"invalid character 'e' looking for beginning of value\" status_code=\"" +
                status +
                "\"\nfailed to unmarshal quick Tunnel: invalid character 'e' looking for "
                "beginning of value\n");
}

// FAKE_CF_FLOOD_MIB of a busy tunnel whose server is down, the URL in the middle.
void flood(const std::string& port) {
    const size_t total = static_cast<size_t>(std::atof(env("FAKE_CF_FLOOD_MIB", "1")) * 1048576);
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
            block += originRefused(port, n++);
        writeAll(2, block.data(), block.size());
    }
}

void answerSignals() {
    if (crashRequested) {
        writeErr(stamp("ERR") + "connection lost\n");
        std::_Exit(1);
    }
    if (termRequested) {
        writeErr(stamp() + "Initiating graceful shutdown due to signal terminated ...\n");
        if (envIs("FAKE_CF_ON_TERM", "url")) {
            urlBox();
            registered();
        }
        std::_Exit(envIs("FAKE_CF_ON_TERM", "fail") ? 1 : 0);
    }
}

// Sleeps one interval; a signal that came meanwhile is answered.
void pause(long ms) {
    answerSignals();
    sleepMs(ms);
    answerSignals();
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

// The client a version stands for: what --version prints and whose lines it writes.
struct Client {
    std::string version, built;
    Generation generation;
};

Client chosenClient() {
    const std::string wanted = env("FAKE_CF_VERSION", "2023.7");
    const std::pair<const char*, Client> named[] = {
        {"2022", {"2022.10.3", "2022-10-26-0940 UTC", Generation::Y2022}},
        {"2023.2", {"2023.2.1", "2023-02-03-0931 UTC", Generation::Y2023_2}},
        {"2023.7", {"2023.7.3", "2023-07-25-2051 UTC", Generation::Y2023_7}},
        {"2026", {"2026.8.2", "2026-08-14T11:22 UTC", Generation::Y2026}}};
    for (const auto& [name, client] : named) {
        if (wanted == name)
            return client;
    }
    int year = 0, month = 0;
    std::sscanf(wanted.c_str(), "%d.%d", &year, &month);
    const int at = year * 100 + month;
    return {wanted, std::to_string(year) + "-01-01-0000 UTC",
            at < 202300   ? Generation::Y2022
            : at < 202304 ? Generation::Y2023_2
            : at < 202410 ? Generation::Y2023_7
                          : Generation::Y2026};
}

// `tunnel` and its flags, as the real client takes them: --name value or --name=value.
struct Args {
    bool noAutoupdate = false, configSet = false;
    std::string config, url, port, error;
};

Args parseArgs(int argc, char** argv) {
    Args args;
    if (argc < 2 || std::strcmp(argv[1], "tunnel") != 0)
        args.error = "stand-in cloudflared: expected `tunnel [--no-autoupdate] [--config PATH] "
                     "--url http://127.0.0.1:PORT`";
    for (int i = 2; i < argc && args.error.empty(); ++i) {
        const std::string arg = argv[i];
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        auto value = [&]() -> std::string {
            if (equals != std::string::npos)
                return arg.substr(equals + 1);
            if (i + 1 < argc)
                return argv[++i];
            args.error = "Incorrect Usage: flag needs an argument: -" + name.substr(2);
            return "";
        };
        if (name == "--no-autoupdate")
            args.noAutoupdate = true;
        else if (name == "--config")
            args.configSet = true, args.config = value();
        else if (name == "--url")
            args.url = value();
        else
            args.error = "Incorrect Usage: flag provided but not defined: -" +
                         (name.rfind("--", 0) == 0 ? name.substr(2) : name);
    }
    const size_t colon = args.url.rfind(':');
    args.port = colon == std::string::npos ? "" : args.url.substr(colon + 1);
    if (args.error.empty() && args.port.empty())
        args.error = "stand-in cloudflared: expected --url http://127.0.0.1:PORT";
    return args;
}

// The configuration file the real client reads: the one --config names, or else the first
// config.yml or config.yaml in its search folders.
std::string configPath(const Args& args) {
    const std::string home = env("HOME", "");
    for (const std::string& folder :
         {home + "/.cloudflared", home + "/.cloudflare-warp", home + "/cloudflare-warp",
          std::string("/etc/cloudflared"), std::string("/usr/local/etc/cloudflared")}) {
        for (const char* name : {"/config.yml", "/config.yaml"}) {
            if (!args.configSet && std::ifstream(folder + name))
                return folder + name;
        }
    }
    return args.config;
}

// Reads the configuration as the real client does; answers whether its ingress rules take
// the place of --url. Exits as the real client does when a named file cannot be read.
bool readConfig(const std::string& path) {
    std::ifstream file(path);
    if (!path.empty() && !file) {
        writeErr("open " + path + ": no such file or directory\n");
        std::exit(1);
    }
    bool empty = true, ingress = false;
    for (std::string line; std::getline(file, line);) {
        const size_t text = line.find_first_not_of(" \t\r");
        empty = empty && (text == std::string::npos || line[text] == '#');
        ingress = ingress || line.rfind("ingress:", 0) == 0;
    }
    if (!path.empty() && empty)
        writeErr(stamp("ERR") + "Configuration file " + path + " was empty\n");
    return ingress;
}

void appendTo(const char* variable, const std::string& line) {
    if (const char* path = std::getenv(variable))
        std::ofstream(path, std::ios::app) << line << std::flush;
}

} // namespace

int main(int argc, char** argv) {
    const Client client = chosenClient();
    generation = client.generation;
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("cloudflared version %s (built %s)\n", client.version.c_str(),
                    client.built.c_str());
        return 0;
    }
    const Args args = parseArgs(argc, argv);
    if (!args.error.empty()) {
        writeErr(args.error + "\n");
        return 2;
    }
    const std::string& port = args.port;

    struct sigaction usr1 {};
    usr1.sa_handler = [](int) { crashRequested = 1; };
    sigaction(SIGUSR1, &usr1, nullptr);
    if (envIs("FAKE_CF_IGNORE_TERM", "1")) {
        std::signal(SIGTERM, SIG_IGN);
    } else if (*env("FAKE_CF_ON_TERM", "")) {
        struct sigaction term {};
        term.sa_handler = [](int) { termRequested = 1; };
        sigaction(SIGTERM, &term, nullptr);
    }

    appendTo("FAKE_CF_PIDFILE", std::to_string(getpid()) + " " + port + "\n");
    const std::string config = configPath(args);
    appendTo("FAKE_CF_SERVES",
             (readConfig(config) ? "ingress rules of " + config : args.url) + "\n");

    const std::string block = std::string(64 * 1024 - 1, 'o') + "\n";
    for (size_t done = 0; done < std::atof(env("FAKE_CF_STDOUT_MIB", "0")) * 1048576;
         done += block.size())
        writeAll(1, block.data(), block.size());

    startFakeEdgeIfAsked(args.url, url());

    const std::string modeKey = "FAKE_CF_MODE_" + port;
    const std::string mode = env(modeKey.c_str(), env("FAKE_CF_MODE", "url"));
    const long intervalMs = std::atol(env("FAKE_CF_INTERVAL_MS", "5000"));
    // Each mode writes its lines after the banner, then answers an exit status, or -1 to run
    // until signalled.
    constexpr int runOn = -1;
    auto every = [&](auto tick) -> int {
        for (;;) {
            pause(intervalMs);
            tick();
        }
    };
    const std::pair<const char*, std::function<int()>> modes[] = {
        {"url", [] { return urlBox(), upkeep(), registered(), runOn; }},
        {"api-failure",
         [] {
             return fail("failed to request quick Tunnel: Post \"https://api.trycloudflare.com/"
                         "tunnel\": dial tcp: lookup api.trycloudflare.com on 127.0.0.53:53: no "
                         "such host\n");
         }},
        {"rate-limited", [] { return quickTunnelAnswer("1015", "429 Too Many Requests"); }},
        {"service-failed", [] { return quickTunnelAnswer("1101", "500 Internal Server Error"); }},
        {"edge-timeout", [&] { return urlBox(), upkeep(), every(edgeTimeout); }},
        {"edge-dns",
         [] {
             const std::string lookup = "lookup _v2-origintunneld._tcp.argotunnel.com on "
                                        "127.0.0.53:53: no such host";
             urlBox();
             return fail(stamp("ERR") +
                         "edge discovery: error looking up Cloudflare edge IPs: "
                         "the DNS query failed error=\"" +
                         lookup + "\" event=0\n" + stamp("ERR") +
                         "Please try the following things to diagnose this issue\n" + stamp("ERR") +
                         "1. ensure that argotunnel.com is returning \"origintunneld\" service "
                         "records.\nCould not lookup srv records on _v2-origintunneld._tcp."
                         "argotunnel.com: " +
                         lookup + "\n");
         }},
        {"origin-refused",
         [&] { return urlBox(), registered(), every([&] { writeErr(originRefused(port)); }); }},
        {"lost",
         [&] {
             urlBox(), registered(), pause(intervalMs), lostConnection();
             return pause(std::atol(env("FAKE_CF_OUTAGE_MS", "1000"))), registered(), runOn;
         }},
        // Installed by download, its output no terminal: it replaces itself and ends. (The real
        // client first waits a day; here the interval stands for it.)
        {"autoupdate",
         [&] {
             urlBox();
             if (args.noAutoupdate)
                 return registered(), runOn;
             pause(intervalMs);
             writeErr(stamp() + "cloudflared has been updated version=2026.9.0\n"
                                "cloudflared has been updated to version 2026.9.0\n");
             return 11;
         }},
        {"split",
         [] {
             const std::string line = boxLine(url());
             const size_t cut = line.find("trycloud");
             writeErr(boxBorder() + line.substr(0, cut));
             sleepMs(std::atol(env("FAKE_CF_PAUSE_MS", "200")));
             writeErr(line.substr(cut) + boxBorder());
             return registered(), runOn;
         }},
        {"no-url", [] { return runOn; }}, // connecting for as long as it runs
        {"flood", [&] { return flood(port), envIs("FAKE_CF_EXIT_AFTER_FLOOD", "1") ? 0 : runOn; }},
        {"exit", [] { return urlBox(), registered(), std::atoi(env("FAKE_CF_EXIT_STATUS", "0")); }},
    };
    writeErr("2026-01-01T00:00:00Z INF Thank you for trying Cloudflare Tunnel. Doing so, without a "
             "Cloudflare account, is a quick way to experiment and try it out.\n"
             "2026-01-01T00:00:00Z INF Requesting new quick Tunnel on trycloudflare.com...\n");
    for (const auto& [name, steps] : modes) {
        if (mode == name) {
            if (const int status = steps(); status != runOn)
                return status;
            runUntilSignalled();
        }
    }
    writeErr("stand-in cloudflared: unknown FAKE_CF_MODE " + mode + "\n");
    return 2;
}
