#include "proxy/BasicAuthGuard.h"

#include <QByteArray>
#include <QCryptographicHash>

namespace http = boost::beast::http;
using std::chrono::steady_clock;

namespace {

constexpr std::string_view unauthorizedPage =
    "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Password required</title>"
    "</head><body><h1>Password required</h1><p>This tunnel asks for a user name and password."
    "</p></body></html>\n";
constexpr std::string_view tooManyPage =
    "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Too many attempts</title>"
    "</head><body><h1>Too many attempts</h1><p>Wait a minute before trying again.</p>"
    "</body></html>\n";

// What an Authorization value offers: Basic credentials or not, and when they are, whether they
// decode to "user:password".
struct Offered {
    bool basic = false;
    bool wellFormed = false;
    QByteArray pair;
};

Offered basicCredentials(std::string_view authorization) {
    constexpr std::string_view scheme = "basic";
    if (authorization.size() < scheme.size())
        return {};
    for (std::size_t i = 0; i < scheme.size(); ++i)
        if ((authorization[i] | 0x20) != scheme[i])
            return {};
    std::string_view rest = authorization.substr(scheme.size());
    if (!rest.empty() && rest.front() != ' ')
        return {}; // "Basicx": another scheme
    while (!rest.empty() && rest.front() == ' ')
        rest.remove_prefix(1);
    const auto decoded = QByteArray::fromBase64Encoding(
        QByteArray(rest.data(), qsizetype(rest.size())), QByteArray::AbortOnBase64DecodingErrors);
    if (rest.empty() || !decoded || !decoded.decoded.contains(':'))
        return {true, false, {}};
    return {true, true, decoded.decoded};
}

} // namespace

unsigned BasicAuthGuard::Decision::status() const {
    switch (verdict) {
    case Verdict::Unauthorized:
        return 401;
    case Verdict::TooManyRequests:
        return 429;
    case Verdict::Allow:
        break;
    }
    return 200;
}

BasicAuthGuard::BasicAuthGuard(Clock clock)
    : m_clock(std::move(clock))
    , m_realm("Quillby") {}

void BasicAuthGuard::allowEveryone() {
    const std::lock_guard lock(m_mutex);
    m_required = false;
    m_hasPassword = false;
    m_expected.fill(0);
}

void BasicAuthGuard::requireCredentials(std::string_view user, std::string_view password) {
    std::string pair;
    pair.append(user).append(":").append(password);
    const Digest expected = digest(pair);
    std::fill(pair.begin(), pair.end(), '\0');
    const std::lock_guard lock(m_mutex);
    m_required = true;
    m_hasPassword = !password.empty();
    m_expected = expected;
}

void BasicAuthGuard::setRealm(std::string_view realm) {
    const std::lock_guard lock(m_mutex);
    m_realm = realm;
}

bool BasicAuthGuard::isRequired() const {
    const std::lock_guard lock(m_mutex);
    return m_required;
}

BasicAuthGuard::Digest BasicAuthGuard::digest(std::string_view text) {
    const QByteArray hash = QCryptographicHash::hash(
        QByteArrayView(text.data(), qsizetype(text.size())), QCryptographicHash::Sha256);
    Digest result{};
    std::copy(hash.begin(), hash.end(), result.begin());
    return result;
}

BasicAuthGuard::Decision BasicAuthGuard::check(std::string_view authorization,
                                               std::string_view visitorAddress) {
    // Decoded and hashed before the lock is taken; the comparison itself looks at every byte of
    // both digests whatever they hold, so its time tells nothing about the password.
    const Offered offered = basicCredentials(authorization);
    const Digest presented =
        digest(std::string_view(offered.pair.constData(), std::size_t(offered.pair.size())));

    const std::lock_guard lock(m_mutex);
    if (!m_required)
        return {};
    const steady_clock::time_point now = m_clock();
    const std::string key(visitorAddress);
    if (const auto found = m_visitors.find(key);
        found != m_visitors.end() && found->second.lockedUntil > now)
        return refuse(Verdict::TooManyRequests,
                      std::chrono::ceil<std::chrono::seconds>(found->second.lockedUntil - now));
    if (!offered.basic)
        return refuse(Verdict::Unauthorized);

    unsigned char difference = 0;
    for (std::size_t i = 0; i < presented.size(); ++i)
        difference |= presented[i] ^ m_expected[i];
    if (difference == 0 && offered.wellFormed && m_hasPassword) {
        Decision allowed;
        allowed.removeAuthorization = true;
        return allowed;
    }
    fail(visitor(key), now);
    return refuse(Verdict::Unauthorized);
}

BasicAuthGuard::Decision BasicAuthGuard::check(const http::fields& header) {
    auto view = [](boost::beast::string_view text) {
        return std::string_view(text.data(), text.size());
    };
    std::string_view authorization;
    if (header.count(http::field::authorization) == 1)
        authorization = view(header[http::field::authorization]);
    return check(authorization, view(header["Cf-Connecting-Ip"]));
}

void BasicAuthGuard::removeCredentials(http::fields& header) {
    header.erase(http::field::authorization);
}

std::string BasicAuthGuard::quoted(std::string_view text) {
    std::string result = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            continue; // never a line break into a header
        if (c == '"' || c == '\\')
            result += '\\';
        result += c;
    }
    return result + '"';
}

BasicAuthGuard::Decision BasicAuthGuard::refuse(Verdict verdict,
                                                std::chrono::seconds retryAfter) const {
    Decision decision;
    decision.verdict = verdict;
    if (verdict == Verdict::Unauthorized) {
        decision.headers.emplace_back("WWW-Authenticate",
                                      "Basic realm=" + quoted(m_realm) + ", charset=\"UTF-8\"");
        decision.body = unauthorizedPage;
    } else {
        decision.headers.emplace_back("Retry-After", std::to_string(retryAfter.count()));
        decision.body = tooManyPage;
    }
    decision.headers.emplace_back("Content-Type", "text/html; charset=utf-8");
    decision.headers.emplace_back("Cache-Control", "no-store");
    return decision;
}

void BasicAuthGuard::fail(Visitor& visitor, steady_clock::time_point now) {
    auto& failures = visitor.failures;
    failures.push_back(now);
    if (failures.size() > std::size_t(maxFailures))
        failures.erase(failures.begin());
    if (failures.size() == std::size_t(maxFailures) && now - failures.front() < failureWindow) {
        visitor.lockedUntil = now + lockout;
        failures.clear();
    }
}

BasicAuthGuard::Visitor& BasicAuthGuard::visitor(const std::string& key) {
    if (auto found = m_visitors.find(key); found != m_visitors.end()) {
        m_order.splice(m_order.end(), m_order, found->second.order);
        return found->second;
    }
    if (m_visitors.size() >= maxVisitors) {
        m_visitors.erase(m_order.front());
        m_order.pop_front();
    }
    m_order.push_back(key);
    Visitor& added = m_visitors[key];
    added.order = std::prev(m_order.end());
    return added;
}
