// The inspecting proxy under load: a small keep-alive origin and the proxy in front of it,
// with the captures going through the GUI thread's batches into a request log, as in the app.
// Prints "origin <port> proxy <port>" and runs until its standard input closes; a load
// generator (bench/proxy/run.sh runs wrk) then compares the two ports. With a port as argument
// the proxy forwards to that server instead; CAPTURE=0 turns capturing off.
#include "model/RequestLog.h"
#include "proxy/Gateway.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <cstdio>
#include <memory>
#include <string_view>
#include <thread>
#include <unistd.h>

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

constexpr std::string_view response = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n"
                                      "Content-Length: 13\r\n\r\nhello, world\n";

// Answers every request header it reads (wrk sends GETs without bodies), on one thread.
class Connection : public std::enable_shared_from_this<Connection> {
public:
    explicit Connection(tcp::socket socket)
        : m_socket(std::move(socket)) {}
    void read() {
        m_socket.async_read_some(
            asio::buffer(m_buffer), [self = shared_from_this()](auto ec, std::size_t size) {
                if (ec)
                    return;
                self->m_seen.append(self->m_buffer, size);
                std::size_t answers = 0, at;
                while ((at = self->m_seen.find("\r\n\r\n")) != std::string::npos) {
                    self->m_seen.erase(0, at + 4);
                    ++answers;
                }
                self->m_out.clear();
                for (std::size_t i = 0; i < answers; ++i)
                    self->m_out.append(response);
                asio::async_write(self->m_socket, asio::buffer(self->m_out),
                                  [self](auto ec, std::size_t) {
                                      if (!ec)
                                          self->read();
                                  });
            });
    }

private:
    tcp::socket m_socket;
    char m_buffer[16384];
    std::string m_seen, m_out;
};

void accept(tcp::acceptor& acceptor) {
    acceptor.async_accept([&acceptor](auto ec, tcp::socket socket) {
        if (!ec) {
            socket.set_option(tcp::no_delay(true));
            std::make_shared<Connection>(std::move(socket))->read();
        }
        accept(acceptor);
    });
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    asio::io_context io;
    tcp::acceptor acceptor(io, tcp::endpoint(asio::ip::address_v4::loopback(), 0));
    accept(acceptor);
    std::thread origin([&io] { io.run(); });

    const quint16 originPort =
        argc > 1 ? quint16(QByteArray(argv[1]).toUInt()) : acceptor.local_endpoint().port();
    RequestLog log;
    Gateway proxy;
    QObject::connect(&proxy, &Gateway::exchangesCaptured, &log, &RequestLog::append);
    // CAPTURE=0: the gateway as it runs with inspection off (counts only).
    proxy.setCapture(qEnvironmentVariable("CAPTURE") != QLatin1String("0"));
    if (!proxy.start(originPort))
        return 1;
    std::printf("origin %u proxy %u\n", unsigned(originPort), unsigned(proxy.port()));
    std::fflush(stdout);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char byte;
        if (::read(STDIN_FILENO, &byte, 1) <= 0)
            app.quit();
    });
    const int status = app.exec();
    proxy.stop();
    io.stop();
    origin.join();
    return status;
}
