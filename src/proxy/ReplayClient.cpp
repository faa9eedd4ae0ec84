#include "proxy/ReplayClient.h"

#include "proxy/HostRewrite.h"

#include <boost/beast/core/string.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>
#include <limits>

namespace beast = boost::beast;
namespace http = beast::http;

namespace {

beast::string_view viewOf(const QByteArray& bytes) {
    return beast::string_view(bytes.constData(), std::size_t(bytes.size()));
}

} // namespace

ReplayClient::ReplayClient(tcp::socket socket, std::shared_ptr<GatewayState> state,
                           const HttpExchange& captured)
    : m_socket(std::move(socket))
    , m_state(std::move(state))
    , m_port(m_state->port.load())
    , m_ipv6(m_state->ipv6First)
    , m_chunk(ProxySession::chunkSize) {
    m_request.method_string(viewOf(captured.method));
    m_request.target(viewOf(captured.target));
    m_request.version(11);
    // The body goes out whole now, so its length replaces whatever framing it came with.
    const std::string length = std::to_string(captured.requestBody.size());
    bool hasLength = false;
    for (const auto& [name, value] : captured.requestHeaders) {
        const bool framing = beast::iequals(viewOf(name), "content-length") ||
                             beast::iequals(viewOf(name), "transfer-encoding");
        if (!framing)
            m_request.insert(viewOf(name), viewOf(value));
        else if (!hasLength)
            m_request.insert(http::field::content_length, length);
        hasLength = hasLength || framing;
    }
    if (!hasLength && !captured.requestBody.isEmpty())
        m_request.set(http::field::content_length, length);
    m_request.body() = captured.requestBody.toStdString();
    if (m_state->rewriteHost) {
        std::string publicHost;
        HostRewrite::request(m_request.base(), m_port, publicHost);
    }

    m_exchange = captured;
    m_exchange.id = m_state->nextId++;
    m_exchange.replayed = true; // edited stays as the inspector set it
    m_exchange.requestBodySize = captured.requestBody.size();
    m_exchange.status = 0;
    m_exchange.reason.clear();
    m_exchange.responseHeaders.clear();
    m_exchange.responseBody.clear();
    m_exchange.responseBodySize = 0;
    m_exchange.firstByteUs = 0;
    m_exchange.originRefused = false;
    m_response.body_limit(std::numeric_limits<std::uint64_t>::max());
    m_response.header_limit(16 * ProxySession::headerLimit);
    if (m_request.method() == http::verb::head)
        m_response.skip(true);
}

void ReplayClient::start() {
    m_started = std::chrono::steady_clock::now();
    m_exchange.time = QDateTime::currentDateTimeUtc();
    m_socket.async_connect(
        GatewayState::endpoint(m_ipv6, m_port), [self = shared_from_this()](error_code ec) {
            if (ec) {
                self->m_exchange.originRefused = true;
                return self->done();
            }
            http::async_write(self->m_socket, self->m_request, [self](error_code ec, std::size_t) {
                if (ec)
                    return self->done();
                http::async_read_header(
                    self->m_socket, self->m_buffer, self->m_response,
                    [self](error_code ec, std::size_t) {
                        if (ec)
                            return self->done();
                        const auto& response = self->m_response.get();
                        self->m_exchange.firstByteUs =
                            std::chrono::duration_cast<std::chrono::microseconds>(
                                std::chrono::steady_clock::now() - self->m_started)
                                .count();
                        self->m_exchange.status = int(response.result_int());
                        self->m_exchange.reason = QByteArray(response.reason().data(),
                                                             qsizetype(response.reason().size()));
                        for (const auto& field : response.base())
                            self->m_exchange.responseHeaders.append(
                                {QByteArray::fromStdString(std::string(field.name_string())),
                                 QByteArray::fromStdString(std::string(field.value()))});
                        self->readBody();
                    });
            });
        });
}

void ReplayClient::readBody() {
    if (m_response.is_done())
        return done();
    auto& body = m_response.get().body();
    body.data = m_chunk.data();
    body.size = m_chunk.size();
    http::async_read_some(
        m_socket, m_buffer, m_response, [self = shared_from_this()](error_code ec, std::size_t) {
            if (ec == http::error::need_buffer)
                ec = {};
            const std::size_t got = self->m_chunk.size() - self->m_response.get().body().size;
            const qsizetype room =
                HttpExchange::bodyCaptureLimit - self->m_exchange.responseBody.size();
            if (room > 0)
                self->m_exchange.responseBody.append(self->m_chunk.data(),
                                                     std::min(room, qsizetype(got)));
            self->m_exchange.responseBodySize += qint64(got);
            if (ec)
                return self->done();
            self->readBody();
        });
}

void ReplayClient::done() {
    error_code ignored;
    m_socket.close(ignored);
    m_exchange.durationUs = std::chrono::duration_cast<std::chrono::microseconds>(
                                std::chrono::steady_clock::now() - m_started)
                                .count();
    m_state->exchange(std::move(m_exchange));
}
