#include "app/app.h"
#include "app/options.h"

#include "service/background.h"
#include "service/check.h"
#include "service/delete.h"
#include "service/login.h"
#include "service/modify.h"
#include "service/program_state.h"
#include "service/register.h"
#include "ui/ad_views.h"
#include "ui/main_window.h"

#include <QApplication>
#include <QColor>
#include <QDir>
#include <QEvent>
#include <QLineEdit>
#include <QPointer>
#include <QQuickWindow>
#include <QStyle>
#include <QStyleFactory>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include <unistd.h>

namespace qiv {
namespace {

// Focus arrives before the mouse press that caused it, and the press would
// place the cursor and drop a selection made at once; select after it.
class SelectAllOnFocus : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // The focus an advertisement view took and gave back never left.
        if (event->type() == QEvent::FocusIn && !AdViews::givingFocusBack()) {
            QPointer<QLineEdit> box = qobject_cast<QLineEdit*>(watched);
            if (box) {
                selectAllOnFocus(box);
                QTimer::singleShot(0, box, [box] { selectAllOnFocus(box); });
            }
        }
        return false;
    }
};

// Closing the window ends the program at once, also in the middle of an
// operation whose request is still waiting in a nested event loop.
class QuitOnClose : public QObject {
public:
    QuitOnClose(QObject* parent, std::function<void()> quit)
        : QObject(parent), quit_(std::move(quit))
    {}

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Close)
            quit_();
        return false;
    }

private:
    std::function<void()> quit_;
};

// Whether the flags hold a switch, alone or with a value ("--name=...").
bool hasSwitch(const QByteArray& flags, const QByteArray& name)
{
    for (const QByteArray& flag : flags.simplified().split(' '))
        if (flag == name || flag.startsWith(name + '='))
            return true;
    return false;
}

} // namespace

void selectAllOnFocus(QLineEdit* box)
{
    box->selectAll();
}

void quitProgram()
{
    endProcess(0);
}

// exit() runs the exit handlers last-in first-out, so no handler registered
// at start-up can come before the destructor of a static first made later
// (in exec(), say). But exit() on a thread first destroys that thread's
// thread_local objects, before any static one (glibc does so; C++ requires
// the order). This one's destructor registers the handler then: the last
// one registered, it runs first, and it is given exit's status. Only this
// thread's own thread_local objects made after it go before; no other
// thread uses them. (A
// definition of exit() in the program would be undefined behaviour, a
// reserved name, and take effect only where the dynamic linker binds to
// it.) The handler registered at once is the fallback for an exit() on
// another thread.
void endProcessOnExit()
{
    static constexpr auto handler = [](int status, void*) { endProcess(status); };
    struct Sentinel {
        ~Sentinel()
        {
            if (::on_exit(handler, nullptr) != 0)
                endProcess(EXIT_FAILURE);
        }
    };
    [[maybe_unused]] static thread_local Sentinel sentinel;
    ::on_exit(handler, nullptr);
}

void wireEvents(MainWindow& window, ProgramState& state, std::function<void()> quit)
{
    MainWindow* w = &window;
    ProgramState* s = &state;
    auto page = [w](Page n) { return [w, n] { showPage(*w, n); }; };

    QObject::connect(w->loginPage()->按钮1, &QPushButton::clicked, w, page(Page::Registration));
    QObject::connect(w->loginPage()->按钮_登录, &QPushButton::clicked, w,
                     [w, s] { logIn(*w, *s); });
    QObject::connect(w->loginPage()->按钮_取消, &QPushButton::clicked, w, [quit] { quit(); });
    w->installEventFilter(new QuitOnClose(w, quit));

    auto* focus = new SelectAllOnFocus(w);
    w->loginPage()->编辑框_用户名_登录->installEventFilter(focus);
    w->loginPage()->编辑框_密码_登录->installEventFilter(focus);
    // Enter in the password box logs in; the name box has no such key.
    QObject::connect(w->loginPage()->编辑框_密码_登录, &QLineEdit::returnPressed, w,
                     [w, s] { logIn(*w, *s); });

    QObject::connect(w->registrationPage()->按钮_检查域名_注册, &QPushButton::clicked, w,
                     [w, s] { checkAvailability(*w, *s); });
    QObject::connect(w->registrationPage()->按钮_注册, &QPushButton::clicked, w,
                     [w, s] { registerDomain(*w, *s); });
    QObject::connect(w->registrationPage()->按钮_返回登录, &QPushButton::clicked, w,
                     page(Page::Login));

    QObject::connect(w->accountPage()->按钮_修改资料, &QPushButton::clicked, w,
                     [w, s] { modifyAccount(*w, *s); });
    QObject::connect(w->accountPage()->按钮_刷新资料, &QPushButton::clicked, w,
                     [w, s] { refreshAccount(*w, *s); });
    QObject::connect(w->accountPage()->按钮_删除域名, &QPushButton::clicked, w,
                     [w, s] { deleteDomain(*w, *s); });

    QObject::connect(w->resultPage()->超级链接框_返回注册, &HyperlinkBox::pressed, w,
                     page(Page::Registration));
    QObject::connect(w->resultPage()->超级链接框_返回登录, &HyperlinkBox::pressed, w,
                     page(Page::Login));
}

void onWindowCreated(MainWindow& window, ProgramState& state)
{
    // The desktop's style where it names one; the plain fallback becomes
    // Fusion.
    QString style = QApplication::style()->name();
    if (style.compare(QStringLiteral("windows"), Qt::CaseInsensitive) == 0)
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    // Without a service host nothing is fetched: the box says where to set
    // one, and the window stays as it was created.
    if (state.hosts.service.empty()) {
        showMessage(window, QMessageBox::Warning,
                    QString::fromStdString(config::noServiceHostMessage()));
        return;
    }
    // The login waits for the start-up fetches. Disabled here at once, before
    // a click already queued can reach it; the thread's own first change,
    // queued behind that click, sets the same again. Without a thread the
    // window stays as it was created.
    if (startStartupFetches(window, state)) {
        window.loginPage()->setCaption(QStringLiteral("域名后缀下载中...请稍候"),
                                       QColor(0, 0, 255));
        window.loginPage()->setFormEnabled(false);
    }
}

bool sandboxDisabled(const QByteArray& userFlags, bool userDisabledSandbox, bool runningAsRoot)
{
    return runningAsRoot || userDisabledSandbox || hasSwitch(userFlags, "--no-sandbox");
}

bool sandboxDisabledHere()
{
    return sandboxDisabled(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS"),
                           qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"),
                           ::geteuid() == 0);
}

const char* const kNoSandboxNotice =
    "qiv-forward: the advertisement boxes stay empty: running as root, the browser engine "
    "would show them without its sandbox (--ads-without-sandbox shows them all the same)\n";

bool drawsInSoftware()
{
    if (qEnvironmentVariable("QT_QUICK_BACKEND") == QLatin1String("software") ||
        qEnvironmentVariableIntValue("LIBGL_ALWAYS_SOFTWARE") != 0)
        return true;
    // A GPU shows as a render node; without one, GL would only be Mesa's
    // rasterizer on the CPU.
    const QDir dri(QStringLiteral("/dev/dri"));
    return dri.entryList({QStringLiteral("renderD*")}, QDir::System).isEmpty();
}

QByteArray chromiumFlags(const QByteArray& userFlags, bool userDisabledSandbox, bool runningAsRoot,
                         bool software)
{
    const bool sandboxOff = sandboxDisabled(userFlags, userDisabledSandbox, runningAsRoot);
    // The four views show pages of one host: one renderer process serves
    // them all. The zygote exists to start sandboxed renderers; without the
    // sandbox it is only two processes more. With the sandbox, the second,
    // unsandboxed zygote would only start helpers that run inside this
    // process here. A switch the user gave stays theirs.
    QByteArray flags = userFlags.trimmed();
    const auto add = [&](const QByteArray& name, const QByteArray& value = {}) {
        if (!hasSwitch(userFlags, name))
            flags += ' ' + name + value;
    };
    if (sandboxOff)
        add("--no-sandbox");
    add("--renderer-process-limit", "=1");
    if (sandboxOff)
        add("--no-zygote");
    else
        add("--no-unsandboxed-zygote");
    // Without a GPU, Chromium's GL would run on the CPU as well: it
    // composites in software from the start instead, with no GL of its own.
    if (software)
        add("--disable-gpu");
    // The pages' scripts get a heap of their own size at most: a page that
    // allocates without end ends its renderer long before the machine's
    // memory, and faster than any watch from outside could.
    add("--js-flags", "=--max-old-space-size=" + QByteArray::number(kPageHeapMiB));
    return flags.trimmed();
}

void setChromiumEnvironment(bool software)
{
    // The browser views show remote pages: they keep Chromium's sandbox
    // unless it cannot run (as root) or the user turned it off.
    const QByteArray userFlags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    const bool userDisabledSandbox = qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX");
    const bool runningAsRoot = ::geteuid() == 0;
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
            chromiumFlags(userFlags, userDisabledSandbox, runningAsRoot, software));
    if (sandboxDisabled(userFlags, userDisabledSandbox, runningAsRoot))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
}

void prepareBrowserEngine()
{
    const bool software = drawsInSoftware();
    setChromiumEnvironment(software);
    // The views draw through Qt Quick. Without a GPU its software renderer
    // draws them with Chromium's software frames, and no GL is loaded at
    // all; with one, they share Qt's GL contexts.
    if (software)
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    else
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

int runApplication(int argc, char** argv)
{
    // Read before the GUI exists: help, the version and a bad option need
    // no display and make no window.
    config::SourcedHosts below;
    const std::string hostsError = config::hostsBelowOptions(&below);
    const CommandLine commandLine =
        readCommandLine(std::vector<std::string>(argv + std::min(argc, 1), argv + argc), below);
    if (commandLine.action != CommandLine::Action::Run && hostsError.empty())
        return finishCommandLine(commandLine);
    if (!hostsError.empty() && commandLine.action != CommandLine::Action::Version) {
        std::fprintf(stderr, "qiv-forward: %s\n", config::shownText(hostsError).c_str());
        return 2;
    }

    // From here, every way out ends in endProcess: the window closing and
    // "退 出" call quitProgram, as does the return from exec() below; Qt's
    // exit() when the display goes away ends there too.
    endProcessOnExit();
    // A page of the advertisement host runs only inside Chromium's sandbox,
    // unless the user says otherwise. A sandbox with its seccomp filter but
    // without namespaces (in a chroot) is a sandbox all the same.
    const bool adViews = !sandboxDisabledHere() || commandLine.adsWithoutSandbox;
    if (!adViews && ::geteuid() == 0)
        std::fputs(kNoSandboxNotice, stderr);
    prepareBrowserEngine();
    // The options are the program's own: Qt sees the program name only.
    int qtArgc = argc > 0 ? 1 : 0;
    QApplication app(qtArgc, argv);

    // Never destroyed: the background thread and abandoned request workers
    // may still use it while the process ends.
    auto* state = new ProgramState{.hosts = commandLine.hosts, .hostsFrom = commandLine.hostsFrom};
    MainWindow window(MainWindow::Options{.browserViews = adViews, .adHost = state->hosts.ad});
    wireEvents(window, *state, quitProgram);
    window.show();
    QTimer::singleShot(0, &window, [&window, state] { onWindowCreated(window, *state); });
    // The browser engine starts once the window is up, not before.
    QTimer::singleShot(0, &window, [&window] { window.startBrowserViews(); });
    app.exec();
    // Worker and background threads may still run: end without waiting.
    quitProgram();
}

} // namespace qiv
