// The account's life with the real window against qiv-devserver: login,
// the account page, modification, refresh and deletion.
#include "service_fixture.h"

#include "recording_server.h"
#include "service/delete.h"
#include "service/gbk_reader.h"
#include "service/modify.h"

#include <QTabBar>
#include <QTest>

namespace qiv::testing {
namespace {

using devserver::Fault;
using devserver::FaultKind;
using devserver::Page;

const QStringList kWelcome{"欢迎登录,免费域名转发系统", "本管理系统由岚栖开发",
                           "只为快捷使用,请勿用于非法用途"};

QStringList logLines(MainWindow& w)
{
    QStringList lines;
    for (int i = 0; i < w.accountPage()->列表框1->count(); ++i)
        lines << w.accountPage()->列表框1->item(i)->text();
    return lines;
}

class Account : public ServiceTest {
protected:
    void SetUp() override
    {
        ServiceTest::SetUp();
        startUp();
        ASSERT_TRUE(server_->addAccount(account("owner")));
        w().loginPage()->编辑框_用户名_登录->setText("owner");
        w().loginPage()->组合框1->setCurrentIndex(0);
        w().loginPage()->编辑框_密码_登录->setText("secret1");
    }

    void logInWithButton() { QTest::mouseClick(w().loginPage()->按钮_登录, Qt::LeftButton); }

    void fillRegistration(const QString& name, const QString& password)
    {
        w().registrationPage()->编辑框_用户名_注册->setText(name);
        w().registrationPage()->组合框2->setCurrentIndex(2);
        w().registrationPage()->编辑框_密码_注册->setText(password);
        w().registrationPage()->编辑框_确认密码_注册->setText(password);
        w().registrationPage()->编辑框_主页名称_注册->setText("Home");
        w().registrationPage()->编辑框_转向地址_注册->setText("http://example.org/");
        w().registrationPage()->编辑框_邮箱_注册->setText("a@example.org");
        w().registrationPage()->编辑框_姓名_注册->setText("Li");
        w().registrationPage()->编辑框_电话_注册->setText("010-1");
        w().registrationPage()->编辑框_联系地址_注册->setText("Road 1");
    }

    void expectAccountShown()
    {
        EXPECT_EQ(w().选择夹1->currentIndex(), 3);
        EXPECT_EQ(w().accountPage()->编辑框_主页名称_修改资料->text(), QStringLiteral("我的主页"));
        EXPECT_EQ(w().accountPage()->编辑框_转向地址_修改资料->text(),
                  QStringLiteral("http://example.org/home"));
        EXPECT_EQ(w().accountPage()->编辑框_邮箱_修改资料->text(),
                  QStringLiteral("me@example.org"));
        EXPECT_EQ(w().accountPage()->编辑框_姓名_修改资料->text(), QStringLiteral("张三"));
        EXPECT_EQ(w().accountPage()->编辑框_电话_修改资料->text(), QStringLiteral("010-123456"));
        EXPECT_EQ(w().accountPage()->编辑框_联系地址_修改资料->text(), QStringLiteral("北京市"));
        EXPECT_FALSE(w().accountPage()->选择框2->isChecked());
        EXPECT_EQ(w().accountPage()->超级链接框_域名地址->linkAddress(),
                  QStringLiteral("http://owner.qiv.cn"));
    }
};

TEST_F(Account, LogInWithTheButtonFillsTheAccountPage)
{
    w().accountPage()->列表框1->addItem("old line");
    logInWithButton();
    expectAccountShown();
    EXPECT_EQ(logLines(w()), kWelcome);
    const AccountSnapshot& s = state().accountSnapshot;
    EXPECT_EQ(s.Title, gbk("我的主页"));
    EXPECT_EQ(s.RegName, gbk("张三"));
    EXPECT_EQ(s.Address, gbk("北京市"));
    EXPECT_EQ(w().registrationPage()->编辑框_转向地址_注册->text().toStdString(),
              state().lastPublicIp.get());
    EXPECT_EQ(server_->lastRequest(Page::Login)->body,
              "username=owner&domainname=qiv.cn&password=secret1&Submit.x=86&Submit.y=24");
}

TEST_F(Account, RegisterThenLogInWithEnter)
{
    showPage(w(), qiv::Page::Registration);
    fillRegistration("fresh", "pass123");
    w().registrationPage()->选择框_隐藏_注册->setChecked(true);
    QTest::mouseClick(w().registrationPage()->按钮_注册, Qt::LeftButton);
    ASSERT_EQ(w().选择夹1->currentIndex(), 4);
    QTest::mousePress(w().resultPage()->超级链接框_返回登录, Qt::LeftButton);
    ASSERT_EQ(w().选择夹1->currentIndex(), 0);
    EXPECT_EQ(w().loginPage()->编辑框_用户名_登录->text(), QStringLiteral("fresh"));
    EXPECT_EQ(w().loginPage()->组合框1->currentText(), QStringLiteral("qiv.org"));

    QTest::keyClicks(w().loginPage()->编辑框_密码_登录, "pass123");
    QTest::keyClick(w().loginPage()->编辑框_密码_登录, Qt::Key_Return);
    EXPECT_EQ(w().选择夹1->currentIndex(), 3);
    EXPECT_EQ(w().accountPage()->编辑框_主页名称_修改资料->text(), QStringLiteral("Home"));
    EXPECT_TRUE(w().accountPage()->选择框2->isChecked()); // the account hides its address
    EXPECT_EQ(w().accountPage()->超级链接框_域名地址->linkAddress(),
              QStringLiteral("http://fresh.qiv.org"));
    EXPECT_EQ(logLines(w()), kWelcome);
}

TEST_F(Account, WrongPasswordGoesBackWithTheRedCaption)
{
    w().accountPage()->列表框1->addItem("kept");
    w().loginPage()->编辑框_密码_登录->setText("wrong-pw");
    logInWithButton();
    EXPECT_EQ(w().选择夹1->currentIndex(), 0);
    EXPECT_EQ(w().loginPage()->分组框1->title(), QStringLiteral("密码错误或此域名未注册"));
    EXPECT_EQ(w().loginPage()->分组框1->captionColour(), QColor(255, 0, 0));
    EXPECT_EQ(logLines(w()), QStringList{"kept"});
}

TEST_F(Account, EmptyInputsWarnAndSendNothing)
{
    ModalCatcher boxes;
    w().loginPage()->编辑框_用户名_登录->setText("   ");
    logInWithButton();
    w().loginPage()->编辑框_用户名_登录->setText("owner");
    w().loginPage()->编辑框_密码_登录->clear();
    logInWithButton();
    ASSERT_EQ(boxes.boxes().size(), 2u);
    EXPECT_EQ(boxes.boxes()[0].text, QStringLiteral("请填写完整用户名和密码"));
    EXPECT_EQ(boxes.boxes()[1].text, QStringLiteral("请填写完整用户名和密码"));
    EXPECT_EQ(server_->requestCount(Page::Login), 0u);
}

TEST_F(Account, NoConnectionWarnsAndStillLogsIn)
{
    ModalCatcher boxes;
    state().connectivityCheck = [] { return false; };
    logInWithButton();
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, QStringLiteral("请连接互联网后登录"));
    EXPECT_EQ(boxes.boxes()[0].icon, QMessageBox::Warning);
    EXPECT_EQ(w().选择夹1->currentIndex(), 3);
}

TEST_F(Account, LoginThatTimesOutIsAFailureAndLeavesTheLogAlone)
{
    w().accountPage()->列表框1->addItem("kept");
    state().network.requestLimit = std::chrono::seconds(1);
    server_->setFault(Page::Login, Fault{FaultKind::None, 3000});
    int pageDuringWait = -1;
    QTimer::singleShot(300, [&] { pageDuringWait = w().选择夹1->currentIndex(); });
    logInWithButton();
    EXPECT_EQ(pageDuringWait, 2);
    EXPECT_EQ(w().选择夹1->currentIndex(), 0);
    EXPECT_EQ(w().loginPage()->分组框1->title(), QStringLiteral("登录失败,请检查网络后重试"));
    EXPECT_EQ(w().loginPage()->分组框1->captionColour(), QColor(255, 0, 0));
    EXPECT_EQ(logLines(w()), QStringList{"kept"});
    EXPECT_TRUE(w().accountPage()->编辑框_主页名称_修改资料->text().isEmpty());
}

TEST_F(Account, ASecondLoginInsideTheWaitIsNotStarted)
{
    server_->setFault(Page::Login, Fault{FaultKind::None, 600});
    QTimer::singleShot(150, [&] {
        QTabBar* tabs = w().选择夹1->tabBar();
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(0).center());
        QTest::keyClicks(w().loginPage()->编辑框_用户名_登录, "x");
        QTest::mouseClick(w().loginPage()->按钮_登录, Qt::LeftButton);
        QTest::keyClick(w().loginPage()->编辑框_密码_登录, Qt::Key_Return);
        logIn(w(), state());
    });
    logInWithButton();
    EXPECT_EQ(server_->requestCount(Page::Login), 1u);
    expectAccountShown(); // under "owner", not "ownerx"
    EXPECT_TRUE(w().loginPage()->分组框1->isEnabled());
}

TEST_F(Account, ARegistrationInsideALoginWaitLeavesTheLoginFormAlone)
{
    server_->setFault(Page::Login, Fault{FaultKind::None, 600});
    QTimer::singleShot(100, [&] {
        showPage(w(), qiv::Page::Registration);
        fillRegistration("fresh", "pass123");
        QTest::mouseClick(w().registrationPage()->按钮_注册, Qt::LeftButton);
    });
    logInWithButton();
    expectAccountShown();
    EXPECT_TRUE(w().resultPage()->透明标签_申请提示->text().contains("http://fresh.qiv.org"));
    EXPECT_TRUE(w().resultPage()->透明标签_申请提示->text().contains("pass123"));
    EXPECT_EQ(w().loginPage()->编辑框_用户名_登录->text(), QStringLiteral("owner"));
    EXPECT_EQ(w().loginPage()->组合框1->currentIndex(), 0);
    EXPECT_EQ(w().loginPage()->编辑框_密码_登录->text(), QStringLiteral("secret1"));
    QTest::mouseClick(w().accountPage()->按钮_删除域名, Qt::LeftButton);
    EXPECT_EQ(server_->lastRequest(Page::ModifyIn)->body.rfind("username=owner&domainname=qiv.cn&"),
              0u);
    EXPECT_TRUE(server_->findAccount("fresh", "qiv.org").has_value());
}

TEST_F(Account, LoginWithTheIpHostDownShowsTheAccountAfterThreeTries)
{
    const QString ipLabel = w().accountPage()->透明标签_公网IP->text();
    state().hosts.ipLookup = "127.0.0.2:1"; // nothing listens there
    logInWithButton();
    expectAccountShown();
    EXPECT_EQ(state().ipRetries.load(), 3);
    EXPECT_EQ(w().accountPage()->透明标签_公网IP->text(), ipLabel);
}

TEST_F(Account, ServiceValuesThatAreNotGbkGoBackAsTheyCameAndOnlyTypedTextIsChecked)
{
    ModalCatcher boxes;
    devserver::Account odd = account("odd");
    odd.regName = "N\xFF";
    odd.address = "A\x81";
    ASSERT_TRUE(server_->addAccount(odd));
    w().loginPage()->编辑框_用户名_登录->setText("odd");
    logInWithButton();
    ASSERT_EQ(state().accountSnapshot.RegName, "N\xFF");
    QTest::mouseClick(w().accountPage()->按钮_修改资料, Qt::LeftButton);
    const std::string body = server_->lastRequest(Page::ModifyIn)->body;
    EXPECT_NE(body.find("&RegName=N%FF&LinkTel=010-123456&Address=A%81"), std::string::npos)
        << body;

    const std::size_t sent = server_->requestCount(Page::ModifyIn);
    w().accountPage()->编辑框_联系地址_修改资料->setText(QString::fromUtf8("A\xF0\x9F\x98\x80"));
    QTest::mouseClick(w().accountPage()->按钮_修改资料, Qt::LeftButton);
    ASSERT_FALSE(boxes.boxes().empty());
    EXPECT_EQ(boxes.boxes().back().text, QStringLiteral("输入内容含有不支持的字符,请修改后重试"));
    EXPECT_EQ(server_->requestCount(Page::ModifyIn), sent);
}

TEST_F(Account, ModificationSucceedsAndRefreshes)
{
    logInWithButton();
    w().accountPage()->编辑框_主页名称_修改资料->setText(QStringLiteral("新标题&State=1"));
    QTest::mouseClick(w().accountPage()->按钮_修改资料, Qt::LeftButton);

    EXPECT_EQ(logLines(w()).mid(3), (QStringList{"正在提交修改信息......", "您的资料修改成功!",
                                                 "正在刷新域名信息...", "刷新域名信息完成。"}));
    EXPECT_TRUE(w().accountPage()->按钮_修改资料->isEnabled());
    EXPECT_TRUE(w().accountPage()->按钮_刷新资料->isEnabled());
    auto stored = server_->findAccount("owner", "qiv.cn");
    ASSERT_TRUE(stored.has_value());
    // The title holding "&State=1" did not switch the hide flag, and the
    // empty password box kept the password.
    EXPECT_EQ(stored->title, gbk("新标题&State=1"));
    EXPECT_FALSE(stored->hide);
    EXPECT_EQ(stored->password, "secret1");
    EXPECT_EQ(w().accountPage()->编辑框_主页名称_修改资料->text(),
              QStringLiteral("新标题&State=1"));
    EXPECT_EQ(state().accountSnapshot.Title, gbk("新标题&State=1"));
    EXPECT_FALSE(w().accountPage()->选择框2->isChecked());
}

TEST_F(Account, NewPasswordThenTheRefreshWithTheLoginPagesOldOneKeepsThePage)
{
    logInWithButton();
    w().accountPage()->编辑框_用户密码_修改资料->setText("newpass1");
    w().accountPage()->选择框2->setChecked(true);
    QTest::mouseClick(w().accountPage()->按钮_修改资料, Qt::LeftButton);
    EXPECT_EQ(logLines(w()).mid(3),
              (QStringList{"正在提交修改信息......", "您的资料修改成功!", "正在刷新域名信息...",
                           "刷新域名信息失败,请稍后重试"}));
    auto stored = server_->findAccount("owner", "qiv.cn");
    EXPECT_EQ(stored->password, "newpass1");
    EXPECT_TRUE(stored->hide);
    EXPECT_EQ(w().accountPage()->编辑框_主页名称_修改资料->text(), QStringLiteral("我的主页"));
    EXPECT_EQ(state().accountSnapshot.Title, gbk("我的主页"));
    EXPECT_TRUE(w().accountPage()->按钮_修改资料->isEnabled());
    EXPECT_TRUE(w().accountPage()->按钮_刷新资料->isEnabled());
}

TEST_F(Account, ModificationTheServiceRefusesShowsItsAlert)
{
    logInWithButton();
    w().accountPage()->编辑框_邮箱_修改资料->clear();
    ModalCatcher boxes;
    QTest::mouseClick(w().accountPage()->按钮_修改资料, Qt::LeftButton);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].icon, QMessageBox::Warning);
    QString alert = boxes.boxes()[0].text;
    EXPECT_FALSE(alert.isEmpty());
    EXPECT_EQ(logLines(w()).mid(3), (QStringList{"正在提交修改信息......", alert}));
    EXPECT_TRUE(w().accountPage()->按钮_修改资料->isEnabled());
    EXPECT_EQ(server_->findAccount("owner", "qiv.cn")->email, "me@example.org");
}

TEST_F(Account, RefreshThatTimesOutKeepsTheAccount)
{
    logInWithButton();
    w().accountPage()->编辑框_用户密码_修改资料->setText("typed");
    state().network.requestLimit = std::chrono::seconds(1);
    server_->setFault(Page::Login, Fault{FaultKind::None, 3000});
    QTest::mouseClick(w().accountPage()->按钮_刷新资料, Qt::LeftButton);
    expectAccountShown();
    EXPECT_EQ(state().accountSnapshot.Title, gbk("我的主页"));
    EXPECT_EQ(w().accountPage()->编辑框_用户密码_修改资料->text(), QStringLiteral("typed"));
    EXPECT_EQ(logLines(w()).mid(3),
              (QStringList{"正在刷新域名信息...", "刷新域名信息失败,请稍后重试"}));
    EXPECT_TRUE(w().accountPage()->按钮_刷新资料->isEnabled());
}

TEST_F(Account, RefreshReloadsWhatTheServiceHolds)
{
    logInWithButton();
    w().accountPage()->编辑框_主页名称_修改资料->setText("edited, not saved");
    w().accountPage()->选择框2->setChecked(true);
    QTest::mouseClick(w().accountPage()->按钮_刷新资料, Qt::LeftButton);
    expectAccountShown();
    EXPECT_EQ(logLines(w()).mid(3), (QStringList{"正在刷新域名信息...", "刷新域名信息完成。"}));
    EXPECT_EQ(server_->lastRequest(Page::Login)->body,
              "username=owner&domainname=qiv.cn&password=secret1&Submit.x=86&Submit.y=24");
}

TEST_F(Account, DeletionSendsTheSnapshotAndGoesBackToTheLogin)
{
    logInWithButton();
    w().accountPage()->编辑框_主页名称_修改资料->setText("edited, not saved");
    QTest::mouseClick(w().accountPage()->按钮_删除域名, Qt::LeftButton);
    EXPECT_EQ(logLines(w()).mid(3), (QStringList{"正在提交删除域名信息...", "域名成功删除。"}));
    EXPECT_EQ(w().loginPage()->分组框1->title(), QStringLiteral("您已成功将域名删除"));
    EXPECT_EQ(w().loginPage()->分组框1->captionColour(), QColor(0, 0, 255));
    EXPECT_EQ(w().选择夹1->currentIndex(), 0);
    EXPECT_EQ(w().accountPage()->按钮_删除域名->text(), QStringLiteral("删除此域名"));
    EXPECT_TRUE(w().accountPage()->按钮_删除域名->isEnabled());
    EXPECT_FALSE(server_->findAccount("owner", "qiv.cn").has_value());
    // The snapshot's title went out, not the edited box.
    EXPECT_NE(server_->lastRequest(Page::ModifyIn)->body.find("&Title=%CE%D2%B5%C4%D6%F7%D2%B3&"),
              std::string::npos);

    // Logging in again fails.
    logInWithButton();
    EXPECT_EQ(w().选择夹1->currentIndex(), 0);
    EXPECT_EQ(w().loginPage()->分组框1->title(), QStringLiteral("密码错误或此域名未注册"));
}

TEST_F(Account, DeletionThatFailsOnlyLogsIt)
{
    logInWithButton();
    server_->setFault(Page::ModifyIn, Fault{FaultKind::Empty, 0});
    QTest::mouseClick(w().accountPage()->按钮_删除域名, Qt::LeftButton);
    EXPECT_EQ(logLines(w()).mid(3), (QStringList{"正在提交删除域名信息...", "域名删除失败...."}));
    EXPECT_EQ(w().选择夹1->currentIndex(), 3);
    EXPECT_EQ(w().accountPage()->按钮_删除域名->text(), QStringLiteral("删除此域名"));
    EXPECT_TRUE(w().accountPage()->按钮_删除域名->isEnabled());
    EXPECT_TRUE(server_->findAccount("owner", "qiv.cn").has_value());
}

// The exact bodies, captured by a recording server standing as the service.
class AccountBodies : public Account {
protected:
    void SetUp() override
    {
        Account::SetUp();
        logInWithButton();
        ASSERT_EQ(w().选择夹1->currentIndex(), 3);
        recorder_.setReply(test::RecordingServer::httpReply("no marker"));
        state().hosts.service = recorder_.hostPort();
    }

    std::string lastBody()
    {
        auto requests = recorder_.requests();
        return requests.empty() ? std::string() : test::RecordingServer::bodyOf(requests.back());
    }

    test::RecordingServer recorder_;
};

TEST_F(AccountBodies, Modification)
{
    ModalCatcher boxes;
    w().accountPage()->选择框2->setChecked(true);
    w().accountPage()->编辑框_用户密码_修改资料->setText("pw");
    QTest::mouseClick(w().accountPage()->按钮_修改资料, Qt::LeftButton);
    EXPECT_EQ(lastBody(), "username=owner&domainname=qiv.cn&psw=pw&Title=%CE%D2%B5%C4%D6%F7%D2%B3"
                          "&SendUrl=http%3A%2F%2Fexample.org%2Fhome&State=1"
                          "&EmailAdr=me%40example.org&RegName=%D5%C5%C8%FD&LinkTel=010-123456"
                          "&Address=%B1%B1%BE%A9%CA%D0");
    w().accountPage()->选择框2->setChecked(false);
    w().accountPage()->编辑框_用户密码_修改资料->clear();
    QTest::mouseClick(w().accountPage()->按钮_修改资料, Qt::LeftButton);
    EXPECT_EQ(lastBody(), "username=owner&domainname=qiv.cn&psw=&Title=%CE%D2%B5%C4%D6%F7%D2%B3"
                          "&SendUrl=http%3A%2F%2Fexample.org%2Fhome"
                          "&EmailAdr=me%40example.org&RegName=%D5%C5%C8%FD&LinkTel=010-123456"
                          "&Address=%B1%B1%BE%A9%CA%D0");
    EXPECT_EQ(test::RecordingServer::requestLine(recorder_.requests().back()),
              "POST /modify_in.php HTTP/1.1");
}

TEST_F(AccountBodies, RefreshAndDeletion)
{
    QTest::mouseClick(w().accountPage()->按钮_刷新资料, Qt::LeftButton);
    EXPECT_EQ(lastBody(),
              "username=owner&domainname=qiv.cn&password=secret1&Submit.x=86&Submit.y=24");

    w().loginPage()->编辑框_用户名_登录->setText("abc");
    w().loginPage()->组合框1->setCurrentIndex(2);
    AccountSnapshot& s = state().accountSnapshot;
    s = {};
    s.Title = "T";
    s.SendUrl = "U";
    QTest::mouseClick(w().accountPage()->按钮_删除域名, Qt::LeftButton);
    EXPECT_EQ(lastBody(), "username=abc&domainname=qiv.org&psw=&Title=T&SendUrl=U&EmailAdr="
                          "&RegName=&LinkTel=&Address=&delinfo=\xC9\xBE\xB3\xFD");
}

// fillAccountPage on page texts, with the real window but no request but the
// public-IP lookup.
class FillAccountPage : public ServiceTest {
protected:
    static std::string page(const std::string& title, const std::string& email,
                            const std::string& state)
    {
        return gbk("<b><br>修改资料<tr><td>主页名称:</td><td><input value=\"" + title +
                   "\" name=\"Title\"><td>转向地址:</td><input value=\"U\" name=x>"
                   "<input name=\"State\" value=\"" +
                   state + "\">是否隐藏真实URL？<td>站长EMAIL:</td><input value=\"" + email +
                   "\" name=e><td>注册人姓名:</td><input value=\"N\" readonly>"
                   "<td>联系电话:</td><input value=\"1\">必填，包括区号"
                   "<td>联系地址:</td><input value=\"A\" name=Address> "
                   "隐藏真实url后地址栏将一直显示您的域名");
    }
};

TEST_F(FillAccountPage, SecondFillClearsAFieldTheFirstFilled)
{
    server_->setIpReply(std::string("192.0.2.1"));
    w().loginPage()->编辑框_用户名_登录->setText("me");
    fillAccountPage(w(), state(), page("First", "a@b.c", "1"));
    EXPECT_EQ(w().accountPage()->编辑框_邮箱_修改资料->text(), QStringLiteral("a@b.c"));
    EXPECT_FALSE(w().accountPage()->选择框2->isChecked());
    EXPECT_EQ(w().选择夹1->currentIndex(), 3);
    EXPECT_EQ(w().accountPage()->透明标签_公网IP->text(), QStringLiteral("您当前公网IP:192.0.2.1"));

    fillAccountPage(w(), state(), page("Second", "", "0"));
    EXPECT_TRUE(w().accountPage()->编辑框_邮箱_修改资料->text().isEmpty());
    EXPECT_TRUE(state().accountSnapshot.EmailAdr.empty());
    EXPECT_EQ(state().accountSnapshot.Title, "Second");
    EXPECT_TRUE(w().accountPage()->选择框2->isChecked());
    // No suffix chosen: the link ends with ".".
    EXPECT_EQ(w().accountPage()->超级链接框_域名地址->linkAddress(), QStringLiteral("http://me."));
    // The registration target box takes the address of the last lookup.
    EXPECT_EQ(w().registrationPage()->编辑框_转向地址_注册->text(), QStringLiteral("192.0.2.1"));
}

TEST_F(FillAccountPage, WaitsForThePublicIpBeforeShowingTheAccount)
{
    server_->setIpReply(std::string(""));
    state().retryPause = std::chrono::milliseconds(300);
    int pageDuringRetry = -1;
    QTimer::singleShot(200, [&] {
        pageDuringRetry = w().选择夹1->currentIndex();
        server_->setIpReply(std::string("192.0.2.7"));
    });
    showPage(w(), qiv::Page::LoginProgress);
    fillAccountPage(w(), state(), page("T", "e", "1"));
    EXPECT_EQ(pageDuringRetry, 2);
    EXPECT_EQ(w().loginPage()->分组框1->title(), QStringLiteral("获取公网IP失败...自动重试(1)"));
    EXPECT_EQ(w().选择夹1->currentIndex(), 3);
}

} // namespace
} // namespace qiv::testing

int main(int argc, char** argv)
{
    return qiv::testing::runTests(argc, argv);
}
