// Every operation of the window against every fault switch of the service:
// the outcome it shows, a window that answers input while it waits, and
// account data (on screen, in the snapshot, at the service) that a failure
// never empties. One table of (fault, operation, outcome, service) rows.
#include "../service/service_fixture.h"

#include "service/gbk_reader.h"

#include <QKeyEvent>
#include <QLineEdit>

namespace qiv::testing {
namespace {

using devserver::Fault;
using devserver::FaultKind;
using devserver::Page;

enum class Op { Suffixes, UserCount, PublicIp, Check, Register, Login, Modify, Refresh, Delete };
// What the window shows: the operation's success or its failure.
enum class Shows { Success, Failure };
// What the service holds when the operation has returned: the page's work
// done (the fault only damaged the reply) or nothing changed.
enum class Service { Done, Unchanged };

struct Row {
    const char* name;
    Fault fault;
    Op op;
    Shows shows;
    Service service;
};

// Each kind comes after a short delay, so that the window has a wait in
// which to prove it answers; the plain delay outlasts the request limit.
constexpr int kShortDelayMs = 600;
constexpr int kPastLimitMs = 2500;
constexpr auto kShortLimit = std::chrono::seconds(1);
constexpr auto kLongLimit = std::chrono::seconds(20);

Fault after(FaultKind kind)
{
    return Fault{kind, kShortDelayMs};
}
const Fault kDelay{FaultKind::None, kPastLimitMs};
const Fault kEmpty = after(FaultKind::Empty);
const Fault kDrop = after(FaultKind::Drop);
const Fault kNoMarker = after(FaultKind::NoMarker);
const Fault kLongHeaders = after(FaultKind::LongHeaders);
const Fault kZeroByte = after(FaultKind::ZeroByte);
const Fault kHuge = after(FaultKind::Huge);
const Fault kTruncated = after(FaultKind::Truncated);
const Fault kBadGbk = after(FaultKind::BadGbk);
const Fault kEndless = after(FaultKind::Endless);
const Fault kFlood = after(FaultKind::Flood);
const Fault kMarkup = after(FaultKind::Markup);

constexpr Shows S = Shows::Success;
constexpr Shows F = Shows::Failure;
constexpr Service Done = Service::Done;
constexpr Service Same = Service::Unchanged;

// clang-format off
const Row kRows[] = {
    // The start-up fetches retry until the fault is lifted; a damaged reply
    // that still holds what the cut needs is a success, one over the reply
    // bound (Huge) is none. The IP must be one address and nothing else.
    {"Suffixes_Delay",       kDelay,       Op::Suffixes,  F, Same},
    {"Suffixes_Empty",       kEmpty,       Op::Suffixes,  F, Same},
    {"Suffixes_Drop",        kDrop,        Op::Suffixes,  F, Same},
    {"Suffixes_NoMarker",    kNoMarker,    Op::Suffixes,  F, Same},
    {"Suffixes_LongHeaders", kLongHeaders, Op::Suffixes,  S, Same},
    {"Suffixes_ZeroByte",    kZeroByte,    Op::Suffixes,  F, Same},
    {"Suffixes_Huge",        kHuge,        Op::Suffixes,  F, Same},
    {"Suffixes_Truncated",   kTruncated,   Op::Suffixes,  F, Same},
    {"Suffixes_BadGbk",      kBadGbk,      Op::Suffixes,  S, Same},
    {"Suffixes_Endless",     kEndless,     Op::Suffixes,  F, Same},
    // 200 000 options are more bytes than a reply may have.
    {"Suffixes_Flood",       kFlood,       Op::Suffixes,  F, Same},
    {"UserCount_Delay",      kDelay,       Op::UserCount, F, Same},
    {"UserCount_Empty",      kEmpty,       Op::UserCount, F, Same},
    {"UserCount_Drop",       kDrop,        Op::UserCount, F, Same},
    {"UserCount_NoMarker",   kNoMarker,    Op::UserCount, F, Same},
    {"UserCount_LongHeaders",kLongHeaders, Op::UserCount, S, Same},
    {"UserCount_ZeroByte",   kZeroByte,    Op::UserCount, F, Same},
    {"UserCount_Huge",       kHuge,        Op::UserCount, F, Same},
    {"UserCount_Truncated",  kTruncated,   Op::UserCount, F, Same},
    {"UserCount_BadGbk",     kBadGbk,      Op::UserCount, S, Same},
    {"UserCount_Flood",      kFlood,       Op::UserCount, S, Same},
    {"UserCount_Markup",     kMarkup,      Op::UserCount, S, Same},
    {"PublicIp_Delay",       kDelay,       Op::PublicIp,  F, Same},
    {"PublicIp_Empty",       kEmpty,       Op::PublicIp,  F, Same},
    {"PublicIp_Drop",        kDrop,        Op::PublicIp,  F, Same},
    {"PublicIp_NoMarker",    kNoMarker,    Op::PublicIp,  F, Same},
    {"PublicIp_LongHeaders", kLongHeaders, Op::PublicIp,  S, Same},
    {"PublicIp_ZeroByte",    kZeroByte,    Op::PublicIp,  F, Same},
    {"PublicIp_Huge",        kHuge,        Op::PublicIp,  F, Same},
    {"PublicIp_Truncated",   kTruncated,   Op::PublicIp,  F, Same},
    {"PublicIp_BadGbk",      kBadGbk,      Op::PublicIp,  F, Same},

    {"Check_Delay",          kDelay,       Op::Check,     F, Same},
    {"Check_Empty",          kEmpty,       Op::Check,     F, Same},
    {"Check_Drop",           kDrop,        Op::Check,     F, Same},
    {"Check_NoMarker",       kNoMarker,    Op::Check,     F, Same},
    {"Check_LongHeaders",    kLongHeaders, Op::Check,     S, Same},
    {"Check_ZeroByte",       kZeroByte,    Op::Check,     F, Same},
    {"Check_Huge",           kHuge,        Op::Check,     F, Same},
    {"Check_Truncated",      kTruncated,   Op::Check,     F, Same},
    {"Check_BadGbk",         kBadGbk,      Op::Check,     S, Same},
    {"Check_Markup",         kMarkup,      Op::Check,     S, Same},

    // ZeroByte, Huge and Truncated damage only the reply: the service
    // registered, modified or deleted, and the window, which cannot see the
    // marker, reports a failure.
    {"Register_Delay",       kDelay,       Op::Register,  F, Same},
    {"Register_Empty",       kEmpty,       Op::Register,  F, Same},
    {"Register_Drop",        kDrop,        Op::Register,  F, Same},
    {"Register_NoMarker",    kNoMarker,    Op::Register,  F, Same},
    {"Register_LongHeaders", kLongHeaders, Op::Register,  S, Done},
    {"Register_ZeroByte",    kZeroByte,    Op::Register,  F, Done},
    {"Register_Huge",        kHuge,        Op::Register,  F, Done},
    {"Register_Truncated",   kTruncated,   Op::Register,  F, Done},
    {"Register_BadGbk",      kBadGbk,      Op::Register,  S, Done},
    // Flood and Markup: a form the service refuses, to see its reasons.
    {"Register_Flood",       kFlood,       Op::Register,  F, Same},
    {"Register_Markup",      kMarkup,      Op::Register,  F, Same},

    {"Login_Delay",          kDelay,       Op::Login,     F, Same},
    {"Login_Empty",          kEmpty,       Op::Login,     F, Same},
    {"Login_Drop",           kDrop,        Op::Login,     F, Same},
    {"Login_NoMarker",       kNoMarker,    Op::Login,     F, Same},
    {"Login_LongHeaders",    kLongHeaders, Op::Login,     S, Same},
    {"Login_ZeroByte",       kZeroByte,    Op::Login,     F, Same},
    {"Login_Huge",           kHuge,        Op::Login,     F, Same},
    {"Login_Truncated",      kTruncated,   Op::Login,     F, Same},
    {"Login_BadGbk",         kBadGbk,      Op::Login,     S, Same},
    {"Login_Endless",        kEndless,     Op::Login,     F, Same},
    {"Login_Markup",         kMarkup,      Op::Login,     S, Same},

    {"Modify_Delay",         kDelay,       Op::Modify,    F, Same},
    {"Modify_Empty",         kEmpty,       Op::Modify,    F, Same},
    {"Modify_Drop",          kDrop,        Op::Modify,    F, Same},
    {"Modify_NoMarker",      kNoMarker,    Op::Modify,    F, Same},
    {"Modify_LongHeaders",   kLongHeaders, Op::Modify,    S, Done},
    {"Modify_ZeroByte",      kZeroByte,    Op::Modify,    F, Done},
    {"Modify_Huge",          kHuge,        Op::Modify,    F, Done},
    {"Modify_Truncated",     kTruncated,   Op::Modify,    F, Done},
    {"Modify_BadGbk",        kBadGbk,      Op::Modify,    S, Done},
    // Flood and Markup: a change the service refuses, to see its alert.
    {"Modify_Flood",         kFlood,       Op::Modify,    F, Same},
    {"Modify_Markup",        kMarkup,      Op::Modify,    F, Same},

    {"Refresh_Delay",        kDelay,       Op::Refresh,   F, Same},
    {"Refresh_Empty",        kEmpty,       Op::Refresh,   F, Same},
    {"Refresh_Drop",         kDrop,        Op::Refresh,   F, Same},
    {"Refresh_NoMarker",     kNoMarker,    Op::Refresh,   F, Same},
    {"Refresh_LongHeaders",  kLongHeaders, Op::Refresh,   S, Same},
    {"Refresh_ZeroByte",     kZeroByte,    Op::Refresh,   F, Same},
    {"Refresh_Huge",         kHuge,        Op::Refresh,   F, Same},
    {"Refresh_Truncated",    kTruncated,   Op::Refresh,   F, Same},
    {"Refresh_BadGbk",       kBadGbk,      Op::Refresh,   S, Same},

    {"Delete_Delay",         kDelay,       Op::Delete,    F, Same},
    {"Delete_Empty",         kEmpty,       Op::Delete,    F, Same},
    {"Delete_Drop",          kDrop,        Op::Delete,    F, Same},
    {"Delete_NoMarker",      kNoMarker,    Op::Delete,    F, Same},
    {"Delete_LongHeaders",   kLongHeaders, Op::Delete,    S, Done},
    {"Delete_ZeroByte",      kZeroByte,    Op::Delete,    F, Done},
    {"Delete_Huge",          kHuge,        Op::Delete,    F, Done},
    {"Delete_Truncated",     kTruncated,   Op::Delete,    F, Done},
    {"Delete_BadGbk",        kBadGbk,      Op::Delete,    S, Done},
};
// clang-format on

Page pageOf(Op op)
{
    switch (op) {
    case Op::Suffixes:
        return Page::ModifyHtml;
    case Op::UserCount:
        return Page::CountUser;
    case Op::PublicIp:
        return Page::GetIp;
    case Op::Check:
        return Page::RegCheck;
    case Op::Register:
        return Page::Reg;
    case Op::Login:
    case Op::Refresh:
        return Page::Login;
    case Op::Modify:
    case Op::Delete:
        return Page::ModifyIn;
    }
    return Page::Ads;
}

// A text as the window shows it when the service replaced it: Flood's
// nines up to the bound, Markup's ASCII as it is.
QString shown(const Row& row, const QString& normal, std::string_view markup)
{
    return row.fault == kFlood    ? QString(static_cast<qsizetype>(kMaxShownBytes), u'9')
           : row.fault == kMarkup ? QString::fromLatin1(markup.data(), std::ssize(markup))
                                  : normal;
}

bool isStartUp(Op op)
{
    return op == Op::Suffixes || op == Op::UserCount || op == Op::PublicIp;
}

QStringList logLines(MainWindow& w)
{
    QStringList lines;
    for (int i = 0; i < w.accountPage()->列表框1->count(); ++i)
        lines << w.accountPage()->列表框1->item(i)->text();
    return lines;
}

const QStringList kWelcome{"欢迎登录,免费域名转发系统", "本管理系统由岚栖开发",
                           "只为快捷使用,请勿用于非法用途"};
const QColor kRed(255, 0, 0);
const QColor kBlue(0, 0, 255);
const QColor kBlack(0, 0, 0);

// The six account boxes as the screen shows them.
struct Boxes {
    QString title, sendUrl, email, regName, linkTel, address;
    bool operator==(const Boxes&) const = default;
};

Boxes boxesOf(MainWindow& w)
{
    return {w.accountPage()->编辑框_主页名称_修改资料->text(),
            w.accountPage()->编辑框_转向地址_修改资料->text(),
            w.accountPage()->编辑框_邮箱_修改资料->text(),
            w.accountPage()->编辑框_姓名_修改资料->text(),
            w.accountPage()->编辑框_电话_修改资料->text(),
            w.accountPage()->编辑框_联系地址_修改资料->text()};
}

bool sameSnapshot(const AccountSnapshot& a, const AccountSnapshot& b)
{
    return a.Title == b.Title && a.SendUrl == b.SendUrl && a.EmailAdr == b.EmailAdr &&
           a.RegName == b.RegName && a.LinkTel == b.LinkTel && a.Address == b.Address;
}

class BadServer : public ServiceTest, public ::testing::WithParamInterface<Row> {
protected:
    void SetUp() override
    {
        ServiceTest::SetUp();
        probe_ = new QLineEdit(window_.get());
        probe_->setObjectName(QStringLiteral("probe"));
        probe_->setGeometry(0, 0, 40, 12);
        probe_->show();
    }

    // Arms two timers that fire while the operation waits: the first posts
    // a key to the probe box, the second sees whether it arrived. Posted
    // events and timers are only handled by a running event loop.
    void watchTheWait()
    {
        QTimer::singleShot(80, probe_, [this] {
            firstWhileRunning_ = running_;
            QCoreApplication::postEvent(probe_, new QKeyEvent(QEvent::KeyPress, Qt::Key_Q,
                                                              Qt::NoModifier, QStringLiteral("q")));
        });
        QTimer::singleShot(200, probe_, [this] {
            secondWhileRunning_ = running_;
            keyArrived_ = probe_->text() == QStringLiteral("q");
        });
    }

    void expectAnsweredDuringTheWait()
    {
        EXPECT_TRUE(firstWhileRunning_) << "no timer ran while the operation waited";
        EXPECT_TRUE(secondWhileRunning_) << "no timer ran while the operation waited";
        EXPECT_TRUE(keyArrived_) << "a key typed during the wait did not arrive";
    }

    // Clicks the operation's button. While the operation waits, the user
    // cannot click it again (disabled, or on a page not shown); were it
    // reachable, the second click is made, and exactly one request must
    // still have gone out.
    void click(QAbstractButton* button, Page page)
    {
        const std::size_t before = server_->requestCount(page);
        watchTheWait();
        QTimer::singleShot(120, button, [this, button] {
            accountButtonsHeld_ = !w().accountPage()->按钮_修改资料->isEnabled() &&
                                  !w().accountPage()->按钮_刷新资料->isEnabled() &&
                                  !w().accountPage()->按钮_删除域名->isEnabled();
            buttonReachableDuringWait_ = button->isEnabled() && button->isVisible();
            if (buttonReachableDuringWait_)
                QTest::mouseClick(button, Qt::LeftButton);
        });
        running_ = true;
        QTest::mouseClick(button, Qt::LeftButton);
        running_ = false;
        EXPECT_FALSE(buttonReachableDuringWait_) << "the button took clicks during its operation";
        EXPECT_EQ(server_->requestCount(page), before + 1) << "not exactly one request was sent";
    }

    // During an account operation's wait no other one can be started, and
    // afterwards every account button is back.
    void expectAccountButtonsHeldThenFreed()
    {
        EXPECT_TRUE(accountButtonsHeld_) << "an account button took clicks during the wait";
        for (QPushButton* b : {w().accountPage()->按钮_修改资料, w().accountPage()->按钮_刷新资料,
                               w().accountPage()->按钮_删除域名})
            EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();
    }

    void applyFault(const Row& row)
    {
        // An endless body ends at the reply bound, or else at the limit.
        state().network.requestLimit =
            row.fault == kDelay || row.fault == kEndless ? kShortLimit : kLongLimit;
        server_->setFault(pageOf(row.op), row.fault);
    }

    void logInFirst()
    {
        startUp();
        ASSERT_TRUE(server_->addAccount(account("owner")));
        w().loginPage()->编辑框_用户名_登录->setText("owner");
        w().loginPage()->组合框1->setCurrentIndex(0);
        w().loginPage()->编辑框_密码_登录->setText("secret1");
        QTest::mouseClick(w().loginPage()->按钮_登录, Qt::LeftButton);
        ASSERT_EQ(w().选择夹1->currentIndex(), 3);
        original_ = boxesOf(w());
        originalSnapshot_ = state().accountSnapshot;
        ASSERT_EQ(original_.title, QStringLiteral("我的主页"));
    }

    void expectAccountKept()
    {
        EXPECT_TRUE(boxesOf(w()) == original_) << "the account boxes changed";
        EXPECT_TRUE(sameSnapshot(state().accountSnapshot, originalSnapshot_))
            << "the snapshot changed";
    }

    void runStartUp(const Row& row);
    void runCheck(const Row& row);
    void runRegister(const Row& row);
    void runLogin(const Row& row);
    void runModify(const Row& row);
    void runRefresh(const Row& row);
    void runDelete(const Row& row);

    QLineEdit* probe_ = nullptr;
    bool running_ = false;
    bool firstWhileRunning_ = false;
    bool secondWhileRunning_ = false;
    bool keyArrived_ = false;
    bool buttonReachableDuringWait_ = true;
    bool accountButtonsHeld_ = false;
    Boxes original_;
    AccountSnapshot originalSnapshot_;
};

void BadServer::runStartUp(const Row& row)
{
    applyFault(row);
    watchTheWait();
    running_ = true;
    startStartupFetches(w(), state());
    const QString prefix = row.op == Op::Suffixes ? QStringLiteral("获取域名后缀失败..自动重试(")
                           : row.op == Op::UserCount
                               ? QStringLiteral("获取申请人数失败...自动重试(")
                               : QStringLiteral("获取公网IP失败...自动重试(");
    // The user count and the IP are given up after three failed tries; the
    // suffix list is retried until the fault is lifted.
    const bool givenUp = row.shows == Shows::Failure && row.op != Op::Suffixes;
    // The group is enabled before the sequence starts; the IP comes last,
    // and the group is enabled after it.
    auto complete = [this, givenUp] {
        return (givenUp || !state().lastPublicIp.get().empty()) &&
               w().loginPage()->组合框1->count() > 0 && w().loginPage()->分组框1->isEnabled() &&
               w().loginPage()->分组框1->title() == QStringLiteral("登 录");
    };
    if (row.shows == Shows::Failure) {
        // The caption counts the tries: "(1)", "(2)", ...
        ASSERT_TRUE(
            waitFor([&] { return w().loginPage()->分组框1->title().startsWith(prefix); }, 30000))
            << w().loginPage()->分组框1->title().toStdString();
        QString count = w().loginPage()->分组框1->title().mid(prefix.size());
        EXPECT_TRUE(count.endsWith(u')') && count.chopped(1).toInt() >= 1) << count.toStdString();
        EXPECT_EQ(w().loginPage()->分组框1->captionColour(), kBlue);
        EXPECT_FALSE(w().loginPage()->分组框1->isEnabled());
        ASSERT_TRUE(waitFor([this] { return keyArrived_; }, 5000));
        // Still retrying: lift the fault and the sequence completes.
        if (!givenUp) {
            EXPECT_FALSE(complete());
            server_->clearFaults();
        }
    }
    ASSERT_TRUE(waitFor(complete, 60000)) << w().loginPage()->分组框1->title().toStdString();
    running_ = false;
    EXPECT_TRUE(firstWhileRunning_);
    EXPECT_TRUE(keyArrived_);
    EXPECT_EQ(w().loginPage()->分组框1->captionColour(), kBlack);

    const int retries = row.op == Op::Suffixes    ? state().suffixRetries.load()
                        : row.op == Op::UserCount ? state().userCountRetries.load()
                                                  : state().ipRetries.load();
    if (givenUp) {
        EXPECT_EQ(retries, 3);
    } else if (row.shows == Shows::Failure) {
        EXPECT_GE(retries, 1);
    } else {
        EXPECT_EQ(retries, 0);
    }
    EXPECT_EQ(state().suffixRetries.load() + state().userCountRetries.load() +
                  state().ipRetries.load(),
              retries);

    ASSERT_EQ(w().loginPage()->组合框1->count(), 3);
    EXPECT_EQ(w().loginPage()->组合框1->itemText(0), QStringLiteral("qiv.cn"));
    EXPECT_EQ(w().registrationPage()->组合框2->itemText(2), QStringLiteral("qiv.org"));
    EXPECT_EQ(w().loginPage()->组合框1->currentIndex(), 0);
    EXPECT_EQ(w().loginPage()->透明标签_申请个数->textFormat(), Qt::PlainText);
    if (givenUp && row.op == Op::UserCount) {
        EXPECT_EQ(w().loginPage()->透明标签_申请个数->text(),
                  QStringLiteral("用户统计拉取中....."));
    } else if (row.op == Op::UserCount && row.fault == kBadGbk) {
        // The invalid bytes stand between the markers and are shown as such.
        EXPECT_EQ(w().loginPage()->透明标签_申请个数->text(), QStringLiteral("现用户申请总数:") +
                                                                  fromGbk("\x81\xFF"
                                                                          "0\xFF") +
                                                                  QStringLiteral("个"));
    } else {
        const QString count =
            row.op == Op::UserCount ? shown(row, "0", devserver::kMarkupCount) : "0";
        EXPECT_EQ(w().loginPage()->透明标签_申请个数->text(), "现用户申请总数:" + count + "个");
    }
    if (givenUp && row.op == Op::PublicIp) {
        EXPECT_EQ(w().accountPage()->透明标签_公网IP->text(), QStringLiteral("您当前公网IP:"));
        return;
    }
    EXPECT_TRUE(isPublicIpReply(state().lastPublicIp.get()));
    EXPECT_EQ(w().accountPage()->透明标签_公网IP->text(),
              QStringLiteral("您当前公网IP:") + QString::fromStdString(state().lastPublicIp.get()));
    EXPECT_EQ(w().registrationPage()->编辑框_转向地址_注册->text(),
              QString::fromStdString(state().lastPublicIp.get()));
}

void BadServer::runCheck(const Row& row)
{
    startUp();
    showPage(w(), qiv::Page::Registration);
    w().registrationPage()->编辑框_用户名_注册->setText("fresh");
    applyFault(row);
    QString captionDuringWait;
    QTimer::singleShot(
        100, [&] { captionDuringWait = w().registrationPage()->按钮_检查域名_注册->text(); });
    click(w().registrationPage()->按钮_检查域名_注册, Page::RegCheck);
    expectAnsweredDuringTheWait();
    EXPECT_EQ(captionDuringWait, QStringLiteral("查询中"));
    if (row.shows == Shows::Success) {
        EXPECT_EQ(w().registrationPage()->透明标签_检查域名->text(),
                  QStringLiteral("该域名可以注册！"));
        EXPECT_EQ(w().registrationPage()->透明标签_检查域名->textColour(), QColor(0, 136, 255));
    } else {
        EXPECT_EQ(w().registrationPage()->透明标签_检查域名->text(),
                  QStringLiteral("对不起,该域名已被注册！"));
        EXPECT_EQ(w().registrationPage()->透明标签_检查域名->textColour(), kRed);
    }
    EXPECT_EQ(w().registrationPage()->透明标签_检查域名->textFormat(), Qt::PlainText);
    EXPECT_EQ(w().registrationPage()->按钮_检查域名_注册->text(), QStringLiteral("检查域名"));
    EXPECT_TRUE(w().registrationPage()->按钮_检查域名_注册->isEnabled());
    EXPECT_EQ(w().registrationPage()->编辑框_用户名_注册->text(), QStringLiteral("fresh"));
    EXPECT_EQ(server_->accountCount(), 0u);
}

void BadServer::runRegister(const Row& row)
{
    startUp();
    showPage(w(), qiv::Page::Registration);
    w().registrationPage()->编辑框_用户名_注册->setText("fresh");
    w().registrationPage()->组合框2->setCurrentIndex(1);
    w().registrationPage()->编辑框_密码_注册->setText("pass123");
    // Flood and Markup: a confirmation that differs, one reason.
    const bool refused = row.fault == kFlood || row.fault == kMarkup;
    w().registrationPage()->编辑框_确认密码_注册->setText(refused ? "pass124" : "pass123");
    w().registrationPage()->编辑框_主页名称_注册->setText(QStringLiteral("主页"));
    w().registrationPage()->编辑框_转向地址_注册->setText("http://example.org/");
    w().registrationPage()->编辑框_邮箱_注册->setText("a@example.org");
    w().registrationPage()->编辑框_姓名_注册->setText(QStringLiteral("王五"));
    w().registrationPage()->编辑框_电话_注册->setText("010-1");
    w().registrationPage()->编辑框_联系地址_注册->setText("Road 1");
    applyFault(row);
    click(w().registrationPage()->按钮_注册, Page::Reg);
    expectAnsweredDuringTheWait();
    EXPECT_EQ(w().选择夹1->currentIndex(), 4);
    EXPECT_TRUE(w().registrationPage()->按钮_注册->isEnabled());
    if (row.shows == Shows::Success) {
        EXPECT_EQ(
            w().resultPage()->透明标签_申请提示->text(),
            QStringLiteral("您的域名已注册成功：\r\n  http://fresh.qiv.net\r\n您的转向地址是：\r\n"
                           "  http://example.org/\r\n您的密码：pass123(请牢记)"));
        EXPECT_TRUE(w().registrationPage()->编辑框_用户名_注册->text().isEmpty());
        EXPECT_EQ(w().loginPage()->编辑框_用户名_登录->text(), QStringLiteral("fresh"));
    } else {
        QString reasons =
            row.fault == kMarkup ? "\r\n* " + shown(row, {}, devserver::kMarkupReason) : "";
        for (std::size_t i = 0; row.fault == kFlood && i < kMaxReasons; ++i)
            reasons += QStringLiteral("\r\n* r%1").arg(i, 6, 10, QChar(u'0'));
        EXPECT_EQ(w().resultPage()->透明标签_申请提示->text(),
                  QStringLiteral("申请域名失败......\r\n") + reasons);
        // The form stays as typed for another try.
        EXPECT_EQ(w().registrationPage()->编辑框_用户名_注册->text(), QStringLiteral("fresh"));
        EXPECT_EQ(w().registrationPage()->编辑框_主页名称_注册->text(), QStringLiteral("主页"));
        EXPECT_EQ(w().registrationPage()->编辑框_姓名_注册->text(), QStringLiteral("王五"));
        EXPECT_EQ(w().registrationPage()->编辑框_联系地址_注册->text(), QStringLiteral("Road 1"));
        EXPECT_EQ(w().registrationPage()->编辑框_密码_注册->text(), QStringLiteral("pass123"));
        EXPECT_EQ(w().registrationPage()->组合框2->currentIndex(), 1);
    }
    EXPECT_EQ(w().resultPage()->透明标签_申请提示->textFormat(), Qt::PlainText);
    auto stored = server_->findAccount("fresh", "qiv.net");
    if (row.service == Service::Done) {
        ASSERT_TRUE(stored.has_value());
        EXPECT_EQ(stored->title, gbk("主页"));
        EXPECT_EQ(stored->regName, gbk("王五"));
        EXPECT_EQ(stored->password, "pass123");
    } else {
        EXPECT_FALSE(stored.has_value());
    }
}

void BadServer::runLogin(const Row& row)
{
    logInFirst();
    showPage(w(), qiv::Page::Login);
    w().accountPage()->列表框1->addItem(QStringLiteral("kept"));
    applyFault(row);
    int pageDuringWait = -1;
    QTimer::singleShot(100, [&] { pageDuringWait = w().选择夹1->currentIndex(); });
    click(w().loginPage()->按钮_登录, Page::Login);
    expectAnsweredDuringTheWait();
    expectAccountButtonsHeldThenFreed();
    EXPECT_EQ(pageDuringWait, 2);
    if (row.shows == Shows::Success) {
        EXPECT_EQ(w().选择夹1->currentIndex(), 3);
        EXPECT_EQ(logLines(w()), kWelcome);
        EXPECT_EQ(w().accountPage()->超级链接框_域名地址->linkAddress(),
                  QStringLiteral("http://owner.qiv.cn"));
        EXPECT_FALSE(w().accountPage()->选择框2->isChecked());
    } else {
        EXPECT_EQ(w().选择夹1->currentIndex(), 0);
        EXPECT_EQ(w().loginPage()->分组框1->title(), QStringLiteral("登录失败,请检查网络后重试"));
        EXPECT_EQ(w().loginPage()->分组框1->captionColour(), kRed);
        EXPECT_EQ(logLines(w()), kWelcome + QStringList{"kept"});
    }
    EXPECT_EQ(w().accountPage()->超级链接框_域名地址->textFormat(), Qt::PlainText);
    const QString v = shown(row, {}, devserver::kMarkupValue);
    if (row.fault == kMarkup)
        EXPECT_TRUE(boxesOf(w()) == (Boxes{v, v, v, v, v, v}));
    else
        expectAccountKept();
    EXPECT_EQ(server_->findAccount("owner", "qiv.cn"), account("owner"));
}

void BadServer::runModify(const Row& row)
{
    logInFirst();
    w().accountPage()->编辑框_主页名称_修改资料->setText(QStringLiteral("新标题"));
    // Flood and Markup: without an e-mail the service refuses, with an alert.
    const bool refused = row.fault == kFlood || row.fault == kMarkup;
    if (refused)
        w().accountPage()->编辑框_邮箱_修改资料->clear();
    applyFault(row);
    ModalCatcher boxes;
    click(w().accountPage()->按钮_修改资料, Page::ModifyIn);
    expectAnsweredDuringTheWait();
    expectAccountButtonsHeldThenFreed();
    EXPECT_EQ(w().选择夹1->currentIndex(), 3);
    EXPECT_TRUE(w().accountPage()->按钮_修改资料->isEnabled());
    Boxes expected = original_;
    expected.title = QStringLiteral("新标题");
    if (refused)
        expected.email.clear();
    EXPECT_TRUE(boxesOf(w()) == expected);
    if (row.shows == Shows::Success) {
        EXPECT_EQ(logLines(w()).mid(3), (QStringList{"正在提交修改信息......", "您的资料修改成功!",
                                                     "正在刷新域名信息...", "刷新域名信息完成。"}));
        EXPECT_TRUE(boxes.boxes().empty());
        EXPECT_EQ(state().accountSnapshot.Title, gbk("新标题"));
    } else {
        // No alert in the reply: its empty text goes to the log and the box.
        const QString alert = shown(row, {}, devserver::kMarkupAlert);
        EXPECT_EQ(logLines(w()).mid(3), (QStringList{"正在提交修改信息......", alert}));
        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_EQ(boxes.boxes()[0].icon, QMessageBox::Warning);
        EXPECT_EQ(boxes.boxes()[0].title, QStringLiteral("岚栖提示："));
        EXPECT_EQ(boxes.boxes()[0].text, alert);
        EXPECT_EQ(boxes.boxes()[0].format, Qt::PlainText);
        EXPECT_TRUE(sameSnapshot(state().accountSnapshot, originalSnapshot_));
    }
    devserver::Account expectedStored = account("owner");
    if (row.service == Service::Done)
        expectedStored.title = gbk("新标题");
    EXPECT_EQ(server_->findAccount("owner", "qiv.cn"), expectedStored);
}

void BadServer::runRefresh(const Row& row)
{
    logInFirst();
    w().accountPage()->编辑框_联系地址_修改资料->setText(QStringLiteral("edited"));
    w().accountPage()->编辑框_用户密码_修改资料->setText("typed");
    applyFault(row);
    click(w().accountPage()->按钮_刷新资料, Page::Login);
    expectAnsweredDuringTheWait();
    expectAccountButtonsHeldThenFreed();
    EXPECT_EQ(w().选择夹1->currentIndex(), 3);
    EXPECT_TRUE(w().accountPage()->按钮_刷新资料->isEnabled());
    if (row.shows == Shows::Success) {
        EXPECT_EQ(logLines(w()).mid(3), (QStringList{"正在刷新域名信息...", "刷新域名信息完成。"}));
        expectAccountKept(); // reloaded from the service: the edit is gone
        EXPECT_TRUE(w().accountPage()->编辑框_用户密码_修改资料->text().isEmpty());
    } else {
        EXPECT_EQ(logLines(w()).mid(3),
                  (QStringList{"正在刷新域名信息...", "刷新域名信息失败,请稍后重试"}));
        Boxes expected = original_;
        expected.address = QStringLiteral("edited");
        EXPECT_TRUE(boxesOf(w()) == expected);
        EXPECT_TRUE(sameSnapshot(state().accountSnapshot, originalSnapshot_));
        EXPECT_EQ(w().accountPage()->编辑框_用户密码_修改资料->text(), QStringLiteral("typed"));
    }
    EXPECT_EQ(server_->findAccount("owner", "qiv.cn"), account("owner"));
}

void BadServer::runDelete(const Row& row)
{
    logInFirst();
    applyFault(row);
    int captionDuringWait = 0;
    QTimer::singleShot(100, [&] {
        captionDuringWait =
            w().accountPage()->按钮_删除域名->text() == QStringLiteral("正在删除") &&
                    !w().accountPage()->按钮_删除域名->isEnabled()
                ? 1
                : -1;
    });
    click(w().accountPage()->按钮_删除域名, Page::ModifyIn);
    expectAnsweredDuringTheWait();
    expectAccountButtonsHeldThenFreed();
    EXPECT_EQ(captionDuringWait, 1);
    EXPECT_EQ(w().accountPage()->按钮_删除域名->text(), QStringLiteral("删除此域名"));
    EXPECT_TRUE(w().accountPage()->按钮_删除域名->isEnabled());
    if (row.shows == Shows::Success) {
        EXPECT_EQ(logLines(w()).mid(3), (QStringList{"正在提交删除域名信息...", "域名成功删除。"}));
        EXPECT_EQ(w().选择夹1->currentIndex(), 0);
        EXPECT_EQ(w().loginPage()->分组框1->title(), QStringLiteral("您已成功将域名删除"));
        EXPECT_EQ(w().loginPage()->分组框1->captionColour(), kBlue);
    } else {
        EXPECT_EQ(logLines(w()).mid(3),
                  (QStringList{"正在提交删除域名信息...", "域名删除失败...."}));
        EXPECT_EQ(w().选择夹1->currentIndex(), 3);
        EXPECT_EQ(w().loginPage()->分组框1->title(), QStringLiteral("登 录"));
    }
    expectAccountKept();
    if (row.service == Service::Done) {
        EXPECT_FALSE(server_->findAccount("owner", "qiv.cn").has_value());
    } else {
        EXPECT_EQ(server_->findAccount("owner", "qiv.cn"), account("owner"));
    }
}

TEST_P(BadServer, OutcomeLiveWindowNothingLost)
{
    const Row& row = GetParam();
    switch (row.op) {
    case Op::Suffixes:
    case Op::UserCount:
    case Op::PublicIp:
        runStartUp(row);
        break;
    case Op::Check:
        runCheck(row);
        break;
    case Op::Register:
        runRegister(row);
        break;
    case Op::Login:
        runLogin(row);
        break;
    case Op::Modify:
        runModify(row);
        break;
    case Op::Refresh:
        runRefresh(row);
        break;
    case Op::Delete:
        runDelete(row);
        break;
    }
    if (!isStartUp(row.op)) {
        EXPECT_GE(server_->requestCount(pageOf(row.op)), 1u);
    }
    server_->clearFaults();
}

INSTANTIATE_TEST_SUITE_P(EveryFaultEveryOperation, BadServer, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
} // namespace qiv::testing

int main(int argc, char** argv)
{
    return qiv::testing::runTests(argc, argv);
}
