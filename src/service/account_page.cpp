#include "service/account_page.h"

#include "service/background.h"
#include "service/controls.h"
#include "ui/main_window.h"

#include <QPointer>

namespace qiv {
namespace {

const char kValueStart[] = "value=\"";

Text cell(std::string_view section, const char* startUtf8, const char* endUtf8)
{
    Text row = textBetween(section, gbk(startUtf8), gbk(endUtf8));
    return textBetween(row, kValueStart, "\"");
}

} // namespace

AccountSnapshot& accountSnapshot()
{
    static AccountSnapshot snapshot;
    return snapshot;
}

AccountPage cutAccountPage(std::string_view page)
{
    const Text start = gbk("<b><br>修改资料");
    // One leading ASCII space and a lower-case "url".
    const Text end = gbk(" 隐藏真实url后地址栏将一直显示您的域名");
    AccountPage result;
    Text section = textBetween(page, start, end);
    size_t at = page.find(start);
    result.hasSection =
        at != std::string_view::npos && page.find(end, at + start.size()) != std::string_view::npos;
    AccountSnapshot& v = result.values;
    v.Title = cell(section, ">主页名称:</td>", "name=");
    v.SendUrl = cell(section, ">转向地址:</td>", "name=");
    result.state = textBetween(section, "name=\"State\" value=\"", gbk("\">是否隐藏真实URL？"));
    v.EmailAdr = cell(section, ">站长EMAIL:</td>", "name=");
    v.RegName = cell(section, ">注册人姓名:</td>", "readonly");
    v.LinkTel = cell(section, ">联系电话:</td>", "必填，包括区号");
    v.Address = cell(section, ">联系地址:</td>", "Address");
    return result;
}

void fillAccountPage(MainWindow& window, std::string_view page)
{
    MainWindow& w = window;
    QString suffix = w.组合框1->currentIndex() < 0 ? QString() : w.组合框1->currentText();
    w.超级链接框_域名地址->setLinkAddress(QStringLiteral("http://") +
                                          w.编辑框_用户名_登录->text() + QChar('.') + suffix);
    w.编辑框_转向地址_注册->setText(fromGbk(lastPublicIp()));

    AccountPage cut = cutAccountPage(page);
    AccountSnapshot& snapshot = accountSnapshot();
    snapshot = cut.values;
    w.编辑框_主页名称_修改资料->setText(fromGbk(snapshot.Title));
    w.编辑框_转向地址_修改资料->setText(fromGbk(snapshot.SendUrl));
    w.选择框2->setChecked(cut.state != "1");
    w.编辑框_邮箱_修改资料->setText(fromGbk(snapshot.EmailAdr));
    w.编辑框_姓名_修改资料->setText(fromGbk(snapshot.RegName));
    w.编辑框_电话_修改资料->setText(fromGbk(snapshot.LinkTel));
    w.编辑框_联系地址_修改资料->setText(fromGbk(snapshot.Address));

    QPointer<MainWindow> guard(&window);
    fetchPublicIp(window);
    if (guard)
        showPage(window, 3);
}

} // namespace qiv
