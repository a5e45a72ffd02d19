#pragma once

#include "devserver/account_store.h"
#include "devserver/faults.h"
#include "devserver/pages.h"
#include "devserver/sessions.h"

#include <array>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace httplib {
struct Request;
struct Response;
} // namespace httplib

// The request handlers of the three hosts: which page a request names, the
// page's answer from the accounts and sessions, and the reply as it goes
// out under a fault.
namespace qiv::devserver {

// What the IP page answers unless told otherwise: a documentation address,
// which a follower may take for a public IP. The caller's own address is a
// loopback one, which no visitor could reach.
inline constexpr std::string_view kDefaultIpReply = "198.51.100.1";

// The three hosts, each on its own address, in the order they are bound.
enum class Role { Service, Ip, Ads };
inline constexpr std::array<Role, 3> kRoles{Role::Service, Role::Ip, Role::Ads};
const char* roleName(Role role);

// The page a path names on a host; nothing for any other path.
std::optional<Page> identifyPage(Role role, const std::string& path);

// The pages' answers. Thread-safe: the serving threads call it at once.
class PageHandlers {
public:
    // store and accountMutex (which serialises every check-then-change of
    // the accounts) are shared with the server's own account calls.
    PageHandlers(AccountStore& store, std::mutex& accountMutex,
                 const std::vector<std::string>& suffixes, std::size_t maxSessions,
                 std::optional<std::string> ipReply, std::optional<std::string> adBody);

    // The page's reply; kind Flood or Markup changes the texts it shows.
    Reply answer(Page page, const httplib::Request& req, FaultKind kind);

    // POST /control/ip on the IP host: the body becomes the IP page's reply
    // (an empty body: kDefaultIpReply again). Loopback callers only.
    // Answers res and returns its status; nothing for any other request.
    std::optional<int> control(Role role, const httplib::Request& req, httplib::Response& res);

    // Forces the IP page's reply; nothing: kDefaultIpReply.
    void setIpReply(std::optional<std::string> reply);

private:
    Reply regCheck(const httplib::Request& req, FaultKind kind) const;
    Reply registration(const httplib::Request& req, FaultKind kind);
    Reply login(const httplib::Request& req, FaultKind kind);
    Reply modify(const httplib::Request& req, FaultKind kind);
    Reply suffixList(FaultKind kind) const;
    Reply userCount(FaultKind kind) const;
    Reply ip(const httplib::Request& req, FaultKind kind) const;
    bool knownSuffix(const std::string& suffix) const;

    AccountStore& store_;
    std::mutex& accountMutex_;
    const std::vector<std::string>& suffixes_;
    Sessions sessions_;
    mutable std::mutex ipMutex_;
    std::optional<std::string> ipReply_;
    const std::optional<std::string> adBody_;
};

// Writes reply into res: as it is, or for the faults Huge and Endless as a
// body made on demand.
void writeReply(Reply reply, FaultKind kind, httplib::Response& res);

// The log line of one request: role, client, method, path (GBK and control
// bytes as \xNN), outcome and the fault, if any. Never a body.
std::string requestLogLine(Role role, const httplib::Request& req, const std::string& outcome,
                           Fault fault);

} // namespace qiv::devserver
