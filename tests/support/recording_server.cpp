#include "recording_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace qiv::test {
namespace {

// A client that sends nothing for this long is given up.
constexpr auto readBound = std::chrono::seconds(10);

std::string lower(std::string_view text)
{
    std::string result(text);
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return result;
}

// Waits until `fd` is readable or the wake pipe fires. 1: readable,
// 0: time out, -1: stopping.
int waitReadable(int fd, int wakeFd, int timeoutMs)
{
    pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    while (true) {
        int n = poll(fds, 2, timeoutMs);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0;
        if (fds[1].revents)
            return -1;
        return 1;
    }
}

// False when the peer has gone away.
bool sendAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

} // namespace

RecordingServer::RecordingServer(std::string address) : address_(std::move(address))
{
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];

    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0)
        throw std::runtime_error("socket failed");
    int yes = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = 0;
    if (inet_pton(AF_INET, address_.c_str(), &addr.sin_addr) != 1)
        throw std::runtime_error("bad address " + address_);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 64) != 0)
        throw std::runtime_error("cannot listen on " + address_ + ": " + std::strerror(errno));
    socklen_t len = sizeof addr;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);

    handler_ = [](const std::string&) { return Reply{httpReply("")}; };
    acceptor_ = std::thread([this] { acceptLoop(); });
}

RecordingServer::~RecordingServer()
{
    char byte = 1;
    (void)!::write(wakeWrite_, &byte, 1);
    acceptor_.join();
    std::vector<Connection> connections;
    {
        std::lock_guard lock(mutex_);
        connections.swap(connections_);
    }
    for (Connection& c : connections)
        c.thread.join();
    ::close(listenFd_);
    ::close(wakeRead_);
    ::close(wakeWrite_);
}

std::string RecordingServer::hostPort() const
{
    return address_ + ":" + std::to_string(port_);
}

std::string RecordingServer::url(std::string_view path) const
{
    return "http://" + hostPort() + std::string(path);
}

void RecordingServer::setReply(Reply reply)
{
    setHandler([reply](const std::string&) { return reply; });
}

void RecordingServer::setReply(std::string bytes)
{
    Reply reply;
    reply.bytes = std::move(bytes);
    setReply(std::move(reply));
}

void RecordingServer::setHandler(Handler handler)
{
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

std::vector<std::string> RecordingServer::requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

size_t RecordingServer::requestCount() const
{
    std::lock_guard lock(mutex_);
    return requests_.size();
}

bool RecordingServer::waitForRequests(size_t count, std::chrono::milliseconds bound) const
{
    std::unique_lock lock(mutex_);
    return recorded_.wait_for(lock, bound, [&] { return requests_.size() >= count; });
}

void RecordingServer::clearRequests()
{
    std::lock_guard lock(mutex_);
    requests_.clear();
}

std::string RecordingServer::httpReply(std::string_view body, std::string_view extraHeaders,
                                       std::string_view status)
{
    std::string reply = "HTTP/1.1 " + std::string(status) + "\r\n";
    reply += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    reply += "Connection: close\r\n";
    reply += extraHeaders;
    reply += "\r\n";
    reply += body;
    return reply;
}

std::string RecordingServer::requestLine(const std::string& request)
{
    return request.substr(0, request.find("\r\n"));
}

std::string RecordingServer::headerText(const std::string& request)
{
    size_t start = request.find("\r\n");
    size_t end = request.find("\r\n\r\n");
    if (start == std::string::npos || end == std::string::npos || end < start)
        return {};
    return request.substr(start + 2, end + 2 - (start + 2));
}

std::string RecordingServer::bodyOf(const std::string& request)
{
    size_t end = request.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : request.substr(end + 4);
}

std::string RecordingServer::headerValue(const std::string& request, std::string_view name)
{
    const std::string headers = headerText(request);
    const std::string wanted = lower(name) + ":";
    size_t pos = 0;
    while (pos < headers.size()) {
        size_t end = headers.find("\r\n", pos);
        if (end == std::string::npos)
            end = headers.size();
        std::string_view line(headers.data() + pos, end - pos);
        if (lower(line.substr(0, wanted.size())) == wanted) {
            line.remove_prefix(wanted.size());
            while (!line.empty() && line.front() == ' ')
                line.remove_prefix(1);
            return std::string(line);
        }
        pos = end + 2;
    }
    return {};
}

void RecordingServer::acceptLoop()
{
    while (waitReadable(listenFd_, wakeRead_, -1) == 1) {
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        std::lock_guard lock(mutex_);
        // Reap the connections that have ended, so a long run does not pile
        // up finished threads.
        std::erase_if(connections_, [](Connection& c) {
            if (!c.done->load())
                return false;
            c.thread.join();
            return true;
        });
        auto done = std::make_shared<std::atomic<bool>>(false);
        connections_.push_back({std::thread([this, fd, done] {
                                    serve(fd);
                                    done->store(true);
                                }),
                                done});
    }
}

bool RecordingServer::pause(std::chrono::milliseconds duration)
{
    if (duration.count() <= 0)
        return true;
    pollfd wake{wakeRead_, POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + duration;
    while (true) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline -
                                                                 std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return true;
        int n = poll(&wake, 1, static_cast<int>(left.count()));
        if (n > 0)
            return false;
    }
}

bool RecordingServer::readRequest(int fd, std::string& request)
{
    const int boundMs =
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(readBound).count());
    size_t wanted = std::string::npos; // total size, once the headers are in
    char buffer[16384];
    while (request.size() < wanted) {
        if (waitReadable(fd, wakeRead_, boundMs) != 1)
            return false;
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return !request.empty();
        request.append(buffer, static_cast<size_t>(n));
        if (wanted == std::string::npos) {
            size_t end = request.find("\r\n\r\n");
            if (end == std::string::npos)
                continue;
            std::string length = headerValue(request, "Content-Length");
            wanted = end + 4 + std::strtoul(length.c_str(), nullptr, 10);
        }
    }
    return true;
}

void RecordingServer::serve(int fd)
{
    std::string request;
    if (readRequest(fd, request)) {
        Handler handler;
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
            handler = handler_;
            recorded_.notify_all();
        }
        Reply reply = handler(request);
        if (!reply.closeWithoutAnswer && pause(reply.delay)) {
            bool open = sendAll(fd, reply.bytes);
            if (open && !reply.tail.empty() && pause(reply.tailDelay))
                open = sendAll(fd, reply.tail);
            pollfd wake{wakeRead_, POLLIN, 0};
            while (open && !reply.repeated.empty() && poll(&wake, 1, 0) == 0)
                open = sendAll(fd, reply.repeated);
        }
    }
    ::shutdown(fd, SHUT_WR);
    ::close(fd);
}

int closedLoopbackPort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

} // namespace qiv::test
