#include "net/cookie_store.h"
#include "net/timed_request.h"
#include "net_test_util.h"
#include "recording_server.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <future>
#include <memory>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace qiv {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::closedLoopbackPort;
using test::RecordingServer;

// Replies by path: "/slow..." after `slowDelay`, "/inner..." after 1 s,
// "/outer..." after 300 ms; each body names its own path, so a reply that
// reaches the wrong call shows.
RecordingServer::Reply replyByPath(const std::string& request)
{
    std::string line = RecordingServer::requestLine(request);
    std::string path = line.substr(line.find(' ') + 1);
    path = path.substr(0, path.find(' '));
    RecordingServer::Reply reply{RecordingServer::httpReply("reply for " + path)};
    if (path.starts_with("/slow"))
        reply.delay = 3s;
    else if (path.starts_with("/inner"))
        reply.delay = 1s;
    else if (path.starts_with("/outer"))
        reply.delay = 300ms;
    return reply;
}

class TimedRequest : public ::testing::Test {
protected:
    void SetUp() override { server.setHandler(replyByPath); }
    void TearDown() override
    {
        // Abandoned workers end within about a second of their limit.
        EXPECT_TRUE(network.workers->waitUntilNone(5s));
    }

    Network network;
    RecordingServer server;
};

TEST_F(TimedRequest, DefaultLimitIsNinetySeconds)
{
    EXPECT_EQ(network.requestLimit.load(), 90s);
}

TEST_F(TimedRequest, ReturnsTheBody)
{
    EXPECT_EQ(timedRequest(network, server.url("/page")), "reply for /page");
}

TEST_F(TimedRequest, UrlAloneSendsTheDefaultGet)
{
    const std::string url = server.url("/countUser.php");
    timedRequest(network, url);
    ASSERT_TRUE(server.waitForRequests(1, 5s));
    EXPECT_EQ(server.requests().front(),
              test::wireRequest("GET /countUser.php HTTP/1.1", server.hostPort(),
                                test::acceptLine + test::refererLine(url) + test::languageLine));
}

TEST_F(TimedRequest, PostsTheBody)
{
    EXPECT_EQ(
        timedRequest(network, server.url("/login.php"), "POST", "", "", "username=a&password=b"),
        "reply for /login.php");
    ASSERT_TRUE(server.waitForRequests(1, 5s));
    EXPECT_EQ(RecordingServer::bodyOf(server.requests().front()), "username=a&password=b");
}

TEST_F(TimedRequest, BodyEndsAtItsFirstZeroByte)
{
    server.setReply(RecordingServer::httpReply(std::string("before\0after", 12)));
    EXPECT_EQ(timedRequest(network, server.url("/")), "before");
}

TEST_F(TimedRequest, BodyStartingWithZeroByteIsEmpty)
{
    server.setReply(RecordingServer::httpReply(std::string("\0rest", 5)));
    EXPECT_EQ(timedRequest(network, server.url("/")), "");
}

TEST_F(TimedRequest, LimitGivesEmptyTextAndTheNextCallStartsClean)
{
    const auto start = Clock::now();
    EXPECT_EQ(timedRequest(network, server.url("/slow"), "", "", "", "", 1), "");
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 950ms);
    EXPECT_LT(elapsed, 2000ms);

    EXPECT_EQ(timedRequest(network, server.url("/next")), "reply for /next");
}

TEST_F(TimedRequest, AbandonedWorkerEndsAndFreesItself)
{
    EXPECT_EQ(timedRequest(network, server.url("/slow"), "", "", "", "", 1), "");
    // The transfer is cut at the worker's next progress check, long before
    // the server's 3 s reply.
    EXPECT_TRUE(network.workers->waitUntilNone(1500ms));
    EXPECT_EQ(network.workers->running(), 0);
}

TEST_F(TimedRequest, AbandonedWorkerOutlivesItsNetworkWithoutTouchingIt)
{
    // The caller's Network goes as soon as the call returns; the worker
    // still ends and counts itself out (a sanitizer build sees any touch
    // of the freed Network).
    auto own = std::make_unique<Network>();
    std::shared_ptr<WorkerCount> workers = own->workers;
    EXPECT_EQ(timedRequest(*own, server.url("/slow"), "", "", "", "", 1), "");
    own.reset();
    EXPECT_TRUE(workers->waitUntilNone(5s));
}

TEST_F(TimedRequest, LimitPassedWhileConnectingEndsTheWorkerToo)
{
    // A listener with a full backlog that never accepts: further connection
    // attempts hang in the handshake.
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    socklen_t len = sizeof addr;
    getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        fillers.push_back(fd);
    }
    const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/";

    const auto start = Clock::now();
    EXPECT_EQ(timedRequest(network, url, "", "", "", "", 1), "");
    EXPECT_LT(Clock::now() - start, 2000ms);
    EXPECT_TRUE(network.workers->waitUntilNone(3s));
    for (int fd : fillers)
        ::close(fd);
    ::close(listener);
}

TEST_F(TimedRequest, LimitPassedMidBodyReturnsNothingAndStoresNoCookie)
{
    RecordingServer::Reply partial;
    partial.bytes = "HTTP/1.1 200 OK\r\nContent-Length: 20\r\nSet-Cookie: early=1\r\n\r\nfirst";
    partial.tail = "second-part-here";
    partial.tailDelay = 3s;
    server.setReply(partial);
    EXPECT_EQ(timedRequest(network, server.url("/partial"), "", "", "", "", 1), "");
    ASSERT_TRUE(network.workers->waitUntilNone(5s));
    EXPECT_TRUE(network.cookies.all().empty());

    server.setHandler(replyByPath);
    EXPECT_EQ(timedRequest(network, server.url("/after")), "reply for /after");
    ASSERT_TRUE(server.waitForRequests(2, 5s));
    EXPECT_EQ(RecordingServer::headerValue(server.requests()[1], "Cookie"), "");
}

TEST_F(TimedRequest, OverlappingCallNeverUndoesARotatedOrDeletedCookie)
{
    server.setHandler([](const std::string& request) {
        RecordingServer::Reply reply = replyByPath(request);
        const std::string line = RecordingServer::requestLine(request);
        if (line.starts_with("GET /set?")) // the query is the cookie
            reply.bytes = RecordingServer::httpReply(
                "", "Set-Cookie: " + line.substr(9, line.rfind(' ') - 9) + "\r\n");
        return reply;
    });
    for (std::string change : {"sid=new", "sid=;Max-Age=0"}) {
        network.cookies.clear();
        server.clearRequests();
        timedRequest(network, server.url("/set?sid=old"));
        // The slow call has sent sid=old before the quick one changes it.
        QTimer::singleShot(0, [&] {
            server.waitForRequests(2, 5s);
            timedRequest(network, server.url("/set?" + change));
        });
        EXPECT_EQ(timedRequest(network, server.url("/inner")), "reply for /inner");
        ASSERT_TRUE(server.waitForRequests(3, 5s));
        EXPECT_EQ(RecordingServer::headerValue(server.requests()[1], "Cookie"), "sid=old");
        EXPECT_EQ(network.cookies.all(),
                  change == "sid=new"
                      ? std::vector<std::string>{"127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\tnew"}
                      : std::vector<std::string>{});
    }
}

TEST_F(TimedRequest, ZeroMeansTheDefaultLimit)
{
    network.requestLimit = 1s;
    const auto start = Clock::now();
    EXPECT_EQ(timedRequest(network, server.url("/slow"), "", "", "", "", 0), "");
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 950ms);
    EXPECT_LT(elapsed, 2000ms);
}

TEST_F(TimedRequest, LongerLimitLetsTheSlowReplyThrough)
{
    EXPECT_EQ(timedRequest(network, server.url("/outer"), "", "", "", "", 5), "reply for /outer");
}

TEST_F(TimedRequest, NegativeLimitReturnsAtOnceWithoutSending)
{
    const auto start = Clock::now();
    EXPECT_EQ(timedRequest(network, server.url("/x"), "", "", "", "", -1), "");
    EXPECT_LT(Clock::now() - start, 200ms);
    EXPECT_EQ(network.workers->running(), 0);
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(TimedRequest, RefusedConnectionReturnsAtOnce)
{
    const std::string url = "http://127.0.0.1:" + std::to_string(closedLoopbackPort()) + "/";

    const auto start = Clock::now();
    EXPECT_EQ(timedRequest(network, url, "", "", "", "", 30), "");
    EXPECT_LT(Clock::now() - start, 1000ms);
}

TEST_F(TimedRequest, UnknownMethodReturnsAtOnce)
{
    const auto start = Clock::now();
    EXPECT_EQ(timedRequest(network, server.url("/x"), "post", "", "", "a=1", 30), "");
    EXPECT_EQ(timedRequest(network, server.url("/x"), "PUT", "", "", "a=1", 30), "");
    EXPECT_LT(Clock::now() - start, 1000ms);
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(TimedRequest, EventsAreHandledDuringTheWait)
{
    int ticks = 0;
    QTimer timer;
    timer.setInterval(20ms);
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start();
    EXPECT_EQ(timedRequest(network, server.url("/inner")), "reply for /inner");
    timer.stop();
    // About 50 ticks in the 1 s wait; a blocked thread would see none.
    EXPECT_GE(ticks, 5);
}

TEST_F(TimedRequest, QueuedCallsFromOtherThreadsRunDuringTheWait)
{
    bool ran = false;
    std::thread poster([&] {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [&] { ran = true; }, Qt::QueuedConnection);
    });
    poster.join();
    EXPECT_EQ(timedRequest(network, server.url("/outer")), "reply for /outer");
    EXPECT_TRUE(ran);
}

TEST_F(TimedRequest, NestedCallGetsItsOwnReplyAndSoDoesTheOuterOne)
{
    // The outer reply arrives (300 ms) while the inner call still waits
    // (1 s); the outer call must come back with it once the inner is done.
    std::string inner;
    bool innerRan = false;
    QTimer::singleShot(50ms, [&] {
        inner = timedRequest(network, server.url("/inner"));
        innerRan = true;
    });
    const std::string outer = timedRequest(network, server.url("/outer"));
    EXPECT_TRUE(innerRan);
    EXPECT_EQ(inner, "reply for /inner");
    EXPECT_EQ(outer, "reply for /outer");
}

TEST_F(TimedRequest, NestedCallInsideAnAbandonedWait)
{
    // The outer call's limit passes while the inner call runs: the outer
    // one still returns the empty text, the inner one its reply.
    std::string inner;
    QTimer::singleShot(50ms, [&] { inner = timedRequest(network, server.url("/inner")); });
    const std::string outer = timedRequest(network, server.url("/slow"), "", "", "", "", 1);
    EXPECT_EQ(inner, "reply for /inner");
    EXPECT_EQ(outer, "");
}

TEST_F(TimedRequest, ConcurrentCallFromAnotherThread)
{
    std::string background;
    std::thread worker([&] { background = timedRequest(network, server.url("/outer/bg")); });
    const std::string foreground = timedRequest(network, server.url("/inner/fg"));
    worker.join();
    EXPECT_EQ(background, "reply for /outer/bg");
    EXPECT_EQ(foreground, "reply for /inner/fg");
}

TEST_F(TimedRequest, ManyThreadsEachGetTheirOwnReplies)
{
    constexpr int threads = 6;
    constexpr int calls = 5;
    std::atomic<int> wrong{0};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([&, t] {
            for (int c = 0; c < calls; ++c) {
                const std::string path = "/t" + std::to_string(t) + "/c" + std::to_string(c);
                if (timedRequest(network, server.url(path)) != "reply for " + path)
                    ++wrong;
            }
        });
    }
    // The main thread makes calls of its own meanwhile.
    for (int c = 0; c < calls; ++c) {
        const std::string path = "/main/c" + std::to_string(c);
        EXPECT_EQ(timedRequest(network, server.url(path)), "reply for " + path);
    }
    for (std::thread& t : pool)
        t.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(server.requestCount(), static_cast<size_t>((threads + 1) * calls));
}

TEST_F(TimedRequest, WorksOnAQThread)
{
    // The reply comes back through a future, a hand-over every race
    // detector can see.
    std::promise<std::string> reply;
    std::future<std::string> result = reply.get_future();
    QThread* thread = QThread::create([this, &reply, url = server.url("/qthread")] {
        reply.set_value(timedRequest(network, url));
    });
    thread->start();
    ASSERT_EQ(result.wait_for(10s), std::future_status::ready);
    ASSERT_TRUE(thread->wait(QDeadlineTimer(10000)));
    delete thread;
    EXPECT_EQ(result.get(), "reply for /qthread");
}

TEST_F(TimedRequest, LimitOnABackgroundThread)
{
    std::string result = "unset";
    Clock::duration elapsed{};
    std::thread worker([&] {
        const auto start = Clock::now();
        result = timedRequest(network, server.url("/slow"), "", "", "", "", 1);
        elapsed = Clock::now() - start;
    });
    worker.join();
    EXPECT_EQ(result, "");
    EXPECT_LT(elapsed, 2000ms);
}

TEST_F(TimedRequest, WaitHandlingEventsHandlesEventsAndLasts)
{
    int ticks = 0;
    QTimer timer;
    timer.setInterval(10ms);
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start();
    const auto start = Clock::now();
    waitHandlingEvents(200ms);
    EXPECT_GE(Clock::now() - start, 200ms);
    EXPECT_GE(ticks, 2);
}

} // namespace
} // namespace qiv

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
