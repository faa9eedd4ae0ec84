#pragma once

#include <boost/beast/http/fields.hpp>
#include <cstdint>
#include <string>
#include <string_view>

// The header rules that let a dev server see a request through the tunnel as if it had been
// opened at http://localhost:PORT, and send its visitor back to the public name. Each rule
// touches only what names the public host or the local server; nothing is added.
namespace HostRewrite {

// Host becomes localhost:PORT; Origin and Referer naming the public host (the Host as it
// arrived, handed back in `publicHost`) become http://localhost:PORT, Referer keeping its path.
void request(boost::beast::http::fields& fields, std::uint16_t port, std::string& publicHost);

// Location and Content-Location naming the local server (localhost, 127.0.0.1 or [::1] on
// PORT, plain http) become https://PUBLICHOST with the same path.
void response(boost::beast::http::fields& fields, std::uint16_t port, std::string_view publicHost);

} // namespace HostRewrite
