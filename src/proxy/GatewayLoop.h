#pragma once

#include <boost/asio/io_context.hpp>
#include <cstddef>

// The I/O threads every gateway runs on: one per core, at most two, each with its own context,
// so that a connection's handlers always run on one thread. Started together at first use;
// they sleep in the kernel while no socket has anything to do, so an idle app has no periodic
// wake-up.
namespace GatewayLoop {

std::size_t count();
boost::asio::io_context& context(std::size_t index = 0);

} // namespace GatewayLoop
