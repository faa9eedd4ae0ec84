#include "proxy/GatewayLoop.h"

#include <boost/asio/executor_work_guard.hpp>
#include <thread>

namespace {

struct Loop {
    boost::asio::io_context io{1};
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work{
        io.get_executor()};
    std::thread thread{[this] { io.run(); }};

    ~Loop() {
        work.reset();
        io.stop();
        thread.join();
    }
};

} // namespace

namespace GatewayLoop {

boost::asio::io_context& context() {
    static Loop loop;
    return loop.io;
}

} // namespace GatewayLoop
