#pragma once

#include "proxy/HttpExchange.h"

#include <QString>
#include <functional>
#include <memory>

// An HTTP/1.1 reverse proxy on 127.0.0.1 (an ephemeral port) that forwards every request to
// one origin and captures what passes. Its sockets run on a thread of its own; the callback
// is called on that thread.
//
// Forwarding is transparent: header fields as received (Host included), bodies streamed in
// both directions and never held whole, keep-alive, chunked transfer, 100-continue, and
// Upgrade passed through as raw bytes after 101. A request that does not parse gets 400 and
// never reaches the origin; a refused origin gets a 502 page.
class ProxyServer {
public:
    using ExchangeHandler = std::function<void(HttpExchange)>;

    explicit ProxyServer(ExchangeHandler onExchange);
    ~ProxyServer();
    ProxyServer(const ProxyServer&) = delete;
    ProxyServer& operator=(const ProxyServer&) = delete;

    // originHost is a numeric address ("127.0.0.1" or "::1"). False, with a reason, when the
    // listening socket cannot be set up.
    bool start(const QString& originHost, quint16 originPort, QString* error = nullptr);
    void stop();
    bool isListening() const;
    quint16 port() const;

    // Sends a captured request to the origin again; the response arrives as a new exchange.
    void replay(const HttpExchange& exchange);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
