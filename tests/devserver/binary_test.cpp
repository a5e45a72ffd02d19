// The real qiv-devserver program: options, one request, signals.

#include "test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <string>
#include <vector>

namespace qiv::devserver {
namespace {

using test::CurlClient;
using test::HttpResult;

// The program with its standard output and error on pipes.
class Program {
public:
    explicit Program(const std::vector<std::string>& args)
    {
        int out[2];
        int err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            dup2(err[1], 2);
            std::vector<char*> argv;
            std::string path = QIV_DEVSERVER_PATH;
            argv.push_back(path.data());
            std::vector<std::string> copy = args;
            for (std::string& a : copy)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(path.c_str(), argv.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~Program()
    {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0)
            close(out_);
        if (err_ >= 0)
            close(err_);
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool started() const { return pid_ > 0; }
    void signal(int sig) { kill(pid_, sig); }

    // Reads stderr until a line matches, within the bound.
    std::optional<std::smatch> waitForLine(const std::regex& pattern,
                                           std::chrono::milliseconds bound)
    {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (true) {
            std::size_t eol;
            while ((eol = errText_.find('\n', scanned_)) != std::string::npos) {
                line_ = errText_.substr(scanned_, eol - scanned_);
                scanned_ = eol + 1;
                std::smatch m;
                if (std::regex_search(line_, m, pattern))
                    return m;
            }
            if (!readSome(err_, errText_, deadline))
                return std::nullopt;
        }
    }

    // Reads both pipes to their end and waits for the exit, within the
    // bound; the exit status, or -1 when the bound passed.
    int waitForExit(std::chrono::milliseconds bound)
    {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (out_ >= 0 || err_ >= 0) {
            if (out_ >= 0 && !readSome(out_, outText_, deadline, true)) {
                if (std::chrono::steady_clock::now() >= deadline)
                    return -1;
                close(out_);
                out_ = -1;
            }
            if (err_ >= 0 && !readSome(err_, errText_, deadline, true)) {
                if (std::chrono::steady_clock::now() >= deadline)
                    return -1;
                close(err_);
                err_ = -1;
            }
        }
        int status = 0;
        waitpid(pid_, &status, 0);
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    const std::string& out() const { return outText_; }
    const std::string& err() const { return errText_; }

private:
    // One read; false at the end of the pipe or when the deadline passed.
    // With shortPoll, a pipe without data yet gives true after a brief poll,
    // so that both pipes are served in turn.
    bool readSome(int fd, std::string& into, std::chrono::steady_clock::time_point deadline,
                  bool shortPoll = false)
    {
        while (true) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            pollfd p{fd, POLLIN, 0};
            const int ready =
                poll(&p, 1, shortPoll ? std::min<int>(50, left.count()) : left.count());
            if (ready == 0) {
                if (shortPoll)
                    return true;
                continue;
            }
            char buffer[4096];
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0)
                return false;
            into.append(buffer, static_cast<std::size_t>(n));
            return true;
        }
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    bool exited_ = false;
    std::string outText_;
    std::string errText_;
    std::string line_;
    std::size_t scanned_ = 0;
};

constexpr auto kBound = std::chrono::seconds(20);

struct BadCase {
    std::vector<std::string> args;
    const char* mentions;
};

TEST(DevServerProgram, BadOptionsExitWithStatusTwo)
{
    const std::vector<BadCase> cases{
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"--service"}, "needs a value"},
        {{"--service", "10.0.0.1:8090"}, "loopback"},
        {{"--ads=0.0.0.0:80"}, "loopback"},
        {{"--ip", "127.0.0.2:99999"}, "port"},
        {{"--fault", "login=explode"}, "unknown fault kind"},
        {{"--fault", "nopage=drop"}, "unknown page"},
        {{"--fault", "login=delay"}, "delay needs"},
        {{"--suffixes", "a,,b"}, "empty suffix"},
        {{"--ip-reply", "bad\\q"}, "bad escape"},
        {{"extra"}, "unknown option 'extra'"},
    };
    for (const BadCase& c : cases) {
        Program p(c.args);
        ASSERT_TRUE(p.started());
        EXPECT_EQ(p.waitForExit(kBound), 2) << c.args[0];
        EXPECT_NE(p.err().find(c.mentions), std::string::npos) << p.err();
        EXPECT_NE(p.err().find("--help"), std::string::npos) << p.err();
    }
}

TEST(DevServerProgram, HelpListsTheOptions)
{
    Program p({"--help"});
    ASSERT_TRUE(p.started());
    EXPECT_EQ(p.waitForExit(kBound), 0);
    for (const char* option : {"--service", "--ip", "--ads", "--suffixes", "--db", "--fault",
                               "--ip-reply", "no-marker", "long-headers", "zero-byte"})
        EXPECT_NE(p.out().find(option), std::string::npos) << option;
}

TEST(DevServerProgram, ServesLogsAndStopsOnSignals)
{
    for (const int sig : {SIGTERM, SIGINT}) {
        Program p({"--service", "127.0.0.1:0", "--ip=127.0.0.2:0", "--ads", "127.0.0.3:0",
                   "--suffixes", "a.cn,b.cn", "--ip-reply", "10.1.2.3\\r\\n", "--fault",
                   "ads=empty"});
        ASSERT_TRUE(p.started());
        const std::optional<std::smatch> ready = p.waitForLine(
            std::regex(R"(listening service=127\.0\.0\.1:(\d+) ip=127\.0\.0\.2:(\d+) )"
                       R"(ads=127\.0\.0\.3:(\d+))"),
            kBound);
        ASSERT_TRUE(ready) << p.err();
        const std::string service = "http://127.0.0.1:" + (*ready)[1].str();
        const std::string ip = "http://127.0.0.2:" + (*ready)[2].str();
        const std::string ads = "http://127.0.0.3:" + (*ready)[3].str();

        CurlClient client;
        HttpResult r = client.get(service + "/modify.html");
        EXPECT_EQ(r.status, 200);
        EXPECT_NE(r.body.find("<option value='a.cn'>a.cn</option><option value='b.cn'>"),
                  std::string::npos);
        EXPECT_EQ(client.get(ip + "/getip/getip.asp").body, "10.1.2.3\r\n");
        r = client.get(ads + "/%5C280.html");
        EXPECT_EQ(r.status, 200);
        EXPECT_EQ(r.body, "");
        EXPECT_TRUE(
            p.waitForLine(std::regex(R"(service 127\.0\.0\.1 GET /modify\.html 200$)"), kBound));
        EXPECT_TRUE(p.waitForLine(
            std::regex(R"(ads 127\.0\.0\.1 GET /\\x5C280\.html 200 fault=empty$)"), kBound));

        p.signal(sig);
        EXPECT_EQ(p.waitForExit(kBound), 0) << p.err();
        EXPECT_NE(p.err().find(sig == SIGTERM ? "SIGTERM" : "SIGINT"), std::string::npos);
    }
}

TEST(DevServerProgram, BusyAddressExitsWithStatusOne)
{
    Program first({"--service", "127.0.0.1:0", "--ip", "127.0.0.2:0", "--ads", "127.0.0.3:0"});
    const std::optional<std::smatch> ready =
        first.waitForLine(std::regex(R"(listening service=127\.0\.0\.1:(\d+))"), kBound);
    ASSERT_TRUE(ready) << first.err();
    Program second({"--service", "127.0.0.1:" + (*ready)[1].str(), "--ip", "127.0.0.2:0", "--ads",
                    "127.0.0.3:0"});
    EXPECT_EQ(second.waitForExit(kBound), 1);
    EXPECT_NE(second.err().find("cannot listen on service address"), std::string::npos)
        << second.err();
    first.signal(SIGTERM);
    EXPECT_EQ(first.waitForExit(kBound), 0);
}

} // namespace
} // namespace qiv::devserver
