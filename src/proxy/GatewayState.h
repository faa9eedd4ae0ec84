#pragma once

#include "proxy/BasicAuthGuard.h"
#include "proxy/GatewayLoop.h"
#include "proxy/HostCheck.h"
#include "proxy/HttpExchange.h"
#include "proxy/WebSocketMessage.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>

class ProxySession;

// The limits of the tunnel service's edge that the gateway watches for (see EdgeFact).
struct EdgeLimits {
    // The edge answers 524 to a visitor whose request waited this long for its first byte.
    std::chrono::milliseconds firstByte{100'000};
    // A quick tunnel answers 429 to requests beyond this many in flight.
    int inFlight = 200;
    // How long a fact stays up after it was last seen.
    std::chrono::milliseconds hold{120'000};
};

// What the gateway last found out about the dev server, told whenever it changes.
//
// The edge facts come from status lines and headers only, with capture on or off. Each stays up
// while it is seen again and goes by itself EdgeLimits::hold after it was last seen. A request
// that is fine does not end one early: a page's next request would hide it within milliseconds,
// before anyone could read it.
struct GatewayStatus {
    bool answers = true;                 // false: nothing listened on either address
    HostCheck refusal = HostCheck::None; // a host check refused a request, and none passed since
    // An answer was a stream of server-sent events, which a quick tunnel's edge holds back until
    // it ends; only on a gateway told that it serves a quick tunnel.
    bool eventStream = false;
    // A request still waited for its first byte at EdgeLimits::firstByte (its visitor got 524);
    // the latest such, empty when none.
    std::string slowMethod;
    std::string slowPath; // without the query
    // EdgeLimits::inFlight requests were in flight at once (more got 429 at the edge).
    bool inFlightLimit = false;

    friend bool operator==(const GatewayStatus&, const GatewayStatus&) = default;
    bool sameEdgeFacts(const GatewayStatus& other) const {
        return eventStream == other.eventStream && slowMethod == other.slowMethod &&
               slowPath == other.slowPath && inFlightLimit == other.inFlightLimit;
    }
};

// What every connection of one gateway shares. The atomics are switched and read from any
// thread; the rest belongs to the I/O thread.
struct GatewayState : std::enable_shared_from_this<GatewayState> {
    using steady_clock = std::chrono::steady_clock;

    // Options, read once per request (or per new connection to the dev server).
    std::atomic<bool> capture{false};
    std::atomic<bool> rewriteHost{true};
    std::atomic<bool> quickTunnel{false};
    std::atomic<std::uint16_t> port{0};

    // Counts, kept whatever the options.
    std::atomic<std::uint64_t> requests{0};
    std::atomic<std::int64_t> lastRequestMs{0}; // since the epoch; 0: none yet

    // Asked per request whether the visitor may pass; set before the start, then only read.
    std::shared_ptr<BasicAuthGuard> guard;
    std::function<void(HttpExchange)> onExchange;
    // The messages of upgraded connections whose 101 was captured; its exchange came first.
    std::function<void(WebSocketMessage)> onMessage;
    std::function<void(GatewayStatus)> onStatus;
    // The ids of captured exchanges, shared by every run of one gateway so that none repeats.
    std::shared_ptr<std::atomic<quint64>> ids;
    EdgeLimits limits;
    bool ipv6First = false; // the address that answered last: ::1 rather than 127.0.0.1
    bool stopped = false;   // nothing more is told; sessions close
    GatewayStatus status;
    std::optional<GatewayLoop::Acceptor> acceptor;
    std::unordered_set<ProxySession*> sessions;

    static boost::asio::ip::tcp::endpoint endpoint(bool ipv6, std::uint16_t port) {
        return {ipv6 ? boost::asio::ip::address(boost::asio::ip::address_v6::loopback())
                     : boost::asio::ip::address(boost::asio::ip::address_v4::loopback()),
                port};
    }
    quint64 nextId() { return ids->fetch_add(1, std::memory_order_relaxed); }

    void setAnswers(bool answers) {
        if (answers != status.answers) {
            status.answers = answers;
            tell();
        }
    }
    void setRefusal(HostCheck refusal) {
        if (refusal != status.refusal) {
            status.refusal = refusal;
            tell();
        }
    }
    void exchange(HttpExchange exchange) {
        if (!stopped && onExchange)
            onExchange(std::move(exchange));
    }
    void message(WebSocketMessage message) {
        if (!stopped && onMessage)
            onMessage(std::move(message));
    }

    // The edge's limits, per request: a counter and a timestamp, a timer only while a request
    // waits for its first byte or a fact is up.
    void requestStarted(steady_clock::time_point now);
    void requestEnded() { --inFlight; }
    void eventStreamAnswered();
    void forgetEventStream();
    // Ends the timers; called once, on stop.
    void close();

private:
    enum Fact { EventStream, SlowFirstByte, InFlightLimit, factCount };
    void tell();
    void raise(Fact fact, bool& flag);
    void holdUntil(steady_clock::time_point at);
    bool& flag(Fact fact);
    void armFirstByteWatch(steady_clock::time_point at);
    void checkFirstBytes();
    void expireFacts();

    int inFlight = 0;
    bool watchingFirstByte = false; // the first-byte timer is armed
    std::optional<GatewayLoop::Timer> firstByteTimer;
    std::optional<GatewayLoop::Timer> holdTimer;
    std::array<steady_clock::time_point, factCount> lastSeen{};
    bool holding = false;       // the hold timer is armed
    bool slowRequestUp = false; // status.slowMethod names one
};
