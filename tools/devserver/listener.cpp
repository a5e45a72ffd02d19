#include "devserver/listener.h"

#include "devserver/connection.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <mutex>
#include <set>

namespace qiv::devserver {

std::optional<ListenAddress> parseListenAddress(std::string_view text, std::string* error)
{
    auto fail = [&](const std::string& why) -> std::optional<ListenAddress> {
        if (error != nullptr)
            *error = "bad address '" + std::string(text) + "': " + why;
        return std::nullopt;
    };
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos)
        return fail("expected ip:port");
    ListenAddress address;
    address.host = std::string(text.substr(0, colon));
    const std::string_view portText = text.substr(colon + 1);
    const auto [end, ec] =
        std::from_chars(portText.data(), portText.data() + portText.size(), address.port);
    if (portText.empty() || ec != std::errc() || end != portText.data() + portText.size() ||
        address.port < 0 || address.port > 65535)
        return fail("the port must be a number from 0 to 65535");
    in_addr ip{};
    if (inet_pton(AF_INET, address.host.c_str(), &ip) != 1)
        return fail("the ip must be an IPv4 address such as 127.0.0.1");
    if ((ntohl(ip.s_addr) >> 24) != 127)
        return fail("only loopback addresses (127.0.0.0/8) may be used");
    return address;
}

// httplib's server with our own connection loop. httplib hands handlers no
// socket and keeps no list of connections; the fault "drop" needs the
// first and a prompt stop needs the second (idle kept-alive connections
// would otherwise hold stop() for their whole timeout).
class ListenServer : public httplib::Server {
public:
    // Closes the listening socket of a server that never ran (httplib's
    // stop() only acts on a running one).
    void closeUnusedSocket()
    {
        const socket_t sock = svr_sock_.exchange(INVALID_SOCKET);
        if (sock != INVALID_SOCKET)
            ::close(sock);
    }

    // Ends every open connection and refuses new ones; the serving
    // threads then return at once.
    void shutdownConnections()
    {
        std::lock_guard lock(connectionsMutex_);
        closing_ = true;
        for (int fd : connections_)
            ::shutdown(fd, SHUT_RDWR);
    }

private:
    bool process_and_close_socket(socket_t sock) override
    {
        bool ret = false;
        if (track(sock)) {
            ret = serveConnection(
                sock, timeouts(), [this] { return svr_sock_ != INVALID_SOCKET; },
                [this](httplib::Stream& stream, bool last, bool& closed) {
                    return process_request(stream, last, closed, nullptr);
                });
            std::lock_guard lock(connectionsMutex_);
            connections_.erase(sock);
        }
        ::shutdown(sock, SHUT_RDWR);
        ::close(sock);
        return ret;
    }

    // Lists an accepted connection; false once the server is closing.
    bool track(int sock)
    {
        std::lock_guard lock(connectionsMutex_);
        if (closing_)
            return false;
        connections_.insert(sock);
        return true;
    }

    ConnectionTimeouts timeouts() const
    {
        return {read_timeout_sec_,   read_timeout_usec_,      write_timeout_sec_,
                write_timeout_usec_, keep_alive_timeout_sec_, keep_alive_max_count_};
    }

    std::mutex connectionsMutex_;
    std::set<int> connections_;
    bool closing_ = false;
};

namespace {

void configure(ListenServer& server, const RequestHandler& handler)
{
    server.set_keep_alive_timeout(2);
    // A body announced bigger than the whole request may be is refused
    // unread; the rest of the bound is kept by the connection stream.
    server.set_payload_max_length(kMaxRequestBytes);
    // Headers and body go out in separate writes: without this, each
    // reply waits for the client's delayed acknowledgement.
    server.set_tcp_nodelay(true);
    // httplib's default also sets SO_REUSEPORT, which would let a second
    // server share a port in use and split the requests between the two:
    // an address in use must fail instead.
    server.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    const std::string any = R"([\s\S]*)";
    server.Get(any, handler);
    server.Post(any, handler);
    server.Put(any, handler);
    server.Patch(any, handler);
    server.Delete(any, handler);
    server.Options(any, handler);
}

} // namespace

Listener::Listener() = default;

Listener::~Listener() = default;

std::string Listener::url() const
{
    return "http://" + address_.host + ":" + std::to_string(port_);
}

bool Listener::bind(const char* role, RequestHandler handler, std::string* error)
{
    server_ = std::make_unique<ListenServer>();
    configure(*server_, handler);
    errno = 0;
    const int port =
        address_.port == 0
            ? server_->bind_to_any_port(address_.host)
            : (server_->bind_to_port(address_.host, address_.port) ? address_.port : -1);
    if (port < 0) {
        const int err = errno;
        if (error != nullptr)
            *error = std::string("cannot listen on ") + role + " address " + address_.host + ":" +
                     std::to_string(address_.port) +
                     (err != 0 ? std::string(": ") + std::strerror(err) : std::string());
        unbind();
        return false;
    }
    port_ = port;
    return true;
}

void Listener::unbind()
{
    if (server_)
        server_->closeUnusedSocket();
    server_.reset();
    port_ = 0;
}

void Listener::serve()
{
    done_ = false;
    thread_ = std::thread([this] {
        server_->listen_after_bind();
        done_ = true;
    });
}

void Listener::waitServing()
{
    while (!server_->is_running() && !done_)
        std::this_thread::yield();
}

void Listener::stop()
{
    server_->stop();
    server_->shutdownConnections();
}

void Listener::join()
{
    if (thread_.joinable())
        thread_.join();
    server_.reset();
    port_ = 0;
}

} // namespace qiv::devserver
