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
        for (QChar c : text)
            QTest::keyClick(w.windowHandle(), c.toLatin1());
        return w.loginPage()->编辑框_用户名_登录->text();
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
    {"a 4 s busy loop",
     "<script>setTimeout(()=>{document.title='acted';const t=Date.now();"
     "while(Date.now()-t<4000);},100)</script>",
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

TEST(AdViewsTest, ViewsComeBackAfterTheRendererIsKilled)
{
    HostileServer server("<!doctype html><html><body style='background:#2a8'>ad</body></html>");
    LoadedWindow lw(server.host());
    ASSERT_TRUE(lw.waitLoaded(1, 60000));
    auto* views = lw.w.findChild<qiv::AdViews*>();
    ASSERT_NE(views, nullptr);
    QSignalSpy recovered(views, &qiv::AdViews::recovered);

    std::set<qint64> renderers;
    for (QWidget* box : lw.boxes())
        renderers.insert(MainWindow::browserView(box)->page()->renderProcessPid());
    ASSERT_FALSE(renderers.contains(0));
    QElapsedTimer sinceKill;
    sinceKill.start();
    for (qint64 pid : renderers)
        ASSERT_EQ(::kill(static_cast<pid_t>(pid), SIGKILL), 0);

    // The window works while the views are down.
    waitFor([] { return false; }, 300);
    EXPECT_EQ(lw.typeIntoLogin(QStringLiteral("up")), QStringLiteral("up"));

    ASSERT_TRUE(lw.waitLoaded(2, 30000));
    std::cout << "[ figure ] killed renderer to four views loaded again: " << sinceKill.elapsed()
              << " ms (" << renderers.size() << " renderer(s))\n";
    for (const char* path : kAdPaths)
        EXPECT_EQ(server.count(path), 2) << path;
    // The views' signals of one death made one reload.
    EXPECT_EQ(recovered.count(), 1);
    EXPECT_EQ(views->recoveries(), 1);
    EXPECT_TRUE(lw.others().isEmpty());
}

TEST(AdViewsTest, RendererDeathsAreAnsweredAtMostThreeTimesAMinute)
{
    struct Case {
        const char* name;
        std::vector<int> seconds; // deaths, in order
        std::vector<bool> answered;
    };
    const Case cases[] = {
        {"four in quick succession", {0, 0, 1, 1}, {true, true, true, false}},
        {"spread over more than a minute",
         {0, 30, 59, 91, 120, 152},
         {true, true, true, true, true, true}},
        {"once refused, never again", {0, 1, 2, 3, 200}, {true, true, true, false, false}},
        {"the window slides", {0, 30, 59, 61, 62}, {true, true, true, true, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        qiv::RendererDeaths deaths;
        std::vector<bool> answered;
        for (int s : c.seconds)
            answered.push_back(deaths.admit(std::chrono::seconds(s)));
        EXPECT_EQ(answered, c.answered);
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
        {"an animated ad", {{1000, 80}, {1000, 120}, {1000, 90}, {1000, 100}}, {in, in, in, in}},
        {"a core from the start: ended once 3 s are seen",
         {{1000, 1000}, {1000, 990}, {1000, 1000}, {1000, 1000}},
         {in, in, cpu, cpu}},
        {"half a core exactly is allowed", {{1000, 500}, {1000, 500}, {1000, 500}}, {in, in, in}},
        {"a burst between rests is not sustained",
         {{1000, 1000}, {1000, 100}, {1000, 100}, {1000, 1000}, {1000, 100}},
         {in, in, in, in, in}},
        {"resting one second in three does not escape",
         {{1000, 1000}, {1000, 1000}, {1000, 0}, {1000, 1000}, {1000, 1000}},
         {in, in, cpu, cpu, cpu}},
        {"the window is wall time, not samples",
         {{500, 500}, {500, 500}, {2000, 1200}},
         {in, in, cpu}},
        {"a late timer's long interval counts alone", {{3000, 1600}}, {cpu}},
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
    QElapsedTimer busy;
    busy.start();
    while (busy.elapsed() < 300) {
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
