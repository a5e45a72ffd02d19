#pragma once

#include "client/service_client.h"
#include "config/hosts.h"
#include "net/timed_request.h"
#include "service/login.h"
#include "text/page_cuts.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>

// Nothing here waits on the network.
namespace qiv {

// A text one thread writes while another reads it.
class SharedText {
public:
    Text get() const
    {
        std::lock_guard lock(mutex_);
        return text_;
    }
    void set(Text text)
    {
        std::lock_guard lock(mutex_);
        text_ = std::move(text);
    }

private:
    mutable std::mutex mutex_;
    Text text_;
};

// Every value the operations keep between calls. The program makes one at
// start-up and never destroys it: the background thread and abandoned
// request workers may still run while the process ends.
struct ProgramState {
    // Fixed before the first operation starts.
    config::Hosts hosts = config::builtInHosts();
    // Where each host was set (an option, a file or "built in"), for the
    // messages about a host that does not answer.
    config::Hosts hostsFrom{"built in", "built in", "built in"};
    // No other host's cookies can push out those of the three hosts, as
    // given at creation.
    Network network{.cookies = CookieStore({hosts.service, hosts.ipLookup, hosts.ad})};
    // The six values of the last login or refresh. UI thread only.
    AccountSnapshot accountSnapshot{};
    // The reply of the last successful public-IP lookup; empty before one
    // and after a failed one.
    SharedText lastPublicIp{};
    // Failed tries of each start-up fetch so far.
    std::atomic<int> suffixRetries{0};
    std::atomic<int> userCountRetries{0};
    std::atomic<int> ipRetries{0};
    // The pause between a failed try and the next one.
    std::atomic<std::chrono::milliseconds> retryPause{std::chrono::seconds(2)};
    // Whether an account operation (login, refresh, modification, deletion)
    // runs; see AccountOperation. UI thread only.
    bool accountOperationRunning = false;
    // Whether the machine is online, asked before a login. UI thread only.
    std::function<bool()> connectivityCheck = isConnectedToNetwork;
};

// What the client of the service needs of the state: its network and hosts.
inline client::Connection serviceConnection(ProgramState& state)
{
    return {.network = state.network, .hosts = state.hosts};
}

} // namespace qiv
