// The user's whole journey in the real window, with its four browser views
// and its real start-up thread, against the qiv-devserver binary: start-up,
// check, register, log in, modify, refresh, the public IP changes and
// qiv-follow moves the target, the refresh shows it, delete, log in again
// and fail.
// After each step the window and the service's account file are checked.
// With QIV_JOURNEY_DIR set, a PNG of the window is written after each step.
#include "../common/kept_state.h"
#include "../common/modal_catcher.h"
#include "app/app.h"
#include "e2e_support.h"
#include "net/timed_request.h"
#include "service/account_page.h"
#include "service/background.h"
#include "service/login.h"
#include "service/program_state.h"
#include "text/gbk.h"
#include "text/page_cuts.h"
#include "text/text.h"
#include "ui/main_window.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEngineView>

#include <gtest/gtest.h>

namespace qiv::e2e {
namespace {

using testing::ModalCatcher;

const QColor kRed(255, 0, 0);
const QColor kBlue(0, 0, 255);
const QColor kBlack(0, 0, 0);
const QColor kFreeBlue(0, 136, 255);
const QStringList kWelcome{"欢迎登录,免费域名转发系统", "本管理系统由岚栖开发",
                           "只为快捷使用,请勿用于非法用途"};

QStringList logLines(const MainWindow& w)
{
    QStringList lines;
    for (int i = 0; i < w.accountPage()->列表框1->count(); ++i)
        lines << w.accountPage()->列表框1->item(i)->text();
    return lines;
}

QStringList items(const QComboBox* box)
{
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out << box->itemText(i);
    return out;
}

// Every enabled-state change of the login group, with the caption it had.
class GroupWatcher : public QObject {
public:
    struct State {
        bool enabled;
        QString title;
        QColor colour;
    };
    explicit GroupWatcher(CaptionGroupBox* box) : box_(box) { box->installEventFilter(this); }
    const std::vector<State>& states() const { return states_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == box_ && event->type() == QEvent::EnabledChange)
            states_.push_back({box_->isEnabled(), box_->title(), box_->captionColour()});
        return false;
    }

private:
    CaptionGroupBox* box_;
    std::vector<State> states_;
};

class Journey : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString error = server_.start();
        ASSERT_TRUE(error.isEmpty()) << error.toStdString();
        const auto& p = server_.ports();
        state_ = &testing::keptState(
            new ProgramState{.hosts = {.service = "127.0.0.1:" + std::to_string(p.service),
                                       .ipLookup = "127.0.0.2:" + std::to_string(p.ip),
                                       .ad = "127.0.0.3:" + std::to_string(p.ads)},
                             .network = {.requestLimit = std::chrono::milliseconds(20000)},
                             // Whether this machine has a network besides loopback only
                             // decides a warning box before the login; the journey does not
                             // depend on it.
                             .connectivityCheck = [] { return true; }});
        shotDir_ = qEnvironmentVariable("QIV_JOURNEY_DIR");
        if (!shotDir_.isEmpty())
            QDir().mkpath(shotDir_);
    }

    // The window as the user sees it now, as <dir>/NN-name.png.
    void shot(MainWindow& w, const char* name)
    {
        if (shotDir_.isEmpty())
            return;
        // Chromium paints a view that was just made visible on its own
        // schedule; there is nothing to wait on, so give it a moment.
        QTest::qWait(600);
        QString file = QDir(shotDir_).filePath(QStringLiteral("%1-%2.png")
                                                   .arg(++shots_, 2, 10, QChar('0'))
                                                   .arg(QString::fromUtf8(name)));
        EXPECT_TRUE(w.grab().save(file)) << file.toStdString();
    }

    DevServerProcess server_;
    ProgramState* state_ = nullptr;
    QString shotDir_;
    int shots_ = 0;
};

TEST_F(Journey, FromStartUpToTheFailedLoginAfterTheDeletion)
{
    ProgramState& state = *state_;
    // The real window: four browser views.
    MainWindow w(MainWindow::Options{.adHost = state.hosts.ad});
    int quits = 0;
    wireEvents(w, state, [&quits] { ++quits; });
    GroupWatcher group(w.loginPage()->分组框1);
    int adsLoaded = 0;
    int adsFailed = 0;
    w.show();
    QTimer::singleShot(0, &w, [&w, &state] { onWindowCreated(w, state); });
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w, 10000));
    w.startBrowserViews(); // as the program does once the window is up
    for (QWidget* box : {w.超文本浏览框1, w.超文本浏览框2, w.超文本浏览框3, w.超文本浏览框4}) {
        QWebEngineView* view = MainWindow::browserView(box);
        ASSERT_NE(view, nullptr) << box->objectName().toStdString();
        QObject::connect(view, &QWebEngineView::loadFinished, view,
                         [&](bool ok) { ++(ok ? adsLoaded : adsFailed); });
    }
    ModalCatcher boxes;

    // --- start-up fetches --------------------------------------------------
    // The group starts enabled: wait for it to be disabled and enabled again.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return group.states().size() >= 2 && w.loginPage()->分组框1->isEnabled() &&
                   w.loginPage()->分组框1->title() == QStringLiteral("登 录");
        },
        30000));
    EXPECT_FALSE(group.states().front().enabled);
    EXPECT_EQ(group.states().front().title, QStringLiteral("域名后缀下载中...请稍候"));
    EXPECT_EQ(group.states().front().colour, kBlue);
    EXPECT_TRUE(group.states().back().enabled);
    EXPECT_EQ(w.loginPage()->分组框1->captionColour(), kBlack);
    const QStringList suffixes{"qiv.cn", "qiv.net", "qiv.org"};
    EXPECT_EQ(items(w.loginPage()->组合框1), suffixes);
    EXPECT_EQ(items(w.registrationPage()->组合框2), suffixes);
    EXPECT_EQ(w.loginPage()->组合框1->currentIndex(), 0);
    EXPECT_EQ(w.registrationPage()->组合框2->currentIndex(), 0);
    EXPECT_EQ(w.loginPage()->透明标签_申请个数->text(), QStringLiteral("现用户申请总数:0个"));
    const Text ip = state.lastPublicIp.get();
    EXPECT_TRUE(isPublicIpReply(ip)) << ip;
    EXPECT_EQ(w.registrationPage()->编辑框_转向地址_注册->text(), QString::fromStdString(ip));
    EXPECT_EQ(w.accountPage()->透明标签_公网IP->text(),
              QStringLiteral("您当前公网IP:") + QString::fromStdString(ip));
    EXPECT_EQ(state.suffixRetries.load() + state.userCountRetries.load() + state.ipRetries.load(),
              0);
    EXPECT_EQ(w.选择夹1->currentIndex(), 0);
    // The advertisement pages come from the service's advertisement host.
    EXPECT_TRUE(QTest::qWaitFor([&] { return adsLoaded + adsFailed >= 4; }, 30000));
    EXPECT_EQ(adsLoaded, 4);
    shot(w, "startup");

    // --- check a name --------------------------------------------------------
    QTest::mouseClick(w.loginPage()->按钮1, Qt::LeftButton);
    ASSERT_EQ(w.选择夹1->currentIndex(), 1);
    replaceText(w.registrationPage()->编辑框_用户名_注册, QStringLiteral("journey"));
    w.registrationPage()->组合框2->setFocus();
    QTest::keyClick(w.registrationPage()->组合框2, Qt::Key_Down);
    ASSERT_EQ(w.registrationPage()->组合框2->currentText(), QStringLiteral("qiv.net"));
    QTest::mouseClick(w.registrationPage()->按钮_检查域名_注册, Qt::LeftButton);
    EXPECT_EQ(w.registrationPage()->透明标签_检查域名->text(), QStringLiteral("该域名可以注册！"));
    EXPECT_EQ(w.registrationPage()->透明标签_检查域名->textColour(), kFreeBlue);
    EXPECT_EQ(w.registrationPage()->按钮_检查域名_注册->text(), QStringLiteral("检查域名"));
    EXPECT_TRUE(w.registrationPage()->按钮_检查域名_注册->isEnabled());
    EXPECT_EQ(server_.accountCount(), 0u);
    shot(w, "check");

    // --- register ------------------------------------------------------------
    replaceText(w.registrationPage()->编辑框_密码_注册, QStringLiteral("pass1234"));
    replaceText(w.registrationPage()->编辑框_确认密码_注册, QStringLiteral("pass1234"));
    replaceText(w.registrationPage()->编辑框_主页名称_注册, QStringLiteral("旅程主页"));
    replaceText(w.registrationPage()->编辑框_转向地址_注册,
                QStringLiteral("http://203.0.113.7/journey"));
    replaceText(w.registrationPage()->编辑框_邮箱_注册, QStringLiteral("journey@example.org"));
    replaceText(w.registrationPage()->编辑框_姓名_注册, QStringLiteral("李四"));
    replaceText(w.registrationPage()->编辑框_电话_注册, QStringLiteral("010-654321"));
    replaceText(w.registrationPage()->编辑框_联系地址_注册, QStringLiteral("上海市"));
    QTest::mouseClick(w.registrationPage()->按钮_注册, Qt::LeftButton);
    ASSERT_EQ(w.选择夹1->currentIndex(), 4);
    EXPECT_EQ(
        w.resultPage()->透明标签_申请提示->text(),
        QStringLiteral("您的域名已注册成功：\r\n  http://journey.qiv.net\r\n您的转向地址是：\r\n"
                       "  http://203.0.113.7/journey\r\n您的密码：pass1234(请牢记)"));
    for (QLineEdit* box :
         {w.registrationPage()->编辑框_用户名_注册, w.registrationPage()->编辑框_密码_注册,
          w.registrationPage()->编辑框_确认密码_注册, w.registrationPage()->编辑框_主页名称_注册,
          w.registrationPage()->编辑框_转向地址_注册, w.registrationPage()->编辑框_邮箱_注册,
          w.registrationPage()->编辑框_姓名_注册, w.registrationPage()->编辑框_电话_注册,
          w.registrationPage()->编辑框_联系地址_注册})
        EXPECT_TRUE(box->text().isEmpty()) << box->objectName().toStdString();
    EXPECT_EQ(w.registrationPage()->组合框2->currentIndex(), 0);
    EXPECT_TRUE(w.registrationPage()->透明标签_检查域名->text().isEmpty());
    EXPECT_EQ(w.loginPage()->编辑框_用户名_登录->text(), QStringLiteral("journey"));
    EXPECT_EQ(w.loginPage()->组合框1->currentText(), QStringLiteral("qiv.net"));
    {
        auto stored = server_.account("journey", "qiv.net");
        ASSERT_TRUE(stored.has_value());
        EXPECT_EQ(stored->password, "pass1234");
        EXPECT_EQ(stored->title, gbk("旅程主页"));
        EXPECT_EQ(stored->sendUrl, "http://203.0.113.7/journey");
        EXPECT_FALSE(stored->hide);
        EXPECT_EQ(stored->email, "journey@example.org");
        EXPECT_EQ(stored->regName, gbk("李四"));
        EXPECT_EQ(stored->linkTel, "010-654321");
        EXPECT_EQ(stored->address, gbk("上海市"));
    }
    shot(w, "registered");

    // The name is now taken.
    QTest::mousePress(w.resultPage()->超级链接框_返回注册, Qt::LeftButton);
    QTest::mouseRelease(w.resultPage()->超级链接框_返回注册, Qt::LeftButton);
    ASSERT_EQ(w.选择夹1->currentIndex(), 1);
    replaceText(w.registrationPage()->编辑框_用户名_注册, QStringLiteral("journey"));
    w.registrationPage()->组合框2->setFocus();
    QTest::keyClick(w.registrationPage()->组合框2, Qt::Key_Down);
    QTest::mouseClick(w.registrationPage()->按钮_检查域名_注册, Qt::LeftButton);
    EXPECT_EQ(w.registrationPage()->透明标签_检查域名->text(),
              QStringLiteral("对不起,该域名已被注册！"));
    EXPECT_EQ(w.registrationPage()->透明标签_检查域名->textColour(), kRed);
    shot(w, "taken");
    QTest::mouseClick(w.registrationPage()->按钮_返回登录, Qt::LeftButton);
    ASSERT_EQ(w.选择夹1->currentIndex(), 0);

    // --- log in --------------------------------------------------------------
    EXPECT_TRUE(w.loginPage()->编辑框_密码_登录->text().isEmpty());
    replaceText(w.loginPage()->编辑框_密码_登录, QStringLiteral("pass1234"));
    QTest::mouseClick(w.loginPage()->按钮_登录, Qt::LeftButton);
    ASSERT_EQ(w.选择夹1->currentIndex(), 3);
    EXPECT_EQ(w.accountPage()->超级链接框_域名地址->linkAddress(),
              QStringLiteral("http://journey.qiv.net"));
    EXPECT_EQ(w.accountPage()->编辑框_主页名称_修改资料->text(), QStringLiteral("旅程主页"));
    EXPECT_EQ(w.accountPage()->编辑框_转向地址_修改资料->text(),
              QStringLiteral("http://203.0.113.7/journey"));
    EXPECT_FALSE(w.accountPage()->选择框2->isChecked());
    EXPECT_EQ(w.accountPage()->编辑框_邮箱_修改资料->text(), QStringLiteral("journey@example.org"));
    EXPECT_EQ(w.accountPage()->编辑框_姓名_修改资料->text(), QStringLiteral("李四"));
    EXPECT_EQ(w.accountPage()->编辑框_电话_修改资料->text(), QStringLiteral("010-654321"));
    EXPECT_EQ(w.accountPage()->编辑框_联系地址_修改资料->text(), QStringLiteral("上海市"));
    EXPECT_TRUE(w.accountPage()->编辑框_用户密码_修改资料->text().isEmpty());
    EXPECT_EQ(logLines(w), kWelcome);
    EXPECT_EQ(w.accountPage()->透明标签_公网IP->text(),
              QStringLiteral("您当前公网IP:") + QString::fromStdString(ip));
    EXPECT_EQ(w.registrationPage()->编辑框_转向地址_注册->text(), QString::fromStdString(ip));
    EXPECT_EQ(state.accountSnapshot.Title, gbk("旅程主页"));
    EXPECT_EQ(state.accountSnapshot.Address, gbk("上海市"));
    shot(w, "account");

    // --- modify --------------------------------------------------------------
    replaceText(w.accountPage()->编辑框_主页名称_修改资料, QStringLiteral("新的主页 & 标题"));
    replaceText(w.accountPage()->编辑框_邮箱_修改资料, QStringLiteral("new@example.org"));
    QTest::mouseClick(w.accountPage()->选择框2, Qt::LeftButton);
    ASSERT_TRUE(w.accountPage()->选择框2->isChecked());
    QTest::mouseClick(w.accountPage()->按钮_修改资料, Qt::LeftButton);
    EXPECT_EQ(logLines(w).mid(3), (QStringList{"正在提交修改信息......", "您的资料修改成功!",
                                               "正在刷新域名信息...", "刷新域名信息完成。"}));
    EXPECT_TRUE(w.accountPage()->按钮_修改资料->isEnabled());
    EXPECT_EQ(w.选择夹1->currentIndex(), 3);
    EXPECT_EQ(w.accountPage()->编辑框_主页名称_修改资料->text(), QStringLiteral("新的主页 & 标题"));
    EXPECT_EQ(w.accountPage()->编辑框_邮箱_修改资料->text(), QStringLiteral("new@example.org"));
    EXPECT_TRUE(w.accountPage()->选择框2->isChecked());
    EXPECT_EQ(state.accountSnapshot.Title, gbk("新的主页 & 标题"));
    {
        auto stored = server_.account("journey", "qiv.net");
        ASSERT_TRUE(stored.has_value());
        EXPECT_EQ(stored->title, gbk("新的主页 & 标题"));
        EXPECT_EQ(stored->email, "new@example.org");
        EXPECT_TRUE(stored->hide);
        EXPECT_EQ(stored->password, "pass1234"); // the empty password box keeps it
        EXPECT_EQ(stored->sendUrl, "http://203.0.113.7/journey");
        EXPECT_EQ(stored->regName, gbk("李四"));
        EXPECT_EQ(stored->address, gbk("上海市"));
    }
    shot(w, "modified");

    // --- refresh -------------------------------------------------------------
    replaceText(w.accountPage()->编辑框_联系地址_修改资料, QStringLiteral("edited, not saved"));
    QTest::mouseClick(w.accountPage()->按钮_刷新资料, Qt::LeftButton);
    EXPECT_EQ(logLines(w).mid(7), (QStringList{"正在刷新域名信息...", "刷新域名信息完成。"}));
    EXPECT_EQ(w.accountPage()->编辑框_联系地址_修改资料->text(), QStringLiteral("上海市"));
    EXPECT_EQ(w.accountPage()->编辑框_主页名称_修改资料->text(), QStringLiteral("新的主页 & 标题"));
    EXPECT_TRUE(w.accountPage()->按钮_刷新资料->isEnabled());
    EXPECT_EQ(w.选择夹1->currentIndex(), 3);
    EXPECT_EQ(server_.account("journey", "qiv.net")->address, gbk("上海市"));
    shot(w, "refreshed");

    // --- the public IP changes; qiv-follow moves the target --------------------
    const std::string ipHost = "127.0.0.2:" + std::to_string(server_.ports().ip);
    ASSERT_EQ(timedRequest(state.network, "http://" + ipHost + "/control/ip", "POST", {}, {},
                           "198.51.100.23"),
              "ok\n");
    QTemporaryDir home;
    QFile password(home.filePath(QStringLiteral("password")));
    ASSERT_TRUE(password.open(QIODevice::WriteOnly));
    // qiv-follow takes a password only from a file no one else can read.
    password.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    password.write("pass1234\n");
    password.close();
    QProcess follow;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR"})
        env.insert(QString::fromUtf8(name), home.path());
    follow.setProcessEnvironment(env);
    follow.setProcessChannelMode(QProcess::MergedChannels);
    follow.start(QStringLiteral(QIV_FOLLOW_PATH),
                 {QStringLiteral("--once"), QStringLiteral("--name"), QStringLiteral("journey"),
                  QStringLiteral("--suffix"), QStringLiteral("qiv.net"),
                  QStringLiteral("--password-file"), password.fileName(),
                  QStringLiteral("--service-host"), QString::fromStdString(state.hosts.service),
                  QStringLiteral("--ip-host"), QString::fromStdString(ipHost)});
    ASSERT_TRUE(follow.waitForFinished(60000));
    const QString said = QString::fromUtf8(follow.readAllStandardOutput());
    EXPECT_EQ(follow.exitCode(), 0) << said.toStdString();
    EXPECT_TRUE(said.contains(QStringLiteral("verified"))) << said.toStdString();
    EXPECT_EQ(server_.account("journey", "qiv.net")->sendUrl, "http://198.51.100.23/journey");
    EXPECT_EQ(server_.account("journey", "qiv.net")->title, gbk("新的主页 & 标题"));
    EXPECT_TRUE(server_.account("journey", "qiv.net")->hide);
    // The window still shows what it read; a refresh shows the new target.
    EXPECT_EQ(w.accountPage()->编辑框_转向地址_修改资料->text(),
              QStringLiteral("http://203.0.113.7/journey"));
    QTest::mouseClick(w.accountPage()->按钮_刷新资料, Qt::LeftButton);
    EXPECT_EQ(w.accountPage()->编辑框_转向地址_修改资料->text(),
              QStringLiteral("http://198.51.100.23/journey"));
    EXPECT_TRUE(w.accountPage()->选择框2->isChecked());

    // --- delete --------------------------------------------------------------
    QTest::mouseClick(w.accountPage()->按钮_删除域名, Qt::LeftButton);
    EXPECT_EQ(logLines(w).mid(11), (QStringList{"正在提交删除域名信息...", "域名成功删除。"}));
    EXPECT_EQ(w.选择夹1->currentIndex(), 0);
    EXPECT_EQ(w.loginPage()->分组框1->title(), QStringLiteral("您已成功将域名删除"));
    EXPECT_EQ(w.loginPage()->分组框1->captionColour(), kBlue);
    EXPECT_EQ(w.accountPage()->按钮_删除域名->text(), QStringLiteral("删除此域名"));
    EXPECT_TRUE(w.accountPage()->按钮_删除域名->isEnabled());
    EXPECT_FALSE(server_.account("journey", "qiv.net").has_value());
    EXPECT_EQ(server_.accountCount(), 0u);
    shot(w, "deleted");

    // --- log in again: the domain is gone --------------------------------------
    EXPECT_EQ(w.loginPage()->编辑框_密码_登录->text(), QStringLiteral("pass1234"));
    QTest::keyClick(w.loginPage()->编辑框_密码_登录, Qt::Key_Return);
    EXPECT_EQ(w.选择夹1->currentIndex(), 0);
    EXPECT_EQ(w.loginPage()->分组框1->title(), QStringLiteral("密码错误或此域名未注册"));
    EXPECT_EQ(w.loginPage()->分组框1->captionColour(), kRed);
    // The account page keeps what it showed; the log is not touched.
    EXPECT_EQ(logLines(w).size(), 13);
    EXPECT_EQ(w.accountPage()->编辑框_主页名称_修改资料->text(), QStringLiteral("新的主页 & 标题"));
    EXPECT_EQ(server_.accountCount(), 0u);
    shot(w, "login-fails");

    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_EQ(quits, 0);
}

} // namespace
} // namespace qiv::e2e

int main(int argc, char** argv)
{
    // The views get the program's browser flags: the sandbox unless root.
    qiv::prepareBrowserEngine();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
