// qiv-follow as a program against qiv-devserver: an account registered
// through reg.php, the public IP changed under it through the devserver's
// control request, and what one round does with each kind of target and
// reply; exit statuses, the password sources, the lock and the signals, the
// back-off after refusals, reloads, the prompt's terminal and the files of
// several accounts.
#include "devserver_child.h"
#include "follow/round.h"
#include "net/timed_request.h"
#include "text/account_forms.h"
#include "text/gbk.h"
#include "text/page_cuts.h"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace qiv {
namespace {

using namespace std::chrono_literals;

struct Ended {
    int status = -1; // -1: still running at the bound (then killed)
    std::string out, err;
};

// A started program and the files its output goes to.
struct Child {
    pid_t pid = -1;
    std::string out, err;
};

std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

std::size_t countOf(const std::string& text, const std::string& part)
{
    std::size_t n = 0;
    for (size_t at = 0; (at = text.find(part, at)) != std::string::npos; ++at)
        ++n;
    return n;
}

class FollowProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        char name[] = "/tmp/qiv-follow-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
        mkdir((dir_ + "/run").c_str(), 0700);
        password_ = dir_ + "/pw";
        std::ofstream(password_) << "secret1\n";
        chmod(password_.c_str(), 0600);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    void startServer(const std::vector<std::string>& extra = {})
    {
        server_ = std::make_unique<test::DevServerChild>(test::DevServerAddresses{}, extra);
        ASSERT_TRUE(server_->running());
    }

    std::string post(const std::string& host, const std::string& page, const std::string& body)
    {
        return timedRequest(network_, "http://" + host + page, "POST", {}, {}, body, 10);
    }

    void registerAccount(const std::string& target, bool hide = false,
                         const std::string& titleUtf8 = "我的主页",
                         const std::string& user = "home")
    {
        const std::string title = gbk(titleUtf8), name = gbk("张三"), address = gbk("北京市");
        post(server_->serviceHost(), "/reg.php",
             formBody({{"username", user},
                       {"domainname", "qiv.cn"},
                       {"Password", "secret1"},
                       {"rePassword", "secret1"},
                       {"Title", title},
                       {"SendUrl", target},
                       {.key = "State", .value = "1", .raw = true, .present = hide},
                       {"EmailAdr", "me@qiv.cn"},
                       {"RegName", name},
                       {"LinkTel", "010-12345678"},
                       {"Address", address}}));
    }

    void setIp(const std::string& ip)
    {
        ASSERT_EQ(post(server_->ipHost(), "/control/ip", ip), "ok\n");
    }

    // The account as a fresh login reads it.
    AccountPage account()
    {
        network_.cookies.clear();
        return cutAccountPage(
            post(server_->serviceHost(), "/login.php", loginFormBody("home", "qiv.cn", "secret1")));
    }

    // The program with `args`, the hosts of the server and the test's own
    // home, config, state and runtime directories.
    Child start(std::vector<std::string> args, const char* program = QIV_FOLLOW_PATH)
    {
        // Before the test's own arguments, which win.
        if (server_ && program == std::string(QIV_FOLLOW_PATH))
            args.insert(args.begin(), {"--service-host=" + server_->serviceHost(),
                                       "--ip-host=" + server_->ipHost()});
        std::vector<std::string> all{program};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : all)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        const std::string n = std::to_string(++runs_);
        Child child{-1, dir_ + "/out" + n, dir_ + "/err" + n};
        child.pid = fork();
        if (child.pid == 0) {
            for (const char* dir : {"HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_DATA_HOME"})
                setenv(dir, (dir_ + "/" + dir).c_str(), 1);
            // Nothing of the follower's lives in the runtime directory.
            unsetenv("XDG_RUNTIME_DIR");
            setenv("QIV_FOLLOW", QIV_FOLLOW_PATH, 1);
            unsetenv("CREDENTIALS_DIRECTORY");
            // The machine's own hosts file is no part of a test.
            setenv("QIV_HOSTS_SYSTEM_FILE", (dir_ + "/system-hosts.conf").c_str(), 1);
            for (const auto& [name, value] : env_)
                setenv(name.c_str(), value.c_str(), 1);
            // No session bus but the one a test starts: nothing autolaunched.
            unsetenv("DISPLAY");
            setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir_ + "/no-bus").c_str(), 1);
            const int in = open("/dev/null", O_RDONLY);
            const int out = open(child.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int err = open(child.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(in, 0);
            dup2(out, 1);
            dup2(err, 2);
            execv(argv[0], argv.data());
            _exit(127);
        }
        return child;
    }

    Ended finish(const Child& child, std::chrono::milliseconds bound = 30s)
    {
        const pid_t pid = child.pid;
        Ended run;
        const auto deadline = std::chrono::steady_clock::now() + bound;
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                status = -1;
                break;
            }
            std::this_thread::sleep_for(10ms);
        }
        if (status != -1)
            run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        run.out = readAll(child.out);
        run.err = readAll(child.err);
        return run;
    }

    Ended follow(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--name", "home", "--suffix", "qiv.cn"});
        return finish(start(args));
    }

    // Waits up to `bound` for `text` in the file at `path`.
    bool waitFor(const std::string& path, const std::string& text,
                 std::chrono::milliseconds bound = 10s)
    {
        for (auto end = std::chrono::steady_clock::now() + bound;
             std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(10ms))
            if (readAll(path).find(text) != std::string::npos)
                return true;
        return false;
    }

    // Ends `child` with `signal`; the time it took goes into *took.
    Ended stopWith(const Child& child, int signal, std::chrono::nanoseconds* took)
    {
        const auto signalled = std::chrono::steady_clock::now();
        kill(child.pid, signal);
        Ended run = finish(child, 5s);
        *took = std::chrono::steady_clock::now() - signalled;
        return run;
    }

    // Whether `pid` has ended within a second (a zombie of init's counts).
    static bool ended(pid_t pid)
    {
        for (int i = 0; i < 50; ++i, std::this_thread::sleep_for(20ms))
            if (kill(pid, 0) != 0 ||
                readAll("/proc/" + std::to_string(pid) + "/stat").find(") Z ") != std::string::npos)
                return true;
        return false;
    }

    std::string history(const std::string& account = "home.qiv.cn")
    {
        return readAll(dir_ + "/XDG_STATE_HOME/qiv-forward/follow/" + account + ".history.log");
    }

    std::string dir_, password_;
    std::vector<std::pair<std::string, std::string>> env_;
    int runs_ = 0;
    std::unique_ptr<test::DevServerChild> server_;
    Network network_{};
};

// One --once round for each kind of target and reply.
TEST_F(FollowProgram, OneRound)
{
    struct Case {
        std::string name;
        std::string target;
        bool hide;
        std::string ip;
        std::vector<std::string> faults; // devserver options
        std::vector<std::string> args;   // beyond name, suffix and --once
        int status;
        const char* event;
        std::string after;     // the target after the round
        std::string says = {}; // a part of the event lines
        std::string title = {};
        // The replies of the IP pages given by --ip-url, each its own server,
        // and how many of them the round asks.
        std::vector<std::string> fallbacks = {};
        std::size_t fallbacksAsked = 0;
    };
    std::vector<Case> cases = {
        {"moves",
         "http://203.0.113.7:8080/app?x=1",
         false,
         "198.51.100.23",
         {},
         {},
         0,
         "verified",
         "http://198.51.100.23:8080/app?x=1"},
        {"moves, kept hidden",
         "203.0.113.7",
         true,
         " 198.51.100.23\r\n",
         {},
         {},
         0,
         "verified",
         "198.51.100.23"},
        {"moves IPv6",
         "https://[2001:db8::1]:81/p",
         false,
         "2001:db8::2",
         {},
         {},
         0,
         "verified",
         "https://[2001:db8::2]:81/p"},
        {"current",
         "http://[2001:db8::2]/",
         false,
         "2001:db8:0::2",
         {},
         {},
         0,
         "current",
         "http://[2001:db8::2]/"},
        {"host name",
         "http://home.example.org/",
         false,
         "198.51.100.23",
         {},
         {},
         0,
         "left-alone",
         "http://home.example.org/"},
        {"other family",
         "http://203.0.113.7/",
         false,
         "2001:db8::2",
         {},
         {},
         0,
         "left-alone",
         "http://203.0.113.7/"},
        {"dry run",
         "http://203.0.113.7/",
         false,
         "198.51.100.23",
         {},
         {"--dry-run"},
         0,
         "dry-run",
         "http://203.0.113.7/"},
        {"page not read whole",
         "http://203.0.113.7/",
         false,
         "198.51.100.23",
         {"--fault", "login=truncated"},
         {},
         1,
         "not-read",
         "http://203.0.113.7/"},
        {"login refused",
         "http://203.0.113.7/",
         false,
         "198.51.100.23",
         {},
         {"--name", "nobody"},
         1,
         "refused",
         "http://203.0.113.7/"},
        {"modification refused",
         "http://203.0.113.7/",
         false,
         "198.51.100.23",
         {"--fault", "modify_in=no-marker"},
         {},
         1,
         "modify-failed",
         "http://203.0.113.7/"},
        {"IP reply no address",
         "http://203.0.113.7/",
         false,
         "<html>502</html>",
         {},
         {},
         1,
         "failed",
         "http://203.0.113.7/"},
        {"IP page silent",
         "http://203.0.113.7/",
         false,
         "198.51.100.23",
         {"--fault", "getip=empty"},
         {},
         3,
         "unreachable",
         "http://203.0.113.7/"},
    };
    using Pages = std::vector<std::string>;
    const auto add = [&cases](const std::string& target, const std::string& ip, Pages faults,
                              int status, const char* event, const std::string& after,
                              std::string says, std::string title = {}, Pages pages = {},
                              std::size_t asked = 0) {
        cases.push_back({event + (" " + ip),
                         target,
                         false,
                         ip,
                         std::move(faults),
                         {},
                         status,
                         event,
                         after,
                         std::move(says),
                         std::move(title),
                         std::move(pages),
                         asked});
    };
    const std::string v4 = "http://203.0.113.7/", v6 = "http://[2001:db8::1]/";
    const std::string moved = "http://198.51.100.23/", ip = "198.51.100.23";
    // Addresses no visitor reaches: no login, exit status 1.
    add(v4, "100.64.3.4", {}, 1, "ip-refused", v4,
        "carrier-grade NAT: forwarding to it cannot reach this machine");
    add(v4, "127.0.0.1", {}, 1, "ip-refused", v4, "answered 127.0.0.1, a loopback address");
    add(v4, "192.168.1.20", {}, 1, "ip-refused", v4, "a private address");
    add(v4, "10.0.0.8", {}, 1, "ip-refused", v4, "a private address");
    add(v6, "fd12::1", {}, 1, "ip-refused", v6, "unique-local");
    add(v6, "fe80::1", {}, 1, "ip-refused", v6, "link-local");
    add(v6, "::ffff:198.51.100.23", {}, 1, "ip-refused", v6, "IPv4-mapped");
    // The built-in IP page first, then each --ip-url in order; the devserver's
    // default reply is followed.
    add(v4, "100.64.3.4", {}, 0, "verified", "http://198.51.100.77/",
        "ip: 198.51.100.77 from http://127.0.0.", {},
        {"192.168.0.2", "198.51.100.77", "198.51.100.88"}, 2);
    add(v4, ip, {}, 0, "verified", moved, "ip: 198.51.100.23\n", {}, {"198.51.100.77"}, 0);
    add(v4, "10.0.0.1", {}, 1, "failed", v4, "answered 100.64.0.1", {}, {"100.64.0.1"}, 1);
    add(v4, "", {}, 0, "verified", "http://198.51.100.1/", "ip: 198.51.100.1\n");
    // Read whole, strictly, or nothing is sent; then verified: the fresh
    // login shows everything as sent.
    const std::string quoted = "say \"hi\" now";
    const Pages raw{"--fault", "login=raw-quotes"};
    add(v4, ip, raw, 1, "not-read", v4, "value of Title holds a double quote", quoted);
    add(v4, ip, raw, 0, "verified", moved, "");
    add(v4, ip, {}, 1, "not-read", v4, "Title holds the character reference &quot;", quoted);
    add(v4, ip, {"--fault", "login=entity"}, 1, "not-read", v4,
        "until the reference is removed from Title");
    add(v4, ip, {"--fault", "login=no-hide-row"}, 1, "not-read", v4,
        "the hide flag (State) row is missing");
    add(v4, ip, {"--fault", "modify_in=stale"}, 1, "not-verified", v4,
        "shows SendUrl as \"" + v4 + "\", it was sent as \"" + moved + "\"");
    add(v4, ip, {"--fault", "modify_in=altered"}, 1, "not-verified", moved,
        " (altered)\", it was sent as");
    add(v4, ip, {"--fault", "modify_in=flip-hide"}, 1, "not-verified", moved,
        "the hide flag (State) ticked, it was sent unticked");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        startServer(c.faults);
        registerAccount(c.target, c.hide, c.title.empty() ? "我的主页" : c.title);
        // A fault on the login page hides the account from the test too.
        const bool readable = c.faults.empty() || c.faults[1].rfind("login=", 0) != 0;
        const AccountPage before = account();
        if (readable) {
            ASSERT_EQ(before.values.SendUrl, c.target);
        }
        setIp(c.ip);
        std::vector<std::string> args{"--once", "--password-file", password_};
        args.insert(args.end(), c.args.begin(), c.args.end());
        // Each fallback page on addresses of its own: hosts the cookie store
        // was not told of.
        std::vector<std::unique_ptr<test::DevServerChild>> fallbacks;
        for (const std::string& reply : c.fallbacks) {
            const auto at = [n = 4 + 3 * fallbacks.size()](std::size_t role) {
                return "127.0.0." + std::to_string(n + role) + ":0";
            };
            fallbacks.push_back(std::make_unique<test::DevServerChild>(
                test::DevServerAddresses{at(0), at(1), at(2)},
                std::vector<std::string>{"--ip-reply", reply}));
            ASSERT_TRUE(fallbacks.back()->running());
            args.push_back("--ip-url=http://" + fallbacks.back()->ipHost() + "/getip/getip.asp");
        }
        const bool asked = c.event != std::string("ip-refused") &&
                           c.event != std::string("failed") &&
                           c.event != std::string("unreachable");
        // --status before any round and after it: how it ended, the target
        // and the IP; a dry run leaves no state.
        std::vector<std::string> status{"--status"};
        status.insert(status.end(), c.args.begin(), c.args.end());
        const Ended none = follow(status);
        EXPECT_EQ(none.status, 1);
        EXPECT_NE(none.out.find("no round has run yet"), std::string::npos) << none.out;
        const std::size_t loginsBefore = countOf(server_->err(), "POST /login.php");
        const Ended run = follow(args);
        const Ended state = follow(status);
        const std::string event = c.event;
        const std::string ended = event == "verified"                          ? "changed"
                                  : event == "failed" || event == "ip-refused" ? "bad-ip"
                                                                               : event;
        if (event == "dry-run") {
            EXPECT_EQ(state.out, none.out);
        } else {
            EXPECT_EQ(state.status, c.status == 0 ? 0 : 1) << state.out;
            EXPECT_NE(state.out.find(", " + ended + (c.status ? " (failed)\n" : "\n")),
                      std::string::npos)
                << state.out;
            EXPECT_NE(
                state.out.find(asked && ended != "not-read" && ended != "refused"
                                   ? "target:      " + (event == "verified" ? c.after : c.target)
                                   : "not seen yet"),
                std::string::npos)
                << state.out;
            EXPECT_EQ(state.out.find("last change: none seen") == std::string::npos,
                      event == "verified")
                << state.out;
        }
        EXPECT_EQ(run.status, c.status) << run.out << run.err;
        EXPECT_NE(run.out.find(" " + std::string(c.event) + ": "), std::string::npos) << run.out;
        EXPECT_NE(run.out.find(c.says), std::string::npos) << run.out;
        EXPECT_EQ(countOf(server_->err(), "POST /login.php") > loginsBefore, asked)
            << server_->err();
        std::size_t fallbacksAsked = 0;
        for (const auto& fallback : fallbacks)
            fallbacksAsked += fallback->err().find("GET /getip/getip.asp") != std::string::npos;
        EXPECT_EQ(fallbacksAsked, c.fallbacksAsked);
        // Only a target that moves is written; the server logs each request.
        const bool posted = c.after != c.target || c.event == std::string("modify-failed") ||
                            c.event == std::string("not-verified");
        EXPECT_EQ(server_->err().find("POST /modify_in.php") != std::string::npos, posted)
            << server_->err();
        // Every event line is in the history too; a dry run writes nothing.
        if (c.event == std::string("dry-run"))
            EXPECT_FALSE(std::filesystem::exists(dir_ + "/XDG_STATE_HOME")) << c.name;
        else
            EXPECT_EQ(history(c.args.empty() ? "home.qiv.cn" : "nobody.qiv.cn"), run.out);
        std::filesystem::remove_all(dir_ + "/XDG_STATE_HOME");
        if (!readable)
            continue;
        const AccountPage after = account();
        EXPECT_EQ(after.values.SendUrl, c.after);
        if (c.event == std::string("not-verified"))
            continue;
        // Nothing but the target changes, the hide flag included.
        AccountSnapshot expected = before.values;
        expected.SendUrl = c.after;
        EXPECT_EQ(after.values.Title + after.values.EmailAdr + after.values.RegName +
                      after.values.LinkTel + after.values.Address,
                  expected.Title + expected.EmailAdr + expected.RegName + expected.LinkTel +
                      expected.Address);
        EXPECT_EQ(hideBoxTicked(after.state), c.hide);
    }
}

// The follower lives across rounds: a refused address is logged once until
// the IP page's reply changes.
TEST_F(FollowProgram, RefusedAddressLoggedOncePerReply)
{
    startServer();
    registerAccount("http://203.0.113.7/");
    const std::string history = dir_ + "/history.log";
    std::FILE* out = std::tmpfile();
    follow::EventLog log(history, out);
    Network network{.cookies = CookieStore({server_->serviceHost(), server_->ipHost()})};
    follow::RoundSettings settings;
    settings.hosts = {server_->serviceHost(), server_->ipHost(), {}};
    settings.ipTries = 1;
    follow::Follower follower(network, settings,
                              follow::Account{"home.qiv.cn", "home", "qiv.cn", "secret1"}, log,
                              [](std::chrono::milliseconds) { return true; });
    // Each round's IP reply, and the ip-refused lines logged after it.
    const std::pair<const char*, std::size_t> rounds[] = {
        {"100.64.3.4", 1}, {"100.64.3.4", 1},        {"10.0.0.1", 2},   {"10.0.0.1", 2},
        {"100.64.3.4", 3}, {"<html>busy</html>", 3}, {"100.64.3.4", 4},
    };
    for (const auto& [ip, lines] : rounds) {
        setIp(ip);
        EXPECT_EQ(follower.runRound(), follow::Outcome::BadIpReply) << ip;
        EXPECT_EQ(countOf(readAll(history), " ip-refused: "), lines) << ip << readAll(history);
    }
    std::fclose(out);
    EXPECT_EQ(server_->err().find("POST /login.php"), std::string::npos) << server_->err();
}

TEST_F(FollowProgram, RefusedBeforeAnyRequest)
{
    startServer();
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"--password-file", "PW", "--once"}, "open to group or others"},
        {{"--config", "NONE", "--once"}, "none.conf: cannot be read (No such file"},
        {{"--once"}, "Secret Service"},
        {{"--password-file", "PW", "--interval", "30"}, "at least 60"},
        {{"--password-file", "PW", "--suffix", "\xC4\xE3"}, "GBK"},
    };
    chmod(password_.c_str(), 0644);
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        std::replace(args.begin(), args.end(), std::string("PW"), password_);
        std::replace(args.begin(), args.end(), std::string("NONE"), dir_ + "/none.conf");
        const Ended run = follow(args);
        EXPECT_EQ(run.status, 2) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    }
    // A state folder others may enter holds no lock.
    chmod(password_.c_str(), 0600);
    const std::string state = dir_ + "/XDG_STATE_HOME/qiv-forward/follow";
    std::filesystem::create_directories(state);
    chmod(state.c_str(), 0755);
    const Ended open = follow({"--password-file", password_, "--once"});
    EXPECT_EQ(open.status, 2);
    EXPECT_NE(open.err.find("(mode 755); refused. chmod 700"), std::string::npos) << open.err;
    EXPECT_EQ(server_->err().find(" GET "), std::string::npos) << server_->err();
    EXPECT_EQ(server_->err().find(" POST "), std::string::npos) << server_->err();
    EXPECT_EQ(finish(start({"--help"})).status, 0);
    EXPECT_EQ(finish(start({"--version"})).out, "qiv-follow " QIV_VERSION "\n");
}

// Without a service host from any source, or with a hosts file others can
// write, the program ends with status 2 before any request: the words name
// the files and the option, or the file and its fault.
TEST_F(FollowProgram, NoServiceHostOrARefusedHostsFile)
{
    const std::string user = dir_ + "/XDG_CONFIG_HOME/qiv-forward/hosts.conf";
    const std::string system = dir_ + "/system-hosts.conf";
    std::filesystem::create_directories(dir_ + "/XDG_CONFIG_HOME/qiv-forward");
    const struct {
        const char* userText;
        mode_t userMode;
        bool builtIn;
        std::string says;
    } rows[] = {
        {nullptr, 0, false,
         "qiv-follow: 未设置服务主机：请在 " + user + " 或 " + system +
             " 中写入 service-host = 主机[:端口]，或以 --service-host 主机[:端口] 启动。\n"
             "No service host is set"},
        {"ip-host = i\n", 0600, false, "No service host is set: put service-host"},
        {"service-host = 127.0.0.1:1\n", 0620, true,
         "qiv-follow: " + user + ": refused: others can write it (mode 620)"},
        {"\nservice-host 127.0.0.1:1\n", 0600, true, user + ":2: expected key = value"},
    };
    for (const auto& row : rows) {
        std::filesystem::remove(user);
        if (row.userText) {
            std::ofstream(user) << row.userText;
            chmod(user.c_str(), row.userMode);
        }
        env_ = {{"QIV_HOSTS_NONE_BUILT_IN", row.builtIn ? "" : "1"}};
        const Ended run = follow({"--password-file", password_, "--once"});
        EXPECT_EQ(run.status, 2) << run.err;
        EXPECT_NE(run.err.find(row.says), std::string::npos) << run.err;
    }
    // The help says where each host comes from, and that none is set.
    EXPECT_EQ(finish(start({"--version"})).status, 0) << "a refused file ends no --version";
    std::filesystem::remove(user);
    std::ofstream(system) << "ip-host = 127.0.0.9\n";
    env_ = {{"QIV_HOSTS_NONE_BUILT_IN", "1"}};
    const Ended help = finish(start({"--help"}));
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("  service host: none set\n  ip host:      127.0.0.9 from " + system),
              std::string::npos)
        << help.out;
}

// The loop: one instance per account, in a folder no other user can enter;
// another account's follower runs beside it. SIGTERM ends it at once, also
// while a request waits.
TEST_F(FollowProgram, LockAndSigterm)
{
    startServer({"--fault", "login=delay:4000"});
    registerAccount("http://203.0.113.7/");
    setIp("198.51.100.23");
    const Child first = start(
        {"--name", "home", "--suffix", "qiv.cn", "--password-file", password_, "--interval", "60"});
    // Its login now waits in the server's delay.
    ASSERT_TRUE(waitFor(first.out, " ip: 198.51.100.23")) << readAll(first.out);
    // The same account is one follower, whatever service host it is given:
    // both would write its history.
    for (const char* host : {"", "--service-host=127.0.0.1:9"}) {
        std::vector<std::string> args{"--once", "--password-file", password_};
        if (*host)
            args.push_back(host);
        Ended second = follow(args);
        EXPECT_EQ(second.status, 2) << host;
        EXPECT_NE(second.err.find("another qiv-follow runs"), std::string::npos) << second.err;
    }
    // Its login waits as well, beside the first.
    const Child other =
        start({"--name", "work", "--suffix", "qiv.cn", "--password-file", password_, "--once"});

    const std::string state = dir_ + "/XDG_STATE_HOME/qiv-forward/follow";
    std::string lock;
    for (const auto& entry : std::filesystem::directory_iterator(state))
        if (entry.path().filename() == "home.qiv.cn.lock")
            lock = entry.path();
    ASSERT_NE(lock, "");
    struct stat st {};
    ASSERT_EQ(stat(state.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // Another user, with every folder above open to them, can neither
    // open the lock nor make a file beside it.
    if (geteuid() == 0) {
        for (const std::string& open : {dir_, dir_ + "/XDG_STATE_HOME", state + "/.."})
            chmod(open.c_str(), 0755);
        const pid_t stranger = fork();
        if (stranger == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0)
                _exit(3);
            const bool held = open(lock.c_str(), O_RDONLY) >= 0 ||
                              open((state + "/x.lock").c_str(), O_RDWR | O_CREAT, 0600) >= 0;
            _exit(held ? 1 : errno == EACCES ? 0 : 2);
        }
        int status = -1;
        waitpid(stranger, &status, 0);
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }

    std::chrono::nanoseconds took{};
    const Ended run = stopWith(first, SIGTERM, &took);
    EXPECT_LT(took, 1s);
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find(" stopped: SIGTERM"), std::string::npos) << run.out;
    const Ended otherRun = finish(other);
    EXPECT_EQ(otherRun.status, 1) << otherRun.out << otherRun.err; // work is not registered
    EXPECT_NE(otherRun.out.find(" refused: "), std::string::npos) << otherRun.out;
    EXPECT_EQ(history("work.qiv.cn"), otherRun.out);
}

// SIGTERM and SIGINT end a Secret Service lookup that never gets an answer:
// the session bus accepts the connection and says nothing.
TEST_F(FollowProgram, StopDuringKeyringLookup)
{
    const int bus = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = dir_ + "/no-bus";
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::copy(path.begin(), path.end(), address.sun_path);
    ASSERT_EQ(bind(bus, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(bus, 8), 0);
    for (int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        const Child child = start({"--name", "home", "--suffix", "qiv.cn", "--once",
                                   "--service-host=127.0.0.1:9", "--ip-host=127.0.0.1:9"});
        std::this_thread::sleep_for(700ms);
        int status = 0;
        ASSERT_EQ(waitpid(child.pid, &status, WNOHANG), 0) << readAll(child.err);
        std::chrono::nanoseconds took{};
        const Ended run = stopWith(child, signal, &took);
        EXPECT_LT(took, 1s);
        EXPECT_EQ(run.status, 0) << run.err;
    }
    close(bus);
}

// Ctrl-C at the password prompt: the terminal has its echo back.
TEST_F(FollowProgram, InterruptedPromptRestoresTerminal)
{
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setenv("HOME", dir_.c_str(), 1);
        setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir_ + "/no-bus").c_str(), 1);
        execl(QIV_FOLLOW_PATH, QIV_FOLLOW_PATH, "--store-password", "--name", "home", "--suffix",
              "qiv.cn", nullptr);
        _exit(127);
    }
    // Held open here, the terminal keeps its settings after the program.
    const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    std::string shown;
    for (int i = 0; i < 500 && shown.find("Password: ") == std::string::npos; ++i) {
        char buffer[256];
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n > 0)
            shown.append(buffer, static_cast<size_t>(n));
    }
    ASSERT_NE(shown.find("Password: "), std::string::npos) << shown;
    termios settings{};
    ASSERT_EQ(tcgetattr(terminal, &settings), 0);
    EXPECT_EQ(settings.c_lflag & ECHO, 0u);
    ASSERT_EQ(write(master, "\x03", 1), 1);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    ASSERT_EQ(tcgetattr(terminal, &settings), 0);
    EXPECT_NE(settings.c_lflag & ECHO, 0u);
    close(terminal);
    close(master);
}

// A refused login: the next try after the first pause, then twice as long
// each time, each try logged.
TEST_F(FollowProgram, RefusalBacksOff)
{
    startServer();
    registerAccount("http://203.0.113.7/");
    setIp("198.51.100.23");
    env_ = {{"QIV_FOLLOW_REFUSAL_PAUSE_MS", "300"}};
    const Child child = start({"--name", "nobody", "--suffix", "qiv.cn", "--password-file",
                               password_, "--interval", "60"});
    ASSERT_TRUE(waitFor(child.out, "3 refused logins in a row")) << readAll(child.out);
    std::chrono::nanoseconds took{};
    const Ended run = stopWith(child, SIGINT, &took);
    for (const char* line : {"1 refused login in a row; next try in 300 ms",
                             "2 refused logins in a row; next try in 600 ms",
                             "3 refused logins in a row; next try in 1200 ms", "stopped: SIGINT"})
        EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n" << run.out;
    const std::string requests = server_->err();
    size_t logins = 0;
    for (size_t at = requests.find("POST /login.php"); at != std::string::npos;
         at = requests.find("POST /login.php", at + 1))
        ++logins;
    EXPECT_EQ(logins, 3u) << requests;
    EXPECT_LT(took, 1s);
}

// The user's event command: what it is given, what it is not (nothing of
// the password: the account's password comes from the credentials folder),
// its limit and its status in the log.
TEST_F(FollowProgram, EventCommand)
{
    const std::string report = dir_ + "/report";
    // bash -c holds no descriptor of its own beyond 0-2; ls adds the one it
    // reads /proc/self/fd with.
    const std::string dump =
        "/bin/bash -c 'env > \"$0.env\"; printf \"%s\\n\" \"$@\" > \"$0.args\"; "
        "ls -l /proc/self/fd > \"$0.fds\"; cat /proc/self/cmdline "
        "/proc/self/environ /proc/$$/environ > \"$0.proc\"; "
        "cat /proc/self/fd/0 >> \"$0.proc\"' " +
        report + " \"a b\" 'c \"d\"' '$HOME' '*'";
    const struct {
        const char* name;
        std::string command;
        bool refused;                  // the login refused, else a change
        std::vector<std::string> args; // beyond name, suffix, the password
        std::vector<const char*> says; // in the output
        std::function<void(const Ended&)> check = {};
    } cases[] = {
        {"what it is given",
         dump,
         false,
         {"--once"},
         {"event-command: /bin/bash for changed exited with status 0"},
         [&](const Ended&) {
             const std::string env = readAll(report + ".env");
             for (const char* line :
                  {"QIV_EVENT=changed\n", "QIV_DOMAIN=home.qiv.cn\n", "QIV_IP=198.51.100.23\n",
                   "QIV_OLD_TARGET=http://203.0.113.7/\n", "QIV_NEW_TARGET=http://198.51.100.23/\n",
                   "QIV_MESSAGE=verified: the account page shows the target http://198.51.100.23/"})
                 EXPECT_NE(env.find(line), std::string::npos) << line << env;
             EXPECT_EQ(env.find("CREDENTIALS_DIRECTORY"), std::string::npos) << env;
             EXPECT_EQ(env.find("QIV_FOLLOW"), std::string::npos) << env;
             EXPECT_EQ(readAll(report + ".args"), "a b\nc \"d\"\n$HOME\n*\n");
             const std::string fds = readAll(report + ".fds");
             EXPECT_EQ(countOf(fds, " -> "), 4u) << fds;
             EXPECT_NE(fds.find(" 0 -> /dev/null"), std::string::npos) << fds;
             const std::string seen = env + fds + readAll(report + ".proc");
             EXPECT_EQ(seen.find("secret1"), std::string::npos);
             EXPECT_EQ(seen.find("/creds"), std::string::npos);
         }},
        {"refused, its status",
         "/bin/bash -c 'exit 7'",
         true,
         {"--once"},
         {"event-command: /bin/bash for refused exited with status 7"}},
        {"--once waits for it",
         "/bin/bash -c 'sleep 0.3; echo $QIV_EVENT > " + report + "'",
         true,
         {"--once"},
         {"exited with status 0"},
         [&](const Ended&) { EXPECT_EQ(readAll(report), "refused\n"); }},
        {"no program",
         "no-such-program-here",
         false,
         {"--once"},
         {"no-such-program-here for changed: no such program to run"}},
        // Each refused round 300 ms after the last: the command hangs, is
        // skipped while it does, and is killed at the limit with its group.
        {"hangs",
         "/bin/bash -c 'sleep 60 & echo $! >> " + report + "; wait'",
         true,
         {"--interval", "60"},
         {"event-command: /bin/bash for refused killed with its process group after 500 ms",
          "skipped for refused: /bin/bash still runs for an earlier event",
          "3 refused logins in a row"},
         [&](const Ended&) {
             const pid_t sleeper = std::atoi(readAll(report).c_str());
             ASSERT_GT(sleeper, 0);
             EXPECT_TRUE(ended(sleeper)) << "the group's sleep outlived the limit";
         }},
    };
    const std::string creds = dir_ + "/creds";
    mkdir(creds.c_str(), 0700);
    std::ofstream(creds + "/qiv-follow-password") << "secret1\n";
    chmod((creds + "/qiv-follow-password").c_str(), 0600);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        startServer();
        registerAccount("http://203.0.113.7/");
        setIp("198.51.100.23");
        env_ = {{"CREDENTIALS_DIRECTORY", creds},
                {"QIV_FOLLOW_REFUSAL_PAUSE_MS", "300"},
                {"QIV_FOLLOW_EVENT_LIMIT_MS", "500"}};
        std::vector<std::string> args{
            "--name", c.refused ? "nobody" : "home", "--suffix", "qiv.cn", "--on-event", c.command};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto began = std::chrono::steady_clock::now();
        const Child child = start(args);
        Ended run;
        if (c.args.front() == "--once") {
            run = finish(child);
        } else {
            EXPECT_TRUE(waitFor(child.out, "3 refused logins in a row")) << readAll(child.out);
            // On time: 300 + 600 ms of pauses, a hung command or not.
            EXPECT_LT(std::chrono::steady_clock::now() - began, 3s);
            std::chrono::nanoseconds took{};
            run = stopWith(child, SIGTERM, &took);
        }
        for (const char* part : c.says)
            EXPECT_NE(run.out.find(part), std::string::npos) << part << "\n" << run.out;
        if (c.check)
            c.check(run);
        for (const char* end : {"", ".env", ".args", ".fds", ".proc"})
            std::filesystem::remove(report + end);
    }
}

// Notifications through a stand-in server on a private session bus: one
// for each event the user must know of, a repeated failure once, nothing for
// a target that is current, and nothing tried on a bus without a server.
TEST_F(FollowProgram, Notifications)
{
    if (system("command -v dbus-run-session >/dev/null") != 0)
        GTEST_SKIP() << "dbus-run-session missing (scripts/setup-deps)";
    const struct {
        const char* name;
        std::vector<std::string> faults; // devserver options
        const char* user;
        std::string ip;
        int runs;            // --once runs in a row
        std::size_t shown;   // notifications recorded
        const char* summary; // a part of the first
        bool server = true;
        bool keep = false; // the state of the row before kept
        const char* registered = "home";
    } cases[] = {
        {"changed, then current", {}, "home", "198.51.100.23", 2, 1, "home.qiv.cn：转发目标已更新"},
        {"refused twice", {}, "nobody", "198.51.100.23", 2, 1, "nobody.qiv.cn：登录被拒绝"},
        {"not read twice",
         {"--fault", "login=truncated"},
         "home",
         "198.51.100.23",
         2,
         1,
         "home.qiv.cn：账户页未能完整读取"},
        {"not verified twice",
         {"--fault", "modify_in=stale"},
         "home",
         "198.51.100.23",
         2,
         1,
         "home.qiv.cn：修改未能核对"},
        {"no usable IP twice", {}, "home", "192.168.1.20", 2, 1, "home.qiv.cn：没有可用的公网 IP"},
        {"another failure is shown",
         {},
         "home",
         "<html>502</html>",
         1,
         1,
         "没有可用的公网 IP",
         true,
         true},
        {"a bus without a server", {}, "nobody", "198.51.100.23", 1, 0, "", false},
        // Once until it clears: the state file keeps it from run to run.
        {"refused", {}, "nobody", "198.51.100.23", 1, 1, "登录被拒绝"},
        {"refused still", {}, "nobody", "198.51.100.23", 1, 0, "", true, true},
        {"cleared", {}, "nobody", "198.51.100.23", 1, 1, "转发目标已更新", true, true, "nobody"},
        {"refused again", {}, "nobody", "198.51.100.23", 1, 1, "登录被拒绝", true, true},
    };
    const std::string file = dir_ + "/notices";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.keep)
            std::filesystem::remove_all(dir_ + "/XDG_STATE_HOME");
        startServer(c.faults);
        registerAccount("http://203.0.113.7/", false, "我的主页", c.registered);
        setIp(c.ip);
        std::string runs;
        for (int i = 0; i < c.runs; ++i)
            runs += " && \"$QIV_FOLLOW\" --once --name " + std::string(c.user) +
                    " --suffix qiv.cn --password-file " + password_ +
                    " --service-host=" + server_->serviceHost() +
                    " --ip-host=" + server_->ipHost() + " || true";
        const std::string script =
            (c.server ? "\"" QIV_RECORDER_PATH "\" " + file + " & while [ ! -e " + file +
                            ".ready ]; do sleep 0.02; done"
                      : std::string("true")) +
            runs;
        const Ended run =
            finish(start({"--", "/bin/bash", "-c", script}, "/usr/bin/dbus-run-session"));
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        const std::string notices = readAll(file);
        EXPECT_EQ(countOf(notices, "qiv-follow\t"), c.shown) << notices << run.out;
        EXPECT_NE(notices.find(c.summary), std::string::npos) << notices;
        // Nothing said of notifications when there is no server; nothing failed.
        EXPECT_EQ(run.out.find("notif"), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("notify-failed"), std::string::npos) << run.out;
        std::filesystem::remove(file);
        std::filesystem::remove(file + ".ready");
    }
}

// SIGTERM ends a running event command with the follower.
TEST_F(FollowProgram, EventCommandEndsWithTheFollower)
{
    startServer();
    registerAccount("http://203.0.113.7/");
    setIp("198.51.100.23");
    const std::string pidFile = dir_ + "/pid";
    const Child child =
        start({"--name", "nobody", "--suffix", "qiv.cn", "--password-file", password_, "--on-event",
               "/bin/bash -c 'echo $$ > " + pidFile + "; exec sleep 60'"});
    ASSERT_TRUE(waitFor(pidFile, "\n")) << readAll(child.out);
    const pid_t command = std::atoi(readAll(pidFile).c_str());
    std::chrono::nanoseconds took{};
    const Ended run = stopWith(child, SIGTERM, &took);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(ended(command)) << run.out;
}

// An account of its own config file, its password beside it: a refusal
// waits the hour, a new password file ends the wait at once, SIGHUP reads
// the config again, SIGTERM ends it.
TEST_F(FollowProgram, ConfigFileReloads)
{
    startServer();
    registerAccount("http://203.0.113.7/");
    setIp("198.51.100.23");
    const std::string folder = dir_ + "/accounts";
    mkdir(folder.c_str(), 0700);
    std::ofstream(folder + "/home.conf") << "name = home\nsuffix = qiv.cn\ninterval = 60\n";
    const std::string password = folder + "/home.password";
    std::ofstream(password) << "wrong\n";
    chmod(password.c_str(), 0600);
    const Child child = start({"--config", folder + "/home.conf"});
    ASSERT_TRUE(waitFor(child.out, "1 refused login in a row; next try in 3600 s"))
        << readAll(child.out);

    std::ofstream(password) << "secret1\n";
    EXPECT_TRUE(waitFor(child.out, " verified: ", 8s)) << readAll(child.out);
    EXPECT_NE(readAll(child.out).find("reloading: the password file changed"), std::string::npos);
    EXPECT_EQ(account().values.SendUrl, "http://198.51.100.23/");

    // The reload reads the ip-url lines too: the built-in page's address is
    // refused, the new fallback page's is followed.
    test::DevServerChild fallback({"127.0.0.4:0", "127.0.0.5:0", "127.0.0.6:0"},
                                  {"--ip-reply", "198.51.100.24"});
    ASSERT_TRUE(fallback.running());
    const std::string fallbackUrl = "http://" + fallback.ipHost() + "/getip/getip.asp";
    std::ofstream(folder + "/home.conf")
        << "name = home\nsuffix = qiv.cn\ninterval = 120\nip-url = " << fallbackUrl << "\n";
    setIp("10.0.0.1");
    kill(child.pid, SIGHUP);
    EXPECT_TRUE(waitFor(child.out, "reloaded: following home.qiv.cn every 120 s"))
        << readAll(child.out);
    EXPECT_TRUE(waitFor(child.out, "verified: the account page shows the target "
                                   "http://198.51.100.24/"))
        << readAll(child.out);
    EXPECT_NE(readAll(child.out).find("ip: 198.51.100.24 from " + fallbackUrl), std::string::npos)
        << readAll(child.out);
    // A config gone bad keeps the follower as it was.
    std::ofstream(folder + "/home.conf") << "name home\n";
    kill(child.pid, SIGHUP);
    EXPECT_TRUE(waitFor(child.out, "reload-failed: ")) << readAll(child.out);

    std::chrono::nanoseconds took{};
    const Ended run = stopWith(child, SIGTERM, &took);
    EXPECT_LT(took, 1s);
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find(" stopped: SIGTERM"), std::string::npos) << run.out;
    EXPECT_EQ(history(), run.out);
}

// The password from a real Secret Service: gnome-keyring on a private
// session bus, unlocked from standard input so that no prompt waits.
TEST_F(FollowProgram, KeyringPassword)
{
    if (system("command -v dbus-run-session gnome-keyring-daemon >/dev/null") != 0)
        GTEST_SKIP() << "dbus-run-session or gnome-keyring-daemon missing (scripts/setup-deps)";
    startServer();
    registerAccount("http://203.0.113.7/");
    setIp("198.51.100.23");
    // gnome-keyring keeps its control socket there.
    env_ = {{"XDG_RUNTIME_DIR", dir_ + "/run"}};
    const std::string hosts =
        " --service-host=" + server_->serviceHost() + " --ip-host=" + server_->ipHost();
    const std::string script =
        "mkdir -p \"$XDG_DATA_HOME\" && printf unlock | gnome-keyring-daemon --unlock "
        "--components=secrets >/dev/null && "
        "printf 'secret1\\n' | \"$QIV_FOLLOW\" --store-password --name home --suffix qiv.cn" +
        hosts + " && \"$QIV_FOLLOW\" --once --name home --suffix qiv.cn" + hosts;
    const Ended run = finish(start({"--", "/bin/bash", "-c", script}, "/usr/bin/dbus-run-session"));
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("stored in the Secret Service"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(" verified: "), std::string::npos) << run.out;
    EXPECT_EQ(account().values.SendUrl, "http://198.51.100.23/");
}

} // namespace
} // namespace qiv
