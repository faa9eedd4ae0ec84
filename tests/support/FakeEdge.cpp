#include "FakeEdge.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// The client adds its connector's tag to every request; this is the stand-in's connector.
constexpr const char* connectorId = "0c5d9e3a-7b21-4f6e-9d84-2a1f6b3c8e57";

std::string publicHost;
int originPort = 0;
std::atomic<unsigned long> rays{0x7e1f3a9c2b5d4000};

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    return text;
}

// The edge's threads block every signal, so no call here is interrupted.
bool sendAll(int fd, const std::string& data) {
    ssize_t n = 0;
    for (size_t done = 0; done < data.size(); done += size_t(n)) {
        if ((n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL)) <= 0)
            return false;
    }
    return true;
}

// Buffered reads from the visitor's side: up to and with `end`, or `size` bytes.
struct Reader {
    int fd;
    std::string buffer;
    bool fill() {
        char chunk[16384];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        buffer.append(chunk, size_t(std::max<ssize_t>(n, 0)));
        return n > 0;
    }
    bool take(std::string& out, const char* end, size_t size = 0) {
        size_t at;
        while ((at = end                     ? buffer.find(end)
                     : size <= buffer.size() ? size
                                             : std::string::npos) == std::string::npos)
            if ((end && buffer.size() > 65536) || !fill())
                return false;
        out = buffer.substr(0, at + (end ? std::strlen(end) : 0));
        buffer.erase(0, out.size());
        return true;
    }
};

// Quillby's gateway: --url http://127.0.0.1:PORT.
int connectOrigin() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, htons(uint16_t(originPort)), {htonl(INADDR_LOOPBACK)}, {}};
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        return fd;
    ::close(fd);
    return -1;
}

// What a browser on the public https URL would send: an Origin or Referer that names the
// public name (http://NAME, over this plain listener) names https://NAME.
std::string asSeenOnPublicUrl(const std::string& value) {
    const size_t start = value.find("://") + 3, end = value.find('/', start);
    if (start < 3 || lower(value.substr(start, end - start)) != publicHost)
        return value;
    return "https://" + publicHost + (end == std::string::npos ? "" : value.substr(end));
}

// Reads one request from the visitor and writes it to the origin as the client would.
// Returns false when the visitor's side is done; sets `upgrade` for a WebSocket handshake.
// Visitors come over loopback: from 127.0.0.1.
bool forwardRequest(Reader& in, int origin, bool& upgrade) {
    const std::string visitor = "127.0.0.1";
    std::string head;
    if (!in.take(head, "\r\n\r\n"))
        return false;
    std::string out = head.substr(0, head.find("\r\n") + 2) + "Host: " + publicHost + "\r\n";
    long long length = 0;
    upgrade = false;
    for (size_t at = head.find("\r\n") + 2; at + 2 < head.size();) {
        const size_t end = head.find("\r\n", at);
        const std::string line = head.substr(at, end - at);
        at = end + 2;
        const size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        const std::string name = lower(line.substr(0, colon));
        const size_t start = line.find_first_not_of(' ', colon + 1);
        std::string value = start == std::string::npos ? "" : line.substr(start);
        if (name == "content-length")
            length = std::atoll(value.c_str());
        if (name == "upgrade")
            upgrade = lower(value) == "websocket";
        // Set anew below: the edge and the client replace these, hop-by-hop ones end here.
        if (name.rfind("cf-", 0) == 0 ||
            std::string(" host connection keep-alive upgrade proxy-connection te x-forwarded-for "
                        "x-forwarded-proto cdn-loop sec-websocket-version ")
                    .find(" " + name + " ") != std::string::npos)
            continue;
        if (name == "origin" || name == "referer")
            value = asSeenOnPublicUrl(value);
        out += line.substr(0, colon) + ": " + value + "\r\n";
    }
    char ray[24];
    std::snprintf(ray, sizeof ray, "%016lx-AMS", rays.fetch_add(0x9e3779b9));
    out += "X-Forwarded-For: " + visitor + "\r\nX-Forwarded-Proto: https\r\n" +
           "Cf-Connecting-Ip: " + visitor + "\r\nCf-Ray: " + ray + "\r\nCf-Ipcountry: NL\r\n" +
           "Cf-Visitor: {\"scheme\":\"https\"}\r\nCdn-Loop: cloudflare; loops=1\r\n" +
           "Cf-Warp-Tag-Id: " + connectorId + "\r\n" +
           (upgrade ? "Connection: Upgrade\r\nUpgrade: websocket\r\nSec-Websocket-Version: 13\r\n"
                    : "Connection: keep-alive\r\n") +
           "\r\n";
    if (!sendAll(origin, out))
        return false;
    // The body as it came: Content-Length bytes (no test sends a chunked one).
    std::string body;
    return in.take(body, nullptr, size_t(length)) && sendAll(origin, body);
}

void copyRaw(int from, int to) {
    char chunk[16384];
    for (ssize_t n; (n = ::recv(from, chunk, sizeof chunk, 0)) > 0 &&
                    sendAll(to, std::string(chunk, size_t(n)));) {
    }
}

// The visitor's and the origin's connection, closed when both directions are done.
struct Sockets {
    int visitor, origin = -1;
    ~Sockets() { ::close(visitor), origin >= 0 && ::close(origin); }
};

// One visitor connection: requests go rewritten to one origin connection, answers come back
// untouched (a 101 and the socket's frames included), as the client's streams carry them.
void serve(std::shared_ptr<Sockets> s) {
    Reader in{s->visitor, {}};
    bool upgrade = false;
    std::thread answers;
    while (!upgrade) {
        if (s->origin < 0) {
            if (in.buffer.empty() && !in.fill())
                break;
            if ((s->origin = connectOrigin()) < 0) {
                sendAll(s->visitor, "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n"
                                    "Connection: close\r\n\r\n");
                break;
            }
            answers = std::thread([s] {
                copyRaw(s->origin, s->visitor);
                ::shutdown(s->visitor, SHUT_RDWR);
            });
        }
        if (!forwardRequest(in, s->origin, upgrade))
            break;
    }
    if (upgrade && sendAll(s->origin, in.buffer))
        copyRaw(s->visitor, s->origin);
    if (s->origin >= 0)
        ::shutdown(s->origin, SHUT_WR);
    if (answers.joinable())
        answers.join();
}

void acceptLoop(int listener) {
    for (int fd; (fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0 || errno != EBADF;)
        if (fd >= 0)
            std::thread(serve, std::shared_ptr<Sockets>(new Sockets{fd})).detach();
}

} // namespace

bool startFakeEdgeIfAsked(const std::string& originUrl, const std::string& publicUrl) {
    const char* portFile = std::getenv("FAKE_CF_EDGE_PORT_FILE");
    if (!std::getenv("FAKE_CF_EDGE") || std::strcmp(std::getenv("FAKE_CF_EDGE"), "1") != 0)
        return false;

    originPort = std::atoi(originUrl.substr(originUrl.rfind(':') + 1).c_str());
    publicHost = publicUrl.substr(publicUrl.find("://") + 3);

    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 128) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        std::fprintf(stderr, "stand-in cloudflared: the edge cannot listen: %s\n",
                     std::strerror(errno));
        std::exit(4);
    }
    if (portFile) // one write: a reader polling it sees it empty or whole
        std::ofstream(portFile) << ntohs(address.sin_port) << std::endl;
    // The edge's threads take no signals: the main thread waits for them in sigsuspend.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    std::thread(acceptLoop, listener).detach();
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return true;
}
