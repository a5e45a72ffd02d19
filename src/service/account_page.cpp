#include "service/account_page.h"

#include "service/background.h"
#include "service/controls.h"
#include "service/program_state.h"
#include "ui/main_window.h"

#include <QPointer>

namespace qiv {

void fillAccountPage(MainWindow& window, ProgramState& state, std::string_view page)
{
    fillAccountPage(window, state, cutAccountPage(page));
}

void fillAccountPage(MainWindow& window, ProgramState& state, const AccountPage& cut)
{
    MainWindow& w = window;
    QString suffix = w.组合框1->currentIndex() < 0 ? QString() : w.组合框1->currentText();
    w.超级链接框_域名地址->setLinkAddress(QStringLiteral("http://") + w.编辑框_用户名_登录->text() +
                                          QChar('.') + suffix);
    w.编辑框_转向地址_注册->setText(fromGbk(state.lastPublicIp.get()));

    AccountSnapshot& snapshot = state.accountSnapshot;
    snapshot = cut.values;
    w.编辑框_主页名称_修改资料->setText(fromGbk(snapshot.Title));
    w.编辑框_转向地址_修改资料->setText(fromGbk(snapshot.SendUrl));
    w.选择框2->setChecked(cut.state != "1");
    w.编辑框_邮箱_修改资料->setText(fromGbk(snapshot.EmailAdr));
    w.编辑框_姓名_修改资料->setText(fromGbk(snapshot.RegName));
    w.编辑框_电话_修改资料->setText(fromGbk(snapshot.LinkTel));
    w.编辑框_联系地址_修改资料->setText(fromGbk(snapshot.Address));

    QPointer<MainWindow> guard(&window);
    fetchPublicIp(window, state);
    if (guard)
        showPage(window, Page::Account);
}

} // namespace qiv
