#pragma once

#include "devserver/account_store.h"
#include "devserver/connection.h" // kMaxRequestBytes
#include "devserver/faults.h"
#include "devserver/listener.h" // ListenAddress, parseListenAddress

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// qiv-devserver: a local stand-in for the three outside hosts of the client
// (the forwarding service, the public-IP lookup and the advertisement host),
// each on its own loopback address. Usable in-process by tests: start() on
// port 0, read the bound ports, drive it over HTTP, switch faults at will.
namespace qiv::devserver {

struct Options {
    std::string serviceAddress = "127.0.0.1:8090";
    std::string ipAddress = "127.0.0.2:8091";
    std::string adAddress = "127.0.0.3:8092";
    std::vector<std::string> suffixes{"qiv.cn", "qiv.net", "qiv.org"};
    std::string dbPath; // empty: accounts in memory only
    std::vector<FaultSetting> faults;
    std::optional<std::string> ipReply; // forced reply of the IP page
    std::optional<std::string> adBody;  // the body of every ad page, as it is
    // Login sessions kept at most; the oldest goes first.
    std::size_t maxSessions = 10000;
    // Receives one line per request (never a password). Called from the
    // serving threads, one call at a time.
    std::function<void(const std::string&)> log;
};

// The last request a page received, as it arrived.
struct RecordedRequest {
    std::string method;
    std::string target; // the raw request target: path and query
    std::string body;
    std::string cookie; // the Cookie header(s), joined by "; "
};

// start() and stop() belong to one controlling thread; every other member
// may be called from any thread. The accounts can be read and added before
// the first start() (the store opens on first use).
class DevServer {
public:
    explicit DevServer(Options options = {});
    ~DevServer(); // stops
    DevServer(const DevServer&) = delete;
    DevServer& operator=(const DevServer&) = delete;

    // Binds the three addresses and serves them on background threads. On
    // failure nothing stays bound and *error says why.
    bool start(std::string* error = nullptr);
    // Stops serving; requests waiting in a delay are dropped. The accounts
    // stay (in memory or in the file) for a later start().
    void stop();
    bool isRunning() const;

    // The bound ports (0 while stopped).
    int servicePort() const;
    int ipPort() const;
    int adPort() const;
    // "http://host:port" of each role.
    std::string serviceUrl() const;
    std::string ipUrl() const;
    std::string adUrl() const;

    // Fault switches; thread-safe, effective for the next request.
    void setFault(Page page, Fault fault);
    // By name: a page name or "all"; false for an unknown name.
    bool setFault(std::string_view page, Fault fault);
    void clearFaults();
    Fault fault(Page page) const;

    // Forces the IP page's reply (bytes as given); nothing: the default,
    // 198.51.100.1.
    void setIpReply(std::optional<std::string> reply);

    std::optional<Account> findAccount(std::string_view name, std::string_view suffix) const;
    std::size_t accountCount() const;
    // Adds an account directly; false when the name is taken.
    bool addAccount(const Account& account);

    std::size_t requestCount(Page page) const;
    std::optional<RecordedRequest> lastRequest(Page page) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace qiv::devserver
