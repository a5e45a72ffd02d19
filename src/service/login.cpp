#include "service/login.h"

#include "service/account_operation.h"
#include "service/account_page.h"
#include "service/gbk_reader.h"
#include "service/program_state.h"
#include "service/status_log.h"
#include "ui/main_window.h"

#include <QPointer>

#include <ifaddrs.h>
#include <net/if.h>

namespace qiv {
bool isConnectedToNetwork()
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return true; // cannot tell: do not warn
    bool connected = false;
    for (ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
        if (it->ifa_addr == nullptr || (it->ifa_flags & IFF_LOOPBACK) != 0)
            continue;
        int family = it->ifa_addr->sa_family;
        if ((it->ifa_flags & IFF_UP) && (it->ifa_flags & IFF_RUNNING) &&
            (family == AF_INET || family == AF_INET6)) {
            connected = true;
            break;
        }
    }
    freeifaddrs(list);
    return connected;
}

void logIn(MainWindow& window, ProgramState& state)
{
    LoginTab& login = *window.loginPage();
    // The tab headers stay usable on the progress page: the login group can
    // be reached while this login waits.
    AccountOperation operation(window, state);
    if (!operation.started())
        return;
    const LoginForm form = login.form();
    GbkReader read;
    Text name = read(form.name);
    Text password = read(form.password);
    Text suffix = read.choice(form.suffix);
    if (read.refused(window))
        return;
    if (textTrim(name).empty() || password.empty()) {
        showMessage(window, QMessageBox::Warning, QStringLiteral("请填写完整用户名和密码"));
        return;
    }
    QPointer<MainWindow> guard(&window);
    if (!state.connectivityCheck()) {
        showMessage(window, QMessageBox::Warning, QStringLiteral("请连接互联网后登录"));
        if (!guard)
            return;
    }
    showPage(window, Page::LoginProgress);
    operation.holdLoginForm();

    const client::Login reply = client::logIn(
        serviceConnection(state), {.name = name, .suffix = suffix, .password = password});
    if (!guard)
        return;

    if (reply.outcome == client::LoginOutcome::Refused) {
        login.setCaption(QStringLiteral("密码错误或此域名未注册"), QColor(255, 0, 0));
        showPage(window, Page::Login);
        return;
    }
    // Only a reply that holds the account is a login; a time-out, a dead
    // network or an error page must not show an empty account.
    if (reply.outcome != client::LoginOutcome::Account) {
        login.setCaption(QStringLiteral("登录失败,请检查网络后重试"), QColor(255, 0, 0));
        showPage(window, Page::Login);
        return;
    }
    fillAccountPage(window, state, reply.page);
    if (!guard)
        return;
    AccountTab& account = *window.accountPage();
    clearStatusLog(account);
    logStatus(account, gbk("欢迎登录,免费域名转发系统"));
    logStatus(account, gbk("本管理系统由岚栖开发"));
    logStatus(account, gbk("只为快捷使用,请勿用于非法用途"));
}

} // namespace qiv
