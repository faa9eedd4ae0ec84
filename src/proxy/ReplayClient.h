#pragma once

#include "proxy/ProxySession.h"

#include <boost/beast/http/string_body.hpp>

// Sends one captured request to the dev server on a connection of its own, with the gateway's
// options of now, and captures the answer as a new exchange, marked as replayed.
class ReplayClient : public std::enable_shared_from_this<ReplayClient> {
public:
    using tcp = boost::asio::ip::tcp;
    using error_code = boost::system::error_code;

    ReplayClient(tcp::socket socket, std::shared_ptr<GatewayState> state,
                 const HttpExchange& captured);
    void start();

private:
    void readBody();
    void done();

    tcp::socket m_socket;
    std::shared_ptr<GatewayState> m_state;
    std::uint16_t m_port = 0;
    bool m_ipv6 = false;
    boost::beast::http::request<boost::beast::http::string_body> m_request;
    boost::beast::flat_buffer m_buffer;
    std::vector<char> m_chunk;
    ProxySession::ResponseParser m_response;
    HttpExchange m_exchange;
    std::chrono::steady_clock::time_point m_started;
};
