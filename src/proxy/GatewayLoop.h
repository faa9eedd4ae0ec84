#pragma once

#include <boost/asio/io_context.hpp>

// The one I/O thread every gateway runs on. Started at first use; it sleeps in the kernel
// while no socket has anything to do, so an idle app has no periodic wake-up.
namespace GatewayLoop {

boost::asio::io_context& context();

} // namespace GatewayLoop
