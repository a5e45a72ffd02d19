// Measures from outside how soon the window is mapped after the launch:
// the real qiv-forward (against qiv-devserver on its default addresses, the
// hosts built into it) next to bench_bare_window, a bare Qt program with a
// 278x564 window and one browser view made after it is shown. The two are
// launched in turn, so that both see the same machine; wait_window_mapped
// catches the map event on the same X server. Prints both medians and
// their ratio. Needs a display of its own (xvfb-run -a).
// Usage: bench_window_first [runs of each (default 5)] [qiv-forward to use
//        instead of this build's, e.g. an older build's]

#include "bench_support.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace qiv::bench;

struct Program {
    const char* label;
    const char* path;
    const char* title; // a part of the window's title
    std::vector<double> ms;
};

double epochSeconds()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// One line from the pipe within the bound; nothing at its end or timeout.
std::optional<std::string> readLine(int fd, int timeoutMs)
{
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0)
            return std::nullopt;
        char c;
        if (read(fd, &c, 1) != 1)
            return std::nullopt;
        if (c == '\n')
            return line;
        line += c;
    }
}

// Ends a program and the helpers it started (they would end with it, but
// not before the next launch).
void endTree(pid_t pid)
{
    std::vector<pid_t> all = descendants(pid);
    all.push_back(pid);
    for (pid_t p : all)
        kill(p, SIGTERM);
    for (int i = 0; i < 300 && waitpid(pid, nullptr, WNOHANG) != pid; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    for (pid_t p : all)
        kill(p, SIGKILL);
    waitpid(pid, nullptr, 0);
    // The helpers are not our children: wait until they are gone.
    for (int i = 0; i < 300; ++i) {
        if (std::none_of(all.begin(), all.end(), [](pid_t p) { return kill(p, 0) == 0; }))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// Milliseconds from the launch until the window is mapped; -1 when it is
// not within a minute.
double launchToMapped(const Program& program)
{
    int waiterOut = -1;
    const pid_t waiter =
        spawnProgram({QIV_WAIT_WINDOW_MAPPED_PATH, program.title, "60"}, &waiterOut);
    if (waiter < 0)
        return -1;
    double ms = -1;
    if (readLine(waiterOut, 10000) == std::string("ready")) {
        const double start = epochSeconds();
        const pid_t pid = spawnProgram({program.path}, nullptr);
        if (pid > 0) {
            if (std::optional<std::string> mapped = readLine(waiterOut, 61000))
                ms = (std::strtod(mapped->c_str(), nullptr) - start) * 1000;
            endTree(pid);
        }
    }
    kill(waiter, SIGTERM);
    waitpid(waiter, nullptr, 0);
    close(waiterOut);
    return ms;
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    if (std::getenv("DISPLAY") == nullptr) {
        std::fprintf(stderr, "bench_window_first: needs a display; run it under xvfb-run -a\n");
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    DevServerChild server(defaultDevServerAddresses(), {});
    if (!server.running()) {
        std::fprintf(stderr, "bench_window_first: qiv-devserver did not start on its default "
                             "addresses (in use by another server?)\n");
        return 1;
    }
    Program bare{"bench_bare_window", QIV_BARE_WINDOW_PATH, "bench_bare_window", {}};
    Program forward{"qiv-forward", argc > 2 ? argv[2] : QIV_FORWARD_PATH, "Qiv", {}};
    std::printf("milliseconds from the launch until the window is mapped\n");
    int failures = 0;
    for (int i = 0; i < runs; ++i) {
        for (Program* program : {&bare, &forward}) {
            const double ms = launchToMapped(*program);
            std::printf("  run %d: %-17s %8.1f ms\n", i + 1, program->label, ms);
            if (ms < 0)
                ++failures;
            else
                program->ms.push_back(ms);
        }
    }
    const double bareMs = median(bare.ms);
    const double forwardMs = median(forward.ms);
    std::printf("  median: %s %.1f ms, %s %.1f ms, ratio %.2f (qiv-forward / bare)\n", bare.label,
                bareMs, forward.label, forwardMs, bareMs > 0 ? forwardMs / bareMs : 0.0);
    return failures ? 1 : 0;
}
