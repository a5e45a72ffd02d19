#include "ui/pages/registration.h"

#include "ui/accessibility.h"
#include "ui/pages/builder.h"

#include <QRegularExpressionValidator>

namespace qiv {
namespace {
constexpr QColor kBlue(0, 0, 255);
} // namespace

// Controls are made top to bottom, in the order they lie over each other.
RegistrationTab::RegistrationTab(QStyle* passwordStyle)
{
    setWhiteBackground(this);
    setupDomain(passwordStyle);
    setupSite();
    setupRegistrant();
    tabOrder_ =
        chainTabOrder({编辑框_用户名_注册, 组合框2, 编辑框_密码_注册, 编辑框_确认密码_注册,
                       编辑框_主页名称_注册, 编辑框_转向地址_注册, 选择框_隐藏_注册,
                       编辑框_邮箱_注册, 编辑框_姓名_注册, 编辑框_电话_注册, 编辑框_联系地址_注册});
    nameForScreenReaders();
}

// The heading, the domain with its check, and the password twice.
void RegistrationTab::setupDomain(QStyle* passwordStyle)
{
    QWidget* p = this;
    const QFont bold12 = faceFont("宋体", 12, true);
    styledLabel(p, NAMED(透明标签5), {12, 2, 248, 24}, "注册域名", faceFont("宋体", 16, true),
                kBlue)
        ->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    separator(p, NAMED(分隔条3), 8, 25, 256);
    button(p, NAMED(按钮_检查域名_注册), {67, 31, 64, 20}, "检查域名");
    styledLabel(p, NAMED(透明标签4), {5, 34, 56, 16}, "申请域名:", bold12);
    label(p, NAMED(透明标签_检查域名), {136, 35, 136, 16}, "")->setTextColour(QColor(0, 136, 255));
    edit(p, NAMED(编辑框_用户名_注册), {56, 52, 76, 20});
    styledLabel(p, NAMED(透明标签7), {133, 52, 8, 20}, ".", bold12);
    combo(p, NAMED(组合框2), {140, 52, 121, 20});
    label(p, NAMED(透明标签6), {13, 55, 40, 16}, "http://");
    passwordEdit(p, passwordStyle, NAMED(编辑框_密码_注册), {68, 72, 92, 20})->setMaxLength(12);
    label(p, NAMED(透明标签35), {160, 72, 96, 24}, "可用6-12位,区分大小写,请牢记")
        ->setWordWrap(true);
    styledLabel(p, NAMED(透明标签8), {5, 76, 56, 16}, "用户密码:", bold12);
    passwordEdit(p, passwordStyle, NAMED(编辑框_确认密码_注册), {68, 93, 92, 20})->setMaxLength(12);
    styledLabel(p, NAMED(透明标签9), {5, 97, 56, 16}, "确认密码:", bold12);
    label(p, NAMED(透明标签38), {160, 97, 72, 16}, "重新输入密码");
}

// The page title, the forwarding address and the hide box.
void RegistrationTab::setupSite()
{
    QWidget* p = this;
    const QFont bold12 = faceFont("宋体", 12, true);
    edit(p, NAMED(编辑框_主页名称_注册), {68, 117, 190, 20});
    styledLabel(p, NAMED(透明标签10), {5, 121, 56, 16}, "主页名称:", bold12);
    edit(p, NAMED(编辑框_转向地址_注册), {68, 140, 189, 20});
    styledLabel(p, NAMED(透明标签11), {5, 144, 56, 16}, "转向地址:", bold12);
    checkBox(p, NAMED(选择框_隐藏_注册), {138, 161, 122, 16}, "是否隐藏真实URL？");
    label(p, NAMED(透明标签39), {0, 162, 136, 16}, "(域名转向地址,可为网址)");
    separator(p, NAMED(分隔条1), 8, 184, 256);
}

// The registrant's details and the two buttons.
void RegistrationTab::setupRegistrant()
{
    QWidget* p = this;
    const QFont bold12 = faceFont("宋体", 12, true);
    styledLabel(p, NAMED(透明标签13), {20, 184, 231, 24}, "请认真填写以下注册人信息(必填)",
                faceFont("宋体", 14, true), kBlue)
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
}

void RegistrationTab::nameForScreenReaders()
{
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
}

RegistrationForm RegistrationTab::form() const
{
    return {.name = 编辑框_用户名_注册->text(),
            .suffix = selectedItem(组合框2),
            .password = 编辑框_密码_注册->text(),
            .confirmation = 编辑框_确认密码_注册->text(),
            .title = 编辑框_主页名称_注册->text(),
            .target = 编辑框_转向地址_注册->text(),
            .hide = 选择框_隐藏_注册->isChecked(),
            .email = 编辑框_邮箱_注册->text(),
            .regName = 编辑框_姓名_注册->text(),
            .phone = 编辑框_电话_注册->text(),
            .address = 编辑框_联系地址_注册->text()};
}

void RegistrationTab::setChecking(bool checking)
{
    按钮_检查域名_注册->setEnabled(!checking);
    按钮_检查域名_注册->setText(checking ? QStringLiteral("查询中") : QStringLiteral("检查域名"));
}

void RegistrationTab::setAvailability(const QString& text, const QColor& colour)
{
    透明标签_检查域名->setText(text);
    透明标签_检查域名->setTextColour(colour);
}

void RegistrationTab::setSubmitEnabled(bool enabled)
{
    按钮_注册->setEnabled(enabled);
}

void RegistrationTab::clearForm()
{
    for (QLineEdit* box : {编辑框_电话_注册, 编辑框_姓名_注册, 编辑框_邮箱_注册, 编辑框_密码_注册,
                           编辑框_用户名_注册, 编辑框_联系地址_注册, 编辑框_转向地址_注册,
                           编辑框_主页名称_注册, 编辑框_确认密码_注册})
        box->clear();
    透明标签_检查域名->clear();
    组合框2->setCurrentIndex(0);
    选择框_隐藏_注册->setChecked(false);
}

void RegistrationTab::setTarget(const QString& text)
{
    编辑框_转向地址_注册->setText(text);
}

void RegistrationTab::addSuffixes(const QStringList& texts, const QList<QByteArray>& bytes)
{
    addServiceItems(组合框2, texts, bytes);
}

void RegistrationTab::selectFirstSuffix()
{
    组合框2->setCurrentIndex(0);
}

} // namespace qiv
