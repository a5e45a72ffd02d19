#include "ui/main_window.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QSignalSpy>
#include <QTabBar>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using qiv::MainWindow;

QString u(const char* text)
{
    return QString::fromUtf8(text);
}

QAccessibleInterface* accessible(QWidget* widget)
{
    return QAccessible::queryAccessibleInterface(widget);
}

QString accessibleName(QWidget* widget)
{
    QAccessibleInterface* iface = accessible(widget);
    return iface ? iface->text(QAccessible::Name) : QString();
}

QString accessibleDescription(QWidget* widget)
{
    QAccessibleInterface* iface = accessible(widget);
    return iface ? iface->text(QAccessible::Description) : QString();
}

// The widgets a screen-reader user operates: inputs, buttons, lists, links
// and the advertisement boxes. Qt's own parts (tab scroll buttons) are
// excluded; they are Qt's to name.
std::vector<QWidget*> operableWidgets(MainWindow& w)
{
    std::vector<QWidget*> out;
    for (QWidget* child : w.findChildren<QWidget*>()) {
        if (child->objectName().isEmpty() || child->objectName().startsWith(u"qt_"))
            continue;
        if (qobject_cast<QTabBar*>(child->parentWidget()) != nullptr)
            continue;
        const bool operable = qobject_cast<QLineEdit*>(child) || qobject_cast<QComboBox*>(child) ||
                              qobject_cast<QAbstractButton*>(child) ||
                              qobject_cast<QListWidget*>(child) ||
                              qobject_cast<qiv::HyperlinkBox*>(child) ||
                              child->objectName().startsWith(u"超文本浏览框");
        if (operable)
            out.push_back(child);
    }
    return out;
}

class AccessibilityTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        window_ = std::make_unique<MainWindow>(MainWindow::Options{GetParam()});
    }
    MainWindow& w() { return *window_; }

private:
    std::unique_ptr<MainWindow> window_;
};

TEST_P(AccessibilityTest, EveryOperableControlHasAName)
{
    const std::vector<QWidget*> widgets = operableWidgets(w());
    // 18 edit boxes, 2 combo boxes, 2 check boxes, 10 buttons, 1 list,
    // 3 links, 4 advertisement boxes.
    EXPECT_EQ(widgets.size(), 40u);
    for (QWidget* widget : widgets) {
        SCOPED_TRACE(widget->objectName().toStdString());
        ASSERT_NE(accessible(widget), nullptr);
        EXPECT_FALSE(accessibleName(widget).trimmed().isEmpty());
        // A name is words, never the label's colon.
        EXPECT_FALSE(accessibleName(widget).endsWith(u':'));
        EXPECT_FALSE(accessibleName(widget).endsWith(u"："));
    }
}

struct NameRow {
    const char* control;
    const char* name;
    const char* description; // "": none
};

const NameRow kNames[] = {
    // Page 0, login.
    {"编辑框_用户名_登录", "登录域名", ""},
    {"组合框1", "域名后缀", ""},
    {"编辑框_密码_登录", "密 码", ""},
    {"按钮1", "注册", ""},
    {"按钮_登录", "登 录", ""},
    {"按钮_取消", "退 出", ""},
    {"超文本浏览框1", "广告", ""},
    {"超文本浏览框3", "广告", ""},
    // Page 1, registration.
    {"按钮_检查域名_注册", "检查域名", ""},
    {"编辑框_用户名_注册", "申请域名", ""},
    {"组合框2", "域名后缀", ""},
    {"编辑框_密码_注册", "用户密码", "可用6-12位,区分大小写,请牢记"},
    {"编辑框_确认密码_注册", "确认密码", "重新输入密码"},
    {"编辑框_主页名称_注册", "主页名称", ""},
    {"编辑框_转向地址_注册", "转向地址", "(域名转向地址,可为网址)"},
    {"选择框_隐藏_注册", "是否隐藏真实URL？", ""},
    {"编辑框_邮箱_注册", "联系Email", ""},
    {"编辑框_姓名_注册", "注册人姓名", "必填,注册后不得更改"},
    {"编辑框_电话_注册", "联系电话", "格式：010-123456"},
    {"编辑框_联系地址_注册", "联系地址", ""},
    {"按钮_返回登录", "返回登录", ""},
    {"按钮_注册", "提交注册", ""},
    {"超文本浏览框2", "广告", ""},
    // Page 2.
    {"按钮3", "正在登录...", ""},
    // Page 3, account. The domain link reads its address.
    {"超级链接框_域名地址", "http://", ""},
    {"编辑框_用户密码_修改资料", "用户密码", "不修改请留空!"},
    {"编辑框_主页名称_修改资料", "主页名称", ""},
    {"编辑框_转向地址_修改资料", "转向地址", ""},
    {"选择框2", "是否隐藏真实URL？", "* 隐藏真实url后地址栏将一直显示您的域名"},
    {"编辑框_邮箱_修改资料", "站长EMAIL", "用于重发密码用,请填写真实信箱"},
    {"编辑框_姓名_修改资料", "注册人姓名", "本项不能更改"},
    {"编辑框_电话_修改资料", "联系电话", "必填,包括区号"},
    {"编辑框_联系地址_修改资料", "联系地址", "必填"},
    {"按钮_删除域名", "删除此域名", ""},
    {"按钮_刷新资料", "刷新", ""},
    {"按钮_修改资料", "修改", ""},
    {"列表框1", "状态记录", ""},
    // Page 4, registration result.
    {"超级链接框_返回注册", "返回注册", ""},
    {"超级链接框_返回登录", "返回登录", ""},
    {"超文本浏览框4", "广告", ""},
};

QWidget* control(MainWindow& w, const char* name)
{
    return w.findChild<QWidget*>(u(name));
}

TEST_P(AccessibilityTest, KeyControlsHaveTheirLabelsText)
{
    for (const NameRow& row : kNames) {
        SCOPED_TRACE(row.control);
        QWidget* widget = control(w(), row.control);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(accessibleName(widget), u(row.name));
        EXPECT_EQ(accessibleDescription(widget), u(row.description));
    }
}

// Names that come from a control's own text follow it when an operation
// changes the text (the check and delete buttons say they are busy).
TEST_P(AccessibilityTest, ButtonNameFollowsItsCaption)
{
    w().registrationPage()->按钮_检查域名_注册->setText(u("查询中"));
    EXPECT_EQ(accessibleName(w().registrationPage()->按钮_检查域名_注册), u("查询中"));
    w().accountPage()->超级链接框_域名地址->setLinkAddress(u("http://abc.qiv.cn"));
    EXPECT_EQ(accessibleName(w().accountPage()->超级链接框_域名地址), u("http://abc.qiv.cn"));
}

struct BuddyRow {
    const char* label;
    const char* input;
};

const BuddyRow kBuddies[] = {
    {"透明标签1", "编辑框_用户名_登录"},        {"透明标签3", "编辑框_密码_登录"},
    {"透明标签4", "编辑框_用户名_注册"},        {"透明标签8", "编辑框_密码_注册"},
    {"透明标签9", "编辑框_确认密码_注册"},      {"透明标签10", "编辑框_主页名称_注册"},
    {"透明标签11", "编辑框_转向地址_注册"},     {"透明标签12", "编辑框_邮箱_注册"},
    {"透明标签14", "编辑框_姓名_注册"},         {"透明标签15", "编辑框_电话_注册"},
    {"透明标签16", "编辑框_联系地址_注册"},     {"透明标签19", "超级链接框_域名地址"},
    {"透明标签20", "编辑框_用户密码_修改资料"}, {"透明标签21", "编辑框_主页名称_修改资料"},
    {"透明标签24", "编辑框_转向地址_修改资料"}, {"透明标签25", "编辑框_邮箱_修改资料"},
    {"透明标签26", "编辑框_姓名_修改资料"},     {"透明标签27", "编辑框_电话_修改资料"},
    {"透明标签31", "编辑框_联系地址_修改资料"},
};

TEST_P(AccessibilityTest, LabelsAreBuddiesOfTheirInputs)
{
    for (const BuddyRow& row : kBuddies) {
        SCOPED_TRACE(row.label);
        auto* label = qobject_cast<QLabel*>(control(w(), row.label));
        QWidget* input = control(w(), row.input);
        ASSERT_NE(label, nullptr);
        ASSERT_NE(input, nullptr);
        EXPECT_EQ(label->buddy(), input);

        // What a screen reader sees: the input is labelled by the label.
        QAccessibleInterface* labelIface = accessible(label);
        bool labelled = false;
        for (const auto& relation : accessible(input)->relations(QAccessible::Label))
            labelled = labelled || relation.first == labelIface;
        EXPECT_TRUE(labelled) << "no label relation to " << row.label;
    }
    // Every buddy in the window is one of the table's.
    int buddies = 0;
    for (QLabel* label : w().findChildren<QLabel*>())
        buddies += label->buddy() != nullptr;
    EXPECT_EQ(buddies, static_cast<int>(std::size(kBuddies)));
}

// A screen reader operates buttons through their press action.
TEST_P(AccessibilityTest, ButtonsArePressedThroughTheirAction)
{
    for (QPushButton* button :
         {w().loginPage()->按钮1, w().loginPage()->按钮_登录, w().registrationPage()->按钮_注册,
          w().accountPage()->按钮_修改资料}) {
        SCOPED_TRACE(button->objectName().toStdString());
        QAccessibleActionInterface* actions = accessible(button)->actionInterface();
        ASSERT_NE(actions, nullptr);
        ASSERT_TRUE(actions->actionNames().contains(QAccessibleActionInterface::pressAction()));
        QSignalSpy clicked(button, &QPushButton::clicked);
        // Qt animates the press: the click comes a moment later.
        actions->doAction(QAccessibleActionInterface::pressAction());
        EXPECT_TRUE(clicked.count() > 0 || clicked.wait(5000));
        EXPECT_EQ(clicked.count(), 1);
    }
}

// Links are announced as links and a screen reader's press acts as a click.
TEST_P(AccessibilityTest, LinksArePressedThroughTheirAction)
{
    for (qiv::HyperlinkBox* link :
         {w().resultPage()->超级链接框_返回注册, w().resultPage()->超级链接框_返回登录}) {
        SCOPED_TRACE(link->objectName().toStdString());
        QAccessibleInterface* iface = accessible(link);
        ASSERT_NE(iface, nullptr);
        EXPECT_EQ(iface->role(), QAccessible::Link);
        QAccessibleActionInterface* actions = iface->actionInterface();
        ASSERT_NE(actions, nullptr);
        ASSERT_TRUE(actions->actionNames().contains(QAccessibleActionInterface::pressAction()));
        QSignalSpy pressed(link, &qiv::HyperlinkBox::pressed);
        actions->doAction(QAccessibleActionInterface::pressAction());
        EXPECT_EQ(pressed.count(), 1);
    }
    EXPECT_EQ(accessible(w().accountPage()->超级链接框_域名地址)->role(), QAccessible::Link);
}

INSTANTIATE_TEST_SUITE_P(BrowserViews, AccessibilityTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "WithViews" : "WithoutViews";
                         });

} // namespace
