#include "proxy/ProxyServer.h"

#include "proxy/GatewayLoop.h"
#include "proxy/ProxySession.h"

#include <boost/asio/post.hpp>
#include <future>

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

void accept(const std::shared_ptr<GatewayState>& state) {
    state->acceptor->async_accept(
        [state](boost::system::error_code ec, GatewayLoop::Socket socket) {
            if (state->stopped || ec == asio::error::operation_aborted)
                return;
            if (!ec) {
                boost::system::error_code ignored;
                socket.set_option(tcp::no_delay(true), ignored);
                std::make_shared<ProxySession>(std::move(socket), state)->start();
            }
            accept(state);
        });
}

} // namespace

ProxyServer::ProxyServer(ExchangeHandler onExchange, StatusHandler onStatus,
                         MessageHandler onMessage)
    : m_onExchange(std::move(onExchange))
    , m_onStatus(std::move(onStatus))
    , m_onMessage(std::move(onMessage)) {}

ProxyServer::~ProxyServer() {
    stop();
}

bool ProxyServer::start(quint16 originPort, QString* error) {
    stop();
    // Made afresh at every start, so that nothing of an earlier run can resume.
    auto state = std::make_shared<GatewayState>();
    state->onExchange = m_onExchange;
    state->onStatus = m_onStatus;
    state->onMessage = m_onMessage;
    state->capture = m_capture;
    state->guard = m_guard;
    state->rewriteHost = m_rewriteHost;
    state->quickTunnel = m_quickTunnel;
    state->ids = m_ids;
    state->limits = m_limits;
    state->port = originPort;
    state->acceptor.emplace(GatewayLoop::context());
    boost::system::error_code ec;
    const tcp::endpoint local(asio::ip::address_v4::loopback(), 0);
    state->acceptor->open(local.protocol(), ec);
    if (!ec)
        state->acceptor->bind(local, ec);
    if (!ec)
        state->acceptor->listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        if (error)
            *error = QString::fromStdString(ec.message());
        return false;
    }
    m_port = state->acceptor->local_endpoint().port();
    m_originPort = originPort;
    m_state = state;
    asio::post(GatewayLoop::context(), [state] { accept(state); });
    return true;
}

void ProxyServer::stop() {
    if (!m_state)
        return;
    m_requests = requests();
    m_lastRequestMs = lastRequestMs();
    std::promise<void> done;
    asio::post(GatewayLoop::context(), [state = m_state, &done] {
        state->close();
        state->acceptor.reset();
        for (ProxySession* session : state->sessions)
            session->close();
        done.set_value();
    });
    done.get_future().wait();
    m_state.reset();
    m_port = 0;
}

void ProxyServer::setOriginPort(quint16 port) {
    m_originPort = port;
    if (m_state)
        m_state->port = port;
}

void ProxyServer::setCapture(bool on) {
    m_capture = on;
    if (m_state)
        m_state->capture = on;
}

void ProxyServer::setRewriteHost(bool on) {
    m_rewriteHost = on;
    if (m_state)
        m_state->rewriteHost = on;
}

void ProxyServer::setQuickTunnel(bool on) {
    m_quickTunnel = on;
    if (!m_state)
        return;
    m_state->quickTunnel = on;
    if (!on)
        asio::post(GatewayLoop::context(), [state = m_state] { state->forgetEventStream(); });
}

void ProxyServer::forgetRefusal() {
    if (m_state)
        asio::post(GatewayLoop::context(),
                   [state = m_state] { state->status.refusal = HostCheck::None; });
}

quint64 ProxyServer::requests() const {
    return m_state ? m_requests + m_state->requests.load(std::memory_order_relaxed) : m_requests;
}

qint64 ProxyServer::lastRequestMs() const {
    const qint64 current = m_state ? m_state->lastRequestMs.load(std::memory_order_relaxed) : 0;
    return current ? current : m_lastRequestMs;
}

quint64 ProxyServer::replay(const HttpExchange& exchange) {
    if (!m_state)
        return 0;
    const quint64 id = m_state->nextId();
    asio::post(GatewayLoop::context(), [state = m_state, exchange, id] {
        if (!state->stopped)
            std::make_shared<ProxySession>(GatewayLoop::Socket(GatewayLoop::context()), state)
                ->replay(exchange, id);
    });
    return id;
}
