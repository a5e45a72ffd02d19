#include "bench_window.h"

#include "app/app.h"
#include "bench_support.h"
#include "service/program_state.h"
#include "ui/main_window.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWebEngineView>
#include <QWindow>

#include <cstring>

#include <cstdio>
#include <cstdlib>

namespace qiv::bench {
namespace {

// Records the first event of a kind on the watched object.
class FirstEvent : public QObject {
public:
    FirstEvent(QEvent::Type type, double* at, QObject* parent)
        : QObject(parent), type_(type), at_(at)
    {}

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == type_ && *at_ == 0)
            *at_ = bootSeconds();
        return false;
    }

private:
    QEvent::Type type_;
    double* at_;
};

// The login group is disabled while the start-up fetches run and enabled at
// their end; the moment it is enabled after having been disabled.
class EnabledAgain : public QObject {
public:
    using QObject::QObject;
    bool seenDisabled = false;
    double enabledAt = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::EnabledChange) {
            const bool enabled = static_cast<QWidget*>(watched)->isEnabled();
            if (!enabled)
                seenDisabled = true;
            else if (seenDisabled && enabledAt == 0)
                enabledAt = bootSeconds();
        }
        return false;
    }
};

} // namespace

double msFromStart(const StartTimes& times, double moment)
{
    return moment == 0 ? -1 : (moment - times.processStart) * 1000;
}

void runProgramStart(char* argv0, const StartOptions& options,
                     const std::function<void(const StartTimes&, MainWindow&)>& report)
{
    static StartTimes times;
    times.mainEntered = bootSeconds();
    times.processStart = processStartSeconds();

    // Never destroyed, as in runApplication.
    auto* state = new ProgramState{.hosts = {.service = options.serviceHost,
                                             .ipLookup = options.ipHost,
                                             .ad = options.adHost}};

    // As runApplication does. The views are this bench's choice, not the
    // start-up's: as root they run without the sandbox, as qiv-forward with
    // --ads-without-sandbox would, on qiv-devserver's pages.
    prepareBrowserEngine();
    static int qtArgc = 1;
    static char* qtArgv[] = {argv0, nullptr};
    QApplication app(qtArgc, qtArgv);

    MainWindow window(
        MainWindow::Options{.browserViews = options.browserViews, .adHost = state->hosts.ad});
    wireEvents(window, *state, quitProgram);

    auto* enabledAgain = new EnabledAgain(&window);
    window.loginPage()->分组框1->installEventFilter(enabledAgain);
    window.installEventFilter(new FirstEvent(QEvent::Paint, &times.painted, &window));

    int adsPending = 0;
    bool viewsStarted = false;
    // The views come once the window is shown, as in runApplication.
    const auto startViews = [&] {
        window.startBrowserViews();
        viewsStarted = true;
        times.adsOk = true;
        for (QWidget* box : {window.超文本浏览框1, window.超文本浏览框2, window.超文本浏览框3,
                             window.超文本浏览框4}) {
            QWebEngineView* view = MainWindow::browserView(box);
            if (view == nullptr)
                continue;
            ++adsPending;
            QObject::connect(view, &QWebEngineView::loadFinished, &window, [&adsPending](bool ok) {
                times.adsOk = times.adsOk && ok;
                if (--adsPending == 0)
                    times.adsLoaded = bootSeconds();
            });
        }
        if (adsPending == 0)
            times.adsOk = false;
    };

    window.show();
    times.showReturned = bootSeconds();
    window.windowHandle()->installEventFilter(
        new FirstEvent(QEvent::Expose, &times.exposed, &window));
    QTimer::singleShot(0, &window, [&window, state] { onWindowCreated(window, *state); });
    QTimer::singleShot(0, &window, startViews);

    // Polled every millisecond: the caption is set just after the group is
    // enabled, in the same change.
    const double deadline = times.mainEntered + options.timeoutMs / 1000.0;
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    QObject::connect(&poll, &QTimer::timeout, &window, [&] {
        if (times.loginEnabled == 0 && enabledAgain->enabledAt != 0 &&
            window.loginPage()->分组框1->isEnabled() &&
            window.loginPage()->分组框1->title() == QStringLiteral("登 录"))
            times.loginEnabled = enabledAgain->enabledAt;
        const bool adsDone = !options.waitForAds || (viewsStarted && adsPending == 0);
        if ((times.loginEnabled != 0 && adsDone) || bootSeconds() > deadline) {
            poll.stop();
            QTimer::singleShot(options.settleMs, &window, [&] {
                report(times, window);
                quitProgram();
            });
        }
    });
    poll.start(1);
    app.exec();
    quitProgram();
}

std::optional<StartOptions> measureOptions(int argc, char** argv)
{
    if (argc != 6 || std::strcmp(argv[1], "--measure") != 0)
        return std::nullopt;
    StartOptions options;
    options.serviceHost = argv[2];
    options.ipHost = argv[3];
    options.adHost = argv[4];
    options.browserViews = std::strcmp(argv[5], "1") == 0;
    return options;
}

} // namespace qiv::bench
