#pragma once

#include <boost/asio/basic_socket_acceptor.hpp>
#include <boost/asio/basic_stream_socket.hpp>
#include <boost/asio/basic_waitable_timer.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <chrono>

// The one I/O thread every gateway runs on. Started at first use; it sleeps in the kernel
// while no socket has anything to do, so an idle app has no periodic wake-up.
namespace GatewayLoop {

boost::asio::io_context& context();

// The gateway's sockets and timers name the loop's executor type instead of the default
// type-erased one, which costs a copy, a destroy and a virtual call at every operation.
using Executor = boost::asio::io_context::executor_type;
using Socket = boost::asio::basic_stream_socket<boost::asio::ip::tcp, Executor>;
using Acceptor = boost::asio::basic_socket_acceptor<boost::asio::ip::tcp, Executor>;
using Timer = boost::asio::basic_waitable_timer<
    std::chrono::steady_clock, boost::asio::wait_traits<std::chrono::steady_clock>, Executor>;

} // namespace GatewayLoop
