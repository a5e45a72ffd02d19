#include "service/delete.h"

#include "service/account_page.h"
#include "service/controls.h"
#include "service/program_state.h"
#include "service/status_log.h"
#include "ui/main_window.h"

#include <QPointer>

namespace qiv {

void deleteDomain(MainWindow& window, ProgramState& state)
{
    MainWindow& w = window;
    AccountOperation operation(window);
    if (!operation.started())
        return;
    GbkReader read;
    Text suffix = read.combo(w.组合框1);
    Text userName = read(w.编辑框_用户名_登录->text());
    if (read.refused(window))
        return;
    QPointer<MainWindow> guard(&window);
    w.按钮_删除域名->setEnabled(false);
    w.按钮_删除域名->setText(QStringLiteral("正在删除"));
    operation.holdLoginForm();
    logStatus(w.列表框1, gbk("正在提交删除域名信息..."));

    // The values of the last login or refresh, not the edited boxes.
    const AccountSnapshot& s = state.accountSnapshot;
    const Text del = gbk("删除"); // travels as the raw bytes C9 BE B3 FD
    Text body = formBody({
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
    Text reply = postToService(state, "modify_in.php", body);
    if (!guard)
        return;
    if (textFind(reply, "{MBuffer}") != -1) {
        logStatus(w.列表框1, gbk("域名成功删除。"));
        w.分组框1->setTitle(QStringLiteral("您已成功将域名删除"));
        w.分组框1->setCaptionColour(QColor(0, 0, 255));
        showPage(window, Page::Login);
    } else {
        logStatus(w.列表框1, gbk("域名删除失败...."));
    }
    w.按钮_删除域名->setEnabled(true);
    w.按钮_删除域名->setText(QStringLiteral("删除此域名"));
}

} // namespace qiv
