#include "service/delete.h"

#include "service/account_operation.h"
#include "service/gbk_reader.h"
#include "service/program_state.h"
#include "service/requests.h"
#include "service/status_log.h"
#include "text/verdicts.h"
#include "ui/main_window.h"

#include <QPointer>

namespace qiv {

namespace {

// The values of the last login or refresh, not the edited boxes.
Text deletionBody(const Text& userName, const Text& suffix, const AccountSnapshot& s)
{
    const Text del = gbk("删除"); // travels as the raw bytes C9 BE B3 FD
    return formBody({
        {"username", userName},
        {"domainname", suffix},
        {"psw", ""},
        {"Title", s.Title},
        {"SendUrl", s.SendUrl},
        {"EmailAdr", s.EmailAdr},
        {"RegName", s.RegName},
        {"LinkTel", s.LinkTel},
        {"Address", s.Address},
        {.key = "delinfo", .value = del, .raw = true},
    });
}

} // namespace

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

    Text reply = postToService(state, "modify_in.php",
                               deletionBody(userName, suffix, state.accountSnapshot));
    if (!guard)
        return;
    if (isDeletedReply(reply)) {
        logStatus(account, gbk("域名成功删除。"));
        window.loginPage()->setCaption(QStringLiteral("您已成功将域名删除"), QColor(0, 0, 255));
        showPage(window, Page::Login);
    } else {
        logStatus(account, gbk("域名删除失败...."));
    }
    account.setDeleting(false);
}

} // namespace qiv
