#include "ui/pages/login.h"

#include "ui/accessibility.h"
#include "ui/pages/builder.h"

namespace qiv {

LoginTab::LoginTab(QStyle* passwordStyle)
{
    setWhiteBackground(this);
    label(this, NAMED(透明标签_申请个数), {56, 24, 152, 24}, "用户统计拉取中.....")
        ->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    place(new CaptionGroupBox(QStringLiteral("登 录"), this), NAMED(分组框1), {8, 76, 256, 96});
    setupGroup(passwordStyle);
    tabOrder_ = chainTabOrder({编辑框_用户名_登录, 组合框1, 编辑框_密码_登录});
    nameForScreenReaders();
}

// The first row reads "HTTP://" [name] "." [suffix], the second "密 码："
// [password], the third holds the three buttons.
void LoginTab::setupGroup(QStyle* passwordStyle)
{
    QWidget* g = 分组框1;
    edit(g, NAMED(编辑框_用户名_登录), {48, 16, 72, 20});
    label(g, NAMED(透明标签2), {120, 16, 8, 16}, ".");
    combo(g, NAMED(组合框1), {128, 16, 121, 20});
    label(g, NAMED(透明标签1), {8, 18, 40, 16}, "HTTP://");
    passwordEdit(g, passwordStyle, NAMED(编辑框_密码_登录), {48, 40, 128, 20});
    label(g, NAMED(透明标签3), {8, 44, 37, 16}, "密 码：");
    button(g, NAMED(按钮1), {8, 65, 64, 24}, "注册");
    button(g, NAMED(按钮_登录), {91, 65, 64, 24}, "登 录");
    button(g, NAMED(按钮_取消), {180, 65, 64, 24}, "退 出");
}

// Buttons are named by their own text; the name box reads as what it is,
// not as "HTTP//", and the suffix box has no label of its own.
void LoginTab::nameForScreenReaders()
{
    labelInput(透明标签1, 编辑框_用户名_登录);
    编辑框_用户名_登录->setAccessibleName(QStringLiteral("登录域名"));
    组合框1->setAccessibleName(QStringLiteral("域名后缀"));
    labelInput(透明标签3, 编辑框_密码_登录);
}

LoginForm LoginTab::form() const
{
    return {编辑框_用户名_登录->text(), selectedItem(组合框1), 编辑框_密码_登录->text()};
}

void LoginTab::setCaption(const QString& text, const QColor& colour)
{
    分组框1->setTitle(text);
    分组框1->setCaptionColour(colour);
}

void LoginTab::setCaption(const QString& text)
{
    分组框1->setTitle(text);
}

void LoginTab::setFormEnabled(bool enabled)
{
    分组框1->setEnabled(enabled);
}

void LoginTab::setGroupToolTip(const QString& text)
{
    // A tooltip that looks like markup is shown as markup: the host and file
    // names are the user's, so they are escaped.
    分组框1->setToolTip(text.isEmpty() ? QString()
                                       : QStringLiteral("<p style='white-space:pre'>") +
                                             text.toHtmlEscaped() + QStringLiteral("</p>"));
}

bool LoginTab::formEnabled() const
{
    return 分组框1->isEnabled();
}

void LoginTab::setUserCount(const QString& text)
{
    透明标签_申请个数->setText(text);
}

void LoginTab::addSuffixes(const QStringList& texts, const QList<QByteArray>& bytes)
{
    addServiceItems(组合框1, texts, bytes);
}

void LoginTab::selectFirstSuffix()
{
    组合框1->setCurrentIndex(0);
}

void LoginTab::takeAccount(const QString& name, int suffixIndex)
{
    编辑框_用户名_登录->setText(name);
    组合框1->setCurrentIndex(suffixIndex);
}

void LoginTab::clearPassword()
{
    编辑框_密码_登录->clear();
}

} // namespace qiv
