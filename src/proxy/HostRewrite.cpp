#include "proxy/HostRewrite.h"

#include <boost/beast/core/string.hpp>

namespace http = boost::beast::http;

namespace {

std::string_view viewOf(boost::beast::string_view text) {
    return {text.data(), text.size()};
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           boost::beast::iequals(boost::beast::string_view(text.data(), prefix.size()),
                                 boost::beast::string_view(prefix.data(), prefix.size()));
}

// What follows `prefix` in `url` when the URL starts with it and the authority ends there.
bool stripPrefix(std::string_view url, std::string_view prefix, std::string_view* rest) {
    if (!startsWithNoCase(url, prefix))
        return false;
    *rest = url.substr(prefix.size());
    return rest->empty() || rest->front() == '/' || rest->front() == '?' || rest->front() == '#';
}

bool namesPublicHost(std::string_view url, std::string_view publicHost, std::string_view* rest) {
    for (std::string_view scheme : {std::string_view("https://"), std::string_view("http://")}) {
        if (startsWithNoCase(url, scheme) &&
            stripPrefix(url.substr(scheme.size()), publicHost, rest))
            return true;
    }
    return false;
}

} // namespace

namespace HostRewrite {

void request(http::fields& fields, std::uint16_t port, std::string& publicHost) {
    publicHost.assign(viewOf(fields[http::field::host]));
    const std::string local = "localhost:" + std::to_string(port);
    fields.set(http::field::host, local);
    if (publicHost.empty())
        return;
    std::string_view rest;
    // A bare origin: anything after the authority means it is not ours.
    const auto origin = fields.find(http::field::origin);
    if (origin != fields.end() && namesPublicHost(viewOf(origin->value()), publicHost, &rest) &&
        rest.empty())
        fields.set(http::field::origin, "http://" + local);
    const auto referer = fields.find(http::field::referer);
    if (referer != fields.end() && namesPublicHost(viewOf(referer->value()), publicHost, &rest))
        fields.set(http::field::referer, "http://" + local + std::string(rest));
}

void response(http::fields& fields, std::uint16_t port, std::string_view publicHost) {
    if (publicHost.empty())
        return;
    const std::string portText = std::to_string(port);
    for (const http::field name : {http::field::location, http::field::content_location}) {
        const auto found = fields.find(name);
        if (found == fields.end())
            continue;
        const std::string_view value = viewOf(found->value());
        std::string_view rest;
        for (std::string_view host : {"localhost", "127.0.0.1", "[::1]"}) {
            const std::string prefix = "http://" + std::string(host) + ':' + portText;
            if (stripPrefix(value, prefix, &rest)) {
                fields.set(name, "https://" + std::string(publicHost) + std::string(rest));
                break;
            }
        }
    }
}

} // namespace HostRewrite
