// Measures the program's start against qiv-devserver: the time from the
// process start (the kernel's start time of the process, not main()) to
//  - the window shown: show() returned, first exposed, first painted;
//  - the login group enabled: the start-up fetches (suffixes, user count,
//    public IP) done and the group titled "登 录" again.
// Each run is a fresh process that starts as qiv-forward does, with and
// without the four browser views. Needs a display (xvfb-run -a).
// Usage: bench_startup [runs (default 5)]

#include "bench_support.h"
#include "bench_window.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace qiv::bench;

struct Run {
    double main = -1, show = -1, exposed = -1, painted = -1, login = -1;
};

bool parse(const std::string& line, Run& run)
{
    return std::sscanf(line.c_str(), "main=%lf show=%lf exposed=%lf painted=%lf login=%lf",
                       &run.main, &run.show, &run.exposed, &run.painted, &run.login) == 5;
}

void printRow(const char* what, const Run& r)
{
    std::printf("  %-8s main() %7.1f  show() %7.1f  exposed %7.1f  painted %7.1f  login "
                "enabled %7.1f\n",
                what, r.main, r.show, r.exposed, r.painted, r.login);
}

} // namespace

int main(int argc, char** argv)
{
    if (std::optional<StartOptions> options = measureOptions(argc, argv)) {
        runProgramStart(argv[0], *options, [](const StartTimes& t, qiv::MainWindow&) {
            std::printf("main=%.1f show=%.1f exposed=%.1f painted=%.1f login=%.1f\n",
                        msFromStart(t, t.mainEntered), msFromStart(t, t.showReturned),
                        msFromStart(t, t.exposed), msFromStart(t, t.painted),
                        msFromStart(t, t.loginEnabled));
        });
    }

    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    if (std::getenv("DISPLAY") == nullptr) {
        std::fprintf(stderr, "bench_startup: needs a display; run it under xvfb-run -a\n");
        return 2;
    }
    DevServerChild server;
    if (!server.running()) {
        std::fprintf(stderr, "bench_startup: qiv-devserver did not start\n");
        return 1;
    }
    std::printf("qiv-devserver: service %s, ip %s, ads %s\n", server.serviceHost().c_str(),
                server.ipHost().c_str(), server.adHost().c_str());
    std::printf("milliseconds from process start (kernel start time, %ld ticks/s)\n",
                sysconf(_SC_CLK_TCK));
    int failures = 0;
    for (const bool views : {true, false}) {
        std::printf("%s:\n", views ? "with the four browser views (as qiv-forward)"
                                   : "without browser views");
        std::vector<Run> all;
        for (int i = 0; i < runs; ++i) {
            const std::string out =
                runSelf("/proc/self/exe", {"--measure", server.serviceHost(), server.ipHost(),
                                           server.adHost(), views ? "1" : "0"});
            Run run;
            if (!parse(out, run) || run.login < 0) {
                ++failures;
                std::printf("  run %d failed: %s\n", i + 1, out.c_str());
                continue;
            }
            all.push_back(run);
            char what[16];
            std::snprintf(what, sizeof what, "run %d", i + 1);
            printRow(what, run);
        }
        auto med = [&all](double Run::*field) {
            std::vector<double> values;
            for (const Run& r : all)
                values.push_back(r.*field);
            return median(values);
        };
        printRow("median", Run{med(&Run::main), med(&Run::show), med(&Run::exposed),
                               med(&Run::painted), med(&Run::login)});
    }
    return failures ? 1 : 0;
}
