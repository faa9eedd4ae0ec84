#pragma once

#include <array>
#include <boost/beast/http/fields.hpp>
#include <chrono>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

// Decides, per request, whether a visitor may pass a protected tunnel: HTTP Basic credentials
// against the tunnel's user and password, and a lockout for visitors who keep guessing. Has no
// widgets and no event loop; every member may be called from any thread (the gateway's I/O
// thread asks per request, the GUI thread changes the password).
//
// Contract for the caller:
// - Answer Unauthorized and TooManyRequests with decision.status(), decision.headers and
//   decision.body, and forward nothing.
// - When decision.removeAuthorization is set, remove the Authorization header (removeCredentials)
//   before the request goes on: it carried our password, which the local server must never see.
// - Never capture, log or show the Authorization header of a protected tunnel's request.
//
// A visitor is the address the tunnel network reports in Cf-Connecting-Ip; requests without it
// count as one visitor. Only wrong Basic credentials count as failures: a first request without
// any is how every browser begins.
class BasicAuthGuard {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // After this many failures within failureWindow, a visitor gets 429 for lockout.
    static constexpr int maxFailures = 10;
    static constexpr std::chrono::seconds failureWindow{60};
    static constexpr std::chrono::seconds lockout{60};
    // Visitors remembered at most; the one seen least recently makes room.
    static constexpr std::size_t maxVisitors = 4096;

    enum class Verdict { Allow, Unauthorized, TooManyRequests };
    struct Decision {
        Verdict verdict = Verdict::Allow;
        bool removeAuthorization = false;
        // For a refusal: WWW-Authenticate or Retry-After, Content-Type, Cache-Control.
        std::vector<std::pair<std::string, std::string>> headers;
        std::string body;

        unsigned status() const;
    };

    explicit BasicAuthGuard(Clock clock = &std::chrono::steady_clock::now);

    // Off (the start): every request passes and its Authorization header goes on untouched.
    void allowEveryone();
    // On: only these credentials pass. An empty password lets nobody pass (a tunnel whose
    // password is gone while its child still stops).
    void requireCredentials(std::string_view user, std::string_view password);
    // Shown by browsers in their password prompt: the tunnel's name.
    void setRealm(std::string_view realm);
    bool isRequired() const;

    Decision check(std::string_view authorization, std::string_view visitor);
    // Reads Authorization and Cf-Connecting-Ip; a request with two Authorization headers has
    // none that counts.
    Decision check(const boost::beast::http::fields& header);

    // Removes every Authorization header.
    static void removeCredentials(boost::beast::http::fields& header);

    // The realm as a quoted-string: quotes and backslashes escaped, control characters dropped.
    static std::string quoted(std::string_view text);

private:
    using Digest = std::array<unsigned char, 32>;
    struct Visitor {
        std::vector<std::chrono::steady_clock::time_point> failures; // the last maxFailures
        std::chrono::steady_clock::time_point lockedUntil{};
        std::list<std::string>::iterator order;
    };

    static Digest digest(std::string_view text);
    Decision refuse(Verdict verdict, std::chrono::seconds retryAfter = {}) const;
    // Records a failure; the last of maxFailures within failureWindow locks the visitor out.
    void fail(Visitor& visitor, std::chrono::steady_clock::time_point now);
    Visitor& visitor(const std::string& key);

    Clock m_clock;
    mutable std::mutex m_mutex;
    bool m_required = false;
    bool m_hasPassword = false;
    Digest m_expected{};
    std::string m_realm;
    std::unordered_map<std::string, Visitor> m_visitors;
    std::list<std::string> m_order; // least recently seen first
};
