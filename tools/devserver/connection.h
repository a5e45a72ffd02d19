#pragma once

#include <cstddef>
#include <ctime>
#include <functional>

namespace httplib {
class Stream;
}

// One accepted connection: the keep-alive loop over its requests, the bound
// on the bytes one request may send, and the fault that drops it unanswered.
namespace qiv::devserver {

// The largest request served: request line, headers and body together.
// A bigger one is answered 413 and changes nothing.
inline constexpr std::size_t kMaxRequestBytes = 1u << 20;

struct ConnectionTimeouts {
    time_t readSec = 0;
    time_t readUsec = 0;
    time_t writeSec = 0;
    time_t writeUsec = 0;
    time_t keepAliveSec = 0; // the wait for the next request
    std::size_t maxRequests = 1;
};

// Reads one request from the stream and answers it; last: the connection
// closes after this reply. Sets closed when the request asked for a close.
using ProcessRequest = std::function<bool(httplib::Stream& stream, bool last, bool& closed)>;

// Serves the requests of the connection fd until the client closes it, a
// request fails or goes over kMaxRequestBytes (answered 413), keep-alive
// ends, or listening() turns false. Returns the last request's result; the
// caller closes fd.
bool serveConnection(int fd, const ConnectionTimeouts& timeouts,
                     const std::function<bool()>& listening, const ProcessRequest& process);

// Closes the connection the current request came on without answering;
// the reply then written fails and the connection ends. Only from within
// serveConnection's processing.
void dropConnection();

} // namespace qiv::devserver
