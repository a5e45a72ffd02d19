#include "net/cookie_store.h"
#include "net/http_engine.h"
#include "net/timed_request.h"
#include "net_test_util.h"
#include "recording_server.h"
#include "text/gbk.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <tuple>

namespace qiv {
namespace {

using namespace std::chrono_literals;
using test::closedLoopbackPort;
using test::RecordingServer;

std::string gbk(const char* utf8)
{
    return utf8ToGbk(utf8).value();
}

std::set<std::string> cookiesSent(const std::string& request)
{
    std::set<std::string> result;
    std::string value = RecordingServer::headerValue(request, "Cookie");
    size_t pos = 0;
    while (!value.empty() && pos <= value.size()) {
        size_t end = value.find("; ", pos);
        if (end == std::string::npos)
            end = value.size();
        result.insert(value.substr(pos, end - pos));
        pos = end + 2;
    }
    return result;
}

TEST(DefaultLines, AcceptLineIsTheFixed174Bytes)
{
    EXPECT_EQ(test::acceptLine.size(), 174u);
}

// ---- Header block -------------------------------------------------------

struct BlockCase {
    const char* name;
    std::string headers;
    std::string method;
    std::string body;
    std::string expected;
};

void PrintTo(const BlockCase& c, std::ostream* os)
{
    *os << c.name;
}

const std::string blockUrl = "http://host:8080/a/b.php?x=1";

class HeaderBlock : public ::testing::TestWithParam<BlockCase> {};

TEST_P(HeaderBlock, AppendsTheMissingLinesInOrder)
{
    const BlockCase& c = GetParam();
    EXPECT_EQ(headerBlock(c.headers, blockUrl, c.method, c.body), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HeaderBlock,
    ::testing::Values(
        BlockCase{"get", "", "", "",
                  test::acceptLine + test::refererLine(blockUrl) + test::languageLine},
        BlockCase{"post", "", "POST", "a=1&b=2",
                  test::acceptLine + test::refererLine(blockUrl) + test::languageLine +
                      test::formTypeLine + "Content-Length: 7\r\n"},
        BlockCase{"emptyPost", "", "POST", "",
                  test::acceptLine + test::refererLine(blockUrl) + test::languageLine},
        BlockCase{"lowerAccept", "accept: text/html\r\n", "", "",
                  "accept: text/html\r\n" + test::refererLine(blockUrl) + test::languageLine},
        BlockCase{"ownReferer", "X-A: 1\r\nREFERER: elsewhere\r\n", "", "",
                  "X-A: 1\r\nREFERER: elsewhere\r\n" + test::acceptLine + test::languageLine},
        BlockCase{"ownLanguage", "accept-language: en\r\n", "GET", "",
                  "accept-language: en\r\n" + test::acceptLine + test::refererLine(blockUrl)},
        // The content lines go in even when the caller wrote such lines.
        BlockCase{"ownLength", "Content-Length: 3\r\n", "POST", "xy",
                  "Content-Length: 3\r\n" + test::acceptLine + test::refererLine(blockUrl) +
                      test::languageLine + test::formTypeLine + "Content-Length: 2\r\n"},
        // Any other verb gets the default lines only; it is never sent.
        BlockCase{"otherVerb", "", "post", "a=1",
                  test::acceptLine + test::refererLine(blockUrl) + test::languageLine}),
    [](const auto& info) { return std::string(info.param.name); });

// One exchange through performRequest, with the cookies of the test.
class Engine : public ::testing::Test {
protected:
    std::string perform(const std::string& url, const std::string& method = {},
                        const std::string& proxy = {}, const std::string& headers = {},
                        const std::string& body = {})
    {
        RequestSlots request;
        request.url = url;
        request.method = method;
        request.proxy = proxy;
        request.headers = headers;
        request.body = body;
        performRequest(cookies, request);
        EXPECT_FALSE(request.running.load());
        return request.response;
    }

    CookieStore cookies;
};

// ---- Bytes on the wire -------------------------------------------------

class EngineWire : public Engine {
protected:
    // The one request the server received.
    std::string only()
    {
        EXPECT_TRUE(server.waitForRequests(1, 5s));
        std::vector<std::string> requests = server.requests();
        EXPECT_EQ(requests.size(), 1u);
        return requests.empty() ? std::string() : requests.front();
    }

    RecordingServer server;
};

TEST_F(EngineWire, DefaultGetSendsExactlyTheDefaultBlock)
{
    server.setReply(RecordingServer::httpReply("page"));
    const std::string url = server.url("/a/b.php?x=1");
    EXPECT_EQ(perform(url), "page");
    EXPECT_EQ(only(),
              test::wireRequest("GET /a/b.php?x=1 HTTP/1.1", server.hostPort(),
                                test::acceptLine + test::refererLine(url) + test::languageLine));
}

TEST_F(EngineWire, ExplicitGetIsTheSameAsEmptyMethod)
{
    const std::string url = server.url("/");
    perform(url, "GET");
    EXPECT_EQ(only(),
              test::wireRequest("GET / HTTP/1.1", server.hostPort(),
                                test::acceptLine + test::refererLine(url) + test::languageLine));
}

TEST_F(EngineWire, UrlWithoutPathRequestsSlash)
{
    const std::string url = "http://" + server.hostPort();
    perform(url);
    EXPECT_EQ(RecordingServer::requestLine(only()), "GET / HTTP/1.1");
}

TEST_F(EngineWire, UpperCaseSchemeAndPortTravelAsGiven)
{
    const std::string url = "HTTP://" + server.hostPort() + "/a/b.php?x=1";
    perform(url);
    // The Referer line carries the URL exactly as the caller wrote it.
    EXPECT_EQ(only(),
              test::wireRequest("GET /a/b.php?x=1 HTTP/1.1", server.hostPort(),
                                test::acceptLine + test::refererLine(url) + test::languageLine));
}

TEST_F(EngineWire, PostSendsContentLinesAndBody)
{
    const std::string url = server.url("/login.php");
    perform(url, "POST", "", "", "a=1&b=2");
    EXPECT_EQ(only(),
              test::wireRequest("POST /login.php HTTP/1.1", server.hostPort(),
                                test::acceptLine + test::refererLine(url) + test::languageLine +
                                    test::formTypeLine + "Content-Length: 7\r\n",
                                "a=1&b=2"));
}

TEST_F(EngineWire, PostLengthCountsGbkBytes)
{
    const std::string url = server.url("/reg.php");
    const std::string body = "title=" + gbk("中文标题") + "&x=1";
    ASSERT_EQ(body.size(), 6u + 8u + 4u);
    perform(url, "POST", "", "", body);
    EXPECT_EQ(only(),
              test::wireRequest("POST /reg.php HTTP/1.1", server.hostPort(),
                                test::acceptLine + test::refererLine(url) + test::languageLine +
                                    test::formTypeLine + "Content-Length: 18\r\n",
                                body));
}

TEST_F(EngineWire, PostBodyIsSentByteForByte)
{
    const std::string url = server.url("/x");
    const std::string body("a\0b\xff\r\n%20+", 10);
    perform(url, "POST", "", "", body);
    const std::string request = only();
    EXPECT_EQ(RecordingServer::headerValue(request, "Content-Length"), "10");
    EXPECT_EQ(RecordingServer::bodyOf(request), body);
}

TEST_F(EngineWire, LargePostIsSentWithoutExpectContinue)
{
    // curl would ask "Expect: 100-continue" for bodies over 1 MiB.
    const std::string url = server.url("/big");
    const std::string body(1536 * 1024, 'z');
    perform(url, "POST", "", "", body);
    const std::string request = only();
    const std::string expected =
        test::wireRequest("POST /big HTTP/1.1", server.hostPort(),
                          test::acceptLine + test::refererLine(url) + test::languageLine +
                              test::formTypeLine + "Content-Length: 1572864\r\n");
    // Compared in two parts, so that a failure does not print the body.
    EXPECT_EQ(request.substr(0, request.find("\r\n\r\n") + 4), expected);
    EXPECT_TRUE(RecordingServer::bodyOf(request) == body);
}

TEST_F(EngineWire, EmptyPostHasNoContentTypeAndNoBody)
{
    const std::string url = server.url("/modify_in.php");
    perform(url, "POST");
    EXPECT_EQ(only(),
              test::wireRequest("POST /modify_in.php HTTP/1.1", server.hostPort(),
                                test::acceptLine + test::refererLine(url) + test::languageLine, "",
                                "", "Content-Length: 0\r\n"));
}

TEST_F(EngineWire, CallersLowerCaseAcceptReplacesTheDefault)
{
    const std::string url = server.url("/p");
    perform(url, "", "", "accept: text/html\r\n");
    EXPECT_EQ(only(), test::wireRequest("GET /p HTTP/1.1", server.hostPort(),
                                        "accept: text/html\r\n" + test::refererLine(url) +
                                            test::languageLine));
}

TEST_F(EngineWire, AcceptInsideAnotherNameLeavesTheRequestWithoutAccept)
{
    // "X-Accept: " holds "Accept: ", so no default line is added, and curl
    // must not put its own "Accept: */*" in its place.
    const std::string url = server.url("/p");
    perform(url, "", "", "X-Accept: y\r\n");
    EXPECT_EQ(only(),
              test::wireRequest("GET /p HTTP/1.1", server.hostPort(),
                                "X-Accept: y\r\n" + test::refererLine(url) + test::languageLine));
}

TEST_F(EngineWire, CallersLinesComeFirst)
{
    const std::string url = server.url("/p");
    perform(url, "POST", "", "X-One: 1\r\nX-Two: 2\r\n", "k=v");
    EXPECT_EQ(only(), test::wireRequest("POST /p HTTP/1.1", server.hostPort(),
                                        "X-One: 1\r\nX-Two: 2\r\n" + test::acceptLine +
                                            test::refererLine(url) + test::languageLine +
                                            test::formTypeLine + "Content-Length: 3\r\n",
                                        "k=v"));
}

TEST_F(EngineWire, GbkQueryBytesTravelUnencoded)
{
    const std::string query = "/regcheck.php?username=" + gbk("张三") + "&domainname=cn.am";
    const std::string url = server.url(query);
    perform(url);
    EXPECT_EQ(RecordingServer::requestLine(only()), "GET " + query + " HTTP/1.1");
}

TEST_F(EngineWire, BlanksAndHashInThePathArePercentEncoded)
{
    perform(server.url("/p?u=a b#c"));
    EXPECT_EQ(RecordingServer::requestLine(only()), "GET /p?u=a%20b%23c HTTP/1.1");
}

TEST_F(EngineWire, DotSegmentsAreNotRemoved)
{
    perform(server.url("/a/../b//c"));
    EXPECT_EQ(RecordingServer::requestLine(only()), "GET /a/../b//c HTTP/1.1");
}

TEST_F(EngineWire, OtherMethodsSendNothing)
{
    for (const char* method : {"post", "get", "PUT", "HEAD", "DELETE", " POST"}) {
        EXPECT_EQ(perform(server.url("/p"), method, "", "", "a=1"), "") << method;
    }
    // performRequest only returns after the reply, and the server records a
    // request before it replies: had anything been sent, it would be here.
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(EngineWire, BodyIsReadWhateverTheStatus)
{
    server.setReply(RecordingServer::httpReply("not here", "", "404 Not Found"));
    EXPECT_EQ(perform(server.url("/missing")), "not here");
    server.setReply(RecordingServer::httpReply("broken", "", "500 Internal Server Error"));
    EXPECT_EQ(perform(server.url("/broken")), "broken");
}

TEST_F(EngineWire, LargeBodyIsReadWhole)
{
    std::string body;
    for (int i = 0; body.size() < 300000; ++i)
        body += std::to_string(i) + ",";
    server.setReply(RecordingServer::httpReply(body));
    EXPECT_EQ(perform(server.url("/big")), body);
}

TEST_F(EngineWire, BodyWithoutLengthIsReadUntilClose)
{
    server.setReply(std::string("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nuntil the end"));
    EXPECT_EQ(perform(server.url("/")), "until the end");
}

TEST_F(EngineWire, BrokenConnectionKeepsWhatArrived)
{
    // Announces 100 bytes, sends 5, then closes.
    server.setReply(std::string("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nhello"));
    EXPECT_EQ(perform(server.url("/")), "hello");
}

TEST_F(EngineWire, ClosedWithoutAnswerGivesEmptyResponse)
{
    RecordingServer::Reply reply;
    reply.closeWithoutAnswer = true;
    server.setReply(reply);
    EXPECT_EQ(perform(server.url("/")), "");
    EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(EngineWire, RefusedConnectionGivesEmptyResponse)
{
    EXPECT_EQ(perform("http://127.0.0.1:" + std::to_string(closedLoopbackPort()) + "/x"), "");
}

TEST_F(EngineWire, RedirectIsFollowed)
{
    server.setHandler([](const std::string& request) {
        if (RecordingServer::requestLine(request).starts_with("GET /next "))
            return RecordingServer::Reply{RecordingServer::httpReply("arrived")};
        return RecordingServer::Reply{
            RecordingServer::httpReply("moved", "Location: /next\r\n", "302 Found")};
    });
    EXPECT_EQ(perform(server.url("/start")), "arrived");
    ASSERT_TRUE(server.waitForRequests(2, 5s));
    EXPECT_EQ(RecordingServer::requestLine(server.requests()[1]), "GET /next HTTP/1.1");
}

TEST_F(EngineWire, RedirectToAHostNoNameRuleTakesIsTheFinalReply)
{
    for (const std::string host : {"a..b", ".a", "a%20b"}) {
        server.setReply(RecordingServer::httpReply(
            "moved", "Location: http://" + host + "/next\r\n", "302 Found"));
        server.clearRequests();
        EXPECT_EQ(perform(server.url("/start")), "moved") << host;
        EXPECT_EQ(server.requestCount(), 1u) << host;
    }
}

TEST_F(EngineWire, PostRedirectedToGetDropsItsBodyAndLength)
{
    server.setHandler([](const std::string& request) {
        if (RecordingServer::requestLine(request).starts_with("GET /done "))
            return RecordingServer::Reply{RecordingServer::httpReply("welcome")};
        return RecordingServer::Reply{
            RecordingServer::httpReply("", "Location: /done\r\n", "302 Found")};
    });
    EXPECT_EQ(perform(server.url("/login.php"), "POST", "", "", "user=a&pass=b"), "welcome");
    ASSERT_TRUE(server.waitForRequests(2, 5s));
    const std::string second = server.requests()[1];
    EXPECT_EQ(RecordingServer::requestLine(second), "GET /done HTTP/1.1");
    EXPECT_EQ(RecordingServer::headerValue(second, "Content-Length"), "");
    EXPECT_EQ(RecordingServer::bodyOf(second), "");
}

TEST_F(EngineWire, OverlongRepliesFailAndStoreNoCookie)
{
    const std::string head = "HTTP/1.1 200 OK\r\nSet-Cookie: seen=1\r\n";
    const std::string atCap(maxReplyBodyBytes, 'b');
    const std::string line = "X-Many: " + std::string(1000, 'h') + "\r\n";
    std::string underCap;
    while (underCap.size() + line.size() < maxReplyHeaderBytes - 1024)
        underCap += line;
    auto endless = [&](const std::string& start, const std::string& repeated) {
        RecordingServer::Reply reply{head + start};
        reply.repeated = repeated;
        return reply;
    };
    const std::string chunk = "4000\r\n" + std::string(0x4000, 'c') + "\r\n";
    const std::vector<std::tuple<const char*, RecordingServer::Reply, std::string>> rows = {
        {"bodyAtTheCap", RecordingServer::httpReply(atCap, "Set-Cookie: seen=1\r\n"), atCap},
        {"announcedOverTheCap", RecordingServer::httpReply(atCap + "b", "Set-Cookie: s=1\r\n"), ""},
        {"unannouncedOverTheCap", head + "\r\n" + atCap + "b", ""},
        {"endlessBody", endless("\r\n", std::string(65536, 'e')), ""},
        {"endlessChunks", endless("Transfer-Encoding: chunked\r\n\r\n", chunk), ""},
        {"headerFlood", endless("", line), ""},
        {"headersUnderTheCap", head + underCap + "Content-Length: 2\r\n\r\nok", "ok"}};
    for (const auto& [name, reply, body] : rows) {
        SCOPED_TRACE(name);
        cookies.clear();
        server.setReply(reply);
        // An endless reply that were not cut would never return.
        EXPECT_TRUE(perform(server.url("/")) == body);
        EXPECT_EQ(cookies.all().size(), body.empty() ? 0u : 1u);
    }
}

// ---- Proxy -------------------------------------------------------------

class EngineProxy : public Engine {
protected:
    RecordingServer proxy;
    RecordingServer origin;
};

TEST_F(EngineProxy, ProxySeesTheAbsoluteUri)
{
    // Nothing listens on 127.0.0.9:8080; only the proxy is ever contacted.
    proxy.setReply(RecordingServer::httpReply("via proxy"));
    const std::string url = "http://127.0.0.9:8080/a/b.php?x=1";
    EXPECT_EQ(perform(url, "", proxy.hostPort()), "via proxy");
    ASSERT_TRUE(proxy.waitForRequests(1, 5s));
    EXPECT_EQ(proxy.requests().front(),
              test::wireRequest("GET http://127.0.0.9:8080/a/b.php?x=1 HTTP/1.1", "127.0.0.9:8080",
                                test::acceptLine + test::refererLine(url) + test::languageLine));
}

TEST_F(EngineProxy, ProxiedPostKeepsTheBlock)
{
    const std::string url = "http://127.0.0.9/login.php";
    perform(url, "POST", proxy.hostPort(), "", "a=1&b=2");
    ASSERT_TRUE(proxy.waitForRequests(1, 5s));
    EXPECT_EQ(proxy.requests().front(),
              test::wireRequest("POST http://127.0.0.9/login.php HTTP/1.1", "127.0.0.9",
                                test::acceptLine + test::refererLine(url) + test::languageLine +
                                    test::formTypeLine + "Content-Length: 7\r\n",
                                "a=1&b=2"));
}

TEST_F(EngineProxy, BlankProxyMeansDirect)
{
    origin.setReply(RecordingServer::httpReply("direct"));
    EXPECT_EQ(perform(origin.url("/"), "", "   "), "direct");
    EXPECT_EQ(origin.requestCount(), 1u);
    EXPECT_EQ(proxy.requestCount(), 0u);
}

TEST_F(EngineProxy, EnvironmentProxyIsNeverUsed)
{
    origin.setReply(RecordingServer::httpReply("direct"));
    const std::string proxyUrl = "http://" + proxy.hostPort();
    ::setenv("http_proxy", proxyUrl.c_str(), 1);
    ::setenv("HTTP_PROXY", proxyUrl.c_str(), 1);
    ::setenv("all_proxy", proxyUrl.c_str(), 1);
    const std::string body = perform(origin.url("/"));
    ::unsetenv("http_proxy");
    ::unsetenv("HTTP_PROXY");
    ::unsetenv("all_proxy");
    EXPECT_EQ(body, "direct");
    EXPECT_EQ(proxy.requestCount(), 0u);
}

TEST_F(EngineProxy, NoProxyEnvironmentDoesNotBypassTheProxy)
{
    proxy.setReply(RecordingServer::httpReply("via proxy"));
    ::setenv("no_proxy", "*", 1);
    const std::string body = perform(origin.url("/"), "", proxy.hostPort());
    ::unsetenv("no_proxy");
    EXPECT_EQ(body, "via proxy");
    EXPECT_EQ(origin.requestCount(), 0u);
}

// ---- Cookies -----------------------------------------------------------

class EngineCookies : public Engine {
protected:
    std::string lastRequest(RecordingServer& server, size_t count)
    {
        EXPECT_TRUE(server.waitForRequests(count, 5s));
        std::vector<std::string> requests = server.requests();
        return requests.size() >= count ? requests[count - 1] : std::string();
    }

    RecordingServer service{"127.0.0.1"};
    RecordingServer other{"127.0.0.2"};
};

TEST_F(EngineCookies, TwoCookiesAreSentBackToTheSameHost)
{
    service.setReply(RecordingServer::httpReply(
        "ok", "Set-Cookie: sid=abc123; path=/\r\nSet-Cookie: lang=zh; path=/\r\n"));
    perform(service.url("/login.php"), "POST", "", "", "a=1");
    EXPECT_EQ(RecordingServer::headerValue(lastRequest(service, 1), "Cookie"), "");
    perform(service.url("/modify_in.php"));
    EXPECT_EQ(cookiesSent(lastRequest(service, 2)),
              (std::set<std::string>{"sid=abc123", "lang=zh"}));
}

TEST_F(EngineCookies, CookieLineIsPlacedBeforeTheBlock)
{
    service.setReply(RecordingServer::httpReply("ok", "Set-Cookie: sid=1\r\n"));
    perform(service.url("/a"));
    const std::string url = service.url("/b");
    perform(url);
    EXPECT_EQ(lastRequest(service, 2),
              test::wireRequest("GET /b HTTP/1.1", service.hostPort(),
                                test::acceptLine + test::refererLine(url) + test::languageLine, "",
                                "sid=1"));
}

TEST_F(EngineCookies, AnotherHostNeverReceivesThem)
{
    service.setReply(RecordingServer::httpReply("ok", "Set-Cookie: sid=abc123\r\n"));
    perform(service.url("/login.php"));
    perform(other.url("/getip/getip.asp"));
    EXPECT_EQ(RecordingServer::headerValue(lastRequest(other, 1), "Cookie"), "");
    // ... and the other host's own cookies stay with it.
    other.setReply(RecordingServer::httpReply("1.2.3.4", "Set-Cookie: ipc=9\r\n"));
    perform(other.url("/getip/getip.asp"));
    perform(service.url("/countUser.php"));
    perform(other.url("/getip/getip.asp"));
    EXPECT_EQ(cookiesSent(lastRequest(service, 2)), (std::set<std::string>{"sid=abc123"}));
    EXPECT_EQ(cookiesSent(lastRequest(other, 3)), (std::set<std::string>{"ipc=9"}));
}

TEST_F(EngineCookies, CookiesBelongToTheHostWhateverThePort)
{
    RecordingServer samehost{"127.0.0.1"};
    service.setReply(RecordingServer::httpReply("ok", "Set-Cookie: sid=7\r\n"));
    perform(service.url("/"));
    perform(samehost.url("/"));
    EXPECT_EQ(cookiesSent(lastRequest(samehost, 1)), (std::set<std::string>{"sid=7"}));
}

TEST_F(EngineCookies, LongReplyHeadersStillStoreCookies)
{
    std::string padding;
    for (int i = 0; i < 40; ++i)
        padding += "X-Padding-" + std::to_string(i) + ": " + std::string(80, 'p') + "\r\n";
    ASSERT_GT(padding.size(), 2048u);
    service.setReply(RecordingServer::httpReply("ok", padding + "Set-Cookie: late=1\r\n" + padding +
                                                          "Set-Cookie: later=2\r\n"));
    perform(service.url("/"));
    perform(service.url("/again"));
    EXPECT_EQ(cookiesSent(lastRequest(service, 2)), (std::set<std::string>{"late=1", "later=2"}));
}

TEST_F(EngineCookies, ReplyWithoutBodyStillStoresCookies)
{
    service.setReply(RecordingServer::httpReply("", "Set-Cookie: empty=yes\r\n"));
    EXPECT_EQ(perform(service.url("/")), "");
    perform(service.url("/again"));
    EXPECT_EQ(cookiesSent(lastRequest(service, 2)), (std::set<std::string>{"empty=yes"}));
}

TEST_F(EngineCookies, ServerCanReplaceAndDeleteCookies)
{
    service.setReply(RecordingServer::httpReply("", "Set-Cookie: a=1\r\nSet-Cookie: b=2\r\n"));
    perform(service.url("/1"));
    service.setReply(RecordingServer::httpReply(
        "", "Set-Cookie: a=changed\r\nSet-Cookie: b=gone; Max-Age=0\r\n"));
    perform(service.url("/2"));
    service.setReply(RecordingServer::httpReply(""));
    perform(service.url("/3"));
    EXPECT_EQ(cookiesSent(lastRequest(service, 2)), (std::set<std::string>{"a=1", "b=2"}));
    EXPECT_EQ(cookiesSent(lastRequest(service, 3)), (std::set<std::string>{"a=changed"}));
}

TEST_F(EngineCookies, RedirectCookiesAreKept)
{
    service.setHandler([](const std::string& request) {
        if (RecordingServer::requestLine(request).starts_with("GET /next "))
            return RecordingServer::Reply{RecordingServer::httpReply("there")};
        return RecordingServer::Reply{RecordingServer::httpReply(
            "", "Location: /next\r\nSet-Cookie: hop=1\r\n", "302 Found")};
    });
    EXPECT_EQ(perform(service.url("/start")), "there");
    EXPECT_EQ(cookiesSent(lastRequest(service, 2)), (std::set<std::string>{"hop=1"}));
    perform(service.url("/next"));
    EXPECT_EQ(cookiesSent(lastRequest(service, 3)), (std::set<std::string>{"hop=1"}));
}

TEST_F(EngineCookies, NothingIsWrittenToDisk)
{
    // The store is the process's memory: clearing it forgets everything.
    service.setReply(RecordingServer::httpReply("", "Set-Cookie: a=1\r\n"));
    perform(service.url("/"));
    EXPECT_EQ(cookies.all().size(), 1u);
    cookies.clear();
    perform(service.url("/again"));
    EXPECT_EQ(RecordingServer::headerValue(lastRequest(service, 2), "Cookie"), "");
}

TEST_F(EngineCookies, PostBodyAndCookiesNeverLeaveTheirHostOnARedirect)
{
    // status, whether it points to the other host, the request line there
    // ("" when not followed)
    for (const auto& [status, elsewhere, followedAs] :
         std::vector<std::tuple<std::string, bool, std::string>>{
             {"302 Found", true, "GET /next HTTP/1.1"},
             {"303 See Other", true, "GET /next HTTP/1.1"},
             {"307 Temporary Redirect", true, ""},
             {"308 Permanent Redirect", true, ""},
             {"307 Temporary Redirect", false, "POST /next HTTP/1.1"}}) {
        SCOPED_TRACE(status);
        cookies.clear();
        RecordingServer from{"127.0.0.5"};
        RecordingServer other{"127.0.0.6"};
        RecordingServer& to = elsewhere ? other : from;
        const std::string moved = "Location: " + to.url("/next") + "\r\nSet-Cookie: sid=s\r\n";
        auto reply = [&](const std::string& request) {
            if (RecordingServer::requestLine(request).find(" /next ") != std::string::npos)
                return RecordingServer::httpReply("arrived", "Set-Cookie: o=1\r\n");
            return RecordingServer::httpReply("moved", moved, status);
        };
        from.setHandler(reply);
        other.setHandler(reply);
        EXPECT_EQ(perform(from.url("/login.php"), "POST", "", "", "password=pw"),
                  followedAs.empty() ? "moved" : "arrived");
        const std::vector<std::string> atTarget = to.requests();
        ASSERT_EQ(atTarget.size(), (elsewhere ? 0u : 1u) + (followedAs.empty() ? 0u : 1u));
        if (!followedAs.empty()) {
            EXPECT_EQ(RecordingServer::requestLine(atTarget.back()), followedAs);
            EXPECT_EQ(RecordingServer::bodyOf(atTarget.back()), elsewhere ? "" : "password=pw");
            EXPECT_EQ(RecordingServer::headerValue(atTarget.back(), "Cookie"),
                      elsewhere ? "" : "sid=s");
        }
        // Each cookie is kept for the host that set it.
        EXPECT_EQ(cookies.all().size(), followedAs.empty() ? 1u : 2u);
        for (const std::string& line : cookies.all())
            EXPECT_EQ(CookieStore::domainOf(line),
                      line.ends_with("sid\ts") ? "127.0.0.5" : to.address());
    }
}

TEST_F(EngineCookies, NoFloodPushesOutTheConfiguredHostsCookies)
{
    const auto setCookies = [](const std::string& prefix, int count) { // of 1000 bytes
        std::string lines;
        for (int i = 0; i < count; ++i)
            lines +=
                "Set-Cookie: " + prefix + std::to_string(i) + "=" + std::string(1000, 'v') + "\r\n";
        return lines;
    };
    // A flooder answers /N with rN_0 to rN_39. The service logs in with more
    // than one flooder keeps, and redirects /go/N to the first flooder's /N.
    const auto flood = [&](const std::string& request) {
        const std::string round = RecordingServer::requestLine(request).substr(5, 1);
        return RecordingServer::httpReply("", setCookies("r" + round + "_", 40));
    };
    const std::string login = "Set-Cookie: sid=s\r\n" + setCookies("s", 7);
    // row, flooders (none: the IP lookup host `other`), whether by redirect
    for (const auto& [row, flooders, redirected] :
         std::vector<std::tuple<std::string, std::vector<std::string>, bool>>{
             {"ipLookupHost", {}, false},
             {"redirectTarget", {"127.0.0.4"}, true},
             {"manyHosts",
              {"127.0.0.4", "127.0.0.5", "127.0.0.6", "127.0.0.7", "127.0.0.8", "127.0.0.9"},
              false}}) {
        SCOPED_TRACE(row);
        Network network{.cookies =
                            CookieStore({service.hostPort(), other.hostPort(), "127.0.0.3"})};
        std::vector<std::unique_ptr<RecordingServer>> servers;
        for (const std::string& address : flooders)
            servers.push_back(std::make_unique<RecordingServer>(address));
        std::vector<RecordingServer*> floodingServers;
        for (const auto& server : servers)
            floodingServers.push_back(server.get());
        if (servers.empty())
            floodingServers.push_back(&other);
        for (RecordingServer* server : floodingServers)
            server->setHandler(flood);
        const std::string target = floodingServers.front()->url("/");
        service.setHandler([login, target](const std::string& request) {
            const std::string line = RecordingServer::requestLine(request);
            if (line.starts_with("GET /go/"))
                return RecordingServer::httpReply(
                    "", "Location: " + target + line.substr(8, 1) + "\r\n", "302 Found");
            return RecordingServer::httpReply("ok", line.starts_with("GET /login ") ? login : "");
        });
        timedRequest(network, service.url("/login"));
        for (const std::string round : {"0", "1", "2"})
            for (RecordingServer* server : floodingServers)
                timedRequest(network,
                             redirected ? service.url("/go/" + round) : server->url("/" + round));
        EXPECT_EQ(timedRequest(network, service.url("/after")), "ok");
        EXPECT_EQ(cookiesSent(service.requests().back()).size(), 8u); // sid and s0 to s6

        // The last flooder over its share lost its own oldest; all is bounded.
        std::string kept, all;
        for (const std::string& line : network.cookies.linesFor(floodingServers.back()->address()))
            kept += line + "\n";
        for (const std::string& line : network.cookies.all())
            all += line;
        EXPECT_NE(kept.find("\tr2_39\t"), std::string::npos);
        EXPECT_EQ(kept.find("\tr0_0\t"), std::string::npos);
        EXPECT_LE(all.size(), CookieStore::maxTotalBytes);
        service.clearRequests();
    }
}

// ---- Cookie store ------------------------------------------------------

std::string cookieLine(const std::string& domain, const std::string& name, const std::string& value,
                       const std::string& path = "/")
{
    const bool subdomains = domain.starts_with('.');
    return domain + "\t" + (subdomains ? "TRUE" : "FALSE") + "\t" + path + "\tFALSE\t0\t" + name +
           "\t" + value;
}

TEST(CookieStoreTest, HandsEachHostItsOwnAndItsParentDomainsCookies)
{
    CookieStore store;
    store.update({}, {cookieLine("a.example.com", "x", "1"), cookieLine(".example.com", "y", "2"),
                      cookieLine("b.example.com", "z", "3"), cookieLine("127.0.0.1", "s", "4"),
                      "#HttpOnly_" + cookieLine("a.example.com", "h", "5")});
    auto names = [&](const char* host) {
        std::set<std::string> result;
        for (const std::string& line : store.linesFor(host))
            result.insert(line.substr(line.rfind('\t', line.size() - 3) + 1));
        return result;
    };
    EXPECT_EQ(names("a.example.com"), (std::set<std::string>{"x\t1", "y\t2", "h\t5"}));
    EXPECT_EQ(names("A.Example.COM"), (std::set<std::string>{"x\t1", "y\t2", "h\t5"}));
    EXPECT_EQ(names("b.example.com"), (std::set<std::string>{"y\t2", "z\t3"}));
    EXPECT_EQ(names("example.com"), (std::set<std::string>{"y\t2"}));
    EXPECT_EQ(names("notexample.com"), (std::set<std::string>{}));
    EXPECT_EQ(names("127.0.0.1"), (std::set<std::string>{"s\t4"}));
    EXPECT_EQ(names("127.0.0.2"), (std::set<std::string>{}));
}

TEST(CookieStoreTest, ConcurrentTransfersKeepEachOthersCookies)
{
    CookieStore store;
    const std::string base = cookieLine("h", "base", "0");
    store.update({}, {base});
    // Two transfers start with the same cookies and end in either order.
    std::vector<std::string> loaded = store.linesFor("h");
    store.update(loaded, {base, cookieLine("h", "first", "1")});
    store.update(loaded, {base, cookieLine("h", "second", "2")});
    EXPECT_EQ(store.all().size(), 3u);
}

TEST(CookieStoreTest, DroppedFromTheJarMeansDeleted)
{
    CookieStore store;
    store.update({}, {cookieLine("h", "a", "1"), cookieLine("h", "b", "2")});
    store.update(store.linesFor("h"), {cookieLine("h", "a", "9")});
    EXPECT_EQ(store.all(), (std::vector<std::string>{cookieLine("h", "a", "9")}));
}

TEST(CookieStoreTest, SameNameOnAnotherPathIsAnotherCookie)
{
    CookieStore store;
    store.update({}, {cookieLine("h", "a", "1", "/"), cookieLine("h", "a", "2", "/sub")});
    EXPECT_EQ(store.all().size(), 2u);
    EXPECT_EQ(CookieStore::keyOf("not a cookie line"), "");
}

TEST(CookieStoreTest, ALateTransferNeverUndoesAnother)
{
    CookieStore store;
    store.update({}, {cookieLine("h", "sid", "old"), cookieLine("h", "gone", "1")});
    const std::vector<std::string> slow = store.linesFor("h");
    // A quicker transfer rotates sid and deletes gone; then the slow one
    // ends, its server having changed nothing.
    store.update(store.linesFor("h"), {cookieLine("h", "sid", "new")});
    store.update(slow, slow);
    EXPECT_EQ(store.all(), (std::vector<std::string>{cookieLine("h", "sid", "new")}));
}

TEST(CookieStoreTest, IsBoundedAndTheOldestGoFirst)
{
    CookieStore store;
    for (size_t i = 0; i < CookieStore::maxCookiesPerHost + 10; ++i)
        store.update({}, {cookieLine("h", "c" + std::to_string(i), "v")});
    store.update({}, {cookieLine("k", "big", std::string(CookieStore::maxLineBytes, 'x'))});
    EXPECT_EQ(store.all().size(), CookieStore::maxCookiesPerHost);
    EXPECT_EQ(store.linesFor("h").front(), cookieLine("h", "c10", "v")); // c0 to c9 are gone
    for (int i = 0; i < 40; ++i)
        store.update({}, {cookieLine("h" + std::to_string(i), "c", std::string(4000, 'v'))});
    size_t bytes = 0;
    for (const std::string& line : store.all())
        bytes += line.size();
    EXPECT_LE(bytes, CookieStore::sharedBytes); // no host is protected here
    EXPECT_TRUE(store.linesFor("h0").empty() && store.linesFor("h39").size() == 1u);
}

// ---- Runner on a thread without a Qt application -------------------------

TEST(TimedRequestWithoutApplication, WaitsOnTheWorkerAndHonoursTheLimit)
{
    RecordingServer server;
    server.setHandler([](const std::string& request) {
        RecordingServer::Reply reply{RecordingServer::httpReply("slow")};
        if (RecordingServer::requestLine(request).starts_with("GET /slow "))
            reply.delay = 3s;
        else
            reply.bytes = RecordingServer::httpReply("quick");
        return reply;
    });
    Network network;
    EXPECT_EQ(timedRequest(network, server.url("/quick")), "quick");

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(timedRequest(network, server.url("/slow"), "", "", "", "", 1), "");
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, 900ms);
    EXPECT_LT(elapsed, 2500ms);
    EXPECT_TRUE(network.workers->waitUntilNone(5s));
}

TEST(TimedRequestWithoutApplication, WaitHandlingEventsSleeps)
{
    const auto start = std::chrono::steady_clock::now();
    waitHandlingEvents(50ms);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
}

} // namespace
} // namespace qiv
