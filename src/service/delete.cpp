#include "service/delete.h"

#include "service/account_operation.h"
#include "service/gbk_reader.h"
#include "service/program_state.h"
#include "service/status_log.h"
#include "ui/main_window.h"

#include <QPointer>

namespace qiv {

void deleteDomain(MainWindow& window, ProgramState& state)
{
    AccountTab& account = *window.accountPage();
    AccountOperation operation(window, state);
    if (!operation.started())
        return;
    const LoginForm login = window.loginPage()->form();
    GbkReader read;
    Text suffix = read.choice(login.suffix);
    Text userName = read(login.name);
    if (read.refused(window))
        return;
    QPointer<MainWindow> guard(&window);
    account.setDeleting(true);
    operation.holdLoginForm();
    logStatus(account, gbk("正在提交删除域名信息..."));

    // The values of the last login or refresh, not the edited boxes.
    const bool deleted =
        client::deleteDomain(serviceConnection(state), userName, suffix, state.accountSnapshot);
    if (!guard)
        return;
    if (deleted) {
        logStatus(account, gbk("域名成功删除。"));
        window.loginPage()->setCaption(QStringLiteral("您已成功将域名删除"), QColor(0, 0, 255));
        showPage(window, Page::Login);
    } else {
        logStatus(account, gbk("域名删除失败...."));
    }
    account.setDeleting(false);
}

} // namespace qiv
