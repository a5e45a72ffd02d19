#include "service/login.h"

#include "service/account_page.h"
#include "service/controls.h"
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

Text loginBody(const Text& name, const Text& suffix, const Text& password)
{
    return formBody({{"username", name},
                     {"domainname", suffix},
                     {"password", password},
                     {.key = "Submit.x", .value = "86", .raw = true},
                     {.key = "Submit.y", .value = "24", .raw = true}});
}

void logIn(MainWindow& window, ProgramState& state)
{
    MainWindow& w = window;
    // The tab headers stay usable on the progress page: the login group can
    // be reached while this login waits.
    AccountOperation operation(window);
    if (!operation.started())
        return;
    GbkReader read;
    Text name = read(w.编辑框_用户名_登录->text());
    Text password = read(w.编辑框_密码_登录->text());
    Text suffix = read.combo(w.组合框1);
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

    Text reply = postToService(state, "login.php", loginBody(name, suffix, password));
    if (!guard)
        return;

    if (textFind(reply, gbk("您输入的密码错误")) != -1) {
        w.分组框1->setTitle(QStringLiteral("密码错误或此域名未注册"));
        w.分组框1->setCaptionColour(QColor(255, 0, 0));
        showPage(window, Page::Login);
        return;
    }
    // Only a reply that holds the account is a login; a time-out, a dead
    // network or an error page must not show an empty account.
    AccountPage cut = cutAccountPage(reply);
    if (!cut.hasSection) {
        w.分组框1->setTitle(QStringLiteral("登录失败,请检查网络后重试"));
        w.分组框1->setCaptionColour(QColor(255, 0, 0));
        showPage(window, Page::Login);
        return;
    }
    fillAccountPage(window, state, cut);
    if (!guard)
        return;
    clearStatusLog(w.列表框1);
    logStatus(w.列表框1, gbk("欢迎登录,免费域名转发系统"));
    logStatus(w.列表框1, gbk("本管理系统由岚栖开发"));
    logStatus(w.列表框1, gbk("只为快捷使用,请勿用于非法用途"));
}

} // namespace qiv
