#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace httplib {
struct Request;
struct Response;
} // namespace httplib

// One listening address, served by httplib on a thread of its own with the
// connection loop of connection.h.
namespace qiv::devserver {

// "ip:port" of a listening socket; the ip is IPv4 within 127.0.0.0/8.
struct ListenAddress {
    std::string host;
    int port = 0; // 0: any free port
};
// Refuses every address outside loopback, with the reason in *error.
std::optional<ListenAddress> parseListenAddress(std::string_view text, std::string* error);

// Answers every request of a listener, whatever its method and path.
using RequestHandler = std::function<void(const httplib::Request&, httplib::Response&)>;

class ListenServer;

// bind(), serve(), stop() and join() belong to one controlling thread.
class Listener {
public:
    Listener();
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    void setAddress(ListenAddress address) { address_ = std::move(address); }
    const ListenAddress& address() const { return address_; }
    int port() const { return port_; } // 0 while unbound
    // "http://host:port".
    std::string url() const;

    // Binds the address; role names it in *error when that fails. Nothing
    // stays bound then.
    bool bind(const char* role, RequestHandler handler, std::string* error);
    // Closes the socket of a listener that was bound but never served.
    void unbind();
    // Serves on a new thread.
    void serve();
    // Returns once the serving loop runs (the socket already accepts
    // connections meanwhile): stop() only reaches a running loop.
    void waitServing();
    // Stops accepting and ends every open connection at once.
    void stop();
    // Waits for the serving thread and unbinds.
    void join();

private:
    ListenAddress address_;
    std::unique_ptr<ListenServer> server_;
    std::thread thread_;
    std::atomic<bool> done_{false}; // the serving loop has returned
    int port_ = 0;
};

} // namespace qiv::devserver
