#include "ui/main_window.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleFactory>
#include <QTabBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QValidator>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace {

using qiv::MainWindow;
using qiv::Page;

enum class Kind { Label, Edit, Combo, Check, Button, Separator, Link, List, Group, Tab, Browser };

struct Font {
    const char* face;
    int pixelSize;
    bool bold;
};

struct Settings {
    bool password = false;
    int maxLength = 32767;
    bool readOnly = false;
    bool validator = false;
    std::optional<QRgb> colour = std::nullopt; // label text; list box text
    std::optional<QRgb> base = std::nullopt;   // edit box background
    std::optional<Font> font = std::nullopt;
    bool centred = false;
    bool wrap = false;
    std::optional<std::array<QRgb, 3>> link = std::nullopt; // normal, hover, visited
    const char* address = "";
    int tab = -1;
};

struct Row {
    const char* name;
    QWidget* (*member)(MainWindow&);
    Kind kind;
    const char* container; // "window", "page0".."page4" or a control's name
    QRect geometry;
    const char* text;
    Settings settings;
};

// The member and its objectName come from the same identifier.
#define CONTROL(m) #m, [](MainWindow & w) -> QWidget* { return w.m; }
// A control of a page, reached through its page.
#define CONTROL_ON(page, m) #m, [](MainWindow & w) -> QWidget* { return w.page()->m; }

constexpr QRgb kBlue = qRgb(0, 0, 255);
constexpr QRgb kSkyBlue = qRgb(0, 136, 255);
constexpr Font kSong12Bold{"宋体", 12, true};

const std::vector<Row>& controls()
{
    static const std::vector<Row> rows = {
        // The window's client area.
        {CONTROL(超文本浏览框1), Kind::Browser, "window", {-56, -16, 400, 112}, "", {}},
        {CONTROL(选择夹1), Kind::Tab, "window", {0, 96, 272, 472}, "", {}},
        // Page 0, login.
        {CONTROL_ON(loginPage, 透明标签_申请个数),
         Kind::Label,
         "page0",
         {56, 24, 152, 24},
         "用户统计拉取中.....",
         {}},
        {CONTROL_ON(loginPage, 分组框1), Kind::Group, "page0", {8, 76, 256, 96}, "登 录", {}},
        {CONTROL(超文本浏览框3), Kind::Browser, "page0", {-64, 176, 416, 256}, "", {}},
        {CONTROL_ON(loginPage, 编辑框_用户名_登录),
         Kind::Edit,
         "分组框1",
         {48, 16, 72, 20},
         "",
         {.tab = 0}},
        {CONTROL_ON(loginPage, 透明标签2), Kind::Label, "分组框1", {120, 16, 8, 16}, ".", {}},
        {CONTROL_ON(loginPage, 组合框1),
         Kind::Combo,
         "分组框1",
         {128, 16, 121, 20},
         "",
         {.tab = 1}},
        {CONTROL_ON(loginPage, 透明标签1), Kind::Label, "分组框1", {8, 18, 40, 16}, "HTTP://", {}},
        {CONTROL_ON(loginPage, 编辑框_密码_登录),
         Kind::Edit,
         "分组框1",
         {48, 40, 128, 20},
         "",
         {.password = true, .tab = 2}},
        {CONTROL_ON(loginPage, 透明标签3), Kind::Label, "分组框1", {8, 44, 37, 16}, "密 码：", {}},
        {CONTROL_ON(loginPage, 按钮1), Kind::Button, "分组框1", {8, 65, 64, 24}, "注册", {}},
        {CONTROL_ON(loginPage, 按钮_登录), Kind::Button, "分组框1", {91, 65, 64, 24}, "登 录", {}},
        {CONTROL_ON(loginPage, 按钮_取消), Kind::Button, "分组框1", {180, 65, 64, 24}, "退 出", {}},
        // Page 1, registration.
        {CONTROL_ON(registrationPage, 透明标签5),
         Kind::Label,
         "page1",
         {12, 2, 248, 24},
         "注册域名",
         {.colour = kBlue, .font = Font{"宋体", 16, true}, .centred = true}},
        {CONTROL_ON(registrationPage, 分隔条3), Kind::Separator, "page1", {8, 25, 256, 1}, "", {}},
        {CONTROL_ON(registrationPage, 按钮_检查域名_注册),
         Kind::Button,
         "page1",
         {67, 31, 64, 20},
         "检查域名",
         {}},
        {CONTROL_ON(registrationPage, 透明标签4),
         Kind::Label,
         "page1",
         {5, 34, 56, 16},
         "申请域名:",
         {.font = kSong12Bold}},
        {CONTROL_ON(registrationPage, 透明标签_检查域名),
         Kind::Label,
         "page1",
         {136, 35, 136, 16},
         "",
         {.colour = kSkyBlue}},
        {CONTROL_ON(registrationPage, 编辑框_用户名_注册),
         Kind::Edit,
         "page1",
         {56, 52, 76, 20},
         "",
         {.tab = 0}},
        {CONTROL_ON(registrationPage, 透明标签7),
         Kind::Label,
         "page1",
         {133, 52, 8, 20},
         ".",
         {.font = kSong12Bold}},
        {CONTROL_ON(registrationPage, 组合框2),
         Kind::Combo,
         "page1",
         {140, 52, 121, 20},
         "",
         {.tab = 1}},
        {CONTROL_ON(registrationPage, 透明标签6),
         Kind::Label,
         "page1",
         {13, 55, 40, 16},
         "http://",
         {}},
        {CONTROL_ON(registrationPage, 编辑框_密码_注册),
         Kind::Edit,
         "page1",
         {68, 72, 92, 20},
         "",
         {.password = true, .maxLength = 12, .tab = 2}},
        {CONTROL_ON(registrationPage, 透明标签35),
         Kind::Label,
         "page1",
         {160, 72, 96, 24},
         "可用6-12位,区分大小写,请牢记",
         {.wrap = true}},
        {CONTROL_ON(registrationPage, 透明标签8),
         Kind::Label,
         "page1",
         {5, 76, 56, 16},
         "用户密码:",
         {.font = kSong12Bold}},
        {CONTROL_ON(registrationPage, 编辑框_确认密码_注册),
         Kind::Edit,
         "page1",
         {68, 93, 92, 20},
         "",
         {.password = true, .maxLength = 12, .tab = 3}},
        {CONTROL_ON(registrationPage, 透明标签9),
         Kind::Label,
         "page1",
         {5, 97, 56, 16},
         "确认密码:",
         {.font = kSong12Bold}},
        {CONTROL_ON(registrationPage, 透明标签38),
         Kind::Label,
         "page1",
         {160, 97, 72, 16},
         "重新输入密码",
         {}},
        {CONTROL_ON(registrationPage, 编辑框_主页名称_注册),
         Kind::Edit,
         "page1",
         {68, 117, 190, 20},
         "",
         {.tab = 4}},
        {CONTROL_ON(registrationPage, 透明标签10),
         Kind::Label,
         "page1",
         {5, 121, 56, 16},
         "主页名称:",
         {.font = kSong12Bold}},
        {CONTROL_ON(registrationPage, 编辑框_转向地址_注册),
         Kind::Edit,
         "page1",
         {68, 140, 189, 20},
         "",
         {.tab = 5}},
        {CONTROL_ON(registrationPage, 透明标签11),
         Kind::Label,
         "page1",
         {5, 144, 56, 16},
         "转向地址:",
         {.font = kSong12Bold}},
        {CONTROL_ON(registrationPage, 选择框_隐藏_注册),
         Kind::Check,
         "page1",
         {138, 161, 122, 16},
         "是否隐藏真实URL？",
         {.tab = 6}},
        {CONTROL_ON(registrationPage, 透明标签39),
         Kind::Label,
         "page1",
         {0, 162, 136, 16},
         "(域名转向地址,可为网址)",
         {}},
        {CONTROL_ON(registrationPage, 分隔条1), Kind::Separator, "page1", {8, 184, 256, 1}, "", {}},
        {CONTROL_ON(registrationPage, 透明标签13),
         Kind::Label,
         "page1",
         {20, 184, 231, 24},
         "请认真填写以下注册人信息(必填)",
         {.colour = kBlue, .font = Font{"宋体", 14, true}, .centred = true}},
        {CONTROL_ON(registrationPage, 编辑框_邮箱_注册),
         Kind::Edit,
         "page1",
         {72, 205, 182, 20},
         "",
         {.tab = 7}},
        {CONTROL_ON(registrationPage, 透明标签12),
         Kind::Label,
         "page1",
         {5, 208, 67, 16},
         "联系Email:",
         {.font = kSong12Bold}},
        {CONTROL_ON(registrationPage, 编辑框_姓名_注册),
         Kind::Edit,
         "page1",
         {77, 228, 59, 20},
         "",
         {.tab = 8}},
        {CONTROL_ON(registrationPage, 透明标签36),
         Kind::Label,
         "page1",
         {138, 230, 120, 16},
         "必填,注册后不得更改",
         {}},
        {CONTROL_ON(registrationPage, 透明标签14),
         Kind::Label,
         "page1",
         {5, 232, 75, 16},
         "注册人姓名:",
         {.font = kSong12Bold}},
        {CONTROL_ON(registrationPage, 编辑框_电话_注册),
         Kind::Edit,
         "page1",
         {67, 249, 87, 20},
         "",
         {.validator = true, .tab = 9}},
        {CONTROL_ON(registrationPage, 透明标签37),
         Kind::Label,
         "page1",
         {156, 252, 100, 16},
         "格式：010-123456",
         {}},
        {CONTROL_ON(registrationPage, 透明标签15),
         Kind::Label,
         "page1",
         {5, 253, 59, 16},
         "联系电话:",
         {.font = kSong12Bold}},
        {CONTROL_ON(registrationPage, 编辑框_联系地址_注册),
         Kind::Edit,
         "page1",
         {67, 269, 187, 20},
         "",
         {.tab = 10}},
        {CONTROL_ON(registrationPage, 透明标签16),
         Kind::Label,
         "page1",
         {5, 274, 59, 16},
         "联系地址:",
         {.font = kSong12Bold}},
        {CONTROL_ON(registrationPage, 分隔条2), Kind::Separator, "page1", {8, 293, 256, 1}, "", {}},
        {CONTROL_ON(registrationPage, 按钮_返回登录),
         Kind::Button,
         "page1",
         {54, 300, 64, 24},
         "返回登录",
         {}},
        {CONTROL_ON(registrationPage, 按钮_注册),
         Kind::Button,
         "page1",
         {160, 300, 64, 24},
         "提交注册",
         {}},
        {CONTROL(超文本浏览框2), Kind::Browser, "page1", {-24, 328, 344, 104}, "", {}},
        // Page 2, login progress.
        {CONTROL_ON(progressPage, 按钮3),
         Kind::Button,
         "page2",
         {66, 120, 140, 24},
         "正在登录...",
         {.font = kSong12Bold}},
        // Page 3, account.
        {CONTROL_ON(accountPage, 透明标签18),
         Kind::Label,
         "page3",
         {24, 3, 224, 24},
         "修改资料",
         {.colour = kBlue, .font = Font{"微软雅黑", 16, false}, .centred = true}},
        {CONTROL_ON(accountPage, 分隔条6), Kind::Separator, "page3", {8, 26, 256, 1}, "", {}},
        {CONTROL_ON(accountPage, 超级链接框_域名地址),
         Kind::Link,
         "page3",
         {64, 32, 200, 16},
         "http://",
         {.link = std::array{qRgb(0, 0, 0), qRgb(0, 96, 192), qRgb(51, 94, 168)},
          .address = "http://"}},
        {CONTROL_ON(accountPage, 透明标签19),
         Kind::Label,
         "page3",
         {8, 33, 56, 16},
         "您的域名:",
         {}},
        {CONTROL_ON(accountPage, 编辑框_用户密码_修改资料),
         Kind::Edit,
         "page3",
         {64, 56, 96, 20},
         "",
         {.password = true, .maxLength = 12, .base = qRgb(236, 236, 236), .tab = 0}},
        {CONTROL_ON(accountPage, 透明标签22),
         Kind::Label,
         "page3",
         {160, 56, 80, 24},
         "不修改请留空!",
         {}},
        {CONTROL_ON(accountPage, 透明标签20),
         Kind::Label,
         "page3",
         {8, 60, 56, 16},
         "用户密码:",
         {}},
        {CONTROL_ON(accountPage, 编辑框_主页名称_修改资料),
         Kind::Edit,
         "page3",
         {64, 80, 160, 20},
         "",
         {.tab = 1}},
        {CONTROL_ON(accountPage, 透明标签21),
         Kind::Label,
         "page3",
         {8, 85, 56, 16},
         "主页名称:",
         {}},
        {CONTROL_ON(accountPage, 编辑框_转向地址_修改资料),
         Kind::Edit,
         "page3",
         {64, 104, 160, 20},
         "",
         {.tab = 2}},
        {CONTROL_ON(accountPage, 透明标签24),
         Kind::Label,
         "page3",
         {8, 109, 56, 16},
         "转向地址:",
         {}},
        {CONTROL_ON(accountPage, 选择框2),
         Kind::Check,
         "page3",
         {64, 125, 128, 16},
         "是否隐藏真实URL？",
         {.tab = 3}},
        {CONTROL_ON(accountPage, 透明标签30),
         Kind::Label,
         "page3",
         {182, 141, 91, 24},
         "用于重发密码用,请填写真实信箱",
         {.wrap = true}},
        {CONTROL_ON(accountPage, 编辑框_邮箱_修改资料),
         Kind::Edit,
         "page3",
         {72, 146, 109, 20},
         "",
         {.tab = 4}},
        {CONTROL_ON(accountPage, 透明标签25),
         Kind::Label,
         "page3",
         {8, 150, 64, 16},
         "站长EMAIL:",
         {}},
        {CONTROL_ON(accountPage, 编辑框_姓名_修改资料),
         Kind::Edit,
         "page3",
         {78, 170, 90, 20},
         "",
         {.readOnly = true, .base = qRgb(192, 192, 192), .tab = 5}},
        {CONTROL_ON(accountPage, 透明标签26),
         Kind::Label,
         "page3",
         {8, 174, 64, 16},
         "注册人姓名:",
         {}},
        {CONTROL_ON(accountPage, 透明标签28),
         Kind::Label,
         "page3",
         {168, 174, 72, 16},
         "本项不能更改",
         {}},
        {CONTROL_ON(accountPage, 编辑框_电话_修改资料),
         Kind::Edit,
         "page3",
         {64, 195, 104, 20},
         "",
         {.tab = 6}},
        {CONTROL_ON(accountPage, 透明标签27),
         Kind::Label,
         "page3",
         {8, 199, 56, 16},
         "联系电话:",
         {}},
        {CONTROL_ON(accountPage, 透明标签29),
         Kind::Label,
         "page3",
         {168, 200, 88, 16},
         "必填,包括区号",
         {}},
        {CONTROL_ON(accountPage, 编辑框_联系地址_修改资料),
         Kind::Edit,
         "page3",
         {64, 220, 160, 20},
         "",
         {.tab = 7}},
        {CONTROL_ON(accountPage, 透明标签31),
         Kind::Label,
         "page3",
         {8, 223, 51, 16},
         "联系地址:",
         {}},
        {CONTROL_ON(accountPage, 透明标签32),
         Kind::Label,
         "page3",
         {224, 224, 24, 16},
         "必填",
         {.colour = qRgb(255, 0, 0)}},
        {CONTROL_ON(accountPage, 透明标签33),
         Kind::Label,
         "page3",
         {6, 240, 232, 20},
         "* 隐藏真实url后地址栏将一直显示您的域名",
         {}},
        {CONTROL_ON(accountPage, 分隔条4), Kind::Separator, "page3", {8, 262, 256, 1}, "", {}},
        {CONTROL_ON(accountPage, 按钮_删除域名),
         Kind::Button,
         "page3",
         {8, 272, 80, 24},
         "删除此域名",
         {}},
        {CONTROL_ON(accountPage, 按钮_刷新资料),
         Kind::Button,
         "page3",
         {136, 272, 56, 24},
         "刷新",
         {}},
        {CONTROL_ON(accountPage, 按钮_修改资料),
         Kind::Button,
         "page3",
         {208, 272, 56, 24},
         "修改",
         {.tab = 8}},
        {CONTROL_ON(accountPage, 列表框1),
         Kind::List,
         "page3",
         {8, 304, 256, 88},
         "",
         {.colour = kSkyBlue}},
        {CONTROL_ON(accountPage, 透明标签_公网IP),
         Kind::Label,
         "page3",
         {8, 392, 208, 16},
         "您当前公网IP:",
         {}},
        // Page 4, registration result.
        {CONTROL_ON(resultPage, 透明标签23),
         Kind::Label,
         "page4",
         {8, 8, 216, 32},
         "申请域名",
         {.colour = kBlue, .font = Font{"宋体", 20, true}}},
        {CONTROL_ON(resultPage, 分隔条7), Kind::Separator, "page4", {8, 37, 256, 1}, "", {}},
        {CONTROL_ON(resultPage, 透明标签_申请提示),
         Kind::Label,
         "page4",
         {8, 50, 248, 202},
         "",
         {.wrap = true}},
        {CONTROL_ON(resultPage, 超级链接框_返回注册),
         Kind::Link,
         "page4",
         {48, 216, 48, 16},
         "返回注册",
         {.link = std::array{qRgb(0, 0, 255), qRgb(128, 0, 0), qRgb(0, 0, 255)}}},
        {CONTROL_ON(resultPage, 超级链接框_返回登录),
         Kind::Link,
         "page4",
         {152, 216, 48, 16},
         "返回登录",
         {.link = std::array{qRgb(0, 0, 255), qRgb(0, 0, 255), qRgb(0, 0, 255)}}},
        {CONTROL(超文本浏览框4), Kind::Browser, "page4", {-37, 240, 360, 176}, "", {}},
        {CONTROL_ON(resultPage, 分隔条5), Kind::Separator, "page4", {8, 264, 256, 1}, "", {}},
    };
    return rows;
}

#undef CONTROL

QString u(const char* text)
{
    return QString::fromUtf8(text);
}

const char* className(Kind kind)
{
    switch (kind) {
    case Kind::Label:
        return "qiv::TransparentLabel";
    case Kind::Edit:
        return "QLineEdit";
    case Kind::Combo:
        return "QComboBox";
    case Kind::Check:
        return "QCheckBox";
    case Kind::Button:
        return "QPushButton";
    case Kind::Separator:
        return "qiv::SeparatorLine";
    case Kind::Link:
        return "qiv::HyperlinkBox";
    case Kind::List:
        return "QListWidget";
    case Kind::Group:
        return "qiv::CaptionGroupBox";
    case Kind::Tab:
        return "QTabWidget";
    case Kind::Browser:
        return "QWidget"; // a container; the web view comes later, inside
    }
    return "";
}

QWidget* container(MainWindow& w, const char* name)
{
    const QString n = u(name);
    if (n == QLatin1String("window"))
        return &w;
    if (n.startsWith(QLatin1String("page")))
        return w.选择夹1->widget(n.mid(4).toInt());
    return w.findChild<QWidget*>(n);
}

QRgb rgb(const QColor& c)
{
    return qRgb(c.red(), c.green(), c.blue());
}

// Checks one control against its row; `what` names the failure.
void checkControl(MainWindow& w, const Row& row)
{
    SCOPED_TRACE(row.name);
    QWidget* widget = w.findChild<QWidget*>(u(row.name));
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget, row.member(w)) << "member and objectName differ";
    EXPECT_STREQ(widget->metaObject()->className(), className(row.kind));
    QWidget* parent = container(w, row.container);
    ASSERT_NE(parent, nullptr);
    EXPECT_EQ(widget->parentWidget(), parent);
    EXPECT_EQ(widget->geometry(), row.geometry);
    EXPECT_TRUE(widget->isEnabled());
    EXPECT_TRUE(widget->isVisibleTo(parent));

    const Settings& s = row.settings;
    if (s.font) {
        EXPECT_EQ(widget->font().family(), u(s.font->face));
        EXPECT_EQ(widget->font().pixelSize(), s.font->pixelSize);
        EXPECT_EQ(widget->font().bold(), s.font->bold);
        EXPECT_EQ(widget->font().weight(), s.font->bold ? QFont::Bold : QFont::Normal);
    } else {
        // The default GUI font, sized for the small boxes.
        EXPECT_EQ(widget->font().pixelSize(), 12);
        EXPECT_FALSE(widget->font().bold());
    }
    // Every text must be drawable in the font the control uses.
    const QString text = u(row.text);
    const QFontMetrics metrics(widget->font());
    for (QChar c : text)
        EXPECT_TRUE(metrics.inFont(c)) << "no glyph for U+" << std::hex << int(c.unicode());

    switch (row.kind) {
    case Kind::Label: {
        auto* l = static_cast<qiv::TransparentLabel*>(widget);
        EXPECT_EQ(l->text(), text);
        EXPECT_FALSE(l->autoFillBackground());
        EXPECT_EQ(rgb(l->textColour()), s.colour.value_or(qRgb(0, 0, 0)));
        EXPECT_EQ(rgb(l->palette().color(QPalette::WindowText)), s.colour.value_or(qRgb(0, 0, 0)));
        // Disabled, the label greys out with its container.
        EXPECT_EQ(l->palette().color(QPalette::Disabled, QPalette::WindowText),
                  parent->palette().color(QPalette::Disabled, QPalette::WindowText));
        if (s.centred) {
            EXPECT_EQ(l->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
        }
        EXPECT_EQ(l->wordWrap(), s.wrap);
        break;
    }
    case Kind::Edit: {
        auto* e = static_cast<QLineEdit*>(widget);
        EXPECT_EQ(e->text(), QString());
        EXPECT_EQ(e->echoMode(), s.password ? QLineEdit::Password : QLineEdit::Normal);
        EXPECT_EQ(e->maxLength(), s.maxLength);
        EXPECT_EQ(e->isReadOnly(), s.readOnly);
        EXPECT_EQ(e->validator() != nullptr, s.validator);
        if (s.base) {
            EXPECT_EQ(rgb(e->palette().color(QPalette::Base)), *s.base);
        }
        if (s.password) {
            e->setText(QStringLiteral("ab1"));
            EXPECT_EQ(e->displayText(), QStringLiteral("***"));
            e->clear();
        }
        break;
    }
    case Kind::Combo: {
        auto* c = static_cast<QComboBox*>(widget);
        EXPECT_FALSE(c->isEditable());
        EXPECT_EQ(c->count(), 0);
        EXPECT_EQ(c->currentIndex(), -1);
        break;
    }
    case Kind::Check: {
        auto* c = static_cast<QCheckBox*>(widget);
        EXPECT_EQ(c->text(), text);
        EXPECT_FALSE(c->isChecked());
        break;
    }
    case Kind::Button:
        EXPECT_EQ(static_cast<QPushButton*>(widget)->text(), text);
        break;
    case Kind::Separator: {
        auto* f = static_cast<QFrame*>(widget);
        EXPECT_EQ(f->frameShape(), QFrame::HLine);
        EXPECT_EQ(f->height(), 1);
        break;
    }
    case Kind::Link: {
        auto* h = static_cast<qiv::HyperlinkBox*>(widget);
        EXPECT_EQ(h->text(), text);
        EXPECT_EQ(h->linkAddress(), u(s.address));
        ASSERT_TRUE(s.link.has_value());
        EXPECT_EQ(rgb(h->normalColour()), (*s.link)[0]);
        EXPECT_EQ(rgb(h->hoverColour()), (*s.link)[1]);
        EXPECT_EQ(rgb(h->visitedColour()), (*s.link)[2]);
        EXPECT_EQ(rgb(h->palette().color(QPalette::WindowText)), (*s.link)[0]);
        EXPECT_EQ(h->cursor().shape(), Qt::PointingHandCursor);
        break;
    }
    case Kind::List: {
        auto* l = static_cast<QListWidget*>(widget);
        EXPECT_EQ(l->count(), 0);
        EXPECT_EQ(rgb(l->palette().color(QPalette::Text)), s.colour.value_or(0));
        EXPECT_EQ(rgb(l->palette().color(QPalette::Base)), qRgb(255, 255, 255));
        break;
    }
    case Kind::Group: {
        auto* g = static_cast<qiv::CaptionGroupBox*>(widget);
        EXPECT_EQ(g->title(), text);
        EXPECT_EQ(rgb(g->captionColour()), qRgb(0, 0, 0));
        break;
    }
    case Kind::Tab:
    case Kind::Browser:
        break;
    }
}

// Names of every named widget under the window, Qt's own internals aside
// (the "qt_" names and the tab bar's scroll buttons).
std::multiset<QString> namedWidgets(MainWindow& w)
{
    std::multiset<QString> names;
    for (QWidget* child : w.findChildren<QWidget*>()) {
        const QString n = child->objectName();
        if (n.isEmpty() || n.startsWith(QLatin1String("qt_")) ||
            qobject_cast<QTabBar*>(child->parentWidget()) != nullptr)
            continue;
        names.insert(n);
    }
    return names;
}

std::multiset<QString> tableNames()
{
    std::multiset<QString> names;
    for (const Row& row : controls())
        names.insert(u(row.name));
    return names;
}

// The window without web views: fast, and the same controls otherwise.
class MainWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { window_ = new MainWindow(MainWindow::Options{false}); }
    static void TearDownTestSuite()
    {
        delete window_;
        window_ = nullptr;
    }
    MainWindow& w() { return *window_; }

    static MainWindow* window_;
};
MainWindow* MainWindowTest::window_ = nullptr;

TEST_F(MainWindowTest, EveryControlMatchesItsRow)
{
    ASSERT_EQ(controls().size(), 90u);
    for (const Row& row : controls())
        checkControl(w(), row);
}

TEST_F(MainWindowTest, HasExactlyTheNinetyNamedControls)
{
    const std::multiset<QString> expected = tableNames();
    ASSERT_EQ(std::set<QString>(expected.begin(), expected.end()).size(), 90u);
    EXPECT_EQ(namedWidgets(w()), expected);
}

// The rows' Tab orders, by container.
std::map<std::string, std::map<int, QWidget*>> tabOrders(MainWindow& w)
{
    std::map<std::string, std::map<int, QWidget*>> byContainer;
    for (const Row& row : controls()) {
        if (row.settings.tab >= 0)
            byContainer[row.container][row.settings.tab] = row.member(w);
    }
    return byContainer;
}

// Presses Tab (or Shift+Tab) `count` times where the focus is, and returns
// each widget the focus lands on.
std::vector<QWidget*> tabWalk(MainWindow& w, int count, bool back = false)
{
    std::vector<QWidget*> visited;
    for (int i = 0; i < count; ++i) {
        QTest::keyClick(w.focusWidget() != nullptr ? w.focusWidget() : &w, Qt::Key_Tab,
                        back ? Qt::ShiftModifier : Qt::NoModifier);
        visited.push_back(w.focusWidget());
    }
    return visited;
}

TEST_F(MainWindowTest, TabOrderOfEachContainer)
{
    const auto byContainer = tabOrders(w());
    EXPECT_EQ(byContainer.size(), 3u);
    for (const auto& [name, order] : byContainer) {
        SCOPED_TRACE(name);
        int expectedIndex = 0;
        QWidget* previous = nullptr;
        for (const auto& [index, widget] : order) {
            EXPECT_EQ(index, expectedIndex++) << "Tab order has a gap";
            if (previous != nullptr) {
                QWidget* next = previous->nextInFocusChain();
                while (next != previous && !(next->focusPolicy() & Qt::TabFocus))
                    next = next->nextInFocusChain();
                EXPECT_EQ(next, widget) << previous->objectName().toStdString() << " -> "
                                        << widget->objectName().toStdString();
            }
            previous = widget;
        }
    }
}

// Tab goes round the current page's Tab order, and Shift+Tab back; nothing
// else on the window (buttons outside the order, the tab bar, other pages)
// takes the focus.
TEST_F(MainWindowTest, TabWalksTheCurrentPagesOrderOnly)
{
    w().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w(), 5000));
    const auto byContainer = tabOrders(w());
    for (const auto& [page, container] : {std::pair{Page::Login, "分组框1"},
                                          {Page::Registration, "page1"},
                                          {Page::Account, "page3"}}) {
        SCOPED_TRACE(container);
        std::vector<QWidget*> order;
        for (const auto& [index, widget] : byContainer.at(container))
            order.push_back(widget);
        w().选择夹1->setCurrentIndex(static_cast<int>(page));
        order.back()->setFocus();
        std::vector<QWidget*> expected = order;
        expected.insert(expected.end(), order.begin(), order.end());
        EXPECT_EQ(tabWalk(w(), static_cast<int>(expected.size())), expected);
        std::reverse(expected.begin(), expected.end());
        order.front()->setFocus();
        EXPECT_EQ(tabWalk(w(), static_cast<int>(expected.size()), true), expected);
    }
    // A page switch takes the focus into the new page's order.
    w().选择夹1->setCurrentIndex(0);
    std::set<QWidget*> login;
    for (const auto& [index, widget] : byContainer.at("分组框1"))
        login.insert(widget);
    EXPECT_TRUE(login.count(w().focusWidget()));
    w().hide();
}

TEST_F(MainWindowTest, WindowTitleSizePositionAndIcon)
{
    EXPECT_EQ(w().windowTitle(), QStringLiteral("Qiv免费域名转发"));
    w().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w(), 5000));
    // No window manager frames the window here: the client area is the
    // whole outer size.
    EXPECT_EQ(w().frameGeometry().size(), QSize(278, 564));
    EXPECT_EQ(w().minimumSize(), w().maximumSize()) << "the size is fixed";
    EXPECT_EQ(w().frameGeometry().topLeft(), QPoint(50, 50));
    // Sizes are in logical pixels; a second test entry runs at
    // QT_SCALE_FACTOR=2, where the window covers 556x1128 device pixels.
    const qreal factor = qEnvironmentVariableIsSet("QT_SCALE_FACTOR")
                             ? qEnvironmentVariable("QT_SCALE_FACTOR").toDouble()
                             : 1.0;
    EXPECT_EQ(w().devicePixelRatioF(), factor);
    // A fixed size: minimise and close, no maximise.
    EXPECT_FALSE(w().windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(w().windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(w().windowFlags().testFlag(Qt::WindowCloseButtonHint));
    EXPECT_TRUE(w().autoFillBackground());
    EXPECT_EQ(rgb(w().palette().color(QPalette::Window)), qRgb(255, 255, 255));
    const QList<QSize> sizes = w().windowIcon().availableSizes();
    for (int size : {16, 24, 32, 48})
        EXPECT_TRUE(sizes.contains(QSize(size, size))) << size;
    w().hide();
}

TEST_F(MainWindowTest, PagesCaptionsAndVisibility)
{
    QTabWidget* tabs = w().选择夹1;
    ASSERT_EQ(tabs->count(), 5);
    const char* captions[] = {"登 录", "注 册", "登录跳转", "主界面", "注册提示"};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(tabs->tabText(i), u(captions[i])) << i;
    EXPECT_EQ(tabs->currentIndex(), 0);
    EXPECT_EQ(rgb(tabs->palette().color(QPalette::Window)), qRgb(255, 255, 255));
    // All five headers fit the tab control: no scrolling through captions.
    EXPECT_LE(tabs->tabBar()->tabRect(4).right(), tabs->width() - 1);

    w().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w(), 5000));
    for (int page = 0; page < 5; ++page) {
        tabs->setCurrentIndex(page);
        EXPECT_EQ(rgb(tabs->widget(page)->palette().color(QPalette::Window)), qRgb(255, 255, 255));
        for (const Row& row : controls()) {
            QWidget* c = row.member(w());
            QWidget* owner = c;
            while (owner->parentWidget() != nullptr && owner->parentWidget() != tabs->widget(0) &&
                   owner->parentWidget() != tabs->widget(1) &&
                   owner->parentWidget() != tabs->widget(2) &&
                   owner->parentWidget() != tabs->widget(3) &&
                   owner->parentWidget() != tabs->widget(4))
                owner = owner->parentWidget();
            const int ownPage =
                owner->parentWidget() == nullptr ? -1 : tabs->indexOf(owner->parentWidget());
            const bool shown = ownPage == -1 || ownPage == page;
            EXPECT_EQ(c->isVisible(), shown) << row.name << " on page " << page;
        }
    }
    tabs->setCurrentIndex(0);
    w().hide();
}

TEST_F(MainWindowTest, PasswordBoxesLimitsAndMask)
{
    const std::pair<QLineEdit*, int> boxes[] = {
        {w().loginPage()->编辑框_密码_登录, 40},
        {w().registrationPage()->编辑框_密码_注册, 12},
        {w().registrationPage()->编辑框_确认密码_注册, 12},
        {w().accountPage()->编辑框_用户密码_修改资料, 12},
    };
    for (auto [box, kept] : boxes) {
        SCOPED_TRACE(box->objectName().toStdString());
        box->setFocus();
        QTest::keyClicks(box, QString(40, QLatin1Char('x')));
        EXPECT_EQ(box->text(), QString(kept, QLatin1Char('x')));
        EXPECT_EQ(box->displayText(), QString(kept, QLatin1Char('*')));
        EXPECT_EQ(box->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, box),
                  '*');
        box->clear();
    }
    // The mask is the password boxes' own: other boxes keep the application's style.
    EXPECT_EQ(w().loginPage()->编辑框_用户名_登录->style(), QApplication::style());
}

// Types text key by key, as a keyboard or input method would deliver it.
void type(QWidget* widget, const QString& text)
{
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &release);
    }
}

TEST_F(MainWindowTest, TelephoneBoxAdmitsDigitsAndHyphenOnly)
{
    QLineEdit* phone = w().registrationPage()->编辑框_电话_注册;
    const struct {
        const char* typed;
        const char* kept;
    } cases[] = {
        {"010-123456", "010-123456"},
        {"0a1b0-x9", "010-9"},
        {"+86 10", "8610"},
        {"电话12", "12"},
    };
    for (const auto& c : cases) {
        phone->clear();
        type(phone, u(c.typed));
        EXPECT_EQ(phone->text(), u(c.kept)) << c.typed;
    }
    phone->clear();
    // A plain box takes the same keys unfiltered.
    QLineEdit* plain = w().accountPage()->编辑框_电话_修改资料;
    QTest::keyClicks(plain, QStringLiteral("0a1"));
    EXPECT_EQ(plain->text(), QStringLiteral("0a1"));
    plain->clear();
}

TEST_F(MainWindowTest, ReadOnlyNameBoxRefusesTyping)
{
    QLineEdit* name = w().accountPage()->编辑框_姓名_修改资料;
    QTest::keyClicks(name, QStringLiteral("abc"));
    EXPECT_EQ(name->text(), QString());
    name->setText(QStringLiteral("张三"));
    EXPECT_EQ(name->text(), QStringLiteral("张三"));
    name->clear();
}

TEST_F(MainWindowTest, ComboBoxesTakeNoTyping)
{
    for (QComboBox* combo : {w().loginPage()->组合框1, w().registrationPage()->组合框2}) {
        EXPECT_EQ(combo->lineEdit(), nullptr);
        QTest::keyClicks(combo, QStringLiteral("com"));
        EXPECT_EQ(combo->currentIndex(), -1);
        EXPECT_EQ(combo->currentText(), QString());
    }
}

TEST_F(MainWindowTest, FontsHaveChineseGlyphsAtTheirPixelSize)
{
    // The Windows faces resolve to installed CJK fonts.
    for (QWidget* widget : std::initializer_list<QWidget*>{
             w().registrationPage()->透明标签5, w().registrationPage()->透明标签4,
             w().accountPage()->透明标签18, w().resultPage()->透明标签23, w().progressPage()->按钮3,
             w().loginPage()->按钮1}) {
        SCOPED_TRACE(widget->objectName().toStdString());
        const QFontInfo info(widget->font());
        EXPECT_TRUE(info.family().contains(QLatin1String("WenQuanYi")) ||
                    info.family().contains(QLatin1String("CJK")))
            << info.family().toStdString();
        EXPECT_EQ(info.pixelSize(), widget->font().pixelSize());
    }
}

// A control drawn into an image, for looking at its pixels.
QImage render(QWidget* widget)
{
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

bool isRed(QRgb p)
{
    return qRed(p) > 180 && qGreen(p) < 90 && qBlue(p) < 90;
}
bool isDark(QRgb p)
{
    return qRed(p) < 90 && qGreen(p) < 90 && qBlue(p) < 90;
}

int countPixels(const QImage& image, const QRect& area, bool (*test)(QRgb))
{
    int n = 0;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += test(image.pixel(x, y)) ? 1 : 0;
    return n;
}

TEST_F(MainWindowTest, GroupCaptionColourReachesOnlyTheCaption)
{
    qiv::CaptionGroupBox* group = w().loginPage()->分组框1;
    group->setCaptionColour(QColor(255, 0, 0));
    EXPECT_EQ(rgb(group->captionColour()), qRgb(255, 0, 0));
    w().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w(), 5000));
    const QImage image = render(group);
    const QRect caption(0, 0, group->width(), 14);
    EXPECT_GT(countPixels(image, caption, isRed), 10) << "caption not drawn red";
    // The children keep black text: no red below the caption.
    const QRect below(0, 15, group->width(), group->height() - 15);
    EXPECT_EQ(countPixels(image, below, isRed), 0);
    EXPECT_GT(countPixels(image, w().loginPage()->透明标签3->geometry(), isDark), 10);
    EXPECT_EQ(rgb(w().loginPage()->透明标签3->palette().color(QPalette::WindowText)),
              qRgb(0, 0, 0));

    // While the group is disabled the caption keeps its colour, and none of
    // the login controls takes input.
    // The focus leaves it, its labels grey out, and the focus comes back to
    // the first login box once the group is enabled again.
    w().loginPage()->编辑框_用户名_登录->setFocus();
    group->setEnabled(false);
    EXPECT_EQ(w().focusWidget(), nullptr);
    EXPECT_GT(countPixels(render(group), caption, isRed), 10);
    EXPECT_EQ(countPixels(render(group), w().loginPage()->透明标签3->geometry(), isDark), 0);
    for (QWidget* child : group->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        EXPECT_FALSE(child->isEnabled()) << child->objectName().toStdString();
    group->setEnabled(true);
    EXPECT_EQ(w().focusWidget(), w().loginPage()->编辑框_用户名_登录);
    group->setCaptionColour(QColor(0, 0, 0));
    EXPECT_EQ(countPixels(render(group), caption, isRed), 0);
    w().hide();
}

// The bounding box of the pixels drawn for `text` in `font` when laid out in
// `box` with `flags`, on an image large enough never to clip it.
// The ink of a text drawn as the widget draws it, in device pixels: at a
// scale factor of 2 every logical pixel is two, and the glyphs are hinted
// for the larger size.
QRect inkOf(const QString& text, const QFont& font, const QRect& box, int flags, qreal scale)
{
    QImage image(QSize(box.width() + 400, box.height() + 400) * scale, QImage::Format_ARGB32);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(box, flags | Qt::TextDontClip, text);
    }
    QRect ink;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 64)
                ink |= QRect(x, y, 1, 1);
    return ink;
}

// Runs at the scale factor the test process was started with (a second
// test entry sets QT_SCALE_FACTOR=2).
TEST_F(MainWindowTest, NoTextIsCutOff)
{
    for (const Row& row : controls()) {
        const QString text = u(row.text);
        if (text.isEmpty())
            continue;
        SCOPED_TRACE(row.name);
        QWidget* widget = row.member(w());
        QRect room(0, 0, widget->width(), widget->height());
        int flags = Qt::AlignLeft | Qt::AlignTop;
        switch (row.kind) {
        case Kind::Label:
        case Kind::Link:
            if (row.settings.wrap) {
                flags |= Qt::TextWordWrap;
                room.setHeight(1000); // find out how tall the wrapped text is
            }
            break;
        case Kind::Check: {
            // The caption starts after the tick box and its spacing.
            const QStyle* style = widget->style();
            room.setLeft(style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, widget) +
                         style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, widget));
            break;
        }
        case Kind::Button:
            room.adjust(3, 0, -3, 0); // the bevel
            break;
        case Kind::Group:
            continue; // the caption draws in the top edge, outside any child
        default:
            continue;
        }
        const qreal scale = widget->devicePixelRatioF();
        const QRect ink = inkOf(text, widget->font(), room, flags, scale);
        ASSERT_FALSE(ink.isNull());
        const int right = qRound((room.right() + 1) * scale) - 1;
        const int bottom = qRound(widget->height() * scale) - 1;
        EXPECT_LE(ink.right(), right) << "too wide by " << ink.right() - right;
        EXPECT_LE(ink.bottom(), bottom) << "too tall by " << ink.bottom() - bottom;
    }
}

// The program switches the application style once the window exists; the
// window's own settings must survive that.
TEST(MainWindowStyle, SettingsSurviveAnApplicationStyleChange)
{
    const QString before = QApplication::style()->name();
    MainWindow w(MainWindow::Options{false});
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w, 5000));
    EXPECT_EQ(w.focusWidget(), w.loginPage()->编辑框_用户名_登录) << "the first focus";
    // Without a window manager nothing activates the window by itself.
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w, 5000));
    EXPECT_EQ(QApplication::focusWidget(), w.loginPage()->编辑框_用户名_登录);
    for (const char* name : {"Windows", "Fusion"}) {
        SCOPED_TRACE(name);
        QStyle* style = QStyleFactory::create(QString::fromLatin1(name));
        ASSERT_NE(style, nullptr);
        QApplication::setStyle(style);
        for (const Row& row : controls())
            checkControl(w, row);
        EXPECT_EQ(w.font().pixelSize(), 12);
        EXPECT_LE(w.选择夹1->tabBar()->tabRect(4).right(), w.选择夹1->width() - 1);
        w.loginPage()->分组框1->setCaptionColour(QColor(255, 0, 0));
        EXPECT_GT(countPixels(render(w.loginPage()->分组框1),
                              QRect(0, 0, w.loginPage()->分组框1->width(), 14), isRed),
                  10);
        w.loginPage()->分组框1->setCaptionColour(QColor(0, 0, 0));
    }
    QApplication::setStyle(QStyleFactory::create(before));
}

// Receives the addresses the desktop would open.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.append(url); }
};

class UrlHandlerScope {
public:
    explicit UrlHandlerScope(UrlCatcher* catcher)
    {
        QDesktopServices::setUrlHandler(QStringLiteral("http"), catcher, "open");
    }
    ~UrlHandlerScope() { QDesktopServices::unsetUrlHandler(QStringLiteral("http")); }
};

TEST_F(MainWindowTest, HyperlinkPressEmitsOnLeftPressOnly)
{
    qiv::HyperlinkBox* link = w().resultPage()->超级链接框_返回注册;
    QSignalSpy spy(link, &qiv::HyperlinkBox::pressed);
    QTest::mousePress(link, Qt::RightButton);
    QTest::mouseRelease(link, Qt::RightButton);
    EXPECT_EQ(spy.count(), 0);
    QTest::mousePress(link, Qt::LeftButton);
    EXPECT_EQ(spy.count(), 1) << "the press, not the release, counts";
    QTest::mouseRelease(link, Qt::LeftButton);
    EXPECT_EQ(spy.count(), 1);
}

TEST_F(MainWindowTest, DomainLinkColoursAndAddress)
{
    UrlCatcher catcher;
    UrlHandlerScope scope(&catcher);
    qiv::HyperlinkBox* link = w().accountPage()->超级链接框_域名地址;
    auto colour = [&] { return rgb(link->palette().color(QPalette::WindowText)); };
    EXPECT_EQ(colour(), qRgb(0, 0, 0));

    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), link->mapToGlobal(QPointF(2, 2)));
    QApplication::sendEvent(link, &enter);
    EXPECT_EQ(colour(), qRgb(0, 96, 192)) << "hover";
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(link, &leave);
    EXPECT_EQ(colour(), qRgb(0, 0, 0));

    link->setLinkAddress(QStringLiteral("http://me.example.test/"));
    EXPECT_EQ(link->text(), QStringLiteral("http://me.example.test/"));
    QSignalSpy spy(link, &qiv::HyperlinkBox::pressed);
    QTest::mousePress(link, Qt::LeftButton);
    EXPECT_EQ(spy.count(), 1);
    EXPECT_TRUE(catcher.urls.isEmpty()) << "opened on the press";
    QTest::mouseRelease(link, Qt::LeftButton);
    ASSERT_EQ(catcher.urls.size(), 1);
    EXPECT_EQ(catcher.urls[0], QUrl(QStringLiteral("http://me.example.test/")));
    EXPECT_EQ(colour(), qRgb(51, 94, 168)) << "visited";
    link->setLinkAddress(QStringLiteral("http://"));
}

TEST(HyperlinkBox, ShowsItsOwnTextOverTheAddress)
{
    UrlCatcher catcher;
    UrlHandlerScope scope(&catcher);
    qiv::HyperlinkBox box(QStringLiteral("返回"), QColor(1, 2, 3), QColor(4, 5, 6),
                          QColor(7, 8, 9));
    box.resize(60, 16);
    QTest::mouseClick(&box, Qt::LeftButton);
    EXPECT_TRUE(catcher.urls.isEmpty()) << "no address, nothing to open";
    EXPECT_EQ(rgb(box.palette().color(QPalette::WindowText)), qRgb(7, 8, 9));
    box.setLinkAddress(QStringLiteral("http://a.example.test/x"));
    EXPECT_EQ(box.text(), QStringLiteral("返回"));
    QTest::mouseClick(&box, Qt::LeftButton);
    ASSERT_EQ(catcher.urls.size(), 1);
    EXPECT_EQ(catcher.urls[0].toString(), QStringLiteral("http://a.example.test/x"));

    // A press dragged out of the box before its release opens nothing.
    QTest::mousePress(&box, Qt::LeftButton);
    QTest::mouseRelease(&box, Qt::LeftButton, {}, QPoint(70, 8));
    EXPECT_EQ(catcher.urls.size(), 1);
    QTest::mouseClick(&box, Qt::LeftButton);
    ASSERT_EQ(catcher.urls.size(), 2);
    EXPECT_EQ(catcher.urls[1].toString(), QStringLiteral("http://a.example.test/x"));
}

TEST(TransparentLabel, PageShowsThroughAndColourIsSettable)
{
    QWidget page;
    page.resize(100, 40);
    QPalette pal = page.palette();
    pal.setColor(QPalette::Window, QColor(255, 255, 0));
    page.setPalette(pal);
    page.setAutoFillBackground(true);
    auto* label = new qiv::TransparentLabel(QStringLiteral("注册"), &page);
    label->setGeometry(0, 0, 100, 40);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setTextColour(QColor(0, 0, 255));
    EXPECT_EQ(rgb(label->textColour()), qRgb(0, 0, 255));
    const QImage image = render(&page);
    EXPECT_EQ(image.pixel(90, 35), qRgb(255, 255, 0)) << "the label painted a background";
    auto isBlue = [](QRgb p) { return qBlue(p) > 180 && qRed(p) < 90 && qGreen(p) < 90; };
    EXPECT_GT(countPixels(image, QRect(0, 0, 40, 20), isBlue), 5);
}

TEST(SeparatorLine, DrawsOnePixelLine)
{
    QWidget page;
    page.resize(100, 10);
    QPalette pal = page.palette();
    pal.setColor(QPalette::Window, Qt::white);
    page.setPalette(pal);
    page.setAutoFillBackground(true);
    auto* line = new qiv::SeparatorLine(&page);
    line->setGeometry(10, 5, 80, 1);
    EXPECT_EQ(line->height(), 1);
    const QImage image = render(&page);
    EXPECT_NE(image.pixel(50, 5), qRgb(255, 255, 255));
    EXPECT_EQ(image.pixel(50, 4), qRgb(255, 255, 255));
    EXPECT_EQ(image.pixel(50, 6), qRgb(255, 255, 255));
}

// A loopback HTTP server that records each request line and answers a small
// page; with `refuse` nothing listens on the port.
class AdServer : public QObject {
public:
    AdServer()
    {
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = server_.nextPendingConnection()) {
                connect(s, &QTcpSocket::readyRead, s, [this, s] {
                    QByteArray& buffer = pending_[s];
                    buffer += s->readAll();
                    if (!buffer.contains("\r\n\r\n"))
                        return;
                    requestLines.append(buffer.left(buffer.indexOf("\r\n")));
                    pending_.remove(s);
                    const QByteArray body = "<html><body>ad</body></html>";
                    s->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                             QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" +
                             body);
                    s->disconnectFromHost();
                });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
    }
    bool listen() { return server_.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0); }
    QByteArray host() const { return "127.0.0.1:" + QByteArray::number(server_.serverPort()); }
    void close() { server_.close(); }

    QList<QByteArray> requestLines;

private:
    QTcpServer server_;
    QHash<QTcpSocket*, QByteArray> pending_;
};

MainWindow::Options withViewsFrom(const QByteArray& host)
{
    return MainWindow::Options{.browserViews = true, .adHost = host.toStdString()};
}

struct AdBox {
    QWidget* (*member)(MainWindow&);
    const char* path; // as it goes on the wire
};

const AdBox kAdBoxes[] = {
    {[](MainWindow& w) { return w.超文本浏览框1; }, "/%5C280.html"},
    {[](MainWindow& w) { return w.超文本浏览框3; }, "/%5C270x270.html"},
    {[](MainWindow& w) { return w.超文本浏览框2; }, "/%5C250x90.html"},
    {[](MainWindow& w) { return w.超文本浏览框4; }, "/%5C199.html"},
};

TEST(MainWindowWeb, AdvertisementBoxesLoadTheirPagesFromTheAdHost)
{
    AdServer server;
    ASSERT_TRUE(server.listen());
    MainWindow w(withViewsFrom(server.host()));
    for (const Row& row : controls())
        checkControl(w, row);
    EXPECT_EQ(namedWidgets(w), tableNames());

    // The window is shown before the views exist; they fill their boxes.
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w, 5000));
    for (const AdBox& box : kAdBoxes)
        EXPECT_EQ(MainWindow::browserView(box.member(w)), nullptr);
    w.startBrowserViews();
    w.startBrowserViews(); // once only
    std::vector<std::unique_ptr<QSignalSpy>> finished;
    for (const AdBox& box : kAdBoxes) {
        QWebEngineView* view = MainWindow::browserView(box.member(w));
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(box.member(w)->findChildren<QWebEngineView*>().size(), 1);
        EXPECT_EQ(view->geometry(), box.member(w)->rect());
        EXPECT_TRUE(view->isVisibleTo(box.member(w)));
        EXPECT_TRUE(view->page()->profile()->isOffTheRecord());
        finished.push_back(std::make_unique<QSignalSpy>(view, &QWebEngineView::loadFinished));
    }
    const bool allLoaded = QTest::qWaitFor(
        [&] {
            for (const auto& spy : finished)
                if (spy->isEmpty())
                    return false;
            return true;
        },
        60000);
    ASSERT_TRUE(allLoaded);
    for (const auto& spy : finished)
        EXPECT_TRUE(spy->first().at(0).toBool());
    for (const AdBox& box : kAdBoxes) {
        QWebEngineView* view = MainWindow::browserView(box.member(w));
        // Neither the view nor what the engine put inside takes the focus.
        EXPECT_EQ(view->focusPolicy(), Qt::NoFocus);
        ASSERT_NE(view->focusProxy(), nullptr);
        EXPECT_EQ(view->focusProxy()->focusPolicy(), Qt::NoFocus);
        const QUrl url = view->url();
        EXPECT_EQ(url.toEncoded(), "http://" + server.host() + box.path);
        // The backslash is a character of the path, not a separator.
        EXPECT_EQ(url.path(), u(box.path).replace(QStringLiteral("%5C"), QStringLiteral("\\")));
    }
    for (const AdBox& box : kAdBoxes)
        EXPECT_TRUE(server.requestLines.contains("GET " + QByteArray(box.path) + " HTTP/1.1"))
            << box.path << " not requested; got " << server.requestLines.join(' ').toStdString();
    // Tab stays in the login page's order, also with the views loaded.
    w.loginPage()->编辑框_用户名_登录->setFocus();
    const std::vector<QWidget*> order{w.loginPage()->编辑框_用户名_登录, w.loginPage()->组合框1,
                                      w.loginPage()->编辑框_密码_登录};
    const std::vector<QWidget*> twice{order[1], order[2], order[0], order[1], order[2], order[0]};
    EXPECT_EQ(tabWalk(w, 6), twice);
}

TEST(MainWindowWeb, FailedLoadLeavesTheBoxEmpty)
{
    AdServer server;
    ASSERT_TRUE(server.listen());
    const QByteArray refusing = server.host();
    server.close(); // nothing listens there now
    MainWindow w(withViewsFrom(refusing));
    w.show();
    w.startBrowserViews();
    QWebEngineView* view = MainWindow::browserView(w.超文本浏览框1);
    ASSERT_NE(view, nullptr);
    QSignalSpy finished(view, &QWebEngineView::loadFinished);
    ASSERT_TRUE(finished.wait(60000) || !finished.isEmpty());
    EXPECT_FALSE(finished.first().at(0).toBool());

    std::optional<QString> text;
    view->page()->toPlainText([&](const QString& t) { text = t; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return text.has_value(); }, 10000));
    EXPECT_EQ(text->trimmed(), QString()) << "an error page was shown: " << text->toStdString();
}

} // namespace

#include "main_window_test.moc"
