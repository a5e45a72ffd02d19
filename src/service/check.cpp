#include "service/check.h"

#include "net/timed_request.h"
#include "service/controls.h"
#include "service/program_state.h"
#include "ui/main_window.h"

#include <QPointer>

namespace qiv {

void checkAvailability(MainWindow& window, ProgramState& state)
{
    GbkReader read;
    Text name = read(window.编辑框_用户名_注册->text());
    if (read.refused(window))
        return;
    if (name.empty()) {
        showMessage(window, QMessageBox::Warning, QStringLiteral("请填写注册域名完整"));
        return;
    }
    // Counted in GBK bytes: one Chinese character is long enough.
    if (textLength(name) < 2) {
        showMessage(window, QMessageBox::Critical,
                    QStringLiteral("您申请的域名长度必须大于2个字符!"));
        return;
    }
    Text suffix = read.combo(window.组合框2);
    if (read.refused(window))
        return;

    QPointer<MainWindow> guard(&window);
    window.按钮_检查域名_注册->setEnabled(false);
    window.按钮_检查域名_注册->setText(QStringLiteral("查询中"));

    std::string url = serviceUrl(state, "regcheck.php?username=" + formEncode(name) +
                                            "&domainname=" + formEncode(suffix));
    Text reply = timedRequest(state.network, url);
    if (!guard)
        return;

    if (textFind(reply, gbk("该域名可以注册！")) != -1) {
        window.透明标签_检查域名->setText(QStringLiteral("该域名可以注册！"));
        window.透明标签_检查域名->setTextColour(QColor(0, 136, 255));
    } else {
        window.透明标签_检查域名->setText(QStringLiteral("对不起,该域名已被注册！"));
        window.透明标签_检查域名->setTextColour(QColor(255, 0, 0));
    }
    window.按钮_检查域名_注册->setEnabled(true);
    window.按钮_检查域名_注册->setText(QStringLiteral("检查域名"));
}

} // namespace qiv
