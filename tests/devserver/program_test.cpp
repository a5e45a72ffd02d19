// The real qiv-devserver program: options, one request, signals.

#include "devserver_child.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <string>
#include <vector>

namespace qiv::devserver {
namespace {

using test::CurlClient;
using test::HttpResult;

using Program = qiv::test::DevServerChild;

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
        {{"--ad-body", "/nonexistent/page.html"}, "cannot read"},
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
    for (const char* option :
         {"--service", "--ip", "--ads", "--suffixes", "--db", "--fault", "--ip-reply", "--ad-body",
          "no-marker", "long-headers", "zero-byte", "--version"})
        EXPECT_NE(p.out().find(option), std::string::npos) << option;

    Program version({"--version"});
    ASSERT_TRUE(version.started());
    EXPECT_EQ(version.waitForExit(kBound), 0);
    EXPECT_TRUE(std::regex_match(version.out(), std::regex(R"(qiv-devserver \d+\.\d+\.\d+\n)")))
        << version.out();
}

TEST(DevServerProgram, ServesLogsAndStopsOnSignals)
{
    const std::string adBody = "<script>for(;;){}</script>\r\n";
    char adBodyFile[] = "/tmp/qiv-ad-body-XXXXXX";
    const int fd = ::mkstemp(adBodyFile);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, adBody.data(), adBody.size()), static_cast<ssize_t>(adBody.size()));
    ::close(fd);
    Program withBody({"--service", "127.0.0.1:0", "--ip=127.0.0.2:0", "--ads", "127.0.0.3:0",
                      "--ad-body", adBodyFile});
    const std::optional<std::smatch> bodyReady =
        withBody.waitForLine(std::regex(R"( ads=127\.0\.0\.3:(\d+))"), kBound);
    ::unlink(adBodyFile);
    ASSERT_TRUE(bodyReady) << withBody.err();
    const std::string adBodyServer = "http://127.0.0.3:" + (*bodyReady)[1].str();
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
        // --ad-body's bytes are what every ad page answers, the fault aside.
        r = client.get(adBodyServer + "/%5C199.html");
        EXPECT_EQ(r.body, adBody);
        EXPECT_EQ(client.get(adBodyServer + "/animated.html").body, adBody);
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
