#include "proxy/ProxySession.h"

#include "proxy/HostRewrite.h"
#include "proxy/MessageHead.h"

#include <array>
#include <boost/asio/write.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>
#include <iterator>
#include <limits>
#include <sstream>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

namespace {

QByteArray bytesOf(beast::string_view text) {
    return QByteArray(text.data(), qsizetype(text.size()));
}

// `seen` made equal to `text`, shared: allocates only when the text changed since.
const QByteArray& reused(QByteArray& seen, beast::string_view text) {
    if (QByteArrayView(seen) != QByteArrayView(text.data(), qsizetype(text.size())))
        seen = bytesOf(text);
    return seen;
}

// Captures repeat most names and values from one request to the next (Host, User-Agent,
// Content-Type, Server, ...): each known field's last name and value are kept on the gateway's
// thread, and an equal one shares their bytes instead of allocating its own.
HttpExchange::Headers headersOf(const http::fields& fields) {
    thread_local std::array<std::pair<QByteArray, QByteArray>, std::size_t(http::field::xref) + 1>
        seen;
    HttpExchange::Headers headers;
    headers.reserve(std::distance(fields.begin(), fields.end()));
    for (const auto& field : fields) {
        if (field.name() == http::field::unknown) {
            headers.append({bytesOf(field.name_string()), bytesOf(field.value())});
            continue;
        }
        auto& [name, value] = seen[std::size_t(field.name())];
        headers.append({reused(name, field.name_string()), reused(value, field.value())});
    }
    return headers;
}

void appendCapped(QByteArray& capture, const char* data, std::size_t size) {
    const qsizetype room = HttpExchange::bodyCaptureLimit - capture.size();
    if (room > 0)
        capture.append(data, std::min(room, qsizetype(size)));
}

// Errors of the HTTP grammar, as opposed to the peer going away.
bool isMalformed(const boost::system::error_code& ec) {
    return ec.category() == http::make_error_code(http::error::bad_method).category() &&
           ec != http::error::end_of_stream && ec != http::error::partial_message;
}

beast::string_view viewOf(const QByteArray& bytes) {
    return beast::string_view(bytes.constData(), std::size_t(bytes.size()));
}

bool isEventStream(const http::fields& fields) {
    const beast::string_view type = fields[http::field::content_type];
    return beast::iequals(type.substr(0, 17), "text/event-stream");
}

} // namespace

ProxySession::ProxySession(Socket client, std::shared_ptr<GatewayState> state)
    : m_client(std::move(client))
    , m_origin(m_client.get_executor())
    , m_state(std::move(state))
    , m_chunk(chunkSize)
    , m_linger(m_client.get_executor()) {
    m_state->sessions.insert(this);
}

ProxySession::~ProxySession() {
    endRequest();
    m_state->sessions.erase(this);
}

void ProxySession::replay(const HttpExchange& captured, quint64 id) {
    m_replayId = id;
    m_replayEdited = captured.edited;
    // Told as it was asked for should it not even parse (the editor lets anything through).
    m_started = std::chrono::steady_clock::now();
    m_exchange = captured;
    m_exchange.id = id;
    m_exchange.replayed = true;
    m_exchange.time = QDateTime::currentDateTimeUtc();
    m_exchange.firstByteUs = 0;
    m_exchange.originRefused = false;
    m_exchange.messages.clear();
    m_exchange.messagesDropped = 0;
    m_exchangeOpen = true;
    http::request<http::string_body> request;
    request.method_string(viewOf(captured.method));
    request.target(viewOf(captured.target));
    // The body goes out whole now, so its length replaces whatever framing it came with.
    const std::string length = std::to_string(captured.requestBody.size());
    bool hasLength = false;
    for (const auto& [name, value] : captured.requestHeaders) {
        const bool framing = beast::iequals(viewOf(name), "content-length") ||
                             beast::iequals(viewOf(name), "transfer-encoding");
        if (!framing)
            request.insert(viewOf(name), viewOf(value));
        else if (!hasLength)
            request.insert(http::field::content_length, length);
        hasLength = hasLength || framing;
    }
    if (!hasLength && !captured.requestBody.isEmpty())
        request.set(http::field::content_length, length);
    request.body() = captured.requestBody.toStdString();
    // Read back as a visitor's request would be, from the buffer instead of the socket.
    std::ostringstream text;
    text << request;
    const std::string bytes = std::move(text).str();
    m_clientBuffer.commit(
        asio::buffer_copy(m_clientBuffer.prepare(bytes.size()), asio::buffer(bytes)));
    readRequestHeader();
}

void ProxySession::describeRequest(std::string& method, std::string& path) const {
    const auto& request = m_request->get();
    const beast::string_view verb = request.method_string();
    method.assign(verb.data(), verb.size());
    const beast::string_view target = request.target();
    path.assign(target.data(), std::min(target.size(), target.find('?')));
}

void ProxySession::close() {
    error_code ignored;
    m_client.close(ignored);
    m_origin.close(ignored);
    m_linger.cancel();
    m_exchangeOpen = false;
}

void ProxySession::readRequestHeader() {
    m_requestWriter.reset();
    m_request.emplace();
    m_request->header_limit(headerLimit);
    m_request->body_limit(std::numeric_limits<std::uint64_t>::max());
    http::async_read_header(
        m_client, m_clientBuffer, *m_request,
        [self = shared_from_this()](error_code ec, std::size_t) { self->onRequestHeader(ec); });
}

void ProxySession::onRequestHeader(error_code ec) {
    if (ec) {
        if (isMalformed(ec) && !m_state->stopped)
            answerLocally(400, "Bad Request",
                          "This request is not valid HTTP/1.1 (" + ec.message() + ").\n");
        else
            fail();
        return;
    }
    auto& request = m_request->get();
    m_started = std::chrono::steady_clock::now();
    if (!m_replayId) {
        m_state->requests.fetch_add(1, std::memory_order_relaxed);
        m_state->lastRequestMs.store(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::system_clock::now().time_since_epoch())
                                         .count(),
                                     std::memory_order_relaxed);
        m_inFlight = true;
        m_waitingSince = m_started;
        m_state->requestStarted(m_started);
    }
    m_capture = m_replayId || m_state->capture.load(std::memory_order_relaxed);
    m_rewrite = m_state->rewriteHost.load(std::memory_order_relaxed);
    m_port = m_state->port.load(std::memory_order_relaxed);
    if (m_capture) {
        // As the visitor sent it, before any rewriting.
        m_exchange = HttpExchange{};
        m_exchange.id = m_replayId ? m_replayId : m_state->nextId();
        m_exchange.replayed = m_replayId != 0;
        m_exchange.edited = m_replayEdited;
        m_exchange.time = QDateTime::currentDateTimeUtc();
        thread_local QByteArray method;
        m_exchange.method = reused(method, request.method_string());
        m_exchange.target = bytesOf(request.target());
        m_exchange.requestHeaders = headersOf(request.base());
        m_exchangeOpen = true;
    }
    m_nextJsRequest = request.target().starts_with("/_next/");
    m_expectContinue = beast::iequals(request[http::field::expect], "100-continue");
    m_closeAfter = false;
    m_retried = false;
    m_bodySent = false;
    if (!admitted())
        return;
    if (m_rewrite)
        HostRewrite::request(request.base(), m_port, m_publicHost);
    // A connection kept from before a port change leads to the old server.
    if (m_origin.is_open() && m_originPort == m_port) {
        m_originReused = true;
        writeRequestHeader();
    } else {
        connectOrigin();
    }
}

void ProxySession::connectOrigin() {
    m_originReused = false;
    m_originBuffer.clear();
    error_code ignored;
    m_origin.close(ignored);
    connectTo(m_state->ipv6First, false);
}

// The address that answered last first, then the other: a server that moved between 127.0.0.1
// and ::1 is followed at its next connection.
void ProxySession::connectTo(bool ipv6, bool last) {
    m_origin.async_connect(GatewayState::endpoint(ipv6, m_port), [self = shared_from_this(), ipv6,
                                                                  last](error_code ec) {
        if (ec == asio::error::operation_aborted || self->m_state->stopped)
            return self->fail();
        if (ec && !last) {
            error_code ignored;
            self->m_origin.close(ignored);
            return self->connectTo(!ipv6, true);
        }
        if (ec) {
            const std::string port = std::to_string(self->m_port);
            self->m_exchange.originRefused = true;
            self->m_state->setAnswers(false);
            self->answerLocally(502, "Bad Gateway",
                                "<!DOCTYPE html>\n<title>502 Bad Gateway</title>\n"
                                "<h1>Nothing listens on port " +
                                    port +
                                    "</h1>\n<p>The request reached this computer, but nothing "
                                    "listens on port " +
                                    port + " on this computer.</p>\n");
            return;
        }
        self->m_state->ipv6First = ipv6;
        self->m_originPort = self->m_port;
        error_code ignored;
        self->m_origin.set_option(tcp::no_delay(true), ignored);
        self->writeRequestHeader();
    });
}

void ProxySession::writeRequestHeader() {
    auto& request = m_request->get();
    m_requestWriter.emplace(request);
    m_requestPlain = !request.chunked();
    if (m_requestPlain)
        MessageHead::write(request, m_requestHead);
    // With the body (or its first piece) at hand, header and body leave in one write.
    if (!m_expectContinue && (m_request->is_done() || m_clientBuffer.size() > 0))
        return relayRequestBody();
    auto sent = [self = shared_from_this()](error_code ec, std::size_t) {
        if (ec && self->canRetry())
            return self->retry();
        if (ec)
            return self->fail();
        if (self->m_expectContinue)
            self->readResponseHeader(); // the body follows a 100
        else
            self->relayRequestBody();
    };
    if (m_requestPlain)
        send(m_origin, *m_requestWriter, false, nullptr, 0, std::move(sent));
    else
        http::async_write_header(m_origin, *m_requestWriter, std::move(sent));
}

// A kept-alive origin connection may have been closed just before this request; nothing of
// the request has been acted on when no body went out, so it can go once more.
bool ProxySession::canRetry() const {
    return m_originReused && !m_retried && !m_bodySent &&
           (m_request->is_done() || m_expectContinue);
}

void ProxySession::retry() {
    m_retried = true;
    connectOrigin();
}

void ProxySession::relayRequestBody() {
    relayBody(m_client, m_clientBuffer, *m_request, m_origin, *m_requestWriter, false,
              &ProxySession::readResponseHeader);
}

void ProxySession::readResponseHeader() {
    m_responseWriter.reset();
    m_response.emplace();
    m_response->header_limit(16 * headerLimit);
    m_response->body_limit(std::numeric_limits<std::uint64_t>::max());
    if (m_request->get().method() == http::verb::head)
        m_response->skip(true);
    http::async_read_header(
        m_origin, m_originBuffer, *m_response,
        [self = shared_from_this()](error_code ec, std::size_t) { self->onResponseHeader(ec); });
}

void ProxySession::onResponseHeader(error_code ec) {
    if (ec) {
        if (canRetry() && !isMalformed(ec))
            return retry();
        if (ec == asio::error::operation_aborted || m_state->stopped)
            return fail();
        answerLocally(502, "Bad Gateway",
                      "The server on port " + std::to_string(m_port) +
                          " closed the connection without a valid answer.\n");
        return;
    }
    auto& response = m_response->get();
    const unsigned status = response.result_int();
    m_waitingSince = {}; // the edge has its first byte
    if (m_rewrite && status >= 200)
        HostRewrite::response(response.base(), m_port, m_publicHost);
    m_responseWriter.emplace(response);
    m_responsePlain = !response.chunked();
    if (m_responsePlain)
        MessageHead::write(response, m_responseHead);
    if (status == 101) {
        captureResponseHeader();
        return writeResponseHeader([this] { relayUpgraded(); });
    }
    if (status >= 100 && status < 200) {
        // An interim answer: pass it on and wait for the final one.
        const bool continueBody = m_expectContinue && status == 100;
        return writeResponseHeader([this, continueBody] {
            if (continueBody) {
                m_expectContinue = false;
                relayRequestBody();
            } else {
                readResponseHeader();
            }
        });
    }
    if (m_expectContinue) {
        // Answered without asking for the body: where the client's bytes stand is unknown.
        m_expectContinue = false;
        m_closeAfter = true;
    }
    captureResponseHeader();
    m_scanner.begin(status, m_nextJsRequest, response.count(http::field::content_encoding) > 0);
    // Told only by a quick tunnel, whose edge holds the stream back until it ends.
    if (m_inFlight && m_state->quickTunnel.load(std::memory_order_relaxed) &&
        isEventStream(response.base()))
        m_state->eventStreamAnswered();
    // With the body (or its first piece) at hand, header and body leave in one write.
    if (m_response->is_done() || m_originBuffer.size() > 0)
        return relayResponseBody();
    writeResponseHeader([this] { relayResponseBody(); });
}

// A replay has no visitor to tell: it goes on at once.
template <class Next> void ProxySession::writeResponseHeader(Next next) {
    if (m_replayId)
        return next();
    auto sent = [self = shared_from_this(), next](error_code ec, std::size_t) {
        if (ec)
            return self->fail();
        next();
    };
    if (m_responsePlain)
        send(m_client, *m_responseWriter, true, nullptr, 0, std::move(sent));
    else
        http::async_write_header(m_client, *m_responseWriter, std::move(sent));
}

// A message that is not chunked goes out as its head (until sent) and then its body's bytes as
// they came; a chunked one through its serializer, which frames each piece.
template <class Writer, class Handler>
void ProxySession::send(Socket& out, Writer& writer, bool response, const char* data,
                        std::size_t size, Handler&& sent) {
    if (!(response ? m_responsePlain : m_requestPlain))
        return http::async_write(out, writer, std::forward<Handler>(sent));
    std::string& head = response ? m_responseHead : m_requestHead;
    const std::array<asio::const_buffer, 2> pieces{asio::buffer(head),
                                                   asio::const_buffer(data, size)};
    asio::async_write(
        out, pieces,
        [&head, sent = std::forward<Handler>(sent)](error_code ec, std::size_t size) mutable {
            head.clear();
            sent(ec, size);
        });
}

void ProxySession::relayResponseBody() {
    relayBody(m_origin, m_originBuffer, *m_response, m_client, *m_responseWriter, true,
              &ProxySession::onResponseSent);
}

void ProxySession::onPiece(bool response, std::size_t size) {
    if (size == 0)
        return;
    if (response)
        m_scanner.feed(m_chunk.data(), size);
    else
        m_bodySent = true;
    if (!m_capture)
        return;
    QByteArray& capture = response ? m_exchange.responseBody : m_exchange.requestBody;
    (response ? m_exchange.responseBodySize : m_exchange.requestBodySize) += qint64(size);
    appendCapped(capture, m_chunk.data(), size);
}

template <class Parser, class Writer>
void ProxySession::relayBody(Socket& in, beast::flat_buffer& inBuffer, Parser& parser, Socket& out,
                             Writer& writer, bool response, void (ProxySession::*next)()) {
    auto written = [self = shared_from_this(), &in, &inBuffer, &parser, &out, &writer, response,
                    next](error_code ec, std::size_t) {
        if (ec == http::error::need_buffer)
            ec = {};
        if (ec && &out == &self->m_origin && self->canRetry())
            return self->retry();
        if (ec)
            return self->fail();
        if (parser.is_done())
            ((*self).*next)();
        else
            self->relayBody(in, inBuffer, parser, out, writer, response, next);
    };
    auto& body = parser.get().body();
    const bool toNobody = response && m_replayId;
    if (parser.is_done()) {
        body.data = nullptr;
        body.size = 0;
        body.more = false;
        const bool plain = response ? m_responsePlain : m_requestPlain;
        const std::string& head = response ? m_responseHead : m_requestHead;
        if ((plain ? head.empty() : writer.is_done()) || toNobody)
            return (this->*next)();
        return send(out, writer, response, nullptr, 0, std::move(written));
    }
    body.data = m_chunk.data();
    body.size = m_chunk.size();
    auto read = [self = shared_from_this(), &parser, &out, &writer, response,
                 written = std::move(written)](error_code ec) mutable {
        if (ec == http::error::need_buffer)
            ec = {};
        if (ec)
            return self->fail();
        auto& body = parser.get().body();
        const std::size_t got = self->m_chunk.size() - body.size;
        self->onPiece(response, got);
        if ((got == 0 && !parser.is_done()) || (response && self->m_replayId))
            return written({}, 0);
        // A null pointer, not an empty piece: an empty chunk would end a chunked body.
        body.data = got ? self->m_chunk.data() : nullptr;
        body.size = got;
        body.more = !parser.is_done();
        self->send(out, writer, response, self->m_chunk.data(), got, std::move(written));
    };
    // Bytes already read with the header (a small body often came whole) are parsed here: a
    // read through the socket's loop would only hand them back a turn later.
    if (inBuffer.size() > 0) {
        error_code ec;
        inBuffer.consume(parser.put(inBuffer.data(), ec));
        if (ec != http::error::need_more && (body.size < m_chunk.size() || parser.is_done() || ec))
            return read(ec);
    }
    // read_some hands over whatever arrived, so a stream of events is passed on as it comes.
    http::async_read_some(
        in, inBuffer, parser,
        [read = std::move(read)](error_code ec, std::size_t) mutable { read(ec); });
}

void ProxySession::onResponseSent() {
    endRequest();
    reportAnswer(m_response->get().result_int());
    emitExchange();
    const bool originKeeps = m_response->keep_alive() && !m_response->need_eof();
    if (!originKeeps) {
        error_code ignored;
        m_origin.close(ignored);
    }
    finish(originKeeps && !m_closeAfter && m_request->keep_alive());
}

bool ProxySession::admitted() {
    if (!m_state->guard || m_replayId)
        return true;
    auto& fields = m_request->get().base();
    // The password of a protected tunnel is never kept, whatever the answer.
    if (m_exchangeOpen && m_state->guard->isRequired())
        m_exchange.requestHeaders.removeIf([](const auto& field) {
            return field.first.compare("Authorization", Qt::CaseInsensitive) == 0;
        });
    const BasicAuthGuard::Decision decision = m_state->guard->check(fields);
    if (decision.verdict == BasicAuthGuard::Verdict::Allow) {
        if (decision.removeAuthorization)
            BasicAuthGuard::removeCredentials(fields);
        return true;
    }
    const unsigned status = decision.status();
    answerLocally(status, status == 429 ? "Too Many Requests" : "Unauthorized", decision.body,
                  decision.headers);
    return false;
}

void ProxySession::answerLocally(unsigned status, std::string_view reason, std::string body,
                                 const std::vector<std::pair<std::string, std::string>>& fields) {
    auto response = std::make_shared<http::response<http::string_body>>(http::status(status), 11);
    response->reason(boost::beast::string_view(reason.data(), reason.size()));
    response->set(http::field::content_type,
                  status == 502 ? "text/html; charset=utf-8" : "text/plain; charset=utf-8");
    for (const auto& [name, value] : fields)
        response->set(name, value);
    response->set(http::field::connection, "close");
    response->body() = std::move(body);
    response->prepare_payload();
    endRequest();
    if (m_exchangeOpen) {
        m_exchange.status = int(status);
        m_exchange.reason = bytesOf(response->reason());
        m_exchange.responseHeaders = headersOf(response->base());
        m_exchange.responseBody = QByteArray::fromStdString(response->body());
        m_exchange.responseBodySize = m_exchange.responseBody.size();
        emitExchange();
    }
    error_code ignored;
    m_origin.close(ignored);
    if (m_replayId)
        return;
    http::async_write(
        m_client, *response,
        [self = shared_from_this(), response](error_code, std::size_t) { self->finish(false); });
}

void ProxySession::relayUpgraded() {
    reportAnswer(101);
    if (m_replayId)
        return fail(); // captured with its 101; nobody to relay to
    const auto& response = m_response->get();
    if (m_exchangeOpen && beast::iequals(response[http::field::upgrade], "websocket")) {
        // The entry goes out first, so that its messages find it.
        m_upgradedId = m_exchange.id;
        const auto extensions = response[http::field::sec_websocket_extensions];
        const std::string_view agreed(extensions.data(), extensions.size());
        m_toServerFrames.emplace(WebSocketFrameReader::negotiated(agreed, true));
        m_toClientFrames.emplace(WebSocketFrameReader::negotiated(agreed, false));
    }
    emitExchange();
    m_pumpsLeft = 2;
    // Bytes read past either header already belong to the new protocol.
    auto forward = [self = shared_from_this()](beast::flat_buffer& early, Socket& from,
                                               Socket& to) {
        auto buffer = std::make_shared<std::vector<char>>(chunkSize);
        asio::async_write(to, early.data(),
                          [self, &early, &from, &to, buffer](error_code ec, std::size_t) {
                              if (ec)
                                  return self->fail();
                              early.consume(early.size());
                              self->pump(from, to, buffer);
                          });
        const auto bytes = early.data();
        self->tap(&from == &self->m_client, static_cast<const char*>(bytes.data()), bytes.size());
    };
    forward(m_originBuffer, m_origin, m_client);
    forward(m_clientBuffer, m_client, m_origin);
}

void ProxySession::pump(Socket& from, Socket& to, std::shared_ptr<std::vector<char>> buffer) {
    from.async_read_some(asio::buffer(*buffer), [self = shared_from_this(), &from, &to,
                                                 buffer](error_code ec, std::size_t size) {
        if (ec) {
            // One direction ended: let the other side see it, keep the other direction.
            error_code ignored;
            to.shutdown(Socket::shutdown_send, ignored);
            if (--self->m_pumpsLeft == 0)
                self->fail();
            return;
        }
        asio::async_write(to, asio::buffer(buffer->data(), size),
                          [self, &from, &to, buffer](error_code ec, std::size_t) {
                              if (ec)
                                  return self->fail();
                              self->pump(from, to, buffer);
                          });
        // Read while the write is under way: the bytes leave as they came, when they came.
        self->tap(&from == &self->m_client, buffer->data(), size);
    });
}

void ProxySession::tap(bool toServer, const char* data, std::size_t size) {
    auto& reader = toServer ? m_toServerFrames : m_toClientFrames;
    if (!reader || size == 0)
        return;
    // Switched off, or lost track of the frames: this connection is read no further.
    if (!m_state->capture.load(std::memory_order_relaxed) || reader->lost())
        return reader.reset();
    QList<WebSocketMessage> done;
    reader->feed(data, size, done);
    if (done.isEmpty())
        return;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (WebSocketMessage& message : done) {
        message.exchangeId = m_upgradedId;
        message.time = now;
        message.toServer = toServer;
        m_state->message(std::move(message));
    }
}

void ProxySession::endRequest() {
    m_waitingSince = {};
    if (std::exchange(m_inFlight, false))
        m_state->requestEnded();
}

void ProxySession::finish(bool keepAlive) {
    if (m_replayId) {
        error_code ignored;
        m_origin.close(ignored);
        return;
    }
    if (keepAlive)
        return readRequestHeader();
    // Closing with unread input would reset the connection and could lose the answer on its
    // way: say goodbye, then read what still comes until the client closes, for a while.
    error_code ignored;
    m_client.shutdown(Socket::shutdown_send, ignored);
    m_linger.expires_after(std::chrono::seconds(5));
    m_linger.async_wait([self = shared_from_this()](error_code ec) {
        if (!ec)
            self->fail();
    });
    drain();
}

void ProxySession::drain() {
    m_client.async_read_some(asio::buffer(m_chunk),
                             [self = shared_from_this()](error_code ec, std::size_t) {
                                 if (ec)
                                     return self->fail();
                                 self->drain();
                             });
}

void ProxySession::fail() {
    endRequest();
    if (m_exchangeOpen)
        emitExchange();
    error_code ignored;
    m_client.close(ignored);
    m_origin.close(ignored);
    m_linger.cancel();
}

// A refusal stays told until a request of the kind that check looks at passes.
void ProxySession::reportAnswer(unsigned status) {
    m_state->setAnswers(true);
    const HostCheck told = m_state->status.refusal;
    if (m_scanner.result() != HostCheck::None)
        m_state->setRefusal(m_scanner.result());
    else if (status < 400 && (told != HostCheck::Next || m_nextJsRequest))
        m_state->setRefusal(HostCheck::None);
}

void ProxySession::captureResponseHeader() {
    if (!m_capture)
        return;
    const auto& response = m_response->get();
    m_exchange.status = int(response.result_int());
    thread_local QByteArray reason;
    m_exchange.reason = reused(reason, response.reason());
    m_exchange.responseHeaders = headersOf(response.base());
    m_exchange.firstByteUs = std::chrono::duration_cast<std::chrono::microseconds>(
                                 std::chrono::steady_clock::now() - m_started)
                                 .count();
}

void ProxySession::emitExchange() {
    if (!m_exchangeOpen)
        return;
    m_exchangeOpen = false;
    m_exchange.durationUs = std::chrono::duration_cast<std::chrono::microseconds>(
                                std::chrono::steady_clock::now() - m_started)
                                .count();
    m_state->exchange(std::move(m_exchange));
    m_exchange = HttpExchange{};
}
