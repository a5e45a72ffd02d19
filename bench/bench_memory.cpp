// Measures resident memory of the program after its start against
// qiv-devserver, with the four browser views (once their pages have loaded)
// and without them: the process's own VmRSS and proportional set size
// (Pss), and the same summed over its child processes (the WebEngine
// helpers), and the number of processes (the program and its helpers). RSS
// counts shared pages in every process that maps them; the Pss sum does
// not, but divides pages shared with any other process on the machine too
// (another WebEngine program lowers it). Each case is a fresh process started as qiv-forward
// starts. Needs a display (xvfb-run -a).
// Usage: bench_memory [runs (default 3)]

#include "bench_support.h"
#include "bench_window.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace qiv::bench;

constexpr int kSettleMs = 2000;

struct Figures {
    double selfRss = 0, selfPss = 0, childRss = 0, childPss = 0;
    int children = 0;
    int adsOk = 0;
};

void measure(const StartTimes& times, bool views)
{
    const pid_t self = getpid();
    std::string details;
    long childRss = 0, childPss = 0;
    int children = 0;
    for (pid_t child : descendants(self)) {
        const long rss = statusKb(child, "VmRSS");
        const long pss = pssKb(child);
        if (rss < 0)
            continue;
        ++children;
        childRss += rss;
        childPss += pss > 0 ? pss : 0;
        char line[160];
        std::snprintf(line, sizeof line, "    child %-32s VmRSS %7ld KiB  Pss %7ld KiB\n",
                      commandName(child).c_str(), rss, pss);
        details += line;
    }
    std::printf("self_rss=%ld self_pss=%ld children=%d children_rss=%ld children_pss=%ld "
                "ads_ok=%d login_ms=%.0f\n%s",
                statusKb(self, "VmRSS"), pssKb(self), children, childRss, childPss,
                views ? (times.adsOk ? 1 : 0) : -1, msFromStart(times, times.loginEnabled),
                details.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    if (std::optional<StartOptions> options = measureOptions(argc, argv)) {
        options->waitForAds = options->browserViews;
        options->settleMs = kSettleMs;
        const bool views = options->browserViews;
        runProgramStart(argv[0], *options,
                        [views](const StartTimes& t, qiv::MainWindow&) { measure(t, views); });
    }

    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    if (std::getenv("DISPLAY") == nullptr) {
        std::fprintf(stderr, "bench_memory: needs a display; run it under xvfb-run -a\n");
        return 2;
    }
    DevServerChild server;
    if (!server.running()) {
        std::fprintf(stderr, "bench_memory: qiv-devserver did not start\n");
        return 1;
    }
    std::printf("resident memory %d ms after the start completed (login group enabled%s)\n",
                kSettleMs, ", and with views all four pages loaded");
    int failures = 0;
    for (const bool views : {true, false}) {
        std::printf("%s:\n", views ? "with the four browser views (as qiv-forward)"
                                   : "without browser views");
        std::vector<double> selfRss, selfPss, childRss, childPss, total, totalPss, processes;
        for (int i = 0; i < runs; ++i) {
            const std::string out =
                runSelf("/proc/self/exe", {"--measure", server.serviceHost(), server.ipHost(),
                                           server.adHost(), views ? "1" : "0"});
            Figures f;
            long sr = 0, sp = 0, cr = 0, cp = 0;
            double login = -1;
            if (std::sscanf(out.c_str(),
                            "self_rss=%ld self_pss=%ld children=%d children_rss=%ld "
                            "children_pss=%ld ads_ok=%d login_ms=%lf",
                            &sr, &sp, &f.children, &cr, &cp, &f.adsOk, &login) != 7 ||
                login < 0 || f.adsOk == 0) {
                ++failures;
                std::printf("  run %d failed: %s\n", i + 1, out.c_str());
                continue;
            }
            std::printf("  run %d: %d processes, Pss summed %6.1f MiB, VmRSS summed %6.1f MiB; "
                        "program VmRSS %6.1f MiB (Pss %6.1f), %d children VmRSS sum %6.1f MiB "
                        "(Pss sum %6.1f)\n",
                        i + 1, 1 + f.children, (sp + cp) / 1024.0, (sr + cr) / 1024.0, sr / 1024.0,
                        sp / 1024.0, f.children, cr / 1024.0, cp / 1024.0);
            if (i == 0) {
                const size_t firstBreak = out.find('\n');
                if (firstBreak != std::string::npos)
                    std::printf("%s", out.substr(firstBreak + 1).c_str());
            }
            selfRss.push_back(sr / 1024.0);
            selfPss.push_back(sp / 1024.0);
            childRss.push_back(cr / 1024.0);
            childPss.push_back(cp / 1024.0);
            total.push_back((sr + cr) / 1024.0);
            totalPss.push_back((sp + cp) / 1024.0);
            processes.push_back(1 + f.children);
        }
        std::printf("  median: %.0f processes, Pss summed %.1f MiB, VmRSS summed %.1f MiB; "
                    "program VmRSS %.1f MiB (Pss %.1f), children VmRSS sum %.1f MiB (Pss sum "
                    "%.1f)\n",
                    median(processes), median(totalPss), median(total), median(selfRss),
                    median(selfPss), median(childRss), median(childPss));
    }
    return failures ? 1 : 0;
}
