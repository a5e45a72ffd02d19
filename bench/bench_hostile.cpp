// Figures for hostile replies. Printed, not asserted.
//  - endless body: the real qiv-forward against qiv-devserver on its default
//    addresses with a suffix page that never ends; the client's peak
//    resident memory (VmHWM, and VmRSS sampled every 100 ms) over the run,
//    and the same for a normal suffix page for comparison.
//  - suffix flood: a child of this bench runs the window without browser
//    views and the start-up fetches against a suffix page of 200 000
//    options (qiv-devserver --fault modify_html=flood), and against a list
//    of 80 000 suffixes (a page under 4 MiB, served in this process); the
//    longest gap between ticks of a 1 ms timer on the UI thread until the
//    login group is enabled again.
//  - accessibility on: the window as the program starts it, with the
//    accessibility bridge forced on and a screen reader's event listeners
//    on an AT-SPI bus of its own (dbus-run-session, at-spi2-core), against
//    suffix pages of 10, 300 and 1000 suffixes; bench_atspi_probe reads the
//    window over and over, and the slowest answer while the suffix boxes
//    fill is printed.
// Needs a display: xvfb-run -a bench_hostile [SECONDS (default 15) | --accessibility]

#include "bench_support.h"
#include "bench_window.h"
#include "devserver/dev_server.h"
#include "service/background.h"
#include "service/program_state.h"
#include "ui/main_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>

#include <limits.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using namespace qiv::bench;

constexpr int kSampleMs = 100;
constexpr int kIdleMs = 1000;
constexpr int kFloodTimeoutMs = 60000;
constexpr int kListOptions = 80000;
// The suffix page waits this long, so that the probe is reading before the
// boxes fill; the window child lives this long after the fetches' end.
constexpr int kA11ySuffixDelayMs = 3000;
constexpr int kA11ySettleMs = 5000;
const char kDbusRunSession[] = "/usr/bin/dbus-run-session";

// Ends a child: SIGTERM, then SIGKILL if it is still there after 3 s.
void endChild(pid_t pid)
{
    kill(pid, SIGTERM);
    for (int i = 0; i < 300; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// Runs qiv-forward for `seconds` against qiv-devserver on its default
// addresses with `serverArgs`, and prints its peak memory.
bool memoryPeak(const char* label, const std::vector<std::string>& serverArgs, double seconds)
{
    DevServerChild server(defaultDevServerAddresses(), serverArgs);
    if (!server.running()) {
        std::printf("%s: qiv-devserver did not start on its default addresses "
                    "(in use by another server?)\n",
                    label);
        return false;
    }
    const pid_t pid = spawnProgram(forwardWithViews(QIV_FORWARD_PATH), nullptr);
    if (pid < 0) {
        std::printf("%s: cannot start %s\n", label, QIV_FORWARD_PATH);
        return false;
    }
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    long maxRss = 0;
    long hwm = -1;
    bool alive = true;
    for (auto next = start; next < end; next += std::chrono::milliseconds(kSampleMs)) {
        std::this_thread::sleep_until(next);
        const long rss = statusKb(pid, "VmRSS");
        if (rss < 0 || waitpid(pid, nullptr, WNOHANG) == pid) {
            alive = false;
            break;
        }
        maxRss = std::max(maxRss, rss);
        hwm = statusKb(pid, "VmHWM");
    }
    const double ran =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (alive)
        endChild(pid);
    if (!alive) {
        std::printf("%s: qiv-forward ended after %.1f s (peak VmRSS sampled %.1f MiB)\n", label,
                    ran, maxRss / 1024.0);
        return false;
    }
    std::printf("%s: peak VmHWM %.1f MiB over %.1f s (VmRSS sampled every %d ms: max %.1f "
                "MiB; the main process, not its WebEngine helpers)\n",
                label, hwm / 1024.0, ran, kSampleMs, maxRss / 1024.0);
    return true;
}

struct StallFigures {
    qint64 idleGapMs = 0;
    qint64 maxGapMs = 0;
    qint64 filledMs = -1;  // both combo boxes filled, the suffix step over
    qint64 enabledMs = -1; // login group enabled again, titled "登 录"
    int items1 = 0, items2 = 0;
    QString caption;
};

// Notes when the watched widget is disabled: the login group starts
// enabled, and only its enabling after the fetches disabled it ends a run.
class DisabledSeen : public QObject {
public:
    using QObject::QObject;
    bool seen = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::EnabledChange && !static_cast<QWidget*>(watched)->isEnabled())
            seen = true;
        return false;
    }
};

void printStall(const StallFigures& f)
{
    if (f.enabledMs >= 0) {
        std::printf("longest UI stall %lld ms, filled after %lld ms (组合框1 %d "
                    "items, 组合框2 %d items), login group enabled after %lld ms (idle "
                    "baseline: longest gap %lld ms)\n",
                    static_cast<long long>(f.maxGapMs), static_cast<long long>(f.filledMs),
                    f.items1, f.items2, static_cast<long long>(f.enabledMs),
                    static_cast<long long>(f.idleGapMs));
    } else {
        std::printf("not done within %d s: longest UI stall %lld ms, 组合框1 %d "
                    "items, 组合框2 %d items, caption \"%s\"\n",
                    kFloodTimeoutMs / 1000, static_cast<long long>(f.maxGapMs), f.items1, f.items2,
                    f.caption.toStdString().c_str());
    }
}

// The child run: "--stall SERVICE IP ADS". Runs the window and its start-up
// fetches against those hosts, prints the figures and ends the process at
// once, as the program does (the background thread may still run).
[[noreturn]] void measureStall(char** argv)
{
    // Never destroyed, as in the program.
    auto* state =
        new qiv::ProgramState{.hosts = {.service = argv[2], .ipLookup = argv[3], .ad = argv[4]}};
    static int qtArgc = 1;
    static char* qtArgv[] = {argv[0], nullptr};
    QApplication app(qtArgc, qtArgv);
    qiv::MainWindow window(qiv::MainWindow::Options{.browserViews = false});
    window.show();
    auto* disabled = new DisabledSeen(&window);
    window.loginPage()->分组框1->installEventFilter(disabled);

    // A tick every millisecond: idle for a while for the baseline, then
    // with the fetches running until the login group is back.
    StallFigures f;
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 fetchStart = -1;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, &app, [&] {
        const qint64 now = clock.elapsed();
        const qint64 gap = now - last;
        last = now;
        if (fetchStart < 0) {
            f.idleGapMs = std::max(f.idleGapMs, gap);
            if (now >= kIdleMs) {
                fetchStart = now;
                qiv::startStartupFetches(window, *state);
            }
            return;
        }
        f.maxGapMs = std::max(f.maxGapMs, gap);
        f.items1 = window.loginPage()->组合框1->count();
        f.items2 = window.registrationPage()->组合框2->count();
        f.caption = window.loginPage()->分组框1->title();
        if (f.filledMs < 0 && f.items1 > 0 && f.items2 > 0 &&
            f.caption != QStringLiteral("域名后缀下载中...请稍候") &&
            !f.caption.startsWith(QStringLiteral("获取域名后缀失败")))
            f.filledMs = now - fetchStart;
        if (disabled->seen && window.loginPage()->分组框1->isEnabled() &&
            f.caption == QStringLiteral("登 录")) {
            f.enabledMs = now - fetchStart;
            app.quit();
        } else if (now - fetchStart > kFloodTimeoutMs) {
            app.quit();
        }
    });
    tick.start(1);
    app.exec();
    printStall(f);
    std::fflush(stdout);
    std::_Exit(0);
}

bool printChild(const char* label, const std::string& output)
{
    std::printf("%s: %s", label, output.empty() ? "the measuring child failed\n" : output.c_str());
    // Not done in time is a figure too; only a failed child is a failure.
    return output.starts_with("longest") || output.starts_with("not done");
}

// One accessibility row: `count` suffixes, the probe in a session bus of its
// own, reading the window this program runs as its "--a11y-window" child.
bool accessibilityRow(int count)
{
    std::string suffixes;
    for (int i = 0; i < count; ++i) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%ss%04d.cn", i ? "," : "", i);
        suffixes += suffix;
    }
    DevServerChild server(DevServerAddresses{},
                          {"--suffixes", suffixes, "--fault",
                           "modify_html=delay:" + std::to_string(kA11ySuffixDelayMs)});
    char self[PATH_MAX] = {};
    if (!server.running() || readlink("/proc/self/exe", self, sizeof self - 1) <= 0) {
        std::printf("accessibility on, %d suffixes: qiv-devserver did not start\n", count);
        return false;
    }
    const std::string output =
        outputOf({kDbusRunSession, "--", QIV_ATSPI_PROBE_PATH, self, "--a11y-window",
                  server.serviceHost(), server.ipHost(), server.adHost()});
    // The AT-SPI registry daemon says hello on the same output first.
    const size_t at = output.find("slowest ");
    double slowest = 0, idle = 0;
    int reads = 0, items = 0, events = 0;
    if (at == std::string::npos ||
        std::sscanf(output.c_str() + at, "slowest %lf idle %lf reads %d items %d events %d",
                    &slowest, &idle, &reads, &items, &events) != 5) {
        const size_t failed = output.find("failed");
        std::printf("accessibility on, %d suffixes: the probe failed: %s", count,
                    failed == std::string::npos ? "no output\n" : output.c_str() + failed);
        return false;
    }
    std::printf("accessibility on, %d suffixes: slowest answer %.1f ms while the suffix boxes "
                "fill (%d items; %d reads, %d events sent; idle before: %.1f ms)\n",
                count, slowest, items, reads, events, idle);
    return true;
}

bool accessibilityRows()
{
    if (access(kDbusRunSession, X_OK) != 0) {
        std::printf("accessibility on: no %s (scripts/setup-deps installs it)\n", kDbusRunSession);
        return false;
    }
    bool ok = true;
    for (int count : {10, 300, 1000})
        ok = accessibilityRow(count) && ok;
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::string_view(argv[1]) == "--stall")
        measureStall(argv);
    if (argc == 5 && std::string_view(argv[1]) == "--a11y-window") {
        // The program's start; the probe ends it, or it ends itself a while
        // after the start-up fetches.
        runProgramStart(argv[0],
                        {.serviceHost = argv[2],
                         .ipHost = argv[3],
                         .adHost = argv[4],
                         .settleMs = kA11ySettleMs},
                        [](const StartTimes&, qiv::MainWindow&) {});
    }
    // "--accessibility": the accessibility rows alone.
    const bool accessibilityOnly = argc > 1 && std::string_view(argv[1]) == "--accessibility";
    const double seconds =
        argc > 1 && !accessibilityOnly ? std::max(1.0, std::atof(argv[1])) : 15.0;
    if (std::getenv("DISPLAY") == nullptr) {
        std::fprintf(stderr, "bench_hostile: needs a display; run it under xvfb-run -a\n");
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (accessibilityOnly)
        return accessibilityRows() ? 0 : 1;
    bool ok = memoryPeak("endless body", {"--fault", "modify_html=endless"}, seconds);
    ok = memoryPeak("normal suffix page, for comparison", {}, seconds) && ok;

    {
        DevServerChild flood({}, {"--fault", "modify_html=flood"});
        ok = flood.running() &&
             printChild("suffix flood (200000 options)",
                        runSelf("/proc/self/exe", {"--stall", flood.serviceHost(), flood.ipHost(),
                                                   flood.adHost()})) &&
             ok;
    }

    qiv::devserver::Options options;
    options.serviceAddress = "127.0.0.1:0";
    options.ipAddress = "127.0.0.2:0";
    options.adAddress = "127.0.0.3:0";
    options.suffixes.clear();
    for (int i = 0; i < kListOptions; ++i) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "s%06d.cn", i);
        options.suffixes.emplace_back(suffix);
    }
    qiv::devserver::DevServer list(options);
    std::string error;
    if (!list.start(&error)) {
        std::printf("suffix list: %s\n", error.c_str());
        return 1;
    }
    auto host = [](const std::string& url) { return url.substr(std::strlen("http://")); };
    ok = printChild("suffix list (80000 options, under 4 MiB)",
                    runSelf("/proc/self/exe", {"--stall", host(list.serviceUrl()),
                                               host(list.ipUrl()), host(list.adUrl())})) &&
         ok;
    ok = accessibilityRows() && ok;
    return ok ? 0 : 1;
}
