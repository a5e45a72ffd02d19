#pragma once

#include "net/cookie_store.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

// The one entry point through which the program talks to the network.
namespace qiv {

// The worker threads of one Network still running, abandoned ones included.
// Each worker holds it too, so a worker that outlives its call (and even
// its Network) can still count itself out. An abandoned worker ends soon
// after its limit (its transfer is cut within about a second) and frees
// everything it held.
class WorkerCount {
public:
    int running() const;
    // Waits, at most `bound`, until no worker runs; true when none does.
    bool waitUntilNone(std::chrono::milliseconds bound) const;
    void add(int delta);

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    int running_ = 0; // guarded by mutex_
};

// Ends the waits of a program that shuts down: after stop(), every call
// waiting on the Network returns the empty text at once (its exchange
// abandoned as at its limit), and every later call returns it without a
// request. Any thread may call stop().
class RequestStop {
public:
    void stop();
    bool stopped() const;

    // A waiting call registers how to end its wait, and takes it back when
    // it returns; added after stop(), `end` runs at once.
    using Id = unsigned long;
    Id add(std::function<void()> end);
    void remove(Id id);

private:
    mutable std::mutex mutex_;
    bool stopped_ = false; // guarded by mutex_, like the rest
    Id next_ = 0;
    std::map<Id, std::function<void()>> waiting_;
};

// What the requests of a program share: the cookies, the default limit and
// the bookkeeping of worker threads. A worker touches the Network only
// while its caller still waits, so a call that gave up leaves nothing of
// it behind.
struct Network {
    CookieStore cookies{};
    // The limit that timeoutSeconds 0 stands for.
    std::atomic<std::chrono::milliseconds> requestLimit{std::chrono::seconds(90)};
    std::shared_ptr<WorkerCount> workers = std::make_shared<WorkerCount>();
    RequestStop stop{};
};

// Runs one HTTP exchange (performRequest) on a new worker thread and waits
// for it while the calling thread keeps handling its events, so a window
// stays live. Returns the response body up to its first zero byte, or the
// empty text on any failure or when the limit passes first.
// timeoutSeconds: 0 means network.requestLimit; negative returns the empty
// text at once. Every call has its own request slots, so calls from several
// threads, or nested inside another call's wait, never mix.
std::string timedRequest(Network& network, const std::string& url, const std::string& method = {},
                         const std::string& proxy = {}, const std::string& headers = {},
                         const std::string& body = {}, int timeoutSeconds = 0);

// Waits for `duration` while the calling thread keeps handling its events
// (no busy wait).
void waitHandlingEvents(std::chrono::milliseconds duration);

} // namespace qiv
