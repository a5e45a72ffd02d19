#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// A tiny HTTP server for tests, on a real loopback socket. It records the
// raw bytes of every request it receives (request line, headers and the
// body as announced by Content-Length) and answers each with a canned
// reply. One connection carries one request; the server closes it after
// answering. It serves as an HTTP proxy as well: a proxied request is
// simply recorded with its absolute URI.
//
//   qiv::test::RecordingServer server;              // 127.0.0.1, free port
//   server.setReply(RecordingServer::httpReply("hello"));
//   ... request server.url("/page.php") ...
//   server.waitForRequests(1, std::chrono::seconds(5));
//   server.requests()[0]                            // "GET /page.php HTTP/1.1\r\n..."
//
// All methods are thread-safe. Connections are served in parallel, each on
// its own thread, so a slow reply does not hold up the next request.
namespace qiv::test {

class RecordingServer {
public:
    // What the server does with one request.
    struct Reply {
        Reply() = default;
        // A plain reply: these bytes at once. Lets a handler return
        // httpReply(...) directly.
        Reply(std::string replyBytes) : bytes(std::move(replyBytes)) {}

        std::string bytes;                  // sent after `delay`
        std::chrono::milliseconds delay{0}; // before anything is sent
        std::string tail;                   // sent after `tailDelay` when non-empty
        std::chrono::milliseconds tailDelay{0};
        bool closeWithoutAnswer = false; // close the connection, send nothing
        // Sent over and over after the rest, until the client goes away or
        // the server stops: an endless body or header block.
        std::string repeated;
    };
    using Handler = std::function<Reply(const std::string& request)>;

    // Listens on `address` (a loopback address such as "127.0.0.2") on a
    // free port. Throws std::runtime_error when it cannot.
    explicit RecordingServer(std::string address = "127.0.0.1");
    ~RecordingServer();
    RecordingServer(const RecordingServer&) = delete;
    RecordingServer& operator=(const RecordingServer&) = delete;

    const std::string& address() const { return address_; }
    uint16_t port() const { return port_; }
    std::string hostPort() const;                       // "127.0.0.1:40123"
    std::string url(std::string_view path = "/") const; // "http://127.0.0.1:40123" + path

    // The reply to every request (default: httpReply("")).
    void setReply(Reply reply);
    void setReply(std::string bytes);
    // A reply computed from each raw request; replaces setReply.
    void setHandler(Handler handler);

    // Raw requests in the order they were completely received.
    std::vector<std::string> requests() const;
    size_t requestCount() const;
    // Waits at most `bound` until `count` requests were recorded.
    bool waitForRequests(size_t count, std::chrono::milliseconds bound) const;
    void clearRequests();

    // "HTTP/1.1 <status>\r\nContent-Length: <n>\r\nConnection: close\r\n"
    // + extraHeaders (lines ended by CR LF) + "\r\n" + body.
    static std::string httpReply(std::string_view body, std::string_view extraHeaders = {},
                                 std::string_view status = "200 OK");

    // Parts of a raw request.
    static std::string requestLine(const std::string& request); // without CR LF
    static std::string headerText(const std::string& request);  // lines after the request line
                                                                // up to the blank line
    static std::string bodyOf(const std::string& request);
    // Value of the first header `name` (no case), or empty.
    static std::string headerValue(const std::string& request, std::string_view name);

private:
    void acceptLoop();
    void serve(int fd);
    // Sleeps for `duration` unless the server stops first; false if it did.
    bool pause(std::chrono::milliseconds duration);
    bool readRequest(int fd, std::string& request);

    std::string address_;
    uint16_t port_ = 0;
    int listenFd_ = -1;
    int wakeRead_ = -1; // becomes readable when the server stops
    int wakeWrite_ = -1;

    mutable std::mutex mutex_;
    mutable std::condition_variable recorded_;
    std::vector<std::string> requests_;
    Handler handler_;
    struct Connection {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::vector<Connection> connections_;
    std::thread acceptor_;
};

// A port on 127.0.0.1 where nothing listens (bound once, then released).
int closedLoopbackPort();

} // namespace qiv::test
