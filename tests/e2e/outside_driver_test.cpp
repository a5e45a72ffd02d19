// The real qiv-forward binary, driven from outside as a user drives it: the
// mouse and keyboard through xdotool on the X display, the window read back
// from screenshots (imagemagick's import), the service read from its SQLite
// file. The binary has its hosts built in, so qiv-devserver runs on the
// build's default addresses; when they are taken the test is skipped. One
// case runs it as an ordinary user, as users get it: the renderer sandboxed.
//
// Where to click comes from the window's own layout: a copy of the window,
// never put on screen, is laid out in this process on the same display with
// the same style, and each control's centre is read from it.
#include "devserver/pages.h"
#include "e2e_support.h"
#include "ui/main_window.h"
#include "ui/renderer_budget.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QImage>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QStyle>
#include <QStyleFactory>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include <signal.h>
#include <unistd.h>

namespace qiv::e2e {
namespace {

constexpr int kStepBoundMs = 30000;
// The user nobody and its group nogroup.
constexpr uid_t kNobody = 65534;

bool isRed(QRgb p)
{
    return qRed(p) > 150 && qGreen(p) < 100 && qBlue(p) < 100;
}
bool isPureBlue(QRgb p)
{
    return qBlue(p) > 150 && qRed(p) < 100 && qGreen(p) < 80;
}
// The availability label's "free" colour, 0,136,255.
bool isFreeBlue(QRgb p)
{
    return qBlue(p) > 180 && qRed(p) < 100 && qGreen(p) >= 80 && qGreen(p) < 200;
}
bool isDark(QRgb p)
{
    return qRed(p) < 90 && qGreen(p) < 90 && qBlue(p) < 90;
}

int countPixels(const QImage& image, const QRect& rect, bool (*test)(QRgb))
{
    int n = 0;
    QRect r = rect.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += test(image.pixel(x, y)) ? 1 : 0;
    return n;
}

// The advertisement pages' background, #eef5fc.
bool isAdBackground(QRgb p)
{
    return qRed(p) == 238 && qGreen(p) == 245 && qBlue(p) == 252;
}

// A field of /proc/<pid>/status ("Seccomp", "NSpid", ...); empty once the
// process is gone.
QString statusField(const QString& pid, const char* name)
{
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray key = QByteArray(name) + ':';
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith(key))
            return QString::fromLatin1(line.mid(key.size())).simplified();
    return {};
}

// The processes below `root`: the browser engine's zygotes and renderer.
QStringList descendants(qint64 root)
{
    QMultiHash<QString, QString> children;
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs))
        if (pid.toLongLong() > 0)
            children.insert(statusField(pid, "PPid"), pid);
    QStringList found{QString::number(root)};
    for (qsizetype i = 0; i < found.size(); ++i)
        found += children.values(found[i]);
    found.removeFirst();
    return found;
}

class OutsideDriver : public ::testing::Test {
protected:
    void SetUp() override { launch(); }

    // qiv-devserver on the default addresses with `serverArgs` after its
    // own, then the program; its window is found and focused.
    void launch(const std::vector<std::string>& serverArgs = {})
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs an X display (the test command runs under Xvfb)";
        for (const char* tool : {"xdotool", "import"})
            if (QStandardPaths::findExecutable(QString::fromUtf8(tool)).isEmpty())
                GTEST_SKIP() << tool << " is not installed";
        QString error =
            server_.start(QStringLiteral("127.0.0.1:8090"), QStringLiteral("127.0.0.2:8091"),
                          QStringLiteral("127.0.0.3:8092"), serverArgs);
        if (!error.isEmpty())
            GTEST_SKIP() << "qiv-devserver cannot serve the build's default addresses "
                            "(127.0.0.1:8090, 127.0.0.2:8091, 127.0.0.3:8092), which the "
                            "binary has built in; are they taken? "
                         << error.toStdString();

        // The layout copy: the style the program picks once its window is up.
        if (QApplication::style()->name().compare(QStringLiteral("windows"), Qt::CaseInsensitive) ==
            0)
            QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        if (!layout_) {
            layout_ = std::make_unique<MainWindow>(MainWindow::Options{.browserViews = false});
            layout_->setWindowTitle(QStringLiteral("layout copy"));
            layout_->setAttribute(Qt::WA_DontShowOnScreen);
            layout_->show();
        }
        window_.clear();

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.remove(QStringLiteral("QT_XCB_GL_INTEGRATION"));
        QString command = QStringLiteral(QIV_FORWARD_PATH);
        QStringList args;
        if (asUser_) {
            asOrdinaryUser(env, command, args);
            if (IsSkipped() || HasFatalFailure())
                return;
        } else if (::geteuid() == 0) {
            // The journey is driven with the views in the window, as users
            // have it; as root Chromium has no sandbox, and only the option
            // shows them (the pages are the local service's).
            args << QStringLiteral("--ads-without-sandbox");
        }
        program_.setProcessEnvironment(env);
        program_.setStandardOutputFile(QProcess::nullDevice());
        program_.setStandardErrorFile(QProcess::nullDevice());
        program_.start(command, args);
        ASSERT_TRUE(program_.waitForStarted(10000));
        // xdotool gives up with an X error when a window it is looking at
        // goes away meanwhile (the browser views make and drop some at
        // start-up): search again until the bound.
        // Qt replaces the shown window by a new one when the first browser
        // view arrives: the window to drive is the one there is a moment
        // after the first appeared.
        for (int pass = 0; pass < 2; ++pass) {
            if (pass == 1) {
                QTest::qWait(2000);
                window_.clear();
            }
            QElapsedTimer searching;
            searching.start();
            while (window_.isEmpty() && searching.elapsed() < 60000 &&
                   program_.state() == QProcess::Running) {
                QString found =
                    xdotool({QStringLiteral("search"), QStringLiteral("--sync"),
                             QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                             QString::number(program_.processId()), QStringLiteral("--name"),
                             QStringLiteral("^Qiv免费域名转发$")},
                            static_cast<int>(60000 - searching.elapsed()));
                window_ = found.split(u'\n', Qt::SkipEmptyParts).value(0).trimmed();
            }
            ASSERT_FALSE(window_.isEmpty()) << "the window of qiv-forward did not appear";
        }
        xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window_});
    }

    // As users get it: an ordinary user, and the browser flags the program
    // picks itself. Root runs it as nobody through setpriv, from a copy that
    // user can reach (the build may lie under a directory others cannot
    // enter), with a home, runtime directory and X cookie of its own.
    void asOrdinaryUser(QProcessEnvironment& env, QString& command, QStringList& args)
    {
        for (const char* name :
             {"QTWEBENGINE_CHROMIUM_FLAGS", "QTWEBENGINE_DISABLE_SANDBOX",
              "DBUS_SESSION_BUS_ADDRESS", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"})
            env.remove(QString::fromLatin1(name));
        userDir_ = std::make_unique<QTemporaryDir>();
        ASSERT_TRUE(userDir_->isValid());
        QDir dir(userDir_->path());
        ASSERT_TRUE(dir.mkdir(QStringLiteral("home")) && dir.mkdir(QStringLiteral("run")));
        QStringList owned{dir.path(), dir.filePath(QStringLiteral("home")),
                          dir.filePath(QStringLiteral("run"))};
        QFile::setPermissions(owned[2], QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env.insert(QStringLiteral("HOME"), owned[1]);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), owned[2]);
        if (::geteuid() != 0)
            return;
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (setpriv.isEmpty())
            GTEST_SKIP() << "setpriv (util-linux) is not installed: cannot run the program as "
                            "an ordinary user";
        owned << dir.filePath(QStringLiteral("qiv-forward"));
        ASSERT_TRUE(QFile::copy(command, owned.last()));
        QFile::setPermissions(owned.last(), QFile::ReadOwner | QFile::ExeOwner);
        const QString cookie = env.value(QStringLiteral("XAUTHORITY"),
                                         QDir::home().filePath(QStringLiteral(".Xauthority")));
        if (QFile::exists(cookie)) {
            owned << dir.filePath(QStringLiteral("Xauthority"));
            ASSERT_TRUE(QFile::copy(cookie, owned.last()));
            env.insert(QStringLiteral("XAUTHORITY"), owned.last());
        }
        for (const QString& path : owned)
            ASSERT_EQ(::chown(QFile::encodeName(path).constData(), kNobody, kNobody), 0)
                << path.toStdString();
        args = QStringList{QStringLiteral("--reuid=%1").arg(kNobody),
                           QStringLiteral("--regid=%1").arg(kNobody),
                           QStringLiteral("--clear-groups"), QStringLiteral("--"), owned[3]};
        command = setpriv;
    }

    void TearDown() override { end(); }
    void end()
    {
        if (program_.state() != QProcess::NotRunning) {
            program_.kill();
            program_.waitForFinished(10000);
        }
    }

    QString xdotool(const QStringList& args, int boundMs = 10000)
    {
        QProcess p;
        p.start(QStringLiteral("xdotool"), args);
        if (!p.waitForFinished(boundMs)) {
            p.kill();
            p.waitForFinished();
        }
        return QString::fromUtf8(p.readAllStandardOutput());
    }

    // A control's centre in the window's client area.
    QPoint at(QWidget* control) const
    {
        return control->mapTo(layout_.get(), control->rect().center());
    }
    QRect rectOf(QWidget* control) const
    {
        return QRect(control->mapTo(layout_.get(), QPoint(0, 0)), control->size());
    }

    void click(QWidget* control)
    {
        QPoint p = at(control);
        xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), window_,
                 QString::number(p.x()), QString::number(p.y()), QStringLiteral("click"),
                 QStringLiteral("1")});
    }
    void key(const QString& keys) { xdotool({QStringLiteral("key"), keys}); }
    void type(const QString& text)
    {
        xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("15"), text});
    }
    // Clicks into a box, selects what it holds and types over it.
    void fill(QWidget* box, const QString& text)
    {
        click(box);
        key(QStringLiteral("ctrl+a"));
        type(text);
    }

    QImage screenshot()
    {
        QProcess p;
        p.start(QStringLiteral("import"),
                {QStringLiteral("-window"), window_, QStringLiteral("png:-")});
        if (!p.waitForFinished(20000))
            return {};
        return QImage::fromData(p.readAllStandardOutput(), "PNG")
            .convertToFormat(QImage::Format_RGB32);
    }

    // The page shown: the one tab drawn (nearly) in the page's white.
    int shownPage(const QImage& image) const
    {
        QTabBar* bar = layout_->选择夹1->tabBar();
        int shown = -1;
        for (int i = 0; i < bar->count(); ++i) {
            QRect tab = bar->tabRect(i).translated(bar->mapTo(layout_.get(), QPoint(0, 0)));
            QPoint sample(tab.left() + 4, tab.center().y());
            if (!image.rect().contains(sample))
                return -1;
            // The current tab is near white, the others a light grey.
            if (qGray(image.pixel(sample)) >= 248) {
                if (shown != -1)
                    return -1;
                shown = i;
            }
        }
        return shown;
    }

    // The band of the login group's caption.
    QRect captionBand() const
    {
        QRect group = rectOf(layout_->loginPage()->分组框1);
        int h = layout_->loginPage()->分组框1->fontMetrics().height();
        return QRect(group.left(), group.top() - 2, group.width(), h + 4);
    }

    // Waits, taking screenshots, until `done` holds for one of them.
    bool waitForScreen(const std::function<bool(const QImage&)>& done, QImage* last = nullptr)
    {
        QImage image;
        bool ok = QTest::qWaitFor(
            [&] {
                image = screenshot();
                return !image.isNull() && done(image);
            },
            kStepBoundMs);
        if (last != nullptr)
            *last = image;
        if (!ok && !image.isNull()) {
            // What the window showed instead, for whoever reads the failure.
            QString file = QDir::temp().filePath(QStringLiteral("qiv-outside-driver-%1.png")
                                                     .arg(QCoreApplication::applicationPid()));
            image.save(file);
            std::fprintf(stderr, "outside driver: the last screenshot is %s (page %d)\n",
                         qPrintable(file), shownPage(image));
        }
        return ok;
    }

    int requests(const QString& path) { return server_.log().count(u' ' + path + u' '); }

    DevServerProcess server_;
    std::unique_ptr<MainWindow> layout_;
    QProcess program_;
    QString window_;
    bool asUser_ = false;
    std::unique_ptr<QTemporaryDir> userDir_;
};

TEST_F(OutsideDriver, TheWholeJourneyByMouseAndKeyboard)
{
    MainWindow& l = *layout_;
    QImage shot;

    // Start-up: the three fetches reach the service, then the caption is the
    // black "登 录" again.
    ASSERT_TRUE(QTest::qWaitFor([&] { return requests(QStringLiteral("/getip/getip.asp")) >= 1; },
                                kStepBoundMs))
        << server_.log().toStdString();
    EXPECT_GE(requests(QStringLiteral("/modify.html")), 1);
    EXPECT_GE(requests(QStringLiteral("/countUser.php")), 1);
    ASSERT_TRUE(waitForScreen(
        [&](const QImage& i) {
            return shownPage(i) == 0 && countPixels(i, captionBand(), isPureBlue) == 0 &&
                   countPixels(i, captionBand(), isDark) > 0;
        },
        &shot));

    // To the registration page; check a free name: the label turns blue.
    click(l.loginPage()->按钮1);
    ASSERT_TRUE(waitForScreen([&](const QImage& i) { return shownPage(i) == 1; }));
    l.选择夹1->setCurrentIndex(1);
    fill(l.registrationPage()->编辑框_用户名_注册, QStringLiteral("outside"));
    click(l.registrationPage()->按钮_检查域名_注册);
    ASSERT_TRUE(waitForScreen(
        [&](const QImage& i) {
            return countPixels(i, rectOf(l.registrationPage()->透明标签_检查域名), isFreeBlue) > 5;
        },
        &shot));
    EXPECT_EQ(countPixels(shot, rectOf(l.registrationPage()->透明标签_检查域名), isRed), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return requests(QStringLiteral("/regcheck.php")) >= 1; },
                                kStepBoundMs));

    // Register: the account is in the service's file, the result page shows.
    fill(l.registrationPage()->编辑框_密码_注册, QStringLiteral("pass5678"));
    fill(l.registrationPage()->编辑框_确认密码_注册, QStringLiteral("pass5678"));
    fill(l.registrationPage()->编辑框_主页名称_注册, QStringLiteral("Outside Home"));
    fill(l.registrationPage()->编辑框_转向地址_注册, QStringLiteral("http://example.org/outside"));
    fill(l.registrationPage()->编辑框_邮箱_注册, QStringLiteral("out@example.org"));
    fill(l.registrationPage()->编辑框_姓名_注册, QStringLiteral("Wang"));
    fill(l.registrationPage()->编辑框_电话_注册, QStringLiteral("021-7654321"));
    fill(l.registrationPage()->编辑框_联系地址_注册, QStringLiteral("Road 9"));
    click(l.registrationPage()->按钮_注册);
    ASSERT_TRUE(waitForScreen([&](const QImage& i) { return shownPage(i) == 4; }));
    {
        auto stored = server_.account("outside", "qiv.cn");
        ASSERT_TRUE(stored.has_value());
        EXPECT_EQ(stored->password, "pass5678");
        EXPECT_EQ(stored->title, "Outside Home");
        EXPECT_EQ(stored->sendUrl, "http://example.org/outside");
        EXPECT_EQ(stored->email, "out@example.org");
        EXPECT_EQ(stored->regName, "Wang");
        EXPECT_EQ(stored->linkTel, "021-7654321");
        EXPECT_EQ(stored->address, "Road 9");
        EXPECT_FALSE(stored->hide);
    }

    // Back to the login page; the name is carried over; the password and
    // Enter log in and show the account page.
    l.选择夹1->setCurrentIndex(4);
    click(l.resultPage()->超级链接框_返回登录);
    ASSERT_TRUE(waitForScreen([&](const QImage& i) { return shownPage(i) == 0; }));
    l.选择夹1->setCurrentIndex(0);
    click(l.loginPage()->编辑框_密码_登录);
    type(QStringLiteral("pass5678"));
    key(QStringLiteral("Return"));
    ASSERT_TRUE(waitForScreen([&](const QImage& i) { return shownPage(i) == 3; }, &shot))
        << "page " << shownPage(shot);
    l.选择夹1->setCurrentIndex(3);

    // Modify the title: the service holds it.
    fill(l.accountPage()->编辑框_主页名称_修改资料, QStringLiteral("Changed Title"));
    const int loginsBefore = requests(QStringLiteral("/login.php"));
    click(l.accountPage()->按钮_修改资料);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            auto stored = server_.account("outside", "qiv.cn");
            return stored && stored->title == "Changed Title";
        },
        kStepBoundMs));
    // A success reloads the account with a login.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return requests(QStringLiteral("/login.php")) > loginsBefore; }, kStepBoundMs));
    EXPECT_EQ(server_.account("outside", "qiv.cn")->address, "Road 9");

    // Refresh: one more login, the page stays, the service is unchanged.
    const int loginsBeforeRefresh = requests(QStringLiteral("/login.php"));
    click(l.accountPage()->按钮_刷新资料);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return requests(QStringLiteral("/login.php")) > loginsBeforeRefresh; },
        kStepBoundMs));
    ASSERT_TRUE(waitForScreen([&](const QImage& i) { return shownPage(i) == 3; }));
    EXPECT_EQ(server_.account("outside", "qiv.cn")->title, "Changed Title");

    // Delete: gone at the service; back on the login page under the blue
    // caption.
    click(l.accountPage()->按钮_删除域名);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !server_.account("outside", "qiv.cn").has_value(); },
                                kStepBoundMs));
    ASSERT_TRUE(waitForScreen(
        [&](const QImage& i) {
            return shownPage(i) == 0 && countPixels(i, captionBand(), isPureBlue) > 5;
        },
        &shot));
    EXPECT_EQ(countPixels(shot, captionBand(), isRed), 0);

    // Log in again: it fails under the red caption.
    l.选择夹1->setCurrentIndex(0);
    click(l.loginPage()->按钮_登录);
    ASSERT_TRUE(waitForScreen(
        [&](const QImage& i) {
            return shownPage(i) == 0 && countPixels(i, captionBand(), isRed) > 5;
        },
        &shot));
    EXPECT_EQ(countPixels(shot, captionBand(), isPureBlue), 0);
    EXPECT_EQ(server_.accountCount(), 0u);
    EXPECT_EQ(program_.state(), QProcess::Running);
}

class OutsideDriverAsUser : public OutsideDriver {
protected:
    OutsideDriverAsUser() { asUser_ = true; }
};

TEST_F(OutsideDriverAsUser, TheViewsShowTheAdPagesFromASandboxedRenderer)
{
    const QString program = QString::number(program_.processId());
    EXPECT_NE(statusField(program, "Uid").section(u' ', 0, 0).toStdString(), "0");

    // The renderer runs under Chromium's seccomp filter. On a desktop it is
    // also in namespaces of its own; inside a chroot the kernel gives no new
    // user namespace, and Chromium keeps the filter alone.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            for (const QString& pid : descendants(program_.processId()))
                if (statusField(pid, "Seccomp") == QStringLiteral("2"))
                    return true;
            return false;
        },
        kStepBoundMs))
        << "no helper runs sandboxed; helpers: "
        << descendants(program_.processId()).join(u' ').toStdString();

    // The banner and the login page's box each show their page's background
    // over most of what the window lets show of them.
    for (QWidget* box : {layout_->超文本浏览框1, layout_->超文本浏览框3}) {
        const QRect shown =
            rectOf(box).intersected(rectOf(box->parentWidget())).intersected(layout_->rect());
        EXPECT_TRUE(waitForScreen([&](const QImage& i) {
            return countPixels(i, shown, isAdBackground) * 2 > shown.width() * shown.height();
        })) << box->objectName().toStdString();
    }
    EXPECT_EQ(program_.state(), QProcess::Running);
}

// The renderer: a zygote's child, it keeps the zygote's command line, but
// it is the one helper under the seccomp filter (the sandbox is on).
bool isRenderer(const QString& pid)
{
    return statusField(pid, "Seccomp") == QStringLiteral("2");
}

// The program's processes (itself, the zygotes, the renderer), sampled: the
// CPU time of every process seen, summed, and the largest resident size of
// any one of them in any sample.
class ProcessMeter {
public:
    explicit ProcessMeter(qint64 root) : root_(root)
    {
        sample();
        clock_.start();
    }

    void sample()
    {
        QStringList pids = descendants(root_);
        pids.prepend(QString::number(root_));
        for (const QString& pid : pids) {
            const auto reading = RendererWatch::read(pid.toLongLong());
            if (!reading)
                continue;
            // A process born during the measurement counts from its start.
            cpu_.try_emplace(pid, clock_.isValid() ? std::chrono::milliseconds(0) : reading->cpu);
            last_[pid] = reading->cpu;
            peakKiB_ = std::max<std::uint64_t>(peakKiB_, reading->residentKiB);
            if (isRenderer(pid))
                renderers_.insert(pid);
        }
    }
    // Samples every 250 ms for `ms` (while the program runs).
    void run(int ms, const QProcess& program)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms && program.state() == QProcess::Running) {
            QTest::qWait(250);
            sample();
        }
    }
    // CPU time over wall time since the start, in per cent of one core.
    double percentOfACore() const
    {
        std::chrono::milliseconds used{0};
        for (const auto& [pid, first] : cpu_)
            used += last_.at(pid) - first;
        return 100.0 * static_cast<double>(used.count()) / static_cast<double>(clock_.elapsed());
    }
    // The same for the renderers alone.
    double rendererPercent() const
    {
        std::chrono::milliseconds used{0};
        for (const QString& pid : renderers_)
            used += last_.at(pid) - cpu_.at(pid);
        return 100.0 * static_cast<double>(used.count()) / static_cast<double>(clock_.elapsed());
    }
    double peakMiB() const { return static_cast<double>(peakKiB_) / 1024.0; }
    // Every renderer process seen: a second one means the first was ended.
    const QSet<QString>& renderers() const { return renderers_; }

private:
    qint64 root_;
    QElapsedTimer clock_;
    std::map<QString, std::chrono::milliseconds> cpu_; // at the first sample
    std::map<QString, std::chrono::milliseconds> last_;
    std::uint64_t peakKiB_ = 0;
    QSet<QString> renderers_;
};

// What the views' pages cost the user, measured on the real program run as
// users run it: an ordinary user, its own browser flags, the sandbox on, a
// window manager (openbox, started here) on the display. Every ad page is
// the row's body.
class OutsideDriverCost : public OutsideDriver {
protected:
    OutsideDriverCost() { asUser_ = true; }
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs an X display (the test command runs under Xvfb)";
        for (const char* tool : {"openbox", "xprop"})
            if (QStandardPaths::findExecutable(QString::fromUtf8(tool)).isEmpty())
                GTEST_SKIP() << tool << " is not installed";
        // Where a window manager runs already, this one gives up at once.
        wm_.setStandardOutputFile(QProcess::nullDevice());
        wm_.setStandardErrorFile(QProcess::nullDevice());
        wm_.start(QStringLiteral("openbox"), {});
        QTest::qWait(1000);
    }
    void TearDown() override
    {
        end();
        if (wm_.state() != QProcess::NotRunning) {
            wm_.terminate();
            wm_.waitForFinished(5000);
        }
    }

    // What a line edit of the window holds, copied through the clipboard with
    // the keyboard alone: the keys go where the focus is.
    QString copied()
    {
        QApplication::clipboard()->setText(QString());
        key(QStringLiteral("ctrl+a"));
        key(QStringLiteral("ctrl+c"));
        QString text;
        const bool got = QTest::qWaitFor(
            [&] {
                text = QApplication::clipboard()->text();
                return !text.isEmpty();
            },
            5000);
        return got ? text : QString();
    }
    int adRequests()
    {
        return static_cast<int>(server_.log().count(QStringLiteral(" GET /\\x5C")));
    }
    QString renderer()
    {
        for (const QString& pid : descendants(program_.processId()))
            if (isRenderer(pid))
                return pid;
        return {};
    }

    QProcess wm_;
};

TEST_F(OutsideDriverCost, WhatThePagesTakeOfTheMachine)
{
    enum class Kind { Spinning, Growing, Minimised, Focus, Animated };
    const std::string animated = devserver::animatedAdPage().body;
    const struct Row {
        const char* name;
        Kind kind;
        std::string body; // every ad page's; empty: the server's own pages
        int seconds;      // measured
    } rows[] = {
        {"never yields", Kind::Spinning,
         "<script>setTimeout(function(){ for(;;){} }, 200);</script>", 60},
        {"allocates without end", Kind::Growing,
         "<script>var k=[]; setInterval(function(){ for(var i=0;i<64;i++) k.push(new "
         "Array(1<<16).fill(i)); }, 50);</script>",
         60},
        {"script work half of the time, minimised", Kind::Minimised,
         "<script>setInterval(function(){ var t=Date.now(); while(Date.now()-t<50){} }, "
         "100);</script>",
         30},
        {"focus through a renderer death", Kind::Focus, "", 0},
        {"an ordinary animated ad", Kind::Animated, animated, 60},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryFile body;
        std::vector<std::string> serverArgs;
        if (!row.body.empty()) {
            ASSERT_TRUE(body.open());
            body.write(row.body.data(), static_cast<qint64>(row.body.size()));
            body.flush();
            serverArgs = {"--ad-body", body.fileName().toStdString()};
        }
        launch(serverArgs);
        if (IsSkipped() || HasFatalFailure())
            return;
        QWidget* name = layout_->loginPage()->编辑框_用户名_登录;
        if (row.kind == Kind::Minimised) {
            // At once, before the pages have run for long.
            xdotool({QStringLiteral("windowminimize"), QStringLiteral("--sync"), window_});
            QProcess xprop;
            xprop.start(QStringLiteral("xprop"),
                        {QStringLiteral("-id"), window_, QStringLiteral("WM_STATE")});
            ASSERT_TRUE(xprop.waitForFinished(10000));
            ASSERT_TRUE(xprop.readAllStandardOutput().contains("Iconic"));
            QTest::qWait(2000);
        }
        if (row.kind == Kind::Focus) {
            // The login group takes keys once the start-up fetches are done.
            ASSERT_TRUE(QTest::qWaitFor(
                [&] {
                    return adRequests() >= 4 && requests(QStringLiteral("/getip/getip.asp")) >= 1 &&
                           requests(QStringLiteral("/countUser.php")) >= 1;
                },
                kStepBoundMs));
            QTest::qWait(1500);
            click(name);
            key(QStringLiteral("ctrl+a"));
            type(QStringLiteral("ab"));
            EXPECT_EQ(copied(), QStringLiteral("ab"));
            key(QStringLiteral("End"));
            const QString pid = renderer();
            EXPECT_TRUE(!pid.isEmpty() && ::kill(pid.toInt(), SIGKILL) == 0) << "no renderer";
            QTest::qWait(5000);
            EXPECT_GE(adRequests(), 8) << "the views did not load again";
            type(QStringLiteral("cd"));
            const QString text = copied();
            std::printf("[ figure ] %s: the field reads \"%s\"\n", row.name, qPrintable(text));
            EXPECT_EQ(text, QStringLiteral("abcd"));
            end();
            continue;
        }

        ProcessMeter meter(program_.processId());
        meter.run(row.seconds * 1000, program_);
        ASSERT_EQ(program_.state(), QProcess::Running);
        const double cpu = meter.percentOfACore();
        std::printf("[ figure ] %s: %.1f %% of a core over %d s (the renderer %.1f %%), peak "
                    "process %.0f MiB, %lld renderer(s)\n",
                    row.name, cpu, row.seconds, meter.rendererPercent(), meter.peakMiB(),
                    static_cast<long long>(meter.renderers().size()));
        std::fflush(stdout);
        switch (row.kind) {
        case Kind::Spinning:
            EXPECT_LT(cpu, 15.0);
            break;
        case Kind::Growing:
            EXPECT_LT(meter.peakMiB(), 600.0);
            // The window still answers the keyboard.
            click(name);
            key(QStringLiteral("ctrl+a"));
            type(QStringLiteral("mem"));
            EXPECT_EQ(copied(), QStringLiteral("mem"));
            break;
        case Kind::Minimised:
            EXPECT_LT(cpu, 3.0);
            break;
        case Kind::Animated:
            // Never ended: one renderer the whole time, and each page once.
            EXPECT_EQ(meter.renderers().size(), 1);
            EXPECT_EQ(adRequests(), 4);
            break;
        case Kind::Focus:
            break;
        }
        end();
    }
}

} // namespace
} // namespace qiv::e2e

int main(int argc, char** argv)
{
    // Without a display the test skips; Qt still needs a platform to start.
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
