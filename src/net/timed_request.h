#pragma once

#include <chrono>
#include <string>

// The one entry point through which the program talks to the network.
namespace qiv {

// Runs one HTTP exchange (performRequest) on a new worker thread and waits
// for it while the calling thread keeps handling its events, so a window
// stays live. Returns the response body up to its first zero byte, or the
// empty text on any failure or when the limit passes first.
// timeoutSeconds: 0 means the default limit (90 s); negative returns the
// empty text at once. Every call has its own request slots, so calls from
// several threads, or nested inside another call's wait, never mix.
std::string timedRequest(const std::string& url, const std::string& method = {},
                         const std::string& proxy = {}, const std::string& headers = {},
                         const std::string& body = {}, int timeoutSeconds = 0);

// The limit that timeoutSeconds 0 stands for. 90 s; tests shorten it.
std::chrono::milliseconds defaultRequestLimit();
void setDefaultRequestLimit(std::chrono::milliseconds limit);

// Waits for `duration` while the calling thread keeps handling its events
// (no busy wait).
void waitHandlingEvents(std::chrono::milliseconds duration);

// Worker threads still running, abandoned ones included. An abandoned
// worker ends soon after its limit (its transfer is cut within about a
// second) and frees everything it held.
int runningWorkers();

// Waits, at most `bound`, until no worker thread runs; true when none does.
bool waitForWorkers(std::chrono::milliseconds bound);

} // namespace qiv
