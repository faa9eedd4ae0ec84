#pragma once

#include "proxy/HttpExchange.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/buffer_body.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/serializer.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// What every connection of one proxy shares. Lives on the proxy's thread.
struct ProxyOrigin {
    boost::asio::ip::tcp::endpoint endpoint;
    std::function<void(HttpExchange)> onExchange;
    quint64 nextId = 1;
};

// One client connection: reads each request's header, forwards it to the origin, relays
// both bodies piece by piece and captures the exchange; after a 101 it copies raw bytes
// both ways until either side closes.
class ProxySession : public std::enable_shared_from_this<ProxySession> {
public:
    using tcp = boost::asio::ip::tcp;
    using error_code = boost::system::error_code;
    using RequestParser = boost::beast::http::request_parser<boost::beast::http::buffer_body>;
    using ResponseParser = boost::beast::http::response_parser<boost::beast::http::buffer_body>;
    using RequestWriter = boost::beast::http::request_serializer<boost::beast::http::buffer_body>;
    using ResponseWriter = boost::beast::http::response_serializer<boost::beast::http::buffer_body>;

    // Header fields beyond this answer 400 (browsers stay far below it).
    static constexpr std::uint32_t headerLimit = 64 * 1024;
    static constexpr std::size_t chunkSize = 64 * 1024;

    ProxySession(tcp::socket client, ProxyOrigin& origin);
    void start() { readRequestHeader(); }

private:
    void readRequestHeader();
    void onRequestHeader(error_code ec);
    void connectOrigin();
    void writeRequestHeader();
    bool canRetry() const;
    void retry();
    void relayRequestBody();
    void readResponseHeader();
    void onResponseHeader(error_code ec);
    void onResponseSent();
    void answerLocally(unsigned status, std::string_view reason, std::string body);
    void startTunnel();
    void pump(tcp::socket& from, tcp::socket& to, std::shared_ptr<std::vector<char>> buffer);
    void finish(bool keepAlive);
    void drain();
    void fail();

    // Reads the body that `parser` is parsing from `in` and writes it through `writer` to
    // `out`, a piece at a time, capturing up to the limit; then calls `next`.
    template <class Parser, class Writer>
    void relayBody(tcp::socket& in, boost::beast::flat_buffer& inBuffer, Parser& parser,
                   tcp::socket& out, Writer& writer, QByteArray& capture, qint64& size,
                   void (ProxySession::*next)());

    void captureResponseHeader();
    void emitExchange();

    tcp::socket m_client;
    tcp::socket m_origin;
    ProxyOrigin& m_shared;
    boost::beast::flat_buffer m_clientBuffer;
    boost::beast::flat_buffer m_originBuffer;
    std::vector<char> m_chunk;
    std::optional<RequestParser> m_request;
    std::optional<RequestWriter> m_requestWriter;
    std::optional<ResponseParser> m_response;
    std::optional<ResponseWriter> m_responseWriter;
    HttpExchange m_exchange;
    std::chrono::steady_clock::time_point m_started;
    boost::asio::steady_timer m_linger;
    bool m_exchangeOpen = false;
    bool m_expectContinue = false;
    bool m_closeAfter = false;
    bool m_originReused = false;
    bool m_retried = false;
    int m_pumpsLeft = 0;
};
