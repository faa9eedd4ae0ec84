#include "proxy/GatewayLoop.h"

#include <algorithm>
#include <boost/asio/executor_work_guard.hpp>
#include <memory>
#include <thread>
#include <vector>

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

// More threads than two cost memory and switches for no gain: a tunnel's traffic is what one
// browser and one dev server make.
std::vector<std::unique_ptr<Loop>>& loops() {
    static std::vector<std::unique_ptr<Loop>> all = [] {
        std::vector<std::unique_ptr<Loop>> made(
            std::clamp(std::thread::hardware_concurrency(), 1u, 2u));
        for (auto& loop : made)
            loop = std::make_unique<Loop>();
        return made;
    }();
    return all;
}

} // namespace

namespace GatewayLoop {

std::size_t count() {
    return loops().size();
}

boost::asio::io_context& context(std::size_t index) {
    return loops()[index]->io;
}

} // namespace GatewayLoop
