// Measures from outside how soon the window is mapped after the launch:
// the real qiv-forward (against qiv-devserver on its default addresses, the
// hosts built into it) next to bench_bare_window, a bare Qt program with a
// 278x564 window and one browser view made after it is shown. The two are
// launched in turn, so that both see the same machine; wait_window_mapped
// catches the map events on the same X server. Counts to the window that
// stays (Qt may make a shown window anew) and counts the windows made anew.
// Prints the medians and the ratio. Needs a display of its own (xvfb-run -a).
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
    bool views;        // qiv-forward, with its advertisement views
    std::vector<double> firstMs{};
    std::vector<double> staysMs{};
    int replacements = 0;
};

// One launch: milliseconds to the first map and to the map of the window
// that stays, and how often a new window took the old one's place.
struct Launch {
    double firstMs = -1;
    double staysMs = -1;
    int replacements = 0;
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

// From the launch until the window is mapped, and until no other window
// replaced it for 3 s; times -1 when there is no window within a minute.
Launch launchToMapped(const Program& program)
{
    int waiterOut = -1;
    const pid_t waiter =
        spawnProgram({QIV_WAIT_WINDOW_MAPPED_PATH, program.title, "60", "3"}, &waiterOut);
    Launch launch;
    if (waiter < 0)
        return launch;
    if (readLine(waiterOut, 10000) == std::string("ready")) {
        const double start = epochSeconds();
        const pid_t pid = spawnProgram(program.views ? forwardWithViews(program.path)
                                                     : std::vector<std::string>{program.path},
                                       nullptr);
        if (pid > 0) {
            if (std::optional<std::string> mapped = readLine(waiterOut, 65000)) {
                double first = 0, stays = 0;
                if (std::sscanf(mapped->c_str(), "%lf %lf %d", &first, &stays,
                                &launch.replacements) == 3) {
                    launch.firstMs = (first - start) * 1000;
                    launch.staysMs = (stays - start) * 1000;
                }
            }
            endTree(pid);
        }
    }
    kill(waiter, SIGTERM);
    waitpid(waiter, nullptr, 0);
    close(waiterOut);
    return launch;
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
    Program bare{"bench_bare_window", QIV_BARE_WINDOW_PATH, "bench_bare_window", false};
    Program forward{"qiv-forward", argc > 2 ? argv[2] : QIV_FORWARD_PATH, "Qiv", true};
    std::printf("milliseconds from the launch until the window is mapped: the first window, "
                "the window that stays, and the windows made anew\n");
    int failures = 0;
    for (int i = 0; i < runs; ++i) {
        for (Program* program : {&bare, &forward}) {
            const Launch launch = launchToMapped(*program);
            std::printf("  run %d: %-17s first %8.1f ms, stays %8.1f ms, replaced %d\n", i + 1,
                        program->label, launch.firstMs, launch.staysMs, launch.replacements);
            if (launch.staysMs < 0) {
                ++failures;
                continue;
            }
            program->firstMs.push_back(launch.firstMs);
            program->staysMs.push_back(launch.staysMs);
            program->replacements += launch.replacements;
        }
    }
    for (const Program* program : {&bare, &forward})
        std::printf("  median %-17s first %.1f ms, stays %.1f ms; windows made anew: %d in %zu "
                    "launches\n",
                    program->label, median(program->firstMs), median(program->staysMs),
                    program->replacements, program->staysMs.size());
    const double bareMs = median(bare.staysMs);
    const double forwardMs = median(forward.staysMs);
    std::printf("  ratio to the window that stays: %.2f (qiv-forward / bare)\n",
                bareMs > 0 ? forwardMs / bareMs : 0.0);
    return failures ? 1 : 0;
}
