#pragma once

#include "proxy/BasicAuthGuard.h"
#include "proxy/HostCheck.h"
#include "proxy/HttpExchange.h"

#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_set>

class ProxySession;

// What the gateway last found out about the dev server, told whenever it changes.
struct GatewayStatus {
    bool answers = true;                 // false: nothing listened on either address
    HostCheck refusal = HostCheck::None; // a host check refused a request, and none passed since

    friend bool operator==(const GatewayStatus&, const GatewayStatus&) = default;
};

// What every connection of one gateway shares. The atomics are switched and read from any
// thread; the rest belongs to the I/O thread.
struct GatewayState {
    // Options, read once per request (or per new connection to the dev server).
    std::atomic<bool> capture{false};
    std::atomic<bool> rewriteHost{true};
    std::atomic<std::uint16_t> port{0};

    // Counts, kept whatever the options.
    std::atomic<std::uint64_t> requests{0};
    std::atomic<std::int64_t> lastRequestMs{0}; // since the epoch; 0: none yet

    // Asked per request whether the visitor may pass; set before the start, then only read.
    std::shared_ptr<BasicAuthGuard> guard;
    std::function<void(HttpExchange)> onExchange;
    std::function<void(GatewayStatus)> onStatus;
    quint64 nextId = 1;
    bool ipv6First = false; // the address that answered last: ::1 rather than 127.0.0.1
    bool stopped = false;   // nothing more is told; sessions close
    GatewayStatus status;
    std::optional<boost::asio::ip::tcp::acceptor> acceptor;
    std::unordered_set<ProxySession*> sessions;

    static boost::asio::ip::tcp::endpoint endpoint(bool ipv6, std::uint16_t port) {
        return {ipv6 ? boost::asio::ip::address(boost::asio::ip::address_v6::loopback())
                     : boost::asio::ip::address(boost::asio::ip::address_v4::loopback()),
                port};
    }
    void report(GatewayStatus next) {
        if (next == status || stopped)
            return;
        status = next;
        if (onStatus)
            onStatus(next);
    }
    void exchange(HttpExchange exchange) {
        if (!stopped && onExchange)
            onExchange(std::move(exchange));
    }
};
