#include "proxy/MessageHead.h"

namespace http = boost::beast::http;

namespace {

void appendVersion(std::string& out, unsigned version) {
    out += "HTTP/";
    out += char('0' + version / 10);
    out += '.';
    out += char('0' + version % 10);
}

void appendFields(std::string& out, const http::fields& fields) {
    for (const auto& field : fields) {
        const auto name = field.name_string();
        const auto value = field.value();
        out.append(name.data(), name.size()).append(": ").append(value.data(), value.size());
        out += "\r\n";
    }
    out += "\r\n";
}

} // namespace

namespace MessageHead {

void write(const http::request_header<>& head, std::string& out) {
    const auto method = head.method_string();
    const auto target = head.target();
    out.assign(method.data(), method.size()).append(" ").append(target.data(), target.size());
    out += ' ';
    appendVersion(out, head.version());
    out += "\r\n";
    appendFields(out, head);
}

void write(const http::response_header<>& head, std::string& out) {
    out.clear();
    appendVersion(out, head.version());
    const unsigned status = head.result_int();
    out += ' ';
    out += char('0' + status / 100);
    out += char('0' + status / 10 % 10);
    out += char('0' + status % 10);
    out += ' ';
    const auto reason = head.reason();
    out.append(reason.data(), reason.size()).append("\r\n");
    appendFields(out, head);
}

} // namespace MessageHead
