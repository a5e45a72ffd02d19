#include "devserver/sessions.h"

#include <httplib.h>

#include <sys/random.h>

#include <cerrno>
#include <string_view>

namespace qiv::devserver {

namespace {

const std::string kCookieKey = "QIVSESSION=";

// The QIVSESSION value in one Cookie header, if it has one.
std::optional<std::string> sessionIn(const std::string& header)
{
    std::size_t at = 0;
    while (at < header.size()) {
        std::size_t end = header.find(';', at);
        if (end == std::string::npos)
            end = header.size();
        std::string_view pair(header.data() + at, end - at);
        while (!pair.empty() && pair.front() == ' ')
            pair.remove_prefix(1);
        if (pair.substr(0, kCookieKey.size()) == kCookieKey) {
            std::string_view value = pair.substr(kCookieKey.size());
            while (!value.empty() && value.back() == ' ')
                value.remove_suffix(1);
            return std::string(value);
        }
        at = end + 1;
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> newSessionToken()
{
    unsigned char bytes[16];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt;
        got += static_cast<std::size_t>(n);
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned char b : bytes) {
        text.push_back(kHex[b >> 4]);
        text.push_back(kHex[b & 15]);
    }
    return text;
}

std::string sessionCookieHeader(const std::string& token)
{
    return kCookieKey + token + "; path=/";
}

std::string sessionCookie(const httplib::Request& req)
{
    const std::size_t n = req.get_header_value_count("Cookie");
    for (std::size_t i = 0; i < n; ++i) {
        if (std::optional<std::string> value = sessionIn(req.get_header_value("Cookie", i)))
            return *value;
    }
    return std::string();
}

std::string cookieHeaders(const httplib::Request& req)
{
    std::string joined;
    const std::size_t n = req.get_header_value_count("Cookie");
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0)
            joined += "; ";
        joined += req.get_header_value("Cookie", i);
    }
    return joined;
}

void Sessions::open(const std::string& token, const std::string& name, const std::string& suffix)
{
    std::lock_guard lock(mutex_);
    byToken_[token] = order_.insert(order_.end(), Session{token, {name, suffix}});
    while (byToken_.size() > max_) {
        byToken_.erase(order_.front().token);
        order_.pop_front();
    }
}

bool Sessions::holds(const std::string& token, const std::string& name,
                     const std::string& suffix) const
{
    std::lock_guard lock(mutex_);
    const auto it = byToken_.find(token);
    return !token.empty() && it != byToken_.end() &&
           it->second->account == AccountKey(name, suffix);
}

void Sessions::close(const std::string& name, const std::string& suffix)
{
    std::lock_guard lock(mutex_);
    for (auto it = order_.begin(); it != order_.end();) {
        if (it->account == AccountKey(name, suffix)) {
            byToken_.erase(it->token);
            it = order_.erase(it);
        } else {
            ++it;
        }
    }
}

} // namespace qiv::devserver
