#pragma once

#include <algorithm>
#include <cstddef>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

namespace httplib {
struct Request;
}

// The service's login sessions: a random token per login, carried in the
// QIVSESSION cookie, at most a bounded number of them.
namespace qiv::devserver {

// 128 bits from the system's random source, as 32 hex digits; nothing when
// that source fails.
std::optional<std::string> newSessionToken();

// The Set-Cookie value that hands a token to the client.
std::string sessionCookieHeader(const std::string& token);
// The QIVSESSION value among the request's cookies; empty when absent.
std::string sessionCookie(const httplib::Request& req);
// Every Cookie header of the request, joined by "; ".
std::string cookieHeaders(const httplib::Request& req);

// Thread-safe.
class Sessions {
public:
    // Keeps at most maxSessions (at least one); the oldest goes first.
    explicit Sessions(std::size_t maxSessions) : max_(std::max<std::size_t>(maxSessions, 1)) {}

    void open(const std::string& token, const std::string& name, const std::string& suffix);
    // Whether token is a session of this account (never for an empty token).
    bool holds(const std::string& token, const std::string& name, const std::string& suffix) const;
    // Ends every session of the account.
    void close(const std::string& name, const std::string& suffix);

private:
    using AccountKey = std::pair<std::string, std::string>; // name, suffix
    struct Session {
        std::string token;
        AccountKey account;
    };

    const std::size_t max_;
    mutable std::mutex mutex_;
    // Oldest first, and by token.
    std::list<Session> order_;
    std::unordered_map<std::string, std::list<Session>::iterator> byToken_;
};

} // namespace qiv::devserver
