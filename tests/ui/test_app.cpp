// The event table with the real window, and the real program's start and end.
#include "../common/modal_catcher.h"
#include "config/hosts.h"
#include "net/timed_request.h"
#include "service/login.h"
#include "ui/app.h"
#include "ui/main_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "x11_close.h"

namespace qiv {
namespace {

class EventTable : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Nothing listens on port 1 of loopback: requests fail at once.
        config::setServiceHost("127.0.0.1:1");
        config::setIpLookupHost("127.0.0.1:1");
        setConnectivityCheck([] { return true; });
        window_ = std::make_unique<MainWindow>(MainWindow::Options{.browserViews = false});
        wireEvents(*window_, [this] { ++quits_; });
        window_->show();
        window_->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    }

    void TearDown() override { setConnectivityCheck({}); }

    int page() const { return window_->选择夹1->currentIndex(); }

    std::unique_ptr<MainWindow> window_;
    int quits_ = 0;
};

TEST_F(EventTable, PageSwitchesChangeNoField)
{
    MainWindow& w = *window_;
    w.编辑框_用户名_注册->setText(QStringLiteral("kept"));
    w.编辑框_用户名_登录->setText(QStringLiteral("me"));

    QTest::mouseClick(w.按钮1, Qt::LeftButton);
    EXPECT_EQ(page(), 1);
    QTest::mouseClick(w.按钮_返回登录, Qt::LeftButton);
    EXPECT_EQ(page(), 0);

    w.选择夹1->setCurrentIndex(4);
    // The links react to the press itself, not to a completed click.
    QTest::mousePress(w.超级链接框_返回注册, Qt::LeftButton);
    EXPECT_EQ(page(), 1);
    QTest::mouseRelease(w.超级链接框_返回注册, Qt::LeftButton);
    w.选择夹1->setCurrentIndex(4);
    QTest::mousePress(w.超级链接框_返回登录, Qt::LeftButton);
    EXPECT_EQ(page(), 0);
    QTest::mouseRelease(w.超级链接框_返回登录, Qt::LeftButton);
    // A right press does nothing.
    w.选择夹1->setCurrentIndex(4);
    QTest::mousePress(w.超级链接框_返回登录, Qt::RightButton);
    EXPECT_EQ(page(), 4);

    EXPECT_EQ(w.编辑框_用户名_注册->text(), QStringLiteral("kept"));
    EXPECT_EQ(w.编辑框_用户名_登录->text(), QStringLiteral("me"));

    // The public-IP label has no behaviour.
    w.选择夹1->setCurrentIndex(3);
    QString ip = w.透明标签_公网IP->text();
    QTest::mouseClick(w.透明标签_公网IP, Qt::LeftButton);
    EXPECT_EQ(page(), 3);
    EXPECT_EQ(w.透明标签_公网IP->text(), ip);
}

TEST_F(EventTable, FocusSelectsTheWholeTextOfBothLoginBoxes)
{
    MainWindow& w = *window_;
    w.编辑框_用户名_登录->setText(QStringLiteral("oldname"));
    w.编辑框_密码_登录->setText(QStringLiteral("secret"));
    w.按钮_登录->setFocus();

    QTest::mouseClick(w.编辑框_用户名_登录, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(w.编辑框_用户名_登录->selectedText(), QStringLiteral("oldname"),
                              2000);
    QTest::keyClicks(w.编辑框_用户名_登录, QStringLiteral("n"));
    EXPECT_EQ(w.编辑框_用户名_登录->text(), QStringLiteral("n"));

    // Tab from the name box passes the suffix box, then reaches the password.
    w.编辑框_密码_登录->setFocus(Qt::TabFocusReason);
    QTRY_COMPARE_WITH_TIMEOUT(w.编辑框_密码_登录->selectedText(), QStringLiteral("secret"), 2000);
    QTest::keyClicks(w.编辑框_密码_登录, QStringLiteral("x"));
    EXPECT_EQ(w.编辑框_密码_登录->text(), QStringLiteral("x"));

    // Other boxes do not select on focus.
    w.选择夹1->setCurrentIndex(1);
    w.编辑框_主页名称_注册->setText(QStringLiteral("title"));
    QTest::mouseClick(w.编辑框_主页名称_注册, Qt::LeftButton);
    QTest::qWait(20);
    EXPECT_TRUE(w.编辑框_主页名称_注册->selectedText().isEmpty());
}

TEST_F(EventTable, EnterInThePasswordBoxLogsInTheNameBoxDoesNot)
{
    MainWindow& w = *window_;
    testing::ModalCatcher boxes;

    // Enter in the name box starts nothing.
    QTest::keyClick(w.编辑框_用户名_登录, Qt::Key_Return);
    QTest::qWait(30);
    EXPECT_TRUE(boxes.boxes().empty());

    // Enter in the password box runs the login, whose first check answers.
    QTest::keyClick(w.编辑框_密码_登录, Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes().size(), size_t(1), 2000);
    EXPECT_EQ(boxes.boxes()[0].text, QStringLiteral("请填写完整用户名和密码"));
    EXPECT_EQ(boxes.boxes()[0].title, QStringLiteral("岚栖提示："));
    EXPECT_EQ(boxes.boxes()[0].icon, QMessageBox::Warning);

    // With both filled, Enter (also the keypad's, with a modifier) sends the
    // login; the refused connection ends it on the login page.
    w.编辑框_用户名_登录->setText(QStringLiteral("abc"));
    w.编辑框_密码_登录->setText(QStringLiteral("pw"));
    QTest::keyClick(w.编辑框_密码_登录, Qt::Key_Enter, Qt::ShiftModifier);
    EXPECT_EQ(w.分组框1->title(), QStringLiteral("登录失败,请检查网络后重试"));
    EXPECT_EQ(page(), 0);
    EXPECT_EQ(boxes.boxes().size(), size_t(1));
}

TEST_F(EventTable, QuitButtonCallsQuit)
{
    QTest::mouseClick(window_->按钮_取消, Qt::LeftButton);
    EXPECT_EQ(quits_, 1);
    // While the login group is disabled the button takes no click.
    window_->分组框1->setEnabled(false);
    QTest::mouseClick(window_->按钮_取消, Qt::LeftButton);
    EXPECT_EQ(quits_, 1);
}

TEST_F(EventTable, ClosingTheWindowQuitsEvenDuringAWait)
{
    // A socket that listens but never answers keeps the check's request
    // waiting in its nested event loop while the window is closed.
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(fd, 4), 0);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    config::setServiceHost("127.0.0.1:" + std::to_string(ntohs(address.sin_port)));
    setDefaultRequestLimit(std::chrono::seconds(2));

    window_->选择夹1->setCurrentIndex(1);
    window_->编辑框_用户名_注册->setText(QStringLiteral("name"));
    int quitsAtClose = -1;
    QTimer::singleShot(200, [&] {
        window_->close();
        quitsAtClose = quits_;
    });
    QTest::mouseClick(window_->按钮_检查域名_注册, Qt::LeftButton);
    EXPECT_EQ(quitsAtClose, 1);
    ::close(fd);
    setDefaultRequestLimit(std::chrono::seconds(90));
}

TEST(QuitProgram, EndsAtOnceWithStatusZero)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(quitProgram(), ::testing::ExitedWithCode(0), "");
}

TEST(RealProgram, ClosingTheWindowEndsWithStatusZero)
{
    QByteArray display = qgetenv("DISPLAY");
    if (display.isEmpty())
        GTEST_SKIP() << "needs an X display (the test command runs under Xvfb)";

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(QIV_BINARY_DIR "/src/ui/qiv-forward"), {});
    ASSERT_TRUE(program.waitForStarted(10000));

    // xdotool gives up with an X error when a window it looks at goes away
    // meanwhile (the browser views make and drop some at start-up): search
    // again until the bound.
    QList<QByteArray> ids;
    QElapsedTimer searching;
    searching.start();
    while (ids.isEmpty() && searching.elapsed() < 60000 && program.state() == QProcess::Running) {
        QProcess search;
        search.start(QStringLiteral("xdotool"),
                     {QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--name"),
                      QStringLiteral("^Qiv免费域名转发$")});
        ASSERT_TRUE(search.waitForFinished(60000));
        ids = search.readAllStandardOutput().split('\n');
        ids.removeAll(QByteArray());
    }
    ASSERT_FALSE(ids.isEmpty());
    unsigned long id = ids.first().trimmed().toULong();
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(testing::requestWindowClose(display.constData(), id));

    ASSERT_TRUE(program.waitForFinished(20000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
}

} // namespace
} // namespace qiv

int main(int argc, char** argv)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
