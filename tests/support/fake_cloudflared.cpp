// A stand-in for the cloudflared quick-tunnel client, for tests and benchmarks. It accepts
// `tunnel [--no-autoupdate] [--config PATH] --url http://127.0.0.1:PORT` and `--version`,
// writes log lines to standard error the way the real client does, and behaves as its
// environment asks. Every generation's lines are tst_clientlog's table; here only what tests
// with a real child need:
//
//   FAKE_CF_VERSION     what --version names: 2022 (2022.10.3), 2023.2 (2023.2.1), 2023.7
//                       (2023.7.3, default), 2026 (2026.8.2) or any X.Y.Z. From 2024.10 on a
//                       lost connection says only "failed to serve", "Serve tunnel error",
//                       "Retrying"; before, "Unregistered" first.
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
//                       vanish          URL, registered; after one interval /ready counts no
//                                       connection, and no line says so
//                       split           the URL line written in two pieces, with a pause,
//                                       then a registered connection
//                       no-url          banner only, then runs until signalled
//                       flood           FAKE_CF_FLOOD_MIB MiB of log lines, URL in the middle
//   FAKE_CF_MODES       "m1,m2,...": the Nth launch recorded in FAKE_CF_PIDFILE takes the Nth
//   FAKE_CF_LABEL       the random label of the URL (default fare-write-waste-gadgets)
//   FAKE_CF_IGNORE_TERM 1: SIGTERM is ignored
//   FAKE_CF_STDOUT_MIB  MiB written to standard output first
//   FAKE_CF_PAUSE_MS    pause between split writes (default 200)
//   FAKE_CF_PIDFILE     append "<pid> <port>\n" to this file at start
//   FAKE_CF_EXIT_AFTER_FLOOD 1: mode flood exits 0 when done instead of running on
//   FAKE_CF_INTERVAL_MS pause between repeated lines (default 5000, as the real client)
//   FAKE_CF_OUTAGE_MS   length of the outage of mode lost (default 1000)
//   FAKE_CF_WORDING     unknown: registrations worded as no client words them
//   FAKE_CF_BOX         unknown: the URL given in a layout no client has, without https://
// SIGUSR1 makes it exit with status 1 (a crash on demand).
// `--metrics ADDRESS`: it serves /ready and /quicktunnel there once the URL exists (FakeMetrics.h).
// Named tunnels: `tunnel login`, `create [--credentials-file PATH] NAME`, `route dns
// [--overwrite-dns] UUID HOST`, `list -o json`, `delete [-f] [--credentials-file PATH] UUID`
// talk to the account API at TUNNEL_API_URL (tests/support/account_api.py); `run
// --credentials-file PATH --url URL UUID` registers four connections.
//   FAKE_CF_LOGIN_MS    login writes the certificate after this long (default 50; < 0: never)
#include "FakeMetrics.h"

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <iterator>
#include <netinet/in.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

volatile sig_atomic_t crashRequested = 0;

bool newest = false; // 2024.10 or later: no "Unregistered" line

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
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR && !crashRequested) {
    }
}

std::string stamp(const char* level = "INF") {
    return std::string("2026-12-06T19:10:57Z ") + level + " ";
}

std::string url() {
    return std::string("https://") + env("FAKE_CF_LABEL", "fare-write-waste-gadgets") +
           ".trycloudflare.com";
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
        return writeErr(stamp() + "Quick Tunnel ready hostname=" + url().substr(8) + "\n"),
               serveFakeMetrics(url());
    writeErr(stamp() + boxBorder +
             boxLine("Your quick Tunnel has been created! Visit it at (it may take some time to "
                     "be reachable):") +
             boxLine(url()) + stamp() + boxBorder);
    serveFakeMetrics(url());
}

// Connections registered now, as /ready counts them.
int connected = 0;

void registered(int index = 0) {
    setFakeReadyConnections(++connected);
    if (envIs("FAKE_CF_WORDING", "unknown"))
        return writeErr(stamp() + "Edge connection " + std::to_string(index) +
                        " is up location=ams01 protocol=quic\n");
    writeErr(stamp() + "Registered tunnel connection connIndex=" + std::to_string(index) +
             " connection=3f1c0a52-2f7e-4b8e-9a41-0c6d2f9e1b7" + std::to_string(index) +
             " event=0 ip=198.41.200.1" + std::to_string(3 + index) +
             " location=ams01 protocol=quic\n");
}

// One attempt to reach the tunnel network, timed out (as 2023.7 words it).
void edgeTimeout() {
    writeErr(stamp("ERR") + "Failed to create new quic connection error=\"failed to dial to edge "
                            "with quic: timeout: no recent network activity\" connIndex=0 event=0 "
                            "ip=198.41.192.77\n");
}

// The connection dropped by the network. Since 2024.10 the client prints no "Unregistered"
// line: unregistering a dead connection fails before it would log.
void lostConnection(int index = 0) {
    setFakeReadyConnections(connected = std::max(connected - 1, 0));
    const std::string where = "connIndex=" + std::to_string(index) + " event=0 ip=198.41.200.1" +
                              std::to_string(3 + index) + "\n";
    writeErr((newest ? stamp("ERR") +
                           "failed to serve tunnel connection error=\"timeout: no recent "
                           "network activity\" " +
                           where
                     : stamp() + "Unregistered tunnel connection " + where) +
             stamp("ERR") + "Serve tunnel error error=\"timeout: no recent network activity\" " +
             where + stamp() + "Retrying connection in up to 1s " + where);
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
    if (crashRequested) {
        writeErr(stamp("ERR") + "connection lost\n");
        std::_Exit(1);
    }
}

// Sleeps one interval; a signal that came meanwhile is answered.
void pause(long ms) {
    answerSignals();
    sleepMs(ms);
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

// The version FAKE_CF_VERSION names; whether it is 2024.10 or later.
std::string chosenVersion() {
    std::string version = env("FAKE_CF_VERSION", "2023.7");
    for (const char* full : {"2022.10.3", "2023.2.1", "2023.7.3", "2026.8.2"}) {
        if (std::string(full).rfind(version + ".", 0) == 0)
            version = full;
    }
    int year = 0, month = 0;
    std::sscanf(version.c_str(), "%d.%d", &year, &month);
    newest = year * 100 + month >= 202410;
    return version;
}

// The account's side: `tunnel login`, `create`, `route dns`, `list -o json` and `delete`
// against the API at TUNNEL_API_URL (tests/support/account_api.py), with the real client's
// lines. The certificate is the stand-in account's: example.com, always the same ids.
const std::string accountId = "abcdabcdabcdabcd1234567890abcdef";
const std::string zoneId = "7b0a4d77dfb881c1a3b7d61ea9443e19";

std::string home() {
    return env("HOME", "/");
}

bool fileExists(const std::string& path) {
    return std::ifstream(path).good();
}

struct Reply {
    int status = 0; // 0: the API could not be reached; body says why
    std::string body;
};

// One call over plain HTTP on loopback, the connection closed after the answer.
Reply call(const std::string& method, const std::string& path, const std::string& body = "") {
    const std::string base = env("TUNNEL_API_URL", "https://api.cloudflare.com/client/v4");
    const size_t hostAt = base.find("://") + 3, pathAt = base.find('/', hostAt);
    const std::string host = base.substr(hostAt, pathAt - hostAt);
    const std::string url = base + path;
    const size_t colon = host.rfind(':');
    const int port = colon == std::string::npos ? 0 : std::atoi(host.c_str() + colon + 1);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, htons(uint16_t(port)), {htonl(INADDR_LOOPBACK)}, {}};
    std::string verb = method.substr(0, 1) + method.substr(1);
    std::transform(verb.begin() + 1, verb.end(), verb.begin() + 1, ::tolower);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return {0, "REST request failed: " + verb + " \"" + url + "\": dial tcp " + host +
                       ": connect: connection refused"};
    }
    const std::string request =
        method + " " + (pathAt == std::string::npos ? "" : base.substr(pathAt)) + path +
        " HTTP/1.1\r\nHost: " + host + "\r\nAuthorization: Bearer stand-in-api-token\r\n" +
        "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\nConnection: close\r\n\r\n" + body;
    writeAll(fd, request.data(), request.size());
    std::string reply;
    char chunk[4096];
    for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) > 0;)
        reply.append(chunk, size_t(n));
    ::close(fd);
    return {std::atoi(reply.c_str() + 9), reply.substr(reply.find("\r\n\r\n") + 4)};
}

// The first `"name": "value"` (or number) of a JSON text.
std::string field(const std::string& json, const std::string& name) {
    size_t at = json.find("\"" + name + "\": ");
    if (at == std::string::npos)
        return "";
    at += name.size() + 4;
    const bool text = json[at] == '"';
    return json.substr(at + text, json.find_first_of(text ? "\"" : ",\n}", at + text) - at - text);
}

// What the client makes of a failed call (cfapi's statusCodeToError).
std::string apiError(const std::string& op, const Reply& reply) {
    if (reply.status == 0)
        return reply.body;
    if (const std::string code = field(reply.body, "code"); !code.empty())
        return "Failed to " + op + ": code: " + code + ", reason: " + field(reply.body, "message");
    return reply.status == 400                          ? "incorrect request parameters"
           : reply.status == 401 || reply.status == 403 ? "unauthorized"
           : reply.status == 404
               ? "not found"
               : "API call to " + op + " failed with status " + std::to_string(reply.status);
}

// The certificate `login` wrote, or TUNNEL_ORIGIN_CERT; empty with the client's error when none.
std::string originCert(std::string& error) {
    const std::string path = env("TUNNEL_ORIGIN_CERT", "");
    if (!path.empty() && !fileExists(path)) {
        writeErr(stamp("ERR") +
                 "Cannot find a valid certificate for your origin at the path:\n\n"
                 "    " +
                 path + "\n\n");
        error = "Error locating origin cert: cannot find a valid certificate at the path " + path;
    } else if (path.empty() && !fileExists(home() + "/.cloudflared/cert.pem")) {
        writeErr(stamp("ERR") + "Cannot determine default origin certificate path. No file "
                                "cert.pem in [~/.cloudflared ~/.cloudflare-warp ~/cloudflare-warp "
                                "/etc/cloudflared /usr/local/etc/cloudflared]. You need to specify "
                                "the origin certificate path by specifying the origincert option "
                                "in the configuration file, or set TUNNEL_ORIGIN_CERT environment "
                                "variable originCertPath=\n");
        error = "Error locating origin cert: client didn't specify origincert path";
    }
    return error.empty() ? (path.empty() ? home() + "/.cloudflared/cert.pem" : path) : "";
}

// Opens no browser: says so as the client does where it cannot. The certificate comes
// FAKE_CF_LOGIN_MS later (default 50), never when that is negative.
int login() {
    const std::string dir = home() + "/.cloudflared", path = dir + "/cert.pem";
    ::mkdir(dir.c_str(), 0700);
    if (std::ifstream(path).peek() != EOF) {
        writeErr(stamp("ERR") + "You have an existing certificate at " + path +
                 " which login would overwrite.\nIf this is intentional, please move or delete "
                 "that file then run this command again.\n\n");
        return 0;
    }
    const std::string loginUrl = "https://dash.cloudflare.com/argotunnel?aud=&callback=https%3A%2F"
                                 "%2Flogin.cloudflareaccess.org%2FYcDqnJ6iTX3Rsn0Sd2hEbyjS6Gts";
    writeErr("Please open the following URL and log in with your Cloudflare account:\n\n" +
             loginUrl + "\n\nLeave cloudflared running to download the cert automatically.\n");
    const long ms = std::atol(env("FAKE_CF_LOGIN_MS", "50"));
    for (sleepMs(std::max(ms, 0L)); ms < 0; sleepMs(std::atol(env("FAKE_CF_INTERVAL_MS", "5000"))))
        writeErr(stamp() + "Waiting for login...\n");
    std::ofstream(path) << "-----BEGIN ARGO TUNNEL TOKEN-----\n"
                           "eyJ6b25lSUQiOiI3YjBhNGQ3N2RmYjg4MWMxYTNiN2Q2MWVhOTQ0M2UxOSIsImFjY291\n"
                           "bnRJRCI6ImFiY2RhYmNkYWJjZGFiY2QxMjM0NTY3ODkwYWJjZGVmIiwiYXBpVG9rZW4i\n"
                           "OiJzdGFuZC1pbi1hcGktdG9rZW4ifQ==\n-----END ARGO TUNNEL TOKEN-----\n";
    ::chmod(path.c_str(), 0600);
    writeErr(stamp() +
             "You have successfully logged in.\nIf you wish to copy your credentials to "
             "a server, they have been saved to:\n" +
             path + "\n\n");
    return 0;
}

int create(const std::string& name, std::string credentials) {
    std::string error;
    const std::string cert = originCert(error);
    if (cert.empty())
        return fail("failed to create tunnel: couldn't create client to talk to Cloudflare "
                    "Tunnel backend: " +
                    error + "\n");
    const std::string secret = "c3RhbmQtaW4gdHVubmVsIHNlY3JldCwgMzIgYnl0ZXMgbG9uZw==";
    const Reply reply = call("POST", "/accounts/" + accountId + "/cfd_tunnel",
                             "{\"name\":\"" + name + "\",\"tunnel_secret\":\"" + secret + "\"}");
    const std::string failed = "failed to create tunnel: Create Tunnel API call failed: ";
    if (reply.status == 409)
        return fail(failed + "tunnel with name already exists\n");
    if (reply.status != 200)
        return fail(failed + apiError("create tunnel", reply) + "\n");
    const std::string id = field(reply.body, "id");
    const bool chosen = credentials.empty();
    if (chosen)
        credentials = cert.substr(0, cert.rfind('/') + 1) + id + ".json";
    std::ofstream(credentials) << "{\"AccountTag\":\"" << accountId << "\",\"TunnelSecret\":\""
                               << secret << "\",\"TunnelID\":\"" << id << "\"}";
    ::chmod(credentials.c_str(), 0400);
    std::printf("Tunnel credentials written to %s.%s Keep this file secret. To revoke these "
                "credentials, delete the tunnel.\n\nCreated tunnel %s with id %s\n",
                credentials.c_str(),
                chosen ? " cloudflared chose this file based on where your origin certificate "
                         "was found."
                       : "",
                name.c_str(), id.c_str());
    return 0;
}

int routeDns(const std::string& id, const std::string& host, bool overwrite) {
    std::string error;
    if (originCert(error).empty())
        return fail(error + "\n");
    const Reply reply =
        call("PUT", "/zones/" + zoneId + "/tunnels/" + id + "/routes",
             "{\"type\":\"dns\",\"user_hostname\":\"" + host +
                 "\",\"overwrite_existing\":" + (overwrite ? "true" : "false") + "}");
    if (reply.status != 200)
        return fail(apiError("add route", reply) + "\n");
    const std::string name = field(reply.body, "name");
    writeErr(stamp() +
             (field(reply.body, "cname") == "new"
                  ? "Added CNAME " + name + " which will route to this tunnel"
                  : name + " is already configured to route to your tunnel") +
             " tunnelID=" + id + "\n");
    return 0;
}

int account(const std::vector<std::string>& words, const std::string& credentials, bool force) {
    const std::string& command = words[0];
    const auto argument = [&](size_t i) { return i < words.size() ? words[i] : std::string(); };
    if (command == "login")
        return login();
    if (command == "create")
        return create(argument(1), credentials);
    if (command == "route" && argument(1) == "dns")
        return routeDns(argument(2), argument(3), force);
    std::string error;
    if (originCert(error).empty())
        return fail(error + "\n");
    if (command == "list") {
        const Reply reply = call("GET", "/accounts/" + accountId + "/cfd_tunnel?is_deleted=false");
        if (reply.status != 200)
            return fail("Error Parsing page 1: REST request failed: " +
                        apiError("list tunnels", reply) + "\n");
        const size_t at = reply.body.find("\"result\": ") + 10;
        std::printf("%s\n",
                    reply.body.substr(at, reply.body.find(",\n  \"messages\"") - at).c_str());
        return 0;
    }
    const std::string id = argument(1); // delete
    const Reply reply = call("DELETE", "/accounts/" + accountId + "/cfd_tunnel/" + id +
                                           (force ? "?cascade=true" : ""));
    if (reply.status != 200)
        return fail("Error deleting tunnel " + id + ": " + apiError("delete tunnel", reply) + "\n");
    std::remove(credentials.c_str());
    return 0;
}

// `tunnel run --credentials-file PATH --url URL UUID`: four connections, no URL printed.
int runNamed(const std::string& id, const std::string& credentials) {
    if (!fileExists(credentials))
        return fail("Tunnel credentials file '" + credentials +
                    "' doesn't exist or is not a file\n");
    writeErr(stamp() + "Starting tunnel tunnelID=" + id + "\n");
    for (int index = 0; index < 4; ++index)
        registered(index);
    runUntilSignalled();
}

} // namespace

int main(int argc, char** argv) {
    const std::string version = chosenVersion();
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("cloudflared version %s (built %.4s-01-01-0000 UTC)\n", version.c_str(),
                    version.c_str());
        return 0;
    }
    // tunnel [--no-autoupdate] [--config PATH] --url URL, as Quillby starts it; or tunnel with
    // a command: login, create, route dns, list, delete, run.
    bool force = false;
    std::string config, originUrl, credentials;
    std::vector<std::string> words;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--metrics" && i + 1 < argc)
            setFakeMetricsAddress(argv[++i], version);
        else if (arg == "-f" || arg == "--overwrite-dns")
            force = true;
        else if ((arg == "--config" || arg == "--url") && i + 1 < argc)
            (arg == "--url" ? originUrl : config) = argv[++i];
        else if ((arg == "--credentials-file" || arg == "-o") && i + 1 < argc)
            (arg == "-o" ? config : credentials) = argv[++i]; // -o json: the only format
        else if (arg != "--no-autoupdate")                    // the only one; it always runs so
            words.push_back(arg);
    }
    if (argc >= 2 && std::strcmp(argv[1], "tunnel") == 0 && !words.empty() && words[0] != "run")
        return account(words, credentials, force);
    const std::string port = originUrl.substr(originUrl.rfind(':') + 1);
    if (argc < 2 || std::strcmp(argv[1], "tunnel") != 0 || originUrl.empty()) {
        writeErr("stand-in cloudflared: expected `tunnel [--no-autoupdate] [--config PATH] "
                 "--url http://127.0.0.1:PORT`\n");
        return 2;
    }

    struct sigaction usr1 {};
    usr1.sa_handler = [](int) { crashRequested = 1; };
    sigaction(SIGUSR1, &usr1, nullptr);
    if (envIs("FAKE_CF_IGNORE_TERM", "1"))
        std::signal(SIGTERM, SIG_IGN);

    // Rows of one window may each need their own mode; every client sees only a gateway port,
    // so the order of launches picks it.
    std::string mode = env("FAKE_CF_MODE", "url");
    if (const char* pidfile = std::getenv("FAKE_CF_PIDFILE")) {
        std::ifstream launches(pidfile);
        const auto launch = std::count(std::istreambuf_iterator<char>(launches), {}, '\n');
        std::stringstream modes(env("FAKE_CF_MODES", ""));
        std::vector<std::string> list;
        for (std::string next; std::getline(modes, next, ',');)
            list.push_back(next);
        if (launch < std::ssize(list))
            mode = list[launch];
        std::ofstream(pidfile, std::ios::app) << getpid() << " " << port << std::endl;
    }
    if (!config.empty() && std::ifstream(config).peek() == EOF) // Quillby's /dev/null
        writeErr(stamp("ERR") + "Configuration file " + config + " was empty\n");

    const std::string block = std::string(64 * 1024 - 1, 'o') + "\n";
    for (size_t done = 0; done < std::atof(env("FAKE_CF_STDOUT_MIB", "0")) * 1048576;
         done += block.size())
        writeAll(1, block.data(), block.size());

    if (!words.empty()) // run
        return runNamed(words.size() > 1 ? words[1] : "", credentials);
    const long intervalMs = std::atol(env("FAKE_CF_INTERVAL_MS", "5000"));

    // Each mode writes its lines after the banner, then answers an exit status, or -1 to run
    // until signalled.
    constexpr int runOn = -1;
    auto every = [&](auto tick) -> int {
        for (;;)
            pause(intervalMs), tick();
    };
    const std::pair<const char*, std::function<int()>> modes[] = {
        {"url", [] { return urlBox(), registered(), runOn; }},
        {"api-failure",
         [] {
             return fail("failed to request quick Tunnel: Post \"https://api.trycloudflare.com/"
                         "tunnel\": dial tcp: lookup api.trycloudflare.com on 127.0.0.53:53: no "
                         "such host\n");
         }},
        {"rate-limited", [] { return quickTunnelAnswer("1015", "429 Too Many Requests"); }},
        {"service-failed", [] { return quickTunnelAnswer("1101", "500 Internal Server Error"); }},
        {"edge-timeout", [&] { return urlBox(), every(edgeTimeout); }},
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
        {"vanish",
         [&] {
             return urlBox(), registered(), pause(intervalMs), setFakeReadyConnections(0), runOn;
         }},
        {"split",
         [] {
             const std::string line = boxLine(url());
             const size_t cut = line.find("trycloud");
             writeErr(stamp() + boxBorder + line.substr(0, cut));
             sleepMs(std::atol(env("FAKE_CF_PAUSE_MS", "200")));
             writeErr(line.substr(cut) + stamp() + boxBorder);
             return registered(), runOn;
         }},
        {"no-url", [] { return runOn; }}, // connecting for as long as it runs
        {"flood", [&] { return flood(port), envIs("FAKE_CF_EXIT_AFTER_FLOOD", "1") ? 0 : runOn; }},
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
