#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <regex>
#include <string>
#include <vector>

// qiv-devserver from this build as a child process of a test or bench: its
// standard output and error go to files (a server that logs every request
// never blocks on a full pipe), and it dies with its parent.
namespace qiv::test {

// "ip:port" of its three roles, as its options take them. Port 0: any free
// port, so that it collides with no other server.
struct DevServerAddresses {
    std::string service = "127.0.0.1:0";
    std::string ip = "127.0.0.2:0";
    std::string ads = "127.0.0.3:0";
};

// Its own defaults, the hosts qiv-forward is built with.
DevServerAddresses defaultDevServerAddresses();

class DevServerChild {
public:
    // Runs it with exactly `args` (after the program name) and returns at
    // once: for tests of the program's options and exit status.
    explicit DevServerChild(const std::vector<std::string>& args);
    // Runs it on `addresses` with `extraArgs` after them (e.g. --fault ...)
    // and waits until it listens; running() tells whether it does.
    DevServerChild(const DevServerAddresses& addresses, const std::vector<std::string>& extraArgs);
    // The same on free ports without extra arguments.
    DevServerChild() : DevServerChild(DevServerAddresses{}, {}) {}
    // stop().
    ~DevServerChild();
    DevServerChild(const DevServerChild&) = delete;
    DevServerChild& operator=(const DevServerChild&) = delete;

    bool started() const { return pid_ > 0; }
    // Waits until it says where it listens, within the bound; then the
    // hosts below are set.
    bool waitListening(std::chrono::milliseconds bound = std::chrono::seconds(10));
    bool running() const { return pid_ > 0 && !exited_ && !serviceHost_.empty(); }
    // "ip:port" of each role once it listens.
    const std::string& serviceHost() const { return serviceHost_; }
    const std::string& ipHost() const { return ipHost_; }
    const std::string& adHost() const { return adHost_; }

    // Everything it has written so far on standard output and error (its
    // log: one line per request served).
    std::string out() const;
    std::string err() const;
    // The next line of standard error matching `pattern`, after the lines
    // already looked at, within the bound.
    std::optional<std::smatch> waitForLine(const std::regex& pattern,
                                           std::chrono::milliseconds bound);

    void signal(int sig);
    // Its exit status (128 + signal when killed), or -1 when the bound
    // passed first.
    int waitForExit(std::chrono::milliseconds bound);
    // SIGTERM, then its end (SIGKILL after 5 s): the exit status.
    int stop();

private:
    void start(const std::vector<std::string>& args);

    pid_t pid_ = -1;
    bool exited_ = false;
    int status_ = -1;
    int outFd_ = -1, errFd_ = -1;
    std::string serviceHost_, ipHost_, adHost_;
    std::string line_;
    std::size_t scanned_ = 0;
};

} // namespace qiv::test
