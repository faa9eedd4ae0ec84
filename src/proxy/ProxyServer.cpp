#include "proxy/ProxyServer.h"

#include "proxy/ProxySession.h"
#include "proxy/ReplayClient.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <thread>

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

struct ProxyServer::Impl {
    // Made afresh at every start, so that nothing of an earlier run can resume.
    std::unique_ptr<asio::io_context> io;
    std::optional<tcp::acceptor> acceptor;
    std::thread thread;
    ProxyOrigin origin;
    quint16 port = 0;

    void accept() {
        acceptor->async_accept([this](boost::system::error_code ec, tcp::socket socket) {
            if (ec == asio::error::operation_aborted || !acceptor->is_open())
                return;
            if (!ec) {
                boost::system::error_code ignored;
                socket.set_option(tcp::no_delay(true), ignored);
                std::make_shared<ProxySession>(std::move(socket), origin)->start();
            }
            accept();
        });
    }
};

ProxyServer::ProxyServer(ExchangeHandler onExchange)
    : d(std::make_unique<Impl>()) {
    d->origin.onExchange = std::move(onExchange);
}

ProxyServer::~ProxyServer() {
    stop();
}

bool ProxyServer::start(const QString& originHost, quint16 originPort, QString* error) {
    stop();
    boost::system::error_code ec;
    const auto address = asio::ip::make_address(originHost.toStdString(), ec);
    if (ec) {
        if (error)
            *error = QString::fromStdString(ec.message());
        return false;
    }
    d->origin.endpoint = tcp::endpoint(address, originPort);
    d->io = std::make_unique<asio::io_context>(1);
    d->acceptor.emplace(*d->io);
    const tcp::endpoint local(asio::ip::address_v4::loopback(), 0);
    d->acceptor->open(local.protocol(), ec);
    if (!ec)
        d->acceptor->bind(local, ec);
    if (!ec)
        d->acceptor->listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        if (error)
            *error = QString::fromStdString(ec.message());
        d->acceptor.reset();
        d->io.reset();
        return false;
    }
    d->port = d->acceptor->local_endpoint().port();
    d->accept();
    d->thread = std::thread([io = d->io.get()] { io->run(); });
    return true;
}

void ProxyServer::stop() {
    if (!d->io)
        return;
    d->io->stop();
    if (d->thread.joinable())
        d->thread.join();
    d->acceptor.reset();
    d->io.reset(); // drops every connection with the handlers that held it
    d->port = 0;
}

bool ProxyServer::isListening() const {
    return d->io != nullptr;
}

quint16 ProxyServer::port() const {
    return d->port;
}

void ProxyServer::replay(const HttpExchange& exchange) {
    if (!d->io)
        return;
    asio::post(*d->io, [impl = d.get(), exchange] {
        std::make_shared<ReplayClient>(tcp::socket(*impl->io), impl->origin, exchange)->start();
    });
}
