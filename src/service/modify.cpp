#include "service/modify.h"

#include "service/account_page.h"
#include "service/controls.h"
#include "service/login.h"
#include "service/program_state.h"
#include "service/status_log.h"
#include "ui/main_window.h"

#include <QPointer>

namespace qiv {

namespace {

// The refresh itself; the caller holds the account operation.
void refreshHeld(MainWindow& window, ProgramState& state)
{
    MainWindow& w = window;
    GbkReader read;
    Text suffix = read.combo(w.组合框1);
    Text userName = read(w.编辑框_用户名_登录->text());
    Text password = read(w.编辑框_密码_登录->text());
    if (read.refused(window))
        return;
    QPointer<MainWindow> guard(&window);
    w.按钮_刷新资料->setEnabled(false);
    logStatus(w.列表框1, gbk("正在刷新域名信息..."));
    Text reply = postToService(state, "login.php", loginBody(userName, suffix, password));
    if (!guard)
        return;
    // A reply without the account (a time-out, an error page, a wrong
    // password) must not wipe the account page: a following modify or delete
    // would send the empty values.
    if (AccountPage cut = cutAccountPage(reply); cut.hasSection) {
        fillAccountPage(window, state, cut);
        if (!guard)
            return;
        w.编辑框_用户密码_修改资料->clear();
        logStatus(w.列表框1, gbk("刷新域名信息完成。"));
    } else {
        logStatus(w.列表框1, gbk("刷新域名信息失败,请稍后重试"));
    }
    w.按钮_刷新资料->setEnabled(true);
}

} // namespace

void modifyAccount(MainWindow& window, ProgramState& state)
{
    MainWindow& w = window;
    AccountOperation operation(window);
    if (!operation.started())
        return;
    GbkReader read;
    Text suffix = read.combo(w.组合框1);
    Text userName = read(w.编辑框_用户名_登录->text());
    Text password = read(w.编辑框_用户密码_修改资料->text());
    // A value the user left as the service gave it goes back byte for byte.
    const AccountSnapshot& s = state.accountSnapshot;
    Text title = read.box(w.编辑框_主页名称_修改资料, s.Title);
    Text sendUrl = read.box(w.编辑框_转向地址_修改资料, s.SendUrl);
    Text email = read.box(w.编辑框_邮箱_修改资料, s.EmailAdr);
    Text regName = read.box(w.编辑框_姓名_修改资料, s.RegName);
    Text linkTel = read.box(w.编辑框_电话_修改资料, s.LinkTel);
    Text address = read.box(w.编辑框_联系地址_修改资料, s.Address);
    if (read.refused(window))
        return;
    QPointer<MainWindow> guard(&window);
    w.按钮_修改资料->setEnabled(false);
    operation.holdLoginForm();
    submitAccountChanges(window, state, userName, suffix, password, title, sendUrl, email, regName,
                         linkTel, address);
    if (guard)
        w.按钮_修改资料->setEnabled(true);
}

void submitAccountChanges(MainWindow& window, ProgramState& state, const Text& userName,
                          const Text& suffix, const Text& password, const Text& title,
                          const Text& sendUrl, const Text& email, const Text& regName,
                          const Text& linkTel, const Text& address)
{
    MainWindow& w = window;
    logStatus(w.列表框1, gbk("正在提交修改信息......"));
    Text body = formBody({
        {"username", userName},
        {"domainname", suffix},
        {"psw", password},
        {"Title", title},
        {"SendUrl", sendUrl},
        {.key = "State", .value = "1", .raw = true, .present = w.选择框2->isChecked()},
        {"EmailAdr", email},
        {"RegName", regName},
        {"LinkTel", linkTel},
        {"Address", address},
    });
    QPointer<MainWindow> guard(&window);
    Text reply = postToService(state, "modify_in.php", body);
    if (!guard)
        return;
    if (textFind(reply, gbk("您的资料修改成功")) != -1) {
        logStatus(w.列表框1, gbk("您的资料修改成功!"));
        refreshHeld(window, state);
        return;
    }
    Text alert = cutModifyAlert(reply);
    logStatus(w.列表框1, alert);
    showMessage(window, QMessageBox::Warning, fromGbk(alert));
}

void refreshAccount(MainWindow& window, ProgramState& state)
{
    AccountOperation operation(window);
    if (!operation.started())
        return;
    operation.holdLoginForm();
    refreshHeld(window, state);
}

} // namespace qiv
