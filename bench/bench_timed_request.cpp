// Measures the timed runner on loopback:
//  (a) the CPU time the process spends while timedRequest waits 3 s for a
//      slow reply, next to the wall time;
//  (b) the median extra time of timedRequest over one bare libcurl
//      exchange of the same request.
// Usage: bench_timed_request [requests (default 300)]

#include "net/http_engine.h"
#include "net/timed_request.h"
#include "recording_server.h"

#include <QCoreApplication>

#include <curl/curl.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using qiv::test::RecordingServer;

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double microsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

size_t collect(char* data, size_t size, size_t count, void* user)
{
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

// The same GET as the engine sends, on a fresh handle as the engine uses,
// on the calling thread: no worker, no wait, no header block.
std::string bareExchange(const std::string& url)
{
    std::string body;
    CURL* h = curl_easy_init();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_PROXY, "");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);
    curl_easy_perform(h);
    curl_easy_cleanup(h);
    return body;
}

std::string engineExchange(qiv::Network& network, const std::string& url)
{
    qiv::RequestSlots requestSlots;
    requestSlots.url = url;
    qiv::performRequest(network.cookies, requestSlots);
    return requestSlots.response;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int requests = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;
    curl_global_init(CURL_GLOBAL_DEFAULT);

    qiv::Network network;
    RecordingServer server;
    server.setHandler([](const std::string& request) {
        RecordingServer::Reply reply{RecordingServer::httpReply("ok")};
        if (RecordingServer::requestLine(request).starts_with("GET /slow "))
            reply.delay = std::chrono::seconds(3);
        return reply;
    });

    // (a) CPU while waiting.
    {
        const double cpuBefore = cpuSeconds();
        const auto start = Clock::now();
        const std::string body =
            qiv::timedRequest(network, server.url("/slow"), "", "", "", "", 10);
        const double wall = microsSince(start) / 1e6;
        const double cpu = cpuSeconds() - cpuBefore;
        std::printf(
            "(a) wait for a 3 s reply: wall %.3f s, process CPU %.4f s (%.3f%% of wall)%s\n", wall,
            cpu, 100.0 * cpu / wall, body == "ok" ? "" : "  [unexpected reply]");
    }

    // (b) Extra time over a bare exchange, interleaved so that both see the
    // same machine load.
    const std::string url = server.url("/fast");
    for (int i = 0; i < 20; ++i) { // warm-up
        bareExchange(url);
        qiv::timedRequest(network, url);
    }
    server.clearRequests();
    std::vector<double> bare, engine, timed, extra;
    int failures = 0;
    for (int i = 0; i < requests; ++i) {
        auto t0 = Clock::now();
        failures += bareExchange(url) != "ok";
        bare.push_back(microsSince(t0));

        t0 = Clock::now();
        failures += engineExchange(network, url) != "ok";
        engine.push_back(microsSince(t0));

        t0 = Clock::now();
        failures += qiv::timedRequest(network, url) != "ok";
        timed.push_back(microsSince(t0));
        extra.push_back(timed.back() - bare.back());
        if (i % 100 == 99)
            server.clearRequests();
    }
    std::printf("(b) %d requests each: median bare libcurl %.1f us, performRequest %.1f us, "
                "timedRequest %.1f us\n",
                requests, median(bare), median(engine), median(timed));
    std::printf("    median extra time of timedRequest over bare libcurl: %.1f us "
                "(per-pair median; difference of medians %.1f us)%s\n",
                median(extra), median(timed) - median(bare),
                failures ? "  [some replies were wrong]" : "");
    network.workers->waitUntilNone(std::chrono::seconds(5));
    return failures ? 1 : 0;
}
