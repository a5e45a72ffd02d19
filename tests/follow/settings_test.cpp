// qiv-follow's command line and config file, its wait between rounds, the
// password file and the history file, as tables.
#include "config/host_files.h"
#include "follow/event_log.h"
#include "follow/instance_lock.h"
#include "follow/password.h"
#include "follow/settings.h"
#include "follow/state_file.h"
#include "text/gbk.h"

#include <sched.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>

namespace qiv::follow {
namespace {

const config::SourcedHosts kBuiltIn{{"127.0.0.1:8090", "127.0.0.2:8091", "127.0.0.3:8092"},
                                    {"built in", "built in", "built in"}};

TEST(FollowCommandLine, Table)
{
    const struct {
        std::vector<std::string> args;
        std::optional<std::string> config;
        const char* error; // a part of it; "" for none
        const char* name;  // then these
        int interval;
        std::vector<std::string> ipUrls = {};
    } cases[] = {
        {{"--name", "home", "--suffix=qiv.cn"}, {}, "", "home", 300},
        {{"--name=home", "--suffix", "qiv.cn", "--interval", "60", "--once"}, {}, "", "home", 60},
        {{}, "# mine\nname = home\n suffix=qiv.cn \ninterval = 600\n", "", "home", 600},
        {{"--name", "other", "--interval=120"},
         "name = home\nsuffix = qiv.cn\ninterval = 600\n",
         "",
         "other",
         120},
        {{"--name", "张三", "--suffix", "qiv.cn"}, {}, "", "张三", 300},
        {{"--name", "home"}, {}, "no account", "", 0},
        {{"--name", "home", "--suffix", "qiv.cn", "--interval", "59"}, {}, "at least 60", "", 0},
        {{"--suffix", "qiv.cn"}, "name = home\ninterval = 5m\n", "not a number", "", 0},
        {{"--name", "\xF0\x9F\x98\x80", "--suffix", "qiv.cn"}, {}, "GBK", "", 0},
        {{"--name", "\xC4\xE3", "--suffix", "qiv.cn"}, {}, "GBK", "", 0},
        {{"--name", "", "--suffix", "qiv.cn"}, {}, "empty", "", 0},
        {{"--name", "home", "--suffix", "qiv.cn", "--password"}, {}, "unknown option", "", 0},
        {{"--name", "home", "--suffix", "qiv.cn", "--interval"}, {}, "needs a value", "", 0},
        {{"--name", "home", "--suffix", "qiv.cn", "--service-host", "http://x"},
         {},
         "scheme",
         "",
         0},
        {{"--name", "home", "--suffix", "qiv.cn", "--password-file="}, {}, "file name", "", 0},
        {{}, "name = home\npassword = x\n", "follow.conf:2: unknown key", "", 0},
        {{}, "name home\n", "follow.conf:1: expected key = value", "", 0},
        {{"--config", "a.conf", "--name", "home", "--suffix", "qiv.cn"}, {}, "", "home", 300},
        {{"--name", "home", "--suffix", "qiv.cn", "--config="}, {}, "file name", "", 0},
        // The IP pages after the built-in one, in order; options win.
        {{"--ip-url", "http://ip_1.a/ip?x=1", "--ip-url=http://127.0.0.9:81"},
         "name=h\nsuffix=qiv.cn\n",
         "",
         "h",
         300,
         {"http://ip_1.a/ip?x=1", "http://127.0.0.9:81"}},
        {{},
         "name=h\nsuffix=qiv.cn\nip-url = http://b/\nip-url=http://c\n",
         "",
         "h",
         300,
         {"http://b/", "http://c"}},
        {{"--ip-url", "http://a/"},
         "name=h\nsuffix=qiv.cn\nip-url=http://b/\n",
         "",
         "h",
         300,
         {"http://a/"}},
        {{"--ip-url", "https://a/"}, {}, "not an http:// URL", "", 0},
        {{"--ip-url", "http:///ip"}, {}, "the IP page 'http:///ip': empty", "", 0},
        {{"--ip-url", "http://[::1]/"}, {}, "IPv6", "", 0},
        {{"--ip-url", "http://a..b/"}, {}, "empty label", "", 0},
        {{"--ip-url", "http://a/x y"}, {}, "the path holds", "", 0},
        {{}, "name=home\nsuffix=qiv.cn\nip-url = ftp://x/\n", "follow.conf:3: the IP page", "", 0},
        // The event command is split as a shell would, without one.
        {{"--name=h", "--suffix=s", "--on-event", "notify 'a b"},
         {},
         "the event command: 'notify 'a b'",
         "",
         0},
        {{}, "name=h\nsuffix=qiv.cn\non-event = x \"unclosed\n", "follow.conf:3: on-event:", "", 0},
    };
    for (const auto& c : cases) {
        const std::string shown = ::testing::PrintToString(c.args);
        CommandLine line = readCommandLine(c.args, kBuiltIn, {c.config, "follow.conf"});
        if (*c.error) {
            EXPECT_EQ(line.action, CommandLine::Action::Error) << shown;
            EXPECT_NE(line.error.find(c.error), std::string::npos) << shown << ": " << line.error;
            continue;
        }
        ASSERT_EQ(line.action, CommandLine::Action::Run) << shown << ": " << line.error;
        EXPECT_EQ(line.settings.name, c.name) << shown;
        EXPECT_EQ(line.settings.nameGbk, *utf8ToGbk(c.name)) << shown;
        EXPECT_EQ(line.settings.suffix, "qiv.cn") << shown;
        EXPECT_EQ(line.settings.interval, c.interval) << shown;
        EXPECT_EQ(line.settings.ipUrls, c.ipUrls) << shown;
    }
    CommandLine hosts = readCommandLine({"--service-host", "s:1", "--ip-host=i", "--once",
                                         "--dry-run", "--name", "a", "--suffix", "b"},
                                        kBuiltIn, {});
    EXPECT_EQ(hosts.settings.hosts.service + hosts.settings.hosts.ipLookup, "s:1i");
    EXPECT_TRUE(hosts.settings.once && hosts.settings.dryRun && !hosts.settings.storePassword);
    const Settings events =
        readCommandLine({"--status", "--on-event", "/bin/x 'a b' \"c\\\"d\" $HOME *"}, kBuiltIn,
                        {"name=h\nsuffix=s\non-event = other\n", "f"})
            .settings;
    EXPECT_TRUE(events.status);
    EXPECT_EQ(events.onEventArgv,
              (std::vector<std::string>{"/bin/x", "a b", "c\"d", "$HOME", "*"}));
    EXPECT_EQ(readCommandLine({}, kBuiltIn, {"name=h\nsuffix=s\non-event = a  'b c'\n", "f"})
                  .settings.onEventArgv,
              (std::vector<std::string>{"a", "b c"}));
    EXPECT_EQ(readCommandLine({"--bogus", "--help"}, kBuiltIn, {}).action,
              CommandLine::Action::Error);
    EXPECT_EQ(readCommandLine({"--version", "--bogus"}, kBuiltIn, {}).action,
              CommandLine::Action::Version);
}

// Where each host comes from: the options over the follow config over the
// user's hosts.conf over the system's over the hosts built in; and the
// files refused, by line, by mode and by owner. USER and SYSTEM stand for
// the two files' paths.
TEST(HostSources, EachLayerOverTheNextAndTheFilesRefused)
{
    static const std::string large(70000, '#');
    enum Fault { kNone, kUserGroupWritable, kSystemWorldWritable, kSystemNobody, kUserNobody };
    const struct {
        const char* user; // the files' text; null: no file
        const char* system;
        std::string follow; // the follow config's lines, from its line 3
        std::vector<std::string> args;
        Fault fault;
        bool builtIn;
        const char* hosts; // service and ip host as --help shows them; else
        const char* error; // a part of the error
    } rows[] = {
        {nullptr,
         nullptr,
         "",
         {},
         kNone,
         true,
         "127.0.0.1:8090 from built in|127.0.0.2:8091 from built in",
         ""},
        {nullptr,
         "service-host = s.sys\n",
         "",
         {},
         kNone,
         true,
         "s.sys from SYSTEM|127.0.0.2:8091 from built in",
         ""},
        {"# mine\n\nservice-host=s.user:81\n",
         "service-host = s.sys\nip-host = i.sys\n",
         "",
         {},
         kNone,
         true,
         "s.user:81 from USER|i.sys from SYSTEM",
         ""},
        {"service-host = a\nservice-host = b\n",
         nullptr,
         "",
         {},
         kNone,
         true,
         "b from USER|127.0.0.2:8091 from built in",
         ""},
        {"service-host = s.user\n",
         nullptr,
         "service-host = s.follow\n",
         {},
         kNone,
         true,
         "s.follow from follow.conf|127.0.0.2:8091 from built in",
         ""},
        {"service-host = s.user\n",
         nullptr,
         "service-host = s.follow\n",
         {"--service-host=s.opt"},
         kNone,
         true,
         "s.opt from --service-host|127.0.0.2:8091 from built in",
         ""},
        {nullptr,
         "ip-host = i.sys\n",
         "",
         {},
         kNone,
         false,
         "none set|i.sys from SYSTEM",
         "No service host is set"},
        {nullptr,
         nullptr,
         "",
         {"--ip-host", "i"},
         kNone,
         false,
         "",
         "未设置服务主机：请在 USER 或 SYSTEM 中写入 service-host"},
        {nullptr,
         nullptr,
         "ip-host = i\n",
         {"--service-host=s"},
         kNone,
         false,
         "s from --service-host|i from follow.conf",
         ""},
        {"service-host\n", nullptr, "", {}, kNone, true, "", "USER:1: expected key = value"},
        {"\n# x\nservice = s\n", nullptr, "", {}, kNone, true, "", "USER:3: unknown key 'service'"},
        {nullptr, "ad-host = a/b\n", "", {}, kNone, true, "", "SYSTEM:1: ad-host 'a/b': a path"},
        {nullptr, nullptr, "ip-host = x:0\n", {}, kNone, true, "", "follow.conf:3: ip-host 'x:0'"},
        {"service-host = s\n",
         nullptr,
         "",
         {},
         kUserGroupWritable,
         true,
         "",
         "USER: refused: others can write it (mode 664)"},
        {nullptr,
         "service-host = s\n",
         "",
         {},
         kSystemWorldWritable,
         true,
         "",
         "SYSTEM: refused: others can write it (mode 646)"},
        {nullptr,
         "# nothing\n",
         "",
         {},
         kSystemNobody,
         true,
         "",
         "SYSTEM: refused: owned by user 65534, neither root nor you"},
        {"", nullptr, "", {}, kUserNobody, true, "", "USER: refused: owned by user 65534"},
        {large.c_str(), nullptr, "", {}, kNone, true, "", "USER: refused: larger than 64 KiB"},
    };
    const std::string dir = ::testing::TempDir() + "/host-sources";
    const std::string user = dir + "/config/qiv-forward/hosts.conf", system = dir + "/system.conf";
    const auto placed = [&](std::string text) {
        for (const auto& [name, path] : {std::pair{"USER", user}, {"SYSTEM", system}})
            for (size_t at; (at = text.find(name)) != std::string::npos;)
                text.replace(at, std::string_view(name).size(), path);
        return text;
    };
    setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
    setenv("QIV_HOSTS_SYSTEM_FILE", system.c_str(), 1);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.hosts + std::string(row.error));
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir + "/config/qiv-forward");
        for (const auto& [text, path] : {std::pair{row.user, user}, {row.system, system}})
            if (text)
                std::ofstream(path) << text;
        const std::pair<const std::string*, mode_t> faults[] = {
            {&user, 0664}, {&system, 0646}, {&system, 0}, {&user, 0}};
        const auto& [path, mode] = faults[std::max(0, row.fault - 1)];
        if (row.fault == kUserGroupWritable || row.fault == kSystemWorldWritable) {
            ASSERT_EQ(chmod(path->c_str(), mode), 0);
        }
        if (row.fault == kSystemNobody || row.fault == kUserNobody) {
            if (geteuid() != 0)
                continue; // only root can give a file away
            ASSERT_EQ(chown(path->c_str(), 65534, 65534), 0);
        }
        if (row.builtIn)
            unsetenv("QIV_HOSTS_NONE_BUILT_IN");
        else
            setenv("QIV_HOSTS_NONE_BUILT_IN", "1", 1);
        config::SourcedHosts below;
        std::string error = config::hostsBelowOptions(&below);
        CommandLine line;
        if (error.empty()) {
            std::vector<std::string> args = row.args;
            args.insert(args.end(), {"--name", "h", "--suffix", "s"});
            line = readCommandLine(args, below, {"\n\n" + row.follow, "follow.conf"});
            error = line.error;
        }
        if (*row.hosts) {
            const config::SourcedHosts shown =
                *row.error ? below
                           : config::SourcedHosts{line.settings.hosts, line.settings.hostsFrom};
            EXPECT_EQ(config::shownHost(shown, &config::Hosts::service) + "|" +
                          config::shownHost(shown, &config::Hosts::ipLookup),
                      placed(row.hosts));
        }
        if (*row.error)
            EXPECT_NE(error.find(placed(row.error)), std::string::npos) << error;
        else
            EXPECT_EQ(error, "");
    }
    unsetenv("QIV_HOSTS_NONE_BUILT_IN");
    unsetenv("QIV_HOSTS_SYSTEM_FILE");
    std::filesystem::remove_all(dir);
}

// --config is found before the config file is read; its password file
// stands beside it.
TEST(FollowCommandLine, ConfigFileAndItsPassword)
{
    const struct {
        std::vector<std::string> args;
        const char* config; // "-": none
        const char* error;
    } cases[] = {
        {{"--once"}, "-", ""},
        {{"--config", "/c/home.conf"}, "/c/home.conf", ""},
        {{"--name", "--config", "--config=/c/x"}, "/c/x", ""},
        {{"--ip-host", "--config", "--suffix", "s"}, "-", ""},
        {{"--config"}, "-", "needs a value"},
        {{"--config="}, "", "file name"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_EQ(configOption(c.args, &error).value_or("-"), c.config)
            << ::testing::PrintToString(c.args);
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
    const struct {
        const char *config, *password;
    } beside[] = {
        {"/c/home.conf", "/c/home.password"},
        {"home.conf", "home.password"},
        {"/c/home", "/c/home.password"},
        {"/c/.conf", "/c/.conf.password"},
        {"/c/a.conf.txt", "/c/a.conf.txt.password"},
    };
    for (const auto& b : beside)
        EXPECT_EQ(passwordBesideConfig(b.config), b.password);
    std::string error;
    EXPECT_FALSE(loadConfigFile("/nonexistent/x.conf", &error).text);
    EXPECT_NE(error.find("x.conf: cannot be read (No such file"), std::string::npos) << error;
}

TEST(FollowWait, BacksOffAfterTwoFailures)
{
    const struct {
        int interval, failures;
        long long seconds;
    } cases[] = {
        {300, 0, 300},   {300, 1, 300},   {300, 2, 600},     {300, 3, 1200},
        {300, 9, 21600}, {60, 40, 21600}, {86400, 5, 86400},
    };
    for (const auto& c : cases)
        EXPECT_EQ(nextWait(c.interval, c.failures).count(), c.seconds)
            << c.interval << " " << c.failures;
}

TEST(FollowWait, RefusalsFromAnHourToADay)
{
    using std::chrono::milliseconds;
    const struct {
        milliseconds first;
        int refusals;
        long long ms;
    } cases[] = {
        {std::chrono::hours(1), 1, 3600000},   {std::chrono::hours(1), 2, 7200000},
        {std::chrono::hours(1), 5, 57600000},  {std::chrono::hours(1), 6, 86400000},
        {std::chrono::hours(1), 99, 86400000}, {milliseconds(300), 3, 1200},
        {milliseconds(300), 7, 7200},
    };
    for (const auto& c : cases)
        EXPECT_EQ(nextRefusalWait(c.first, c.refusals).count(), c.ms) << c.refusals;
    EXPECT_EQ(Settings{}.refusalPause, std::chrono::hours(1));
}

class FollowFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        char name[] = "/tmp/qiv-follow-test-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string file(const std::string& name, const std::string& text, mode_t mode)
    {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        chmod(path.c_str(), mode);
        return path;
    }

    std::string dir_;
};

TEST_F(FollowFiles, PasswordFile)
{
    const struct {
        std::string text;
        mode_t mode;
        const char* password; // nullptr: refused
        const char* error;
    } cases[] = {
        {"secret1\n", 0600, "secret1", ""},
        {"secret1", 0400, "secret1", ""},
        {"secret1\r\n", 0600, "secret1", ""},
        {"secret1\n\n", 0600, "secret1\n", ""},
        {" two words \n", 0600, " two words ", ""},
        {"secret1\n", 0700, "secret1", ""},
        {"secret1\n", 0640, nullptr, "open to group or others (mode 640)"},
        {"secret1\n", 0604, nullptr, "open to group or others (mode 604)"},
        {"secret1\n", 0620, nullptr, "open to group or others (mode 620)"},
        {"secret1\n", 0602, nullptr, "open to group or others (mode 602)"},
        {"secret1\n", 0610, nullptr, "open to group or others (mode 610)"},
        {"secret1\n", 0601, nullptr, "open to group or others (mode 601)"},
        {"\n", 0600, nullptr, "empty"},
        {std::string(5000, 'x'), 0600, nullptr, "larger than 4 KiB"},
    };
    int n = 0;
    for (const auto& c : cases) {
        PasswordResult read = readPasswordFile(file("pw" + std::to_string(n++), c.text, c.mode));
        EXPECT_EQ(read.password.value_or("-"), c.password ? c.password : "-") << c.text;
        EXPECT_NE(read.error.find(c.error), std::string::npos) << read.error;
    }
    EXPECT_NE(readPasswordFile(dir_).error.find("not a regular file"), std::string::npos);
    EXPECT_NE(readPasswordFile(dir_ + "/none").error.find("No such file"), std::string::npos);
    mkfifo((dir_ + "/fifo").c_str(), 0600);
    EXPECT_NE(readPasswordFile(dir_ + "/fifo").error.find("not a regular file"), std::string::npos);
    // Another user's file, private as it may be; only root can make one.
    const std::string theirs = file("theirs", "secret1\n", 0600);
    if (geteuid() == 0 && chown(theirs.c_str(), 65534, 65534) == 0) {
        EXPECT_NE(readPasswordFile(theirs).error.find("owned by user 65534, not by you"),
                  std::string::npos);
    }
}

// The folder of the lock and the history: made private, and refused when
// anyone else could put a file in it or replace it.
TEST_F(FollowFiles, StateFolder)
{
    const std::string dir = dir_ + "/state/qiv-forward/follow";
    const struct {
        const char* name;
        std::function<void()> before;
        const char* error; // "" for fit
    } cases[] = {
        {"made", [] {}, ""},
        {"as left", [] {}, ""},
        {"group may write", [&] { chmod(dir.c_str(), 0770); },
         "open to group or others (mode 770)"},
        {"others may enter", [&] { chmod(dir.c_str(), 0701); }, "(mode 701)"},
        {"a file",
         [&] {
             std::filesystem::remove_all(dir);
             std::ofstream(dir) << "x";
         },
         "not a folder"},
        {"a link",
         [&] {
             std::filesystem::remove(dir);
             std::filesystem::create_directory(dir_ + "/elsewhere");
             std::filesystem::create_directory_symlink(dir_ + "/elsewhere", dir);
         },
         "not a folder"},
        {"another user's",
         [&] {
             std::filesystem::remove(dir);
             mkdir(dir.c_str(), 0700);
             if (geteuid() == 0) {
                 EXPECT_EQ(chown(dir.c_str(), 65534, 65534), 0);
             }
         },
         geteuid() == 0 ? "owned by user 65534, not by you" : ""},
    };
    setenv("XDG_STATE_HOME", (dir_ + "/state").c_str(), 1);
    for (const auto& c : cases) {
        c.before();
        EXPECT_NE(privateStateDirectory().find(c.error), std::string::npos) << c.name;
        EXPECT_EQ(privateStateDirectory().empty(), !*c.error) << c.name;
    }
    EXPECT_EQ(lockFilePath("a b", "qiv.cn"), dir + "/a%20b.qiv.cn.lock");
    EXPECT_EQ(historyFilePath("a/b", "qiv.cn"), dir + "/a%2Fb.qiv.cn.history.log");
    unsetenv("XDG_STATE_HOME");
}

// The state file round trip, and what --status makes of it: healthy only
// when the last round ended well and the next is not two intervals late.
TEST_F(FollowFiles, StateAndStatus)
{
    const std::time_t t = 1'800'000'000;
    const FollowState good{.round = t,
                           .outcome = "changed",
                           .endedWell = true,
                           .message = "verified: shown\n\x1b",
                           .target = "http://198.51.100.2/",
                           .ip = "198.51.100.2",
                           .change = t,
                           .changeFrom = "http://203.0.113.7/",
                           .changeTo = "http://198.51.100.2/",
                           .next = t + 300,
                           .interval = 300,
                           .notified = "refused: x"};
    FollowState failed = good;
    failed.outcome = "refused";
    failed.endedWell = false;
    failed.change = 0;
    const struct {
        std::optional<FollowState> state;
        std::time_t now;
        bool healthy;
        std::vector<const char*> says;
    } cases[] = {
        {{}, t, false, {"no round has run yet"}},
        {good, t + 10, true, {"changed\n", "198.51.100.2\n", "http://203.0.113.7/ to http://1"}},
        {good, t + 300 + 600, true, {"a little late"}},
        {good, t + 300 + 601, false, {"overdue by 10 min"}},
        {failed, t + 10, false, {"refused (failed)", "last change: none seen"}},
    };
    const std::string path = dir_ + "/a.state";
    for (const auto& c : cases) {
        std::filesystem::remove(path);
        if (c.state) {
            ASSERT_EQ(writeStateFile(path, *c.state), "");
        }
        const std::optional<FollowState> read = readStateFile(path);
        ASSERT_EQ(read.has_value(), c.state.has_value());
        if (read) {
            EXPECT_EQ(read->message, "verified: shown\\x0a\\x1b");
            EXPECT_EQ(read->changeTo + read->notified + std::to_string(read->next),
                      c.state->changeTo + c.state->notified + std::to_string(c.state->next));
        }
        bool healthy = !c.healthy;
        const std::string text = statusText("h.qiv.cn", read, c.now, &healthy);
        EXPECT_EQ(healthy, c.healthy) << text;
        for (const char* part : c.says)
            EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
    }
    // Written whole, private, and nothing left beside it.
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 1);
    EXPECT_NE(writeStateFile(dir_ + "/none/a.state", good), "");
}

TEST_F(FollowFiles, HistoryRotates)
{
    const std::string path = dir_ + "/state/qiv-forward/history.log";
    std::FILE* out = std::tmpfile();
    EventLog log(path, out, 200);
    for (int i = 0; i < 5; ++i)
        log.write("ip", "203.0.113." + std::to_string(i) + "\x1b[2J");
    std::ifstream current(path), previous(path + ".1");
    std::string a((std::istreambuf_iterator<char>(current)), {});
    std::string b((std::istreambuf_iterator<char>(previous)), {});
    // Each line is 48 bytes: four fit in 200, the fifth starts a new file.
    EXPECT_EQ(std::count(b.begin(), b.end(), '\n'), 4);
    EXPECT_EQ(std::count(a.begin(), a.end(), '\n'), 1);
    EXPECT_NE(a.find(" ip: 203.0.113.4\\x1b[2J\n"), std::string::npos) << a;
    std::fseek(out, 0, SEEK_END);
    EXPECT_EQ(std::ftell(out), static_cast<long>(a.size() + b.size()));
    // Without a path (a dry run) only the output gets the line.
    EventLog(std::string(), out).write("dry-run", "x");
    EXPECT_EQ(std::ftell(out), static_cast<long>(a.size() + b.size()) + 36);
    std::fclose(out);
}

} // namespace
} // namespace qiv::follow

// In a user namespace that does not map root (a hardened user unit), root's
// files show as owned by the overflow user: the system's hosts file is taken,
// a user's file so owned is not.
TEST(HostSources, RootUnmappedInAUserNamespace)
{
    const std::string dir = ::testing::TempDir() + "/qiv-userns-" + std::to_string(getpid());
    std::filesystem::create_directories(dir);
    const std::string file = dir + "/hosts.conf";
    std::ofstream(file) << "service-host = s.sys\n";
    chmod(dir.c_str(), 0755);
    chmod(file.c_str(), 0644);
    const pid_t child = fork();
    if (child == 0) {
        // As root, first become nobody: root itself must stay outside.
        if (geteuid() == 0 &&
            (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0))
            _exit(10);
        // A changed user makes /proc/self root's until the process is dumpable again.
        prctl(PR_SET_DUMPABLE, 1);
        const std::string map = "1000 " + std::to_string(geteuid()) + " 1\n";
        if (unshare(CLONE_NEWUSER) != 0)
            _exit(11); // no user namespaces here
        std::ofstream(std::string("/proc/self/uid_map")) << map;
        if (geteuid() != 1000)
            _exit(11);
        setenv("QIV_HOSTS_SYSTEM_FILE", file.c_str(), 1);
        qiv::config::SourcedHosts system, user;
        const std::string asSystem = qiv::config::readHostsFile(file, &system);
        const std::string asUser = qiv::config::readHostsFile(dir + "/./hosts.conf", &user);
        _exit(asSystem.empty() && system.value.service == "s.sys" &&
                      asUser.find("neither root nor you") != std::string::npos
                  ? 0
                  : 12);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    std::filesystem::remove_all(dir);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 11)
        GTEST_SKIP() << "no user namespace can be made here";
    if (getuid() != 0)
        GTEST_SKIP() << "the file is this user's own: run as root to see root unmapped";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
