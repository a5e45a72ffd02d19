#include "ui/pages/account.h"

#include "ui/accessibility.h"
#include "ui/pages/builder.h"

namespace qiv {

// Controls are made top to bottom, in the order they lie over each other.
AccountTab::AccountTab(QStyle* passwordStyle)
{
    setWhiteBackground(this);
    setupForm(passwordStyle);
    setupContact();
    setupButtonsAndLog();
    tabOrder_ =
        chainTabOrder({编辑框_用户密码_修改资料, 编辑框_主页名称_修改资料, 编辑框_转向地址_修改资料,
                       选择框2, 编辑框_邮箱_修改资料, 编辑框_姓名_修改资料, 编辑框_电话_修改资料,
                       编辑框_联系地址_修改资料, 按钮_修改资料});
    nameForScreenReaders();
}

// The heading, the domain link, the password, the title, the target and
// the hide box.
void AccountTab::setupForm(QStyle* passwordStyle)
{
    QWidget* p = this;
    styledLabel(p, NAMED(透明标签18), {24, 3, 224, 24}, "修改资料", faceFont("微软雅黑", 16, false),
                QColor(0, 0, 255))
        ->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    separator(p, NAMED(分隔条6), 8, 26, 256);
    link(p, NAMED(超级链接框_域名地址), {64, 32, 200, 16}, "", qRgb(0, 0, 0), qRgb(0, 96, 192),
         qRgb(51, 94, 168))
        ->setLinkAddress(QStringLiteral("http://"));
    label(p, NAMED(透明标签19), {8, 33, 56, 16}, "您的域名:");
    QLineEdit* password =
        passwordEdit(p, passwordStyle, NAMED(编辑框_用户密码_修改资料), {64, 56, 96, 20});
    password->setMaxLength(12);
    setBase(password, QColor(236, 236, 236));
    label(p, NAMED(透明标签22), {160, 56, 80, 24}, "不修改请留空!");
    label(p, NAMED(透明标签20), {8, 60, 56, 16}, "用户密码:");
    edit(p, NAMED(编辑框_主页名称_修改资料), {64, 80, 160, 20});
    label(p, NAMED(透明标签21), {8, 85, 56, 16}, "主页名称:");
    edit(p, NAMED(编辑框_转向地址_修改资料), {64, 104, 160, 20});
    label(p, NAMED(透明标签24), {8, 109, 56, 16}, "转向地址:");
    checkBox(p, NAMED(选择框2), {64, 125, 128, 16}, "是否隐藏真实URL？");
}

// The e-mail, the registrant (read-only), the telephone and the address.
void AccountTab::setupContact()
{
    QWidget* p = this;
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
}

void AccountTab::setupButtonsAndLog()
{
    QWidget* p = this;
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
}

void AccountTab::nameForScreenReaders()
{
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
}

void AccountTab::setDomainLink(const QString& address)
{
    超级链接框_域名地址->setLinkAddress(address);
}

void AccountTab::setValues(const AccountTexts& v)
{
    编辑框_主页名称_修改资料->setText(v.title);
    编辑框_转向地址_修改资料->setText(v.sendUrl);
    编辑框_邮箱_修改资料->setText(v.email);
    编辑框_姓名_修改资料->setText(v.regName);
    编辑框_电话_修改资料->setText(v.linkTel);
    编辑框_联系地址_修改资料->setText(v.address);
}

AccountTexts AccountTab::values() const
{
    return {编辑框_主页名称_修改资料->text(), 编辑框_转向地址_修改资料->text(),
            编辑框_邮箱_修改资料->text(),     编辑框_姓名_修改资料->text(),
            编辑框_电话_修改资料->text(),     编辑框_联系地址_修改资料->text()};
}

void AccountTab::setHideBox(bool ticked)
{
    选择框2->setChecked(ticked);
}

bool AccountTab::hideBox() const
{
    return 选择框2->isChecked();
}

QString AccountTab::password() const
{
    return 编辑框_用户密码_修改资料->text();
}

void AccountTab::clearPassword()
{
    编辑框_用户密码_修改资料->clear();
}

void AccountTab::setPublicIpText(const QString& text)
{
    透明标签_公网IP->setText(text);
}

void AccountTab::appendLog(const QString& line)
{
    列表框1->addItem(line);
    列表框1->scrollToBottom();
}

void AccountTab::clearLog()
{
    列表框1->clear();
}

std::array<QPushButton*, 3> AccountTab::buttons() const
{
    return {按钮_修改资料, 按钮_刷新资料, 按钮_删除域名};
}

AccountTab::ButtonStates AccountTab::disableButtons()
{
    ButtonStates wereEnabled{};
    std::array<QPushButton*, 3> all = buttons();
    for (std::size_t i = 0; i < all.size(); ++i) {
        wereEnabled[i] = all[i]->isEnabled();
        all[i]->setEnabled(false);
    }
    return wereEnabled;
}

void AccountTab::enableButtons(const ButtonStates& wereEnabled)
{
    std::array<QPushButton*, 3> all = buttons();
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (wereEnabled[i])
            all[i]->setEnabled(true);
    }
}

void AccountTab::setModifyEnabled(bool enabled)
{
    按钮_修改资料->setEnabled(enabled);
}

void AccountTab::setRefreshEnabled(bool enabled)
{
    按钮_刷新资料->setEnabled(enabled);
}

void AccountTab::setDeleting(bool deleting)
{
    按钮_删除域名->setEnabled(!deleting);
    按钮_删除域名->setText(deleting ? QStringLiteral("正在删除") : QStringLiteral("删除此域名"));
}

} // namespace qiv
