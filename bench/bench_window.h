#pragma once

#include <functional>
#include <optional>
#include <string>

namespace qiv {
class MainWindow;
}

namespace qiv::bench {

struct StartOptions {
    std::string serviceHost, ipHost, adHost; // "ip:port"
    bool browserViews = true;
    // Also wait until the four advertisement pages have loaded.
    bool waitForAds = false;
    int timeoutMs = 60000;
    // Time left for the process to settle before the report.
    int settleMs = 0;
};

// Moments of the start, on the boot clock (bootSeconds()); 0: not reached.
struct StartTimes {
    double processStart = 0;
    double mainEntered = 0;
    double showReturned = 0; // window.show() returned
    double exposed = 0;      // the window system first exposed the window
    double painted = 0;      // the window's first paint event
    double loginEnabled = 0; // the login group enabled again, titled "登 录"
    double adsLoaded = 0;    // all four advertisement pages finished loading
    bool adsOk = false;      // ... and every one succeeded
};

// Milliseconds from the process start to a moment, or -1 when not reached.
double msFromStart(const StartTimes& times, double moment);

// Starts the program as qiv-forward does (environment, QApplication, the
// window with its browser views, the event table, show, then the start-up
// fetches), against the given hosts. Once the login group is enabled (and
// the advertisements have loaded, if asked) or the time is up, calls
// `report` on the UI thread with everything still alive, then ends the
// process at once as the program does.
[[noreturn]] void
runProgramStart(char* argv0, const StartOptions& options,
                const std::function<void(const StartTimes&, MainWindow&)>& report);

// The child run a bench starts of itself: "--measure SERVICE IP ADS VIEWS"
// (VIEWS 1 or 0). Nothing for any other command line.
std::optional<StartOptions> measureOptions(int argc, char** argv);

} // namespace qiv::bench
