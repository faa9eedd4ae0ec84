#pragma once

#include "proxy/BasicAuthGuard.h"
#include "proxy/HostCheck.h"
#include "proxy/HttpExchange.h"

#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_set>
#include <vector>

class ProxySession;

// What the gateway last found out about the dev server, told whenever it changes.
struct GatewayStatus {
    bool answers = true;                 // false: nothing listened on either address
    HostCheck refusal = HostCheck::None; // a host check refused a request, and none passed since

    friend bool operator==(const GatewayStatus&, const GatewayStatus&) = default;
};

// What every connection of one gateway shares. Its connections run on all of the gateway
// loops (GatewayLoop): the atomics and the status are read and changed from any thread; the
// acceptor belongs to the first loop, and each loop's set of sessions to that loop.
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
    std::atomic<quint64> nextId{1};
    std::atomic<bool> ipv6First{false}; // the address that answered last: ::1, not 127.0.0.1
    std::atomic<bool> stopped{false};   // nothing more is told; sessions close
    std::optional<boost::asio::ip::tcp::acceptor> acceptor;
    std::size_t nextLoop = 0; // where the next accepted connection runs
    std::vector<std::unordered_set<ProxySession*>> sessions; // by loop

    static boost::asio::ip::tcp::endpoint endpoint(bool ipv6, std::uint16_t port) {
        return {ipv6 ? boost::asio::ip::address(boost::asio::ip::address_v6::loopback())
                     : boost::asio::ip::address(boost::asio::ip::address_v4::loopback()),
                port};
    }
    HostCheck refusal() {
        std::lock_guard lock(statusMutex);
        return status.refusal;
    }
    void forgetRefusal() {
        std::lock_guard lock(statusMutex);
        status.refusal = HostCheck::None;
    }
    // Told under the lock, so that the last told is the last set.
    void report(GatewayStatus next) {
        std::lock_guard lock(statusMutex);
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

private:
    std::mutex statusMutex;
    GatewayStatus status;
};
