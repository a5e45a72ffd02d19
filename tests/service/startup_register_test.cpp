// Start-up fetches, the availability check and the registration, with the
// real window against qiv-devserver (and a recording server where the exact
// request bytes matter).
#include "service_fixture.h"

#include "recording_server.h"
#include "service/check.h"
#include "service/gbk_reader.h"
#include "service/register.h"

#include <QTest>

namespace qiv::testing {
namespace {

using devserver::Fault;
using devserver::FaultKind;
using devserver::Page;

const QColor kBlue(0, 0, 255);
const QColor kBlack(0, 0, 0);
const QColor kRed(255, 0, 0);
const QColor kAnswerBlue(0, 136, 255);

QStringList items(const QComboBox* box)
{
    QStringList list;
    for (int i = 0; i < box->count(); ++i)
        list << box->itemText(i);
    return list;
}

using StartUp = ServiceTest;

TEST_F(StartUp, FillsSuffixesCountAndIpThenEnablesTheLoginGroup)
{
    server_->addAccount(account("alpha"));
    server_->addAccount(account("beta"));
    // Hold the first page back to see the state while it loads.
    server_->setFault(Page::ModifyHtml, Fault{FaultKind::None, 300});
    startStartupFetches(w(), state());
    ASSERT_TRUE(waitFor([this] { return !w().loginPage()->分组框1->isEnabled(); }));
    EXPECT_EQ(w().loginPage()->分组框1->title(), QStringLiteral("域名后缀下载中...请稍候"));
    EXPECT_EQ(w().loginPage()->分组框1->captionColour(), kBlue);

    ASSERT_TRUE(waitFor([this] { return w().loginPage()->分组框1->isEnabled(); }));
    EXPECT_EQ(w().loginPage()->分组框1->title(), QStringLiteral("登 录"));
    EXPECT_EQ(w().loginPage()->分组框1->captionColour(), kBlack);
    const QStringList expected{"qiv.cn", "qiv.net", "qiv.org"};
    EXPECT_EQ(items(w().loginPage()->组合框1), expected);
    EXPECT_EQ(items(w().registrationPage()->组合框2), expected);
    EXPECT_EQ(w().loginPage()->组合框1->currentIndex(), 0);
    EXPECT_EQ(w().registrationPage()->组合框2->currentIndex(), 0);
    EXPECT_EQ(w().loginPage()->透明标签_申请个数->text(), QStringLiteral("现用户申请总数:2个"));
    QString ip = w().registrationPage()->编辑框_转向地址_注册->text();
    EXPECT_TRUE(isPublicIpReply(ip.toStdString())) << ip.toStdString();
    EXPECT_EQ(w().accountPage()->透明标签_公网IP->text(), QStringLiteral("您当前公网IP:") + ip);
    EXPECT_EQ(state().lastPublicIp.get(), ip.toStdString());
    EXPECT_EQ(state().suffixRetries.load() + state().userCountRetries.load() +
                  state().ipRetries.load(),
              0);
}

TEST_F(StartUp, IpReplyKeepsItsTrailingLineBreak)
{
    server_->setIpReply(std::string("198.51.100.23\r\n"));
    startUp();
    EXPECT_EQ(w().registrationPage()->编辑框_转向地址_注册->text(),
              QStringLiteral("198.51.100.23\r\n"));
    EXPECT_EQ(w().accountPage()->透明标签_公网IP->text(),
              QStringLiteral("您当前公网IP:198.51.100.23\r\n"));
}

TEST_F(StartUp, FailedSuffixLoadsCountInBlueUntilTheFaultIsLifted)
{
    server_->setFault(Page::ModifyHtml, Fault{FaultKind::Empty, 0});
    state().retryPause = std::chrono::milliseconds(150);
    state().hostsFrom.service = "/home/u/.config/qiv-forward/hosts.conf";
    QStringList captions;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        QString t = w().loginPage()->分组框1->title();
        if (t != QStringLiteral("登 录") && (captions.isEmpty() || captions.last() != t)) {
            captions << t;
            EXPECT_EQ(w().loginPage()->分组框1->captionColour(), kBlue) << t.toStdString();
            if (t.startsWith(QStringLiteral("获取域名后缀失败"))) {
                EXPECT_FALSE(w().loginPage()->分组框1->isEnabled());
            }
        }
    });
    watch.start(1);
    startStartupFetches(w(), state());
    ASSERT_TRUE(waitFor([this] { return state().suffixRetries.load() >= 3; }));
    ASSERT_TRUE(waitFor([&] { return captions.contains("获取域名后缀失败..自动重试(3)"); }));
    EXPECT_FALSE(w().loginPage()->分组框1->isEnabled());
    // The tooltip names the host that does not answer and where it is set.
    const QString tip = w().loginPage()->分组框1->toolTip();
    EXPECT_TRUE(tip.contains(QString::fromStdString(state().hosts.service))) << tip.toStdString();
    EXPECT_TRUE(tip.contains(QStringLiteral("/home/u/.config/qiv-forward/hosts.conf")))
        << tip.toStdString();
    server_->clearFaults();
    ASSERT_TRUE(waitFor([this] { return w().loginPage()->分组框1->isEnabled(); }));
    watch.stop();

    EXPECT_TRUE(captions.contains("获取域名后缀失败..自动重试(1)"));
    EXPECT_TRUE(captions.contains("获取域名后缀失败..自动重试(2)"));
    EXPECT_EQ(w().loginPage()->分组框1->title(), QStringLiteral("登 录"));
    EXPECT_EQ(w().loginPage()->分组框1->toolTip(), QString());
    EXPECT_EQ(items(w().loginPage()->组合框1).size(), 3);
}

TEST_F(StartUp, FailingCountAndIpHostsAreGivenUpAfterThreeTriesAndTheCountGoesOnAcrossCalls)
{
    server_->setFault(Page::CountUser, Fault{FaultKind::Empty, 0});
    server_->setIpReply(std::string("<html><body>502 Bad Gateway</body></html>"));
    startUp();
    EXPECT_EQ(state().userCountRetries.load(), 3);
    EXPECT_EQ(state().ipRetries.load(), 3);
    EXPECT_EQ(server_->requestCount(Page::CountUser), 3u);
    EXPECT_EQ(server_->requestCount(Page::GetIp), 3u);
    EXPECT_EQ(w().loginPage()->透明标签_申请个数->text(), QStringLiteral("用户统计拉取中....."));
    EXPECT_EQ(w().accountPage()->透明标签_公网IP->text(), QStringLiteral("您当前公网IP:"));
    EXPECT_TRUE(state().lastPublicIp.get().empty());

    // A later lookup on the UI thread continues the same count, as bounded.
    fetchPublicIp(w(), state());
    EXPECT_EQ(state().ipRetries.load(), 6);
    EXPECT_EQ(w().loginPage()->分组框1->title(), QStringLiteral("获取公网IP失败...自动重试(6)"));
    server_->setIpReply(std::string("203.0.113.10"));
    fetchPublicIp(w(), state());
    EXPECT_EQ(state().ipRetries.load(), 6);
    EXPECT_EQ(w().registrationPage()->编辑框_转向地址_注册->text(), QStringLiteral("203.0.113.10"));
}

// Suffix bytes that are not GBK go back to the service as they came.
TEST_F(StartUp, ASuffixThatIsNotGbkIsSentAsItCame)
{
    test::RecordingServer recorder;
    recorder.setReply(test::RecordingServer::httpReply(
        "<select name=\"domainname\"><option value='q\xFF\x81.cn'>q</option></select>"));
    state().hosts.service = recorder.hostPort();
    startUp();
    w().loginPage()->编辑框_用户名_登录->setText("owner");
    w().loginPage()->编辑框_密码_登录->setText("pw");
    QTest::mouseClick(w().loginPage()->按钮_登录, Qt::LeftButton);
    showPage(w(), qiv::Page::Registration);
    w().registrationPage()->编辑框_用户名_注册->setText("abc");
    QTest::mouseClick(w().registrationPage()->按钮_检查域名_注册, Qt::LeftButton);
    QTest::mouseClick(w().registrationPage()->按钮_注册, Qt::LeftButton);
    auto requests = recorder.requests();
    ASSERT_GE(requests.size(), 3u);
    for (std::size_t i = requests.size() - 3; i < requests.size(); ++i)
        EXPECT_NE(requests[i].find("domainname=q%FF%81.cn"), std::string::npos) << requests[i];
}

class Check : public ServiceTest {
protected:
    void SetUp() override
    {
        ServiceTest::SetUp();
        startUp();
        showPage(w(), qiv::Page::Registration);
    }
};

TEST_F(Check, InputChecksSendNothing)
{
    ModalCatcher boxes;
    w().registrationPage()->编辑框_用户名_注册->clear();
    QTest::mouseClick(w().registrationPage()->按钮_检查域名_注册, Qt::LeftButton);
    w().registrationPage()->编辑框_用户名_注册->setText("a");
    QTest::mouseClick(w().registrationPage()->按钮_检查域名_注册, Qt::LeftButton);
    ASSERT_EQ(boxes.boxes().size(), 2u);
    EXPECT_EQ(boxes.boxes()[0].text, QStringLiteral("请填写注册域名完整"));
    EXPECT_EQ(boxes.boxes()[0].icon, QMessageBox::Warning);
    EXPECT_EQ(boxes.boxes()[1].text, QStringLiteral("您申请的域名长度必须大于2个字符!"));
    EXPECT_EQ(boxes.boxes()[1].icon, QMessageBox::Critical);
    EXPECT_EQ(boxes.boxes()[1].title, QStringLiteral("岚栖提示："));
    EXPECT_EQ(server_->requestCount(Page::RegCheck), 0u);

    // Two bytes are enough, and so is one Chinese character.
    w().registrationPage()->编辑框_用户名_注册->setText("ab");
    QTest::mouseClick(w().registrationPage()->按钮_检查域名_注册, Qt::LeftButton);
    w().registrationPage()->编辑框_用户名_注册->setText(QStringLiteral("中"));
    QTest::mouseClick(w().registrationPage()->按钮_检查域名_注册, Qt::LeftButton);
    EXPECT_EQ(server_->requestCount(Page::RegCheck), 2u);
    EXPECT_EQ(boxes.boxes().size(), 2u);
}

TEST_F(Check, FreeAndTakenNames)
{
    server_->addAccount(account("taken"));
    w().registrationPage()->编辑框_用户名_注册->setText("taken");
    QTest::mouseClick(w().registrationPage()->按钮_检查域名_注册, Qt::LeftButton);
    EXPECT_EQ(w().registrationPage()->透明标签_检查域名->text(),
              QStringLiteral("对不起,该域名已被注册！"));
    EXPECT_EQ(w().registrationPage()->透明标签_检查域名->textColour(), kRed);

    w().registrationPage()->编辑框_用户名_注册->setText("free-name");
    QTest::mouseClick(w().registrationPage()->按钮_检查域名_注册, Qt::LeftButton);
    EXPECT_EQ(w().registrationPage()->透明标签_检查域名->text(),
              QStringLiteral("该域名可以注册！"));
    EXPECT_EQ(w().registrationPage()->透明标签_检查域名->textColour(), kAnswerBlue);
    EXPECT_EQ(server_->lastRequest(Page::RegCheck)->target,
              "/regcheck.php?username=free-name&domainname=qiv.cn");

    // A name with a space and "&" reaches the service as one value.
    w().registrationPage()->编辑框_用户名_注册->setText("a b&c");
    QTest::mouseClick(w().registrationPage()->按钮_检查域名_注册, Qt::LeftButton);
    EXPECT_EQ(server_->lastRequest(Page::RegCheck)->target,
              "/regcheck.php?username=a%20b%26c&domainname=qiv.cn");
}

TEST_F(Check, TimeOutGivesTheRedTextAndRestoresTheButton)
{
    state().network.requestLimit = std::chrono::seconds(1);
    server_->setFault(Page::RegCheck, Fault{FaultKind::None, 3000});
    w().registrationPage()->编辑框_用户名_注册->setText("free-name");
    bool sawBusy = false;
    QTimer::singleShot(300, [&] {
        sawBusy = !w().registrationPage()->按钮_检查域名_注册->isEnabled() &&
                  w().registrationPage()->按钮_检查域名_注册->text() == QStringLiteral("查询中");
    });
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(w().registrationPage()->按钮_检查域名_注册, Qt::LeftButton);
    EXPECT_LT(clock.elapsed(), 2900);
    EXPECT_TRUE(sawBusy);
    EXPECT_EQ(w().registrationPage()->透明标签_检查域名->text(),
              QStringLiteral("对不起,该域名已被注册！"));
    EXPECT_TRUE(w().registrationPage()->按钮_检查域名_注册->isEnabled());
    EXPECT_EQ(w().registrationPage()->按钮_检查域名_注册->text(), QStringLiteral("检查域名"));
}

TEST_F(Check, UnsupportedCharacterSendsNothing)
{
    ModalCatcher boxes;
    w().registrationPage()->编辑框_用户名_注册->setText(QString::fromUtf8("ab\xF0\x9F\x98\x80"));
    QTest::mouseClick(w().registrationPage()->按钮_检查域名_注册, Qt::LeftButton);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, QStringLiteral("输入内容含有不支持的字符,请修改后重试"));
    EXPECT_EQ(boxes.boxes()[0].icon, QMessageBox::Critical);
    EXPECT_EQ(server_->requestCount(Page::RegCheck), 0u);
}

class Registration : public ServiceTest {
protected:
    void SetUp() override
    {
        ServiceTest::SetUp();
        startUp();
        showPage(w(), qiv::Page::Registration);
    }

    void fill(const QString& name, const QString& password = "secret1")
    {
        w().registrationPage()->编辑框_用户名_注册->setText(name);
        w().registrationPage()->组合框2->setCurrentIndex(1);
        w().registrationPage()->编辑框_密码_注册->setText(password);
        w().registrationPage()->编辑框_确认密码_注册->setText(password);
        w().registrationPage()->编辑框_主页名称_注册->setText(QStringLiteral("主页"));
        w().registrationPage()->编辑框_转向地址_注册->setText("http://example.org/");
        w().registrationPage()->编辑框_邮箱_注册->setText("me@example.org");
        w().registrationPage()->编辑框_姓名_注册->setText(QStringLiteral("李四"));
        w().registrationPage()->编辑框_电话_注册->setText("010-123456");
        w().registrationPage()->编辑框_联系地址_注册->setText(QStringLiteral("上海"));
    }
};

TEST_F(Registration, RequestBodyBytesWithAndWithoutTheHideBox)
{
    test::RecordingServer recorder;
    recorder.setReply(test::RecordingServer::httpReply("nothing"));
    state().hosts.service = recorder.hostPort();
    fill("abc", "pw1");
    QTest::mouseClick(w().registrationPage()->按钮_注册, Qt::LeftButton);
    w().registrationPage()->选择框_隐藏_注册->setChecked(true);
    QTest::mouseClick(w().registrationPage()->按钮_注册, Qt::LeftButton);
    ASSERT_TRUE(recorder.waitForRequests(2, std::chrono::seconds(5)));

    const std::string head = "username=abc&domainname=qiv.net&Password=pw1&rePassword=pw1"
                             "&Title=%D6%F7%D2%B3&SendUrl=http%3A%2F%2Fexample.org%2F";
    const std::string tail = "&EmailAdr=me%40example.org&RegName=%C0%EE%CB%C4"
                             "&LinkTel=010-123456&Address=%C9%CF%BA%A3";
    auto requests = recorder.requests();
    EXPECT_EQ(test::RecordingServer::requestLine(requests[0]), "POST /reg.php HTTP/1.1");
    EXPECT_EQ(test::RecordingServer::bodyOf(requests[0]), head + tail);
    EXPECT_EQ(test::RecordingServer::bodyOf(requests[1]), head + "&State=1" + tail);
}

TEST_F(Registration, SuccessShowsTheResultAndPreparesTheLogin)
{
    w().registrationPage()->透明标签_检查域名->setText("x");
    w().loginPage()->编辑框_密码_登录->setText("old");
    w().registrationPage()->选择框_隐藏_注册->setChecked(true);
    fill("newname", "a&b=c1");
    QTest::mouseClick(w().registrationPage()->按钮_注册, Qt::LeftButton);

    EXPECT_EQ(w().选择夹1->currentIndex(), 4);
    EXPECT_EQ(
        w().resultPage()->透明标签_申请提示->text(),
        QStringLiteral("您的域名已注册成功：\r\n  http://newname.qiv.net\r\n您的转向地址是：\r\n"
                       "  http://example.org/\r\n您的密码：a&b=c1(请牢记)"));
    EXPECT_EQ(w().loginPage()->编辑框_用户名_登录->text(), QStringLiteral("newname"));
    EXPECT_EQ(w().loginPage()->组合框1->currentIndex(), 1);
    EXPECT_TRUE(w().loginPage()->编辑框_密码_登录->text().isEmpty());
    for (QLineEdit* box :
         {w().registrationPage()->编辑框_用户名_注册, w().registrationPage()->编辑框_密码_注册,
          w().registrationPage()->编辑框_确认密码_注册,
          w().registrationPage()->编辑框_主页名称_注册,
          w().registrationPage()->编辑框_转向地址_注册, w().registrationPage()->编辑框_邮箱_注册,
          w().registrationPage()->编辑框_姓名_注册, w().registrationPage()->编辑框_电话_注册,
          w().registrationPage()->编辑框_联系地址_注册})
        EXPECT_TRUE(box->text().isEmpty()) << box->objectName().toStdString();
    EXPECT_EQ(w().registrationPage()->组合框2->currentIndex(), 0);
    EXPECT_FALSE(w().registrationPage()->选择框_隐藏_注册->isChecked());
    EXPECT_TRUE(w().registrationPage()->透明标签_检查域名->text().isEmpty());
    EXPECT_TRUE(w().registrationPage()->按钮_注册->isEnabled());

    // The password with "&" and "=" arrived whole, and so did the hide flag.
    auto stored = server_->findAccount("newname", "qiv.net");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->password, "a&b=c1");
    EXPECT_EQ(stored->title, gbk("主页"));
    EXPECT_TRUE(stored->hide);
}

TEST_F(Registration, FailureListsTheReasonsInOrderAndKeepsTheForm)
{
    fill("ab", "pw"); // too short a name, too short a password
    QTest::mouseClick(w().registrationPage()->按钮_注册, Qt::LeftButton);
    EXPECT_EQ(w().选择夹1->currentIndex(), 4);
    QString text = w().resultPage()->透明标签_申请提示->text();
    EXPECT_TRUE(text.startsWith(QStringLiteral("申请域名失败......\r\n\r\n* ")))
        << text.toStdString();
    EXPECT_EQ(text.count(QStringLiteral("\r\n* ")), 2) << text.toStdString();
    EXPECT_EQ(w().registrationPage()->编辑框_用户名_注册->text(), QStringLiteral("ab"));
    EXPECT_EQ(w().registrationPage()->编辑框_密码_注册->text(), QStringLiteral("pw"));
    EXPECT_EQ(server_->accountCount(), 0u);
}

TEST_F(Registration, EmptyReplyGivesTheBareHeading)
{
    server_->setFault(Page::Reg, Fault{FaultKind::Empty, 0});
    fill("abcdef");
    QTest::mouseClick(w().registrationPage()->按钮_注册, Qt::LeftButton);
    EXPECT_EQ(w().resultPage()->透明标签_申请提示->text(),
              QStringLiteral("申请域名失败......\r\n"));
    EXPECT_EQ(w().registrationPage()->编辑框_用户名_注册->text(), QStringLiteral("abcdef"));
    EXPECT_TRUE(w().registrationPage()->按钮_注册->isEnabled());
}

TEST_F(Registration, ACheckDuringTheRegistrationGetsItsOwnReply)
{
    server_->setFault(Page::Reg, Fault{FaultKind::None, 600});
    fill("overlap");
    QString checkAnswer;
    QTimer::singleShot(100, [&] {
        EXPECT_FALSE(w().registrationPage()->按钮_注册->isEnabled());
        // Runs inside the registration's wait, with a reply of its own.
        w().registrationPage()->编辑框_用户名_注册->setText("other-name");
        checkAvailability(w(), state());
        checkAnswer = w().registrationPage()->透明标签_检查域名->text();
        w().registrationPage()->编辑框_用户名_注册->setText("overlap");
    });
    QTest::mouseClick(w().registrationPage()->按钮_注册, Qt::LeftButton);
    EXPECT_EQ(checkAnswer, QStringLiteral("该域名可以注册！"));
    EXPECT_EQ(w().resultPage()->透明标签_申请提示->text().left(10),
              QStringLiteral("您的域名已注册成功："));
    EXPECT_TRUE(server_->findAccount("overlap", "qiv.net").has_value());
    EXPECT_EQ(server_->lastRequest(devserver::Page::RegCheck)->target,
              "/regcheck.php?username=other-name&domainname=qiv.net");
}

} // namespace
} // namespace qiv::testing

int main(int argc, char** argv)
{
    return qiv::testing::runTests(argc, argv);
}
