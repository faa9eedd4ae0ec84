#pragma once

#include <boost/beast/http/message.hpp>
#include <string>

// A message's start line and header fields as they go out on the wire, byte for byte what
// Beast's serializer writes, into a string whose room is kept from one message to the next.
// A body that is not chunked follows its head unchanged, so such a message needs no serializer.
namespace MessageHead {

void write(const boost::beast::http::request_header<>& head, std::string& out);
void write(const boost::beast::http::response_header<>& head, std::string& out);

} // namespace MessageHead
