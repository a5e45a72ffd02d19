#include "devserver/connection.h"

#include "devserver/pages.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <string_view>

namespace qiv::devserver {

namespace {

// The connection the current serving thread works on (-1 outside one).
thread_local int tCurrentConnection = -1;

bool waitFor(int fd, short events, time_t sec, time_t usec)
{
    pollfd p{fd, events, 0};
    const int ms = static_cast<int>(sec * 1000 + usec / 1000);
    int ready;
    do {
        ready = ::poll(&p, 1, ms);
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

std::string ipText(const sockaddr_in& address)
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return text;
}

bool sendAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        if (!waitFor(fd, POLLOUT, 5, 0))
            return false;
        ssize_t n;
        do {
            n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        } while (n < 0 && errno == EINTR);
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

const std::string& tooLargeReply()
{
    static const std::string reply = [] {
        const Reply page = tooLargePage();
        return "HTTP/1.1 413 Payload Too Large\r\nContent-Type: " + std::string(kHtmlContentType) +
               "\r\nContent-Length: " + std::to_string(page.body.size()) +
               "\r\nConnection: close\r\n\r\n" + page.body;
    }();
    return reply;
}

// The connection as httplib's request processing reads and writes it:
// blocking socket I/O bounded by the server's timeouts, reads buffered
// (across the requests of the connection). Each request may read at most
// kMaxRequestBytes; past that, reads fail and whatever httplib answers is
// replaced by one 413 reply.
class ConnectionStream final : public httplib::Stream {
public:
    ConnectionStream(int fd, const ConnectionTimeouts& timeouts) : fd_(fd), timeouts_(timeouts) {}

    void beginRequest() { consumed_ = 0; }
    bool hasBuffered() const { return begin_ < end_; }
    bool overLimit() const { return overLimit_; }
    // Sends the 413 reply unless it has gone out already.
    void refuse()
    {
        if (overLimit_ && !refused_) {
            refused_ = true;
            sendAll(fd_, tooLargeReply());
        }
    }

    bool is_readable() const override { return begin_ < end_ || readable(); }
    bool is_writable() const override
    {
        return waitFor(fd_, POLLOUT, timeouts_.writeSec, timeouts_.writeUsec);
    }

    ssize_t read(char* ptr, size_t size) override
    {
        if (consumed_ >= kMaxRequestBytes) {
            overLimit_ = true;
            return -1;
        }
        size = std::min(size, kMaxRequestBytes - consumed_);
        if (begin_ == end_) {
            if (!readable())
                return -1;
            ssize_t n;
            do {
                n = ::recv(fd_, buffer_, sizeof buffer_, 0);
            } while (n < 0 && errno == EINTR);
            if (n <= 0)
                return n;
            begin_ = 0;
            end_ = static_cast<size_t>(n);
        }
        const size_t n = std::min(size, end_ - begin_);
        std::memcpy(ptr, buffer_ + begin_, n);
        begin_ += n;
        consumed_ += n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, size_t size) override
    {
        if (overLimit_) {
            refuse();
            return static_cast<ssize_t>(size);
        }
        if (!is_writable())
            return -1;
        ssize_t n;
        do {
            n = ::send(fd_, ptr, size, MSG_NOSIGNAL);
        } while (n < 0 && errno == EINTR);
        return n;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override
    {
        sockaddr_in address{};
        socklen_t len = sizeof address;
        if (getpeername(fd_, reinterpret_cast<sockaddr*>(&address), &len) == 0) {
            ip = ipText(address);
            port = ntohs(address.sin_port);
        }
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override
    {
        sockaddr_in address{};
        socklen_t len = sizeof address;
        if (getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &len) == 0) {
            ip = ipText(address);
            port = ntohs(address.sin_port);
        }
    }
    socket_t socket() const override { return fd_; }

private:
    int fd_;
    ConnectionTimeouts timeouts_;
    char buffer_[4096];
    size_t begin_ = 0;
    size_t end_ = 0;
    size_t consumed_ = 0; // by the current request
    bool overLimit_ = false;
    bool refused_ = false;

    bool readable() const { return waitFor(fd_, POLLIN, timeouts_.readSec, timeouts_.readUsec); }
};

// Ends a connection whose request failed after its reply: the rest of what
// the client still sends is read and dropped first (bounded in bytes and
// time), so that the close does not reset the connection before the client
// has read the reply.
void drainAndClose(int fd)
{
    ::shutdown(fd, SHUT_WR);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    std::size_t drained = 0;
    char buffer[16384];
    while (drained < 8 * kMaxRequestBytes) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !waitFor(fd, POLLIN, 0, left.count() * 1000))
            break;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        drained += static_cast<std::size_t>(n);
    }
}

} // namespace

bool serveConnection(int fd, const ConnectionTimeouts& timeouts,
                     const std::function<bool()>& listening, const ProcessRequest& process)
{
    bool ret = false;
    tCurrentConnection = fd;
    // Like httplib's own loop: up to maxRequests requests, each awaited for
    // keepAliveSec.
    ConnectionStream stream(fd, timeouts);
    for (std::size_t count = timeouts.maxRequests; count > 0; --count) {
        if (!listening() ||
            (!stream.hasBuffered() && !waitFor(fd, POLLIN, timeouts.keepAliveSec, 0)))
            break;
        stream.beginRequest();
        bool closed = false;
        ret = process(stream, count == 1, closed);
        stream.refuse();
        if (!ret || stream.overLimit()) {
            drainAndClose(fd);
            break;
        }
        if (closed)
            break;
    }
    tCurrentConnection = -1;
    return ret;
}

void dropConnection()
{
    if (tCurrentConnection >= 0)
        ::shutdown(tCurrentConnection, SHUT_RDWR);
}

} // namespace qiv::devserver
