// Arbitrary bytes sent, as a client would, to the inspecting proxy, which forwards what parses
// to a small origin on another loopback port. Looks for crashes, leaks and hangs in request
// handling: every connection must end once the client has stopped sending.
#include "proxy/ProxyServer.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <string>
#include <thread>

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

// Reads up to the end of a header, answers a fixed response and closes first, as a server
// answering "Connection: close" does: the TIME_WAIT then stays on the origin's side and never
// holds one of the ports the proxy's own connections need.
class Origin {
public:
    Origin()
        : m_acceptor(m_io, tcp::endpoint(asio::ip::address_v4::loopback(), 0)) {
        m_thread = std::thread([this] {
            for (;;) {
                tcp::socket socket(m_io);
                boost::system::error_code ec;
                m_acceptor.accept(socket, ec);
                if (ec)
                    continue;
                std::string seen;
                char buffer[4096];
                while (seen.find("\r\n\r\n") == std::string::npos && seen.size() < 200000) {
                    const std::size_t got = socket.read_some(asio::buffer(buffer), ec);
                    if (ec)
                        break;
                    seen.append(buffer, got);
                }
                asio::write(socket,
                            asio::buffer(std::string_view("HTTP/1.1 200 OK\r\nContent-Length: "
                                                          "2\r\nConnection: close\r\n\r\nok")),
                            ec);
                socket.shutdown(tcp::socket::shutdown_both, ec);
            }
        });
        m_thread.detach();
    }
    quint16 port() const { return m_acceptor.local_endpoint().port(); }

private:
    asio::io_context m_io;
    tcp::acceptor m_acceptor;
    std::thread m_thread;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Origin* origin = new Origin;
    static ProxyServer* proxy = [] {
        auto* server = new ProxyServer([](HttpExchange) {});
        server->setCapture(true);
        if (!server->start(origin->port()))
            std::abort();
        return server;
    }();
    static asio::io_context io;

    // Each input from its own loopback address, so that the connections of earlier inputs,
    // waiting out TIME_WAIT, never use up the ephemeral ports. A failed connect is the
    // machine's, not the proxy's (the listener is never closed): it is retried from the next
    // address and only a lasting one stops the run.
    static std::uint32_t inputs = 0;
    tcp::socket client(io);
    boost::system::error_code ec;
    for (int attempt = 0; attempt < 20; ++attempt) {
        ++inputs;
        const asio::ip::address_v4 source((127u << 24) | (1u << 16) | (inputs % 60000 + 1));
        client.close(ec);
        client.open(tcp::v4(), ec);
        // The port is picked at connect time, for the whole address pair.
        client.set_option(
            asio::detail::socket_option::boolean<IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT>(true), ec);
        client.bind(tcp::endpoint(source, 0), ec);
        client.connect(tcp::endpoint(asio::ip::address_v4::loopback(), proxy->port()), ec);
        if (!ec)
            break;
        std::fprintf(stderr, "connect from %s: %s\n", source.to_string().c_str(),
                     ec.message().c_str());
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (ec)
        std::abort();
    asio::write(client, asio::buffer(data, size), ec);
    client.shutdown(tcp::socket::shutdown_send, ec);
    char buffer[4096];
    while (!ec)
        client.read_some(asio::buffer(buffer), ec);
    return 0;
}
