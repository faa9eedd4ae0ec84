#include "FakeMetrics.h"

#include <arpa/inet.h>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

std::string address, version;
std::string hostname;
std::atomic<int> readyConnections{0};

void say(const std::string& text) {
    if (::write(2, text.data(), text.size()) < 0)
        std::_Exit(3);
}

std::string answer(const std::string& requestLine) {
    const size_t start = requestLine.find(' ') + 1;
    const std::string path = requestLine.substr(start, requestLine.find(' ', start) - start);
    int status = 200;
    std::string body;
    if (path == "/ready") {
        const int ready = readyConnections;
        status = ready > 0 ? 200 : 503;
        body = "{\"status\":" + std::to_string(status) +
               ",\"readyConnections\":" + std::to_string(ready) +
               ",\"connectorId\":\"0c5d9e3a-7b21-4f6e-9d84-2a1f6b3c8e57\"}";
    } else if (path == "/quicktunnel") {
        body = "{\"hostname\":\"" + hostname + "\"}";
    } else {
        status = 404, body = "404 page not found\n";
    }
    return "HTTP/1.1 " + std::to_string(status) +
           (status == 200   ? " OK"
            : status == 503 ? " Service Unavailable"
                            : " Not Found") +
           "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

// One request per connection, in turn: enough for the few asks a test makes.
void serve(int listener) {
    for (int fd;
         (fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0 || errno != EBADF;) {
        std::string request;
        char chunk[4096];
        for (ssize_t n; request.find("\r\n\r\n") == std::string::npos && request.size() < 65536 &&
                        (n = ::recv(fd, chunk, sizeof chunk, 0)) > 0;)
            request.append(chunk, size_t(n));
        const std::string reply = answer(request.substr(0, request.find('\r')));
        if (::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL) >= 0)
            ::shutdown(fd, SHUT_WR);
        ::close(fd);
    }
}

// The client's end when its explicit address cannot be bound, as its version words it.
[[noreturn]] void failToBind(int error) {
    std::string why = std::strerror(error); // in Go's words: "address already in use"
    why[0] = char(std::tolower(why[0]));
    std::string reason = "listen tcp " + address + ": bind: " + why;
    int year = 0, month = 0;
    std::sscanf(version.c_str(), "%d.%d", &year, &month);
    if (year * 100 + month >= 202412)
        reason = "failed to bind to address (" + address + "): " + reason;
    say("2026-12-06T19:10:57Z ERR Error opening metrics server listener error=\"" + reason +
        "\"\nError opening metrics server listener: " + reason + "\n");
    std::_Exit(1);
}

} // namespace

void setFakeMetricsAddress(const std::string& metricsAddress, const std::string& clientVersion) {
    address = metricsAddress;
    version = clientVersion;
}

void serveFakeMetrics(const std::string& publicUrl) {
    const char* off = std::getenv("FAKE_CF_METRICS");
    if (!hostname.empty() || address.empty() || (off && std::strcmp(off, "off") == 0))
        return;
    hostname = publicUrl.substr(publicUrl.find("://") + 3);
    const size_t colon = address.rfind(':');
    sockaddr_in at{AF_INET, htons(uint16_t(std::atoi(address.c_str() + colon + 1))), {}, {}};
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on); // as Go's listeners do
    if (::inet_pton(AF_INET, address.substr(0, colon).c_str(), &at.sin_addr) != 1 ||
        ::bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
        ::listen(listener, 16) != 0)
        failToBind(errno);
    say("2026-12-06T19:10:57Z INF Starting metrics server on " + address + "/metrics\n");
    // Its thread takes no signals: the main thread waits for them in sigsuspend.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    std::thread(serve, listener).detach();
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void setFakeReadyConnections(int count) {
    readyConnections = count;
}
