#include "service/modify.h"

#include "service/account_operation.h"
#include "service/account_page.h"
#include "service/gbk_reader.h"
#include "service/program_state.h"
#include "service/status_log.h"
#include "ui/main_window.h"

#include <QPointer>

namespace qiv {

namespace {

// The refresh itself; the caller holds the account operation.
void refreshHeld(MainWindow& window, ProgramState& state)
{
    AccountTab& account = *window.accountPage();
    const LoginForm login = window.loginPage()->form();
    GbkReader read;
    Text suffix = read.choice(login.suffix);
    Text userName = read(login.name);
    Text password = read(login.password);
    if (read.refused(window))
        return;
    QPointer<MainWindow> guard(&window);
    account.setRefreshEnabled(false);
    logStatus(account, gbk("正在刷新域名信息..."));
    const client::Login reply = client::logIn(
        serviceConnection(state), {.name = userName, .suffix = suffix, .password = password});
    if (!guard)
        return;
    // A reply without the account (a time-out, an error page, a wrong
    // password) must not wipe the account page: a following modify or delete
    // would send the empty values.
    if (reply.outcome == client::LoginOutcome::Account) {
        fillAccountPage(window, state, reply.page);
        if (!guard)
            return;
        account.clearPassword();
        logStatus(account, gbk("刷新域名信息完成。"));
    } else {
        logStatus(account, gbk("刷新域名信息失败,请稍后重试"));
    }
    account.setRefreshEnabled(true);
}

} // namespace

void modifyAccount(MainWindow& window, ProgramState& state)
{
    AccountTab& account = *window.accountPage();
    AccountOperation operation(window, state);
    if (!operation.started())
        return;
    const LoginForm login = window.loginPage()->form();
    const AccountTexts shown = account.values();
    GbkReader read;
    AccountChange change;
    change.suffix = read.choice(login.suffix);
    change.name = read(login.name);
    change.password = read(account.password());
    // A value the user left as the service gave it goes back byte for byte.
    const AccountSnapshot& s = state.accountSnapshot;
    change.values = {read.box(shown.title, s.Title),     read.box(shown.sendUrl, s.SendUrl),
                     read.box(shown.email, s.EmailAdr),  read.box(shown.regName, s.RegName),
                     read.box(shown.linkTel, s.LinkTel), read.box(shown.address, s.Address)};
    if (read.refused(window))
        return;
    QPointer<MainWindow> guard(&window);
    account.setModifyEnabled(false);
    operation.holdLoginForm();
    submitAccountChanges(window, state, std::move(change));
    if (guard)
        account.setModifyEnabled(true);
}

void submitAccountChanges(MainWindow& window, ProgramState& state, AccountChange change)
{
    AccountTab& account = *window.accountPage();
    logStatus(account, gbk("正在提交修改信息......"));
    change.hide = account.hideBox();
    QPointer<MainWindow> guard(&window);
    const client::Modification reply = client::modify(serviceConnection(state), change);
    if (!guard)
        return;
    if (reply.outcome == client::ModifyOutcome::Accepted) {
        logStatus(account, gbk("您的资料修改成功!"));
        refreshHeld(window, state);
        return;
    }
    logStatus(account, reply.alert);
    showMessage(window, QMessageBox::Warning, fromGbk(reply.alert));
}

void refreshAccount(MainWindow& window, ProgramState& state)
{
    AccountOperation operation(window, state);
    if (!operation.started())
        return;
    operation.holdLoginForm();
    refreshHeld(window, state);
}

} // namespace qiv
