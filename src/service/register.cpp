#include "service/register.h"

#include "service/controls.h"
#include "ui/main_window.h"

#include <QPointer>

namespace qiv {

void registerDomain(MainWindow& window, ProgramState& state)
{
    MainWindow& w = window;
    GbkReader read;
    Text body = formBody({
        {"username", read(w.编辑框_用户名_注册->text())},
        {"domainname", read.combo(w.组合框2)},
        {"Password", read(w.编辑框_密码_注册->text())},
        {"rePassword", read(w.编辑框_确认密码_注册->text())},
        {"Title", read(w.编辑框_主页名称_注册->text())},
        {"SendUrl", read(w.编辑框_转向地址_注册->text())},
        {.key = "State", .value = "1", .raw = true, .present = w.选择框_隐藏_注册->isChecked()},
        {"EmailAdr", read(w.编辑框_邮箱_注册->text())},
        {"RegName", read(w.编辑框_姓名_注册->text())},
        {"LinkTel", read(w.编辑框_电话_注册->text())},
        {"Address", read(w.编辑框_联系地址_注册->text())},
    });
    if (read.refused(window))
        return;

    QPointer<MainWindow> guard(&window);
    w.按钮_注册->setEnabled(false);
    Text reply = postToService(state, "reg.php", body);
    if (!guard)
        return;

    if (textFind(reply, gbk("您的域名已注册成功")) != -1) {
        // An account operation that waits now, and the next delete, take
        // the account from the login form: it is not rewritten under them.
        // The result text below still shows the new name and password.
        const bool carryOver = !AccountOperation::running();
        if (carryOver) {
            w.编辑框_用户名_登录->setText(w.编辑框_用户名_注册->text());
            w.组合框1->setCurrentIndex(w.组合框2->currentIndex());
        }
        // Read again after the reply: the text shows the form as it stands.
        QString suffix = w.组合框2->currentIndex() < 0 ? QString() : w.组合框2->currentText();
        w.透明标签_申请提示->setText(
            QStringLiteral("您的域名已注册成功：\r\n  http://") + w.编辑框_用户名_注册->text() +
            QChar('.') + suffix + QStringLiteral("\r\n您的转向地址是：\r\n  ") +
            w.编辑框_转向地址_注册->text() + QStringLiteral("\r\n您的密码：") +
            w.编辑框_密码_注册->text() + QStringLiteral("(请牢记)"));
        w.编辑框_电话_注册->clear();
        w.编辑框_姓名_注册->clear();
        w.编辑框_邮箱_注册->clear();
        w.编辑框_密码_注册->clear();
        w.编辑框_用户名_注册->clear();
        w.编辑框_联系地址_注册->clear();
        w.编辑框_转向地址_注册->clear();
        w.编辑框_主页名称_注册->clear();
        w.编辑框_确认密码_注册->clear();
        w.透明标签_检查域名->clear();
        if (carryOver)
            w.编辑框_密码_登录->clear();
        w.组合框2->setCurrentIndex(0);
        w.选择框_隐藏_注册->setChecked(false);
    } else {
        w.透明标签_申请提示->setText(fromGbk(registrationFailureMessage(reply)));
    }
    w.按钮_注册->setEnabled(true);
    showPage(window, Page::RegistrationResult);
}

} // namespace qiv
