// The event table with the real window, and the real program's start and end.
#include "../common/kept_state.h"
#include "../common/modal_catcher.h"
#include "app/app.h"
#include "app/options.h"
#include "net/timed_request.h"
#include "service/program_state.h"
#include "ui/main_window.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMouseEvent>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <regex>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "x11_close.h"

namespace qiv {
namespace {

// A loopback socket on `port` (0: a free one, written back) that listens and
// never answers; -1 when the port is taken.
int silentListener(uint16_t& port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0), on = 1;
    sockaddr_in a{.sin_family = AF_INET,
                  .sin_port = htons(port),
                  .sin_addr = {htonl(INADDR_LOOPBACK)},
                  .sin_zero = {}};
    socklen_t length = sizeof a;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), length) != 0 || ::listen(fd, 16) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) != 0)
        return ::close(fd), -1;
    port = ntohs(a.sin_port);
    return fd;
}

class EventTable : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Nothing listens on port 1 of loopback: requests fail at once.
        state_ = &testing::keptState(new ProgramState{
            .hosts = {.service = "127.0.0.1:1", .ipLookup = "127.0.0.1:1", .ad = "127.0.0.1:1"},
            .connectivityCheck = [] { return true; }});
        window_ = std::make_unique<MainWindow>(MainWindow::Options{.browserViews = false});
        wireEvents(*window_, *state_, [this] { ++quits_; });
        window_->show();
        window_->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    }

    int page() const { return window_->选择夹1->currentIndex(); }

    ProgramState* state_ = nullptr;
    std::unique_ptr<MainWindow> window_;
    int quits_ = 0;
};

TEST_F(EventTable, PageSwitchesChangeNoField)
{
    MainWindow& w = *window_;
    w.registrationPage()->编辑框_用户名_注册->setText(QStringLiteral("kept"));
    w.loginPage()->编辑框_用户名_登录->setText(QStringLiteral("me"));

    QTest::mouseClick(w.loginPage()->按钮1, Qt::LeftButton);
    EXPECT_EQ(page(), 1);
    QTest::mouseClick(w.registrationPage()->按钮_返回登录, Qt::LeftButton);
    EXPECT_EQ(page(), 0);

    w.选择夹1->setCurrentIndex(4);
    // The links react to the press itself, not to a completed click.
    QTest::mousePress(w.resultPage()->超级链接框_返回注册, Qt::LeftButton);
    EXPECT_EQ(page(), 1);
    QTest::mouseRelease(w.resultPage()->超级链接框_返回注册, Qt::LeftButton);
    w.选择夹1->setCurrentIndex(4);
    QTest::mousePress(w.resultPage()->超级链接框_返回登录, Qt::LeftButton);
    EXPECT_EQ(page(), 0);
    QTest::mouseRelease(w.resultPage()->超级链接框_返回登录, Qt::LeftButton);
    // A right press does nothing.
    w.选择夹1->setCurrentIndex(4);
    QTest::mousePress(w.resultPage()->超级链接框_返回登录, Qt::RightButton);
    EXPECT_EQ(page(), 4);

    EXPECT_EQ(w.registrationPage()->编辑框_用户名_注册->text(), QStringLiteral("kept"));
    EXPECT_EQ(w.loginPage()->编辑框_用户名_登录->text(), QStringLiteral("me"));

    // The public-IP label has no behaviour.
    w.选择夹1->setCurrentIndex(3);
    QString ip = w.accountPage()->透明标签_公网IP->text();
    QTest::mouseClick(w.accountPage()->透明标签_公网IP, Qt::LeftButton);
    EXPECT_EQ(page(), 3);
    EXPECT_EQ(w.accountPage()->透明标签_公网IP->text(), ip);
}

TEST_F(EventTable, FocusSelectsTheWholeTextOfBothLoginBoxes)
{
    MainWindow& w = *window_;
    w.loginPage()->编辑框_用户名_登录->setText(QStringLiteral("oldname"));
    w.loginPage()->编辑框_密码_登录->setText(QStringLiteral("secret"));
    w.loginPage()->按钮_登录->setFocus();

    QTest::mouseClick(w.loginPage()->编辑框_用户名_登录, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(w.loginPage()->编辑框_用户名_登录->selectedText(),
                              QStringLiteral("oldname"), 2000);
    QTest::keyClicks(w.loginPage()->编辑框_用户名_登录, QStringLiteral("n"));
    EXPECT_EQ(w.loginPage()->编辑框_用户名_登录->text(), QStringLiteral("n"));

    // Tab from the name box passes the suffix box, then reaches the password.
    w.loginPage()->编辑框_密码_登录->setFocus(Qt::TabFocusReason);
    QTRY_COMPARE_WITH_TIMEOUT(w.loginPage()->编辑框_密码_登录->selectedText(),
                              QStringLiteral("secret"), 2000);
    QTest::keyClicks(w.loginPage()->编辑框_密码_登录, QStringLiteral("x"));
    EXPECT_EQ(w.loginPage()->编辑框_密码_登录->text(), QStringLiteral("x"));

    // Other boxes do not select on focus.
    w.选择夹1->setCurrentIndex(1);
    w.registrationPage()->编辑框_主页名称_注册->setText(QStringLiteral("title"));
    QTest::mouseClick(w.registrationPage()->编辑框_主页名称_注册, Qt::LeftButton);
    QTest::qWait(20);
    EXPECT_TRUE(w.registrationPage()->编辑框_主页名称_注册->selectedText().isEmpty());
}

TEST_F(EventTable, EnterInThePasswordBoxLogsInTheNameBoxDoesNot)
{
    MainWindow& w = *window_;
    testing::ModalCatcher boxes;

    // Enter in the name box starts nothing.
    QTest::keyClick(w.loginPage()->编辑框_用户名_登录, Qt::Key_Return);
    QTest::qWait(30);
    EXPECT_TRUE(boxes.boxes().empty());

    // Enter in the password box runs the login, whose first check answers.
    QTest::keyClick(w.loginPage()->编辑框_密码_登录, Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes().size(), size_t(1), 2000);
    EXPECT_EQ(boxes.boxes()[0].text, QStringLiteral("请填写完整用户名和密码"));
    EXPECT_EQ(boxes.boxes()[0].title, QStringLiteral("岚栖提示："));
    EXPECT_EQ(boxes.boxes()[0].icon, QMessageBox::Warning);

    // With both filled, Enter (also the keypad's, with a modifier) sends the
    // login; the refused connection ends it on the login page.
    w.loginPage()->编辑框_用户名_登录->setText(QStringLiteral("abc"));
    w.loginPage()->编辑框_密码_登录->setText(QStringLiteral("pw"));
    QTest::keyClick(w.loginPage()->编辑框_密码_登录, Qt::Key_Enter, Qt::ShiftModifier);
    EXPECT_EQ(w.loginPage()->分组框1->title(), QStringLiteral("登录失败,请检查网络后重试"));
    EXPECT_EQ(page(), 0);
    EXPECT_EQ(boxes.boxes().size(), size_t(1));
}

TEST_F(EventTable, QuitButtonCallsQuit)
{
    QTest::mouseClick(window_->loginPage()->按钮_取消, Qt::LeftButton);
    EXPECT_EQ(quits_, 1);
    // While the login group is disabled the button takes no click.
    window_->loginPage()->分组框1->setEnabled(false);
    QTest::mouseClick(window_->loginPage()->按钮_取消, Qt::LeftButton);
    EXPECT_EQ(quits_, 1);
}

TEST_F(EventTable, ClosingTheWindowQuitsEvenDuringAWait)
{
    // A socket that listens but never answers keeps the check's request
    // waiting in its nested event loop while the window is closed.
    uint16_t port = 0;
    int fd = silentListener(port);
    ASSERT_GE(fd, 0);
    state_->hosts.service = "127.0.0.1:" + std::to_string(port);
    state_->network.requestLimit = std::chrono::seconds(2);

    window_->选择夹1->setCurrentIndex(1);
    window_->registrationPage()->编辑框_用户名_注册->setText(QStringLiteral("name"));
    int quitsAtClose = -1;
    QTimer::singleShot(200, [&] {
        window_->close();
        quitsAtClose = quits_;
    });
    QTest::mouseClick(window_->registrationPage()->按钮_检查域名_注册, Qt::LeftButton);
    EXPECT_EQ(quitsAtClose, 1);
    ::close(fd);
}

TEST_F(EventTable, WindowCreatedDisablesTheLoginGroupBeforeAQueuedClick)
{
    MainWindow& w = *window_;
    testing::ModalCatcher boxes;
    // A click queued before: with empty boxes a login would show a box.
    QPoint centre = w.loginPage()->按钮_登录->rect().center();
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
        QCoreApplication::postEvent(
            w.loginPage()->按钮_登录,
            new QMouseEvent(type, centre, w.loginPage()->按钮_登录->mapToGlobal(centre),
                            Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
    onWindowCreated(w, *state_);
    EXPECT_FALSE(w.loginPage()->分组框1->isEnabled());
    EXPECT_EQ(w.loginPage()->分组框1->title(), QStringLiteral("域名后缀下载中...请稍候"));
    EXPECT_EQ(w.loginPage()->分组框1->captionColour(), QColor(0, 0, 255));
    QTest::qWait(50);
    EXPECT_TRUE(boxes.boxes().empty());
}

// With no service host the window says where to set one and fetches
// nothing: the caption stays, and no start-up fetch counts a try.
TEST_F(EventTable, WindowCreatedWithoutAServiceHostSaysWhereToSetOne)
{
    MainWindow& w = *window_;
    testing::ModalCatcher boxes;
    state_->hosts.service.clear();
    const QString caption = w.loginPage()->分组框1->title();
    onWindowCreated(w, *state_);
    QTest::qWait(300);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].title, QStringLiteral("岚栖提示："));
    EXPECT_EQ(boxes.boxes()[0].text, QString::fromStdString(config::noServiceHostMessage()));
    EXPECT_TRUE(boxes.boxes()[0].text.contains(QStringLiteral("--service-host")));
    EXPECT_EQ(w.loginPage()->分组框1->title(), caption);
    EXPECT_EQ(state_->suffixRetries.load() + state_->userCountRetries.load() +
                  state_->ipRetries.load(),
              0);
}

// A hosts file refused ends the real program with status 2 before any
// window, naming the file and the line or the fault.
TEST(HostsFiles, ARefusedFileEndsTheProgramBeforeItsWindow)
{
    const QString dir = QDir::tempPath() + QStringLiteral("/qiv-app-hosts");
    const QString user = dir + QStringLiteral("/qiv-forward/hosts.conf");
    const QString system = dir + QStringLiteral("/system.conf");
    const struct {
        QString path;
        QByteArray text;
        QFile::Permissions mode;
        QString says;
    } rows[] = {
        {user, "service-host = s\n", QFile::ReadOwner | QFile::WriteOwner | QFile::WriteGroup,
         user + QStringLiteral(": refused: others can write it (mode 620)")},
        {system, "# x\nad-host = a b\n", QFile::ReadOwner | QFile::WriteOwner,
         system + QStringLiteral(":2: ad-host 'a b'")},
    };
    for (const auto& row : rows) {
        QDir(dir).removeRecursively();
        QDir().mkpath(dir + QStringLiteral("/qiv-forward"));
        QFile file(row.path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(row.text);
        file.close();
        file.setPermissions(row.mode);
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(variable));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir);
        env.insert(QStringLiteral("QIV_HOSTS_SYSTEM_FILE"), system);
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(QIV_FORWARD_PATH), {});
        ASSERT_TRUE(program.waitForFinished(30000));
        const QString err = QString::fromUtf8(program.readAllStandardError());
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << err.toStdString();
        EXPECT_EQ(program.exitCode(), 2) << err.toStdString();
        EXPECT_TRUE(err.startsWith(QStringLiteral("qiv-forward: ") + row.says))
            << err.toStdString();
    }
    QDir(dir).removeRecursively();
}

TEST(ChromiumSandbox, OffOnlyAsRootOrWhenTheUserSaysSoAndTheUserFlagsStay)
{
    const struct {
        const char* user;
        bool userOff, root, off;
        const char* flags;
        bool software; // no GPU: Chromium composites in software
    } rows[] = {
        {"", false, false, false,
         "--renderer-process-limit=1 --no-unsandboxed-zygote --js-flags=--max-old-space-size=192",
         false},
        {"--disable-gpu", false, false, false,
         "--disable-gpu --renderer-process-limit=1 --no-unsandboxed-zygote "
         "--js-flags=--max-old-space-size=192",
         false},
        {"", false, true, true,
         "--no-sandbox --renderer-process-limit=1 --no-zygote --js-flags=--max-old-space-size=192",
         false},
        {"--disable-gpu", false, true, true,
         "--disable-gpu --no-sandbox --renderer-process-limit=1 --no-zygote "
         "--js-flags=--max-old-space-size=192",
         false},
        {"--disable-gpu", true, false, true,
         "--disable-gpu --no-sandbox --renderer-process-limit=1 --no-zygote "
         "--js-flags=--max-old-space-size=192",
         false},
        {"--no-sandbox --disable-gpu", false, false, true,
         "--no-sandbox --disable-gpu --renderer-process-limit=1 --no-zygote "
         "--js-flags=--max-old-space-size=192",
         false},
        {" --no-sandbox ", true, true, true,
         "--no-sandbox --renderer-process-limit=1 --no-zygote --js-flags=--max-old-space-size=192",
         false},
        {"--renderer-process-limit=4 --no-unsandboxed-zygote", false, false, false,
         "--renderer-process-limit=4 --no-unsandboxed-zygote --js-flags=--max-old-space-size=192",
         false},
        {"--no-zygote --renderer-process-limit=2", false, true, true,
         "--no-zygote --renderer-process-limit=2 --no-sandbox --js-flags=--max-old-space-size=192",
         false},
        {"", false, false, false,
         "--renderer-process-limit=1 --no-unsandboxed-zygote --disable-gpu "
         "--js-flags=--max-old-space-size=192",
         true},
        {"--disable-gpu", false, true, true,
         "--disable-gpu --no-sandbox --renderer-process-limit=1 --no-zygote "
         "--js-flags=--max-old-space-size=192",
         true},
        {"--js-flags=--expose-gc", false, false, false,
         "--js-flags=--expose-gc --renderer-process-limit=1 --no-unsandboxed-zygote", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.user);
        EXPECT_EQ(sandboxDisabled(row.user, row.userOff, row.root), row.off);
        EXPECT_EQ(chromiumFlags(row.user, row.userOff, row.root, row.software),
                  QByteArray(row.flags));
    }
}

// Each row is read by readCommandLine; a row that ends without a window is
// also given to the real program, with no display and no platform chosen:
// had it made its QApplication, Qt would abort for want of a display.
TEST(CommandLine, HostsHelpVersionAndBadValues)
{
    const config::SourcedHosts below = config::builtInSourcedHosts();
    const config::Hosts builtIn = below.value;
    const struct {
        std::vector<std::string> args;
        int status;       // -1: the window starts on `hosts`
        const char* says; // stdout on 0, stderr on 2
        config::Hosts hosts;
    } rows[] = {
        {{}, -1, "", builtIn},
        {{"--service-host", "forward.example.org"},
         -1,
         "",
         {"forward.example.org", builtIn.ipLookup, builtIn.ad}},
        {{"--ip-host=10.0.0.5:8080", "--ad-host", "Ads-1.example.org:65535", "--service-host=a:1"},
         -1,
         "",
         {"a:1", "10.0.0.5:8080", "Ads-1.example.org:65535"}},
        {{"--ad-host=x.org", "--ad-host=y.org"},
         -1,
         "",
         {builtIn.service, builtIn.ipLookup, "y.org"}},
        {{"--ads-without-sandbox", "--ad-host=z.org"},
         -1,
         "",
         {builtIn.service, builtIn.ipLookup, "z.org"}},
        {{"--help"}, 0, "--service-host HOST[:PORT]", {}},
        {{"--help"}, 0, "--ads-without-sandbox", {}},
        {{"--ads-without-sandbox=1"}, 2, "unknown option '--ads-without-sandbox=1'", {}},
        {{"--service-host=a", "-h", "--bogus"}, 0, "--ad-host HOST[:PORT]", {}},
        {{"--version"}, 0, "qiv-forward ", {}},
        {{"--service-host", ""}, 2, "--service-host '': empty", {}},
        {{"--service-host="}, 2, "empty", {}},
        {{"--service-host=http://x"}, 2, "a scheme", {}},
        {{"--ip-host", "x/y"}, 2, "'x/y': a path", {}},
        {{"--ip-host", "x?q"}, 2, "a path", {}},
        {{"--ad-host", "x:0"}, 2, "port must be a number from 1 to 65535", {}},
        {{"--ad-host", "x:65536"}, 2, "port must be", {}},
        {{"--ad-host", "x:8o"}, 2, "port must be", {}},
        {{"--ad-host", "x:"}, 2, "no port", {}},
        {{"--ad-host", ":80"}, 2, "no host name", {}},
        {{"--service-host", "a b"}, 2, "character ' '", {}},
        {{"--service-host", "me@x"}, 2, "character '@'", {}},
        {{"--service-host", "x_y"}, -1, "", {"x_y", builtIn.ipLookup, builtIn.ad}},
        {{"--service-host", "a\x1b"}, 2, "'a\\x1b': the character '\\x1b'", {}},
        {{"--service-host", "a..b"}, 2, "empty label", {}},
        {{"--service-host", "[::1]:8090"}, 2, "IPv6", {}},
        {{"--service-host", "a:1:2"}, 2, "more than one ':'", {}},
        {{"--service-host", std::string(64, 'a') + ".org"}, 2, "longer than 63", {}},
        {{"--service-host"}, 2, "option --service-host needs a value", {}},
        {{"--bogus"}, 2, "unknown option '--bogus'", {}},
        {{"extra"}, 2, "unknown option 'extra'", {}},
    };
    for (const auto& row : rows) {
        const std::string name = row.args.empty() ? "(none)" : row.args[0];
        SCOPED_TRACE(name + (row.args.size() > 1 ? " " + row.args[1] : ""));
        const CommandLine read = readCommandLine(row.args, below);
        if (row.status < 0) {
            ASSERT_EQ(read.action, CommandLine::Action::Run) << read.error;
            EXPECT_EQ(read.hosts.service, row.hosts.service);
            EXPECT_EQ(read.hosts.ipLookup, row.hosts.ipLookup);
            EXPECT_EQ(read.hosts.ad, row.hosts.ad);
            EXPECT_EQ(read.adsWithoutSandbox, name == "--ads-without-sandbox");
            continue;
        }
        EXPECT_NE(read.action, CommandLine::Action::Run);

        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(variable));
        program.setProcessEnvironment(env);
        QStringList args;
        for (const std::string& arg : row.args)
            args << QString::fromStdString(arg);
        program.start(QStringLiteral(QIV_FORWARD_PATH), args);
        ASSERT_TRUE(program.waitForFinished(30000));
        const std::string out = program.readAllStandardOutput().toStdString();
        const std::string err = program.readAllStandardError().toStdString();
        ASSERT_EQ(program.exitStatus(), QProcess::NormalExit) << err;
        EXPECT_EQ(program.exitCode(), row.status) << err;
        EXPECT_NE((row.status == 0 ? out : err).find(row.says), std::string::npos) << out << err;
        if (row.status == 2) {
            EXPECT_TRUE(out.empty()) << out;
            EXPECT_NE(err.find("Usage: qiv-forward"), std::string::npos) << err;
        } else if (row.args[0] == "--version") {
            EXPECT_TRUE(std::regex_match(out, std::regex(R"(qiv-forward \d+\.\d+\.\d+\n)"))) << out;
        }
    }
}

TEST(QuitProgram, EndsAtOnceWithStatusZero)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(quitProgram(), ::testing::ExitedWithCode(0), "");
}

// The program's static object first made during exec() is never destroyed,
// whichever way out: exit() as Qt calls it (its status kept), "退 出", the
// window closing, exec() returning. The service takes every connection and
// never answers, so the start-up fetches still wait at the end.
TEST(EveryWayOut, EndsBeforeAnyStaticDestructor)
{
    uint16_t port = 8090;
    const int service = silentListener(port);
    for (const auto& [way, status] :
         {std::pair{"exit", 3}, {"quit", 0}, {"close", 0}, {"return", 0}}) {
        SCOPED_TRACE(way);
        QProcess probe;
        probe.start(QStringLiteral(QIV_EXIT_PROBE_PATH), {QString::fromLatin1(way)});
        ASSERT_TRUE(probe.waitForFinished(60000));
        EXPECT_EQ(probe.readAllStandardOutput().toStdString(), "made\n")
            << probe.readAllStandardError().toStdString();
        EXPECT_EQ(probe.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(probe.exitCode(), status);
    }
    ::close(service);
}

// On its own Xvfb, against a service that takes every connection and never
// answers, so the background thread and a request worker are busy at the end.
// Row false closes the window found at its first map: status 0. Row true
// kills the display: Qt calls exit(1), which must end the process with that
// status, not a signal.
class RealProgram : public ::testing::TestWithParam<bool> {};

TEST_P(RealProgram, EndsByExitWhileTheStartupFetchesWait)
{
    uint16_t port = 8090;
    int service = silentListener(port);
    if (service < 0 || QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
        GTEST_SKIP() << "needs Xvfb and 127.0.0.1:8090, the service address built in";
    QProcess xvfb;
    xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"),
                                        QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    ASSERT_TRUE(xvfb.waitForReadyRead(20000));
    QString display = QStringLiteral(":") + QString::fromUtf8(xvfb.readLine().trimmed());

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.insert(QStringLiteral("DISPLAY"), display);
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::MergedChannels);
    // The window's first map with the views in it is what this is about: as
    // root they are shown only with the option (no sandbox there).
    QStringList args;
    if (::geteuid() == 0)
        args << QStringLiteral("--ads-without-sandbox");
    program.start(QStringLiteral(QIV_FORWARD_PATH), args);
    ASSERT_TRUE(program.waitForStarted(10000));

    // xdotool gives up with an X error when a window it looks at goes away
    // meanwhile (the browser views make and drop some at start-up): search
    // again until the bound.
    const auto programWindow = [&]() -> unsigned long {
        QList<QByteArray> ids;
        QElapsedTimer searching;
        searching.start();
        while (ids.isEmpty() && searching.elapsed() < 60000 &&
               program.state() == QProcess::Running) {
            QProcess search;
            search.setProcessEnvironment(env);
            search.start(QStringLiteral("xdotool"),
                         {QStringLiteral("search"), QStringLiteral("--sync"),
                          QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                          QString::number(program.processId()), QStringLiteral("--name"),
                          QStringLiteral("^Qiv免费域名转发$")});
            if (!search.waitForFinished(60000))
                return 0;
            ids = search.readAllStandardOutput().split('\n');
            ids.removeAll(QByteArray());
        }
        return ids.isEmpty() ? 0 : ids.first().trimmed().toULong();
    };
    // The window seen at its first map is the one for the whole run: the
    // browser views, made once it is shown, draw into it, and the close
    // goes to it.
    const unsigned long id = programWindow();
    ASSERT_NE(id, 0u);
    QTest::qWait(2000);
    EXPECT_EQ(programWindow(), id) << "the window was made anew";

    if (GetParam())
        xvfb.kill();
    else
        EXPECT_TRUE(testing::requestWindowClose(display.toUtf8().constData(), id));
    ASSERT_TRUE(program.waitForFinished(30000));
    ::close(service);
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << program.readAll().toStdString();
    EXPECT_EQ(program.exitCode(), GetParam() ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Endings, RealProgram, ::testing::Bool());

// Whether a Chromium helper runs under `pid`, by /proc's lists of children.
bool helperUnder(pid_t pid)
{
    for (const QString& task : QDir(QStringLiteral("/proc/%1/task").arg(pid))
                                   .entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile children(QStringLiteral("/proc/%1/task/%2/children").arg(pid).arg(task));
        if (!children.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& child : children.readAll().split(' ')) {
            QFile comm(QStringLiteral("/proc/%1/comm").arg(QString::fromLatin1(child.trimmed())));
            if (child.trimmed().isEmpty() || !comm.open(QIODevice::ReadOnly))
                continue;
            if (comm.readAll().startsWith("QtWebEngineProc") || helperUnder(child.toInt()))
                return true;
        }
    }
    return false;
}

// Where the browser engine has no sandbox, the program starts no renderer and
// asks the advertisement host for nothing, unless told to. The hosts are
// loopback listeners that never answer; the ad host's counts connections.
// Without any host set (a package build, no hosts file, no option) the window
// shows its box and starts no renderer, even with the option.
TEST(NoSandbox, NoRendererAndNoAdRequestUnlessTheOptionSaysSo)
{
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
        GTEST_SKIP() << "needs Xvfb";
    const bool root = ::geteuid() == 0;
    const struct {
        const char* name;
        QStringList args;
        const char* variable; // set in the environment, or null
        const char* value;
        bool views;
        bool noHosts = false;
    } rows[] = {
        // As root the sandbox is off whatever the environment says.
        {"root or --no-sandbox",
         {},
         "QTWEBENGINE_CHROMIUM_FLAGS",
         root ? "" : "--no-sandbox",
         false},
        {"QTWEBENGINE_DISABLE_SANDBOX", {}, "QTWEBENGINE_DISABLE_SANDBOX", "1", false},
        {"--ads-without-sandbox",
         {QStringLiteral("--ads-without-sandbox")},
         "QTWEBENGINE_DISABLE_SANDBOX",
         "1",
         true},
        {"no hosts",
         {QStringLiteral("--ads-without-sandbox")},
         "QIV_HOSTS_NONE_BUILT_IN",
         "1",
         false,
         true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        uint16_t silent = 0, ad = 0;
        const int service = silentListener(silent), adHost = silentListener(ad);
        ASSERT_GE(service, 0);
        ASSERT_GE(adHost, 0);
        // Its connections are taken without waiting.
        ::fcntl(adHost, F_SETFL, O_NONBLOCK);
        QProcess xvfb;
        xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"),
                                            QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        ASSERT_TRUE(xvfb.waitForReadyRead(20000));
        const QString display = QStringLiteral(":") + QString::fromUtf8(xvfb.readLine().trimmed());

        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.remove(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"));
        env.insert(QStringLiteral("DISPLAY"), display);
        env.insert(QString::fromLatin1(row.variable), QString::fromLatin1(row.value));
        // No hosts file of the machine's or the user's counts here.
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), QDir::tempPath() + "/qiv-no-config");
        env.insert(QStringLiteral("QIV_HOSTS_SYSTEM_FILE"), QDir::tempPath() + "/qiv-no-hosts");
        program.setProcessEnvironment(env);
        const QString hosts = QStringLiteral("127.0.0.1:%1").arg(silent);
        program.start(QStringLiteral(QIV_FORWARD_PATH),
                      row.noHosts ? row.args
                                  : row.args + QStringList{QStringLiteral("--service-host"), hosts,
                                                           QStringLiteral("--ip-host"), hosts,
                                                           QStringLiteral("--ad-host"),
                                                           QStringLiteral("127.0.0.1:%1").arg(ad)});
        ASSERT_TRUE(program.waitForStarted(10000));

        // Long enough for the views to have started and asked.
        int adConnections = 0;
        bool renderer = false;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 8000 && program.state() == QProcess::Running) {
            QTest::qWait(200);
            for (int fd; (fd = ::accept4(adHost, nullptr, nullptr, SOCK_NONBLOCK)) >= 0;)
                ++adConnections, ::close(fd);
            renderer = renderer || helperUnder(static_cast<pid_t>(program.processId()));
            if (row.views && renderer && adConnections > 0)
                break;
        }
        EXPECT_EQ(program.state(), QProcess::Running)
            << program.readAllStandardError().toStdString();
        if (row.noHosts) {
            QProcess search;
            search.setProcessEnvironment(env);
            search.start(QStringLiteral("xdotool"),
                         {QStringLiteral("search"), QStringLiteral("--all"),
                          QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                          QString::number(program.processId()), QStringLiteral("--name"),
                          QStringLiteral("^岚栖提示：$")});
            ASSERT_TRUE(search.waitForFinished(30000));
            EXPECT_FALSE(search.readAllStandardOutput().trimmed().isEmpty()) << "no box shown";
        }
        program.kill();
        program.waitForFinished(10000);
        xvfb.kill();
        xvfb.waitForFinished(10000);
        ::close(service);
        ::close(adHost);
        EXPECT_EQ(renderer, row.views);
        EXPECT_EQ(adConnections > 0, row.views) << adConnections << " connection(s)";
        const QString err = QString::fromUtf8(program.readAllStandardError());
        EXPECT_EQ(err.count(QString::fromLatin1(kNoSandboxNotice)),
                  root && !row.views && !row.noHosts ? 1 : 0)
            << err.toStdString();
    }
}

} // namespace
} // namespace qiv

int main(int argc, char** argv)
{
    qiv::prepareBrowserEngine();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
