#include "../common/kept_state.h"
#include "app/app.h"
#include "ui/ad_views.h"
#include "ui/main_window.h"
#include "ui/renderer_budget.h"

#include "recording_server.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWebEngineDownloadRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <QWindow>

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <ctime>
#include <functional>
#include <iostream>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

namespace {

using namespace std::chrono_literals;
using qiv::MainWindow;
using qiv::test::RecordingServer;

const char* const kAdPaths[] = {"/%5C280.html", "/%5C270x270.html", "/%5C250x90.html",
                                "/%5C199.html"};

// Waits in a real event loop: waiting in short steps with sleeps between
// them (QTest::qWaitFor) starves the engine's work on this thread.
template <typename Predicate> bool waitFor(Predicate done, int boundMs)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    poll.start(10);
    QTimer::singleShot(boundMs, &loop, &QEventLoop::quit);
    if (!done())
        loop.exec();
    return done();
}

// Serves `page` at the four advertisement paths, an attachment at
// /file.bin and a plain page elsewhere; counts the requests of each path.
class HostileServer {
public:
    explicit HostileServer(std::string page) : page_(std::move(page))
    {
        server_.setHandler([this](const std::string& request) -> RecordingServer::Reply {
            const std::string line = RecordingServer::requestLine(request);
            const std::string path = line.substr(4, line.rfind(' ') - 4);
            {
                std::lock_guard lock(mutex_);
                ++count_[path];
            }
            if (path.rfind("/file.bin", 0) == 0)
                return RecordingServer::httpReply(std::string(4096, 'x'),
                                                  "Content-Type: application/octet-stream\r\n"
                                                  "Content-Disposition: attachment; "
                                                  "filename=\"evil.bin\"\r\n");
            for (const char* ad : kAdPaths)
                if (path == ad)
                    return RecordingServer::httpReply(page_, "Content-Type: text/html\r\n");
            return RecordingServer::httpReply("<html><body>elsewhere</body></html>",
                                              "Content-Type: text/html\r\n");
        });
    }
    int count(const std::string& path) const
    {
        std::lock_guard lock(mutex_);
        auto it = count_.find(path);
        return it == count_.end() ? 0 : it->second;
    }
    std::string host() const { return server_.hostPort(); }
    QString url(const char* path) const { return QString::fromStdString(server_.url(path)); }

private:
    std::string page_;
    RecordingServer server_;
    mutable std::mutex mutex_;
    std::map<std::string, int> count_;
};

// Catches what would go to the desktop's browser.
class DesktopCatcher : public QObject {
    Q_OBJECT
public:
    DesktopCatcher()
    {
        for (const char* scheme : kSchemes)
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "open");
    }
    ~DesktopCatcher() override
    {
        for (const char* scheme : kSchemes)
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.append(url); }

private:
    static constexpr const char* kSchemes[] = {"http", "https", "file", "qivtest", "mailto"};
};

// The window, shown, with its four views loaded.
struct LoadedWindow {
    explicit LoadedWindow(const std::string& adHost)
        : w(MainWindow::Options{.browserViews = true, .adHost = adHost})
    {
        w.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&w, 5000));
        w.startBrowserViews();
        for (QWidget* box : boxes())
            loaded.push_back(std::make_unique<QSignalSpy>(MainWindow::browserView(box),
                                                          &QWebEngineView::loadFinished));
    }
    std::vector<QWidget*> boxes()
    {
        return {w.超文本浏览框1, w.超文本浏览框3, w.超文本浏览框2, w.超文本浏览框4};
    }
    bool waitLoaded(int times, int boundMs)
    {
        return waitFor(
            [&] {
                for (const auto& spy : loaded)
                    if (spy->count() < times || !spy->last().at(0).toBool())
                        return false;
                return true;
            },
            boundMs);
    }
    QWebEngineView* banner() { return MainWindow::browserView(w.超文本浏览框1); }
    // Types through the window, as the keyboard does: a modal window in the
    // way swallows the keys.
    QString typeIntoLogin(const QString& text)
    {
        w.loginPage()->编辑框_用户名_登录->clear();
        w.loginPage()->编辑框_用户名_登录->setFocus();
        type(text);
        return w.loginPage()->编辑框_用户名_登录->text();
    }
    // To whatever has the focus.
    void type(const QString& text)
    {
        for (QChar c : text)
            QTest::keyClick(w.windowHandle(), c.toLatin1());
    }
    // Names of every other window on the screen.
    QStringList onScreen()
    {
        QStringList names;
        for (QWindow* window : QGuiApplication::topLevelWindows())
            if (window->isVisible() && window != w.windowHandle() && window->isExposed())
                names << QStringLiteral("window ") + window->objectName();
        return names;
    }
    // The same, and every dialog left behind.
    QStringList others()
    {
        QStringList names = onScreen();
        for (QWidget* widget : QApplication::allWidgets())
            if (qobject_cast<QDialog*>(widget) != nullptr)
                names << QStringLiteral("dialog ") + widget->metaObject()->className();
        return names;
    }

    MainWindow w;
    std::vector<std::unique_ptr<QSignalSpy>> loaded;
};

enum class Click { None, Left, Right };

struct Hostile {
    const char* name;
    const char* page;    // served at the four advertisement paths
    Click click;         // a real click into the banner lets the page act with a gesture
    const char* acted;   // the banner's title once it has acted (a prefix)
    const char* fetched; // a path the page made the view ask for, or null
    const char* opened;  // a path handed to the desktop's browser, or null
    bool stays;          // the banner still shows its start address afterwards
};

// Each page acts and then sets its title to "acted".
const Hostile kHostile[] = {
    {"dialogs on a timer",
     "<script>setInterval(()=>{alert('a');confirm('c');prompt('p','x');"
     "document.title='acted'},50)</script>",
     Click::None, "acted", nullptr, nullptr, true},
    {"beforeunload, then leaving",
     "<script>onbeforeunload=e=>{e.preventDefault();e.returnValue='stay';return 'stay'};"
     "addEventListener('pointerdown',()=>{document.title='acted';"
     "setTimeout(()=>location.href='/left.html',100)})</script>",
     Click::Left, "acted", "/left.html", nullptr, false},
    {"pop-ups from script",
     "<script>setInterval(()=>{window.open('/popup.html');window.open('/p2','x','popup');"
     "document.title='acted'},100)</script>",
     Click::None, "acted", nullptr, nullptr, true},
    {"permission requests after a click",
     "<script>document.addEventListener('pointerlockchange',()=>document.title+=' LOCKED');"
     "addEventListener('pointerdown',async()=>{const r=[];"
     "getSelection().selectAllChildren(document.body);document.execCommand('copy');"
     "const t=(n,p)=>p.then(()=>r.push(n+'=ok'),()=>r.push(n+'=no'));"
     "await Promise.allSettled([t('notify',Notification.requestPermission().then("
     "s=>s==='granted'?s:Promise.reject(s))),"
     "t('geo',new Promise((y,n)=>navigator.geolocation.getCurrentPosition(y,n))),"
     "t('camera',navigator.mediaDevices.getUserMedia({video:true,audio:true})),"
     "t('screen',navigator.mediaDevices.getDisplayMedia({video:true})),"
     "t('read',navigator.clipboard.readText()),t('write',navigator.clipboard.writeText('x')),"
     "t('full',document.documentElement.requestFullscreen()),"
     "t('midi',navigator.requestMIDIAccess({sysex:true}))]);"
     "document.body.requestPointerLock();document.title='acted '+r.sort().join(' ')})</script>",
     Click::Left, "acted ", nullptr, nullptr, true},
    {"downloads",
     "<script>setTimeout(()=>{const a=document.createElement('a');a.href='/file.bin';"
     "a.download='x.bin';document.body.append(a);a.click()},50);"
     "setTimeout(()=>{location.href='/file.bin?nav';document.title='acted'},400)</script>",
     Click::None, "acted", "/file.bin?nav", nullptr, true},
    {"print on a timer",
     "<script>setInterval(()=>{window.print();document.title='acted'},100)</script>", Click::None,
     "acted", nullptr, nullptr, true},
    // Longer, the renderer's budget ends it (RendererBudget).
    {"a 2 s busy loop",
     "<script>setTimeout(()=>{document.title='acted';const t=Date.now();"
     "while(Date.now()-t<2000);},100)</script>",
     Click::None, "acted", nullptr, nullptr, true},
    {"file: and other schemes",
     "<script>setTimeout(()=>location.href='file:///etc/passwd',50);"
     "setTimeout(()=>location.href='qivtest:evil',200);"
     "setTimeout(()=>document.title='acted',400)</script>",
     Click::None, "acted", nullptr, nullptr, true},
    {"a clicked link of another scheme",
     "<a href='qivtest:evil' target=_blank style='display:block;height:900px'>x</a>"
     "<script>addEventListener('pointerdown',()=>document.title='acted')</script>",
     Click::Left, "acted", nullptr, nullptr, true},
    {"colour and file choosers after a click",
     "<input type=color id=c><input type=file id=f>"
     "<script>addEventListener('pointerdown',()=>{c.click();f.click();"
     "try{c.showPicker()}catch(e){}document.title='acted'})</script>",
     Click::Left, "acted", nullptr, nullptr, true},
    {"the context menu",
     "<script>addEventListener('contextmenu',()=>document.title='acted')</script>", Click::Right,
     "acted", nullptr, nullptr, true},
    {"a clicked link to a new window goes to the desktop",
     "<a href='/landing' target=_blank style='display:block;height:900px'>x</a>"
     "<script>addEventListener('pointerdown',()=>document.title='acted')</script>",
     Click::Left, "acted", nullptr, "/landing", true},
};

TEST(AdViewsTest, HostilePagesCannotTakeTheWindow)
{
    for (const Hostile& row : kHostile) {
        SCOPED_TRACE(row.name);
        HostileServer server(std::string("<!doctype html><html><body style='margin:0'>") +
                             row.page + "</body></html>");
        DesktopCatcher desktop;
        QGuiApplication::clipboard()->setText(QStringLiteral("mine"));
        LoadedWindow lw(server.host());
        QWebEngineProfile* profile = lw.banner()->page()->profile();
        const QStringList downloadsBefore = QDir(profile->downloadPath()).entryList();
        std::vector<QWebEngineDownloadRequest*> downloads;
        QObject::connect(profile, &QWebEngineProfile::downloadRequested,
                         [&](QWebEngineDownloadRequest* d) { downloads.push_back(d); });
        ASSERT_TRUE(lw.waitLoaded(1, 60000));
        const QUrl start = lw.banner()->url();

        if (row.click != Click::None) {
            QWidget* surface = lw.banner()->focusProxy();
            ASSERT_NE(surface, nullptr);
            // The part of the banner the window shows.
            const QPoint at = surface->mapFrom(&lw.w, QPoint(lw.w.width() / 2, 30));
            // Until the page has it: the first may come before it listens.
            bool acted = false;
            for (int i = 0; i < 10 && !acted; ++i) {
                QTest::mouseClick(
                    surface, row.click == Click::Left ? Qt::LeftButton : Qt::RightButton, {}, at);
                acted = waitFor([&] { return lw.banner()->title().startsWith(row.acted); }, 2000);
            }
            ASSERT_TRUE(acted) << lw.banner()->title().toStdString();
        }
        ASSERT_TRUE(waitFor([&] { return lw.banner()->title().startsWith(row.acted); }, 20000))
            << lw.banner()->title().toStdString();

        // While the page goes on: nothing else on the screen.
        QElapsedTimer clock;
        clock.start();
        qint64 last = 0, longestGap = 0;
        QStringList seen;
        waitFor(
            [&] {
                longestGap = std::max(longestGap, clock.elapsed() - last);
                last = clock.elapsed();
                seen << lw.onScreen();
                return clock.elapsed() >= 2500;
            },
            5000);
        // A figure, not a bound: the window answering is the typing below.
        std::cout << "[ figure ] " << row.name << ": longest gap of the window's loop "
                  << longestGap << " ms\n";
        seen.removeDuplicates();
        EXPECT_TRUE(seen.isEmpty()) << seen.join(", ").toStdString();
        EXPECT_TRUE(lw.others().isEmpty()) << lw.others().join(", ").toStdString();
        EXPECT_EQ(lw.typeIntoLogin(QStringLiteral("qiv")), QStringLiteral("qiv"));

        if (row.fetched != nullptr) {
            EXPECT_TRUE(waitFor([&] { return server.count(row.fetched) > 0; }, 10000));
        }
        QStringList opened, expectedOpened;
        for (const QUrl& url : desktop.opened)
            opened << url.toString();
        if (row.opened != nullptr)
            expectedOpened << server.url(row.opened);
        EXPECT_EQ(opened.join(' ').toStdString(), expectedOpened.join(' ').toStdString());
        if (row.stays) {
            EXPECT_EQ(lw.banner()->url(), start);
        }
        // Refused, not merely left unanswered.
        const QString title = lw.banner()->title();
        EXPECT_FALSE(title.contains(QStringLiteral("=ok")) || title.contains("LOCKED"))
            << title.toStdString();
        EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("mine"));
        for (QWebEngineDownloadRequest* d : downloads) {
            EXPECT_EQ(d->state(), QWebEngineDownloadRequest::DownloadCancelled);
        }
        EXPECT_EQ(QDir(profile->downloadPath()).entryList(), downloadsBefore);
        if (std::string(row.name) == "downloads") {
            EXPECT_GE(downloads.size(), 1u);
        }
    }
}

// A page that asks for the keyboard all the time and records drops.
const char kGreedyPage[] =
    "<!doctype html><html><body style='background:#2a8'><input id=i autofocus>"
    "<script>setInterval(()=>i.focus(),50);"
    "addEventListener('dragover',e=>e.preventDefault());"
    "addEventListener('drop',e=>{e.preventDefault();document.title='dropped'})</script>"
    "</body></html>";

TEST(AdViewsTest, ViewsComeBackAfterTheRendererIsKilled)
{
    HostileServer server(kGreedyPage);
    LoadedWindow lw(server.host());
    ASSERT_TRUE(lw.waitLoaded(1, 60000));
    auto* views = lw.w.findChild<qiv::AdViews*>();
    ASSERT_NE(views, nullptr);
    QSignalSpy recovered(views, &qiv::AdViews::recovered);
    QLineEdit* field = lw.w.loginPage()->编辑框_用户名_登录;
    const auto muted = [&] {
        for (QWidget* box : lw.boxes())
            if (!MainWindow::browserView(box)->page()->isAudioMuted())
                return false;
        return true;
    };
    EXPECT_TRUE(muted()) << "first load";

    // With the program's events: the login box selects its text when it
    // gets the focus, so a focus that left and came back would make the
    // next keys replace it.
    qiv::wireEvents(
        lw.w,
        qiv::testing::keptState(new qiv::ProgramState{
            .hosts = {.service = "127.0.0.1:1", .ipLookup = "127.0.0.1:1", .ad = server.host()}}),
        [] {});
    // The user puts the focus; the page's focus() calls do not move it.
    lw.w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&lw.w, 5000));
    field->clear();
    field->setFocus();
    waitFor([] { return false; }, 500);
    lw.type(QStringLiteral("ab"));
    EXPECT_EQ(lw.w.focusWidget(), field);

    std::set<qint64> renderers;
    for (QWidget* box : lw.boxes())
        renderers.insert(MainWindow::browserView(box)->page()->renderProcessPid());
    ASSERT_FALSE(renderers.contains(0));
    QElapsedTimer sinceKill;
    sinceKill.start();
    for (qint64 pid : renderers)
        ASSERT_EQ(::kill(static_cast<pid_t>(pid), SIGKILL), 0);

    ASSERT_TRUE(lw.waitLoaded(2, 30000));
    std::cout << "[ figure ] killed renderer to four views loaded again: " << sinceKill.elapsed()
              << " ms (" << renderers.size() << " renderer(s))\n";
    // The new render widgets and the page's focus() calls had their time.
    waitFor([] { return false; }, 1000);
    EXPECT_EQ(lw.w.focusWidget(), field);
    lw.type(QStringLiteral("cd"));
    EXPECT_EQ(field->text(), QStringLiteral("abcd"));
    EXPECT_TRUE(muted()) << "after a renderer death";
    for (const char* path : kAdPaths)
        EXPECT_EQ(server.count(path), 2) << path;
    // The views' signals of one death made one reload.
    EXPECT_EQ(recovered.count(), 1);
    EXPECT_EQ(views->recoveries(), 1);
    EXPECT_TRUE(lw.others().isEmpty());

    lw.banner()->reload();
    ASSERT_TRUE(waitFor([&] { return lw.loaded.front()->count() >= 3; }, 30000));
    EXPECT_TRUE(muted()) << "after a reload";

    // A drop sent straight to the render widget, as a desktop's drag would
    // end there.
    QWidget* surface = lw.banner()->focusProxy();
    ASSERT_NE(surface, nullptr);
    QMimeData data;
    data.setText(QStringLiteral("dropped text"));
    const QPointF at(surface->width() / 2.0, 20);
    // The renderer answers each step before the next.
    for (QWidget* target : {surface, static_cast<QWidget*>(lw.banner())}) {
        QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(target, &enter);
        waitFor([] { return false; }, 300);
        QDragMoveEvent move(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(target, &move);
        waitFor([] { return false; }, 300);
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(target, &drop);
    }
    waitFor([&] { return lw.banner()->title() == QLatin1String("dropped"); }, 2000);
    EXPECT_NE(lw.banner()->title(), QStringLiteral("dropped"));
    EXPECT_FALSE(surface->acceptDrops());

    // Ended for its cost, the renderer is not replaced at once.
    QSignalSpy ended(lw.banner()->page(), &QWebEnginePage::renderProcessTerminated);
    views->endRendererForCost();
    ASSERT_TRUE(waitFor([&] { return ended.count() > 0; }, 10000));
    EXPECT_EQ(ended.first().at(0).value<QWebEnginePage::RenderProcessTerminationStatus>(),
              QWebEnginePage::KilledTerminationStatus);
    waitFor([] { return false; }, 3000);
    EXPECT_EQ(views->recoveries(), 1);
    EXPECT_EQ(lw.w.focusWidget(), field);
}

// A page that counts on a timer into its title, while the window is out of
// sight and back.
TEST(AdViewsTest, PagesStandStillWhileTheWindowIsOutOfSight)
{
    HostileServer server("<!doctype html><html><body><script>let n=0;"
                         "setInterval(()=>document.title=String(++n),100)</script></body></html>");
    LoadedWindow lw(server.host());
    ASSERT_TRUE(lw.waitLoaded(1, 60000));
    const auto count = [&] { return lw.banner()->title().toInt(); };
    ASSERT_TRUE(waitFor([&] { return count() > 3; }, 10000));
    const auto all = [&](QWebEnginePage::LifecycleState state) {
        return waitFor(
            [&] {
                for (QWidget* box : lw.boxes())
                    if (MainWindow::browserView(box)->page()->lifecycleState() != state)
                        return false;
                return true;
            },
            2000);
    };

    const struct {
        const char* name;
        std::function<void()> away, back;
        bool discarded; // as Chromium may do with a frozen page: it loads again
    } cases[] = {
        {"minimised", [&] { lw.w.setWindowState(Qt::WindowMinimized); },
         [&] { lw.w.setWindowState(Qt::WindowNoState); }, false},
        {"hidden", [&] { lw.w.hide(); }, [&] { lw.w.show(); }, false},
        {"hidden and discarded", [&] { lw.w.hide(); }, [&] { lw.w.show(); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(waitFor([&] { return count() > 10; }, 5000));
        c.away();
        EXPECT_TRUE(all(QWebEnginePage::LifecycleState::Frozen));
        if (c.discarded)
            for (QWidget* box : lw.boxes())
                MainWindow::browserView(box)->page()->setLifecycleState(
                    QWebEnginePage::LifecycleState::Discarded);
        const int before = count();
        // 20 ticks of the page's timer, were it running.
        waitFor([] { return false; }, 2000);
        c.back();
        EXPECT_TRUE(all(QWebEnginePage::LifecycleState::Active));
        if (c.discarded) {
            // Loaded again, the page counts from 1.
            EXPECT_TRUE(waitFor([&] { return count() < before; }, 5000)) << before;
        } else {
            EXPECT_TRUE(waitFor([&] { return count() > before; }, 5000)) << "goes on";
            EXPECT_LT(count(), before + 10);
        }
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&lw.w, 5000));
    }
}

TEST(AdViewsTest, RendererDeathsAreAnsweredWithGrowingPauses)
{
    // Each death "second:pause", the pause before the reload in seconds or
    // "-" when not answered; "c" after the second: a death for cost.
    const struct {
        const char* name;
        const char* deaths;
    } cases[] = {
        {"four in quick succession", "0:1 0:1 1:1 1:600"},
        {"spread over more than a minute", "0:1 30:1 59:1 91:1 120:1"},
        {"the window slides", "0:1 30:1 59:1 61:1 62:600"},
        {"after ten minutes a burst again, then an hour, then the last",
         "0:1 1:1 2:1 3:600 604:1 605:1 606:1 607:3600 4208:1 4209:1 4210:-"},
        {"ten in a run at most, then never again",
         "0:1 100:1 200:1 300:1 400:1 500:1 600:1 700:1 800:1 900:1 1000:- 90000:-"},
        {"a death for cost waits", "0c:120 200:1 300c:120"},
        {"a death for cost ending a burst waits the longer pause", "0:1 1:1 2:1 3c:600"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        qiv::RendererDeaths deaths;
        QStringList pauses;
        const QStringList expected = QString::fromLatin1(c.deaths).split(' ');
        for (const QString& death : expected) {
            const QString at = death.section(':', 0, 0);
            const bool cost = at.endsWith('c');
            const auto pause = deaths.admit(
                std::chrono::seconds((cost ? at.chopped(1) : at).toInt()),
                cost ? qiv::RendererDeaths::Cause::Cost : qiv::RendererDeaths::Cause::Crash);
            pauses
                << at + ':' +
                       (pause
                            ? QString::number(
                                  std::chrono::duration_cast<std::chrono::seconds>(*pause).count())
                            : QStringLiteral("-"));
        }
        EXPECT_EQ(pauses.join(' ').toStdString(), expected.join(' ').toStdString());
    }
}

// Samples of one renderer, one a second unless given: the verdict of each.
TEST(AdViewsTest, TheRendererBudgetEndsASustainedCoreOrTooMuchMemory)
{
    using Verdict = qiv::RendererBudget::Verdict;
    constexpr std::uint64_t kSmall = 120 * 1024;
    struct Sample {
        int wallMs, cpuMs;
        std::uint64_t residentKiB = kSmall;
    };
    struct Case {
        const char* name;
        std::vector<Sample> samples;
        std::vector<Verdict> verdicts;
    };
    const Verdict in = Verdict::Within, cpu = Verdict::OverCpu, mem = Verdict::OverMemory;
    const Case cases[] = {
        {"an animated ad",
         {{1000, 150},
          {1000, 120},
          {1000, 160},
          {1000, 140},
          {1000, 150},
          {1000, 130},
          {1000, 150}},
         {in, in, in, in, in, in, in}},
        {"a core from the start: ended once 6 s are seen",
         {{1000, 1000},
          {1000, 990},
          {1000, 1000},
          {1000, 1000},
          {1000, 1000},
          {1000, 1000},
          {1000, 1000}},
         {in, in, in, in, in, cpu, cpu}},
        {"half a core exactly is allowed",
         {{1000, 500},
          {1000, 500},
          {1000, 500},
          {1000, 500},
          {1000, 500},
          {1000, 500},
          {1000, 500}},
         {in, in, in, in, in, in, in}},
        {"a 2.5 s burst after rest is allowed",
         {{1000, 100},
          {1000, 100},
          {1000, 100},
          {1000, 1000},
          {1000, 1000},
          {1000, 500},
          {1000, 100},
          {1000, 100}},
         {in, in, in, in, in, in, in, in}},
        {"3 s of a core on top of an idle renderer are over",
         {{1000, 100}, {1000, 100}, {1000, 100}, {1000, 1000}, {1000, 1000}, {1000, 1000}},
         {in, in, in, in, in, cpu}},
        {"resting one second in three does not escape",
         {{1000, 1000},
          {1000, 1000},
          {1000, 0},
          {1000, 1000},
          {1000, 1000},
          {1000, 0},
          {1000, 1000},
          {1000, 1000}},
         {in, in, in, in, in, cpu, cpu, cpu}},
        {"the window is wall time, not samples",
         {{500, 500}, {500, 500}, {5000, 2100}},
         {in, in, cpu}},
        {"a late timer's long interval counts alone", {{6000, 3100}}, {cpu}},
        {"an interval of no length is ignored", {{0, 900}, {1000, 100}}, {in, in}},
        {"memory over the bound at once",
         {{1000, 10, kSmall}, {1000, 10, qiv::RendererBudget::kResidentKiB + 1}},
         {in, mem}},
        {"memory at the bound is allowed", {{1000, 10, qiv::RendererBudget::kResidentKiB}}, {in}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        qiv::RendererBudget budget;
        std::vector<Verdict> verdicts;
        for (const Sample& s : c.samples)
            verdicts.push_back(budget.add({std::chrono::milliseconds(s.wallMs),
                                           std::chrono::milliseconds(s.cpuMs), s.residentKiB}));
        EXPECT_EQ(verdicts, c.verdicts);
    }
    // After a reset the old renderer's seconds are gone.
    qiv::RendererBudget budget;
    budget.add({2000ms, 2000ms, kSmall});
    budget.reset();
    EXPECT_EQ(budget.add({1000ms, 1000ms, kSmall}), in);
}

TEST(AdViewsTest, TheWatchReadsAProcessAndEndsARendererThatNeverYields)
{
    // This process: its time grows with work, its resident size is there.
    const auto before = qiv::RendererWatch::read(::getpid());
    ASSERT_TRUE(before.has_value());
    // 300 ms of this process's CPU time, however long the machine makes it.
    const std::clock_t start = std::clock();
    while (std::clock() - start < CLOCKS_PER_SEC * 3 / 10) {
    }
    const auto after = qiv::RendererWatch::read(::getpid());
    ASSERT_TRUE(after.has_value());
    EXPECT_GE((after->cpu - before->cpu).count(), 200);
    EXPECT_GT(after->residentKiB, 1024u);
    EXPECT_FALSE(qiv::RendererWatch::read(0).has_value());
    EXPECT_FALSE(qiv::RendererWatch::read(std::numeric_limits<int>::max()).has_value());

    HostileServer server("<script>setTimeout(function(){ for(;;){} }, 200);</script>");
    LoadedWindow lw(server.host());
    ASSERT_TRUE(lw.waitLoaded(1, 60000));
    const qint64 renderer = MainWindow::browserView(lw.boxes()[0])->page()->renderProcessPid();
    ASSERT_GT(renderer, 0);
    QElapsedTimer spinning;
    spinning.start();
    // Gone, or a zombie not yet reaped: no resident size either way.
    EXPECT_TRUE(waitFor([&] { return !qiv::RendererWatch::read(renderer); }, 15000));
    std::cout << "[ figure ] a renderer that never yields ended after " << spinning.elapsed()
              << " ms\n";
    EXPECT_EQ(lw.typeIntoLogin(QStringLiteral("up")), QStringLiteral("up"));
}

} // namespace

#include "ad_views_test.moc"
