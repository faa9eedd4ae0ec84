#pragma once

#include "proxy/GatewayLoop.h"
#include "proxy/GatewayState.h"
#include "proxy/HttpExchange.h"
#include "proxy/RefusalScanner.h"
#include "proxy/WebSocketFrameReader.h"

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/buffer_body.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/serializer.hpp>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// One client connection: reads each request's header, applies the gateway's options to it,
// forwards it to the dev server, relays both bodies piece by piece (capturing them only while
// inspection is on) and watches the answer for a host check's refusal and the edge's limits;
// after a 101 it copies raw bytes both ways until either side closes.
//
// A replay is a session too, with no visitor: its request is read from a captured exchange
// instead of a socket, and its answer is captured, not sent on.
class ProxySession : public std::enable_shared_from_this<ProxySession> {
public:
    using tcp = boost::asio::ip::tcp;
    using Socket = GatewayLoop::Socket;
    using error_code = boost::system::error_code;
    using RequestParser = boost::beast::http::request_parser<boost::beast::http::buffer_body>;
    using ResponseParser = boost::beast::http::response_parser<boost::beast::http::buffer_body>;
    using RequestWriter = boost::beast::http::request_serializer<boost::beast::http::buffer_body>;
    using ResponseWriter = boost::beast::http::response_serializer<boost::beast::http::buffer_body>;

    // Header fields beyond this answer 400 (browsers stay far below it).
    static constexpr std::uint32_t headerLimit = 64 * 1024;
    static constexpr std::size_t chunkSize = 64 * 1024;

    ProxySession(Socket client, std::shared_ptr<GatewayState> state);
    ~ProxySession();
    void start() { readRequestHeader(); }
    // Sends `captured` to the dev server as the entry `id`, marked as replayed.
    void replay(const HttpExchange& captured, quint64 id);
    // Ends both connections; pending handlers finish with errors.
    void close();

    // Since when the current request has waited for the dev server's first byte; zero while it
    // does not wait, or once its wait was told.
    std::chrono::steady_clock::time_point waitingSince() const { return m_waitingSince; }
    void forgetWaiting() { m_waitingSince = {}; }
    // The current request's method and path (without the query).
    void describeRequest(std::string& method, std::string& path) const;

private:
    void readRequestHeader();
    void onRequestHeader(error_code ec);
    // Where per-request policy (the sharing options' checks) decides; true lets it through.
    // Whether the visitor may pass; if not, the refusal has been sent.
    bool admitted();
    void connectOrigin();
    void connectTo(bool ipv6, bool last);
    void writeRequestHeader();
    bool canRetry() const;
    void retry();
    void relayRequestBody();
    void readResponseHeader();
    void onResponseHeader(error_code ec);
    void relayResponseBody();
    void onResponseSent();
    void answerLocally(unsigned status, std::string_view reason, std::string body,
                       const std::vector<std::pair<std::string, std::string>>& fields = {});
    template <class Next> void writeResponseHeader(Next next);
    template <class Writer, class Handler>
    void send(Socket& out, Writer& writer, bool response, const char* data, std::size_t size,
              Handler&& sent);
    void relayUpgraded();
    void pump(Socket& from, Socket& to, std::shared_ptr<std::vector<char>> buffer);
    // Hands bytes that passed after a captured 101 to WebSocket to that direction's reader.
    void tap(bool toServer, const char* data, std::size_t size);
    void endRequest();
    void finish(bool keepAlive);
    void drain();
    void fail();

    // Reads the body that `parser` is parsing from `in` and writes it through `writer` to
    // `out`, a piece at a time, handing each piece to onPiece; then calls `next`.
    template <class Parser, class Writer>
    void relayBody(Socket& in, boost::beast::flat_buffer& inBuffer, Parser& parser, Socket& out,
                   Writer& writer, bool response, void (ProxySession::*next)());
    void onPiece(bool response, std::size_t size);

    void captureResponseHeader();
    void reportAnswer(unsigned status);
    void emitExchange();

    Socket m_client;
    Socket m_origin;
    std::shared_ptr<GatewayState> m_state;
    boost::beast::flat_buffer m_clientBuffer;
    boost::beast::flat_buffer m_originBuffer;
    std::vector<char> m_chunk;
    std::optional<RequestParser> m_request;
    std::optional<RequestWriter> m_requestWriter;
    std::optional<ResponseParser> m_response;
    std::optional<ResponseWriter> m_responseWriter;
    // A message that is not chunked needs no serializer: its head, kept until sent.
    bool m_requestPlain = false;
    bool m_responsePlain = false;
    std::string m_requestHead;
    std::string m_responseHead;
    RefusalScanner m_scanner;
    std::string m_publicHost; // the Host as it arrived, while rewriting
    HttpExchange m_exchange;  // filled only while capturing
    std::chrono::steady_clock::time_point m_started;
    std::chrono::steady_clock::time_point m_waitingSince;
    GatewayLoop::Timer m_linger;
    std::uint16_t m_port = 0;       // the dev server's port for this request
    std::uint16_t m_originPort = 0; // the port m_origin is connected to
    bool m_capture = false;
    bool m_rewrite = false;
    bool m_nextJsRequest = false; // to /_next/, where Next.js's check answers
    bool m_inFlight = false;      // counted in the gateway's requests in flight
    bool m_exchangeOpen = false;
    bool m_expectContinue = false;
    bool m_closeAfter = false;
    bool m_originReused = false;
    bool m_retried = false;
    bool m_bodySent = false; // some of the request's body went to the dev server
    int m_pumpsLeft = 0;
    quint64 m_replayId = 0; // a replay's entry; 0: the requests of a visitor
    bool m_replayEdited = false;
    // After a captured 101 to WebSocket: the upgraded entry, a reader per direction.
    quint64 m_upgradedId = 0;
    std::optional<WebSocketFrameReader> m_toServerFrames;
    std::optional<WebSocketFrameReader> m_toClientFrames;
};
