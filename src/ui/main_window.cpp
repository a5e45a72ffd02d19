#include "ui/main_window.h"

#include "ui/ad_views.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QEvent>
#include <QFont>
#include <QIcon>
#include <QMouseEvent>
#include <QProxyStyle>
#include <QRegularExpressionValidator>

#include <initializer_list>
#include <mutex>

// The icons live in this static library; the linker keeps them only when the
// initialiser is referenced. Q_INIT_RESOURCE must be used outside namespaces.
static void initWindowResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace qiv {
namespace {

constexpr QSize kOuterSize{278, 564};
constexpr QPoint kDesignedPosition{50, 50};

// The default GUI font: WenQuanYi's bitmap face at 12 px has the 12-pixel
// line pitch the two-line labels were laid out for; a slightly tighter
// spacing lets the Latin texts ("HTTP://", "格式：010-123456") fit their boxes.
QFont defaultGuiFont()
{
    QFont f;
    f.setFamilies({QStringLiteral("WenQuanYi Zen Hei Sharp"), QStringLiteral("WenQuanYi Zen Hei"),
                   QStringLiteral("Noto Sans CJK SC")});
    f.setPixelSize(12);
    f.setLetterSpacing(QFont::AbsoluteSpacing, -0.5);
    return f;
}

// The window's own faces are Windows fonts; map them onto the CJK fonts the
// setup installs, and make the default GUI font one that has the Chinese
// glyphs (message boxes use it too).
void installFonts()
{
    static std::once_flag once;
    std::call_once(once, [] {
        QFont::insertSubstitutions(QStringLiteral("宋体"), {QStringLiteral("WenQuanYi Zen Hei"),
                                                            QStringLiteral("Noto Serif CJK SC"),
                                                            QStringLiteral("Noto Sans CJK SC")});
        QFont::insertSubstitutions(QStringLiteral("微软雅黑"),
                                   {QStringLiteral("WenQuanYi Micro Hei"),
                                    QStringLiteral("Noto Sans CJK SC"),
                                    QStringLiteral("WenQuanYi Zen Hei")});
        QApplication::setFont(defaultGuiFont());
    });
}

QFont faceFont(const char* face, int pixelSize, bool bold)
{
    QFont f(QString::fromUtf8(face));
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

// The few places where the window differs from the application's style:
// password boxes mask with "*" (Qt takes the mask from the style), and the
// tab headers are narrow enough for all five captions to fit the 272-pixel
// tab control without scroll buttons.
class WindowStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }

    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override
    {
        if (metric == PM_TabBarTabHSpace)
            return 12;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

// Keeps the window's outer size (frame included) at its design. The frame is
// known only once the window manager has framed the window; without one the
// client area gets the whole size.
class OuterSizeKeeper : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::Show:
        case QEvent::Move:
        case QEvent::Resize:
            fit(static_cast<QWidget*>(watched));
            break;
        default:
            break;
        }
        return false;
    }

private:
    static void fit(QWidget* window)
    {
        const QSize frame = window->frameGeometry().size() - window->geometry().size();
        if (frame.width() < 0 || frame.height() < 0 || frame.width() >= kOuterSize.width() / 2 ||
            frame.height() >= kOuterSize.height() / 2)
            return;
        const QSize client = kOuterSize - frame;
        if (window->size() != client)
            window->setFixedSize(client);
    }
};

// A control's member and its objectName come from the one identifier.
#define NAMED(member) member, #member

template <class W> W* place(W* widget, W*& member, const char* name, const QRect& geometry)
{
    member = widget;
    widget->setObjectName(QString::fromUtf8(name));
    widget->setGeometry(geometry);
    return widget;
}

TransparentLabel* label(QWidget* parent, TransparentLabel*& member, const char* name,
                        const QRect& geometry, const char* text)
{
    auto* l = place(new TransparentLabel(QString::fromUtf8(text), parent), member, name, geometry);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return l;
}

TransparentLabel* styledLabel(QWidget* parent, TransparentLabel*& member, const char* name,
                              const QRect& geometry, const char* text, const QFont& font,
                              const QColor& colour = QColor(0, 0, 0))
{
    TransparentLabel* l = label(parent, member, name, geometry, text);
    l->setFont(font);
    l->setTextColour(colour);
    return l;
}

QLineEdit* edit(QWidget* parent, QLineEdit*& member, const char* name, const QRect& geometry)
{
    return place(new QLineEdit(parent), member, name, geometry);
}

QLineEdit* passwordEdit(QWidget* parent, QStyle* style, QLineEdit*& member, const char* name,
                        const QRect& geometry)
{
    QLineEdit* e = edit(parent, member, name, geometry);
    e->setEchoMode(QLineEdit::Password);
    e->setStyle(style);
    return e;
}

void setBase(QWidget* widget, const QColor& colour)
{
    QPalette pal = widget->palette();
    pal.setColor(QPalette::Base, colour);
    widget->setPalette(pal);
}

QComboBox* combo(QWidget* parent, QComboBox*& member, const char* name, const QRect& geometry)
{
    auto* c = place(new QComboBox(parent), member, name, geometry);
    c->setEditable(false);
    return c;
}

QPushButton* button(QWidget* parent, QPushButton*& member, const char* name, const QRect& geometry,
                    const char* text)
{
    return place(new QPushButton(QString::fromUtf8(text), parent), member, name, geometry);
}

QCheckBox* checkBox(QWidget* parent, QCheckBox*& member, const char* name, const QRect& geometry,
                    const char* text)
{
    return place(new QCheckBox(QString::fromUtf8(text), parent), member, name, geometry);
}

SeparatorLine* separator(QWidget* parent, SeparatorLine*& member, const char* name, int left,
                         int top, int width)
{
    return place(new SeparatorLine(parent), member, name, QRect(left, top, width, 1));
}

HyperlinkBox* link(QWidget* parent, HyperlinkBox*& member, const char* name, const QRect& geometry,
                   const char* text, QRgb normal, QRgb hover, QRgb visited)
{
    auto* h = new HyperlinkBox(QString::fromUtf8(text), QColor(normal), QColor(hover),
                               QColor(visited), parent);
    return place(h, member, name, geometry);
}

void setWhiteBackground(QWidget* widget)
{
    QPalette pal = widget->palette();
    pal.setColor(QPalette::Window, Qt::white);
    widget->setPalette(pal);
    widget->setAutoFillBackground(true);
}

// A screen reader names an input after the label beside it: the label's text
// without its trailing colon. As the input's buddy the label is also what the
// input is "labelled by".
void labelInput(QLabel* label, QWidget* input)
{
    label->setBuddy(input);
    QString name = label->text().trimmed();
    if (name.endsWith(u':') || name.endsWith(u'：'))
        name.chop(1);
    input->setAccessibleName(name.trimmed());
}

// The hint beside an input is read after its name.
void describeInput(QLabel* hint, QWidget* input)
{
    input->setAccessibleDescription(hint->text());
}

// A hyperlink box is announced as a link, named by the text it shows, and a
// screen reader's press acts as a click on it.
class HyperlinkAccessible : public QAccessibleWidget {
public:
    explicit HyperlinkAccessible(HyperlinkBox* box) : QAccessibleWidget(box, QAccessible::Link) {}

    // The name is what the box shows (the domain's address for the account
    // page's link), not the buddy label's text, which stays the label.
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<HyperlinkBox*>(widget())->text();
        return QAccessibleWidget::text(t);
    }

    QStringList actionNames() const override
    {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& action) override
    {
        if (action != pressAction()) {
            QAccessibleWidget::doAction(action);
            return;
        }
        const QPointF centre = QRectF(widget()->rect()).center();
        const QPointF global = widget()->mapToGlobal(centre);
        QMouseEvent press(QEvent::MouseButtonPress, centre, global, Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(widget(), &press);
        QMouseEvent release(QEvent::MouseButtonRelease, centre, global, Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(widget(), &release);
    }
};

QAccessibleInterface* hyperlinkAccessible(const QString& className, QObject* object)
{
    if (className == QLatin1String("qiv::HyperlinkBox"))
        return new HyperlinkAccessible(static_cast<HyperlinkBox*>(object));
    return nullptr;
}

void installAccessibleFactories()
{
    static std::once_flag once;
    std::call_once(once, [] { QAccessible::installFactory(hyperlinkAccessible); });
}

} // namespace

MainWindow::MainWindow(Options options) : QWidget(nullptr), options_(std::move(options))
{
    initWindowResources();
    installFonts();
    // This widget took the application font before the line above ran.
    setFont(defaultGuiFont());

    QStyle* windowStyle = buildFrame();
    buildLoginPage(选择夹1->widget(0), windowStyle);
    buildRegistrationPage(选择夹1->widget(1), windowStyle);
    buildLoginProgressPage(选择夹1->widget(2));
    buildAccountPage(选择夹1->widget(3), windowStyle);
    buildRegistrationResultPage(选择夹1->widget(4));
    选择夹1->setCurrentIndex(0);

    nameForScreenReaders();
    keepTabInTheOrders();
    // The login group loses the focus while it is disabled (during the
    // start-up fetches and a login); it gets it back when enabled again.
    分组框1->installEventFilter(this);
    编辑框_用户名_登录->setFocus();
    if (options_.browserViews)
        AdViews::prepareWindow(this);
}

// The window itself, the top banner and the tab control with its five
// empty pages.
QStyle* MainWindow::buildFrame()
{
    setWindowTitle(QStringLiteral("Qiv免费域名转发"));
    // The size is fixed: nothing to maximise.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    QIcon icon;
    for (int size : {48, 32, 24, 16})
        icon.addFile(QStringLiteral(":/icons/qiv-forward-%1.png").arg(size), QSize(size, size));
    setWindowIcon(icon);
    setWhiteBackground(this);
    setFixedSize(kOuterSize);
    move(kDesignedPosition);
    installEventFilter(new OuterSizeKeeper(this));

    place(new QWidget(this), NAMED(超文本浏览框1), {-56, -16, 400, 112});
    place(new QTabWidget(this), NAMED(选择夹1), {0, 96, 272, 472});
    setWhiteBackground(选择夹1);
    // A child of the tab control created after its tab bar and page stack, so it
    // is destroyed after every widget that uses it.
    auto* windowStyle = new WindowStyle();
    windowStyle->setParent(选择夹1);
    选择夹1->tabBar()->setStyle(windowStyle);
    for (const char* caption : {"登 录", "注 册", "登录跳转", "主界面", "注册提示"}) {
        auto* page = new QWidget();
        setWhiteBackground(page);
        选择夹1->addTab(page, QString::fromUtf8(caption));
    }
    return windowStyle;
}

void MainWindow::buildLoginPage(QWidget* p, QStyle* windowStyle)
{
    label(p, NAMED(透明标签_申请个数), {56, 24, 152, 24}, "用户统计拉取中.....")
        ->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    place(new CaptionGroupBox(QStringLiteral("登 录"), p), NAMED(分组框1), {8, 76, 256, 96});
    QWidget* g = 分组框1;
    edit(g, NAMED(编辑框_用户名_登录), {48, 16, 72, 20});
    label(g, NAMED(透明标签2), {120, 16, 8, 16}, ".");
    combo(g, NAMED(组合框1), {128, 16, 121, 20});
    label(g, NAMED(透明标签1), {8, 18, 40, 16}, "HTTP://");
    passwordEdit(g, windowStyle, NAMED(编辑框_密码_登录), {48, 40, 128, 20});
    label(g, NAMED(透明标签3), {8, 44, 37, 16}, "密 码：");
    button(g, NAMED(按钮1), {8, 65, 64, 24}, "注册");
    button(g, NAMED(按钮_登录), {91, 65, 64, 24}, "登 录");
    button(g, NAMED(按钮_取消), {180, 65, 64, 24}, "退 出");
    place(new QWidget(p), NAMED(超文本浏览框3), {-64, 176, 416, 256});
    chainTabOrder(Page::Login, {编辑框_用户名_登录, 组合框1, 编辑框_密码_登录});
}

void MainWindow::buildRegistrationPage(QWidget* p, QStyle* windowStyle)
{
    const QFont bold12 = faceFont("宋体", 12, true);
    const QColor blue(0, 0, 255);
    styledLabel(p, NAMED(透明标签5), {12, 2, 248, 24}, "注册域名", faceFont("宋体", 16, true), blue)
        ->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    separator(p, NAMED(分隔条3), 8, 25, 256);
    button(p, NAMED(按钮_检查域名_注册), {67, 31, 64, 20}, "检查域名");
    styledLabel(p, NAMED(透明标签4), {5, 34, 56, 16}, "申请域名:", bold12);
    label(p, NAMED(透明标签_检查域名), {136, 35, 136, 16}, "")->setTextColour(QColor(0, 136, 255));
    edit(p, NAMED(编辑框_用户名_注册), {56, 52, 76, 20});
    styledLabel(p, NAMED(透明标签7), {133, 52, 8, 20}, ".", bold12);
    combo(p, NAMED(组合框2), {140, 52, 121, 20});
    label(p, NAMED(透明标签6), {13, 55, 40, 16}, "http://");
    passwordEdit(p, windowStyle, NAMED(编辑框_密码_注册), {68, 72, 92, 20})->setMaxLength(12);
    label(p, NAMED(透明标签35), {160, 72, 96, 24}, "可用6-12位,区分大小写,请牢记")
        ->setWordWrap(true);
    styledLabel(p, NAMED(透明标签8), {5, 76, 56, 16}, "用户密码:", bold12);
    passwordEdit(p, windowStyle, NAMED(编辑框_确认密码_注册), {68, 93, 92, 20})->setMaxLength(12);
    styledLabel(p, NAMED(透明标签9), {5, 97, 56, 16}, "确认密码:", bold12);
    label(p, NAMED(透明标签38), {160, 97, 72, 16}, "重新输入密码");
    edit(p, NAMED(编辑框_主页名称_注册), {68, 117, 190, 20});
    styledLabel(p, NAMED(透明标签10), {5, 121, 56, 16}, "主页名称:", bold12);
    edit(p, NAMED(编辑框_转向地址_注册), {68, 140, 189, 20});
    styledLabel(p, NAMED(透明标签11), {5, 144, 56, 16}, "转向地址:", bold12);
    checkBox(p, NAMED(选择框_隐藏_注册), {138, 161, 122, 16}, "是否隐藏真实URL？");
    label(p, NAMED(透明标签39), {0, 162, 136, 16}, "(域名转向地址,可为网址)");
    separator(p, NAMED(分隔条1), 8, 184, 256);
    styledLabel(p, NAMED(透明标签13), {20, 184, 231, 24}, "请认真填写以下注册人信息(必填)",
                faceFont("宋体", 14, true), blue)
        ->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    edit(p, NAMED(编辑框_邮箱_注册), {72, 205, 182, 20});
    styledLabel(p, NAMED(透明标签12), {5, 208, 67, 16}, "联系Email:", bold12);
    edit(p, NAMED(编辑框_姓名_注册), {77, 228, 59, 20});
    label(p, NAMED(透明标签36), {138, 230, 120, 16}, "必填,注册后不得更改");
    styledLabel(p, NAMED(透明标签14), {5, 232, 75, 16}, "注册人姓名:", bold12);
    QLineEdit* phone = edit(p, NAMED(编辑框_电话_注册), {67, 249, 87, 20});
    // Telephone numbers as the hint beside the box writes them: digits and "-".
    phone->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9-]*")), phone));
    label(p, NAMED(透明标签37), {156, 252, 100, 16}, "格式：010-123456");
    styledLabel(p, NAMED(透明标签15), {5, 253, 59, 16}, "联系电话:", bold12);
    edit(p, NAMED(编辑框_联系地址_注册), {67, 269, 187, 20});
    styledLabel(p, NAMED(透明标签16), {5, 274, 59, 16}, "联系地址:", bold12);
    separator(p, NAMED(分隔条2), 8, 293, 256);
    button(p, NAMED(按钮_返回登录), {54, 300, 64, 24}, "返回登录");
    button(p, NAMED(按钮_注册), {160, 300, 64, 24}, "提交注册");
    place(new QWidget(p), NAMED(超文本浏览框2), {-24, 328, 344, 104});
    chainTabOrder(Page::Registration,
                  {编辑框_用户名_注册, 组合框2, 编辑框_密码_注册, 编辑框_确认密码_注册,
                   编辑框_主页名称_注册, 编辑框_转向地址_注册, 选择框_隐藏_注册, 编辑框_邮箱_注册,
                   编辑框_姓名_注册, 编辑框_电话_注册, 编辑框_联系地址_注册});
}

// The button is a notice: nothing is bound to it.
void MainWindow::buildLoginProgressPage(QWidget* p)
{
    button(p, NAMED(按钮3), {66, 120, 140, 24}, "正在登录...")->setFont(faceFont("宋体", 12, true));
}

void MainWindow::buildAccountPage(QWidget* p, QStyle* windowStyle)
{
    styledLabel(p, NAMED(透明标签18), {24, 3, 224, 24}, "修改资料", faceFont("微软雅黑", 16, false),
                QColor(0, 0, 255))
        ->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    separator(p, NAMED(分隔条6), 8, 26, 256);
    link(p, NAMED(超级链接框_域名地址), {64, 32, 200, 16}, "", qRgb(0, 0, 0), qRgb(0, 96, 192),
         qRgb(51, 94, 168))
        ->setLinkAddress(QStringLiteral("http://"));
    label(p, NAMED(透明标签19), {8, 33, 56, 16}, "您的域名:");
    QLineEdit* password =
        passwordEdit(p, windowStyle, NAMED(编辑框_用户密码_修改资料), {64, 56, 96, 20});
    password->setMaxLength(12);
    setBase(password, QColor(236, 236, 236));
    label(p, NAMED(透明标签22), {160, 56, 80, 24}, "不修改请留空!");
    label(p, NAMED(透明标签20), {8, 60, 56, 16}, "用户密码:");
    edit(p, NAMED(编辑框_主页名称_修改资料), {64, 80, 160, 20});
    label(p, NAMED(透明标签21), {8, 85, 56, 16}, "主页名称:");
    edit(p, NAMED(编辑框_转向地址_修改资料), {64, 104, 160, 20});
    label(p, NAMED(透明标签24), {8, 109, 56, 16}, "转向地址:");
    checkBox(p, NAMED(选择框2), {64, 125, 128, 16}, "是否隐藏真实URL？");
    label(p, NAMED(透明标签30), {182, 141, 91, 24}, "用于重发密码用,请填写真实信箱")
        ->setWordWrap(true);
    edit(p, NAMED(编辑框_邮箱_修改资料), {72, 146, 109, 20});
    label(p, NAMED(透明标签25), {8, 150, 64, 16}, "站长EMAIL:");
    QLineEdit* name = edit(p, NAMED(编辑框_姓名_修改资料), {78, 170, 90, 20});
    name->setReadOnly(true);
    setBase(name, QColor(192, 192, 192));
    label(p, NAMED(透明标签26), {8, 174, 64, 16}, "注册人姓名:");
    label(p, NAMED(透明标签28), {168, 174, 72, 16}, "本项不能更改");
    edit(p, NAMED(编辑框_电话_修改资料), {64, 195, 104, 20});
    label(p, NAMED(透明标签27), {8, 199, 56, 16}, "联系电话:");
    label(p, NAMED(透明标签29), {168, 200, 88, 16}, "必填,包括区号");
    edit(p, NAMED(编辑框_联系地址_修改资料), {64, 220, 160, 20});
    label(p, NAMED(透明标签31), {8, 223, 51, 16}, "联系地址:");
    label(p, NAMED(透明标签32), {224, 224, 24, 16}, "必填")->setTextColour(QColor(255, 0, 0));
    label(p, NAMED(透明标签33), {6, 240, 232, 20}, "* 隐藏真实url后地址栏将一直显示您的域名");
    separator(p, NAMED(分隔条4), 8, 262, 256);
    button(p, NAMED(按钮_删除域名), {8, 272, 80, 24}, "删除此域名");
    button(p, NAMED(按钮_刷新资料), {136, 272, 56, 24}, "刷新");
    button(p, NAMED(按钮_修改资料), {208, 272, 56, 24}, "修改");
    place(new QListWidget(p), NAMED(列表框1), {8, 304, 256, 88});
    QPalette pal = 列表框1->palette();
    pal.setColor(QPalette::Text, QColor(0, 136, 255));
    pal.setColor(QPalette::Base, Qt::white);
    列表框1->setPalette(pal);
    label(p, NAMED(透明标签_公网IP), {8, 392, 208, 16}, "您当前公网IP:");
    chainTabOrder(Page::Account,
                  {编辑框_用户密码_修改资料, 编辑框_主页名称_修改资料, 编辑框_转向地址_修改资料,
                   选择框2, 编辑框_邮箱_修改资料, 编辑框_姓名_修改资料, 编辑框_电话_修改资料,
                   编辑框_联系地址_修改资料, 按钮_修改资料});
}

// The links lie inside the result text's area and stay above it.
void MainWindow::buildRegistrationResultPage(QWidget* p)
{
    styledLabel(p, NAMED(透明标签23), {8, 8, 216, 32}, "申请域名", faceFont("宋体", 20, true),
                QColor(0, 0, 255));
    separator(p, NAMED(分隔条7), 8, 37, 256);
    label(p, NAMED(透明标签_申请提示), {8, 50, 248, 202}, "")->setWordWrap(true);
    link(p, NAMED(超级链接框_返回注册), {48, 216, 48, 16}, "返回注册", qRgb(0, 0, 255),
         qRgb(128, 0, 0), qRgb(0, 0, 255));
    link(p, NAMED(超级链接框_返回登录), {152, 216, 48, 16}, "返回登录", qRgb(0, 0, 255),
         qRgb(0, 0, 255), qRgb(0, 0, 255));
    place(new QWidget(p), NAMED(超文本浏览框4), {-37, 240, 360, 176});
    separator(p, NAMED(分隔条5), 8, 264, 256);
    超级链接框_返回注册->raise();
    超级链接框_返回登录->raise();
}

// Accessible names. Buttons, check boxes and links are named by their own
// text, which Qt follows when an operation changes it; the inputs take their
// label's text, and the few without a label a name of their own.
void MainWindow::nameForScreenReaders()
{
    installAccessibleFactories();
    labelInput(透明标签1, 编辑框_用户名_登录);
    编辑框_用户名_登录->setAccessibleName(QStringLiteral("登录域名"));
    组合框1->setAccessibleName(QStringLiteral("域名后缀"));
    labelInput(透明标签3, 编辑框_密码_登录);

    labelInput(透明标签4, 编辑框_用户名_注册);
    组合框2->setAccessibleName(QStringLiteral("域名后缀"));
    labelInput(透明标签8, 编辑框_密码_注册);
    describeInput(透明标签35, 编辑框_密码_注册);
    labelInput(透明标签9, 编辑框_确认密码_注册);
    describeInput(透明标签38, 编辑框_确认密码_注册);
    labelInput(透明标签10, 编辑框_主页名称_注册);
    labelInput(透明标签11, 编辑框_转向地址_注册);
    describeInput(透明标签39, 编辑框_转向地址_注册);
    labelInput(透明标签12, 编辑框_邮箱_注册);
    labelInput(透明标签14, 编辑框_姓名_注册);
    describeInput(透明标签36, 编辑框_姓名_注册);
    labelInput(透明标签15, 编辑框_电话_注册);
    describeInput(透明标签37, 编辑框_电话_注册);
    labelInput(透明标签16, 编辑框_联系地址_注册);

    // The domain link keeps its address as its name; the label says what it is.
    透明标签19->setBuddy(超级链接框_域名地址);
    labelInput(透明标签20, 编辑框_用户密码_修改资料);
    describeInput(透明标签22, 编辑框_用户密码_修改资料);
    labelInput(透明标签21, 编辑框_主页名称_修改资料);
    labelInput(透明标签24, 编辑框_转向地址_修改资料);
    describeInput(透明标签33, 选择框2);
    labelInput(透明标签25, 编辑框_邮箱_修改资料);
    describeInput(透明标签30, 编辑框_邮箱_修改资料);
    labelInput(透明标签26, 编辑框_姓名_修改资料);
    describeInput(透明标签28, 编辑框_姓名_修改资料);
    labelInput(透明标签27, 编辑框_电话_修改资料);
    describeInput(透明标签29, 编辑框_电话_修改资料);
    labelInput(透明标签31, 编辑框_联系地址_修改资料);
    describeInput(透明标签32, 编辑框_联系地址_修改资料);
    列表框1->setAccessibleName(QStringLiteral("状态记录"));

    for (QWidget* box : {超文本浏览框1, 超文本浏览框2, 超文本浏览框3, 超文本浏览框4})
        box->setAccessibleName(QStringLiteral("广告"));
}

void MainWindow::startBrowserViews()
{
    if (!options_.browserViews || adViews_ != nullptr)
        return;
    // The views live in boxes made before it, so it outlives them.
    adViews_ = new AdViews(options_.adHost, this);
    adViews_->start(超文本浏览框1, QStringLiteral("/\\280.html"));
    adViews_->start(超文本浏览框3, QStringLiteral("/\\270x270.html"));
    adViews_->start(超文本浏览框2, QStringLiteral("/\\250x90.html"));
    adViews_->start(超文本浏览框4, QStringLiteral("/\\199.html"));
}

QWebEngineView* MainWindow::browserView(const QWidget* box)
{
    return AdViews::viewIn(box);
}

void MainWindow::chainTabOrder(Page page, std::initializer_list<QWidget*> order)
{
    QList<QWidget*>& chain = tabOrders_[static_cast<int>(page)];
    chain = QList<QWidget*>(order);
    for (qsizetype i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain[i - 1], chain[i]);
}

// Controls outside the Tab orders (buttons, the list, the tab bar) are
// still reached by a click, never by Tab.
void MainWindow::keepTabInTheOrders()
{
    for (QWidget* w : findChildren<QWidget*>()) {
        if (w->window() != this)
            continue;
        bool ordered = false;
        for (const QList<QWidget*>& chain : tabOrders_)
            ordered = ordered || chain.contains(w);
        if (!ordered)
            w->setFocusPolicy(Qt::FocusPolicy(w->focusPolicy() & ~Qt::TabFocus));
    }
}

bool MainWindow::focusNextPrevChild(bool next)
{
    const QList<QWidget*>& chain = tabOrders_[选择夹1->currentIndex()];
    const qsizetype n = chain.size();
    const qsizetype at = chain.indexOf(focusWidget());
    for (qsizetype step = 1; step <= n; ++step) {
        // From outside the order, Tab starts at its first control and
        // Shift+Tab at its last.
        const qsizetype from = at >= 0 ? at : next ? -1 : 0;
        QWidget* w = chain[((from + (next ? step : -step)) % n + n) % n];
        if (w->isEnabled() && w->isVisibleTo(this)) {
            w->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return true;
        }
    }
    return false;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == 分组框1 && event->type() == QEvent::EnabledChange && 分组框1->isEnabled() &&
        focusWidget() == nullptr && 选择夹1->currentIndex() == static_cast<int>(Page::Login))
        编辑框_用户名_登录->setFocus(Qt::OtherFocusReason);
    return QWidget::eventFilter(watched, event);
}

} // namespace qiv
